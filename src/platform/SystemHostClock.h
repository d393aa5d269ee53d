#pragma once

// The host clock of a running program: CLOCK_MONOTONIC in nanoseconds, the
// clock JACK and std::chrono::steady_clock use on Linux.
//
// Threads: any; now() is real-time safe (clock_gettime through the vDSO).

#include "platform/HostClock.h"

namespace tollvane {

class SystemHostClock final : public HostClock {
public:
    static const SystemHostClock& instance();
    uint64_t now() const override;
};

}  // namespace tollvane
