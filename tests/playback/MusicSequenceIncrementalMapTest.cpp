// The sequence extends its tempo map as events are added instead of
// rebuilding it; whatever the order of additions, conversions and snapshots,
// it must answer exactly what a map built afresh from the tempo track
// answers, and a snapshot handed out must never change.

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <vector>

#include "playback/sequence/MusicSequence.h"
#include "playback/sequence/MusicTrack.h"
#include "playback/sequence/TempoMap.h"

namespace tollvane {
namespace {

const std::vector<double>& probes() {
    static const std::vector<double> points = {-3.0, 0.0, 0.5, 7.25, 31.0, 64.0, 127.9, 200.0, 513.3};
    return points;
}

// Every conversion of the sequence against the same of `expected`.
void expectSameAnswers(const MusicSequence& sequence, const TempoMap& expected) {
    for (double beats : probes()) {
        double seconds = 0.0;
        ASSERT_EQ(sequence.secondsForBeats(beats, seconds), kMusicSequenceNoErr);
        EXPECT_EQ(seconds, expected.secondsForBeats(beats)) << beats;
        double back = 0.0;
        ASSERT_EQ(sequence.beatsForSeconds(beats, back), kMusicSequenceNoErr);
        EXPECT_EQ(back, expected.beatsForSeconds(beats)) << beats;
        BarBeatTime time, expectedTime;
        ASSERT_EQ(sequence.beatsToBarBeatTime(beats, 480, time), kMusicSequenceNoErr);
        ASSERT_EQ(expected.beatsToBarBeatTime(beats, 480, expectedTime), kMusicSequenceNoErr);
        EXPECT_EQ(time, expectedTime) << beats;
    }
    for (int32_t bar : {-2, 1, 3, 17, 40}) {
        double beats = 0.0;
        ASSERT_EQ(sequence.barBeatTimeToBeats(BarBeatTime{bar, 2, 0, 24, 0}, beats), kMusicSequenceNoErr);
        double expectedBeats = 0.0;
        expected.barBeatTimeToBeats(BarBeatTime{bar, 2, 0, 24, 0}, expectedBeats);
        EXPECT_EQ(beats, expectedBeats) << bar;
    }
}

TEST(MusicSequenceIncrementalMapTest, AnyOrderOfAdditionsAnswersAsAFreshBuild) {
    for (unsigned seed = 1; seed <= 20; ++seed) {
        SCOPED_TRACE(seed);
        std::mt19937 random(seed);
        std::uniform_real_distribution<double> bpm(30.0, 300.0);
        std::uniform_int_distribution<int> step(0, 6), numerator(0, 13), exponent(0, 8), action(0, 9);
        MusicSequence sequence;
        MusicTrack& tempo = sequence.tempoTrack();
        double tempoTime = -2.0;
        double meterTime = -2.0;
        std::vector<std::pair<std::shared_ptr<const TempoMap>, std::shared_ptr<const TempoMap>>> snapshots;

        for (int i = 0; i < 60; ++i) {
            switch (action(random)) {
                case 0:  // a tempo change earlier than the last one
                    ASSERT_EQ(tempo.newExtendedTempoEvent(tempoTime - step(random) - 0.5, bpm(random)), 0);
                    break;
                case 1:  // a meter earlier than the last one
                {
                    const uint8_t data[4] = {static_cast<uint8_t>(numerator(random)),
                                             static_cast<uint8_t>(exponent(random)), 24, 8};
                    ASSERT_EQ(tempo.newMetaEvent(meterTime - step(random) - 0.5, 0x58, data, 4), 0);
                    break;
                }
                case 2:
                case 3: {
                    tempoTime += step(random) * 0.5;  // sometimes at the same time
                    ASSERT_EQ(tempo.newExtendedTempoEvent(tempoTime, bpm(random)), 0);
                    break;
                }
                case 4:
                case 5: {
                    meterTime += step(random) * 1.5;
                    const uint8_t data[4] = {static_cast<uint8_t>(numerator(random)),
                                             static_cast<uint8_t>(exponent(random)), 24, 8};
                    ASSERT_EQ(tempo.newMetaEvent(meterTime, 0x58, data, 4), 0);
                    break;
                }
                case 6:  // neither tempo nor meter
                    ASSERT_EQ(tempo.newMetaEvent(tempoTime, 3, reinterpret_cast<const uint8_t*>("name"), 4),
                              0);
                    break;
                case 7:  // a reader holds the map while more is added
                    snapshots.emplace_back(sequence.tempoMap(), TempoMap::build(tempo.events()));
                    break;
                case 8:  // not an addition
                    ASSERT_EQ(tempo.clear(tempoTime - 1.0, tempoTime), 0);
                    break;
                default:
                    break;
            }
            expectSameAnswers(sequence, *TempoMap::build(tempo.events()));
            if (HasFailure()) return;
        }
        for (const auto& [held, asBuilt] : snapshots) {
            for (double beats : probes()) {
                EXPECT_EQ(held->secondsForBeats(beats), asBuilt->secondsForBeats(beats));
                EXPECT_EQ(held->beatsForSeconds(beats), asBuilt->beatsForSeconds(beats));
                EXPECT_EQ(held->timeSignatureAtBeat(beats), asBuilt->timeSignatureAtBeat(beats));
            }
        }
    }
}

TEST(MusicSequenceIncrementalMapTest, BarsDoNotWaitForAnEarlierTempoChange) {
    MusicSequence sequence;
    MusicTrack& tempo = sequence.tempoTrack();
    const uint8_t threeFour[4] = {3, 2, 24, 8};
    tempo.newMetaEvent(8.0, 0x58, threeFour, 4);
    tempo.newExtendedTempoEvent(20.0, 60.0);
    double beats = 0.0;
    sequence.barBeatTimeToBeats(BarBeatTime{4, 1, 0, 24, 0}, beats);
    EXPECT_EQ(beats, 11.0);

    // Out of order: the tempo part is rebuilt, the bars are as they were.
    tempo.newExtendedTempoEvent(10.0, 240.0);
    sequence.barBeatTimeToBeats(BarBeatTime{4, 1, 0, 24, 0}, beats);
    EXPECT_EQ(beats, 11.0);
    double seconds = 0.0;
    sequence.secondsForBeats(22.0, seconds);
    EXPECT_DOUBLE_EQ(seconds, 5.0 + 10.0 * 0.25 + 2.0);
}

}  // namespace
}  // namespace tollvane
