#pragma once

// The one place a document's edits become undoable. It sits in front of the
// document's undo manager and adds coalescing of a run of like edits into
// one step, named undo groups, and a place to park deleted objects so that
// they live as long as an undo step refers to them.
//
// An undoable setter follows one pattern throughout the document model:
// fetch the old value, register an undo whose operation is the setter itself
// and whose argument is the old value, store the new value, then post the
// setter's change notification. Undoing a setter therefore registers the
// redo through the same path.
//
// Threads: main thread only.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/UndoManager.h"
#include "platform/UndoTarget.h"
#include "platform/archive/Value.h"

namespace tollvane {

class Document;

class DocumentUndoController {
public:
    // The document owns this controller and the undo manager; neither is retained.
    DocumentUndoController(Document* document, UndoManager& undoManager);

    Document* document() const { return document_; }
    UndoManager& undoManager() const { return undoManager_; }

    bool undoEnabled() const;
    void setUndoEnabled(bool enabled);

    // Setting a name when none was set opens an undo group; clearing it closes
    // the group; setting a name while one is set only renames the group.
    const std::optional<std::string>& undoGroupName() const { return undoGroupName_; }
    void setUndoGroupName(std::optional<std::string> name);

    // For edits that arrive in runs (typing into a field, dragging a value):
    // the first registration of a run restores the value from before the run.
    void registerUndoWithTarget(const std::shared_ptr<UndoTarget>& target, const std::string& selector,
                                const Value& object, const std::string& actionName);
    // For single edits: always a step of its own.
    void registerDiscreteUndoWithTarget(const std::shared_ptr<UndoTarget>& target,
                                        const std::string& selector, const Value& object,
                                        const std::string& actionName);
    void endEditing() { editingInProgress_ = false; }
    bool editingInProgress() const { return editingInProgress_; }

    std::vector<Value>& deletedObjects() { return deletedObjects_; }
    const std::vector<Value>& deletedObjects() const { return deletedObjects_; }
    void addDeletedObject(const Value& object);
    // Takes an object out again when an undo puts it back; false when it was not parked.
    bool removeDeletedObject(const Value& object);

private:
    void nameRegisteredStep(const std::string& actionName);
    bool undoingOrRedoing() const { return undoManager_.isUndoing() || undoManager_.isRedoing(); }

    Document* document_;
    UndoManager& undoManager_;
    std::optional<std::string> undoGroupName_;
    bool editingInProgress_ = false;
    std::shared_ptr<UndoTarget> target_;
    std::string action_;
    Value object_;
    std::vector<Value> deletedObjects_;
};

}  // namespace tollvane
