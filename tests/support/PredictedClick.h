#pragma once

// The audio controller's own arithmetic for where a click starts, for tests
// that check where one landed.

#include <cstdint>

#include "platform/HostClock.h"

namespace tollvane {

// How many frames after the start of the buffer it starts in a click for
// `hostTime` makes its first audible sample, by the controller's own
// arithmetic: the slot starts at allowance - (hostTime - now) and each sample
// adds dt before it is computed; the click's first sample (u = 0) is silent.
inline int64_t predictedClickOffset(uint64_t hostTime, uint64_t now, double allowance, double sampleRate) {
    const double dt = 1.0 / sampleRate;
    double value = allowance - HostClock::secondsBetween(now, hostTime) + dt;
    int64_t k = 0;
    while (value <= 0.0) {
        value += dt;
        ++k;
    }
    return k;
}

}  // namespace tollvane
