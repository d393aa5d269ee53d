#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <thread>
#include <vector>

#include "playback/sequence/MusicEventIterator.h"
#include "playback/sequence/MusicSequence.h"

namespace tollvane {
namespace {

std::vector<uint8_t> userBlock(uint8_t tag, uint32_t length = 4) {
    std::vector<uint8_t> block(4 + length, tag);
    std::memcpy(block.data(), &length, 4);
    return block;
}

uint8_t tagOf(const MusicEventData& event) {
    return event.payload.back();
}

MIDINoteMessage note(uint8_t key, float duration) {
    MIDINoteMessage message;
    message.note = key;
    message.velocity = 100;
    message.duration = duration;
    return message;
}

class MusicSequenceTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(sequence.newTrack(track), kMusicSequenceNoErr); }

    void addUser(MusicTrack& to, double beats, uint8_t tag) {
        ASSERT_EQ(to.newUserEvent(beats, userBlock(tag).data()), kMusicSequenceNoErr);
    }

    std::vector<uint8_t> tags(const MusicTrack& of) const {
        std::vector<uint8_t> out;
        for (const auto& event : of.events()) out.push_back(tagOf(event));
        return out;
    }

    MusicSequence sequence;
    MusicTrack* track = nullptr;
};

TEST_F(MusicSequenceTest, EventsStayInTimeOrderAndEqualTimesKeepTheirOrder) {
    addUser(*track, 2.0, 1);
    addUser(*track, 1.0, 2);
    addUser(*track, 2.0, 3);
    addUser(*track, 0.5, 4);
    addUser(*track, 2.0, 5);
    addUser(*track, 1.0, 6);
    EXPECT_EQ(tags(*track), (std::vector<uint8_t>{4, 2, 6, 1, 3, 5}));

    std::vector<MusicEventData> batch;
    batch.push_back(MusicEventData::user(2.0, userBlock(7).data() + 4, 4));
    batch.push_back(MusicEventData::user(0.0, userBlock(8).data() + 4, 4));
    batch.push_back(MusicEventData::user(2.0, userBlock(9).data() + 4, 4));
    ASSERT_EQ(track->addEvents(batch), kMusicSequenceNoErr);
    EXPECT_EQ(tags(*track), (std::vector<uint8_t>{8, 4, 2, 6, 1, 3, 5, 7, 9}));
}

TEST_F(MusicSequenceTest, EventsOfTheWrongShapeAreRefused) {
    MusicEventData shortNote;
    shortNote.type = kMusicEventType_MIDINoteMessage;
    shortNote.payload.resize(7);
    MusicEventData lyingUser = MusicEventData::user(0, userBlock(1).data() + 4, 4);
    lyingUser.payload.pop_back();
    MusicEventData lyingMeta = MusicEventData::meta(0, 3, "name");
    lyingMeta.payload.push_back(0);
    MusicEventData unknown;
    unknown.type = 11;
    MusicEventData null;
    MusicEventData late = MusicEventData::fixed(std::nan(""), kMusicEventType_MIDINoteMessage, note(60, 1));

    EXPECT_EQ(track->addEvent(shortNote), kMusicSequenceError_InvalidArgument);
    EXPECT_EQ(track->addEvent(lyingUser), kMusicSequenceError_InvalidArgument);
    EXPECT_EQ(track->addEvent(lyingMeta), kMusicSequenceError_InvalidArgument);
    EXPECT_EQ(track->addEvent(unknown), kMusicSequenceError_InvalidEventType);
    EXPECT_EQ(track->addEvent(null), kMusicSequenceError_InvalidEventType);
    EXPECT_EQ(track->addEvent(late), kMusicSequenceError_InvalidArgument);
    EXPECT_EQ(track->newExtendedTempoEvent(0, 0.0), kMusicSequenceError_InvalidArgument);
    EXPECT_EQ(track->newExtendedTempoEvent(0, INFINITY), kMusicSequenceError_InvalidArgument);
    EXPECT_EQ(track->newUserEvent(0, nullptr), kMusicSequenceError_InvalidArgument);
    EXPECT_EQ(track->addEvents({MusicEventData::tempo(0, 120), shortNote}),
              kMusicSequenceError_InvalidArgument);
    EXPECT_EQ(track->eventCount(), 0u);
}

