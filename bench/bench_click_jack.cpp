// Click placement through JACK: clicks handed to the audio controller for
// known host times, played on a private dummy-driver server and recorded by
// a second client. For each click, the difference in samples between where
// it starts in the recording and where the controller's arithmetic puts it
// for the "now" of the cycle that placed it; and how far the cycles' "now"
// strays from the server's ideal period.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <memory>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "BenchTargets.h"
#include "audio/TLAudioController.h"
#include "audio/jack/JackAudioDevice.h"
#include "platform/UserDefaults.h"
#include "support/JackCaptureClient.h"
#include "support/JackDummyServer.h"

namespace tollvane {
namespace {

constexpr unsigned kRate = 48000;
constexpr unsigned kPeriod = 256;
constexpr int kClicks = 50;
// Clicks 97 ms apart (not a whole number of periods), each handed in 150 ms
// ahead, as the sync thread does, with a random sub-sample part.
constexpr uint64_t kSpacing = 97'000'000;
constexpr uint64_t kLead = 150'000'000;
constexpr uint64_t kFirstClickAfter = 300'000'000;
constexpr size_t kMaxCycles = 4096;

uint64_t monotonicNanos() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1'000'000'000u + static_cast<uint64_t>(now.tv_nsec);
}

// The JACK device as the controller sees it, with the controller's callback
// wrapped: each cycle's "now" is kept, and a pending click that the cycle
// moved into a slot is noted with the cycle that did it.
class ObservedDevice final : public MTCoreAudioDevice {
public:
    struct Placement {
        uint64_t hostTime;
        size_t cycle;
    };

    explicit ObservedDevice(std::shared_ptr<JackAudioDevice> device) : device_(std::move(device)) {
        nows_.assign(kMaxCycles, 0);
        placements_.assign(kMaxCycles, Placement{0, 0});
    }

    void observe(const TLAudioController* controller) { controller_ = controller; }

    uint32_t deviceID() const override { return device_->deviceID(); }
    std::optional<std::string> deviceName() const override { return device_->deviceName(); }
    uint32_t channelsForDirection(MTCoreAudioDirection direction) const override {
        return device_->channelsForDirection(direction);
    }
    AudioStreamBasicDescription streamDescriptionForChannel(uint32_t channel,
                                                            MTCoreAudioDirection direction) const override {
        return device_->streamDescriptionForChannel(channel, direction);
    }
    void setIOProc(IOProc proc, void* clientData) override {
        proc_ = proc;
        clientData_ = clientData;
        device_->setIOProc(&ObservedDevice::process, this);
    }
    void removeIOProc() override { device_->removeIOProc(); }
    bool deviceStart() override { return device_->deviceStart(); }
    void deviceStop() override { device_->deviceStop(); }

    // Odd while a cycle runs.
    uint64_t sequence() const { return sequence_.load(std::memory_order_acquire); }
    size_t cycles() const { return cycleCount_.load(std::memory_order_acquire); }
    uint64_t now(size_t cycle) const { return nows_[cycle]; }
    size_t placementCount() const { return placementCount_.load(std::memory_order_acquire); }
    const Placement& placement(size_t i) const { return placements_[i]; }

private:
    static int process(std::span<AudioBuffer> outputs, uint32_t frames, uint64_t now, void* clientData) {
        auto* self = static_cast<ObservedDevice*>(clientData);
        self->sequence_.fetch_add(1, std::memory_order_acq_rel);
        std::array<uint64_t, TLAudioController::kSlotCount> before{};
        for (int i = 0; i < TLAudioController::kSlotCount; ++i)
            before[i] = self->controller_->pendingClick(i);
        const int status = self->proc_(outputs, frames, now, self->clientData_);
        const size_t cycle = self->cycleCount_.load(std::memory_order_relaxed);
        if (cycle < kMaxCycles) {
            self->nows_[cycle] = now;
            size_t placed = self->placementCount_.load(std::memory_order_relaxed);
            for (int i = 0; i < TLAudioController::kSlotCount; ++i) {
                if (before[i] != 0 && self->controller_->pendingClick(i) == 0 && placed < kMaxCycles) {
                    self->placements_[placed++] = Placement{before[i], cycle};
                }
            }
            self->placementCount_.store(placed, std::memory_order_release);
            self->cycleCount_.store(cycle + 1, std::memory_order_release);
        }
        self->sequence_.fetch_add(1, std::memory_order_acq_rel);
        return status;
    }

