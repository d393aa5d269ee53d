#pragma once

// The command line's run loop: the main thread blocks in run() or runUntil()
// and sleeps on a condition variable until work is posted, a timer falls due
// or stop() is called. Timers run on the system monotonic clock.
//
// Threads: run() and runUntil() on the main thread (the thread that created
// the loop; other threads get std::logic_error); stop() from any thread.

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>

#include "platform/RunLoop.h"

namespace tollvane {

class BlockingRunLoop final : public RunLoop {
public:
    BlockingRunLoop();
    ~BlockingRunLoop() override;

    uint64_t hostTime() const override;

    // Runs until stop() or shutdown().
    void run();
    // Runs until the predicate holds, answering true, or until stop(),
    // shutdown() or the deadline (loop time in seconds), answering false. The
    // predicate is checked on the main thread before waiting and after each
    // pass over the work; a thread that changes what it reads should do so
    // through post(), which also wakes the loop.
    bool runUntil(const std::function<bool()>& predicate);
    bool runUntil(const std::function<bool()>& predicate, double deadline);
    // Runs until the deadline and answers true, or false when stopped first.
    bool runUntil(double deadline);

    // Makes the innermost run() or runUntil() return after the work in hand.
    // A stop that arrives while the loop is not running ends the next run at
    // once, so a thread that stops the loop cannot lose the race with its start.
    void stop();

private:
    void wakeUp() override;
    bool spin(const std::function<bool()>* predicate, std::optional<uint64_t> deadline);

    std::mutex wakeMutex_;
    std::condition_variable wakeCondition_;
    uint64_t wakeups_ = 0;
    bool stopRequested_ = false;
};

}  // namespace tollvane
