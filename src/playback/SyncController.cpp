#include "playback/SyncController.h"

#include <pthread.h>

#include <cmath>
#include <condition_variable>
#include <cstring>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "document/Document.h"
#include "document/DocumentController.h"
#include "model/Cue.h"
#include "model/CueTimingMap.h"
#include "model/Reel.h"
#include "model/ReelArrayController.h"
#include "platform/Log.h"
#include "platform/NotificationCenter.h"
#include "platform/RunLoop.h"
#include "platform/UserDefaults.h"
#include "platform/archive/Color.h"
#include "playback/ClickScheduler.h"
#include "playback/CueController.h"
#include "playback/FFMusicPlayer.h"
#include "playback/MoviePlayer.h"
#include "playback/PlaybackApplication.h"
#include "playback/TLEvent.h"
#include "timebase/EMTimecode.h"

namespace tollvane {

namespace {

constexpr const char* kRehearsalFlagDidChangeNotification = "TLRehearsalFlagDidChangeNotification";
constexpr const char* kAudioLatencyKey = "latencyCompensationAudio";
constexpr const char* kVideoLatencyKey = "latencyCompensation";
constexpr const char* kMatchTimecodeRateKey = "matchTimecodeRate";
constexpr const char* kDebugSyncKey = "debugSync";
// The kernel keeps at most 15 characters of a thread name, so the thread
// goes by the short form of "org.tollvane.syncThread".
constexpr const char* kSyncThreadName = "tl.syncThread";

constexpr double kPassInterval = 0.05;
constexpr double kStartIntervalMin = 0.025;
constexpr double kStartIntervalMax = 0.05;
constexpr double kDeviationLimit = 0.5;
constexpr int32_t kDeviationsBeforePause = 11;
constexpr double kMovieDriftLimit = 0.2;
constexpr double kDriftWeight = 0.2;
constexpr double kFramesPerSecondOfPunch = 30.0;

int64_t debugSyncLevel() {
    return UserDefaults::standardUserDefaults().integerForKey(kDebugSyncKey);
}

// A timecode as plain fields, so that it can travel through the sequence lock.
struct TimecodeValue {
    EMTimecodeFramerate rate;
    int32_t hh = 0;
    int32_t mm = 0;
    int32_t ss = 0;
    int32_t ff = 0;
    uint32_t bits = 0;
    bool negative = false;
    int64_t frames = 0;
    double seconds = 0.0;

    static TimecodeValue of(const EMTimecode& timecode) {
        return {timecode.framerate(),
                timecode.hh(),
                timecode.mm(),
                timecode.ss(),
                timecode.ff(),
                timecode.bits(),
                timecode.negative(),
                timecode.framesFromZero(),
                timecode.secondsFromZero()};
    }

    // Gives `out` the fields a copy would have. Readers call this on every
    // display refresh, so it avoids the locking setters where it can: the
    // rate only changes between runs, and a valid timecode's fields follow
    // from its frame count.
    void assignTo(EMTimecode& out) const {
        if (!(out.framerate() == rate)) out.setFramerate(rate);
        if (rate.fps >= 2 && frames >= 0 && !negative) {
            out.setFramesFromZero(frames);
            out.setBits(bits);
            return;
        }
        out.setHH(hh);
        out.setMM(mm);
        out.setSS(ss);
        out.setFF(ff);
        out.setBits(bits);
    }
};

// What cue-time conversions need of the selected cue.
struct CuePoint {
    bool valid = false;
    // The sync timecode's seconds from zero.
    double syncSeconds = 0.0;
    // Seconds from the sequence's origin to the sync position.
    double syncSequenceSeconds = 0.0;

    static CuePoint of(const Cue& cue, const CueTimingMap& map) {
        const auto sync = cue.syncTimecode();
        if (!sync) return {};
        return {true, sync->secondsFromZero(), map.secondsForBeats(cue.syncPrerollShiftedBeats())};
    }
};

// Everything a reader on another thread sees, published whole.
struct Published {
    bool playing = false;
    bool rehearsal = false;
    TimecodeValue current;
    TimecodeValue anchor;
    uint64_t anchorHostTime = 0;
    double anchorRate = 1.0;
    double playbackStartSeconds = 0.0;
    uint64_t playbackStartHostTime = 0;
    double incomingRateSmoothed = 1.0;
    CuePoint cue;
};

// A sequence lock: writers (serialised by the caller) never wait, readers
// retry while a write is under way. Every word is an atomic, so readers and
// writers never race on memory; the release stores of the words and the
// acquire loads order them against the sequence count.
template <typename T>
class SeqLocked {
    static_assert(std::is_trivially_copyable_v<T>);
    static constexpr size_t kWords = (sizeof(T) + sizeof(uint64_t) - 1) / sizeof(uint64_t);

public:
    void store(const T& value) {
        uint64_t buffer[kWords] = {};
        std::memcpy(buffer, &value, sizeof(T));
        const uint64_t sequence = sequence_.load(std::memory_order_relaxed);
        sequence_.store(sequence + 1, std::memory_order_relaxed);
        for (size_t i = 0; i < kWords; ++i) words_[i].store(buffer[i], std::memory_order_release);
        sequence_.store(sequence + 2, std::memory_order_release);
    }

