#include "playback/CueController.h"

#include <array>
#include <utility>
#include <vector>

#include "document/Document.h"
#include "document/DocumentController.h"
#include "model/Cue.h"
#include "model/CueArrayController.h"
#include "platform/Log.h"
#include "playback/FFMusicPlayer.h"
#include "playback/SyncController.h"
#include "timebase/EMTimecode.h"

namespace tollvane {

namespace {

constexpr const char* kDebugSyncKey = "debugSync";
constexpr const char* kLatencyCompensationKey = "latencyCompensation";

// Each of these feeds the count-off and cue-end events that a compilation adds.
constexpr std::array<const char*, 12> kCountoffKeys = {
    "countoffWarningStreamerEnabled",  "countoffWarningStreamerColor",  "countoffWarningStreamerLength",
    "countoffDownbeatStreamerEnabled", "countoffDownbeatStreamerColor", "countoffDownbeatStreamerLength",
    "countoffDownbeatBeepsEnabled",    "countoffDownbeatBeepsCount",    "countoffDownbeatBeepsTime",
    "cueEndStreamerEnabled",           "cueEndStreamerColor",           "cueEndStreamerLength",
};

bool debugSync() {
    return UserDefaults::standardUserDefaults().integerForKey(kDebugSyncKey) > 0;
}

std::shared_ptr<EMTimecode> zeroTimecode() {
    return EMTimecode::timecodeWithFramerate(EMTimecode::framerateForIndex(4), 0, 0, 0, 0);
}

}  // namespace

struct CueController::Impl {
    // Null: the shared clock, read when used (the shared instance outlives
    // any clock a test installs).
    const HostClock* clock = nullptr;
    DocumentController* documentController = nullptr;
    PlayerFactory factory;

    // Guarded by the controller's lock: the sync thread reads them.
    std::shared_ptr<Cue> selectedCue;
    std::unique_ptr<FFMusicPlayer> player;
    std::shared_ptr<EMTimecode> lastReceivedTimecode;
    // The compiled sequence the current player was made from, so that a
    // rebuild of some other cue leaves the player alone.
    std::shared_ptr<const void> primedSequence;

    // Main thread only.
    std::string displayText;
    KeyValueObservable::ObserverToken cueToken = 0;
    std::weak_ptr<Document> observedDocument;
    KeyValueObservable::ObserverToken documentToken = 0;
    KeyValueObservable::ObserverToken documentControllerToken = 0;
    NotificationCenter::ObserverToken sequenceToken = 0;
    std::vector<UserDefaults::ObserverToken> defaultsTokens;

