#include "document/DocumentUndoController.h"

#include <algorithm>

namespace tollvane {

DocumentUndoController::DocumentUndoController(Document* document, UndoManager& undoManager)
    : document_(document), undoManager_(undoManager) {}

bool DocumentUndoController::undoEnabled() const {
    return undoManager_.isUndoRegistrationEnabled();
}

void DocumentUndoController::setUndoEnabled(bool enabled) {
    if (enabled == undoEnabled()) return;
    if (enabled) {
        undoManager_.enableUndoRegistration();
    } else {
        undoManager_.disableUndoRegistration();
    }
}

void DocumentUndoController::setUndoGroupName(std::optional<std::string> name) {
    bool wasOpen = undoGroupName_.has_value();
    bool willBeOpen = name.has_value();
    undoGroupName_ = std::move(name);
    if (!wasOpen && willBeOpen) {
        undoManager_.beginUndoGrouping();
    } else if (wasOpen && !willBeOpen) {
        undoManager_.endUndoGrouping();
    }
}

void DocumentUndoController::nameRegisteredStep(const std::string& actionName) {
    // With registration off nothing was registered, and naming would rename
    // the user's last step.
    if (undoingOrRedoing() || !undoEnabled()) return;
    undoManager_.setActionName(undoGroupName_ ? *undoGroupName_ : actionName);
}

void DocumentUndoController::registerUndoWithTarget(const std::shared_ptr<UndoTarget>& target,
                                                    const std::string& selector, const Value& object,
                                                    const std::string& actionName) {
    if (undoingOrRedoing()) {
        // What an undo or redo registers is the counterpart step, never the
        // start of a run: a run opened here would swallow the user's next
        // edit of the same field, leaving it with no undo at all.
        editingInProgress_ = false;
        undoManager_.registerUndoWithTarget(target, selector, object);
        return;
    }
    if (editingInProgress_ && target == target_ && selector == action_) return;
    editingInProgress_ = true;
    undoManager_.registerUndoWithTarget(target, selector, object);
    nameRegisteredStep(actionName);
    target_ = target;
    object_ = object;
    action_ = selector;
}

void DocumentUndoController::registerDiscreteUndoWithTarget(const std::shared_ptr<UndoTarget>& target,
                                                            const std::string& selector, const Value& object,
                                                            const std::string& actionName) {
    editingInProgress_ = false;
    undoManager_.registerUndoWithTarget(target, selector, object);
    nameRegisteredStep(actionName);
    target_.reset();
    object_ = Value();
    action_.clear();
    editingInProgress_ = false;
}

void DocumentUndoController::addDeletedObject(const Value& object) {
    deletedObjects_.push_back(object);
}

bool DocumentUndoController::removeDeletedObject(const Value& object) {
    auto found = std::find(deletedObjects_.begin(), deletedObjects_.end(), object);
    if (found == deletedObjects_.end()) return false;
    deletedObjects_.erase(found);
    return true;
}

}  // namespace tollvane
