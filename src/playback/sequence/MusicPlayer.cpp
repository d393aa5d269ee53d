#include "playback/sequence/MusicPlayer.h"

#include <pthread.h>
#include <sched.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <limits>
#include <mutex>
#include <span>
#include <vector>

#include "playback/sequence/MusicSequence.h"
#include "playback/sequence/TempoMap.h"

namespace tollvane {

namespace {

// Real-time priority of the thread, when granted: below the audio and MIDI
// threads, which usually run from 70 up.
constexpr int kThreadPriority = 20;
// A second look after the clock had not quite reached an event.
constexpr uint64_t kRetryTicks = 20'000;
// Longest sleep while playing, so that events added or moved during playback
// are seen in time.
constexpr uint64_t kLongestSleepTicks = 10'000'000;

// The sequence's beats <-> seconds, playback rate included, from one
// snapshot of its tempo map.
struct SequenceTime {
    std::shared_ptr<const TempoMap> map;
    double playbackRate = 1.0;

    explicit SequenceTime(const MusicSequence& sequence) : map(sequence.tempoMap()) {
        double rate = sequence.playbackRate();
        // The store refuses rates that are not finite and positive; keep the clock running if one slips by.
        if (std::isfinite(rate) && rate > 0.0) playbackRate = rate;
    }
    double seconds(double beats) const { return map->secondsForBeats(beats) / playbackRate; }
    double beats(double seconds) const { return map->beatsForSeconds(seconds * playbackRate); }
};

// anchor + seconds as host ticks, clamped to the clock's range.
uint64_t addSeconds(uint64_t anchor, double seconds, bool roundUp) {
    double ticks = seconds * HostClock::frequency;
    ticks = roundUp ? std::ceil(ticks) : std::round(ticks);
    double result = static_cast<double>(anchor) + ticks;
    if (!(result > 0.0)) return 0;
    if (result >= 18446744073709551616.0) return std::numeric_limits<uint64_t>::max();
    // Stay exact for the usual small offsets, where the double sum would round.
    if (std::fabs(ticks) < 9.0e15) {
        int64_t offset = static_cast<int64_t>(ticks);
        if (offset >= 0) return anchor + static_cast<uint64_t>(offset);
        uint64_t back = static_cast<uint64_t>(-offset);
        return back > anchor ? 0 : anchor - back;
    }
    return static_cast<uint64_t>(result);
}

}  // namespace

class MusicPlayer::Core {
public:
    explicit Core(const HostClock& clock) : clock_(clock) {}

    int setSequence(std::shared_ptr<MusicSequence> sequence) {
        std::unique_lock<std::mutex> lock(mutex_);
        stopLocked();
        sequence_ = std::move(sequence);
        position_ = 0.0;
        waitForDeliveryLocked(lock);
        return kMusicPlayerNoErr;
    }

    std::shared_ptr<MusicSequence> sequence() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return sequence_;
    }

