#include "platform/UndoManager.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace tollvane {
namespace {

// A value whose setter registers its own undo, as every model setter does.
class Field : public UndoTarget, public std::enable_shared_from_this<Field> {
public:
    explicit Field(UndoManager& manager) : manager_(manager) {}
    void setValue(int v, const std::string& name = "Set") {
        manager_.registerUndoWithTarget(shared_from_this(), "setValue:", Value(value_));
        if (!manager_.isUndoing() && !manager_.isRedoing()) manager_.setActionName(name);
        value_ = v;
    }
    void performUndoOperation(const std::string& operation, const Value& argument) override {
        ASSERT_EQ(operation, "setValue:");
        setValue(static_cast<int>(argument.toInt64()));
    }
    int value() const { return value_; }

private:
    UndoManager& manager_;
    int value_ = 0;
};

TEST(UndoManager, UndoAndRedoGoThroughTheSetter) {
    UndoManager manager;
    auto field = std::make_shared<Field>(manager);
    field->setValue(1, "First");
    field->setValue(2, "Second");
    EXPECT_EQ(manager.undoStepCount(), 2u);
    EXPECT_EQ(manager.undoMenuItemTitle(), "Undo Second");

    manager.undo();
    EXPECT_EQ(field->value(), 1);
    EXPECT_FALSE(manager.isUndoing());
    EXPECT_EQ(manager.redoMenuItemTitle(), "Redo Second");
    EXPECT_EQ(manager.undoMenuItemTitle(), "Undo First");

    manager.redo();
    EXPECT_EQ(field->value(), 2);
    EXPECT_EQ(manager.undoMenuItemTitle(), "Undo Second");
    EXPECT_FALSE(manager.canRedo());

    manager.undo();
    manager.undo();
    EXPECT_EQ(field->value(), 0);
    EXPECT_FALSE(manager.canUndo());
    EXPECT_EQ(manager.undoMenuItemTitle(), "Undo");
    manager.redo();
    manager.redo();
    EXPECT_EQ(field->value(), 2);
}

TEST(UndoManager, NewEditClearsRedoButRedoDoesNot) {
    UndoManager manager;
    auto field = std::make_shared<Field>(manager);
    field->setValue(1);
    field->setValue(2);
    manager.undo();
    manager.undo();
    manager.redo();
    EXPECT_TRUE(manager.canRedo()) << "redoing one step keeps the others";
    field->setValue(7);
    EXPECT_FALSE(manager.canRedo());
    manager.undo();
    EXPECT_EQ(field->value(), 1);
}

TEST(UndoManager, GroupsUndoAsOneStepWithTheOuterName) {
    UndoManager manager;
    auto a = std::make_shared<Field>(manager);
    auto b = std::make_shared<Field>(manager);
    manager.beginUndoGrouping();
    manager.setActionName("Import");
    a->setValue(1);
    manager.beginUndoGrouping();
    b->setValue(2);
    manager.endUndoGrouping();
    a->setValue(3);
    manager.endUndoGrouping();
    EXPECT_EQ(manager.undoStepCount(), 1u);
    manager.undo();
    EXPECT_EQ(a->value(), 0);
    EXPECT_EQ(b->value(), 0);
    EXPECT_EQ(manager.redoActionName(), "Set") << "the last name set inside the group wins";
    manager.redo();
    EXPECT_EQ(a->value(), 3);
    EXPECT_EQ(b->value(), 2);
    EXPECT_EQ(manager.undoStepCount(), 1u);
}

TEST(UndoManager, EmptyGroupsLeaveNoStepAndUndoClosesAnOpenGroup) {
    UndoManager manager;
    auto field = std::make_shared<Field>(manager);
    manager.beginUndoGrouping();
    manager.endUndoGrouping();
    EXPECT_FALSE(manager.canUndo());

    manager.beginUndoGrouping();
    field->setValue(5);
    manager.undo();
    EXPECT_EQ(field->value(), 0);
    EXPECT_EQ(manager.groupingLevel(), 0);
}

TEST(UndoManager, RegistrationSwitchedOffNests) {
    UndoManager manager;
    auto field = std::make_shared<Field>(manager);
    manager.disableUndoRegistration();
    manager.disableUndoRegistration();
    field->setValue(1);
    manager.enableUndoRegistration();
    EXPECT_FALSE(manager.isUndoRegistrationEnabled());
    field->setValue(2);
    manager.enableUndoRegistration();
    EXPECT_TRUE(manager.isUndoRegistrationEnabled());
    EXPECT_FALSE(manager.canUndo());
    manager.enableUndoRegistration();  // one too many: logged, still enabled
    EXPECT_TRUE(manager.isUndoRegistrationEnabled());
}

TEST(UndoManager, LevelsAndRemovalByTarget) {
    UndoManager manager;
    auto a = std::make_shared<Field>(manager);
    auto b = std::make_shared<Field>(manager);
    manager.setLevelsOfUndo(2);
    a->setValue(1);
    b->setValue(1);
    a->setValue(2);
    EXPECT_EQ(manager.undoStepCount(), 2u);
    manager.removeAllActionsWithTarget(a.get());
    EXPECT_EQ(manager.undoStepCount(), 1u);
    manager.undo();
    EXPECT_EQ(b->value(), 0);
    EXPECT_EQ(a->value(), 2);
}

}  // namespace
}  // namespace tollvane
