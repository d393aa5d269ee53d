#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/Log.h"
#include "playback/FFMusicTrack.h"
#include "playback/sequence/MusicSequence.h"

namespace tollvane {
namespace {

std::vector<uint8_t> userBlock(std::initializer_list<uint8_t> bytes) {
    const auto length = static_cast<uint32_t>(bytes.size());
    std::vector<uint8_t> out(4 + length);
    std::memcpy(out.data(), &length, 4);
    std::copy(bytes.begin(), bytes.end(), out.begin() + 4);
    return out;
}

class FFMusicTrackTest : public ::testing::Test {
protected:
    void SetUp() override {
        previousSink = Log::setSink([this](const std::string& line) { logged.push_back(line); });
    }
    void TearDown() override { Log::setSink(std::move(previousSink)); }

    MusicSequence sequence;
    std::vector<std::string> logged;
    Log::Sink previousSink;
};

TEST_F(FFMusicTrackTest, NewTrackCarriesItsNameAtBeatZero) {
    auto track = FFMusicTrack::newTrackInSequence(&sequence, "Streamers \xe2\x86\x92");
    ASSERT_TRUE(track);
    EXPECT_EQ(sequence.trackCount(), 1u);
    EXPECT_EQ(track->trackName(), "Streamers \xe2\x86\x92");
    const auto events = track->events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].type(), kMusicEventType_Meta);
    EXPECT_EQ(events[0].metaEventType(), 3);
    EXPECT_DOUBLE_EQ(events[0].timeStamp(), 0.0);

    EXPECT_FALSE(FFMusicTrack::newTrackInSequence(nullptr, "x"));
    EXPECT_EQ(logged, (std::vector<std::string>{"Unable to add track to sequence: error -1 (ffffffff)"}));
}

TEST_F(FFMusicTrackTest, TrackNameIsTheFirstNameEvent) {
    MusicTrack* raw = nullptr;
    sequence.newTrack(raw);
    FFMusicTrack track(raw);
    EXPECT_EQ(track.trackName(), "");
    raw->newMetaEvent(2.0, 3, reinterpret_cast<const uint8_t*>("later"), 5);
    raw->newMetaEvent(1.0, 1, reinterpret_cast<const uint8_t*>("text"), 4);
    raw->newMetaEvent(1.0, 3, reinterpret_cast<const uint8_t*>("first"), 5);
    EXPECT_EQ(track.trackName(), "first");
    EXPECT_TRUE(logged.empty());
}

TEST_F(FFMusicTrackTest, WithoutATrackEveryOperationSaysSo) {
    FFMusicTrack track;
    EXPECT_EQ(track.trackName(), "-");
    EXPECT_DOUBLE_EQ(track.length(), 0.0);
    const auto user = userBlock({1});
    EXPECT_FALSE(track.addUserEvent(user, 0.0));
    EXPECT_FALSE(track.addEvent(FFMusicEvent::eventWithTempo(120, 0)));
    EXPECT_TRUE(track.events().empty());
    EXPECT_EQ(logged, (std::vector<std::string>{
                          "FFMusicTrack tried to get track name with no track in place.",
                          "FFMusicTrack tried to get length with no track in place.",
                          "FFMusicTrack tried to schedule a user event with no track in place.",
                          "FFMusicTrack tried to add an event with no track in place.",
                      }));
}

