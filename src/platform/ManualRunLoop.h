#pragma once

// A run loop on virtual time for tests. Nothing happens until the test says
// so: advance() moves time forward, firing each due timer in time order
// (ties in scheduling order) with the clock set to that timer's due time and
// running posted work as soon as it is queued; runPending() does the same
// without moving time. The loop drives a ManualHostClock, so host time and
// loop time agree; install it with HostClock::setShared() to make the whole
// program read it. No sleeps, no threads of its own.
//
// Threads: advance(), runPending() and waitForPostedWork() on the main thread
// (the thread that created the loop); everything RunLoop allows elsewhere.

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

#include "platform/ManualHostClock.h"
#include "platform/RunLoop.h"

namespace tollvane {

class ManualRunLoop final : public RunLoop {
public:
    // A loop with its own clock, starting at `startTicks`.
    explicit ManualRunLoop(uint64_t startTicks = 0);
    // A loop driving a clock the caller owns and keeps alive.
    explicit ManualRunLoop(ManualHostClock& clock);
    ~ManualRunLoop() override;

    ManualHostClock& clock() { return *clock_; }
    uint64_t hostTime() const override { return clock_->now(); }

    // Moves time forward by `seconds` (negative counts as 0). Not reentrant:
    // calling it from inside the loop's own work throws std::logic_error.
    void advance(double seconds);
    void advanceTicks(uint64_t ticks);
    // Runs posted work and due timers until neither is left, at the current time.
    void runPending();
    // Blocks until work has been posted or the loop is shut down; for tests
    // that hand work to the loop from real threads.
    void waitForPostedWork();

private:
    void wakeUp() override;
    void drainPostedWork();

    std::unique_ptr<ManualHostClock> ownClock_;
    ManualHostClock* clock_;
    bool running_ = false;
    std::mutex wakeMutex_;
    std::condition_variable wakeCondition_;
    uint64_t wakeups_ = 0;
};

}  // namespace tollvane