    T load() const {
        uint64_t buffer[kWords];
        for (unsigned attempt = 0;; ++attempt) {
            const uint64_t before = sequence_.load(std::memory_order_acquire);
            if ((before & 1) == 0) {
                for (size_t i = 0; i < kWords; ++i) buffer[i] = words_[i].load(std::memory_order_acquire);
                if (sequence_.load(std::memory_order_relaxed) == before) break;
            }
            // A writer preempted mid-write must not keep a reader spinning.
            if (attempt > 64) std::this_thread::yield();
        }
        T value;
        std::memcpy(&value, buffer, sizeof(T));
        return value;
    }

private:
    std::atomic<uint64_t> sequence_{0};
    std::atomic<uint64_t> words_[kWords] = {};
};

bool running(const Published& state) {
    return state.playing || state.rehearsal;
}

// The timecode at a host time, from a published state, into `out`.
void extrapolate(const Published& state, uint64_t hostTime, EMTimecode& out) {
    if (!running(state)) {
        state.current.assignTo(out);
        return;
    }
    // A copy of the anchor with the elapsed time added comes to the anchor's
    // seconds plus that time, at the anchor's rate. Signed, so that a host
    // time before the anchor counts backwards instead of wrapping to
    // centuries ahead.
    if (!(out.framerate() == state.anchor.rate)) out.setFramerate(state.anchor.rate);
    out.setSecondsFromZero(state.anchor.seconds +
                           HostClock::secondsBetween(state.anchorHostTime, hostTime) * state.anchorRate);
    if (out.framerate().dropFrame) out.addFrames(2);
}

double cueTimeFor(const Published& state, const CuePoint& cue, uint64_t hostTime) {
    if (!cue.valid) return 0.0;
    if (!running(state)) return state.current.seconds - cue.syncSeconds + cue.syncSequenceSeconds;
    // One scratch timecode per thread: no allocation, and its rate is set
    // once per run at most.
    thread_local EMTimecode timecode;
    extrapolate(state, hostTime, timecode);
    return timecode.secondsFromZero() - cue.syncSeconds + cue.syncSequenceSeconds;
}

uint64_t hostTimeForCueTime(const Published& state, const CuePoint& cue, double seconds) {
    if (!cue.valid) return 0;
    const double rate = std::fabs(state.incomingRateSmoothed - 1.0) < 0.1 ? state.incomingRateSmoothed : 1.0;
    const double fromStart = state.playbackStartSeconds - cue.syncSeconds;
    double ticks = std::trunc((seconds - fromStart) / rate * HostClock::frequency);
    constexpr double kLimit = 9.2e18;
    if (std::isnan(ticks)) ticks = 0.0;
    ticks = std::fmax(-kLimit, std::fmin(kLimit, ticks));
    // Added modulo 2^64: a time before the run's start wraps the same way a
    // host-time difference does.
    return state.playbackStartHostTime + static_cast<uint64_t>(static_cast<int64_t>(ticks));
}

// hostTime - seconds × frequency, truncated, without going through a double
// for the whole host time (which would lose nanoseconds after a few months
// of uptime).
uint64_t subtractSecondsTruncating(uint64_t hostTime, double seconds) {
    const double ticks = seconds * HostClock::frequency;
    const double whole = std::trunc(ticks);
    const uint64_t wholeTicks = static_cast<uint64_t>(static_cast<int64_t>(whole));
    return hostTime - wholeTicks - (ticks > whole ? 1 : 0);
}

// Work for the main thread that must not wait for it (the sync thread).
void postToMainThread(std::function<void()> work) {
    if (RunLoop* loop = RunLoop::mainIfInstalled()) {
        loop->post(std::move(work));
    } else {
        work();
    }
}

// Work that the caller (on the main thread) waits for.
void performOnMainThreadWaiting(const std::function<void()>& work) {
    RunLoop* loop = RunLoop::mainIfInstalled();
    if (!loop || loop->isMainThread()) {
        work();
    } else {
        loop->performOnMainThread(work, true);
    }
}

}  // namespace

struct SyncController::Impl {
    Impl(SyncController& owner, const HostClock& clock) : owner(owner), clock(&clock) {}