TEST_F(MusicSequenceTest, LengthsCountNoteDurations) {
    EXPECT_DOUBLE_EQ(track->length(), 0.0);
    track->newMIDINoteEvent(3.0, note(60, 2.5f));
    addUser(*track, 4.0, 1);
    EXPECT_DOUBLE_EQ(track->length(), 5.5);
    sequence.tempoTrack().newExtendedTempoEvent(8.0, 100);
    EXPECT_DOUBLE_EQ(sequence.lengthInBeats(), 8.0);
    MusicTrack* other = nullptr;
    sequence.newTrack(other);
    other->newMIDINoteEvent(9.0, note(61, 1.0f));
    EXPECT_DOUBLE_EQ(sequence.lengthInBeats(), 10.0);
}

TEST_F(MusicSequenceTest, ASetLengthHoldsUntilEventsGoPastIt) {
    track->newMIDINoteEvent(1.0, note(60, 2.0f));
    ASSERT_EQ(track->setLength(8.0), kMusicSequenceNoErr);
    EXPECT_DOUBLE_EQ(track->length(), 8.0);
    EXPECT_DOUBLE_EQ(sequence.lengthInBeats(), 8.0);

    track->newMIDINoteEvent(7.5, note(62, 1.5f));
    EXPECT_DOUBLE_EQ(track->length(), 9.0) << "a note ending past the set length extends the track";
    addUser(*track, 12.0, 1);
    EXPECT_DOUBLE_EQ(track->length(), 12.0);
    ASSERT_EQ(track->clear(7.0, 20.0), kMusicSequenceNoErr);
    EXPECT_DOUBLE_EQ(track->length(), 8.0) << "without them the set length is back";

    ASSERT_EQ(track->setLength(0.5), kMusicSequenceNoErr);
    EXPECT_DOUBLE_EQ(track->length(), 3.0) << "shorter than the events: they decide";
    ASSERT_EQ(sequence.tempoTrack().setLength(20.0), kMusicSequenceNoErr);
    EXPECT_DOUBLE_EQ(sequence.lengthInBeats(), 20.0);

    for (const double bad : {-1.0, -1e-300, double(NAN), double(INFINITY), -double(INFINITY)}) {
        EXPECT_EQ(track->setLength(bad), kMusicSequenceError_InvalidArgument) << bad;
    }
    EXPECT_DOUBLE_EQ(track->length(), 3.0);
    ASSERT_EQ(track->setLength(0.0), kMusicSequenceNoErr);
    EXPECT_DOUBLE_EQ(track->length(), 3.0);
}

TEST_F(MusicSequenceTest, SettingALengthCountsAsAChange) {
    const uint64_t start = sequence.changeCount();
    ASSERT_EQ(track->setLength(4.0), kMusicSequenceNoErr);
    EXPECT_EQ(sequence.changeCount(), start + 1);
    ASSERT_EQ(track->setLength(4.0), kMusicSequenceNoErr);
    EXPECT_EQ(sequence.changeCount(), start + 1) << "the same length again changes nothing";
}

TEST_F(MusicSequenceTest, ConversionsSeeTheEventsAddedSoFar) {
    double seconds = 0.0;
    ASSERT_EQ(sequence.secondsForBeats(8.0, seconds), kMusicSequenceNoErr);
    EXPECT_DOUBLE_EQ(seconds, 4.0);
    auto before = sequence.tempoMap();
    sequence.tempoTrack().newExtendedTempoEvent(4.0, 60);
    sequence.secondsForBeats(8.0, seconds);
    EXPECT_DOUBLE_EQ(seconds, 6.0);
    EXPECT_DOUBLE_EQ(before->secondsForBeats(8.0), 4.0) << "a snapshot held by a reader never changes";

    const uint8_t threeFour[4] = {3, 2, 24, 8};
    sequence.tempoTrack().newMetaEvent(4.0, 0x58, threeFour, 4);
    BarBeatTime time;
    ASSERT_EQ(sequence.beatsToBarBeatTime(7.0, 480, time), kMusicSequenceNoErr);
    EXPECT_EQ(time, (BarBeatTime{3, 1, 0, 480, 0}));
    double beats = 0.0;
    ASSERT_EQ(sequence.barBeatTimeToBeats(BarBeatTime{4, 1, 0, 24, 0}, beats), kMusicSequenceNoErr);
    EXPECT_DOUBLE_EQ(beats, 10.0);
    EXPECT_EQ(sequence.secondsForBeats(NAN, seconds), kMusicSequenceError_InvalidArgument);
    EXPECT_EQ(sequence.beatsForSeconds(INFINITY, beats), kMusicSequenceError_InvalidArgument);

    // Tempo events on other tracks do not count.
    track->newExtendedTempoEvent(0.0, 30);
    sequence.secondsForBeats(2.0, seconds);
    EXPECT_DOUBLE_EQ(seconds, 1.0);
}

