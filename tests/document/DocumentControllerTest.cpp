// The document controller: which document is the front document and how a
// change is announced, autosaving on the run loop, and the prompt that offers
// autosaved work back.

#include "document/DocumentController.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "DocumentTestSupport.h"
#include "document/Document.h"
#include "platform/NotificationCenter.h"

namespace tollvane {
namespace {

namespace fs = std::filesystem;

class DocumentControllerTest : public testing::DocumentTestBase {
protected:
    void SetUp() override {
        DocumentTestBase::SetUp();
        listingToken_ = NotificationCenter::defaultCenter().addObserver(
            "TLSyncEventListingDidChangeNotification", [this](const Notification&) { ++listingChanges; });
        controller.addKeyObserver([this](std::string_view key) { frontChanges += key == "frontDocument"; });
    }
    void TearDown() override {
        NotificationCenter::defaultCenter().removeObserver(listingToken_);
        DocumentTestBase::TearDown();
    }

    void resetCounts() {
        listingChanges = 0;
        frontChanges = 0;
    }

    DocumentController controller;
    int listingChanges = 0;
    int frontChanges = 0;

private:
    NotificationCenter::ObserverToken listingToken_ = 0;
};

TEST_F(DocumentControllerTest, TheFrontDocumentRules) {
    EXPECT_EQ(controller.frontDocument(), nullptr);
    auto a = Document::create();
    auto b = Document::create();
    auto c = Document::create();

    controller.addDocument(a);
    EXPECT_EQ(controller.frontDocument(), a);
    controller.addDocument(b);
    controller.addDocument(a);
    EXPECT_EQ(controller.documents().size(), 2u);
    // No current document: the remembered one while it is open.
    EXPECT_EQ(controller.frontDocument(), a);

    controller.setCurrentDocument(b);
    EXPECT_EQ(controller.frontDocument(), b);
    // The current one leaves main: the remembered front stays.
    controller.setCurrentDocument(nullptr);
    EXPECT_EQ(controller.frontDocument(), b);

    // The remembered document closes: the first open document.
    controller.addDocument(c);
    controller.removeDocument(b);
    EXPECT_EQ(controller.frontDocument(), a);

    controller.setCurrentDocument(c);
    controller.removeDocument(c);
    EXPECT_EQ(controller.currentDocument(), nullptr);
    EXPECT_EQ(controller.frontDocument(), a);

    controller.removeDocument(a);
    EXPECT_TRUE(controller.documents().empty());
    EXPECT_EQ(controller.frontDocument(), nullptr);
}

TEST_F(DocumentControllerTest, AChangeOfFrontDocumentIsAnnouncedOnce) {
    auto a = Document::create();
    auto b = Document::create();
    controller.addDocument(a);
    EXPECT_EQ(frontChanges, 1);
    EXPECT_EQ(listingChanges, 1);

    resetCounts();
    controller.addDocument(b);
    controller.frontDocumentMayHaveChanged();
    controller.setCurrentDocument(a);
    EXPECT_EQ(frontChanges, 0);
    EXPECT_EQ(listingChanges, 0);

    controller.setCurrentDocument(b);
    EXPECT_EQ(frontChanges, 1);
    EXPECT_EQ(listingChanges, 1);

    resetCounts();
    controller.removeDocument(b);
    controller.removeDocument(a);
    EXPECT_EQ(frontChanges, 2);
    EXPECT_EQ(listingChanges, 2);
}

TEST_F(DocumentControllerTest, EditedDocumentsAreAutosavedOnTheTimer) {
    auto edited = Document::create();
    auto untouched = Document::create();
    controller.addDocument(edited);
    controller.addDocument(untouched);
    edited->setCueSelectionMode(1);

    controller.setAutosavingDelay(30.0);
    EXPECT_DOUBLE_EQ(controller.autosavingDelay(), 30.0);
    loop.advance(29.0);
    EXPECT_FALSE(fs::exists(edited->autosavePath()));
    loop.advance(1.0);
    EXPECT_TRUE(fs::exists(edited->autosavePath()));
    EXPECT_FALSE(fs::exists(untouched->autosavePath()));
    EXPECT_FALSE(edited->hasUnautosavedChanges());

    // Nothing new: nothing written again.
    fs::remove(edited->autosavePath());
    loop.advance(30.0);
    EXPECT_FALSE(fs::exists(edited->autosavePath()));

    edited->setCueSelectionMode(0);
    controller.setAutosavingDelay(0.0);
    loop.advance(120.0);
    EXPECT_FALSE(fs::exists(edited->autosavePath()));
    EXPECT_TRUE(edited->hasUnautosavedChanges());
}

TEST_F(DocumentControllerTest, TheRestorePrompt) {
    struct Case {
        const char* fileName;
        const char* answer;
        bool restores;
        const char* text;
    } const cases[] = {
        {"/films/Storm%20Front.tollvane", "Restore", true,
         "Tollvane has found unsaved changes to the document \"Storm Front\" from a previous session. Would "
         "you "
         "like to restore these changes?"},
        {"Opening.tollvane", "Discard", false,
         "Tollvane has found unsaved changes to the document \"Opening\" from a previous session. Would you "
         "like "
         "to restore these changes?"},
        {"100%.tollvane", "Restore", true,
         "Tollvane has found unsaved changes to the document \"100%\" from a previous session. Would you "
         "like to "
         "restore these changes?"},
        {"", "Discard", false,
         "Tollvane has found unsaved changes to an untitled document from a previous session. Would you like "
         "to "
         "restore these changes?"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fileName);
        alerts.reset();
        alerts.answer(std::string(c.answer));
        EXPECT_EQ(DocumentController::shouldRestoreAutosavedDocument(c.fileName), c.restores);
        ASSERT_EQ(alerts.shownCount(), 1u);
        const Alert alert = alerts.shownAlerts().front();
        EXPECT_EQ(alert.title, "Restore autosaved document?");
        EXPECT_EQ(alert.text, c.text);
        EXPECT_EQ(alert.buttons, (std::vector<std::string>{"Restore", "Discard"}));
    }
}

}  // namespace
}  // namespace tollvane
