#include "model/CueBarEditor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "CueEventTestSupport.h"
#include "model/CueEventClickChange.h"
#include "model/CueEventMeterChange.h"
#include "model/CueEventPunch.h"
#include "model/CueEventStreamer.h"
#include "model/CueEventTempoChange.h"
#include "platform/archive/Color.h"

namespace tollvane {
namespace {

using Edit = CueBarEditor::DeleteEdit;
using Kind = CueBarEditor::Kind;
constexpr int32_t kBeat = CueEvent::kLockTypeBeat;
constexpr int32_t kBar = CueEvent::kLockTypeBar;
constexpr int32_t kTimecode = CueEvent::kLockTypeTimecode;

TEST(CueBarEditorDecisions, DeletingKeepsMovesOrRemoves) {
    // Bars 3 and 4 of a 4/4 cue: downbeats 136 and 144.
    const CueBarEditor::DeletedBars deleted{136.0, 144.0, 3, 2};
    struct Case {
        int32_t lockType;
        Kind kind;
        double position;
        int32_t bar;
        Edit edit;
    };
    const Case cases[] = {
        {kBeat, Kind::Other, 135.94, 0, Edit::Keep},
        {kBeat, Kind::Other, 135.95, 0, Edit::Remove},
        {kBeat, Kind::Other, 143.9, 0, Edit::Remove},
        // The downbeat after the deleted bars: only tempo, meter and click changes go.
        {kBeat, Kind::Other, 143.95, 0, Edit::MoveBack},
        {kBeat, Kind::Other, 144.0, 0, Edit::MoveBack},
        {kBeat, Kind::TempoChange, 144.0, 0, Edit::Remove},
        {kBeat, Kind::ClickChange, 144.04, 0, Edit::Remove},
        {kBeat, Kind::TempoChange, 144.05, 0, Edit::MoveBack},
        {kBar, Kind::Other, 0.0, 2, Edit::Keep},
        {kBar, Kind::Other, 0.0, 3, Edit::Remove},
        {kBar, Kind::Other, 0.0, 5, Edit::MoveBack},
        {kBar, Kind::MeterChange, 0.0, 5, Edit::Remove},
        {kBar, Kind::MeterChange, 0.0, 6, Edit::MoveBack},
        {kTimecode, Kind::TempoChange, 140.0, 4, Edit::Keep},
        {0, Kind::Other, 140.0, 4, Edit::Keep},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CueBarEditor::deleteEditFor(c.lockType, c.kind, c.position, c.bar, deleted), c.edit)
            << c.position << " bar " << c.bar << " kind " << static_cast<int>(c.kind);
    }
}

TEST(CueBarEditorDecisions, InsertingMovesWhatLiesAtOrAfterThePoint) {
    struct Case {
        int32_t lockType;
        Kind kind;
        double position;
        int32_t bar;
        bool changesStay;
        bool moves;
    };
    const Case cases[] = {
        {kBeat, Kind::Other, 135.94, 0, false, false},      {kBeat, Kind::Other, 135.95, 0, false, true},
        {kBeat, Kind::Other, 136.0, 0, true, true},         {kBeat, Kind::TempoChange, 136.0, 0, false, true},
        {kBeat, Kind::TempoChange, 136.05, 0, true, false}, {kBeat, Kind::TempoChange, 136.06, 0, true, true},
        {kBeat, Kind::ClickChange, 136.0, 0, true, true},   {kBar, Kind::MeterChange, 0.0, 3, true, false},
        {kBar, Kind::MeterChange, 0.0, 3, false, true},     {kBar, Kind::MeterChange, 0.0, 4, true, true},
        {kBar, Kind::Other, 0.0, 2, false, false},          {kBar, Kind::Other, 0.0, 3, true, true},
        {kTimecode, Kind::Other, 200.0, 9, false, false},
    };
    for (const Case& c : cases) {
        const CueBarEditor::InsertionPoint point{136.0, 3, c.changesStay};
        EXPECT_EQ(CueBarEditor::movesOnInsert(c.lockType, c.kind, c.position, c.bar, point), c.moves)
            << c.position << " bar " << c.bar << " kind " << static_cast<int>(c.kind);
    }
}

// A 4/4 cue at 120 bpm: cue bar n starts at 128 + 4 (n - 1).
class CueBarEditorTest : public CueEventTestBase {
protected:
    std::shared_ptr<CueEventStreamer> streamerAt(double position) {
        auto streamer = CueEventStreamer::streamerEventWithCue(cue, Color::calibratedWhite(1.0), 3.0f, 1.0f,
                                                               position - 128.0);
        cue->addEvent(streamer);
        return streamer;
    }
    std::shared_ptr<CueEventPunch> punchAtBar(int32_t bar) {
        auto punch = CueEventPunch::punchEventWithCue(cue, Color::calibratedWhite(1.0), 3, 1.0f, 0.0);
        punch->setLockType(CueEvent::kLockTypeBar);
        punch->setLockBar(bar);
        cue->addEvent(punch);
        return punch;
    }
    std::shared_ptr<CueEventTempoChange> tempoAt(double position, double bpm = 90.0) {
        auto tempo = CueEventTempoChange::tempoChangeEventWithCue(cue, bpm, 6, position - 128.0);
        cue->addEvent(tempo);
        return tempo;
    }
    std::shared_ptr<CueEventMeterChange> meterAtBar(int32_t bar, TimeSignature meter) {
        auto change = CueEventMeterChange::meterChangeWithCue(cue, meter, -2, bar);
        cue->addEvent(change);
        return change;
    }
    // Compiles what was set up and forgets its undo steps.
    void settle() {
        loop.advance(0.2);
        undoManager().removeAllActions();
    }
    void expectNoOpenGroup() {
        EXPECT_FALSE(document->undoController().undoGroupName());
        EXPECT_EQ(undoManager().groupingLevel(), 0);
    }
    template <class List>
    static bool holds(const List& list, const std::shared_ptr<CueEvent>& event) {
        return std::find(list.begin(), list.end(), event) != list.end();
    }
};

TEST_F(CueBarEditorTest, DeletingTwoBarsAtBarThree) {
    auto early = streamerAt(130.0);
    auto inDeletedBar = streamerAt(140.0);     // bar 4
    auto tempoAfter = tempoAt(144.0);          // bar 5, the first downbeat after
    auto onDownbeatAfter = streamerAt(144.0);  // bar 5
    auto atBarSeven = streamerAt(152.0);       // bar 7
    auto barLockedAtSeven = punchAtBar(7);
    auto pictureLocked = CueEventPunch::punchEventWithCue(cue, Color::calibratedWhite(1.0), 3, 1.0f, 0.0);
    pictureLocked->setLockType(CueEvent::kLockTypeTimecode);
    pictureLocked->setLockTimecode(
        EMTimecode::timecodeWithFramerate(EMTimecode::framerateForIndex(3), "1:00:05:00"));
    cue->addEvent(pictureLocked);
    cue->setSyncPrerollShiftedBeats(Value(148.0));
    settle();

    cue->deleteBars(2, 3);
    expectNoOpenGroup();
    EXPECT_EQ(undoManager().undoActionName(), "Delete Bars");
    EXPECT_EQ(undoManager().undoStepCount(), 1u);

    EXPECT_EQ(early->lockPrerollShiftedBeats(), 130.0);
    EXPECT_FALSE(holds(cue->trackEvents(), inDeletedBar));
    EXPECT_TRUE(holds(cue->tempoEvents(), tempoAfter));
    EXPECT_EQ(tempoAfter->lockPrerollShiftedBeats(), 136.0);
    EXPECT_EQ(onDownbeatAfter->lockPrerollShiftedBeats(), 136.0);
    EXPECT_EQ(atBarSeven->lockPrerollShiftedBeats(), 144.0);
    EXPECT_EQ(barLockedAtSeven->lockBar(), 5);
    EXPECT_EQ(pictureLocked->lockTimecode()->stringRepresentation(), "1:00:05:00");
    // Only inserting bars moves the sync point.
    EXPECT_EQ(cue->syncPrerollShiftedBeats(), 148.0);
    loop.advance(0.2);
    EXPECT_EQ(atBarSeven->lockBar(), 5);

    undoManager().undo();
    expectNoOpenGroup();
    EXPECT_TRUE(holds(cue->trackEvents(), inDeletedBar));
    EXPECT_EQ(inDeletedBar->lockPrerollShiftedBeats(), 140.0);
    EXPECT_EQ(tempoAfter->lockPrerollShiftedBeats(), 144.0);
    EXPECT_EQ(onDownbeatAfter->lockPrerollShiftedBeats(), 144.0);
    EXPECT_EQ(atBarSeven->lockPrerollShiftedBeats(), 152.0);
    EXPECT_EQ(barLockedAtSeven->lockBar(), 7);
    EXPECT_EQ(cue->tempoEvents().size(), 1u);
    EXPECT_EQ(cue->trackEvents().size(), 6u);
    EXPECT_EQ(undoManager().redoActionName(), "Delete Bars");

    undoManager().redo();
    EXPECT_FALSE(holds(cue->trackEvents(), inDeletedBar));
    EXPECT_EQ(tempoAfter->lockPrerollShiftedBeats(), 136.0);
    EXPECT_EQ(atBarSeven->lockPrerollShiftedBeats(), 144.0);
    EXPECT_EQ(barLockedAtSeven->lockBar(), 5);
}

TEST_F(CueBarEditorTest, TheLastTempoMeterAndClickOfTheDeletedBarsStayInForce) {
    // Bar 3 in 3/4 (136-139), bar 4 in 5/4 (139-144), bar 6 back to 4/4.
    auto threeFour = meterAtBar(3, {3, 4});
    auto fiveFour = meterAtBar(4, {5, 4});
    auto fourFour = meterAtBar(6, {4, 4});
    auto firstTempo = tempoAt(137.0, 80.0);
    auto lastTempo = tempoAt(141.0, 100.0);
    auto click = CueEventClickChange::clickChangeEventWithCue(cue, 138.0 - 128.0);
    cue->addEvent(click);
    auto afterward = streamerAt(150.0);  // bar 6 (4/4 from 149), beat 2
    settle();

    cue->deleteBars(2, 3);
    EXPECT_FALSE(holds(cue->meterEvents(), threeFour));
    EXPECT_TRUE(holds(cue->meterEvents(), fiveFour));
    EXPECT_EQ(fiveFour->lockBar(), 3);
    EXPECT_EQ(fourFour->lockBar(), 4);
    EXPECT_FALSE(holds(cue->tempoEvents(), firstTempo));
    EXPECT_TRUE(holds(cue->tempoEvents(), lastTempo));
    EXPECT_EQ(lastTempo->lockPrerollShiftedBeats(), 136.0);
    EXPECT_TRUE(holds(cue->meterEvents(), click));
    EXPECT_EQ(click->lockPrerollShiftedBeats(), 136.0);
    EXPECT_EQ(afterward->lockPrerollShiftedBeats(), 142.0);
    EXPECT_EQ(cue->meterEvents().size(), 3u);

    undoManager().undo();
    EXPECT_EQ(fiveFour->lockBar(), 4);
    EXPECT_EQ(lastTempo->lockPrerollShiftedBeats(), 141.0);
    EXPECT_EQ(cue->meterEvents().size(), 4u);
}

TEST_F(CueBarEditorTest, InsertingOneBarBeforeBarThreeByTempoOption) {
    struct Case {
        int32_t option;
        int32_t meterBar;  // where the 3/4 at bar 3 ends up
        double tempo;      // the tempo change at 136
        double streamer;   // the streamer at 136
        double sync;       // the sync point at 136
    };
    // Option 1 inserts a bar as long as bar 2 (4 beats), the others one as long as bar 3 (3 beats);
    // option 2 leaves the tempo and meter changes on the insertion point.
    const Case cases[] = {
        {0, 4, 139.0, 139.0, 139.0},
        {1, 4, 140.0, 140.0, 140.0},
        {2, 3, 136.0, 139.0, 139.0},
    };
    for (const Case& c : cases) {
        cue->meterEvents().clear();
        cue->tempoEvents().clear();
        cue->trackEvents().clear();
        auto meter = meterAtBar(3, {3, 4});
        auto tempo = tempoAt(136.0);
        auto streamer = streamerAt(136.0);
        auto before = streamerAt(135.0);
        auto barLocked = punchAtBar(5);
        cue->setSyncPrerollShiftedBeats(Value(136.0));
        settle();

        cue->insertBars(1, 3, c.option);
        expectNoOpenGroup();
        EXPECT_EQ(undoManager().undoActionName(), "Insert Bars");
        EXPECT_EQ(meter->lockBar(), c.meterBar) << c.option;
        EXPECT_EQ(tempo->lockPrerollShiftedBeats(), c.tempo) << c.option;
        EXPECT_EQ(streamer->lockPrerollShiftedBeats(), c.streamer) << c.option;
        EXPECT_EQ(cue->syncPrerollShiftedBeats(), c.sync) << c.option;
        EXPECT_EQ(before->lockPrerollShiftedBeats(), 135.0) << c.option;
        EXPECT_EQ(barLocked->lockBar(), 6) << c.option;

        undoManager().undo();
        EXPECT_EQ(meter->lockBar(), 3) << c.option;
        EXPECT_EQ(tempo->lockPrerollShiftedBeats(), 136.0) << c.option;
        EXPECT_EQ(streamer->lockPrerollShiftedBeats(), 136.0) << c.option;
        EXPECT_EQ(cue->syncPrerollShiftedBeats(), 136.0) << c.option;
        EXPECT_EQ(barLocked->lockBar(), 5) << c.option;
    }
}

TEST_F(CueBarEditorTest, NoBarsChangeNothingAndLeaveNoGroupOpen) {
    auto streamer = streamerAt(140.0);
    auto barLocked = punchAtBar(4);
    settle();
    for (int32_t count : {0, -2}) {
        cue->deleteBars(count, 3);
        expectNoOpenGroup();
        cue->insertBars(count, 3, 2);
        expectNoOpenGroup();
    }
    EXPECT_EQ(streamer->lockPrerollShiftedBeats(), 140.0);
    EXPECT_EQ(barLocked->lockBar(), 4);
    EXPECT_EQ(cue->trackEvents().size(), 2u);
    EXPECT_EQ(cue->syncPrerollShiftedBeats(), 128.0);
}

TEST_F(CueBarEditorTest, AnEditStillWaitingForItsRebuildCounts) {
    auto streamer = streamerAt(140.0);
    settle();
    // Bar 2 becomes 3/4 and nothing has compiled it yet: bar 3 is 135-138.
    meterAtBar(2, {3, 4});
    cue->deleteBars(1, 3);
    EXPECT_EQ(streamer->lockPrerollShiftedBeats(), 137.0);
}

}  // namespace
}  // namespace tollvane
