// Importing a Standard MIDI File into a new cue: 20,000 marker notes on two
// tracks ("Streamers" and "Punches", white keys the shipped mapping turns
// into streamers and punches) over a tempo map of 200 changes, read from the
// file, mapped, placed and compiled.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "BenchTargets.h"
#include "document/SMFImporter.h"
#include "model/Cue.h"
#include "model/CueDefaults.h"
#include "platform/AtomicFile.h"
#include "platform/Log.h"
#include "platform/ManualRunLoop.h"
#include "platform/UserDefaults.h"
#include "playback/TLEventController.h"
#include "playback/sequence/MusicSequence.h"
#include "playback/sequence/StandardMIDIFileWriter.h"

namespace tollvane {
namespace {

constexpr int kNotesPerTrack = 10000;
constexpr int kTempoChanges = 200;

void addTrackName(MusicTrack& track, const std::string& name) {
    track.newMetaEvent(0.0, 0x03, reinterpret_cast<const uint8_t*>(name.data()),
                       static_cast<uint32_t>(name.size()));
}

std::vector<uint8_t> markerFile() {
    MusicSequence sequence;
    MusicTrack& tempo = sequence.tempoTrack();
    const uint8_t meter[] = {4, 2, 24, 8};
    tempo.newMetaEvent(0.0, 0x58, meter, sizeof meter);
    for (int i = 0; i < kTempoChanges; ++i) tempo.newExtendedTempoEvent(i * 10.0, 90.0 + (i % 40));
    MusicTrack* streamers = nullptr;
    MusicTrack* punches = nullptr;
    sequence.newTrack(streamers);
    sequence.newTrack(punches);
    addTrackName(*streamers, "Streamers");
    addTrackName(*punches, "Punches");
    // White keys of C3-B4 (streamers) and C2-B2 (punches).
    static const uint8_t kWhite[] = {0, 2, 4, 5, 7, 9, 11};
    for (int i = 0; i < kNotesPerTrack; ++i) {
        const double beats = 4.0 + i * 0.2;
        streamers->newMIDINoteEvent(
            beats, {0, static_cast<uint8_t>(48 + 12 * (i % 2) + kWhite[i % 7]), 100, 0, 0.1f});
        punches->newMIDINoteEvent(beats + 0.1, {0, static_cast<uint8_t>(36 + kWhite[i % 7]), 100, 0, 0.1f});
    }
    std::vector<uint8_t> bytes;
    StandardMIDIFileWriter::write(sequence, bytes);
    return bytes;
}

void BM_importSMF20kNotes(benchmark::State& state) {
    Log::Sink previous = Log::setSink([](const std::string&) {});
    ManualRunLoop loop;
    RunLoop* previousLoop = RunLoop::setMain(&loop);
    CueDefaults::registerDefaults(UserDefaults::standardUserDefaults());
    TLEventController mapping;
    mapping.setContent(TLEventController::defaultPreset());

    const std::string path = "/tmp/tollvane-bench-import-" + std::to_string(getpid()) + ".mid";
    const std::vector<uint8_t> bytes = markerFile();
    if (const std::string error = AtomicFile::write(path, bytes); !error.empty()) {
        state.SkipWithError(("cannot write " + path + ": " + error).c_str());
        return;
    }
    size_t events = 0;
    for (auto _ : state) {
        std::shared_ptr<Cue> cue = SMFImporter::cueWithContentsOfFile(path, {0, 1}, 0, &mapping);
        events = cue->trackEvents().size();
        benchmark::DoNotOptimize(cue->sequence());
    }
    state.counters["trackEvents"] = static_cast<double>(events);
    std::remove(path.c_str());
    RunLoop::setMain(previousLoop);
    Log::setSink(std::move(previous));
}
BENCHMARK(BM_importSMF20kNotes)->Unit(benchmark::kMillisecond);
TOLLVANE_BENCH_TARGET(BM_importSMF20kNotes, "at most 150 ms");

}  // namespace
}  // namespace tollvane