    SyncController& owner;
    // Null: the shared clock, asked each time (the shared controller
    // outlives any clock a test installs).
    const HostClock* clock;

    uint64_t now() const { return (clock ? *clock : HostClock::shared()).now(); }

    NullMoviePlayer nullMoviePlayer;
    NullClickScheduler nullClickScheduler;
    std::atomic<MoviePlayer*> moviePlayer{&nullMoviePlayer};
    std::atomic<CueController*> cueController{nullptr};
    std::atomic<ClickScheduler*> clickScheduler{&nullClickScheduler};
    std::atomic<DocumentController*> documentController{nullptr};

    // Guarded by syncMutex.
    std::shared_ptr<EMTimecode> currentTimecode = std::make_shared<EMTimecode>();
    uint64_t currentTimecodeReceivedHostTime = 0;
    std::shared_ptr<EMTimecode> playbackStartTimecode = std::make_shared<EMTimecode>();
    uint64_t playbackStartHostTime = 0;
    std::shared_ptr<EMTimecode> anchorPointTimecode = std::make_shared<EMTimecode>();
    uint64_t anchorPointHostTime = 0;
    double anchorRate = 1.0;
    double timingDeviationInSeconds = 0.0;
    double incomingRateSmoothed = 1.0;
    int32_t framesSinceRateAdjustment = 0;
    bool playing = false;
    bool rehearsal = false;
    double lastAddedClickPrerollShiftedBeats = 0.0;
    double lastAddedVisualClickPrerollShiftedBeats = 0.0;
    // The drift average of passes run by hand (a thread keeps its own).
    double manualDriftAverage = 0.0;
    bool threadEnabled = true;
    Sleeper sleeper;
    std::thread thread;
    std::atomic<bool> stopping{false};

    std::atomic<bool> threadRegistered{false};
    std::mutex sleepMutex;
    std::condition_variable sleepCondition;

    std::atomic<double> audioLatencyCompensation{0.0};
    std::atomic<double> videoLatencyCompensation{0.0};
    std::atomic<double> videoSyncTime{0.0};
    std::vector<UserDefaults::ObserverToken> defaultsObservers;

    // Publication. publishMutex serialises writers only (a leaf lock);
    // readers go through the sequence lock.
    std::mutex publishMutex;
    Published staged;
    std::shared_ptr<Cue> publishedCue;
    SeqLocked<Published> published;

    // Main thread: what is observed for changes of the selected cue.
    KeyValueObservable::ObserverToken cueControllerObserver = 0;
    CueController* observedCueController = nullptr;
    std::shared_ptr<Cue> observedCue;
    KeyValueObservable::ObserverToken cueObserver = 0;

    // Work posted to the main thread finds the controller through this and
    // does nothing once it is gone.
    struct Liveness {
        Impl* impl;
    };
    std::shared_ptr<Liveness> liveness = std::make_shared<Liveness>(Liveness{this});
    std::atomic<bool> reelSelectionQueued{false};

    MoviePlayer& movie() const { return *moviePlayer.load(std::memory_order_acquire); }
    ClickScheduler& clicks() const { return *clickScheduler.load(std::memory_order_acquire); }

    // --- Publication -----------------------------------------------------------

    // Holding syncMutex.
    void publishState() {
        std::lock_guard lock(publishMutex);
        staged.playing = playing;
        staged.rehearsal = rehearsal;
        staged.current = TimecodeValue::of(*currentTimecode);
        staged.anchor = TimecodeValue::of(*anchorPointTimecode);
        staged.anchorHostTime = anchorPointHostTime;
        staged.anchorRate = anchorRate;
        staged.playbackStartSeconds = playbackStartTimecode->secondsFromZero();
        staged.playbackStartHostTime = playbackStartHostTime;
        staged.incomingRateSmoothed = incomingRateSmoothed;
        published.store(staged);
    }

