#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "CueEventTestSupport.h"
#include "model/CueEventClickChange.h"
#include "model/CueEventCountoff.h"
#include "model/CueEventCueEnd.h"
#include "model/CueEventMeterChange.h"
#include "model/CueEventMusicIn.h"
#include "model/CueEventStreamer.h"
#include "model/CueEventTempoChange.h"
#include "platform/NotificationCenter.h"
#include "platform/archive/Color.h"

namespace tollvane {
namespace {

class CueEventListTest : public CueEventTestBase {
protected:
    std::shared_ptr<CueEventStreamer> streamerAt(double timeStamp) {
        return CueEventStreamer::streamerEventWithCue(cue, Color::calibratedWhite(1.0), 3.0f, 1.0f,
                                                      timeStamp);
    }
    bool parked(const std::shared_ptr<CueEvent>& event) {
        const auto& objects = document->undoController().deletedObjects();
        return std::find(objects.begin(), objects.end(), Value(event)) != objects.end();
    }
    static bool holds(const std::vector<std::shared_ptr<CueEvent>>& list,
                      const std::shared_ptr<CueEvent>& event) {
        return std::find(list.begin(), list.end(), event) != list.end();
    }
};

TEST_F(CueEventListTest, EachKindGoesToItsListWithItsUndoName) {
    auto other = Cue::create();
    const std::pair<std::shared_ptr<CueEvent>, const std::vector<std::shared_ptr<CueEvent>>*> cases[] = {
        {CueEventTempoChange::tempoChangeEventWithCue(other, 90.0, 6, 0.0), &cue->tempoEvents()},
        {CueEventMeterChange::meterChangeWithCue(other, {3, 4}, -2, 2), &cue->meterEvents()},
        {CueEventClickChange::clickChangeEventWithCue(other, 4.0), &cue->meterEvents()},
        {CueEventCountoff::countoffEventWithCue(other, 8.0), &cue->countoffEvents()},
        {CueEventStreamer::streamerEventWithCue(other, Color::calibratedWhite(1.0), 3.0f, 1.0f, 1.0),
         &cue->trackEvents()},
    };
    for (const auto& [event, list] : cases) {
        cue->addEvent(event);
        EXPECT_EQ(event->cue(), cue);
        EXPECT_TRUE(holds(*list, event)) << event->eventTypeString();
        EXPECT_EQ(undoManager().undoActionName(), "Add " + event->eventTypeString());
    }
    cue->addEvent(cases[0].first);  // already held: nothing
    EXPECT_EQ(cue->tempoEvents().size(), 1u);
    EXPECT_EQ(undoManager().undoStepCount(), std::size(cases));
}

TEST_F(CueEventListTest, RemovingParksTheVeryEventAndUndoBringsItBack) {
    auto first = streamerAt(4.0);
    auto twin = streamerAt(4.0);  // equal in every field: only identity tells them apart
    auto end = CueEventCueEnd::cueEndEventWithCue(cue);
    for (const auto& event :
         {std::shared_ptr<CueEvent>(first), std::shared_ptr<CueEvent>(twin), std::shared_ptr<CueEvent>(end)})
        cue->addEvent(event);
    undoManager().removeAllActions();

    cue->removeEvent(streamerAt(4.0));  // not held: no step
    EXPECT_FALSE(undoManager().canUndo());
    cue->removeEvent(twin);
    cue->removeEvent(end);
    EXPECT_EQ(undoManager().undoActionName(), "Delete Event");
    EXPECT_EQ(cue->trackEvents(), std::vector<std::shared_ptr<CueEvent>>{first});
    EXPECT_FALSE(cue->hasCueEndEvent());
    EXPECT_TRUE(parked(twin) && parked(end));

    undoManager().undo();
    undoManager().undo();
    EXPECT_EQ(cue->cueEndEvent(), end);
    EXPECT_TRUE(holds(cue->trackEvents(), twin));
    EXPECT_FALSE(parked(twin) || parked(end));
    // The rebuild the edits asked for places the streamer in bar 2.
    loop.advance(0.2);
    EXPECT_EQ(twin->lockBar(), 2);
}

TEST_F(CueEventListTest, ANewStartOrEndEventReplacesTheOldOneUndoably) {
    auto oldEnd = CueEventCueEnd::cueEndEventWithCue(cue);
    auto newEnd = CueEventCueEnd::cueEndEventWithCue(cue);
    auto oldStart = CueEventMusicIn::musicInEventWithCue(cue);
    auto newStart = CueEventMusicIn::musicInEventWithCue(cue);
    cue->addEvent(oldEnd);
    cue->addEvent(oldStart);
    undoManager().removeAllActions();

    cue->addEvent(newEnd);
    cue->addEvent(newStart);
    EXPECT_EQ(cue->cueEndEvent(), newEnd);
    EXPECT_EQ(cue->cueStartEvent(), newStart);
    EXPECT_EQ(undoManager().undoStepCount(), 2u);
    EXPECT_EQ(undoManager().undoActionName(), "Add Event");
    undoManager().undo();
    undoManager().undo();
    EXPECT_EQ(cue->cueEndEvent(), oldEnd);
    EXPECT_EQ(cue->cueStartEvent(), oldStart);
}

TEST_F(CueEventListTest, TheListViewGetsEveryEventByTime) {
    auto musicIn = CueEventMusicIn::musicInEventWithCue(cue);  // at 128
    auto streamer = streamerAt(2.0);
    auto end = CueEventCueEnd::cueEndEventWithCue(cue);
    end->setLockPrerollShiftedBeats(200.0);
    auto early = streamerAt(1.0);
    auto tempo = CueEventTempoChange::tempoChangeEventWithCue(cue, 100.0, 6, 1.0);
    auto countoff = CueEventCountoff::countoffEventWithCue(cue, 40.0);
    const std::vector<std::shared_ptr<CueEvent>> added = {end, streamer, early, tempo, countoff, musicIn};
    for (const auto& event : added) cue->addEvent(event);
    // Equal times keep list order: tempo changes come before track events.
    const std::vector<std::shared_ptr<CueEvent>> expected = {musicIn, tempo, early, streamer, countoff, end};
    EXPECT_EQ(cue->eventsForArrayController(), expected);
}

TEST_F(CueEventListTest, ReSortingSortsTheMeterListAndPostsTheNotification) {
    auto late = CueEventClickChange::clickChangeEventWithCue(cue, 16.0);
    auto early = CueEventClickChange::clickChangeEventWithCue(cue, 4.0);
    cue->addEvent(late);
    cue->addEvent(early);
    int posted = 0;
    const auto token = NotificationCenter::defaultCenter().addObserver(
        "TLCueEventsShouldResortNotification", [&posted](const Notification&) { ++posted; });
    cue->eventsNeedResorting();
    NotificationCenter::defaultCenter().removeObserver(token);
    EXPECT_EQ(cue->meterEvents().front(), early);
    EXPECT_EQ(posted, 1);
    EXPECT_EQ(undoManager().undoActionName(), "Re-Sort Events");
}

}  // namespace
}  // namespace tollvane