    const HostClock& hostClock() const { return clock ? *clock : HostClock::shared(); }
};

CueController& CueController::sharedCueController() {
    static CueController instance(&DocumentController::sharedDocumentController());
    // The shared player outlives any clock a test installs, so it asks for
    // the shared clock each time.
    static const bool readsSharedClock = (instance.impl_->clock = nullptr, true);
    (void)readsSharedClock;
    return instance;
}

CueController::CueController(DocumentController* documentController, const HostClock& clock)
    : impl_(std::make_unique<Impl>()) {
    impl_->clock = &clock;
    impl_->documentController = documentController;
    impl_->factory = [](Cue& cue) { return cue.newPlayerWithVisualEventsShifted(); };

    impl_->sequenceToken = NotificationCenter::defaultCenter().addObserver(
        Cue::kSequenceDidChangeNotification, [this](const Notification&) { sequenceDidChange(); });
    UserDefaults& defaults = UserDefaults::standardUserDefaults();
    for (const char* key : kCountoffKeys)
        impl_->defaultsTokens.push_back(
            defaults.addObserver(key, [this](const std::string&) { updateCountoffPrefs(); }));
    impl_->defaultsTokens.push_back(defaults.addObserver(
        kLatencyCompensationKey, [this](const std::string&) { updateLatencyCompensation(); }));

    if (documentController) {
        impl_->documentControllerToken = documentController->addKeyObserver([this](std::string_view key) {
            if (key == "frontDocument") updateSelectedDocument();
        });
        updateSelectedDocument();
    }
}

CueController::~CueController() {
    NotificationCenter::defaultCenter().removeObserver(impl_->sequenceToken);
    UserDefaults& defaults = UserDefaults::standardUserDefaults();
    for (const auto token : impl_->defaultsTokens) defaults.removeObserver(token);
    if (impl_->documentController)
        impl_->documentController->removeKeyObserver(impl_->documentControllerToken);
    if (auto document = impl_->observedDocument.lock())
        document->cueController().removeKeyObserver(impl_->documentToken);
    if (impl_->selectedCue) impl_->selectedCue->removeKeyObserver(impl_->cueToken);
}

void CueController::setPlayerFactory(PlayerFactory factory) {
    std::lock_guard lock(lock_);
    impl_->factory = std::move(factory);
}

void CueController::primeThePumpUpdatingPlayer(bool updatePlayer) {
    if (debugSync()) TLLog("cue priming pump");
    playing_.store(false, std::memory_order_release);
    std::unique_ptr<FFMusicPlayer> old;
    if (updatePlayer) {
        std::lock_guard lock(lock_);
        std::unique_ptr<FFMusicPlayer> fresh;
        std::shared_ptr<const void> sequence;
        if (impl_->selectedCue) {
            sequence = impl_->selectedCue->sequence();
            if (impl_->factory) fresh = impl_->factory(*impl_->selectedCue);
        }
        if (fresh) fresh->stop();
        old = std::exchange(impl_->player, std::move(fresh));
        impl_->primedSequence = std::move(sequence);
    }
    pumpPrimed_.store(true, std::memory_order_release);
    // The old player goes outside the lock: its destructor waits for a user
    // event being delivered, and nothing on that path may wait for us.
    old.reset();
}

void CueController::playFromTimecode(const EMTimecode& timecode, uint64_t hostTime) {
    const bool debug = debugSync();
    if (debug) TLLog("play from %s", timecode.description().c_str());

    std::lock_guard lock(lock_);
    timecodeBeingReceived_.store(true, std::memory_order_release);
    if (!pumpPrimed()) primeThePump();
    if (!impl_->player || !impl_->selectedCue) return;

    const auto origin = impl_->selectedCue->timecodeForPrerollShiftedBeats(0.0);
    if (!origin) return;
    const double elapsed = HostClock::secondsBetween(hostTime, impl_->hostClock().now());
    const double latency = UserDefaults::standardUserDefaults().doubleForKey(kLatencyCompensationKey);
    const double position = elapsed + timecode.secondsFromTimecode(*origin) + latency;
    if (debug)
        TLLog("cue offset %f s (%s to %s)", position, origin->description().c_str(),
              timecode.description().c_str());

    if (isPlaying() || !pumpPrimed()) primeThePump();
    if (!impl_->player) return;
    impl_->player->goToTimeInSeconds(position);
    impl_->player->play();
    // The player is running now: the next start needs a fresh one.
    pumpPrimed_.store(false, std::memory_order_release);
    playing_.store(true, std::memory_order_release);
}

void CueController::pauseAtTimecode(const EMTimecode& timecode) {
    {
        std::lock_guard lock(lock_);
        if (!isPlaying() && impl_->lastReceivedTimecode && impl_->lastReceivedTimecode->isEqual(timecode))
            return;
    }
    stop();
    auto copy = timecode.copy();
    std::lock_guard lock(lock_);
    impl_->lastReceivedTimecode = std::move(copy);
}

void CueController::pause(const SyncController& sender) {
    if (const auto timecode = sender.currentTimecode()) pauseAtTimecode(*timecode);
}

void CueController::stop() {
    std::lock_guard lock(lock_);
    timecodeBeingReceived_.store(false, std::memory_order_release);
    if (impl_->player) {
        impl_->player->stop();
        primeThePump();
    }
}

std::shared_ptr<Cue> CueController::selectedCue() const {
    std::lock_guard lock(lock_);
    return impl_->selectedCue;
}

void CueController::setSelectedCue(std::shared_ptr<Cue> cue) {
    willChangeValueForKey("selectedCue");
    std::shared_ptr<Cue> old;
    {
        std::lock_guard lock(lock_);
        old = std::exchange(impl_->selectedCue, cue);
    }
    if (old) old->removeKeyObserver(impl_->cueToken);
    impl_->cueToken = 0;
    if (cue) {
        Cue* observed = cue.get();
        impl_->cueToken = cue->addKeyObserver([this, observed](std::string_view key) {
            if (key == "syncTimecode") {
                NotificationCenter::defaultCenter().postNotification(
                    CueArrayController::kCueOrderDidChangeNotification);
            } else if (key == "displayText") {
                setDisplayText(observed->displayText());
            }
        });
    }
    setDisplayText(cue ? cue->displayText() : std::string());
    if (!isPlaying()) pauseAtTimecode(*zeroTimecode());
    didChangeValueForKey("selectedCue");
}

void CueController::updateSelectedCue() {
    // Following no document, the selection is whatever setSelectedCue gave.
    std::shared_ptr<Cue> cue = selectedCue();
    if (impl_->documentController) {
        const auto document = impl_->observedDocument.lock();
        cue = document ? document->cueController().selectedCue() : nullptr;
    }
    // The same cue again is no new selection: only its player is renewed.
    if (cue != selectedCue()) setSelectedCue(cue);
    if (cue) primeThePump();
}

void CueController::updateSelectedDocument() {
    if (auto old = impl_->observedDocument.lock())
        old->cueController().removeKeyObserver(impl_->documentToken);
    impl_->documentToken = 0;
    impl_->observedDocument.reset();
    std::shared_ptr<Document> front =
        impl_->documentController ? impl_->documentController->frontDocument() : nullptr;
    if (front) {
        impl_->observedDocument = front;
        impl_->documentToken = front->cueController().addKeyObserver([this](std::string_view key) {
            if (key == "selectedCue") updateSelectedCue();
        });
    }
    updateSelectedCue();
}

void CueController::sequenceDidChange() {
    if (isPlaying()) return;
    {
        // Only a new sequence of the selected cue needs a new player; other
        // cues rebuild all the time while the user edits.
        std::lock_guard lock(lock_);
        if (!impl_->selectedCue) return;
        const std::shared_ptr<const void> current = impl_->selectedCue->sequence();
        if (current == impl_->primedSequence && impl_->player) return;
    }
    primeThePump();
}

void CueController::updateCountoffPrefs() {
    if (auto cue = selectedCue()) cue->updateSequence();
}

void CueController::updateLatencyCompensation() {
    stop();
}

FFMusicPlayer* CueController::player() const {
    std::lock_guard lock(lock_);
    return impl_->player.get();
}

std::shared_ptr<EMTimecode> CueController::lastReceivedTimecode() const {
    std::lock_guard lock(lock_);
    return impl_->lastReceivedTimecode ? impl_->lastReceivedTimecode->copy() : nullptr;
}

std::string CueController::displayText() const {
    return impl_->displayText;
}

void CueController::setDisplayText(const std::string& text) {
    if (text == impl_->displayText) return;
    willChangeValueForKey("displayText");
    impl_->displayText = text;
    didChangeValueForKey("displayText");
}

}  // namespace tollvane
