#include "platform/SystemHostClock.h"

#include <time.h>

namespace tollvane {

const SystemHostClock& SystemHostClock::instance() {
    static const SystemHostClock clock;
    return clock;
}

uint64_t SystemHostClock::now() const {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000000u + static_cast<uint64_t>(ts.tv_nsec);
}

}  // namespace tollvane