TEST_F(FFMusicTrackTest, UserEventsAndEventsOfEveryType) {
    auto track = FFMusicTrack::newTrackInSequence(&sequence, "t");
    const auto user = userBlock({'r', 'm', 'u', 't'});
    EXPECT_TRUE(track->addUserEvent(user, 3.0));
    EXPECT_FALSE(track->addUserEvent(std::vector<uint8_t>{9, 0, 0, 0, 1}, 3.0)) << "a length word that lies";
    EXPECT_FALSE(track->addUserEvent({}, 3.0));
    EXPECT_EQ(logged, (std::vector<std::string>(2, "Unable to schedule a user event (Error -1).")));
    logged.clear();

    EXPECT_TRUE(track->addEvent(FFMusicEvent::eventWithMIDINote(60, 0, 90, 0, 2.0f, 1.0)));
    EXPECT_TRUE(track->addEvent(FFMusicEvent::eventWithTempo(90, 0.5)));
    EXPECT_TRUE(track->addEvent(FFMusicEvent::eventWithMIDIStatus(0xC0, 5, 0, 0.5)));
    EXPECT_FALSE(track->addEvent(FFMusicEvent()));
    EXPECT_FALSE(track->addEvent(FFMusicEvent(kMusicEventType_MIDINoteMessage, 0, nullptr, 0)));
    EXPECT_EQ(logged,
              (std::vector<std::string>{"Unable to add (null) event to track (Error -5).",
                                        "Unable to add MIDI Note Message event to track (Error -1)."}));

    const auto events = track->events();
    ASSERT_EQ(events.size(), 5u);
    EXPECT_EQ(events[1].type(), kMusicEventType_ExtendedTempo);
    EXPECT_EQ(events[2].type(), kMusicEventType_MIDIChannelMessage);
    EXPECT_EQ(events[3].midiNoteEvent().note, 60);
    EXPECT_EQ(std::vector<uint8_t>(events[4].userEvent().begin(), events[4].userEvent().end()), user);
    EXPECT_DOUBLE_EQ(track->length(), 3.0);
}

TEST_F(FFMusicTrackTest, Description) {
    auto track = FFMusicTrack::newTrackInSequence(&sequence, "_visual");
    track->addUserEvent(userBlock({7}), 1.0);
    EXPECT_EQ(track->description(),
              "Track '_visual': (\n    FFMusicEvent at 0.000000 (meta, data = '_visual'),\n"
              "    FFMusicEvent at 1.000000 (type = 4, data = 01 00 00 00 07)\n)");
}

TEST_F(FFMusicTrackTest, IteratorWalksMovesAndReportsItsAbsence) {
    auto track = FFMusicTrack::newTrackInSequence(&sequence, "Streamers");
    track->addEvent(FFMusicEvent::eventWithMIDINote(60, 0, 90, 0, 1.0f, 4.0));
    track->addEvent(FFMusicEvent::eventWithMIDINote(62, 0, 90, 0, 1.0f, 8.0));

    auto iterator = track->eventIterator();
    std::vector<double> times;
    uint32_t type = 0, size = 0;
    std::vector<uint8_t> data;
    double time = 0.0;
    ASSERT_TRUE(iterator->hasCurrentEvent());
    do {
        ASSERT_TRUE(iterator->getEventType(type, data, size, time));
        EXPECT_EQ(size, data.size());
        if (type == kMusicEventType_MIDINoteMessage) {
            ASSERT_TRUE(iterator->setCurrentEventTime(time - 2.0));
        }
        times.push_back(time);
    } while (iterator->advance());
    EXPECT_EQ(times, (std::vector<double>{0.0, 4.0, 8.0}));
    std::vector<double> now;
    for (const auto& event : track->events()) now.push_back(event.timeStamp());
    EXPECT_EQ(now, (std::vector<double>{0.0, 2.0, 6.0}));
    EXPECT_TRUE(logged.empty());

    MusicTrack* emptyTrack = nullptr;
    sequence.newTrack(emptyTrack);
    FFMusicEventIterator empty(emptyTrack);
    EXPECT_FALSE(empty.hasCurrentEvent());
    EXPECT_FALSE(empty.advance());
    EXPECT_FALSE(empty.getEventType(type, data, size, time));
    EXPECT_FALSE(empty.setCurrentEventTime(1.0));
    FFMusicEventIterator none(static_cast<MusicTrack*>(nullptr));
    EXPECT_FALSE(none.advance());
    EXPECT_FALSE(none.getEventType(type, data, size, time));
    EXPECT_FALSE(none.setCurrentEventTime(1.0));
    EXPECT_EQ(logged, (std::vector<std::string>{
                          "Unable to get event info (Error -3).",
                          "Unable to change event time (Error -3).",
                          "Unable to advance because no iterator is in place.",
                          "Unable to get event info because no iterator is in place.",
                          "Unable to change event time because no iterator is in place.",
                      }));
}

}  // namespace
}  // namespace tollvane
