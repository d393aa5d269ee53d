#pragma once

// A stack of undo steps and a stack of redo steps.
//
// Each step is a group of actions (target, operation, argument) with an
// action name. A registration made while no group is open becomes a step of
// its own; registrations between beginUndoGrouping and the matching
// endUndoGrouping form one step, however deeply the groups nest. Undoing a
// step performs its actions in reverse order inside a new group on the redo
// stack, so that what the actions register there becomes the redo step (and
// redoing does the same towards the undo stack). A registration that is not
// part of an undo or redo clears the redo stack.
//
// Registration can be switched off and on; the switch nests.
//
// changeToken() names the state the undo stack stands at: each new step gets
// a token of its own, and undoing or redoing it keeps that token on the step
// moved to the other stack. A document remembers the token when it saves and
// is edited while the token differs, also when the user undoes past the save
// and then makes a different edit.
//
// Threads: main thread only.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/UndoTarget.h"
#include "platform/archive/Value.h"

namespace tollvane {

class UndoManager {
public:
    UndoManager();
    ~UndoManager();
    UndoManager(const UndoManager&) = delete;
    UndoManager& operator=(const UndoManager&) = delete;

    void registerUndoWithTarget(std::shared_ptr<UndoTarget> target, std::string operation, Value argument);

    // Names the open group, or the newest step when no group is open.
    void setActionName(std::string name);

    void beginUndoGrouping();
    void endUndoGrouping();
    int groupingLevel() const { return static_cast<int>(openGroups_.size()); }

    void undo();
    void redo();
    bool canUndo() const { return !undoStack_.empty(); }
    bool canRedo() const { return !redoStack_.empty(); }
    bool isUndoing() const { return undoing_; }
    bool isRedoing() const { return redoing_; }

    std::string undoActionName() const;
    std::string redoActionName() const;
    // "Undo" or "Undo <action name>", as a menu shows it; likewise for redo.
    std::string undoMenuItemTitle() const;
    std::string redoMenuItemTitle() const;

    void disableUndoRegistration();
    void enableUndoRegistration();
    bool isUndoRegistrationEnabled() const { return disabledCount_ == 0; }

    // The most steps kept on the undo stack; 0 keeps all.
    void setLevelsOfUndo(size_t levels);
    size_t levelsOfUndo() const { return levelsOfUndo_; }

    void removeAllActions();
    void removeAllActionsWithTarget(const UndoTarget* target);

    size_t undoStepCount() const { return undoStack_.size(); }
    // The token of the newest undo step; when there is none, the token the
    // stack stood at when its steps were last removed (0 at first).
    uint64_t changeToken() const { return undoStack_.empty() ? baseToken_ : undoStack_.back().token; }
    size_t redoStepCount() const { return redoStack_.size(); }

private:
    struct Action {
        std::shared_ptr<UndoTarget> target;
        std::string operation;
        Value argument;
    };
    struct Group {
        std::vector<Action> actions;
        std::string actionName;
        // 0 until the group becomes a step.
        uint64_t token = 0;
    };
    enum class Direction { Undo, Redo };

    std::vector<Group>& stackForRegistration();
    void pushStep(std::vector<Group>& stack, Group group);
    void perform(Direction direction);
    void trimToLevels();

    std::vector<Group> undoStack_;
    std::vector<Group> redoStack_;
    std::vector<Group> openGroups_;
    bool undoing_ = false;
    bool redoing_ = false;
    int disabledCount_ = 0;
    size_t levelsOfUndo_ = 0;
    uint64_t nextToken_ = 0;
    uint64_t baseToken_ = 0;
};

}  // namespace tollvane
