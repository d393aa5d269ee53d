// Unsaved changes and autosaving: the undo stack's change token, the edited
// state across undo, redo and saves, where autosave copies go, what they
// hold, and the status message.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "DocumentTestSupport.h"
#include "document/Document.h"
#include "document/DocumentStatusDisplay.h"
#include "model/CueArrayController.h"
#include "platform/UndoManager.h"
#include "support/ScopedEnvironment.h"

namespace tollvane {
namespace {

namespace fs = std::filesystem;

class Counter : public UndoTarget, public std::enable_shared_from_this<Counter> {
public:
    explicit Counter(UndoManager& manager) : manager_(manager) {}
    void set(int64_t value) {
        manager_.registerUndoWithTarget(shared_from_this(), "set:", Value(value_));
        value_ = value;
    }
    void performUndoOperation(const std::string&, const Value& argument) override { set(argument.toInt64()); }
    int64_t value_ = 0;

private:
    UndoManager& manager_;
};

TEST(UndoManagerChangeToken, NamesTheStateTheStackStandsAt) {
    UndoManager manager;
    auto counter = std::make_shared<Counter>(manager);
    const uint64_t clean = manager.changeToken();
    counter->set(1);
    const uint64_t one = manager.changeToken();
    EXPECT_NE(one, clean);
    counter->set(2);
    const uint64_t two = manager.changeToken();
    EXPECT_NE(two, one);
    manager.undo();
    EXPECT_EQ(manager.changeToken(), one);
    manager.undo();
    EXPECT_EQ(manager.changeToken(), clean);
    manager.redo();
    EXPECT_EQ(manager.changeToken(), one);
    manager.redo();
    EXPECT_EQ(manager.changeToken(), two);

    // Undoing past a state and editing anew never comes back to that state's token.
    manager.undo();
    counter->set(3);
    EXPECT_NE(manager.changeToken(), two);
    EXPECT_NE(manager.changeToken(), one);

    // A group is one new state; open, it is none yet.
    const uint64_t beforeGroup = manager.changeToken();
    manager.beginUndoGrouping();
    counter->set(4);
    counter->set(5);
    EXPECT_EQ(manager.changeToken(), beforeGroup);
    manager.endUndoGrouping();
    EXPECT_NE(manager.changeToken(), beforeGroup);

    // Forgetting the steps is no change of the document.
    const uint64_t beforeRemoval = manager.changeToken();
    manager.removeAllActions();
    EXPECT_EQ(manager.changeToken(), beforeRemoval);
    counter->set(6);
    EXPECT_NE(manager.changeToken(), beforeRemoval);
    const uint64_t beforeTargetRemoval = manager.changeToken();
    manager.removeAllActionsWithTarget(counter.get());
    EXPECT_EQ(manager.changeToken(), beforeTargetRemoval);

    // Registration switched off changes nothing.
    manager.disableUndoRegistration();
    counter->set(7);
    manager.enableUndoRegistration();
    EXPECT_EQ(manager.changeToken(), beforeTargetRemoval);
}

class RecordingStatusDisplay : public DocumentStatusDisplay {
public:
    void showStatusMessage(const std::string& text, double seconds) override {
        texts.push_back(text);
        durations.push_back(seconds);
    }
    std::vector<std::string> texts;
    std::vector<double> durations;
};

class DocumentAutosaveTest : public testing::DocumentTestBase {
protected:
    void SetUp() override {
        DocumentTestBase::SetUp();
        document = Document::create();
        document->setStatusDisplay(&display);
    }
    void TearDown() override {
        document->setStatusDisplay(nullptr);
        DocumentTestBase::TearDown();
    }

