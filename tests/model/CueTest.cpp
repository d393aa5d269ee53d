#include "model/Cue.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "document/Document.h"
#include "model/CueDefaults.h"
#include "model/CueEnvironment.h"
#include "model/CueEventCueEnd.h"
#include "model/CueEventMusicIn.h"
#include "model/CueEventSoundCue.h"
#include "model/Reel.h"
#include "platform/NotificationCenter.h"
#include "platform/RunLoop.h"
#include "platform/UserDefaults.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedUnarchiver.h"
#include "playback/FFMusicSequence.h"

namespace tollvane {
namespace {

std::shared_ptr<EMTimecode> timecode25(const char* text) {
    return EMTimecode::timecodeWithFramerate(EMTimecode::framerateForIndex(3), text);
}

class ProjectRateEnvironment : public CueEnvironment {
public:
    EMTimecodeFramerate projectFramerate() const override { return EMTimecode::framerateForIndex(3); }
};

class CountingDocument : public Document {
public:
    void barNumberOffsetDidChange() override { ++offsetChanges; }
    int offsetChanges = 0;
};

// Without a run loop every rebuild request compiles at once.
class CueTest : public ::testing::Test {
protected:
    void SetUp() override {
        previousLoop_ = RunLoop::setMain(nullptr);
        CueDefaults::registerDefaults(UserDefaults::standardUserDefaults());
        Cue::registerArchiveClass();
    }
    void TearDown() override {
        CueEnvironment::install(nullptr);
        RunLoop::setMain(previousLoop_);
    }

