#include "platform/ManualRunLoop.h"

#include <limits>
#include <stdexcept>

#include "platform/HostClock.h"

namespace tollvane {

namespace {

class RunningFlag {
public:
    explicit RunningFlag(bool& flag) : flag_(flag) {
        if (flag_) throw std::logic_error("ManualRunLoop is already running");
        flag_ = true;
    }
    ~RunningFlag() { flag_ = false; }
    RunningFlag(const RunningFlag&) = delete;
    RunningFlag& operator=(const RunningFlag&) = delete;

private:
    bool& flag_;
};

}  // namespace

ManualRunLoop::ManualRunLoop(uint64_t startTicks)
    : ownClock_(std::make_unique<ManualHostClock>(startTicks)), clock_(ownClock_.get()) {}

ManualRunLoop::ManualRunLoop(ManualHostClock& clock) : clock_(&clock) {}

ManualRunLoop::~ManualRunLoop() {
    shutdown();
}

void ManualRunLoop::advance(double seconds) {
    advanceTicks(HostClock::ticksFromSeconds(seconds));
}

void ManualRunLoop::advanceTicks(uint64_t ticks) {
    RunningFlag running(running_);
    uint64_t start = clock_->now();
    uint64_t target = ticks > std::numeric_limits<uint64_t>::max() - start
                          ? std::numeric_limits<uint64_t>::max()
                          : start + ticks;
    drainPostedWork();
    for (;;) {
        std::optional<uint64_t> due = nextTimerDue();
        if (!due || *due > target) break;
        // Work run meanwhile may have moved the clock by hand; time never goes back.
        if (*due > clock_->now()) clock_->set(*due);
        fireNextTimer(clock_->now());
        drainPostedWork();
    }
    if (target > clock_->now()) clock_->set(target);
    drainPostedWork();
}

void ManualRunLoop::runPending() {
    RunningFlag running(running_);
    for (;;) {
        drainPostedWork();
        if (!fireNextTimer(clock_->now())) break;
    }
}

void ManualRunLoop::waitForPostedWork() {
    for (;;) {
        uint64_t seen;
        {
            std::lock_guard<std::mutex> lock(wakeMutex_);
            seen = wakeups_;
        }
        // Checked after taking the count: whatever is posted from now on bumps it.
        if (hasPostedWork() || isShutDown()) return;
        std::unique_lock<std::mutex> lock(wakeMutex_);
        wakeCondition_.wait(lock, [&] { return wakeups_ != seen; });
    }
}

void ManualRunLoop::wakeUp() {
    {
        std::lock_guard<std::mutex> lock(wakeMutex_);
        ++wakeups_;
    }
    wakeCondition_.notify_all();
}

void ManualRunLoop::drainPostedWork() {
    while (runPostedWork()) {
    }
}

}  // namespace tollvane
