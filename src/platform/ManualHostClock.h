#pragma once

// A host clock that only moves when told to: tests set or advance it and
// every reader sees the new time at once. A ManualRunLoop drives one so that
// loop time and host time agree.
//
// Threads: now() from any thread, real-time safe (one atomic load). set()
// and advance() from the thread that drives the test.

#include <atomic>
#include <cstdint>

#include "platform/HostClock.h"

namespace tollvane {

class ManualHostClock final : public HostClock {
public:
    explicit ManualHostClock(uint64_t start = 0) : ticks_(start) {}

    uint64_t now() const override { return ticks_.load(std::memory_order_acquire); }
    void set(uint64_t ticks) { ticks_.store(ticks, std::memory_order_release); }
    void advance(uint64_t ticks) { ticks_.fetch_add(ticks, std::memory_order_acq_rel); }
    void advanceSeconds(double seconds) { advance(ticksFromSeconds(seconds)); }

private:
    std::atomic<uint64_t> ticks_;
};

}  // namespace tollvane