    // Main thread; takes no lock but the leaf publishMutex, so it may run
    // from observers called under any other lock.
    void publishCuePoint() {
        std::shared_ptr<Cue> cue = observedCue;
        const CuePoint point = cue ? CuePoint::of(*cue, *cue->timingMap()) : CuePoint{};
        std::lock_guard lock(publishMutex);
        staged.cue = point;
        publishedCue = std::move(cue);
        published.store(staged);
    }

    std::shared_ptr<Cue> selectedCueForAnyThread() {
        std::lock_guard lock(publishMutex);
        return publishedCue;
    }

    // --- Observation (main thread) ---------------------------------------------

    void observeCueController(CueController* controller) {
        if (observedCueController) observedCueController->removeKeyObserver(cueControllerObserver);
        observedCueController = controller;
        cueControllerObserver = 0;
        if (controller) {
            cueControllerObserver = controller->addKeyObserver([this](std::string_view key) {
                if (key == "selectedCue") observeSelectedCue();
            });
        }
        observeSelectedCue();
    }

    void observeSelectedCue() {
        std::shared_ptr<Cue> cue = observedCueController ? observedCueController->selectedCue() : nullptr;
        if (cue != observedCue) {
            if (observedCue) observedCue->removeKeyObserver(cueObserver);
            observedCue = std::move(cue);
            cueObserver = 0;
            if (observedCue) {
                cueObserver = observedCue->addKeyObserver([this](std::string_view key) {
                    if (key == "syncTimecode" || key == "syncPrerollShiftedBeats" || key == "sequence")
                        publishCuePoint();
                });
            }
        }
        publishCuePoint();
    }

    void stopObserving() {
        if (observedCue) observedCue->removeKeyObserver(cueObserver);
        observedCue.reset();
        if (observedCueController) observedCueController->removeKeyObserver(cueControllerObserver);
        observedCueController = nullptr;
        UserDefaults& defaults = UserDefaults::standardUserDefaults();
        for (UserDefaults::ObserverToken token : defaultsObservers) defaults.removeObserver(token);
        defaultsObservers.clear();
    }

    // --- The sync thread ---------------------------------------------------------

    // Holding syncMutex, when time starts.
    void startSyncThread() {
        if (threadRegistered.load(std::memory_order_acquire)) return;
        threadRegistered.store(true, std::memory_order_release);
        if (!threadEnabled) {
            manualDriftAverage = 0.0;
            return;
        }
        // A thread that ended by itself has released syncMutex for good and
        // only has to return.
        if (thread.joinable()) thread.join();
        Sleeper sleep = sleeper ? sleeper : [this](double seconds) { sleepFor(seconds); };
        thread = std::thread([this, sleep = std::move(sleep)] {
            pthread_setname_np(pthread_self(), kSyncThreadName);
            double driftAverage = 0.0;
            while (pass(driftAverage)) sleep(kPassInterval);
        });
    }

    void sleepFor(double seconds) {
        std::unique_lock lock(sleepMutex);
        sleepCondition.wait_for(lock, std::chrono::duration<double>(seconds),
                                [this] { return stopping.load(std::memory_order_acquire); });
    }

    // One pass of the sync thread: false, with the thread unregistered, once
    // time no longer runs.
    bool pass(double& driftAverage) {
        std::lock_guard lock(owner.syncMutex_);
        if (stopping.load(std::memory_order_acquire) || (!playing && !rehearsal)) {
            threadRegistered.store(false, std::memory_order_release);
            return false;
        }
        const uint64_t now = this->now();
        const Published state = published.load();
        EMTimecode timecode;
        extrapolate(state, now, timecode);
        const int64_t debugSync = debugSyncLevel();
        movieStep(timecode, now, driftAverage, debugSync);
        cueStep(timecode, now, state, debugSync);
        return true;
    }

