#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "playback/sequence/MusicSequence.h"
#include "playback/sequence/TempoMap.h"

namespace tollvane {
namespace {

MusicEventData tempo(double beat, double bpm) {
    return MusicEventData::tempo(beat, bpm);
}

MusicEventData meter(double beat, uint8_t numerator, uint8_t exponent) {
    const uint8_t data[4] = {numerator, exponent, 24, 8};
    return MusicEventData::meta(beat, 0x58, data, 4);
}

BarBeatTime bbt(int32_t bar, uint16_t beat, uint16_t subbeat, uint16_t divisor = 480) {
    return BarBeatTime{bar, beat, subbeat, divisor, 0};
}

BarBeatTime toBarBeat(const TempoMap& map, double beats, uint16_t divisor = 480) {
    BarBeatTime out;
    EXPECT_EQ(map.beatsToBarBeatTime(beats, divisor, out), kMusicSequenceNoErr) << beats;
    return out;
}

double toBeats(const TempoMap& map, const BarBeatTime& time) {
    double beats = -1.0;
    EXPECT_EQ(map.barBeatTimeToBeats(time, beats), kMusicSequenceNoErr);
    return beats;
}

TEST(TempoMapTest, WithoutEventsItIs120BpmIn44) {
    TempoMap map;
    EXPECT_DOUBLE_EQ(map.secondsForBeats(4.0), 2.0);
    EXPECT_DOUBLE_EQ(map.beatsForSeconds(2.0), 4.0);
    EXPECT_DOUBLE_EQ(map.secondsForBeats(-2.0), -1.0);
    EXPECT_EQ(toBarBeat(map, 0.0), bbt(1, 1, 0));
    EXPECT_EQ(toBarBeat(map, 4.0), bbt(2, 1, 0));
    EXPECT_EQ(toBarBeat(map, 5.5), bbt(2, 2, 240));
    EXPECT_EQ(map.timeSignatureAtBeat(100.0), (TimeSignature{4, 4}));
}

TEST(TempoMapTest, TempoChangesMidBar) {
    // 120 bpm, then 60 from the middle of bar 1, then 180 from beat 5.5.
    auto map = TempoMap::build({tempo(0, 120), tempo(2, 60), tempo(5.5, 180)});
    struct Case {
        double beats, seconds;
    } cases[] = {{0, 0}, {1, 0.5}, {2, 1.0}, {3, 2.0}, {4, 3.0}, {5.5, 4.5}, {7, 5.0}, {10, 6.0}};
    for (const Case& c : cases) {
        EXPECT_DOUBLE_EQ(map->secondsForBeats(c.beats), c.seconds) << c.beats;
        EXPECT_DOUBLE_EQ(map->beatsForSeconds(c.seconds), c.beats) << c.seconds;
    }
    EXPECT_DOUBLE_EQ(map->bpmAtBeat(1.99), 120.0);
    EXPECT_DOUBLE_EQ(map->bpmAtBeat(2.0), 60.0);
    EXPECT_DOUBLE_EQ(map->bpmAtBeat(6.0), 180.0);
}

TEST(TempoMapTest, TempoBeforeTheFirstEventIs120AndLaterEventsAtOneBeatWin) {
    auto late = TempoMap::build({tempo(4, 60)});
    EXPECT_DOUBLE_EQ(late->secondsForBeats(4), 2.0);
    EXPECT_DOUBLE_EQ(late->secondsForBeats(6), 4.0);
    EXPECT_DOUBLE_EQ(late->beatsForSeconds(4.0), 6.0);

    auto twice = TempoMap::build({tempo(0, 120), tempo(0, 60), tempo(2, 240), tempo(2, 30)});
    EXPECT_DOUBLE_EQ(twice->secondsForBeats(2), 2.0);
    EXPECT_DOUBLE_EQ(twice->secondsForBeats(3), 4.0);
}

TEST(TempoMapTest, UnusableTempoEventsAreIgnoredAndEarlyOnesStartAtZero) {
    MusicEventData zero = tempo(1, 0.0);
    MusicEventData notANumber = tempo(1, std::nan(""));
    MusicEventData negative = tempo(1, -60.0);
    auto map = TempoMap::build({tempo(-3, 60), zero, notANumber, negative});
    ASSERT_EQ(map->tempoSegments().size(), 1u);
    EXPECT_DOUBLE_EQ(map->secondsForBeats(2), 2.0);
    EXPECT_DOUBLE_EQ(map->secondsForBeats(-1), -1.0);
}

TEST(TempoMapTest, SecondsAndBeatsAreInversesOverAThousandChanges) {
    std::mt19937 random(7);
    std::uniform_real_distribution<double> bpm(20.0, 300.0), step(0.01, 8.0), where(0.0, 1.0);
    std::vector<MusicEventData> events;
    double beat = 0.0;
    for (int i = 0; i < 1000; ++i) {
        events.push_back(tempo(beat, bpm(random)));
        beat += step(random);
    }
    auto map = TempoMap::build(events);
    for (int i = 0; i < 20000; ++i) {
        const double b = where(random) * (beat + 10.0);
        const double s = map->secondsForBeats(b);
        EXPECT_NEAR(map->beatsForSeconds(s), b, 1e-9 * std::max(1.0, b));
        EXPECT_NEAR(map->secondsForBeats(map->beatsForSeconds(s)), s, 1e-9 * std::max(1.0, s));
    }
    // Monotonic across every segment boundary.
    double previous = -1.0;
    for (const auto& segment : map->tempoSegments()) {
        EXPECT_GT(segment.seconds, previous);
        previous = segment.seconds;
    }
}

TEST(TempoMapTest, SevenEightAndSixEightOnBarStarts) {
    // 4/4 bars 1-2, 7/8 from bar 3 (beat 8), 6/8 from bar 5 (beat 8 + 2 * 3.5 = 15).
    auto map = TempoMap::build({meter(0, 4, 2), meter(8, 7, 3), meter(15, 6, 3)});
    struct Case {
        double beats;
        BarBeatTime time;
    } cases[] = {
        {7.5, bbt(2, 4, 240)},   {8, bbt(3, 1, 0)},    {8.5, bbt(3, 2, 0)},  {11, bbt(3, 7, 0)},
        {11.25, bbt(3, 7, 240)}, {11.5, bbt(4, 1, 0)}, {14.5, bbt(4, 7, 0)}, {15, bbt(5, 1, 0)},
        {15.25, bbt(5, 1, 240)}, {17.5, bbt(5, 6, 0)}, {18, bbt(6, 1, 0)},   {33, bbt(11, 1, 0)},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(toBarBeat(*map, c.beats), c.time) << c.beats;
        EXPECT_DOUBLE_EQ(toBeats(*map, c.time), c.beats) << c.beats;
    }
    EXPECT_DOUBLE_EQ(toBeats(*map, bbt(5, 1, 0, 24)), 15.0);
    EXPECT_DOUBLE_EQ(map->beatsForBarStart(4), 11.5);
    EXPECT_EQ(map->timeSignatureAtBeat(14.99), (TimeSignature{7, 8}));
    EXPECT_EQ(map->timeSignatureAtBeat(15.0), (TimeSignature{6, 8}));
    EXPECT_EQ(map->timeSignatureAtBeat(7.99), (TimeSignature{4, 4}));
}

TEST(TempoMapTest, AMeterInsideABarEndsThatBarShort) {
    // 3/4 at beat 6, halfway through bar 2: bar 2 is [4, 6), bar 3 starts at 6.
    auto map = TempoMap::build({meter(6, 3, 2)});
    EXPECT_EQ(toBarBeat(*map, 5.0), bbt(2, 2, 0));
    EXPECT_EQ(toBarBeat(*map, 5.999), bbt(2, 2, 479));
    EXPECT_EQ(toBarBeat(*map, 6.0), bbt(3, 1, 0));
    EXPECT_EQ(toBarBeat(*map, 9.0), bbt(4, 1, 0));
    EXPECT_DOUBLE_EQ(toBeats(*map, bbt(3, 1, 0)), 6.0);
    EXPECT_DOUBLE_EQ(toBeats(*map, bbt(2, 2, 0)), 5.0);
}

TEST(TempoMapTest, DenominatorsFromOneTo128AndUnusableMetersIgnored) {
    // 3/1 (a bar of 12 beats), then 5/128 (a bar of 5/32 beat) from bar 2.
    auto map = TempoMap::build({meter(0, 3, 0), meter(12, 5, 7)});
    EXPECT_EQ(toBarBeat(*map, 4.0), bbt(1, 2, 0));
    EXPECT_EQ(toBarBeat(*map, 12.0 + 5.0 / 32.0), bbt(3, 1, 0));
    EXPECT_EQ(toBarBeat(*map, 12.0 + 1.0 / 32.0), bbt(2, 2, 0));
    EXPECT_EQ(map->timeSignatureAtBeat(13.0), (TimeSignature{5, 128}));

    auto ignored = TempoMap::build({meter(0, 0, 2), meter(0, 3, 8), meter(4, 0, 0)});
    ASSERT_EQ(ignored->meterSegments().size(), 1u);
    EXPECT_EQ(ignored->timeSignatureAtBeat(5.0), (TimeSignature{4, 4}));

    // Shorter than four data bytes: not a time signature.
    const uint8_t two[2] = {3, 2};
    auto shortMeta = TempoMap::build({MusicEventData::meta(0, 0x58, two, 2)});
    EXPECT_EQ(shortMeta->timeSignatureAtBeat(0.0), (TimeSignature{4, 4}));
}

TEST(TempoMapTest, BarsBeforeBeatZeroAndBadArguments) {
    auto map = TempoMap::build({meter(0, 3, 2)});
    EXPECT_EQ(toBarBeat(*map, -1.0), bbt(0, 3, 0));
    EXPECT_EQ(toBarBeat(*map, -3.0), bbt(0, 1, 0));
    EXPECT_EQ(toBarBeat(*map, -3.5), bbt(-1, 3, 240));
    EXPECT_DOUBLE_EQ(toBeats(*map, bbt(0, 1, 0)), -3.0);

    BarBeatTime out;
    EXPECT_EQ(map->beatsToBarBeatTime(1.0, 0, out), kMusicSequenceError_InvalidArgument);
    EXPECT_EQ(map->beatsToBarBeatTime(std::nan(""), 480, out), kMusicSequenceError_InvalidArgument);
    EXPECT_EQ(map->beatsToBarBeatTime(1e300, 480, out), kMusicSequenceError_OutOfRange);
    EXPECT_EQ(map->beatsToBarBeatTime(3e10, 480, out), kMusicSequenceError_OutOfRange);
    double beats = 0.0;
    EXPECT_EQ(map->barBeatTimeToBeats(bbt(1, 1, 0, 0), beats), kMusicSequenceError_InvalidArgument);
}

TEST(TempoMapTest, BarBeatRoundTripsOverManyMeters) {
    std::mt19937 random(11);
    std::uniform_int_distribution<int> numerator(1, 15), exponent(0, 5), bars(1, 4);
    std::vector<MusicEventData> events;
    double beat = 0.0;
    std::vector<double> barLengths;
    for (int i = 0; i < 200; ++i) {
        const auto n = static_cast<uint8_t>(numerator(random));
        const auto e = static_cast<uint8_t>(exponent(random));
        events.push_back(meter(beat, n, e));
        const double length = n * 4.0 / (1 << e);
        beat += length * bars(random);
    }
    auto map = TempoMap::build(events);
    for (int bar = 1; bar < 500; ++bar) {
        const TimeSignature signature = map->timeSignatureAtBeat(map->beatsForBarStart(bar));
        for (uint16_t b = 1; b <= signature.numerator; ++b) {
            for (uint16_t sub : {0, 1, 239, 479}) {
                const BarBeatTime time = bbt(bar, b, sub);
                EXPECT_EQ(toBarBeat(*map, toBeats(*map, time)), time) << bar << "|" << b << "|" << sub;
            }
        }
    }
}

TEST(TempoMapTest, SubbeatsAtTheDivisorGiven) {
    TempoMap map;
    EXPECT_EQ(toBarBeat(map, 1.0 / 3.0, 3), bbt(1, 1, 1, 3));
    EXPECT_EQ(toBarBeat(map, 0.7, 10), bbt(1, 1, 7, 10));
    EXPECT_EQ(toBarBeat(map, 2.5, 24), bbt(1, 3, 12, 24));
    EXPECT_DOUBLE_EQ(toBeats(map, bbt(2, 3, 12, 24)), 6.5);
}

}  // namespace
}  // namespace tollvane