    std::shared_ptr<JackAudioDevice> device_;
    const TLAudioController* controller_ = nullptr;
    IOProc proc_ = nullptr;
    void* clientData_ = nullptr;
    std::atomic<uint64_t> sequence_{0};
    std::vector<uint64_t> nows_;
    std::atomic<size_t> cycleCount_{0};
    std::vector<Placement> placements_;
    std::atomic<size_t> placementCount_{0};
};

struct Spread {
    double standardDeviation = 0.0;
    double worst = 0.0;
};

// Spread about the mean when `centred`, else about 0 (root mean square).
Spread spreadOf(const std::vector<double>& values, bool centred) {
    Spread spread;
    if (values.empty()) return spread;
    double mean = 0.0;
    if (centred) {
        for (double v : values) mean += v;
        mean /= static_cast<double>(values.size());
    }
    for (double v : values) {
        spread.standardDeviation += (v - mean) * (v - mean);
        spread.worst = std::max(spread.worst, std::abs(v - mean));
    }
    spread.standardDeviation = std::sqrt(spread.standardDeviation / static_cast<double>(values.size()));
    return spread;
}

template <typename Predicate>
bool waitFor(Predicate done, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

void BM_jackClickPlacement(benchmark::State& state) {
    if (findProgram("jackd").empty()) {
        std::printf("jackd is not installed: skipping click placement through JACK\n");
        state.SkipWithError("jackd is not installed");
        return;
    }
    for (auto _ : state) {
        JackDummyServer server("tollvane-bench-" + std::to_string(::getpid()), kRate, kPeriod);
        std::shared_ptr<JackAudioDevice> jack;
        if (!server.started() ||
            !waitFor(
                [&] {
                    return (jack = JackAudioDevice::open(server.name(), "tollvane-bench")) || !server.alive();
                },
                std::chrono::seconds(10)) ||
            !jack) {
            state.SkipWithError("the jackd dummy server did not accept clients");
            break;
        }

        auto device = std::make_shared<ObservedDevice>(jack);
        UserDefaults defaults{""};
        JackAudioDeviceLayer layer(jack);
        TLAudioController controller(defaults, layer);
        controller.setClickVolume(1.0f);
        device->observe(&controller);
        controller.startOnDevice(device, 0, true);
        if (!jack->isRunning()) {
            state.SkipWithError("the JACK device did not start");
            break;
        }
        const double allowance = TLAudioController::outputAllowance(jack->bufferFrames());
        const double rate = controller.deviceDescription().mSampleRate;
        const uint64_t runNanos = kFirstClickAfter + kClicks * kSpacing + 400'000'000;
        CaptureClient capture(server.name(), static_cast<size_t>(kRate * (runNanos / 1e9 + 2.0)));
        if (!capture.connectTo(jack->outputPortNames()) ||
            !waitFor([&] { return capture.cyclesRecorded() >= 4; }, std::chrono::seconds(5))) {
            controller.stop();
            state.SkipWithError("the capture client did not run");
            break;
        }

        // Hand each click in between two cycles, so that the cycle that
        // places it sees it whole and is the one noted.
        std::mt19937_64 random(20261208);
        std::uniform_int_distribution<uint64_t> subSample(0, 1'000'000'000 / kRate);
        const uint64_t base = monotonicNanos() + kFirstClickAfter;
        std::vector<uint64_t> clickTimes;
        for (int i = 0; i < kClicks; ++i) {
            const uint64_t hostTime = base + static_cast<uint64_t>(i) * kSpacing + subSample(random);
            const uint64_t handIn = hostTime - kLead;
            const uint64_t now = monotonicNanos();
            if (handIn > now) std::this_thread::sleep_for(std::chrono::nanoseconds(handIn - now));
            while (device->sequence() % 2 != 0) std::this_thread::yield();
            controller.addClickAtHostTime(hostTime);
            clickTimes.push_back(hostTime);
        }
        const uint64_t until = clickTimes.back() + 300'000'000;
        std::this_thread::sleep_for(std::chrono::nanoseconds(until - std::min(until, monotonicNanos())));
        capture.stop();
        controller.stop();

        // Each of our cycles with the recorded cycle of the same start.
        const size_t cycles = device->cycles();
        std::vector<int64_t> recordedCycle(cycles, -1);
        size_t c = 0;
        const int64_t halfPeriod = static_cast<int64_t>(kPeriod * 1e9 / kRate / 2);
        for (size_t ours = 0; ours < cycles; ++ours) {
            while (c < capture.cyclesRecorded() &&
                   static_cast<int64_t>(jack->hostTimeForJackTime(capture.cycle(c).start)) <
                       static_cast<int64_t>(device->now(ours)) - halfPeriod) {
                ++c;
            }
            if (c < capture.cyclesRecorded() &&
                std::abs(static_cast<int64_t>(jack->hostTimeForJackTime(capture.cycle(c).start)) -
                         static_cast<int64_t>(device->now(ours))) < halfPeriod) {
                recordedCycle[ours] = static_cast<int64_t>(c);
            }
        }

        const auto periodMicros = static_cast<jack_time_t>(kPeriod * 1e6 / kRate);
        const std::vector<float>& left = capture.channel(0);
        const std::vector<float>& right = capture.channel(1);
        // Where sound starts after at least a millisecond of silence.
        std::vector<int64_t> onsets;
        int64_t silent = 48;
        for (size_t i = 0; i < capture.framesRecorded(); ++i) {
            if (left[i] == 0.0f) {
                ++silent;
                continue;
            }
            if (silent >= 48) onsets.push_back(static_cast<int64_t>(i));
            silent = 0;
        }
        std::vector<int64_t> differences;
        // Clicks between whose placing cycle and sound every cycle of ours
        // was recorded as the next cycle of the capture, and ran on time:
        // there, only the arithmetic and the device can move a click. A
        // server that is not real-time, on a loaded machine, skips a client
        // now and then, and a late cycle may be told the times of the next.
        std::vector<int64_t> unbrokenDifferences;
        int unmatched = 0;
        for (uint64_t hostTime : clickTimes) {
            const ObservedDevice::Placement* placement = nullptr;
            for (size_t p = 0; p < device->placementCount(); ++p) {
                if (device->placement(p).hostTime == hostTime) placement = &device->placement(p);
            }
            if (!placement || recordedCycle[placement->cycle] < 0) {
                ++unmatched;
                continue;
            }
            const auto& cycle = capture.cycle(static_cast<size_t>(recordedCycle[placement->cycle]));
            const int64_t predicted =
                static_cast<int64_t>(cycle.recordedAt) +
                predictedClickOffset(hostTime, device->now(placement->cycle), allowance, rate);
            // The nearest onset in the recording is this click's; clicks are
            // 4656 frames apart.
            const auto nearest = std::lower_bound(onsets.begin(), onsets.end(), predicted);
            int64_t heard = -1;
            if (nearest != onsets.end()) heard = *nearest;
            if (nearest != onsets.begin() && (heard < 0 || predicted - *(nearest - 1) < heard - predicted)) {
                heard = *(nearest - 1);
            }
            if (heard < 0 || std::abs(heard - predicted) > 2000 || right[heard] != left[heard]) {
                ++unmatched;
                continue;
            }
            differences.push_back(heard - predicted);
            bool unbroken = true;
            for (size_t ours = placement->cycle; ours < cycles; ++ours) {
                const int64_t recorded = recordedCycle[ours];
                if (recorded !=
                        recordedCycle[placement->cycle] + static_cast<int64_t>(ours - placement->cycle) ||
                    capture.cycle(static_cast<size_t>(recorded)).late >= periodMicros) {
                    unbroken = false;
                    break;
                }
                if (capture.cycle(static_cast<size_t>(recorded)).recordedAt > static_cast<size_t>(heard))
                    break;
            }
            if (unbroken) unbrokenDifferences.push_back(heard - predicted);
        }

        // "Now" against the server's ideal clock: each cycle's start from the
        // first's, less the frames between them at the nominal rate; and each
        // period less the nominal one.
        std::vector<double> offsets;
        std::vector<double> periods;
        int64_t first = -1;
        int64_t previous = -1;
        for (size_t ours = 0; ours < cycles; ++ours) {
            if (recordedCycle[ours] < 0) continue;
            const auto frame =
                static_cast<int64_t>(capture.cycle(static_cast<size_t>(recordedCycle[ours])).frame);
            const auto now = static_cast<int64_t>(device->now(ours));
            if (first < 0) first = static_cast<int64_t>(ours);
            const int64_t firstFrame =
                static_cast<int64_t>(capture.cycle(static_cast<size_t>(recordedCycle[first])).frame);
            offsets.push_back((now - static_cast<int64_t>(device->now(first))) / 1e3 -
                              (frame - firstFrame) * 1e6 / kRate);
            if (previous >= 0 && static_cast<size_t>(previous) + 1 == ours) {
                const auto previousFrame =
                    static_cast<int64_t>(capture.cycle(static_cast<size_t>(recordedCycle[previous])).frame);
                periods.push_back((now - static_cast<int64_t>(device->now(previous))) / 1e3 -
                                  (frame - previousFrame) * 1e6 / kRate);
            }
            previous = static_cast<int64_t>(ours);
        }
        const Spread fromLine = spreadOf(offsets, true);
        const Spread perPeriod = spreadOf(periods, false);

        if (differences.empty()) {
            state.SkipWithError("no click was heard where it could be matched");
            break;
        }
        std::vector<int64_t> sorted = differences;
        std::sort(sorted.begin(), sorted.end());
        const int64_t median = sorted[sorted.size() / 2];
        int64_t worst = 0;
        for (int64_t d : differences) worst = std::max(worst, std::abs(d));
        int64_t worstUnbroken = 0;
        for (int64_t d : unbrokenDifferences) worstUnbroken = std::max(worstUnbroken, std::abs(d));
        const size_t late = capture.lateCycles(periodMicros);

        state.counters["clicks"] = static_cast<double>(differences.size());
        state.counters["median_samples"] = static_cast<double>(median);
        state.counters["worst_samples"] = static_cast<double>(worst);
        state.counters["worst_unbroken"] = static_cast<double>(worstUnbroken);
        state.counters["now_rms_us"] = perPeriod.standardDeviation;
        state.counters["now_worst_us"] = perPeriod.worst;
        std::printf(
            "\nClick placement through JACK (dummy driver, %u Hz, %u frames a period, not real-time):\n",
            kRate, kPeriod);
        std::printf("  %zu of %d clicks measured (%d could not be matched); %zu of %zu cycles ran late\n",
                    differences.size(), kClicks, unmatched, late, capture.cyclesRecorded());
        std::printf(
            "  start against the arithmetic for its cycle's \"now\": median %lld, worst %lld samples  "
            "(target: 0)\n",
            static_cast<long long>(median), static_cast<long long>(worst));
        std::printf(
            "  the %zu clicks whose cycles both clients ran one for one and on time: worst %lld samples\n",
            unbrokenDifferences.size(), static_cast<long long>(worstUnbroken));
        std::printf("  cycles' \"now\" against the ideal period (%.2f us): rms %.2f us, worst %.2f us\n",
                    kPeriod * 1e6 / kRate, perPeriod.standardDeviation, perPeriod.worst);
        std::printf("  cycles' \"now\" against the ideal clock over the run: sd %.2f us, worst %.2f us\n\n",
                    fromLine.standardDeviation, fromLine.worst);
    }
}
BENCHMARK(BM_jackClickPlacement)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);
TOLLVANE_BENCH_TARGET(BM_jackClickPlacement,
                      "a run of the measurement; median_samples and worst_samples: 0 (printed above)");

}  // namespace
}  // namespace tollvane