    // A new cue synced at 1:00:00:00 at 25 fps, so that whole seconds are whole frames.
    static std::shared_ptr<Cue> cueAt25() {
        auto cue = Cue::create();
        cue->setSyncTimecode(timecode25("1"));
        return cue;
    }

private:
    RunLoop* previousLoop_ = nullptr;
};

TEST_F(CueTest, NewCueHasTheDefaults) {
    CueEnvironment::install(std::make_shared<ProjectRateEnvironment>());
    auto cue = Cue::create();
    EXPECT_EQ(cue->title(), "Untitled Cue");
    EXPECT_EQ(cue->displayText(), "Untitled Cue");
    EXPECT_FALSE(cue->optionalDisplayText());
    EXPECT_EQ(cue->syncPrerollShiftedBeats(), 128.0);
    ASSERT_TRUE(cue->syncTimecode());
    EXPECT_EQ(cue->syncTimecodeString(), "1:00:00:00");
    EXPECT_EQ(cue->syncTimecode()->framerate().fps, 25u);
    EXPECT_EQ(cue->warningBeats(), 4u);
    EXPECT_EQ(cue->warningBeatNoteDuration(), 0xffff);
    EXPECT_EQ(cue->clickMuteSetting(), 0u);
    EXPECT_EQ(cue->barNumberOffsetValue(), 0);
    EXPECT_EQ(cue->playbackStartTimeStamp(), 0.0);
    EXPECT_EQ(cue->playbackRateSetting(), 0);
    EXPECT_EQ(cue->reel(), Reel::timecodeReelSelectionMarker());
    EXPECT_FALSE(cue->hasCueStartEvent());
    EXPECT_FALSE(cue->hasCueEndEvent());
    EXPECT_FALSE(cue->isADRFoleyCue());
    EXPECT_EQ(cue->lengthInBeats(), 100000.0);
    EXPECT_TRUE(cue->sequence());
    EXPECT_EQ(cue->description(),
              "Cue (Untitled Cue); 0 tempo events, 0 meter events, 0 track events, offset 0 bar(s)");
}

TEST_F(CueTest, BarBeatStrings) {
    auto cue = Cue::create();
    struct Case {
        double timeStamp;
        int32_t offset;
        const char* text;
    };
    const Case cases[] = {
        {0.0, 0, "1|1|000"}, {-0.5, 0, "-|-|---"}, {4.5, 0, "2|1|240"},    {7.5, 0, "2|4|240"},
        {0.0, 5, "6|1|000"}, {8.0, -3, "0|1|000"}, {-0.001, 9, "-|-|---"},
    };
    for (const Case& c : cases) {
        cue->setBarNumberOffset(Value(c.offset));
        EXPECT_EQ(cue->barBeatStringForTimeStamp(c.timeStamp), c.text)
            << c.timeStamp << " offset " << c.offset;
    }
}

TEST_F(CueTest, RealTimeStringsCountFromBarOne) {
    auto cue = Cue::create();
    struct Case {
        double timeStamp;  // beats at 120 bpm: two to the second
        const char* text;
    };
    const Case cases[] = {
        {0.0, "0:00.00"},      {7451.0, "1:02:05.50"}, {-10.5, "-0:05.25"}, {120.0, "1:00.00"},
        {7199.98, "59:59.99"}, {7200.0, "1:00:00.00"}, {0.001, "0:00.00"},  {-0.001, "0:00.00"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(cue->realTimeStringForTimeStamp(c.timeStamp), c.text) << c.timeStamp;
}

TEST_F(CueTest, ConversionsRoundTripIncludingThePreroll) {
    auto cue = cueAt25();
    struct Case {
        double beats;
        double secondsFromSync;
        const char* timecode;
    };
    const Case cases[] = {
        {128.0, 0.0, "1:00:00:00"},     {132.0, 2.0, "1:00:02:00"},  {256.0, 64.0, "1:01:04:00"},
        {0.0, -64.0, "0:58:56:00"},     {-4.0, -66.0, "0:58:54:00"}, {64.5, -31.75, "0:59:28:06"},
        {-200.0, -164.0, "0:57:16:00"},
    };
    for (const Case& c : cases) {
        EXPECT_DOUBLE_EQ(cue->secondsFromSyncPointForPrerollShiftedBeats(c.beats), c.secondsFromSync)
            << c.beats;
        auto timecode = cue->timecodeForPrerollShiftedBeats(c.beats);
        ASSERT_TRUE(timecode);
        EXPECT_EQ(timecode->stringRepresentation(), c.timecode) << c.beats;
        EXPECT_NEAR(cue->prerollShiftedBeatsForTimecode(*timecode), c.beats, 1e-9) << c.timecode;
        EXPECT_NEAR(cue->timeStampForTimecode(*timecode), c.beats - 128.0, 1e-9) << c.timecode;
        EXPECT_EQ(cue->timecodeForTimeStamp(c.beats - 128.0)->stringRepresentation(), c.timecode);
    }
}

TEST_F(CueTest, SyncPointMovesEveryConversion) {
    auto cue = cueAt25();
    cue->setSyncPrerollShiftedBeats(Value(136.0));
    cue->setSyncTimecode(timecode25("10:00:00:00"));
    EXPECT_DOUBLE_EQ(cue->secondsFromSyncPointForPrerollShiftedBeats(128.0), -4.0);
    EXPECT_EQ(cue->timecodeForPrerollShiftedBeats(140.0)->stringRepresentation(), "10:00:02:00");
    EXPECT_DOUBLE_EQ(cue->prerollShiftedBeatsForTimecode(*timecode25("9:59:56:00")), 128.0);
}

TEST_F(CueTest, TheADRFoleyCueDoesNotSubtractItsSyncPoint) {
    auto cue = cueAt25();
    cue->setTitle(Cue::kADRFoleyCueTitle);
    EXPECT_TRUE(cue->isADRFoleyCue());
    EXPECT_DOUBLE_EQ(cue->secondsFromSyncPointForPrerollShiftedBeats(128.0), 64.0);
    EXPECT_DOUBLE_EQ(cue->secondsFromSyncPointForPrerollShiftedBeats(-2.0), -1.0);
    auto timecode = cue->timecodeForPrerollShiftedBeats(128.0);
    EXPECT_EQ(timecode->stringRepresentation(), "1:01:04:00");
    // The way back has no exception: 1:01:04:00 is 64 s after the sync
    // timecode, which lies 64 s into the sequence.
    EXPECT_DOUBLE_EQ(cue->prerollShiftedBeatsForTimecode(*timecode), 256.0);

    cue->setTitle("(ADR/Foley) ");
    EXPECT_FALSE(cue->isADRFoleyCue());
}

TEST_F(CueTest, SyncTimecodeStringAndFramerate) {
    auto cue = cueAt25();
    cue->setSyncTimecodeString("1:02:03:04");
    EXPECT_EQ(cue->syncTimecodeString(), "1:02:03:04");
    EXPECT_EQ(cue->syncTimecode()->framerate().fps, 25u);  // parsed at the sync timecode's own rate

    cue->setFramerate(6);  // 30 fps: the fields stay
    EXPECT_EQ(cue->syncTimecode()->framerate().fps, 30u);
    EXPECT_EQ(cue->syncTimecodeString(), "1:02:03:04");

    // The cue keeps its own copy of what it is given and hands out copies.
    auto given = timecode25("2");
    cue->setSyncTimecode(given);
    given->setHH(5);
    cue->syncTimecode()->setHH(7);
    EXPECT_EQ(cue->syncTimecodeString(), "2:00:00:00");
}

TEST_F(CueTest, DisplayTextFollowsTitleAndOverlayText) {
    auto cue = Cue::create();
    std::vector<std::string> keys;
    cue->addKeyObserver([&](std::string_view key) { keys.emplace_back(key); });
    cue->setTitle("3M1");
    EXPECT_EQ(cue->displayText(), "3M1");
    cue->setDisplayText("Main Title");
    EXPECT_EQ(cue->displayText(), "Main Title");
    EXPECT_EQ(cue->title(), "3M1");
    cue->setDisplayText("");
    EXPECT_FALSE(cue->optionalDisplayText());
    EXPECT_EQ(cue->displayText(), "3M1");
    const std::vector<std::string> expected = {"title",       "displayText",         "optionalDisplayText",
                                               "displayText", "optionalDisplayText", "displayText"};
    EXPECT_EQ(keys, expected);
}

class CueUndoTest : public CueTest {
protected:
    void SetUp() override {
        CueTest::SetUp();
        document = std::make_shared<CountingDocument>();
        document->registerHandle();
        cue = cueAt25();
        cue->setDocument(document.get());
    }
    UndoManager& undo() { return document->undoManager(); }

    std::shared_ptr<CountingDocument> document;
    std::shared_ptr<Cue> cue;
};

TEST_F(CueUndoTest, TitleEditsCoalesceIntoOneStep) {
    cue->setTitle("1");
    cue->setTitle("1M");
    cue->setTitle("1M1");
    ASSERT_EQ(undo().undoStepCount(), 1u);
    EXPECT_EQ(undo().undoActionName(), "Change Cue Title");
    undo().undo();
    EXPECT_EQ(cue->title(), "Untitled Cue");
    undo().redo();
    EXPECT_EQ(cue->title(), "1M1");

    // Another field breaks the run.
    document->undoController().endEditing();
    cue->setTitle("1M2");
    EXPECT_EQ(undo().undoStepCount(), 2u);
}

TEST_F(CueUndoTest, OverlayTextUndoesBackToNone) {
    cue->setOptionalDisplayText("Over");
    cue->setOptionalDisplayText("Overlay");
    EXPECT_EQ(undo().undoActionName(), "Change Cue Overlay Text");
    undo().undo();
    EXPECT_FALSE(cue->optionalDisplayText());
    undo().redo();
    EXPECT_EQ(cue->optionalDisplayText(), std::optional<std::string>("Overlay"));
}

TEST_F(CueUndoTest, SyncEditsAreDiscreteSteps) {
    cue->setSyncTimecode(timecode25("1:00:10:00"));
    cue->setSyncTimecode(timecode25("1:00:20:00"));
    EXPECT_EQ(undo().undoStepCount(), 2u);
    EXPECT_EQ(undo().undoActionName(), "Change Cue Sync Timecode");
    cue->setSyncPrerollShiftedBeats(Value(160.0));
    EXPECT_EQ(undo().undoActionName(), "Change Cue Sync Bar/Beat");

    undo().undo();
    EXPECT_EQ(cue->syncPrerollShiftedBeats(), 128.0);
    undo().undo();
    EXPECT_EQ(cue->syncTimecodeString(), "1:00:10:00");
    undo().undo();
    EXPECT_EQ(cue->syncTimecodeString(), "1:00:00:00");
    undo().redo();
    undo().redo();
    undo().redo();
    EXPECT_EQ(cue->syncTimecodeString(), "1:00:20:00");
    EXPECT_EQ(cue->syncPrerollShiftedBeats(), 160.0);
}

TEST_F(CueUndoTest, BarNumberOffsetTellsTheDocument) {
    cue->setBarNumberOffset(Value(12));
    EXPECT_EQ(cue->barNumberOffset(), Value(12));
    EXPECT_EQ(document->offsetChanges, 1);
    EXPECT_EQ(undo().undoActionName(), "Change Bar # Offset");
    undo().undo();
    EXPECT_EQ(cue->barNumberOffsetValue(), 0);
    EXPECT_EQ(document->offsetChanges, 2);
}

TEST_F(CueUndoTest, ReelAssignmentPostsItsNotificationAndUndoes) {
    int posts = 0;
    auto& center = NotificationCenter::defaultCenter();
    auto token =
        center.addObserver(Cue::kReelSelectionByCueDidChangeNotification, [&](const Notification& note) {
            EXPECT_EQ(note.object, nullptr);
            ++posts;
        });
    auto reel = std::make_shared<Reel>(42);
    cue->setReel(reel);
    EXPECT_EQ(cue->reel(), reel);
    EXPECT_EQ(undo().undoActionName(), "Change Reel Assignment");
    undo().undo();
    EXPECT_EQ(cue->reel(), Reel::timecodeReelSelectionMarker());
    undo().redo();
    EXPECT_EQ(cue->reel(), reel);
    EXPECT_EQ(posts, 3);
    center.removeObserver(token);
}

TEST_F(CueTest, CopySharesTheListsAndCopiesEndStartAndSync) {
    auto cue = cueAt25();
    cue->setTitle("2M3");
    cue->setBarNumberOffset(Value(4));
    cue->setSyncPrerollShiftedBeats(Value(144.0));
    cue->setPlaybackRateSetting(-1);
    cue->setWarningBeats(2);
    auto end = CueEventCueEnd::cueEndEventWithCue(cue);
    end->setLockPrerollShiftedBeats(300.0);
    cue->setCueEndEvent(end);
    cue->setCueStartEvent(CueEventMusicIn::musicInEventWithCue(cue));
    auto streamer = CueEvent::eventWithCue(cue);
    cue->trackEvents().push_back(streamer);

    auto copy = cue->copy();
    ASSERT_EQ(copy->trackEvents().size(), 1u);
    EXPECT_EQ(copy->trackEvents()[0], streamer);
    ASSERT_TRUE(copy->cueEndEvent());
    EXPECT_NE(copy->cueEndEvent(), end);
    EXPECT_EQ(copy->cueEndEvent()->lockPrerollShiftedBeats(), 300.0);
    EXPECT_EQ(copy->cueEndEvent()->cue(), copy);
    ASSERT_TRUE(copy->cueStartEvent());
    EXPECT_NE(copy->cueStartEvent(), cue->cueStartEvent());
    EXPECT_EQ(copy->syncTimecodeString(), "1:00:00:00");
    EXPECT_EQ(copy->syncTimecode()->framerate().fps, 25u);
    EXPECT_EQ(copy->syncPrerollShiftedBeats(), 144.0);
    EXPECT_EQ(copy->playbackRateSetting(), -1);
    EXPECT_EQ(copy->lengthInBeats(), 300.0);
    ASSERT_TRUE(copy->sequence());
    EXPECT_NE(copy->sequence(), cue->sequence());
    // Not carried over.
    EXPECT_EQ(copy->title(), "Untitled Cue");
    EXPECT_EQ(copy->barNumberOffsetValue(), 0);
    EXPECT_EQ(copy->warningBeats(), 4u);
    EXPECT_EQ(copy->reel(), Reel::timecodeReelSelectionMarker());
}

TEST_F(CueTest, RehearsalStartAndCueEndTimecodes) {
    auto document = Document::create();
    auto cue = cueAt25();
    cue->setDocument(document.get());
    cue->setRehearsalStartPrerollShiftedBeats(120.0);
    EXPECT_EQ(cue->rehearsalStartTimecode()->stringRepresentation(), "0:59:56:00");
    auto end = cue->cueEndTimecode();
    ASSERT_TRUE(end);
    EXPECT_EQ(end->stringRepresentation(), "23:59:59:00");
    EXPECT_EQ(end->framerate().fps, 25u);

    document->setViewType(Document::kADRFoleyViewType);
    EXPECT_FALSE(cue->cueEndTimecode());
    // An empty ADR/Foley list rehearses from the sequence start.
    EXPECT_EQ(cue->rehearsalStartTimecode()->stringRepresentation(), "0:58:56:00");

    auto line = CueEventSoundCue::soundCueEventWithCue(cue, "Door slam");
    line->setLockTimecode(timecode25("1:00:10:00"));
    line->setStreamerFeet(3.0);
    auto earlier = CueEventSoundCue::soundCueEventWithCue(cue, "Steps");
    earlier->setLockTimecode(timecode25("1:00:05:00"));
    earlier->setStreamerFeet(3.0);
    document->adrFoleyEvents() = {line, earlier};
    // 3 feet are 2.01 seconds before the earliest line: 50.25 frames.
    EXPECT_EQ(cue->rehearsalStartTimecode()->stringRepresentation(), "1:00:02:24");
    document->selectedADRFoleyEvents() = {line};
    EXPECT_EQ(cue->rehearsalStartTimecode()->stringRepresentation(), "1:00:07:24");

    document->setViewType(Document::kCueViewType);
    auto endEvent = CueEventCueEnd::cueEndEventWithCue(cue);
    endEvent->setLockPrerollShiftedBeats(148.0);
    cue->setCueEndEvent(endEvent);
    ASSERT_TRUE(cue->cueEndTimecode());
    EXPECT_EQ(cue->cueEndTimecode()->stringRepresentation(), "1:00:10:00");
    EXPECT_EQ(cue->lengthInBeats(), 148.0);
    EXPECT_DOUBLE_EQ(cue->lengthInSeconds(), 74.0);
}

// An archived cue with only a few keys, as an older or foreign file may hold.
class SparseCueRecord : public Archivable {
public:
    std::string archiveClassName() const override { return "Cue"; }
    void encodeWithCoder(KeyedArchiver& coder) const override {
        coder.encodeObject(Value("Sparse"), "title");
        coder.encodeObject(Value(int64_t{7}), "reelID");
    }
};

TEST_F(CueTest, DecodingStartsFromABareCue) {
    const Data bytes = KeyedArchiver::archivedDataWithRootObject(Value(std::make_shared<SparseCueRecord>()));
    auto cue = KeyedUnarchiver::unarchivedObjectWithData(bytes).object<Cue>();
    ASSERT_TRUE(cue);
    EXPECT_EQ(cue->title(), "Sparse");
    EXPECT_EQ(cue->cueID(), 0u);
    EXPECT_EQ(cue->syncPrerollShiftedBeats(), 0.0);
    EXPECT_FALSE(cue->syncTimecode());
    EXPECT_EQ(cue->syncTimecodeString(), "-:--:--");
    EXPECT_EQ(cue->warningBeats(), 0u);
    EXPECT_EQ(cue->warningBeatNoteDuration(), 0);
    EXPECT_FALSE(cue->reel());
    EXPECT_EQ(cue->reelID(), 7u);
    EXPECT_FALSE(cue->updatesSuspended());
    EXPECT_TRUE(cue->sequence());
    EXPECT_FALSE(cue->timecodeForPrerollShiftedBeats(128.0));
}

TEST_F(CueTest, AnIdentityOfZeroIsReplacedAfterItIsWritten) {
    auto cue = Cue::create();
    cue->setCueID(0);
    const Data first = KeyedArchiver::archivedDataWithRootObject(Value(cue));
    EXPECT_NE(cue->cueID(), 0u);
    EXPECT_EQ(KeyedUnarchiver::unarchivedObjectWithData(first).object<Cue>()->cueID(), 0u);
    const Data second = KeyedArchiver::archivedDataWithRootObject(Value(cue));
    EXPECT_EQ(KeyedUnarchiver::unarchivedObjectWithData(second).object<Cue>()->cueID(), cue->cueID());
}

}  // namespace
}  // namespace tollvane
