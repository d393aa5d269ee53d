#include "platform/RunLoop.h"

#include <atomic>
#include <condition_variable>
#include <limits>
#include <stdexcept>

#include "platform/HostClock.h"

namespace tollvane {

namespace {

std::atomic<RunLoop*>& installedMain() {
    static std::atomic<RunLoop*> loop{nullptr};
    return loop;
}

// The shortest repeat, so that a zero interval cannot keep a loop firing
// the same timer forever.
constexpr uint64_t kMinimumRepeatTicks = 100'000;

uint64_t saturatingAdd(uint64_t a, uint64_t b) {
    return b > std::numeric_limits<uint64_t>::max() - a ? std::numeric_limits<uint64_t>::max() : a + b;
}

// What a thread waiting in performOnMainThread waits on. It outlives the
// loop if need be: the posted work holds a PerformRelease, whose destruction (after
// the work ran, or when the loop drops it unrun) lets the waiter go.
struct PerformWait {
    std::mutex mutex;
    std::condition_variable condition;
    bool finished = false;
    bool ran = false;
};

struct PerformRelease {
    explicit PerformRelease(std::shared_ptr<PerformWait> w) : wait(std::move(w)) {}
    PerformRelease(const PerformRelease&) = delete;
    PerformRelease& operator=(const PerformRelease&) = delete;
    std::shared_ptr<PerformWait> wait;
    ~PerformRelease() {
        {
            std::lock_guard<std::mutex> lock(wait->mutex);
            wait->finished = true;
        }
        wait->condition.notify_all();
    }
};

}  // namespace

RunLoop::RunLoop() : mainThread_(std::this_thread::get_id()) {}

RunLoop::~RunLoop() {
    RunLoop* self = this;
    installedMain().compare_exchange_strong(self, nullptr, std::memory_order_acq_rel);
    dropEverything();
}

bool RunLoop::post(Work work) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (shutDown_) return false;
    work_.push_back(std::move(work));
    // Woken under the lock: shutdown() takes it too, so once the loop is shut
    // down no poster is still inside wakeUp() when the loop is destroyed.
    wakeUp();
    return true;
}

std::shared_ptr<Timer> RunLoop::scheduleTimer(double seconds, bool repeats, Timer::Callback callback) {
    uint64_t interval = HostClock::ticksFromSeconds(seconds);
    if (repeats && interval < kMinimumRepeatTicks) interval = kMinimumRepeatTicks;
    uint64_t start = hostTime();
    std::shared_ptr<Timer> timer;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        uint64_t order = nextTimerOrder_++;
        // A one-shot timer far in the future must not wrap round to the past.
        uint64_t firstDue = saturatingAdd(start, interval);
        timer.reset(new Timer(interval, repeats, start, order, std::move(callback)));
        timer->dueTicks_ = firstDue;
        if (shutDown_) {
            timer->invalidate();
            return timer;
        }
        timers_.push(TimerEntry{firstDue, order, timer});
        wakeUp();
    }
    return timer;
}

std::shared_ptr<Timer> RunLoop::scheduleTimer(double seconds, bool repeats, std::function<void()> callback) {
    return scheduleTimer(seconds, repeats, [callback = std::move(callback)](Timer&) { callback(); });
}

bool RunLoop::performOnMainThread(Work work, bool waitUntilDone) {
    if (isMainThread()) {
        work();
        return true;
    }
    if (!waitUntilDone) return post(std::move(work));

    auto wait = std::make_shared<PerformWait>();
    auto release = std::make_shared<PerformRelease>(wait);
    bool queued = post([work = std::move(work), release]() {
        work();
        std::lock_guard<std::mutex> lock(release->wait->mutex);
        release->wait->ran = true;
    });
    release.reset();
    if (!queued) return false;
    std::unique_lock<std::mutex> lock(wait->mutex);
    wait->condition.wait(lock, [&] { return wait->finished; });
    return wait->ran;
}

double RunLoop::now() const {
    return HostClock::secondsFromTicks(hostTime());
}

