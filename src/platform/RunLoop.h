#pragma once

// The main thread's run loop: posted work, one-shot and repeating timers,
// perform-on-main-thread with or without waiting. The program reaches the
// installed loop through RunLoop::main(). ManualRunLoop runs on virtual time
// for tests, BlockingRunLoop serves the command line, and the GUI drives one
// from its own event loop; each supplies the clock and how a waiting driver
// is woken, and calls the protected primitives below to do the work.
//
// The main thread is the thread that created the loop. Work and timer
// callbacks only ever run there, in this order: posted work in the order it
// was posted; timers by due time, ties in the order they were scheduled.
//
// A loop ends with shutdown() (the destructors call it): pending work is
// dropped, timers are invalidated, threads waiting in performOnMainThread are
// released, and later posts are refused. Threads that may post to a loop must
// stop before the loop is destroyed; shutting it down first releases any of
// them blocked in a waiting perform.
//
// Exceptions thrown by work or a timer callback propagate to whoever drives
// the loop; work not yet run stays queued.

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <queue>
#include <thread>
#include <vector>

#include "platform/Timer.h"

namespace tollvane {

class RunLoop {
public:
    using Work = std::function<void()>;

    RunLoop(const RunLoop&) = delete;
    RunLoop& operator=(const RunLoop&) = delete;
    virtual ~RunLoop();

    // Any thread. Queues work for the main thread. Answers false, and drops
    // the work, once the loop is shut down.
    bool post(Work work);

    // Any thread; the callback runs on the main thread `seconds` from now
    // (loop time), then every `seconds` when repeating. A repeating timer
    // keeps its phase: firings stay at whole intervals from its scheduling,
    // and firings missed while the loop was busy are skipped, not bunched.
    // Repeating intervals below 0.1 ms are raised to it. After shutdown the
    // answer is an already invalid timer.
    std::shared_ptr<Timer> scheduleTimer(double seconds, bool repeats, Timer::Callback callback);
    std::shared_ptr<Timer> scheduleTimer(double seconds, bool repeats, std::function<void()> callback);

    // Any thread. On the main thread the work runs at once, inline. From
    // another thread it is posted; with waitUntilDone the caller blocks until
    // it has run. Answers whether the work ran (or, without waiting, was
    // queued). A waiting caller is released with false if the loop is shut
    // down or destroyed before the work runs, or if the work throws; so a
    // main thread that shuts the loop down before joining its threads never
    // deadlocks with them.
    bool performOnMainThread(Work work, bool waitUntilDone);

    // Any thread.
    bool isMainThread() const { return std::this_thread::get_id() == mainThread_; }
    // Any thread; real-time safe when the loop's clock is. Loop time in
    // seconds and in host-clock ticks.
    double now() const;
    virtual uint64_t hostTime() const = 0;

    // Main thread. Ends the loop for good (see above). Safe to call twice.
    void shutdown();
    // Any thread.
    bool isShutDown() const;

    // The loop that the program's main thread runs. main() throws
    // std::logic_error when none is installed; mainIfInstalled() answers null.
    // Any thread; setMain() only at start-up or test set-up. A loop being
    // destroyed uninstalls itself.
    static RunLoop& main();
    static RunLoop* mainIfInstalled();
    // Installs a loop (nullptr to remove it) and returns the one before.
    static RunLoop* setMain(RunLoop* loop);

protected:
    RunLoop();

    // For drivers, on the main thread. Runs the work that was queued when
    // called, in order (work posted meanwhile waits for the next call), and
    // answers whether there was any.
    bool runPostedWork();
    // Fires the earliest valid timer if it is due at or before `limitTicks`;
    // answers whether a timer fired.
    bool fireNextTimer(uint64_t limitTicks);
    // Any thread.
    bool hasPostedWork() const;
    std::optional<uint64_t> nextTimerDue() const;

    // Called, from any thread, after work is posted, a timer is scheduled or
    // the loop is shut down, so that a driver waiting for any of those wakes
    // up. Called with the loop's lock held: it must not call back into the
    // loop, only signal the driver.
    virtual void wakeUp() = 0;

private:
    struct TimerEntry {
        uint64_t due;
        uint64_t order;
        std::shared_ptr<Timer> timer;
        bool operator>(const TimerEntry& other) const {
            return due != other.due ? due > other.due : order > other.order;
        }
    };
    using TimerQueue = std::priority_queue<TimerEntry, std::vector<TimerEntry>, std::greater<TimerEntry>>;

    void dropEverything();
    void requeueRepeating(const std::shared_ptr<Timer>& timer);
    void pruneInvalidTimersLocked() const;

    const std::thread::id mainThread_;
    mutable std::mutex mutex_;
    std::deque<Work> work_;
    // Invalidated timers stay queued until they reach the top; their
    // callbacks are released when invalidated, so they cost a few words.
    mutable TimerQueue timers_;
    uint64_t nextTimerOrder_ = 0;
    bool shutDown_ = false;
};

}  // namespace tollvane
