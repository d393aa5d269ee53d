// MIDI Time Code through the JACK backend on a jackd dummy server of the
// benchmark's own: the generator's client sends 2 s of 25 fps quarter frames
// to a destination of the input layer, and each quarter frame's time stamp is
// compared with the host time of the sample it was written on. The figure
// per iteration is the 99th percentile of the error (manual time); the
// counters give the median, the 99th percentile and the largest error in
// microseconds. Skipped with a message when jackd is missing.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

#include "BenchTargets.h"
#include "midi/MTCGenerator.h"
#include "midi/jack/FFMIDIJackBackend.h"
#include "midi/jack/MTCJackSender.h"
#include "platform/Log.h"
#include "support/JackDummyServer.h"

namespace {

using namespace std::chrono_literals;
using tollvane::FFMIDIJackBackend;
using tollvane::findProgram;
using tollvane::JackDummyServer;

constexpr uint32_t kSampleRate = 48000;
constexpr uint32_t kPeriod = 256;
constexpr double kSecondsPerRun = 2.0;

double percentile(std::vector<double> values, double fraction) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const auto index = static_cast<size_t>(std::ceil(fraction * static_cast<double>(values.size()))) - 1;
    return values[std::min(index, values.size() - 1)];
}

void BM_mtcJackTimeStampError(benchmark::State& state) {
    if (findProgram("jackd").empty()) {
        state.SkipWithError("jackd is not installed: no JACK time-stamp figures");
        return;
    }
    const tollvane::Log::Sink previousSink = tollvane::Log::setSink([](const std::string&) {});
    JackDummyServer server("tollvane-bench-" + std::to_string(getpid()), kSampleRate, kPeriod);
    if (!server.waitUntil([&] { return FFMIDIJackBackend::serverRunning(server.name()); })) {
        tollvane::Log::setSink(previousSink);
        state.SkipWithError("jackd could not be started");
        return;
    }

    std::mutex mutex;
    std::condition_variable arrived;
    std::vector<uint64_t> stamps;
    FFMIDIJackBackend backend(server.name());
    tollvane::FFMIDIBackend::Callbacks callbacks;
    callbacks.received = [&](tollvane::FFMIDIPortRef, tollvane::FFMIDIUniqueID,
                             tollvane::FFMIDIPacketList&& list) {
        std::lock_guard lock(mutex);
        for (const tollvane::FFMIDIPacket& packet : list.packets()) {
            if (packet.bytes.size() == 2 && packet.bytes[0] == 0xF1) stamps.push_back(packet.timeStamp);
        }
        arrived.notify_all();
    };
    tollvane::FFMIDIPortRef destination = 0;
    tollvane::FFMIDIUniqueID destinationID = 0;
    if (backend.start("Tollvane", std::move(callbacks)) != 0 ||
        backend.createDestination("Tollvane", destination, destinationID) != 0) {
        tollvane::Log::setSink(previousSink);
        state.SkipWithError("the JACK backend could not start");
        return;
    }

    std::vector<double> errors;
    uint64_t xruns = 0;
    for (auto _ : state) {
        tollvane::MTCJackSender sender(server.name());
        if (!sender.open("mtc-send") || !sender.connectTo(backend.destinationPortName(destination))) {
            state.SkipWithError(sender.error().c_str());
            break;
        }
        {
            std::lock_guard lock(mutex);
            stamps.clear();
        }
        const tollvane::MTCGenerator generator(tollvane::EMTimecodeFramerate::framerateForIndex(3), 90000,
                                               sender.sampleRate());
        const uint64_t count = generator.countWithin(kSecondsPerRun);
        sender.start(generator, count, count);
        std::unique_lock lock(mutex);
        arrived.wait_for(lock, 10s, [&] { return sender.finished() && stamps.size() >= count; });
        const std::vector<uint64_t> sent = sender.sentHostTimes();
        xruns += sender.xrunCount();
        std::vector<double> run;
        if (stamps.size() == sent.size()) {
            for (size_t k = 0; k < sent.size(); ++k) {
                run.push_back(std::abs(static_cast<double>(stamps[k]) - static_cast<double>(sent[k])) / 1e3);
            }
        }
        lock.unlock();
        errors.insert(errors.end(), run.begin(), run.end());
        state.SetIterationTime(percentile(run, 0.99) / 1e6);
    }
    backend.disposeDestination(destination);
    tollvane::Log::setSink(previousSink);

    state.counters["median_error_us"] = percentile(errors, 0.5);
    state.counters["p99_error_us"] = percentile(errors, 0.99);
    state.counters["max_error_us"] = errors.empty() ? 0.0 : *std::max_element(errors.begin(), errors.end());
    state.counters["quarter_frames"] = static_cast<double>(errors.size());
    state.counters["xruns"] = static_cast<double>(xruns);
}

}  // namespace

BENCHMARK(BM_mtcJackTimeStampError)->UseManualTime()->Iterations(3)->Unit(benchmark::kMicrosecond);
TOLLVANE_BENCH_TARGET(BM_mtcJackTimeStampError,
                      "median and 99th percentile below 0.1 ms (the figure is the 99th percentile)");
