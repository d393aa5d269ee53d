// Tempo and meter map conversions through FFMusicSequence, on maps with many
// changes, at positions spread over the whole map.

#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <vector>

#include "BenchTargets.h"
#include "platform/Log.h"
#include "playback/FFMusicSequence.h"

namespace tollvane {
namespace {

constexpr size_t kPoints = 4096;

struct Fixture {
    std::shared_ptr<FFMusicSequence> sequence;
    std::vector<double> beats;
    std::vector<double> seconds;
};

std::vector<double> spread(double end, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> where(0.0, end);
    std::vector<double> points(kPoints);
    for (double& point : points) point = where(random);
    return points;
}

const Fixture& tempoFixture() {
    static const Fixture fixture = [] {
        Fixture f;
        f.sequence = FFMusicSequence::sequenceWithMusicSequence(std::make_shared<MusicSequence>());
        std::mt19937 random(3);
        std::uniform_real_distribution<double> bpm(40.0, 240.0), step(0.5, 8.0);
        double beat = 0.0;
        for (int i = 0; i < 1000; ++i) {
            f.sequence->addTempoChange(bpm(random), beat);
            beat += step(random);
        }
        f.sequence->setPlaybackRate(1.001);
        f.beats = spread(beat, 5);
        f.seconds = spread(f.sequence->secondsForBeats(beat), 6);
        return f;
    }();
    return fixture;
}

const Fixture& meterFixture() {
    static const Fixture fixture = [] {
        Fixture f;
        f.sequence = FFMusicSequence::sequenceWithMusicSequence(std::make_shared<MusicSequence>());
        std::mt19937 random(4);
        std::uniform_int_distribution<int> numerator(1, 13), exponent(1, 4), bars(1, 8);
        MusicTrack& tempo = f.sequence->musicSequence()->tempoTrack();
        double beat = 0.0;
        for (int i = 0; i < 500; ++i) {
            const uint8_t data[4] = {static_cast<uint8_t>(numerator(random)),
                                     static_cast<uint8_t>(exponent(random)), 24, 8};
            tempo.newMetaEvent(beat, 0x58, data, 4);
            beat += data[0] * 4.0 / (1 << data[1]) * bars(random);
        }
        f.beats = spread(beat, 7);
        return f;
    }();
    return fixture;
}

void BM_secondsForBeats(benchmark::State& state) {
    const Fixture& f = tempoFixture();
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(f.sequence->secondsForBeats(f.beats[i]));
        i = (i + 1) % kPoints;
    }
}
BENCHMARK(BM_secondsForBeats);
TOLLVANE_BENCH_TARGET(BM_secondsForBeats, "at most 200 ns per call");

void BM_beatsForSeconds(benchmark::State& state) {
    const Fixture& f = tempoFixture();
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(f.sequence->beatsForSeconds(f.seconds[i]));
        i = (i + 1) % kPoints;
    }
}
BENCHMARK(BM_beatsForSeconds);
TOLLVANE_BENCH_TARGET(BM_beatsForSeconds, "at most 200 ns per call");

void BM_barBeatTimeForBeats(benchmark::State& state) {
    const Fixture& f = meterFixture();
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(f.sequence->barBeatTimeForBeats(f.beats[i]));
        i = (i + 1) % kPoints;
    }
}
BENCHMARK(BM_barBeatTimeForBeats);
TOLLVANE_BENCH_TARGET(BM_barBeatTimeForBeats, "at most 300 ns per call");

// The same conversions on a snapshot of the map, without the store around it.
void BM_tempoMapSnapshotSecondsForBeats(benchmark::State& state) {
    const Fixture& f = tempoFixture();
    const auto map = f.sequence->musicSequence()->tempoMap();
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(map->secondsForBeats(f.beats[i]));
        i = (i + 1) % kPoints;
    }
}
BENCHMARK(BM_tempoMapSnapshotSecondsForBeats);

}  // namespace
}  // namespace tollvane
