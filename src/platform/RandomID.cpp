#include "platform/RandomID.h"
#include <cstdlib>
#include <mutex>
#include <random>

namespace tollvane {

uint32_t newRandomID() {
    static std::once_flag seeded;
    std::call_once(seeded, [] { ::srandom(std::random_device{}()); });
    for (;;) {
        // random() takes its own lock, so any thread may ask.
        const auto id = static_cast<uint32_t>(::random());
        if (id != 0) return id;
    }
}

}  // namespace tollvane
