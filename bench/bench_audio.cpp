// The audio path: the I/O callback's cost per output frame with all sixteen
// slots sounding, and the export of a one-hour cue at 48 kHz, 24 bit, timed
// beside sox writing a one-hour sine of the same format on this machine.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "BenchTargets.h"
#include "audio/ClickTrackExporter.h"
#include "audio/TLAudioController.h"
#include "model/Cue.h"
#include "model/CueDefaults.h"
#include "model/CueEventCueEnd.h"
#include "platform/UserDefaults.h"
#include "support/JackDummyServer.h"

extern char** environ;

namespace tollvane {
namespace {

using Clock = std::chrono::steady_clock;

// A JACK-shaped output: one mono buffer per channel, the click on channel 0
// and copied to channel 1.
constexpr uint32_t kFrames = 256;
constexpr double kRate = 48000.0;
// Buffers in which every slot still sounds: a click lasts 15 ms, a buffer 5.3 ms.
constexpr int kSoundingBuffers = 2;

void BM_audioCallbackPerOutputFrame(benchmark::State& state) {
    UserDefaults defaults("");
    TLAudioController controller(defaults);
    controller.setClickVolume(0.84f);
    controller.setWarningBeepVolume(0.84f);
    std::vector<float> left(kFrames);
    std::vector<float> right(kFrames);
    AudioBuffer buffers[2] = {{1, kFrames * sizeof(float), left.data()},
                              {1, kFrames * sizeof(float), right.data()}};
    const uint64_t now = 1'000'000'000;
    const double allowance = TLAudioController::outputAllowance(kFrames);
    for (auto _ : state) {
        controller.removeAllScheduledClicks();
        for (int i = 0; i < TLAudioController::kSlotCount; ++i) controller.triggerSingleClick();
        for (int i = 0; i < TLAudioController::kSlotCount; ++i) controller.triggerSingleBeep();
        const auto start = Clock::now();
        for (int b = 0; b < kSoundingBuffers; ++b) {
            benchmark::DoNotOptimize(controller.render(buffers, kFrames, kRate, now, allowance));
            benchmark::ClobberMemory();
        }
        const std::chrono::duration<double> elapsed = Clock::now() - start;
        // The figure is per output frame, so that it reads against the
        // 20.8 µs a frame lasts at 48 kHz whatever the buffer size.
        state.SetIterationTime(elapsed.count() / (kSoundingBuffers * kFrames));
        // Let the beeps run out (33 ms) so that the next round can trigger all eight.
        for (int b = kSoundingBuffers; b < 7; ++b) controller.render(buffers, kFrames, kRate, now, allowance);
    }
    for (int s = 0; s < TLAudioController::kSlotCount; ++s) {
        if (controller.beepSlot(s) < TLAudioController::kBeepLength)
            state.SkipWithError("a beep slot stayed busy");
    }
}
// Each iteration is one frame's worth of measured time but two buffers of
// real work: a small minimum keeps each repetition to a few seconds.
BENCHMARK(BM_audioCallbackPerOutputFrame)
    ->UseManualTime()
    ->MinTime(0.001)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kNanosecond);
TOLLVANE_BENCH_TARGET(BM_audioCallbackPerOutputFrame, "at most 200 ns per output frame");

std::string temporaryPath(const std::string& stem) {
    return (std::filesystem::temp_directory_path() / (stem + "-" + std::to_string(::getpid()) + ".wav"))
        .string();
}

// Seconds of the last one-hour export, for the comparison with sox.
std::optional<double> exportSeconds;

void BM_exportOneHourCue(benchmark::State& state) {
    CueDefaults::registerDefaults(UserDefaults::standardUserDefaults());
    UserDefaults defaults("");
    TLAudioController controller(defaults);
    auto cue = Cue::create();
    cue->setUpdatesSuspended(true);
    cue->setSyncTimecode(EMTimecode::timecodeWithFramerate(EMTimecode::framerateForIndex(3), "1:00:00:00"));
    auto end = CueEventCueEnd::cueEndEventWithCue(cue);
    end->setLockType(CueEvent::kLockTypeBar);
    end->setLockBar(1801);  // 1800 bars of 4/4 at 120 bpm: one hour
    cue->setCueEndEvent(end);
    cue->setUpdatesSuspended(false);
    cue->reallyUpdateSequence();
    const std::string path = temporaryPath("tollvane-bench-clicks");
    double total = 0.0;
    for (auto _ : state) {
        auto exporter = ClickTrackExporter::exporterWithCue(cue, controller);
        exporter->setSampleRate(kRate);
        exporter->setBitDepth(24);
        exporter->setFormat(ClickTrackExporter::kWAVEFormat);
        const auto start = Clock::now();
        const bool written = exporter->renderToURL(path);
        const std::chrono::duration<double> elapsed = Clock::now() - start;
        state.SetIterationTime(elapsed.count());
        total += elapsed.count();
        if (!written) {
            state.SkipWithError("export failed");
            break;
        }
    }
    if (state.iterations() > 0) exportSeconds = total / static_cast<double>(state.iterations());
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
}
BENCHMARK(BM_exportOneHourCue)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
TOLLVANE_BENCH_TARGET(BM_exportOneHourCue, "at most 2 s, and no slower than BM_soxOneHourSine");

// Runs a program with its output discarded; answers whether it exited 0.
bool runQuietly(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t child = 0;
    const int spawned = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return false;
    int status = 0;
    if (::waitpid(child, &status, 0) != child) return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The yardstick: sox writing an hour of sine at the export's rate and depth.
void BM_soxOneHourSine(benchmark::State& state) {
    const std::string sox = findProgram("sox");
    if (sox.empty()) {
        std::printf("sox is not installed: no comparison for the one-hour export\n");
        state.SkipWithError("sox is not installed");
        for (auto _ : state) {
        }
        return;
    }
    const std::string path = temporaryPath("tollvane-bench-sox");
    double total = 0.0;
    for (auto _ : state) {
        const auto start = Clock::now();
        const bool ran =
            runQuietly({sox, "-n", "-r", "48000", "-b", "24", path, "synth", "3600", "sine", "1000"});
        const std::chrono::duration<double> elapsed = Clock::now() - start;
        state.SetIterationTime(elapsed.count());
        total += elapsed.count();
        if (!ran) {
            state.SkipWithError("sox failed");
            break;
        }
    }
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
    if (state.iterations() == 0 || !exportSeconds) return;
    const double soxSeconds = total / static_cast<double>(state.iterations());
    char label[128];
    std::snprintf(label, sizeof label, "export %.3f s, sox %.3f s, export/sox %.2f", *exportSeconds,
                  soxSeconds, *exportSeconds / soxSeconds);
    state.SetLabel(label);
    state.counters["export_over_sox"] = *exportSeconds / soxSeconds;
}
BENCHMARK(BM_soxOneHourSine)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
TOLLVANE_BENCH_TARGET(BM_soxOneHourSine, "for comparison: the one-hour export is to take no longer");

}  // namespace
}  // namespace tollvane
