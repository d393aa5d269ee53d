// Decoding a user event into a TLEvent and posting its trigger to the main
// run loop, as the music player's thread does for every user event of a cue.
// The benchmark's thread plays the player's; a thread of its own owns the
// (manual) main run loop and runs the posted triggers between batches, with
// the timing paused.

#include <benchmark/benchmark.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "BenchTargets.h"
#include "platform/ManualHostClock.h"
#include "platform/ManualRunLoop.h"
#include "playback/TLEventController.h"
#include "playback/UserEventRecord.h"
#include "playback/sequence/MusicSequence.h"

namespace tollvane {
namespace {

constexpr size_t kBatch = 1024;
// Further apart than the duplicate window, so that every delivery counts.
constexpr uint64_t kNanosApart = 40'000'000;

// The main thread: owns the run loop and runs what was posted when asked.
class MainThread {
public:
    MainThread() : thread_([this] { run(); }) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return ready_; });
    }
    ~MainThread() {
        {
            const std::lock_guard lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }

    void drain() {
        std::unique_lock lock(mutex_);
        const uint64_t wanted = ++requested_;
        changed_.notify_all();
        changed_.wait(lock, [&] { return drained_ >= wanted; });
    }

private:
    void run() {
        ManualRunLoop loop;
        RunLoop* previous = RunLoop::setMain(&loop);
        std::unique_lock lock(mutex_);
        ready_ = true;
        changed_.notify_all();
        while (true) {
            changed_.wait(lock, [this] { return stop_ || requested_ > drained_; });
            const uint64_t request = requested_;
            lock.unlock();
            loop.runPending();
            lock.lock();
            drained_ = request;
            changed_.notify_all();
            if (stop_) break;
        }
        lock.unlock();
        loop.runPending();
        RunLoop::setMain(previous);
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    bool ready_ = false;
    bool stop_ = false;
    uint64_t requested_ = 0;
    uint64_t drained_ = 0;
    std::thread thread_;
};

void deliver(benchmark::State& state, double atTime, double startSliceBeat) {
    ManualHostClock clock(1);
    MainThread mainThread;
    TLEventController controller(clock);
    MusicSequence sequence;
    const std::vector<uint8_t> block = UserEventRecord::streamer({0.2f, 0.8f, 0.3f, 2.0});
    size_t pending = 0;
    for (auto _ : state) {
        clock.advance(kNanosApart);
        controller.takeUserEvent(block, &sequence, nullptr, atTime, startSliceBeat, startSliceBeat + 0.5);
        if (++pending == kBatch) {
            state.PauseTiming();
            mainThread.drain();
            pending = 0;
            state.ResumeTiming();
        }
    }
    mainThread.drain();
    state.SetItemsProcessed(state.iterations());
}

void BM_takeUserEventStreamer(benchmark::State& state) {
    deliver(state, 4.0, 4.0);
}
BENCHMARK(BM_takeUserEventStreamer);
TOLLVANE_BENCH_TARGET(BM_takeUserEventStreamer, "at most 5 us per event (decode and post)");

// Half a second late: the skip comes from two beat-to-seconds conversions.
void BM_takeUserEventLateStreamer(benchmark::State& state) {
    deliver(state, 4.0, 5.0);
}
BENCHMARK(BM_takeUserEventLateStreamer);
TOLLVANE_BENCH_TARGET(BM_takeUserEventLateStreamer, "at most 5 us per event (decode and post)");

}  // namespace
}  // namespace tollvane
