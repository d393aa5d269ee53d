#pragma once

// Host time: unsigned 64-bit ticks of CLOCK_MONOTONIC, one tick a nanosecond.
// Clicks, MIDI packets and display refreshes are placed on it. HostClock is
// the interface; SystemHostClock reads the monotonic clock and
// ManualHostClock is moved by hand in tests.
//
// Threads: now() and the conversions may be called from any thread and are
// real-time safe. shared() may be called from any thread; setShared() only
// while no other thread is using the shared clock (start-up, test set-up).

#include <cstdint>

namespace tollvane {

class HostClock {
public:
    static constexpr double frequency = 1e9;

    virtual ~HostClock() = default;
    virtual uint64_t now() const = 0;

    static double secondsFromTicks(uint64_t ticks) { return static_cast<double>(ticks) / frequency; }
    // Negative or NaN seconds give 0; seconds past the range give the largest tick count.
    static uint64_t ticksFromSeconds(double seconds);
    // Signed difference later - earlier in seconds, without wrapping when later < earlier.
    static double secondsBetween(uint64_t earlier, uint64_t later);

    // The clock the program reads host time from: the system clock unless a
    // test has installed another.
    static const HostClock& shared();
    // Installs a clock (nullptr restores the system clock) and returns the
    // one installed before. The caller keeps the clock alive while installed.
    static const HostClock* setShared(const HostClock* clock);
};

}  // namespace tollvane