void RunLoop::shutdown() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        shutDown_ = true;
        wakeUp();
    }
    dropEverything();
}

bool RunLoop::isShutDown() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return shutDown_;
}

RunLoop& RunLoop::main() {
    RunLoop* loop = mainIfInstalled();
    if (!loop) throw std::logic_error("no main run loop is installed");
    return *loop;
}

RunLoop* RunLoop::mainIfInstalled() {
    return installedMain().load(std::memory_order_acquire);
}

RunLoop* RunLoop::setMain(RunLoop* loop) {
    return installedMain().exchange(loop, std::memory_order_acq_rel);
}

bool RunLoop::runPostedWork() {
    size_t count;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        count = work_.size();
    }
    size_t ran = 0;
    for (; ran < count; ++ran) {
        Work work;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (work_.empty()) break;
            work = std::move(work_.front());
            work_.pop_front();
        }
        // Taken out of the queue first so that a throw leaves the rest queued.
        work();
    }
    return ran > 0;
}

bool RunLoop::fireNextTimer(uint64_t limitTicks) {
    for (;;) {
        std::shared_ptr<Timer> timer;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            pruneInvalidTimersLocked();
            if (timers_.empty() || timers_.top().due > limitTicks) return false;
            timer = timers_.top().timer;
            timers_.pop();
        }
        // Holding the callback keeps it alive while it runs, even if the
        // timer is invalidated from inside it.
        std::shared_ptr<Timer::Callback> callback = timer->callbackForFiring();
        if (!callback) continue;

        // After the callback, even one that throws: a one-shot timer ends, a
        // repeating one still valid is queued for its next firing, counted
        // from the time the callback returned so that a long one skips the
        // firings it overran.
        struct AfterFiring {
            RunLoop& loop;
            const std::shared_ptr<Timer>& timer;
            ~AfterFiring() {
                if (timer->repeats_) {
                    loop.requeueRepeating(timer);
                } else {
                    timer->invalidate();
                }
            }
        } after{*this, timer};
        (*callback)(*timer);
        return true;
    }
}

void RunLoop::requeueRepeating(const std::shared_ptr<Timer>& timer) {
    if (!timer->isValid()) return;
    uint64_t current = hostTime();
    uint64_t next;
    {
        std::lock_guard<std::mutex> lock(timer->mutex_);
        // Firing n falls at start + n × interval; the next is the first after now.
        uint64_t n = timer->firings_ + 2;
        if (current >= timer->startTicks_) {
            uint64_t passed = (current - timer->startTicks_) / timer->intervalTicks_ + 1;
            if (passed > n) n = passed;
        }
        timer->firings_ = n - 1;
        uint64_t offset = n > std::numeric_limits<uint64_t>::max() / timer->intervalTicks_
                              ? std::numeric_limits<uint64_t>::max()
                              : n * timer->intervalTicks_;
        next = saturatingAdd(timer->startTicks_, offset);
        timer->dueTicks_ = next;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (!shutDown_) timers_.push(TimerEntry{next, timer->order_, timer});
}

bool RunLoop::hasPostedWork() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return !work_.empty();
}

std::optional<uint64_t> RunLoop::nextTimerDue() const {
    std::lock_guard<std::mutex> lock(mutex_);
    pruneInvalidTimersLocked();
    if (timers_.empty()) return std::nullopt;
    return timers_.top().due;
}

void RunLoop::dropEverything() {
    std::deque<Work> work;
    TimerQueue timers;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        work.swap(work_);
        timers.swap(timers_);
    }
    // Outside the lock: dropping work releases performers waiting on it, and
    // invalidating destroys callbacks, either of which may run arbitrary code.
    work.clear();
    while (!timers.empty()) {
        timers.top().timer->invalidate();
        timers.pop();
    }
}

void RunLoop::pruneInvalidTimersLocked() const {
    while (!timers_.empty() && !timers_.top().timer->isValid()) timers_.pop();
}

}  // namespace tollvane
