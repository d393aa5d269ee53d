#include "model/CueEvent.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "CueEventTestSupport.h"
#include "model/CueEnvironment.h"
#include "model/CueEventBarNumberChange.h"
#include "model/CueEventClickChange.h"
#include "model/CueEventCountoff.h"
#include "model/CueEventCueEnd.h"
#include "model/CueEventMeterChange.h"
#include "model/CueEventMusicIn.h"
#include "model/CueEventPunch.h"
#include "model/CueEventSoundCue.h"
#include "model/CueEventStreamer.h"
#include "model/CueEventTempoChange.h"
#include "platform/archive/Color.h"

namespace tollvane {
namespace {

constexpr int32_t kBeat = CueEvent::kLockTypeBeat;
constexpr int32_t kBar = CueEvent::kLockTypeBar;
constexpr int32_t kTimecode = CueEvent::kLockTypeTimecode;

std::shared_ptr<EMTimecode> timecode(const char* text) {
    return EMTimecode::timecodeWithFramerate(EMTimecode::framerateForIndex(3), text);
}

Value lockTimeDictionary(int32_t type, const Value& time) {
    Value dictionary = Value::dictionary();
    dictionary.dictionaryValue()->set("lockType", Value(type));
    dictionary.dictionaryValue()->set("lockTime", time);
    return dictionary;
}

class NowEnvironment : public CueEnvironment {
public:
    explicit NowEnvironment(std::shared_ptr<EMTimecode> now) : now_(std::move(now)) {}
    std::shared_ptr<EMTimecode> currentTimecode() const override { return now_; }

private:
    std::shared_ptr<EMTimecode> now_;
};

using CueEventTest = CueEventTestBase;

TEST_F(CueEventTest, ANewEventIsBeatLockedAtTheCuesBarOne) {
    for (const auto& event : {CueEvent::eventWithNoCue(), CueEvent::eventWithCue(cue)}) {
        EXPECT_EQ(event->lockType(), kBeat);
        EXPECT_EQ(event->lockPrerollShiftedBeats(), 128.0);
        EXPECT_EQ(event->lockBar(), 0);
        EXPECT_EQ(event->lockTimecode(), nullptr);
        EXPECT_FALSE(event->lockTimesAreUpdatingAutomatically());
        EXPECT_EQ(event->eventTypeString(), "Event");
        EXPECT_EQ(event->sortPriority(), 99999);
        EXPECT_EQ(event->eventProxy(), [] {
            Value proxy = Value::dictionary();
            proxy.dictionaryValue()->set("type", Value(fourCharCode("none")));
            return proxy;
        }());
    }
    EXPECT_EQ(CueEvent::eventWithCue(cue)->cue(), cue);
    EXPECT_EQ(CueEvent::eventWithNoCue()->cue(), nullptr);
}

TEST_F(CueEventTest, PositionsBelowTheCuesStartAreRaisedToIt) {
    struct Case {
        double given;
        double stored;
    };
    const Case cases[] = {{100.0, 128.0},
                          {0.0, 128.0},
                          {-40.0, 128.0},
                          {127.999, 128.0},
                          {128.0, 128.0},
                          {130.5, 130.5},
                          {std::numeric_limits<double>::quiet_NaN(), 128.0},
                          {std::numeric_limits<double>::infinity(), 128.0}};
    auto event = CueEvent::eventWithNoCue();
    for (const Case& c : cases) {
        event->setLockPrerollShiftedBeats(c.given);
        EXPECT_EQ(event->lockPrerollShiftedBeats(), c.stored) << c.given;
    }
}

TEST_F(CueEventTest, PositionsWrittenBackByCompilationKeepTheirValueBeforeTheStart) {
    // A timecode-locked tempo change before the cue start gets its negative position.
    auto event = CueEvent::eventWithNoCue();
    event->setLockTimesAreUpdatingAutomatically(true);
    event->setLockPrerollShiftedBeats(-12.5);
    event->setLockTimesAreUpdatingAutomatically(false);
    EXPECT_EQ(event->lockPrerollShiftedBeats(), -12.5);
}

TEST_F(CueEventTest, SortStringsOrderByHundredthsOfABeatThenByPriority) {
    auto early = CueEventStreamer::streamerEventWithCue(nullptr, nullptr, 3.0f, 1.0f, 2.004);
    auto late = CueEventStreamer::streamerEventWithCue(nullptr, nullptr, 3.0f, 1.0f, 2.001);
    EXPECT_EQ(early->sortString(), "0013000|00500");
    EXPECT_EQ(early->sortString(), late->sortString());
    EXPECT_EQ(CueEvent::eventWithNoCue()->sortString(), "0012800|99999");

    // Every kind at one position, shuffled, sorts into the fixed order.
    std::vector<std::shared_ptr<CueEvent>> events{
        CueEventPunch::punchEventWithCue(nullptr, nullptr, 3, 1.0f, 4.0),
        CueEventClickChange::clickChangeEventWithCue(nullptr, 4.0),
        CueEventStreamer::streamerEventWithCue(nullptr, nullptr, 3.0f, 1.0f, 4.0),
        CueEventTempoChange::tempoChangeEventWithCue(nullptr, 90.0, 6, 4.0),
        CueEventMeterChange::meterChangeEventWithCue(nullptr, TimeSignature{3, 4}, 4.0),
        CueEventBarNumberChange::barNumberChangeEventWithCue(nullptr, 4.0),
        CueEventCountoff::countoffEventWithCue(nullptr, 4.0),
    };
    auto sound = CueEventSoundCue::soundCueEventWithCue(nullptr, "line");
    sound->setLockPrerollShiftedBeats(132.0);
    events.push_back(sound);
    std::sort(events.begin(), events.end(),
              [](const auto& a, const auto& b) { return a->sortString() < b->sortString(); });
    std::vector<std::string> order;
    for (const auto& event : events) order.push_back(event->eventTypeString());
    const std::vector<std::string> expected{"Countoff",     "ADR/Foley Cue", "Bar Number Change",
                                            "Meter Change", "Click Change",  "Tempo Change",
                                            "Streamer",     "Punch"};
    EXPECT_EQ(order, expected);
}

TEST_F(CueEventTest, ComparesByPositionAndByTimecode) {
    auto a = CueEvent::eventWithNoCue();
    auto b = CueEvent::eventWithNoCue();
    a->setLockPrerollShiftedBeats(140.0);
    b->setLockPrerollShiftedBeats(150.0);
    EXPECT_EQ(a->compareTime(*b), -1);
    EXPECT_EQ(b->compareTime(*a), 1);
    EXPECT_EQ(a->compareTime(*a), 0);

    a->setLockTimecode(timecode("1:00:00:10"));
    b->setLockTimecode(timecode("1:00:00:05"));
    EXPECT_EQ(a->compareTimecode(*b), 1);
    EXPECT_EQ(b->compareTimecode(*a), -1);
    // Timecodes at different rates compare by time.
    b->setLockTimecode(EMTimecode::timecodeWithFramerate(EMTimecode::framerateForIndex(6), "1:00:00:12"));
    EXPECT_EQ(a->compareTimecode(*b), 0);
    // Without a timecode an event sorts first.
    auto none = CueEvent::eventWithNoCue();
    EXPECT_EQ(none->compareTimecode(*a), -1);
    EXPECT_EQ(a->compareTimecode(*none), 1);
    EXPECT_EQ(none->compareTimecode(*none), 0);
}

TEST_F(CueEventTest, KindsKeepOnlyTheLockTypesTheyAccept) {
    struct Case {
        std::function<std::shared_ptr<CueEvent>()> make;
        int32_t requested;
        int32_t expected;
    };
    auto meter = [] { return CueEventMeterChange::meterChangeWithCue(nullptr, TimeSignature{}, 6, 1); };
    auto countoff = [] { return CueEventCountoff::countoffEventWithCue(nullptr, 0.0); };
    auto sound = [] { return CueEventSoundCue::soundCueEventWithCue(nullptr, ""); };
    auto streamer = [] { return CueEventStreamer::streamerEventWithCue(nullptr, nullptr, 3, 1, 0); };
    const Case cases[] = {
        {meter, kTimecode, kBar}, {meter, kBeat, kBar},
        {meter, kBar, kBar},      {countoff, kTimecode, kBeat},
        {countoff, kBar, kBar},   {sound, kBeat, kTimecode},
        {sound, kBar, kTimecode}, {streamer, kTimecode, kTimecode},
        {streamer, kBar, kBar},
    };
    for (const Case& c : cases) {
        auto event = c.make();
        event->setLockType(c.requested);
        EXPECT_EQ(event->lockType(), c.expected) << event->eventTypeString() << " given " << c.requested;
    }
}

TEST_F(CueEventTest, LockTimeDictionaryCarriesTheTimecodeOrTheBeats) {
    auto event = CueEvent::eventWithNoCue();
    event->setLockPrerollShiftedBeats(200.0);
    event->setLockTimecode(timecode("1:00:01:00"));
    EXPECT_EQ(event->lockTime(), lockTimeDictionary(kBeat, Value(200.0)));
    event->setLockType(kBar);
    EXPECT_EQ(event->lockTime(), lockTimeDictionary(kBar, Value(200.0)));
    event->setLockType(kTimecode);
    const Value time = event->lockTime();
    EXPECT_EQ(time.dictionaryValue()->find("lockType")->toInt64(), kTimecode);
    EXPECT_EQ(time.dictionaryValue()->find("lockTime")->object<EMTimecode>(), event->lockTimecode());
}

TEST_F(CueEventTest, SetLockTimeStoresByTheDictionarysTypeWithoutChangingTheEventsType) {
    auto event = CueEvent::eventWithNoCue();
    event->setLockTime(lockTimeDictionary(kTimecode, Value(timecode("1:00:02:00"))));
    EXPECT_EQ(event->lockType(), kBeat);
    ASSERT_NE(event->lockTimecode(), nullptr);
    EXPECT_EQ(event->lockTimecode()->stringRepresentation(), "1:00:02:00");

    // A bare value is read in the event's own type.
    event->setLockTime(Value(300.0));
    EXPECT_EQ(event->lockPrerollShiftedBeats(), 300.0);

    // Bar: the bar of those beats, -32 when the cue has no sequence.
    event->setLockTime(lockTimeDictionary(kBar, Value(400.0)));
    EXPECT_EQ(event->lockBar(), -32);
    EXPECT_EQ(event->lockPrerollShiftedBeats(), 300.0);

    // Values of the wrong kind change nothing.
    event->setLockTime(lockTimeDictionary(kBeat, Value("soon")));
    event->setLockTime(lockTimeDictionary(kTimecode, Value(12.0)));
    EXPECT_EQ(event->lockPrerollShiftedBeats(), 300.0);
    EXPECT_EQ(event->lockTimecode()->stringRepresentation(), "1:00:02:00");
}

TEST_F(CueEventTest, DerivingTheBarWithoutASequenceGivesMinus32) {
    auto event = CueEvent::eventWithNoCue();
    event->setLockPrerollShiftedBeats(300.0);
    event->setLockTimecode(timecode("1:00:00:00"));
    event->updateLockTimesFromPrerollShiftedBeats();
    EXPECT_EQ(event->lockBar(), -32);
    // Without a cue the timecode cannot be derived and stays.
    EXPECT_EQ(event->lockTimecode()->stringRepresentation(), "1:00:00:00");
    EXPECT_FALSE(event->lockTimesAreUpdatingAutomatically());

    // A bar-locked event keeps its bar.
    event->setLockType(kBar);
    event->setLockBar(7);
    event->updateLockTimesFromPrerollShiftedBeats();
    EXPECT_EQ(event->lockBar(), 7);
}

TEST_F(CueEventTest, LockTimeTextFollowsTheLockType) {
    auto event = CueEvent::eventWithNoCue();
    event->setLockType(kTimecode);
    EXPECT_EQ(event->lockTimeString(), "-:—:—:—");
    event->setLockTimecode(timecode("1:02:03:04"));
    EXPECT_EQ(event->lockTimeString(), "1:02:03:04");
    EXPECT_EQ(event->lockTimeAttributedString(), "____");

    event->setLockType(kBeat);
    EXPECT_EQ(event->lockTimeString(), "-|-|---");
    event->setLockType(int32_t(fourCharCode("what")));
    EXPECT_EQ(event->lockTimeString(), "-");

    auto onCue = CueEvent::eventWithCue(cue);
    onCue->setLockType(kTimecode);
    onCue->setLockTimecode(timecode("1:02:03:04"));
    EXPECT_EQ(onCue->lockTimeAttributedString(), "1:02:03:04");
}

TEST_F(CueEventTest, TypedTimecodeIsReadAtTheProjectRate) {
    auto event = CueEvent::eventWithCue(cue);
    event->setLockType(kTimecode);
    event->setLockTimeString(Value("1:00:10:05"));
    ASSERT_NE(event->lockTimecode(), nullptr);
    EXPECT_EQ(event->lockTimecode()->stringRepresentation(), "1:00:10:05");
    event->setLockTimeAttributedString(Value("2:00:00:00"));
    EXPECT_EQ(event->lockTimecode()->stringRepresentation(), "2:00:00:00");
}

TEST_F(CueEventTest, UnusableLockTimeTextIsLoggedAndChangesNothing) {
    auto event = CueEvent::eventWithNoCue();
    event->setLockPrerollShiftedBeats(140.0);
    event->setLockTimeString(Value(12));
    EXPECT_TRUE(loggedLine("Couldn't set lock time -- got a NSNumber instead of NSString."));
    event->setLockTimeString(Value("3|1|000"));
    EXPECT_TRUE(loggedLine("Bar/beat formatter can't parse this because there's no cue in place."));
    EXPECT_EQ(event->lockPrerollShiftedBeats(), 140.0);
}

TEST_F(CueEventTest, NudgeMovesByFramesBeatsOrBars) {
    auto event = CueEvent::eventWithNoCue();
    event->setLockPrerollShiftedBeats(140.0);
    event->nudge(3);
    EXPECT_EQ(event->lockPrerollShiftedBeats(), 143.0);
    event->nudge(-100);
    EXPECT_EQ(event->lockPrerollShiftedBeats(), 128.0);

    event->setLockType(kBar);
    event->setLockBar(4);
    event->nudge(-2);
    EXPECT_EQ(event->lockBar(), 2);

    event->setLockType(kTimecode);
    auto original = timecode("1:00:00:24");
    event->setLockTimecode(original);
    event->nudge(2);
    EXPECT_EQ(event->lockTimecode()->stringRepresentation(), "1:00:01:01");
    // The old timecode object is not changed: it is replaced by a moved copy.
    EXPECT_EQ(original->stringRepresentation(), "1:00:00:24");
}

TEST_F(CueEventTest, LockTimeToNowTakesTheSyncTimecode) {
    auto event = CueEvent::eventWithCue(cue);
    event->setLockType(kTimecode);
    event->setLockTimecode(timecode("1:00:00:00"));
    event->setLockTimeToNow();  // no current timecode: nothing happens
    EXPECT_EQ(event->lockTimecode()->stringRepresentation(), "1:00:00:00");

    auto previous = CueEnvironment::install(std::make_shared<NowEnvironment>(timecode("1:00:05:10")));
    event->setLockTimeToNow();
    CueEnvironment::install(previous);
    EXPECT_EQ(event->lockTimecode()->stringRepresentation(), "1:00:05:10");
}

TEST_F(CueEventTest, ConvertingTheFrameRateKeepsTheFieldsOfTimecodeLockedEvents) {
    const EMTimecodeFramerate rate30 = EMTimecode::framerateForIndex(6);
    auto locked = CueEvent::eventWithNoCue();
    locked->setLockType(kTimecode);
    auto original = timecode("1:00:00:20");
    locked->setLockTimecode(original);
    locked->convertLockTimecodeToFramerate(rate30);
    EXPECT_EQ(locked->lockTimecode()->framerate(), rate30);
    EXPECT_EQ(locked->lockTimecode()->stringRepresentation(), "1:00:00:20");
    EXPECT_EQ(original->framerate(), EMTimecode::framerateForIndex(3));

    auto beatLocked = CueEvent::eventWithNoCue();
    beatLocked->setLockTimecode(timecode("1:00:00:20"));
    beatLocked->convertLockTimecodeToFramerate(rate30);
    EXPECT_EQ(beatLocked->lockTimecode()->framerate(), EMTimecode::framerateForIndex(3));
}

TEST_F(CueEventTest, NegativeBarsAreStoredAndLogged) {
    auto event = CueEvent::eventWithNoCue();
    event->setLockBar(-3);
    EXPECT_EQ(event->lockBar(), -3);
    EXPECT_TRUE(loggedLine("setting lock bar to -3"));
}

TEST_F(CueEventTest, DescriptionNamesClassBarBeatTimecodeAndCue) {
    auto event = CueEventStreamer::streamerEventWithCue(cue, nullptr, 3.0f, 1.0f, 2.5);
    event->setLockBar(2);
    event->setLockTimecode(timecode("1:00:00:00"));
    EXPECT_EQ(event->description(), "CueEventStreamer ( bar 2 | beat 130.5 | tc " +
                                        event->lockTimecode()->description() + " ) cue = " + cue->title());
    EXPECT_EQ(CueEvent::eventWithNoCue()->description(),
              "CueEvent ( bar 0 | beat 128 | tc (null) ) cue = (null)");

    auto click = CueEventClickChange::clickChangeEventWithCue(nullptr, 4.0);
    click->setChangePunches(true);
    EXPECT_EQ(click->description(), "Click Change Event at beat 132: (click change on, punch change on)");
}

// --- On a compiled cue (4/4 at 120 bpm, bar 1 at 128, 1:00:00:00 there) -------------------

TEST_F(CueEventTest, LockTimesShowAndParseThroughTheCuesSequence) {
    ASSERT_NE(cue->sequence(), nullptr);
    auto event = CueEvent::eventWithCue(cue);
    event->setLockPrerollShiftedBeats(137.5);
    EXPECT_EQ(event->lockTimeString(), "3|2|240");
    EXPECT_EQ(event->lockTimeAttributedString(), "3|2|240");
    event->setLockTimeString(Value("5|3|000"));
    EXPECT_EQ(event->lockPrerollShiftedBeats(), 146.0);

    event->setLockType(kBar);
    event->setLockBar(4);
    EXPECT_EQ(event->lockTimeString(), "5|-|---");  // shows the position's bar until recompiled
    event->setLockTimeString(Value("7"));
    EXPECT_EQ(event->lockBar(), 7);
    event->setLockTime(lockTimeDictionary(kBar, Value(129.0)));
    EXPECT_EQ(event->lockBar(), 1);
}

TEST_F(CueEventTest, DerivedLockTimesComeFromTheCue) {
    auto event = CueEvent::eventWithCue(cue);
    event->setLockPrerollShiftedBeats(136.0);
    const size_t steps = undoManager().undoStepCount();
    event->updateLockTimesFromPrerollShiftedBeats();
    EXPECT_EQ(undoManager().undoStepCount(), steps);
    EXPECT_EQ(event->lockBar(), 3);
    ASSERT_NE(event->lockTimecode(), nullptr);
    EXPECT_NEAR(event->lockTimecode()->secondsFromTimecode(*cue->syncTimecode()), 4.0, 0.04);

    auto meter = CueEventMeterChange::meterChangeEventWithCue(cue, TimeSignature{3, 4}, 8.0);
    EXPECT_EQ(meter->lockBar(), 3);
}

TEST_F(CueEventTest, LockTimeToNowPlacesBeatAndBarLockedEventsAtThePositionOfNow) {
    auto now = cue->timecodeForPrerollShiftedBeats(137.0);
    ASSERT_NE(now, nullptr);
    auto previous = CueEnvironment::install(std::make_shared<NowEnvironment>(now));
    auto beatLocked = CueEvent::eventWithCue(cue);
    beatLocked->setLockTimeToNow();
    auto barLocked = CueEvent::eventWithCue(cue);
    barLocked->setLockType(kBar);
    barLocked->setLockTimeToNow();
    CueEnvironment::install(previous);

    EXPECT_NEAR(beatLocked->lockPrerollShiftedBeats(), 137.0, 0.05);
    EXPECT_EQ(barLocked->lockBar(), 3);
}

// --- Undo ---------------------------------------------------------------------------

TEST_F(CueEventTest, LockEditsUndoAndRedoThroughTheDocument) {
    auto event = CueEvent::eventWithCue(cue);
    ASSERT_FALSE(undoManager().canUndo());  // creating registers nothing

    event->setLockPrerollShiftedBeats(200.0);
    event->setLockPrerollShiftedBeats(300.0);
    EXPECT_EQ(undoManager().undoStepCount(), 2u);
    EXPECT_EQ(undoManager().undoActionName(), "Change Event Lock Time");
    undoManager().undo();
    EXPECT_EQ(event->lockPrerollShiftedBeats(), 200.0);
    undoManager().undo();
    EXPECT_EQ(event->lockPrerollShiftedBeats(), 128.0);
    undoManager().redo();
    EXPECT_EQ(event->lockPrerollShiftedBeats(), 200.0);
    EXPECT_EQ(event->lockType(), kBeat);

    event->setLockType(kBar);
    EXPECT_EQ(undoManager().undoActionName(), "Change Event Lock Type");
    event->setLockBar(5);
    event->setLockBar(9);
    undoManager().undo();
    EXPECT_EQ(event->lockBar(), 5);
    undoManager().undo();
    EXPECT_EQ(event->lockBar(), 0);
    undoManager().undo();
    EXPECT_EQ(event->lockType(), kBeat);
    undoManager().redo();
    EXPECT_EQ(event->lockType(), kBar);
    undoManager().redo();
    EXPECT_EQ(event->lockBar(), 5);

    event->setLockType(kTimecode);
    event->setLockTimecode(timecode("1:00:00:00"));
    event->setLockTimecode(timecode("1:00:09:00"));
    undoManager().undo();
    EXPECT_EQ(event->lockTimecode()->stringRepresentation(), "1:00:00:00");
    undoManager().undo();
    EXPECT_EQ(event->lockTimecode(), nullptr);
    undoManager().redo();
    EXPECT_EQ(event->lockTimecode()->stringRepresentation(), "1:00:00:00");
    EXPECT_EQ(event->lockType(), kTimecode);
}

TEST_F(CueEventTest, ANudgeIsOneUndoableLockEdit) {
    auto event = CueEvent::eventWithCue(cue);
    event->setLockPrerollShiftedBeats(150.0);
    event->nudge(2);
    EXPECT_EQ(event->lockPrerollShiftedBeats(), 152.0);
    undoManager().undo();
    EXPECT_EQ(event->lockPrerollShiftedBeats(), 150.0);
}

TEST_F(CueEventTest, AutomaticUpdatesRegisterNoUndo) {
    auto event = CueEvent::eventWithCue(cue);
    event->setLockTimesAreUpdatingAutomatically(true);
    event->setLockPrerollShiftedBeats(200.0);
    event->setLockBar(3);
    event->setLockTimecode(timecode("1:00:00:00"));
    event->setLockType(kBar);
    event->setLockTimesAreUpdatingAutomatically(false);
    EXPECT_FALSE(undoManager().canUndo());
    event->updateLockTimesFromPrerollShiftedBeats();
    EXPECT_FALSE(undoManager().canUndo());
}

TEST_F(CueEventTest, FactoriesLeaveTheDocumentsUndoStateAsTheyFoundIt) {
    CueEventStreamer::streamerEventWithCue(cue, Color::calibrated(1, 0, 0), 2.0f, 1.0f, 8.0);
    EXPECT_TRUE(document->undoController().undoEnabled());
    EXPECT_FALSE(undoManager().canUndo());

    // A document that is loading has undo off and must keep it off.
    document->undoController().setUndoEnabled(false);
    CueEventMeterChange::meterChangeEventWithCue(cue, TimeSignature{3, 4}, 0.0);
    CueEvent::eventWithCue(cue);
    EXPECT_FALSE(document->undoController().undoEnabled());
    document->undoController().setUndoEnabled(true);
}

// --- Copies ----------------------------------------------------------------------------

TEST_F(CueEventTest, ACopyTakesTheLockTimesAndFieldsWithoutRegisteringUndo) {
    auto streamer = CueEventStreamer::streamerEventWithCue(cue, Color::calibrated(0, 0, 1), 2.0f, 0.5f, 12.0);
    streamer->setLockType(kTimecode);
    streamer->setLockTimecode(timecode("1:00:03:00"));
    streamer->setLockBar(4);
    undoManager().removeAllActions();

    auto copy = std::dynamic_pointer_cast<CueEventStreamer>(streamer->copy());
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy, streamer);
    EXPECT_EQ(copy->cue(), cue);
    EXPECT_EQ(copy->lockType(), kTimecode);
    EXPECT_EQ(copy->lockPrerollShiftedBeats(), 140.0);
    EXPECT_EQ(copy->lockBar(), 4);
    ASSERT_NE(copy->lockTimecode(), nullptr);
    EXPECT_NE(copy->lockTimecode(), streamer->lockTimecode());
    EXPECT_EQ(*copy->lockTimecode(), *streamer->lockTimecode());
    EXPECT_EQ(*copy->color(), *streamer->color());
    EXPECT_EQ(copy->feet(), 2.0f);
    EXPECT_EQ(copy->width(), 0.5f);
    EXPECT_FALSE(copy->lockTimesAreUpdatingAutomatically());
    EXPECT_FALSE(undoManager().canUndo());