    void movieStep(const EMTimecode& timecode, uint64_t now, double& driftAverage, int64_t debugSync) {
        MoviePlayer& player = movie();
        std::unique_lock movieLock(player.consumerLock());
        const std::shared_ptr<Reel> reel = player.selectedReel();
        const std::shared_ptr<EMTimecode> reelStart = reel ? reel->startTimecode() : nullptr;

        if (player.isPlaying()) {
            // A rehearsal runs the movie freely; without a reel start there
            // is nothing to measure the movie against.
            if (rehearsal || !reelStart) return;
            const double movieTime = player.currentTime() - videoLatencyCompensation.load();
            movieLock.unlock();
            const double expected = timecode.secondsFromTimecode(*reelStart);
            driftAverage = kDriftWeight * (movieTime - expected) + (1.0 - kDriftWeight) * driftAverage;
            if (std::fabs(driftAverage) > kMovieDriftLimit &&
                UserDefaults::standardUserDefaults().boolForKey(kMatchTimecodeRateKey)) {
                // The next pass finds the movie stopped and starts it in step.
                pauseMovieOnMainThread(currentTimecode->copy());
                driftAverage = 0.0;
            }
            videoSyncTime.store(driftAverage);
            if (debugSync >= 2) {
                TLLog("Current movie time (%0.04f) is %s expected time (%0.04f) by %0.04f sec.", movieTime,
                      driftAverage > 0.0 ? "ahead of" : "behind", expected, std::fabs(driftAverage));
            }
            return;
        }

        if (!reelStart) {
            // No reel to start: ask the document for the one that covers the
            // timecode; the movie player loads it and a later pass starts it.
            movieLock.unlock();
            requestReelSelection(timecode);
            return;
        }
        const double offset = timecode.secondsFromTimecode(*reelStart);
        if (debugSync >= 1) {
            TLLog("Reel controller not playing yet. Offset from reel start = %f sec (%s to %s).", offset,
                  reelStart->description().c_str(), timecode.description().c_str());
        }
        if (offset < 0.0 || offset > reel->duration()) {
            player.gotoBeginning();
            movieLock.unlock();
            requestReelSelection(timecode);
            return;
        }
        movieLock.unlock();
        player.playFromTimecode(timecode, now);
    }

    void cueStep(const EMTimecode& timecode, uint64_t now, const Published& state, int64_t debugSync) {
        CueController* controller = cueController.load(std::memory_order_acquire);
        if (!controller) return;
        std::lock_guard cueLock(controller->lock());
        const std::shared_ptr<Cue> cue = controller->selectedCue();
        if (!cue) return;
        const std::shared_ptr<const CueTimingMap> map = cue->timingMap();

        if (!controller->isPlaying()) {
            lastAddedClickPrerollShiftedBeats = 0.0;
            lastAddedVisualClickPrerollShiftedBeats = 0.0;
            const auto origin = cue->timecodeForPrerollShiftedBeats(0.0);
            if (!origin) return;
            const double offset = timecode.secondsFromTimecode(*origin);
            if (offset > cue->lengthInSeconds()) return;
            if (offset > 0.0) {
                controller->playFromTimecode(timecode, now);
                if (debugSync >= 1) {
                    TLLog("Cue controller playing from %s (%0.2f) offset %0.2f",
                          timecode.description().c_str(), timecode.secondsFromZero(), offset);
                }
            } else if (FFMusicPlayer* player = controller->player()) {
                player->goToTimeInSeconds(0.0);
            }
            // Once started, on to the clicks in this same pass: a click due
            // before the next pass would otherwise be missed.
            if (!controller->isPlaying()) return;
        }

        FFMusicPlayer* player = controller->player();
        if (!player) return;
        const CuePoint point = CuePoint::of(*cue, *map);
        const double seconds = map->secondsForBeats(player->currentTime());

        // The audio click: the first one after the cue time the audio latency
        // from now, handed over ahead of time.
        const double audioLatency = audioLatencyCompensation.load();
        const double ahead = map->beatsForSeconds(cueTimeFor(state, point, now) + audioLatency);
        const double next = cue->nextClickTimeAfterPrerollShiftedBeats(ahead);
        if (next > 0.05 && next != lastAddedClickPrerollShiftedBeats &&
            cue->audioClickAtPrerollShiftedBeats(next)) {
            const uint64_t at =
                hostTimeForCueTime(state, point, map->secondsForBeats(next) - point.syncSequenceSeconds);
            clicks().addClickAtHostTime(subtractSecondsTruncating(at, audioLatency));
            lastAddedClickPrerollShiftedBeats = next;
        } else if (next < 0.1) {
            // Nothing due for now: a cue that starts again gets its first
            // click again.
            lastAddedClickPrerollShiftedBeats = 0.0;
        }

        // The visual click: the player already runs the video latency ahead
        // of the timecode, so the look-ahead starts from its own time.
        const double videoLatency = videoLatencyCompensation.load();
        const double aheadVisual = map->beatsForSeconds(seconds + videoLatency);
        const double nextVisual = cue->nextVisualClickTimeAfterPrerollShiftedBeats(aheadVisual);
        if (nextVisual > 0.05 && nextVisual != lastAddedVisualClickPrerollShiftedBeats) {
            const auto at = cue->timecodeForPrerollShiftedBeats(nextVisual);
            const std::shared_ptr<TLEvent> event =
                at ? cue->visualClickAtPrerollShiftedBeats(nextVisual) : nullptr;
            if (event) {
                const double delay = at->secondsFromTimecode(timecode) - videoLatency;
                const int holes = static_cast<int>(event->valueForKey("eventLength").toInt64());
                const std::shared_ptr<Color> color = event->color();
                const float red = color ? static_cast<float>(color->redComponent()) : 1.0f;
                const float green = color ? static_cast<float>(color->greenComponent()) : 1.0f;
                const float blue = color ? static_cast<float>(color->blueComponent()) : 1.0f;
                // The punch is as long as its holes are frames and must end
                // on the click.
                const double afterDelay = delay - holes / kFramesPerSecondOfPunch;
                postToMainThread([holes, red, green, blue, afterDelay] {
                    PlaybackApplication::current().addPunchWithHoles(holes, red, green, blue, 1, afterDelay);
                });
            }
            lastAddedVisualClickPrerollShiftedBeats = nextVisual;
        }
    }

