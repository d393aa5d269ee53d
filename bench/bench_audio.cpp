// The audio path: the I/O callback for one 256-frame stereo buffer with all
// sixteen slots sounding, and the export of a three-minute cue at 48 kHz,
// 24 bit.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include "BenchTargets.h"
#include "audio/ClickTrackExporter.h"
#include "audio/TLAudioController.h"
#include "model/Cue.h"
#include "model/CueDefaults.h"
#include "model/CueEventCueEnd.h"
#include "platform/UserDefaults.h"

namespace tollvane {
namespace {

constexpr uint32_t kFrames = 256;

void BM_audioCallbackAllSlotsBusy(benchmark::State& state) {
    UserDefaults defaults("");
    TLAudioController controller(defaults);
    std::vector<float> data(2 * kFrames);
    AudioBuffer buffer{2, static_cast<uint32_t>(data.size() * sizeof(float)), data.data()};
    std::span<AudioBuffer> buffers(&buffer, 1);
    for (auto _ : state) {
        state.PauseTiming();
        // Slots that sound for the whole buffer: beeps 5 ms in, clicks 1 ms in.
        controller.removeAllScheduledClicks();
        for (int i = 0; i < TLAudioController::kSlotCount; ++i) controller.triggerSingleClick();
        for (int i = 0; i < TLAudioController::kSlotCount; ++i) controller.triggerSingleBeep();
        state.ResumeTiming();
        benchmark::DoNotOptimize(controller.render(buffers, kFrames, 48000.0, 1'000'000'000, 0.0));
        benchmark::DoNotOptimize(data.data());
        state.PauseTiming();
        // Let the beeps run out so the next iteration can trigger them again.
        for (int i = 0; i < 8; ++i) controller.render(buffers, kFrames, 48000.0, 1'000'000'000, 0.0);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kFrames);
}
BENCHMARK(BM_audioCallbackAllSlotsBusy)->Unit(benchmark::kMicrosecond);
TOLLVANE_BENCH_TARGET(BM_audioCallbackAllSlotsBusy, "at most 20 µs per 256-frame buffer");

void BM_exportThreeMinuteCue(benchmark::State& state) {
    CueDefaults::registerDefaults(UserDefaults::standardUserDefaults());
    UserDefaults defaults("");
    TLAudioController controller(defaults);
    auto cue = Cue::create();
    cue->setUpdatesSuspended(true);
    cue->setSyncTimecode(EMTimecode::timecodeWithFramerate(EMTimecode::framerateForIndex(3), "1:00:00:00"));
    auto end = CueEventCueEnd::cueEndEventWithCue(cue);
    end->setLockType(CueEvent::kLockTypeBar);
    end->setLockBar(91);  // 90 bars of 4/4 at 120 bpm: three minutes
    cue->setCueEndEvent(end);
    cue->setUpdatesSuspended(false);
    cue->reallyUpdateSequence();
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("tollvane-bench-clicks-" + std::to_string(::getpid()) + ".wav"))
                                 .string();
    for (auto _ : state) {
        auto exporter = ClickTrackExporter::exporterWithCue(cue, controller);
        if (!exporter->renderToURL(path)) state.SkipWithError("export failed");
    }
    std::filesystem::remove(path);
}
BENCHMARK(BM_exportThreeMinuteCue)->Unit(benchmark::kMillisecond);
TOLLVANE_BENCH_TARGET(BM_exportThreeMinuteCue, "at most 1 s");

}  // namespace
}  // namespace tollvane