    int start() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!sequence_) return kMusicPlayerError_NoSequence;
        if (playing_) return kMusicPlayerNoErr;
        anchorHost_ = clock_.now();
        anchorBeat_ = position_;
        lastBeat_ = position_;
        playing_ = true;
        wake();
        return kMusicPlayerNoErr;
    }

    int stop() {
        std::unique_lock<std::mutex> lock(mutex_);
        stopLocked();
        waitForDeliveryLocked(lock);
        return kMusicPlayerNoErr;
    }

    void shutDown() {
        std::unique_lock<std::mutex> lock(mutex_);
        stopLocked();
        quit_ = true;
        wake();
        waitForDeliveryLocked(lock);
    }

    bool isPlaying() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return playing_;
    }

    int preroll() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return sequence_ ? kMusicPlayerNoErr : kMusicPlayerError_NoSequence;
    }

    int getTime(double& beats) const {
        std::lock_guard<std::mutex> lock(mutex_);
        beats = playing_ ? beatAtLocked(clock_.now()) : position_;
        return kMusicPlayerNoErr;
    }

    int setTime(double beats) {
        if (!std::isfinite(beats)) return kMusicPlayerError_InvalidArgument;
        std::unique_lock<std::mutex> lock(mutex_);
        position_ = beats;
        if (playing_) {
            anchorHost_ = clock_.now();
            anchorBeat_ = beats;
            lastBeat_ = beats;
            positionEpoch_.fetch_add(1, std::memory_order_acq_rel);
            wake();
        }
        waitForDeliveryLocked(lock);
        return kMusicPlayerNoErr;
    }

    int getPlayRateScalar(double& rate) const {
        std::lock_guard<std::mutex> lock(mutex_);
        rate = rate_;
        return kMusicPlayerNoErr;
    }

    int setPlayRateScalar(double rate) {
        if (!std::isfinite(rate) || !(rate > 0.0)) return kMusicPlayerError_InvalidArgument;
        std::lock_guard<std::mutex> lock(mutex_);
        if (playing_) {
            // Re-anchor at the present position so that the rate applies from now on.
            uint64_t now = clock_.now();
            anchorBeat_ = beatAtLocked(now);
            anchorHost_ = now;
            wake();
        }
        rate_ = rate;
        return kMusicPlayerNoErr;
    }

    int getHostTimeForBeats(double beats, uint64_t& hostTime) const {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!playing_) return kMusicPlayerError_NotPlaying;
        if (!std::isfinite(beats)) return kMusicPlayerError_InvalidArgument;
        hostTime = hostTimeForBeatsLocked(beats, false);
        return kMusicPlayerNoErr;
    }

    int getBeatsForHostTime(uint64_t hostTime, double& beats) const {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!playing_) return kMusicPlayerError_NotPlaying;
        beats = beatAtLocked(hostTime);
        return kMusicPlayerNoErr;
    }

    size_t deliverUntil(uint64_t hostTime) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (delivering_ && deliveringThread_ == std::this_thread::get_id()) return 0;
        idle_.wait(lock, [this] { return !delivering_; });
        if (!playing_ || !sequence_) return 0;
        double end = beatAtLocked(hostTime);
        if (!(end > lastBeat_)) return 0;
        double start = lastBeat_;
        lastBeat_ = end;
        std::shared_ptr<MusicSequence> sequence = sequence_;
        uint64_t epoch = positionEpoch_.load(std::memory_order_acquire);
        delivering_ = true;
        deliveringThread_ = std::this_thread::get_id();
        lock.unlock();

        // Only the one delivering thread touches the buffer, so it is reused without the lock.
        struct EndOfDelivery {
            Core& core;
            ~EndOfDelivery() {
                std::lock_guard<std::mutex> relock(core.mutex_);
                core.delivering_ = false;
                core.deliveringThread_ = {};
                core.idle_.notify_all();
            }
        } endOfDelivery{*this};
        scheduled_.clear();
        sequence->copyUserEvents(start, end, scheduled_);
        std::shared_ptr<const MusicSequence::UserCallback> callback = sequence->userCallback();
        size_t delivered = 0;
        for (const MusicSequence::ScheduledUserEvent& event : scheduled_) {
            // A stop or move, here or on another thread, ends this slice.
            if (positionEpoch_.load(std::memory_order_acquire) != epoch) break;
            if (callback && *callback) {
                (*callback)(*sequence, *event.track, event.time, std::span<const uint8_t>(event.userData),
                            start, end);
            }
            ++delivered;
        }
        return delivered;
    }

    bool nextEventHostTime(uint64_t& hostTime) const {
        std::lock_guard<std::mutex> lock(mutex_);
        return nextEventHostTimeLocked(hostTime);
    }

    // The thread: parked while stopped; while playing it sleeps until the
    // next event is due, then delivers.
    void run() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            if (quit_) return;
            uint64_t seen = wakeups_.load(std::memory_order_acquire);
            auto woken = [this, seen] { return quit_ || wakeups_.load(std::memory_order_acquire) != seen; };
            if (!playing_) {
                wakeCondition_.wait(lock, woken);
                continue;
            }
            uint64_t now = clock_.now();
            uint64_t due = 0;
            bool hasEvent = nextEventHostTimeLocked(due);
            if (!hasEvent || due > now) {
                uint64_t sleep = hasEvent && due - now < kLongestSleepTicks ? due - now : kLongestSleepTicks;
                sleepLocked(lock, sleep, woken);
                continue;
            }
            lock.unlock();
            size_t delivered = deliverUntil(now);
            lock.lock();
            // Rounding can leave the beat at the due host time a hair short of
            // the event; look again shortly rather than spin.
            if (delivered == 0) sleepLocked(lock, kRetryTicks, woken);
        }
    }

