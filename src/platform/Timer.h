#pragma once

// A one-shot or repeating timer scheduled on a RunLoop. The loop and the
// scheduler share the handle; invalidate() cancels it and releases its
// callback (and whatever that holds) at once, even from inside the callback.
//
// Threads: invalidate(), isValid() and the accessors may be called from any
// thread; the callback runs on the loop's main thread.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

namespace tollvane {

class Timer {
public:
    using Callback = std::function<void(Timer&)>;

    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;

    void invalidate();
    bool isValid() const;
    bool repeats() const { return repeats_; }
    // Seconds between firings (repeating) or until the firing (one-shot).
    double interval() const;
    // Loop time, in seconds, of the next firing.
    double fireDate() const;

private:
    friend class RunLoop;

    Timer(uint64_t intervalTicks, bool repeats, uint64_t startTicks, uint64_t order, Callback callback);

    // The callback to run now, or null when invalidated meanwhile.
    std::shared_ptr<Callback> callbackForFiring() const;

    const uint64_t intervalTicks_;
    const bool repeats_;
    // Firings are placed at start + n × interval so that a repeating timer
    // keeps its phase however late a firing runs.
    const uint64_t startTicks_;
    // Scheduling order, which breaks ties between timers due at the same time.
    const uint64_t order_;

    mutable std::mutex mutex_;
    std::shared_ptr<Callback> callback_;
    uint64_t firings_ = 0;
    uint64_t dueTicks_;
};

}  // namespace tollvane
