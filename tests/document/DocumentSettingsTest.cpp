// The document's settings and what follows them: the project frame rate
// across cues, reels and ADR/Foley events with undo, the selection modes,
// the view type, the selected cue, the hidden ADR/Foley cue, status messages.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "DocumentTestSupport.h"
#include "document/Document.h"
#include "document/DocumentStatusDisplay.h"
#include "model/Cue.h"
#include "model/CueArrayController.h"
#include "model/CueEventSoundCue.h"
#include "model/CueEventTempoChange.h"
#include "model/Reel.h"
#include "model/ReelArrayController.h"

namespace tollvane {
namespace {

class RecordingStatusDisplay : public DocumentStatusDisplay {
public:
    void showStatusMessage(const std::string& text, double seconds) override {
        shown.emplace_back(text, seconds);
    }
    std::vector<std::pair<std::string, double>> shown;
};

class DocumentSettingsTest : public testing::DocumentTestBase {
protected:
    void SetUp() override {
        DocumentTestBase::SetUp();
        UserDefaults::standardUserDefaults().setObject("lastProjectFramerate", Value(3));
        UserDefaults::standardUserDefaults().setObject("lastDocumentViewType", Value(0));
        document = Document::create();
    }

    std::shared_ptr<Cue> addCue(const std::string& title, const std::string& sync) {
        auto cue = document->cueController().newCue();
        cue->setTitle(title);
        cue->setSyncTimecode(EMTimecode::timecodeWithFramerate(EMTimecode::framerateForIndex(3), sync));
        document->undoManager().removeAllActions();
        return cue;
    }

    std::shared_ptr<CueEventSoundCue> addLine(const std::string& lock) {
        auto event = CueEventSoundCue::soundCueEventWithCue(document->adrFoleyCue(), "line");
        event->setLockTimecode(EMTimecode::timecodeWithFramerate(EMTimecode::framerateForIndex(3), lock));
        document->adrFoleyEvents().push_back(event);
        document->adrFoleyCue()->trackEvents().push_back(event);
        document->undoManager().removeAllActions();
        return event;
    }

    static EMTimecodeFramerate rateOf(const std::shared_ptr<EMTimecode>& timecode) {
        return timecode ? timecode->framerate() : EMTimecodeFramerate{};
    }