private:
    template <class Predicate>
    void sleepLocked(std::unique_lock<std::mutex>& lock, uint64_t ticks, Predicate woken) {
        // Relative to steady_clock, which is the host clock on this system; with
        // any other clock the wait still lasts the right number of host ticks.
        auto until = std::chrono::steady_clock::now() + std::chrono::nanoseconds(ticks);
        wakeCondition_.wait_until(lock, until, woken);
    }

    void wake() {
        wakeups_.fetch_add(1, std::memory_order_acq_rel);
        wakeCondition_.notify_all();
    }

    void stopLocked() {
        if (!playing_) return;
        position_ = beatAtLocked(clock_.now());
        playing_ = false;
        positionEpoch_.fetch_add(1, std::memory_order_acq_rel);
        wake();
    }

    // Waits until no other thread is inside the callback. From inside the
    // callback there is nothing to wait for: the slice ends when it returns.
    void waitForDeliveryLocked(std::unique_lock<std::mutex>& lock) {
        if (deliveringThread_ == std::this_thread::get_id()) return;
        idle_.wait(lock, [this] { return !delivering_; });
    }

    double beatAtLocked(uint64_t hostTime) const {
        if (!playing_ || !sequence_) return position_;
        SequenceTime time(*sequence_);
        double elapsed = HostClock::secondsBetween(anchorHost_, hostTime) * rate_;
        return time.beats(time.seconds(anchorBeat_) + elapsed);
    }

    uint64_t hostTimeForBeatsLocked(double beats, bool roundUp) const {
        SequenceTime time(*sequence_);
        double seconds = (time.seconds(beats) - time.seconds(anchorBeat_)) / rate_;
        return addSeconds(anchorHost_, seconds, roundUp);
    }

    bool nextEventHostTimeLocked(uint64_t& hostTime) const {
        if (!playing_ || !sequence_) return false;
        double next = 0.0;
        if (!sequence_->nextUserEventTime(lastBeat_, next)) return false;
        // Rounded up, so that the beat at that host time has reached the event.
        hostTime = hostTimeForBeatsLocked(next, true);
        return true;
    }

    const HostClock& clock_;
    mutable std::mutex mutex_;
    std::condition_variable wakeCondition_;  // the thread sleeps on it
    std::condition_variable idle_;           // signalled when a delivery ends

    std::shared_ptr<MusicSequence> sequence_;
    bool playing_ = false;
    bool quit_ = false;
    double position_ = 0.0;  // while stopped
    uint64_t anchorHost_ = 0;
    double anchorBeat_ = 0.0;
    double rate_ = 1.0;
    double lastBeat_ = 0.0;  // start of the next slice
    bool delivering_ = false;
    std::thread::id deliveringThread_;
    // Read without the lock by a delivery in progress and by the spinning thread.
    std::atomic<uint64_t> positionEpoch_{0};
    std::atomic<uint64_t> wakeups_{0};

    std::vector<MusicSequence::ScheduledUserEvent> scheduled_;
};

MusicPlayer::MusicPlayer(const HostClock& clock, Delivery delivery) : core_(std::make_shared<Core>(clock)) {
    if (delivery == Delivery::ownThread) {
        thread_ = std::thread([core = core_] {
            // Ahead of ordinary threads where the system allows it (as for the
            // audio group), so that a busy machine does not make events late;
            // otherwise the thread runs at normal priority.
            sched_param parameters{};
            parameters.sched_priority = kThreadPriority;
            pthread_setschedparam(pthread_self(), SCHED_FIFO, &parameters);
            core->run();
        });
    }
}

MusicPlayer::~MusicPlayer() {
    core_->shutDown();
    if (!thread_.joinable()) return;
    // Destroyed from its own callback: the thread holds the core and ends by itself.
    if (thread_.get_id() == std::this_thread::get_id()) {
        thread_.detach();
    } else {
        thread_.join();
    }
}

int MusicPlayer::setSequence(std::shared_ptr<MusicSequence> sequence) {
    return core_->setSequence(std::move(sequence));
}

std::shared_ptr<MusicSequence> MusicPlayer::sequence() const {
    return core_->sequence();
}

int MusicPlayer::start() {
    return core_->start();
}

int MusicPlayer::stop() {
    return core_->stop();
}

bool MusicPlayer::isPlaying() const {
    return core_->isPlaying();
}

int MusicPlayer::preroll() {
    return core_->preroll();
}

int MusicPlayer::getTime(double& beats) const {
    return core_->getTime(beats);
}

int MusicPlayer::setTime(double beats) {
    return core_->setTime(beats);
}

int MusicPlayer::getPlayRateScalar(double& rate) const {
    return core_->getPlayRateScalar(rate);
}

int MusicPlayer::setPlayRateScalar(double rate) {
    return core_->setPlayRateScalar(rate);
}

int MusicPlayer::getHostTimeForBeats(double beats, uint64_t& hostTime) const {
    return core_->getHostTimeForBeats(beats, hostTime);
}

int MusicPlayer::getBeatsForHostTime(uint64_t hostTime, double& beats) const {
    return core_->getBeatsForHostTime(hostTime, beats);
}

size_t MusicPlayer::deliverUntil(uint64_t hostTime) {
    // The callback may destroy this player; the core stays until the delivery is over.
    std::shared_ptr<Core> core = core_;
    return core->deliverUntil(hostTime);
}

bool MusicPlayer::nextEventHostTime(uint64_t& hostTime) const {
    return core_->nextEventHostTime(hostTime);
}

}  // namespace tollvane