TEST_F(MusicSequenceTest, TracksByIndex) {
    MusicTrack* second = nullptr;
    sequence.newTrack(second);
    EXPECT_EQ(sequence.trackCount(), 2u);
    uint32_t index = 99;
    EXPECT_EQ(sequence.trackIndex(second, index), kMusicSequenceNoErr);
    EXPECT_EQ(index, 1u);
    EXPECT_EQ(sequence.trackIndex(&sequence.tempoTrack(), index), kMusicSequenceError_TrackNotFound);
    MusicTrack* found = nullptr;
    EXPECT_EQ(sequence.trackAtIndex(2, found), kMusicSequenceError_TrackNotFound);
    EXPECT_EQ(sequence.disposeTrack(&sequence.tempoTrack()), kMusicSequenceError_InvalidArgument);
    EXPECT_EQ(sequence.disposeTrack(track), kMusicSequenceNoErr);
    EXPECT_EQ(sequence.disposeTrack(track), kMusicSequenceError_TrackNotFound);
    ASSERT_EQ(sequence.trackAtIndex(0, found), kMusicSequenceNoErr);
    EXPECT_EQ(found, second);
    EXPECT_TRUE(sequence.tempoTrack().isTempoTrack());
    EXPECT_EQ(&second->sequence(), &sequence);
}

TEST_F(MusicSequenceTest, UserEventSnapshotsAreHalfOpenAndInTimeOrder) {
    MusicTrack* second = nullptr;
    sequence.newTrack(second);
    addUser(*track, 1.0, 1);
    addUser(*second, 0.5, 2);
    addUser(*second, 1.0, 3);
    addUser(*track, 2.0, 4);
    track->newMIDINoteEvent(1.5, note(60, 1));
    addUser(sequence.tempoTrack(), 1.0, 5);

    std::vector<MusicSequence::ScheduledUserEvent> events;
    sequence.copyUserEvents(0.5, 2.0, events);
    std::vector<uint8_t> order;
    for (const auto& event : events) order.push_back(event.userData.back());
    EXPECT_EQ(order, (std::vector<uint8_t>{2, 5, 1, 3}));
    EXPECT_EQ(events[0].track, second);
    EXPECT_EQ(events[2].userData, userBlock(1));
    EXPECT_DOUBLE_EQ(events[1].time, 1.0);

    events.clear();
    sequence.copyUserEvents(2.0, 2.0, events);
    EXPECT_TRUE(events.empty());

    double next = 0.0;
    ASSERT_TRUE(sequence.nextUserEventTime(1.2, next));
    EXPECT_DOUBLE_EQ(next, 2.0);
    ASSERT_TRUE(sequence.nextUserEventTime(0.0, next));
    EXPECT_DOUBLE_EQ(next, 0.5);
    EXPECT_FALSE(sequence.nextUserEventTime(2.01, next));
}

TEST_F(MusicSequenceTest, ChangesAreCountedAndClearRemovesARange) {
    const uint64_t start = sequence.changeCount();
    addUser(*track, 1.0, 1);
    addUser(*track, 2.0, 2);
    addUser(*track, 3.0, 3);
    EXPECT_EQ(sequence.changeCount(), start + 3);
    EXPECT_EQ(track->clear(2.0, 3.0), kMusicSequenceNoErr);
    EXPECT_EQ(tags(*track), (std::vector<uint8_t>{1, 3}));
    double next = 0.0;
    ASSERT_TRUE(sequence.nextUserEventTime(1.5, next));
    EXPECT_DOUBLE_EQ(next, 3.0);
}

TEST_F(MusicSequenceTest, AdoptingContentsMovesTracksAndTempo) {
    addUser(*track, 1.0, 1);
    MusicSequence source;
    MusicTrack* loaded = nullptr;
    source.newTrack(loaded);
    loaded->newMIDINoteEvent(2.0, note(60, 1));
    source.tempoTrack().newExtendedTempoEvent(0, 60);
    ASSERT_EQ(source.tempoTrack().setLength(16.0), kMusicSequenceNoErr);
    ASSERT_EQ(sequence.tempoTrack().setLength(99.0), kMusicSequenceNoErr);
    double seconds = 0.0;
    sequence.secondsForBeats(1.0, seconds);

    sequence.adoptContentsOf(source);
    EXPECT_EQ(sequence.trackCount(), 1u);
    MusicTrack* first = nullptr;
    sequence.trackAtIndex(0, first);
    EXPECT_EQ(first, loaded);
    EXPECT_EQ(&loaded->sequence(), &sequence);
    sequence.secondsForBeats(1.0, seconds);
    EXPECT_DOUBLE_EQ(seconds, 1.0);
    EXPECT_EQ(source.trackCount(), 0u);
    EXPECT_EQ(source.tempoTrack().eventCount(), 0u);
    EXPECT_DOUBLE_EQ(loaded->length(), 3.0);
    EXPECT_DOUBLE_EQ(sequence.tempoTrack().length(), 16.0) << "the tempo track's length comes along";
    EXPECT_DOUBLE_EQ(source.tempoTrack().length(), 0.0);
}

