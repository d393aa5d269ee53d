#include "platform/Timer.h"

#include "platform/HostClock.h"

namespace tollvane {

Timer::Timer(uint64_t intervalTicks, bool repeats, uint64_t startTicks, uint64_t order, Callback callback)
    : intervalTicks_(intervalTicks),
      repeats_(repeats),
      startTicks_(startTicks),
      order_(order),
      callback_(std::make_shared<Callback>(std::move(callback))),
      dueTicks_(startTicks + intervalTicks) {}

void Timer::invalidate() {
    std::shared_ptr<Callback> released;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        released = std::move(callback_);
    }
    // The callback's captures are destroyed here, outside the lock; while the
    // callback itself runs, the loop holds another reference to it.
}

bool Timer::isValid() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return callback_ != nullptr;
}

double Timer::interval() const {
    return HostClock::secondsFromTicks(intervalTicks_);
}

double Timer::fireDate() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return HostClock::secondsFromTicks(dueTicks_);
}

std::shared_ptr<Timer::Callback> Timer::callbackForFiring() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return callback_;
}

}  // namespace tollvane
