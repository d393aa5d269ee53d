#include "platform/BlockingRunLoop.h"

#include <chrono>
#include <stdexcept>

#include "platform/HostClock.h"
#include "platform/SystemHostClock.h"

namespace tollvane {

BlockingRunLoop::BlockingRunLoop() = default;

BlockingRunLoop::~BlockingRunLoop() {
    shutdown();
}

uint64_t BlockingRunLoop::hostTime() const {
    return SystemHostClock::instance().now();
}

void BlockingRunLoop::run() {
    spin(nullptr, std::nullopt);
}

bool BlockingRunLoop::runUntil(const std::function<bool()>& predicate) {
    return spin(&predicate, std::nullopt);
}

bool BlockingRunLoop::runUntil(const std::function<bool()>& predicate, double deadline) {
    return spin(&predicate, HostClock::ticksFromSeconds(deadline));
}

bool BlockingRunLoop::runUntil(double deadline) {
    return spin(nullptr, HostClock::ticksFromSeconds(deadline));
}

void BlockingRunLoop::stop() {
    {
        std::lock_guard<std::mutex> lock(wakeMutex_);
        stopRequested_ = true;
    }
    wakeCondition_.notify_all();
}

void BlockingRunLoop::wakeUp() {
    {
        std::lock_guard<std::mutex> lock(wakeMutex_);
        ++wakeups_;
    }
    wakeCondition_.notify_all();
}

bool BlockingRunLoop::spin(const std::function<bool()>* predicate, std::optional<uint64_t> deadline) {
    if (!isMainThread()) throw std::logic_error("BlockingRunLoop runs only on the thread that created it");
    for (;;) {
        if (predicate && (*predicate)()) return true;
        uint64_t seen;
        {
            std::lock_guard<std::mutex> lock(wakeMutex_);
            if (stopRequested_) {
                stopRequested_ = false;
                return false;
            }
            seen = wakeups_;
        }
        if (isShutDown()) return false;

        bool worked = runPostedWork();
        uint64_t now = hostTime();
        while (fireNextTimer(now)) worked = true;
        if (worked) continue;

        if (deadline && now >= *deadline) return predicate == nullptr;
        std::optional<uint64_t> wake = nextTimerDue();
        if (deadline && (!wake || *deadline < *wake)) wake = deadline;

        std::unique_lock<std::mutex> lock(wakeMutex_);
        auto woken = [&] { return wakeups_ != seen || stopRequested_; };
        if (!wake) {
            wakeCondition_.wait(lock, woken);
        } else if (*wake > now) {
            // Long waits are cut into hours so the duration cannot overflow; the loop just looks again.
            constexpr uint64_t kLongestWait = 3600ull * 1000000000ull;
            uint64_t ticks = *wake - now < kLongestWait ? *wake - now : kLongestWait;
            wakeCondition_.wait_for(lock, std::chrono::nanoseconds(static_cast<int64_t>(ticks)), woken);
        }
    }
}

}  // namespace tollvane