    std::shared_ptr<Document> document;
    RecordingStatusDisplay display;
};

TEST_F(DocumentAutosaveTest, EditedFollowsUndoRedoAndSaves) {
    EXPECT_FALSE(document->isDocumentEdited());
    document->setCueSelectionMode(1);
    EXPECT_TRUE(document->isDocumentEdited());
    document->undoManager().undo();
    EXPECT_FALSE(document->isDocumentEdited());
    document->undoManager().redo();
    EXPECT_TRUE(document->isDocumentEdited());

    std::string error;
    ASSERT_TRUE(document->writeToFile(folder + "/doc.tollvane", &error)) << error;
    EXPECT_FALSE(document->isDocumentEdited());
    document->undoManager().undo();
    EXPECT_TRUE(document->isDocumentEdited());
    document->undoManager().redo();
    EXPECT_FALSE(document->isDocumentEdited());

    // Undoing past the save and making another edit is an edit, not the saved state.
    document->undoManager().undo();
    document->setReelSelectionMode(0);
    EXPECT_TRUE(document->isDocumentEdited());
}

TEST_F(DocumentAutosaveTest, AutosaveCopiesOfUntitledDocumentsGoToTheStateFolder) {
    const std::string path = document->autosavePath();
    EXPECT_EQ(fs::path(path).parent_path(), fs::path(testing::kTestConfigDir));
    EXPECT_NE(path.find(std::to_string(document->documentHandle())), std::string::npos);
    EXPECT_TRUE(path.ends_with(".autosave.tollvane"));
    EXPECT_NE(Document::create()->autosavePath(), path);

    ScopedEnvironment noConfig("TOLLVANE_CONFIG_DIR", nullptr);
    {
        ScopedEnvironment state("XDG_STATE_HOME", folder.c_str());
        EXPECT_EQ(fs::path(document->autosavePath()).parent_path(), fs::path(folder + "/tollvane"));
    }
    {
        ScopedEnvironment relative("XDG_STATE_HOME", "relative/state");
        ScopedEnvironment home("HOME", folder.c_str());
        EXPECT_EQ(fs::path(document->autosavePath()).parent_path(),
                  fs::path(folder + "/.local/state/tollvane"));
    }
}

TEST_F(DocumentAutosaveTest, AutosaveCopiesOfSavedDocumentsGoBesideThem) {
    document->setFilePath("/films/Storm Front.tollvane");
    EXPECT_EQ(document->autosavePath(), "/films/Storm Front.autosave.tollvane");
    document->setFilePath("/films/no-extension");
    EXPECT_EQ(document->autosavePath(), "/films/no-extension.autosave.tollvane");
}

TEST_F(DocumentAutosaveTest, AutosaveWritesChangesOnceAndSays) {
    EXPECT_TRUE(document->autosave());
    EXPECT_FALSE(fs::exists(document->autosavePath()));
    EXPECT_TRUE(display.texts.empty());

    document->setProjectFramerate(0);
    EXPECT_TRUE(document->hasUnautosavedChanges());
    std::string error;
    ASSERT_TRUE(document->autosave(&error)) << error;
    ASSERT_TRUE(fs::exists(document->autosavePath()));
    EXPECT_EQ(display.texts, std::vector<std::string>{"Autosaved"});
    EXPECT_EQ(display.durations, std::vector<double>{2.0});
    EXPECT_FALSE(document->hasUnautosavedChanges());
    EXPECT_TRUE(document->isDocumentEdited());
    // The copy is private to its owner.
    EXPECT_EQ(fs::status(document->autosavePath()).permissions() & fs::perms::others_read, fs::perms::none);

    auto restored = Document::documentWithContentsOfFile(document->autosavePath(), &error);
    ASSERT_TRUE(restored) << error;
    EXPECT_EQ(restored->projectFramerate(), 0);

    EXPECT_TRUE(document->autosave());
    EXPECT_EQ(display.texts.size(), 1u);
    fs::remove(document->autosavePath());
}

TEST_F(DocumentAutosaveTest, ASuccessfulSaveRemovesTheAutosaveCopies) {
    document->setCueSelectionMode(1);
    ASSERT_TRUE(document->autosave());
    const std::string untitledCopy = document->autosavePath();
    ASSERT_TRUE(fs::exists(untitledCopy));

    const std::string path = folder + "/Score.tollvane";
    std::string error;
    ASSERT_TRUE(document->writeToFile(path, &error)) << error;
    EXPECT_FALSE(fs::exists(untitledCopy));
    EXPECT_EQ(document->autosavePath(), folder + "/Score.autosave.tollvane");

    document->setCueSelectionMode(0);
    ASSERT_TRUE(document->autosave());
    EXPECT_TRUE(fs::exists(folder + "/Score.autosave.tollvane"));
    ASSERT_TRUE(document->writeToFile(path, &error)) << error;
    EXPECT_FALSE(fs::exists(folder + "/Score.autosave.tollvane"));
    EXPECT_TRUE(fs::exists(path));
}

TEST_F(DocumentAutosaveTest, AFailedAutosaveSaysWhyAndKeepsTheChangesPending) {
    document->setFilePath(folder + "/blocked/Score.tollvane");
    // A file where the folder should be.
    testing::writeFile(folder + "/blocked", Data{'x'});
    document->setCueSelectionMode(1);
    std::string error;
    EXPECT_FALSE(document->autosave(&error));
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(document->hasUnautosavedChanges());
    EXPECT_TRUE(display.texts.empty());
    EXPECT_TRUE(loggedLine("Couldn't autosave"));
}

}  // namespace
}  // namespace tollvane
