#include "document/DocumentUndoController.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace tollvane {
namespace {

// A model object whose setters follow the document's undoable-setter pattern.
class Item : public UndoTarget, public std::enable_shared_from_this<Item> {
public:
    explicit Item(DocumentUndoController& undo) : undo_(undo) {}

    void setTitle(const std::string& title) {
        undo_.registerUndoWithTarget(shared_from_this(), "setTitle:", Value(title_), "Rename Item");
        title_ = title;
    }
    void setStart(int start) {
        undo_.registerUndoWithTarget(shared_from_this(), "setStart:", Value(start_), "Change Start");
        start_ = start;
    }
    void setMode(int mode) {
        undo_.registerDiscreteUndoWithTarget(shared_from_this(), "setMode:", Value(mode_), "Change Mode");
        mode_ = mode;
    }
    void performUndoOperation(const std::string& operation, const Value& argument) override {
        if (operation == "setTitle:") setTitle(argument.stringValue());
        if (operation == "setStart:") setStart(static_cast<int>(argument.toInt64()));
        if (operation == "setMode:") setMode(static_cast<int>(argument.toInt64()));
    }

    std::string title_ = "original";
    int start_ = 0;
    int mode_ = 0;

private:
    DocumentUndoController& undo_;
};

class DocumentUndoControllerTest : public ::testing::Test {
protected:
    UndoManager manager;
    DocumentUndoController undo{nullptr, manager};
    std::shared_ptr<Item> item = std::make_shared<Item>(undo);
    std::shared_ptr<Item> other = std::make_shared<Item>(undo);
};

TEST_F(DocumentUndoControllerTest, ARunOfLikeEditsIsOneStepRestoringTheValueBeforeIt) {
    item->setTitle("a");
    item->setTitle("ab");
    item->setTitle("abc");
    EXPECT_EQ(manager.undoStepCount(), 1u);
    EXPECT_EQ(manager.undoActionName(), "Rename Item");
    manager.undo();
    EXPECT_EQ(item->title_, "original");
    manager.redo();
    EXPECT_EQ(item->title_, "abc");
}

TEST_F(DocumentUndoControllerTest, AnotherTargetOperationOrEndEditingStartsANewStep) {
    item->setTitle("a");
    other->setTitle("b");
    EXPECT_EQ(manager.undoStepCount(), 2u);
    other->setStart(4);
    EXPECT_EQ(manager.undoStepCount(), 3u);
    undo.endEditing();
    other->setStart(5);
    EXPECT_EQ(manager.undoStepCount(), 4u);
    manager.undo();
    EXPECT_EQ(other->start_, 4);
}

TEST_F(DocumentUndoControllerTest, ADiscreteEditBreaksTheRun) {
    item->setTitle("a");
    item->setMode(2);
    item->setTitle("b");
    EXPECT_EQ(manager.undoStepCount(), 3u);
    EXPECT_TRUE(undo.editingInProgress());
    manager.undo();
    EXPECT_EQ(item->title_, "a");
    manager.undo();
    EXPECT_EQ(item->mode_, 0);
    EXPECT_EQ(manager.redoActionName(), "Change Mode");
}

TEST_F(DocumentUndoControllerTest, DiscreteEditsAreAlwaysSeparateSteps) {
    item->setMode(1);
    item->setMode(2);
    EXPECT_EQ(manager.undoStepCount(), 2u);
    EXPECT_FALSE(undo.editingInProgress());
}

TEST_F(DocumentUndoControllerTest, AGroupNamesEveryStepAndUndoesThemTogether) {
    undo.setUndoGroupName("Import SMF");
    item->setTitle("x");
    item->setMode(3);
    other->setStart(9);
    EXPECT_EQ(manager.groupingLevel(), 1);
    undo.setUndoGroupName("Import SMF, renamed");
    EXPECT_EQ(manager.groupingLevel(), 1) << "renaming does not open another group";
    other->setTitle("y");
    undo.setUndoGroupName(std::nullopt);
    EXPECT_EQ(manager.groupingLevel(), 0);
    EXPECT_EQ(manager.undoStepCount(), 1u);
    EXPECT_EQ(manager.undoActionName(), "Import SMF, renamed");
    manager.undo();
    EXPECT_EQ(item->title_, "original");
    EXPECT_EQ(item->mode_, 0);
    EXPECT_EQ(other->start_, 0);
    EXPECT_EQ(other->title_, "original");
    EXPECT_EQ(manager.redoActionName(), "Import SMF, renamed");
}

TEST_F(DocumentUndoControllerTest, NothingIsRegisteredWhileUndoIsSwitchedOff) {
    undo.setUndoEnabled(false);
    EXPECT_FALSE(undo.undoEnabled());
    item->setTitle("loaded");
    item->setMode(1);
    undo.setUndoEnabled(true);
    EXPECT_FALSE(manager.canUndo());
    item->setTitle("edited");
    EXPECT_TRUE(manager.canUndo());
    const std::string name = manager.undoActionName();
    // Nor does a change made with undo off rename the step before it.
    undo.setUndoEnabled(false);
    item->setMode(2);
    undo.setUndoEnabled(true);
    EXPECT_EQ(manager.undoActionName(), name);
}

TEST_F(DocumentUndoControllerTest, AnEditAfterUndoIsItsOwnStep) {
    // The step registered by an undo must not open a coalescing run that
    // would swallow the next edit of the same field.
    item->setTitle("a");
    manager.undo();
    item->setTitle("b");
    EXPECT_FALSE(manager.canRedo());
    ASSERT_TRUE(manager.canUndo());
    manager.undo();
    EXPECT_EQ(item->title_, "original");

    item->setTitle("c");
    manager.undo();
    manager.redo();
    item->setTitle("d");
    manager.undo();
    EXPECT_EQ(item->title_, "c");
}

TEST_F(DocumentUndoControllerTest, DeletedObjectsAreParkedAndTakenBack) {
    Value parked = Value::array({Value("a removed cue")});
    undo.addDeletedObject(parked);
    EXPECT_EQ(undo.deletedObjects().size(), 1u);
    EXPECT_TRUE(undo.removeDeletedObject(parked));
    EXPECT_FALSE(undo.removeDeletedObject(parked));
    EXPECT_TRUE(undo.deletedObjects().empty());
}

}  // namespace
}  // namespace tollvane