TEST_F(MusicSequenceTest, UnusablePlaybackRatesAreRefused) {
    EXPECT_EQ(sequence.setPlaybackRate(0.5), kMusicSequenceNoErr);
    EXPECT_EQ(sequence.setPlaybackRate(0.0), kMusicSequenceError_InvalidArgument);
    EXPECT_EQ(sequence.setPlaybackRate(NAN), kMusicSequenceError_InvalidArgument);
    EXPECT_DOUBLE_EQ(sequence.playbackRate(), 0.5);
}

TEST_F(MusicSequenceTest, IteratorWalksAndMovesEvents) {
    for (uint8_t i = 0; i < 5; ++i) addUser(*track, i, i);
    MusicEventIterator iterator(*track);
    MusicEventData event;
    bool has = false;
    std::vector<uint8_t> seen;
    // Move every odd event one and a half beats earlier while walking: each is met once.
    while (iterator.hasCurrentEvent(has) == kMusicSequenceNoErr && has) {
        ASSERT_EQ(iterator.getEventInfo(event), kMusicSequenceNoErr);
        seen.push_back(tagOf(event));
        if (tagOf(event) % 2 == 1) {
            ASSERT_EQ(iterator.setEventTime(event.timeStamp - 1.5), kMusicSequenceNoErr);
            ASSERT_EQ(iterator.getEventInfo(event), kMusicSequenceNoErr);
            EXPECT_DOUBLE_EQ(event.timeStamp, tagOf(event) - 1.5) << "stands on the moved event";
        }
        iterator.nextEvent();
    }
    EXPECT_EQ(seen, (std::vector<uint8_t>{0, 1, 2, 3, 4}));
    EXPECT_EQ(tags(*track), (std::vector<uint8_t>{1, 0, 3, 2, 4}));

    EXPECT_EQ(iterator.nextEvent(), kMusicSequenceError_EndOfTrack);
    EXPECT_EQ(iterator.getEventInfo(event), kMusicSequenceError_EndOfTrack);
    ASSERT_EQ(iterator.previousEvent(), kMusicSequenceNoErr);
    iterator.getEventInfo(event);
    EXPECT_EQ(tagOf(event), 4);

    iterator.seek(1.0);
    iterator.getEventInfo(event);
    EXPECT_EQ(tagOf(event), 3);
    // Moved later: the walk goes on with the event that followed it.
    ASSERT_EQ(iterator.setEventTime(10.0), kMusicSequenceNoErr);
    iterator.nextEvent();
    iterator.getEventInfo(event);
    EXPECT_EQ(tagOf(event), 2);
    iterator.hasNextEvent(has);
    EXPECT_TRUE(has);
    iterator.seek(20.0);
    iterator.hasCurrentEvent(has);
    EXPECT_FALSE(has);
}

TEST(MusicSequenceThreadTest, ConversionsWhileTheTempoTrackGrows) {
    MusicSequence sequence;
    std::atomic<bool> done{false};
    std::thread reader([&] {
        double previous = 0.0;
        while (!done.load()) {
            double seconds = 0.0;
            ASSERT_EQ(sequence.secondsForBeats(1000.0, seconds), kMusicSequenceNoErr);
            ASSERT_TRUE(std::isfinite(seconds));
            ASSERT_GE(seconds, previous) << "every tempo added is slower";
            previous = seconds;
        }
    });
    for (int i = 0; i < 2000; ++i) sequence.tempoTrack().newExtendedTempoEvent(i * 0.25, 120.0 - i * 0.05);
    done = true;
    reader.join();
    double seconds = 0.0;
    sequence.secondsForBeats(500.0, seconds);
    EXPECT_GT(seconds, 250.0);
}

}  // namespace
}  // namespace tollvane