    std::shared_ptr<Document> document;
};

TEST_F(DocumentSettingsTest, ChangingTheRateTwiceAndUndoingOnceRestoresTheFirstChange) {
    auto first = addCue("1M1", "1:00:00:00");
    auto second = addCue("1M2", "1:02:00:00");
    auto line = addLine("1:00:30:00");
    auto reel = Reel::create();
    reel->setStartTimecode(EMTimecode::timecodeWithFramerate(EMTimecode::framerateForIndex(3), "1:00:00:00"));
    document->reelController().addObject(reel);
    document->undoManager().removeAllActions();

    document->setProjectFramerate(1);
    document->setProjectFramerate(6);
    EXPECT_EQ(document->undoManager().undoStepCount(), 2u);
    EXPECT_EQ(document->undoManager().undoActionName(), "Change Project Framerate");
    const EMTimecodeFramerate rate30 = EMTimecode::framerateForIndex(6);
    EXPECT_EQ(rateOf(first->syncTimecode()), rate30);
    EXPECT_EQ(rateOf(second->syncTimecode()), rate30);
    EXPECT_EQ(rateOf(line->lockTimecode()), rate30);
    EXPECT_EQ(rateOf(reel->startTimecode()), rate30);
    EXPECT_EQ(rateOf(document->adrFoleyCue()->syncTimecode()), rate30);

    document->undoManager().undo();
    const EMTimecodeFramerate rate24 = EMTimecode::framerateForIndex(1);
    EXPECT_EQ(document->projectFramerate(), 1);
    EXPECT_EQ(rateOf(first->syncTimecode()), rate24);
    EXPECT_EQ(rateOf(second->syncTimecode()), rate24);
    EXPECT_EQ(rateOf(line->lockTimecode()), rate24);
    EXPECT_EQ(rateOf(reel->startTimecode()), rate24);
    // The digits stay; the moment they name changes.
    EXPECT_EQ(first->syncTimecodeString(), "1:00:00:00");
    EXPECT_EQ(reel->startTimecodeString(), "1:00:00:00");
    EXPECT_EQ(UserDefaults::standardUserDefaults().integerForKey("lastProjectFramerate"), 1);
    EXPECT_EQ(document->documentDataFromDisk().find("projectFramerate")->toInt64(), 1);

    document->undoManager().undo();
    EXPECT_EQ(document->projectFramerate(), 3);
    EXPECT_EQ(rateOf(first->syncTimecode()), EMTimecode::framerateForIndex(3));
    document->undoManager().redo();
    EXPECT_EQ(document->projectFramerate(), 1);
    EXPECT_EQ(rateOf(second->syncTimecode()), rate24);
}

TEST_F(DocumentSettingsTest, TheRateChangeIsAnnounced) {
    std::vector<std::string> keys;
    document->addKeyObserver([&](std::string_view key) { keys.emplace_back(key); });
    document->setProjectFramerate(0);
    document->setReelSelectionMode(0);
    document->setCueSelectionMode(1);
    document->setViewType(Document::kADRFoleyViewType);
    EXPECT_EQ(keys, (std::vector<std::string>{"projectFramerate", "reelSelectionMode", "cueSelectionMode",
                                              "documentViewType"}));
}

TEST_F(DocumentSettingsTest, SelectionModesAreUndoableAndMirrored) {
    struct Case {
        void (Document::*set)(int64_t);
        int64_t (Document::*get)() const;
        const char* key;
        const char* actionName;
    } const cases[] = {
        {&Document::setReelSelectionMode, &Document::reelSelectionMode, "reelSelectionMode",
         "Change Reel Selection Mode"},
        {&Document::setCueSelectionMode, &Document::cueSelectionMode, "cueSelectionMode",
         "Change Cue Selection Mode"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        const int64_t before = (document.get()->*c.get)();
        (document.get()->*c.set)(2);
        EXPECT_EQ((document.get()->*c.get)(), 2);
        EXPECT_EQ(document->documentDataFromDisk().find(c.key)->toInt64(), 2);
        EXPECT_EQ(document->undoManager().undoActionName(), c.actionName);
        document->undoManager().undo();
        EXPECT_EQ((document.get()->*c.get)(), before);
        EXPECT_EQ(document->documentDataFromDisk().find(c.key)->toInt64(), before);
    }
    EXPECT_FALSE(document->shouldSelectCueByTimecode());
    document->setCueSelectionMode(1);
    EXPECT_TRUE(document->shouldSelectCueByTimecode());
}

TEST_F(DocumentSettingsTest, TheViewTypeIsMirroredRememberedAndChangesTheSelectedCue) {
    auto cue = addCue("1M1", "1:00:00:00");
    document->cueController().setSelectedObjects({cue});
    EXPECT_EQ(document->selectedCue(), cue);
    int selectedCueChanges = 0;
    document->cueController().addKeyObserver(
        [&](std::string_view key) { selectedCueChanges += key == "selectedCue"; });

    document->setViewType(Document::kADRFoleyViewType);
    EXPECT_EQ(document->documentViewType(), Document::kADRFoleyViewType);
    EXPECT_EQ(document->documentDataFromDisk().find("documentViewType")->toInt64(), 1);
    EXPECT_EQ(UserDefaults::standardUserDefaults().integerForKey("lastDocumentViewType"), 1);
    EXPECT_EQ(selectedCueChanges, 1);
    EXPECT_EQ(document->selectedCue(), document->adrFoleyCue());
    EXPECT_EQ(document->cueController().selectedCue(), document->adrFoleyCue());
    EXPECT_EQ(Document::create()->viewType(), Document::kADRFoleyViewType);

    document->setDocumentViewType(Document::kCueViewType);
    EXPECT_EQ(document->selectedCue(), cue);
}

TEST_F(DocumentSettingsTest, TheHiddenADRFoleyCue) {
    auto cue = document->adrFoleyCue();
    ASSERT_TRUE(cue);
    EXPECT_EQ(document->adrFoleyCue(), cue);
    EXPECT_EQ(cue->title(), "(ADR/Foley)");
    EXPECT_TRUE(cue->isADRFoleyCue());
    EXPECT_EQ(cue->warningBeats(), 0u);
    EXPECT_EQ(cue->document(), document.get());
    ASSERT_TRUE(cue->syncTimecode());
    EXPECT_EQ(cue->syncTimecode()->stringRepresentation(), "0:00:00:00");
    EXPECT_EQ(cue->syncTimecode()->framerate(), EMTimecode::framerateForIndex(3));
    ASSERT_EQ(cue->tempoEvents().size(), 1u);
    auto tempo = std::dynamic_pointer_cast<CueEventTempoChange>(cue->tempoEvents().front());
    ASSERT_TRUE(tempo);
    EXPECT_DOUBLE_EQ(tempo->bpm(), 60.0);
    EXPECT_EQ(tempo->noteDuration(), 6);
    EXPECT_DOUBLE_EQ(tempo->lockPrerollShiftedBeats(), 128.0);
    EXPECT_TRUE(cue->sequence());
    // Neither the cue nor setting it up is an edit.
    EXPECT_FALSE(document->isDocumentEdited());
    EXPECT_TRUE(document->isEmpty());
}

TEST_F(DocumentSettingsTest, ADRFoleyEventsGivenAsDataJoinTheHiddenCue) {
    auto line = CueEventSoundCue::soundCueEventWithCue(nullptr, "hello");
    document->setAdrFoleyCueData(Value::array({Value(line), Value("not an event")}));
    ASSERT_EQ(document->adrFoleyEvents().size(), 1u);
    EXPECT_EQ(line->cue(), document->adrFoleyCue());
    EXPECT_EQ(document->adrFoleyCue()->trackEvents().size(), 1u);
    ASSERT_TRUE(document->adrFoleyCueData().isArray());
    EXPECT_EQ(document->adrFoleyCueData().arrayValue()->items.size(), 1u);

    document->setAdrFoleyCueData(Value::array());
    EXPECT_TRUE(document->adrFoleyEvents().empty());
    EXPECT_TRUE(document->adrFoleyCue()->trackEvents().empty());
}

TEST_F(DocumentSettingsTest, ReelsAreSelectedByTimecodeByMode) {
    auto reel = Reel::create();
    auto cue = addCue("1M1", "1:00:00:00");
    document->cueController().setSelectedObjects({cue});
    struct Case {
        int64_t mode;
        std::shared_ptr<Reel> cueReel;
        bool byTimecode;
    } const cases[] = {
        {0, nullptr, false},
        {1, reel, true},
        {2, nullptr, true},
        {2, Reel::manualReelSelectionMarker(), true},
        {2, Reel::timecodeReelSelectionMarker(), true},
        {2, Reel::defaultReelSelectionMarker(), true},
        {2, reel, false},
        {7, nullptr, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        document->setReelSelectionMode(c.mode);
        cue->setReel(c.cueReel);
        EXPECT_EQ(document->shouldSelectReelByTimecode(), c.byTimecode);
    }
    document->setReelSelectionMode(2);
    document->cueController().setSelectedObjects({});
    EXPECT_TRUE(document->shouldSelectReelByTimecode());
}

TEST_F(DocumentSettingsTest, SelectCueMatchingSelectsByTitle) {
    addCue("1M1 Opening", "1:00:00:00");
    auto storm = addCue("2M3 Storm", "1:10:00:00");
    EXPECT_TRUE(document->selectCueMatching("storm"));
    EXPECT_EQ(document->selectedCue(), storm);
    EXPECT_FALSE(document->selectCueMatching("nothing like it"));
}

TEST_F(DocumentSettingsTest, StatusMessagesGoToTheDisplay) {
    document->receivedAtWrongFramerate();
    RecordingStatusDisplay display;
    document->setStatusDisplay(&display);
    document->receivedAtWrongFramerate();
    ASSERT_EQ(display.shown.size(), 1u);
    EXPECT_EQ(display.shown[0].first, "Wrong framerate");
    EXPECT_DOUBLE_EQ(display.shown[0].second, 0.5);
    document->setStatusDisplay(nullptr);
}

TEST_F(DocumentSettingsTest, DataAccessorsReadAndWriteTheLists) {
    auto cue = Cue::create();
    auto reel = Reel::create();
    document->setCueData(Value::array({Value(cue)}));
    document->setReelData(Value::array({Value(reel)}));
    EXPECT_EQ(cue->document(), document.get());
    EXPECT_EQ(reel->document(), document.get());
    EXPECT_EQ(document->cueData().arrayValue()->items.size(), 1u);
    EXPECT_EQ(document->reelData().arrayValue()->items.size(), 1u);
    EXPECT_FALSE(document->isEmpty());

    Value options = Value::dictionary();
    options.dictionaryValue()->set("cueSortDescriptors", Value::array({Value("kept")}));
    document->setDocumentWindowOptions(options);
    document->cueController().setSelectedObjects({cue});
    std::string error;
    ASSERT_FALSE(document->dataOfType(&error).empty()) << error;
    const Value saved = document->documentWindowOptions();
    ASSERT_TRUE(saved.isDictionary());
    EXPECT_EQ(saved.dictionaryValue()->find("selectedCueID")->toInt64(), int64_t{cue->cueID()});
    EXPECT_EQ(saved.dictionaryValue()->find("cueSortDescriptors")->arrayValue()->items.front().stringValue(),
              "kept");
}

TEST_F(DocumentSettingsTest, WhatOutlivesTheDocumentNoLongerPointsAtIt) {
    auto kept = addCue("Kept", "1:00:00:00");
    auto removed = addCue("Removed", "1:01:00:00");
    document->cueController().removeObject(removed);
    auto reel = Reel::create();
    document->reelController().addObject(reel);
    auto hidden = document->adrFoleyCue();
    document->setProjectFramerate(1);
    document->setReelSelectionMode(0);
    const uint32_t handle = document->documentHandle();
    std::weak_ptr<Document> weak = document;
    document.reset();
    // Its own undo steps do not keep it alive.
    EXPECT_TRUE(weak.expired());
    EXPECT_EQ(kept->document(), nullptr);
    EXPECT_EQ(removed->document(), nullptr);
    EXPECT_EQ(reel->document(), nullptr);
    EXPECT_EQ(hidden->document(), nullptr);
    EXPECT_EQ(Document::documentForHandle(handle), nullptr);
    document = Document::create();
}

}  // namespace
}  // namespace tollvane
