#include "platform/UndoManager.h"

#include <algorithm>
#include <utility>

#include "platform/Log.h"

namespace tollvane {

UndoManager::UndoManager() = default;
UndoManager::~UndoManager() = default;

std::vector<UndoManager::Group>& UndoManager::stackForRegistration() {
    return undoing_ ? redoStack_ : undoStack_;
}

void UndoManager::pushStep(std::vector<Group>& stack, Group group) {
    // An empty group undoes nothing; keeping it would make "Undo" do nothing.
    if (group.actions.empty()) return;
    if (group.token == 0) group.token = ++nextToken_;
    stack.push_back(std::move(group));
    if (&stack == &undoStack_) trimToLevels();
}

void UndoManager::registerUndoWithTarget(std::shared_ptr<UndoTarget> target, std::string operation,
                                         Value argument) {
    if (!isUndoRegistrationEnabled() || !target) return;
    Action action{std::move(target), std::move(operation), std::move(argument)};
    if (!undoing_ && !redoing_) redoStack_.clear();
    if (!openGroups_.empty()) {
        openGroups_.back().actions.push_back(std::move(action));
        return;
    }
    Group step;
    step.actions.push_back(std::move(action));
    pushStep(stackForRegistration(), std::move(step));
}

void UndoManager::setActionName(std::string name) {
    if (!openGroups_.empty()) {
        openGroups_.front().actionName = std::move(name);
        return;
    }
    std::vector<Group>& stack = stackForRegistration();
    if (!stack.empty()) stack.back().actionName = std::move(name);
}

void UndoManager::beginUndoGrouping() {
    openGroups_.emplace_back();
}

void UndoManager::endUndoGrouping() {
    if (openGroups_.empty()) {
        TLLog("endUndoGrouping called with no open undo group.");
        return;
    }
    Group group = std::move(openGroups_.back());
    openGroups_.pop_back();
    if (!openGroups_.empty()) {
        // A nested group folds into its parent and undoes with it.
        Group& parent = openGroups_.back();
        std::move(group.actions.begin(), group.actions.end(), std::back_inserter(parent.actions));
        if (parent.actionName.empty()) parent.actionName = std::move(group.actionName);
        return;
    }
    pushStep(stackForRegistration(), std::move(group));
}

void UndoManager::perform(Direction direction) {
    // Undo with a group still open closes it first, so the group is what gets undone.
    while (!openGroups_.empty()) endUndoGrouping();
    std::vector<Group>& source = direction == Direction::Undo ? undoStack_ : redoStack_;
    if (source.empty()) return;
    Group step = std::move(source.back());
    source.pop_back();

    bool& flag = direction == Direction::Undo ? undoing_ : redoing_;
    flag = true;
    // A target that throws must not leave the manager stuck undoing.
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{flag};
    beginUndoGrouping();
    openGroups_.front().actionName = step.actionName;
    // The counterpart stands for the same state of the document.
    openGroups_.front().token = step.token;
    for (auto it = step.actions.rbegin(); it != step.actions.rend(); ++it) {
        it->target->performUndoOperation(it->operation, it->argument);
    }
    // The counterpart group keeps the name of the step it reverses.
    if (!openGroups_.empty()) {
        openGroups_.front().actionName = step.actionName;
        openGroups_.front().token = step.token;
    }
    while (!openGroups_.empty()) endUndoGrouping();
}

void UndoManager::undo() {
    perform(Direction::Undo);
}

void UndoManager::redo() {
    perform(Direction::Redo);
}

std::string UndoManager::undoActionName() const {
    return undoStack_.empty() ? std::string() : undoStack_.back().actionName;
}

std::string UndoManager::redoActionName() const {
    return redoStack_.empty() ? std::string() : redoStack_.back().actionName;
}

std::string UndoManager::undoMenuItemTitle() const {
    std::string name = undoActionName();
    return name.empty() ? "Undo" : "Undo " + name;
}

std::string UndoManager::redoMenuItemTitle() const {
    std::string name = redoActionName();
    return name.empty() ? "Redo" : "Redo " + name;
}

void UndoManager::disableUndoRegistration() {
    ++disabledCount_;
}

void UndoManager::enableUndoRegistration() {
    if (disabledCount_ == 0) {
        TLLog("enableUndoRegistration called while undo registration is enabled.");
        return;
    }
    --disabledCount_;
}

void UndoManager::setLevelsOfUndo(size_t levels) {
    levelsOfUndo_ = levels;
    trimToLevels();
}

void UndoManager::trimToLevels() {
    if (levelsOfUndo_ == 0 || undoStack_.size() <= levelsOfUndo_) return;
    undoStack_.erase(undoStack_.begin(), undoStack_.end() - static_cast<std::ptrdiff_t>(levelsOfUndo_));
}

void UndoManager::removeAllActions() {
    baseToken_ = changeToken();
    undoStack_.clear();
    redoStack_.clear();
    openGroups_.clear();
}

void UndoManager::removeAllActionsWithTarget(const UndoTarget* target) {
    auto strip = [target](std::vector<Group>& groups) {
        for (Group& group : groups) {
            std::erase_if(group.actions, [target](const Action& a) { return a.target.get() == target; });
        }
    };
    const uint64_t tokenBefore = changeToken();
    strip(openGroups_);
    strip(undoStack_);
    strip(redoStack_);
    std::erase_if(undoStack_, [](const Group& g) { return g.actions.empty(); });
    std::erase_if(redoStack_, [](const Group& g) { return g.actions.empty(); });
    if (undoStack_.empty()) baseToken_ = tokenBefore;
}

}  // namespace tollvane