    // The copy is an event of its own.
    copy->setFeet(6.0f);
    EXPECT_EQ(streamer->feet(), 2.0f);
}

TEST_F(CueEventTest, CopiesOfEveryKindKeepTheirKindAndFields) {
    auto meter = CueEventMeterChange::meterChangeWithCue(cue, TimeSignature{7, 8}, 8, 3);
    meter->setBeatPunchHoles(5);
    auto meterCopy = std::dynamic_pointer_cast<CueEventMeterChange>(meter->copy());
    ASSERT_NE(meterCopy, nullptr);
    EXPECT_EQ(meterCopy->meter(), (TimeSignature{7, 8}));
    EXPECT_EQ(meterCopy->clickNoteDuration(), 8);
    EXPECT_EQ(meterCopy->lockBar(), 3);
    EXPECT_EQ(meterCopy->beatPunchHoles(), 5);

    auto end = CueEventCueEnd::cueEndEventWithCue(cue);
    end->setAutoFollowCueNumber("5m2");
    auto endCopy = std::dynamic_pointer_cast<CueEventCueEnd>(end->copy());
    ASSERT_NE(endCopy, nullptr);
    EXPECT_EQ(endCopy->autoFollowCueNumber(), "5m2");
    EXPECT_FALSE(endCopy->autoFollow());

    auto countoff = CueEventCountoff::countoffEventWithCue(cue, 8.0, 2, 8, false, true, false, true);
    auto countoffCopy = std::dynamic_pointer_cast<CueEventCountoff>(countoff->copy());
    ASSERT_NE(countoffCopy, nullptr);
    EXPECT_EQ(countoffCopy->eventProxy(), countoff->eventProxy());

    auto musicIn = CueEventMusicIn::musicInEventWithCue(cue);
    EXPECT_NE(std::dynamic_pointer_cast<CueEventMusicIn>(musicIn->copy()), nullptr);
    EXPECT_EQ(CueEvent::eventWithNoCue()->copy()->archiveClassName(), "CueEvent");
}

}  // namespace
}  // namespace tollvane