    void pauseMovieOnMainThread(std::shared_ptr<EMTimecode> timecode) {
        std::weak_ptr<Liveness> weak = liveness;
        postToMainThread([weak, timecode = std::move(timecode)] {
            if (auto alive = weak.lock()) alive->impl->movie().pauseAtTimecode(*timecode);
        });
    }

    // One request at a time: a pass every 50 ms must not flood the main
    // thread while it is busy.
    void requestReelSelection(const EMTimecode& timecode) {
        if (reelSelectionQueued.exchange(true, std::memory_order_acq_rel)) return;
        std::weak_ptr<Liveness> weak = liveness;
        postToMainThread([weak, timecode = timecode.copy()] {
            auto alive = weak.lock();
            if (!alive) return;
            Impl& impl = *alive->impl;
            impl.reelSelectionQueued.store(false, std::memory_order_release);
            DocumentController* documents = impl.documentController.load(std::memory_order_acquire);
            if (!documents) return;
            if (auto document = documents->frontDocument())
                document->reelController().selectReelForTimecode(*timecode);
        });
    }
};

// --- Creation ---------------------------------------------------------------------

SyncController& SyncController::sharedInstance() {
    static SyncController& controller = []() -> SyncController& {
        // The controllers it uses are made first, so that they outlive it.
        CueController& cueController = CueController::sharedCueController();
        DocumentController& documentController = DocumentController::sharedDocumentController();
        static SyncController instance;
        instance.impl_->clock = nullptr;
        instance.setCueController(&cueController);
        instance.setDocumentController(&documentController);
        return instance;
    }();
    return controller;
}

SyncController::SyncController(const HostClock& clock) : impl_(std::make_unique<Impl>(*this, clock)) {
    UserDefaults& defaults = UserDefaults::standardUserDefaults();
    impl_->audioLatencyCompensation.store(defaults.doubleForKey(kAudioLatencyKey));
    impl_->videoLatencyCompensation.store(defaults.doubleForKey(kVideoLatencyKey));
    Impl* impl = impl_.get();
    impl_->defaultsObservers.push_back(defaults.addObserver(kAudioLatencyKey, [impl](const std::string& key) {
        impl->audioLatencyCompensation.store(UserDefaults::standardUserDefaults().doubleForKey(key));
    }));
    impl_->defaultsObservers.push_back(defaults.addObserver(kVideoLatencyKey, [impl](const std::string& key) {
        impl->videoLatencyCompensation.store(UserDefaults::standardUserDefaults().doubleForKey(key));
    }));
    std::lock_guard lock(syncMutex_);
    impl_->publishState();
}

SyncController::~SyncController() {
    impl_->stopObserving();
    impl_->stopping.store(true, std::memory_order_release);
    {
        std::lock_guard lock(impl_->sleepMutex);
        impl_->sleepCondition.notify_all();
    }
    if (impl_->thread.joinable()) impl_->thread.join();
    // Work the thread posted and the main thread has not run yet finds the
    // controller gone.
    impl_->liveness.reset();
}

// --- Collaborators -------------------------------------------------------------------

MoviePlayer* SyncController::reelController() const {
    return &impl_->movie();
}

void SyncController::setReelController(MoviePlayer* player) {
    impl_->moviePlayer.store(player ? player : &impl_->nullMoviePlayer, std::memory_order_release);
}

CueController* SyncController::cueController() const {
    return impl_->cueController.load(std::memory_order_acquire);
}

void SyncController::setCueController(CueController* controller) {
    impl_->cueController.store(controller, std::memory_order_release);
    impl_->observeCueController(controller);
}

ClickScheduler* SyncController::audioController() const {
    return &impl_->clicks();
}

void SyncController::setAudioController(ClickScheduler* scheduler) {
    impl_->clickScheduler.store(scheduler ? scheduler : &impl_->nullClickScheduler,
                                std::memory_order_release);
}

void SyncController::setDocumentController(DocumentController* controller) {
    impl_->documentController.store(controller, std::memory_order_release);
}

void SyncController::setSyncThreadEnabled(bool enabled) {
    std::lock_guard lock(syncMutex_);
    impl_->threadEnabled = enabled;
}

void SyncController::setSleeper(Sleeper sleeper) {
    std::lock_guard lock(syncMutex_);
    impl_->sleeper = std::move(sleeper);
}

bool SyncController::hasSyncThread() const {
    return impl_->threadRegistered.load(std::memory_order_acquire);
}

// --- Readers ---------------------------------------------------------------------------

bool SyncController::isPlaying() const {
    const Published state = impl_->published.load();
    return state.playing || state.rehearsal;
}

bool SyncController::rehearsalActive() const {
    return impl_->published.load().rehearsal;
}

std::shared_ptr<EMTimecode> SyncController::currentTimecode() const {
    return timecodeAtHostTime(impl_->now());
}

std::shared_ptr<EMTimecode> SyncController::timecodeAtHostTime(uint64_t hostTime) const {
    auto timecode = std::make_shared<EMTimecode>();
    extrapolate(impl_->published.load(), hostTime, *timecode);
    return timecode;
}

double SyncController::cueTimeAtHostTime(uint64_t hostTime) const {
    const Published state = impl_->published.load();
    return cueTimeFor(state, state.cue, hostTime);
}

uint64_t SyncController::hostTimeAtCueTime(double seconds) const {
    const Published state = impl_->published.load();
    return hostTimeForCueTime(state, state.cue, seconds);
}

uint64_t SyncController::hostTimeAtPrerollShiftedBeats(double beats) const {
    const std::shared_ptr<Cue> cue = impl_->selectedCueForAnyThread();
    if (!cue) return 0;
    const Published state = impl_->published.load();
    const auto map = cue->timingMap();
    return hostTimeForCueTime(state, state.cue, map->secondsForBeats(beats) - state.cue.syncSequenceSeconds);
}

// --- The chase state machine ---------------------------------------------------------

void SyncController::setCurrentTimecode(const EMTimecode& timecode, bool playing, uint64_t hostTime) {
    std::lock_guard lock(syncMutex_);
    Impl& s = *impl_;
    std::shared_ptr<EMTimecode> received;
    {
        std::lock_guard timecodeLock(timecode.mutex());
        received = timecode.copy();
    }
    const int64_t debugSync = debugSyncLevel();

    const double interval = HostClock::secondsBetween(s.currentTimecodeReceivedHostTime, hostTime);
    s.currentTimecodeReceivedHostTime = hostTime;
    s.currentTimecode = received;
    // Published at once: a stop below asks the movie and cue players to
    // pause at the current timecode.
    s.publishState();

    if (playing && s.playing) {
        EMTimecode predicted;
        extrapolate(s.published.load(), hostTime, predicted);
        s.timingDeviationInSeconds = predicted.secondsFromTimecode(*received);
        if (std::fabs(s.timingDeviationInSeconds) > kDeviationLimit) {
            if (++s.framesSinceRateAdjustment >= kDeviationsBeforePause) {
                if (debugSync >= 3) {
                    TLLog("syncController pausing because of %f second deviation",
                          s.timingDeviationInSeconds);
                }
                pause();
                return;
            }
        } else {
            s.framesSinceRateAdjustment = 0;
        }
    }

    if (!playing) {
        if (debugSync >= 3) TLLog("syncController pausing at %s", received->description().c_str());
        s.rehearsal = false;
        s.publishState();
        PlaybackApplication::current().setMTCOfflineForRehearsal(false);
        NotificationCenter::defaultCenter().postNotification(kRehearsalFlagDidChangeNotification);
        MoviePlayer& movie = s.movie();
        const bool wasPlaying = s.playing;
        performOnMainThreadWaiting([&movie, &received, wasPlaying] {
            if (wasPlaying) {
                movie.pauseAtTimecode(*received);
            } else {
                movie.pause();
            }
        });
        if (CueController* cues = s.cueController.load(std::memory_order_acquire)) {
            performOnMainThreadWaiting([cues, this] { cues->pause(*this); });
        }
        s.clicks().removeAllScheduledClicks();
        PlaybackApplication::current().cancelAllPunches();
        s.framesSinceRateAdjustment = 0;
    }

    if (playing == s.playing) return;
    if (playing) {
        if (debugSync >= 3) TLLog("syncController starting at %s", received->description().c_str());
        if (!s.rehearsal && !(interval >= kStartIntervalMin && interval <= kStartIntervalMax)) return;
        s.playing = true;
        s.timingDeviationInSeconds = 0.0;
        s.incomingRateSmoothed = 1.0;
        s.playbackStartTimecode = received->copy();
        s.anchorPointTimecode = received->copy();
        s.playbackStartHostTime = hostTime;
        s.anchorPointHostTime = hostTime;
        s.anchorRate = 1.0;
        s.publishState();
        PlaybackApplication::current().setMTCStatus("Playing from " + received->description());
        s.startSyncThread();
    } else {
        if (debugSync >= 3) TLLog("syncController stopping at %s", received->description().c_str());
        s.playing = false;
        s.timingDeviationInSeconds = 0.0;
        s.incomingRateSmoothed = 1.0;
        s.publishState();
        PlaybackApplication::current().setMTCStatus("Waiting for MTC...");
    }
}

void SyncController::setCurrentTimecode(const EMTimecode& timecode, bool playing) {
    setCurrentTimecode(timecode, playing, impl_->now());
}

void SyncController::rehearseFromTimecode(const EMTimecode& timecode) {
    std::lock_guard lock(syncMutex_);
    Impl& s = *impl_;
    // A run already going would keep its anchor (a running start never
    // re-anchors), so it is stopped first and the rehearsal starts from the
    // timecode asked for.
    if (s.playing) setCurrentTimecode(timecode, false);
    PlaybackApplication::current().setMTCOfflineForRehearsal(true);
    s.rehearsal = true;
    setCurrentTimecode(timecode, true, s.now());
    NotificationCenter::defaultCenter().postNotification(kRehearsalFlagDidChangeNotification);
}

void SyncController::pause() {
    std::lock_guard lock(syncMutex_);
    const auto timecode = impl_->currentTimecode->copy();
    setCurrentTimecode(*timecode, false);
}

void SyncController::pauseAtTimecode(const EMTimecode& timecode) {
    setCurrentTimecode(timecode, false);
}

void SyncController::pauseAtPrerollShiftedBeats(double beats) {
    CueController* controller = cueController();
    const std::shared_ptr<Cue> cue = controller ? controller->selectedCue() : nullptr;
    if (!cue) return;
    if (const auto timecode = cue->timecodeForPrerollShiftedBeats(beats)) pauseAtTimecode(*timecode);
}

void SyncController::pauseAtRehearsalStart() {
    CueController* controller = cueController();
    const std::shared_ptr<Cue> cue = controller ? controller->selectedCue() : nullptr;
    if (!cue) return;
    if (const auto timecode = cue->rehearsalStartTimecode()) pauseAtTimecode(*timecode);
}

void SyncController::nudgeByFrames(int32_t frames) {
    std::lock_guard lock(syncMutex_);
    if (impl_->playing) return;
    const auto timecode = impl_->currentTimecode->copy();
    timecode->addFrames(frames);
    setCurrentTimecode(*timecode, false);
}

// --- Latency and movie sync ------------------------------------------------------------

double SyncController::audioLatencyCompensation() const {
    return impl_->audioLatencyCompensation.load();
}

void SyncController::setAudioLatencyCompensation(double seconds) {
    impl_->audioLatencyCompensation.store(seconds);
}

double SyncController::videoLatencyCompensation() const {
    return impl_->videoLatencyCompensation.load();
}

void SyncController::setVideoLatencyCompensation(double seconds) {
    impl_->videoLatencyCompensation.store(seconds);
}

double SyncController::videoSyncTime() const {
    return impl_->videoSyncTime.load();
}

void SyncController::setVideoSyncTime(double seconds) {
    impl_->videoSyncTime.store(seconds);
}

bool SyncController::runSyncPass() {
    return impl_->pass(impl_->manualDriftAverage);
}

}  // namespace tollvane
