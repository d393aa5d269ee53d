#include "platform/HostClock.h"

#include <atomic>
#include <cmath>
#include <limits>

#include "platform/SystemHostClock.h"

namespace tollvane {

namespace {

std::atomic<const HostClock*>& installedClock() {
    static std::atomic<const HostClock*> clock{nullptr};
    return clock;
}

}  // namespace

uint64_t HostClock::ticksFromSeconds(double seconds) {
    if (!(seconds > 0.0)) return 0;
    double ticks = std::round(seconds * frequency);
    // 2^64 is exactly representable; anything at or past it saturates.
    if (ticks >= 18446744073709551616.0) return std::numeric_limits<uint64_t>::max();
    return static_cast<uint64_t>(ticks);
}

double HostClock::secondsBetween(uint64_t earlier, uint64_t later) {
    if (later >= earlier) return secondsFromTicks(later - earlier);
    return -secondsFromTicks(earlier - later);
}

const HostClock& HostClock::shared() {
    const HostClock* clock = installedClock().load(std::memory_order_acquire);
    return clock ? *clock : SystemHostClock::instance();
}

const HostClock* HostClock::setShared(const HostClock* clock) {
    const HostClock* old = installedClock().exchange(clock, std::memory_order_acq_rel);
    return old ? old : &SystemHostClock::instance();
}

}  // namespace tollvane
