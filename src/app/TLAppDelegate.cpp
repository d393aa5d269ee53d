#include "app/TLAppDelegate.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <exception>
#include <filesystem>
#include <limits>
#include <utility>

#include "app/TLAppDelegateDefaults.h"
#include "audio/TLAudioController.h"
#include "document/Document.h"
#include "document/DocumentController.h"
#include "document/DocumentStatusDisplay.h"
#include "document/Sequencer.h"
#include "midi/TLMIDIController.h"
#include "model/CueArrayController.h"
#include "model/ReelArrayController.h"
#include "platform/Log.h"
#include "platform/NotificationCenter.h"
#include "platform/RunLoop.h"
#include "playback/CueController.h"
#include "playback/MoviePlayer.h"
#include "playback/SyncController.h"
#include "playback/TLEventController.h"
#include "playback/TransportController.h"

namespace tollvane {

namespace {

constexpr const char* kWindowNumbersKey = "TLStreamerWindowNumbers";
constexpr const char* kWindowCountKey = "TLStreamerWindowCount";

std::string lowercase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool contains(const std::vector<uint32_t>& numbers, uint32_t number) {
    return std::find(numbers.begin(), numbers.end(), number) != numbers.end();
}

// Skips blanks and the given punctuation, then reads one number.
bool scanNumber(std::string_view& text, std::string_view skip, double& value) {
    while (!text.empty() && (std::isspace(static_cast<unsigned char>(text.front())) ||
                             skip.find(text.front()) != std::string_view::npos))
        text.remove_prefix(1);
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc()) return false;
    text.remove_prefix(static_cast<size_t>(end - text.data()));
    return true;
}

}  // namespace

// --- Creation -----------------------------------------------------------------------

std::shared_ptr<TLAppDelegate> TLAppDelegate::create(const TLAppControllers& controllers,
                                                     StreamerWindowFactory windowFactory,
                                                     UserDefaults& defaults, RunLoop& loop) {
    return std::make_shared<TLAppDelegate>(Token{}, controllers, std::move(windowFactory), defaults, loop);
}

TLAppDelegate::TLAppDelegate(Token, const TLAppControllers& controllers, StreamerWindowFactory windowFactory,
                             UserDefaults& defaults, RunLoop& loop)
    : controllers_(controllers), windowFactory_(std::move(windowFactory)), defaults_(defaults), loop_(loop) {
    TLAppDelegateDefaults::updateDefaults(defaults_);
    previewFramesVisible_ =
        defaults_.boolForKey("isFrameWindowVisible") || defaults_.boolForKey("previewFrameOnStartup");
    previewFramesMenuItem_.title = previewFramesVisible_ ? kHidePreviewFramesTitle : kShowPreviewFramesTitle;
    previewFramesMenuItem_.action = "togglePreviewFrameForAllWindows:";
    for (const char* key : {"warningBeepOnStreamers", "warningBeepOnPunches"})
        defaultsObservers_.push_back(
            defaults_.addObserver(key, [this](const std::string&) { refreshAudioPreferences(); }));
    refreshAudioPreferences();
}

TLAppDelegate::~TLAppDelegate() {
    for (auto token : defaultsObservers_) defaults_.removeObserver(token);
    if (launchTimer_) launchTimer_->invalidate();
    for (auto& [number, timer] : closeTimers_) timer->invalidate();
    for (auto& timer : beepTimers_) timer->invalidate();
}

void TLAppDelegate::refreshAudioPreferences() {
    beepOnStreamers_ = defaults_.boolForKey("warningBeepOnStreamers");
    beepOnPunches_ = defaults_.boolForKey("warningBeepOnPunches");
}

// --- Start-up and quit ----------------------------------------------------------------

void TLAppDelegate::applicationDidFinishLaunching() {
    if (controllers_.documentController)
        controllers_.documentController->setAutosavingDelay(kAutosavingDelay);
    readWindowNumbers();
    if (controllers_.audioController) {
        controllers_.audioController->populateAudioOutputs();
        controllers_.audioController->startFromDefaults();
    }
    PlaybackApplication::install(shared_from_this());
    if (launchTimer_) launchTimer_->invalidate();
    std::weak_ptr<TLAppDelegate> weak = weak_from_this();
    launchTimer_ = loop_.scheduleTimer(kLaunchWindowsDelay, false, [weak] {
        if (auto self = weak.lock()) self->launchAllWindows();
    });
}

void TLAppDelegate::readWindowNumbers() {
    windowNumbers_.clear();
    const Value stored = defaults_.objectForKey(kWindowNumbersKey);
    if (!stored.isArray()) {
        windowNumbers_.push_back(0);
        return;
    }
    // Hand-edited or damaged lists: only whole numbers a window can have, each once.
    for (const Value& item : stored.arrayValue()->items) {
        if (!item.isInteger() && !item.isReal()) continue;
        const double value = item.toDouble();
        if (value < 0 || value > std::numeric_limits<uint32_t>::max() || value != static_cast<int64_t>(value))
            continue;
        const auto number = static_cast<uint32_t>(value);
        if (!contains(windowNumbers_, number)) windowNumbers_.push_back(number);
    }
}

void TLAppDelegate::storeWindowNumbers() {
    std::vector<Value> numbers;
    for (uint32_t number : windowNumbers_) numbers.emplace_back(number);
    defaults_.setObject(kWindowNumbersKey, Value::array(std::move(numbers)));
}

void TLAppDelegate::launchAllWindows() {
    for (uint32_t number : std::vector<uint32_t>(windowNumbers_)) {
        if (!contains(windowOrder_, number)) loadWindowControllerNib(number);
    }
    showFrontDocumentWindow(DocumentWindowPresenter::Field::None);
}

void TLAppDelegate::applicationWillTerminate() {
    if (launchTimer_) launchTimer_->invalidate();
    for (auto& timer : beepTimers_) timer->invalidate();
    beepTimers_.clear();
    if (controllers_.eventController) controllers_.eventController->cleanUp();
    for (const auto& view : windowControllers_) {
        view->stopDisplayLink();
        view->orderOut();
    }
    if (&PlaybackApplication::current() == this) PlaybackApplication::install(nullptr);
}

// --- Streamer windows ------------------------------------------------------------------

std::shared_ptr<StreamerView> TLAppDelegate::loadWindowControllerNib(uint32_t number) {
    auto view = windowFactory_ ? windowFactory_(number) : nullptr;
    if (!view) {
        TLLog("Could not open streamer window %u", number);
        return nullptr;
    }
    view->setPreviewFrameVisible(previewFramesVisible_);
    windowControllers_.push_back(view);
    windowOrder_.push_back(number);
    return view;
}

void TLAppDelegate::launchNewWindow(uint32_t from) {
    uint32_t number = from;
    while (contains(windowNumbers_, number) || contains(windowOrder_, number)) {
        if (number == std::numeric_limits<uint32_t>::max()) return;
        ++number;
    }
    auto view = loadWindowControllerNib(number);
    if (!view) return;
    windowNumbers_.push_back(number);
    view->setPreviewFrameVisible(true);
    storeWindowNumbers();
}

std::shared_ptr<StreamerView> TLAppDelegate::keyWindow() const {
    for (auto it = windowOrder_.rbegin(); it != windowOrder_.rend(); ++it) {
        if (isClosing(*it)) continue;
        for (const auto& view : windowControllers_) {
            if (view->windowNumber() == *it) return view;
        }
    }
    return nullptr;
}

void TLAppDelegate::setKeyWindow(uint32_t number) {
    auto it = std::find(windowOrder_.begin(), windowOrder_.end(), number);
    if (it == windowOrder_.end()) return;
    windowOrder_.erase(it);
    windowOrder_.push_back(number);
}

void TLAppDelegate::closeWindow() {
    if (auto view = keyWindow()) closeWindowController(view);
}

void TLAppDelegate::closeAllWindows() {
    while (auto view = keyWindow()) closeWindowController(view);
}

void TLAppDelegate::closeWindowController(const std::shared_ptr<StreamerView>& view) {
    closing_.insert(view->windowNumber());
    view->stopDisplayLink();
    finishClosingWhenStopped(view);
}

// Stopping a display link finishes on its own thread; the window stays until
// it has, without holding up the main thread meanwhile.
void TLAppDelegate::finishClosingWhenStopped(const std::shared_ptr<StreamerView>& view) {
    const uint32_t number = view->windowNumber();
    if (!view->displayLinkRunning()) {
        closeTimers_.erase(number);
        finishClosing(view);
        return;
    }
    std::weak_ptr<TLAppDelegate> weak = weak_from_this();
    closeTimers_[number] = loop_.scheduleTimer(kDisplayLinkPollInterval, false, [weak, view] {
        if (auto self = weak.lock()) self->finishClosingWhenStopped(view);
    });
}

void TLAppDelegate::finishClosing(const std::shared_ptr<StreamerView>& view) {
    const uint32_t number = view->windowNumber();
    closing_.erase(number);
    windowNumbers_.erase(std::remove(windowNumbers_.begin(), windowNumbers_.end(), number),
                         windowNumbers_.end());
    windowOrder_.erase(std::remove(windowOrder_.begin(), windowOrder_.end(), number), windowOrder_.end());
    windowControllers_.erase(std::remove(windowControllers_.begin(), windowControllers_.end(), view),
                             windowControllers_.end());
    view->orderOut();
    defaults_.setInteger(kWindowCountKey, static_cast<int64_t>(windowNumbers_.size()));
    storeWindowNumbers();
}

TLAppDelegate::Rect TLAppDelegate::defaultFrameRectForWindowNumber(uint32_t number) const {
    return rectFromString(defaults_.stringForKey("TLStreamerWindowFrame" + std::to_string(number)));
}

TLAppDelegate::Rect TLAppDelegate::rectFromString(std::string_view text) {
    double values[4];
    for (double& value : values) {
        if (!scanNumber(text, "{},", value)) return Rect{};
    }
    while (!text.empty() && (std::isspace(static_cast<unsigned char>(text.front())) || text.front() == '}'))
        text.remove_prefix(1);
    if (!text.empty()) return Rect{};
    return Rect{values[0], values[1], values[2], values[3]};
}

// --- Forwarding to every streamer view ------------------------------------------------------

void TLAppDelegate::setCueStart() {
    for (const auto& view : windowControllers_) view->receivedCueStart();
}

void TLAppDelegate::setCueStartTimecode(const EMTimecode& timecode) {
    for (const auto& view : windowControllers_) view->setCueStartTC(timecode);
}

void TLAppDelegate::setLastReceivedTimecode(const EMTimecode& timecode) {
    for (const auto& view : windowControllers_) view->setLastReceivedTC(timecode);
    if (!controllers_.documentController) return;
    auto document = controllers_.documentController->frontDocument();
    if (!document) return;
    if (document->shouldSelectReelByTimecode()) document->reelController().selectReelForTimecode(timecode);
    if (document->shouldSelectCueByTimecode()) document->cueController().selectCueForTimecode(timecode);
}

void TLAppDelegate::addStreamerWithRed(float red, float green, float blue, double feet) {
    addStreamerWithRed(red, green, blue, feet, 1);
}

void TLAppDelegate::addStreamerWithRed(float red, float green, float blue, double feet, int size) {
    addStreamerWithRed(red, green, blue, feet, size, 0.0);
}

void TLAppDelegate::addStreamerWithRed(float red, float green, float blue, double feet, int size,
                                       double skippingSeconds) {
    for (const auto& view : windowControllers_)
        view->addStreamerWithRed(red, green, blue, static_cast<float>(feet), size, skippingSeconds);
}

void TLAppDelegate::addPunchWithHoles(int holes) {
    addPunchWithHoles(holes, 1.0f, 1.0f, 1.0f, 1);
}

void TLAppDelegate::addPunchWithHoles(int holes, float red, float green, float blue, int size) {
    addPunchWithHoles(holes, red, green, blue, size, 0.0);
}

void TLAppDelegate::addPunchWithHoles(int holes, float red, float green, float blue, int size,
                                      double afterDelay) {
    for (const auto& view : windowControllers_)
        view->addPunchWithRed(red, green, blue, holes, size, afterDelay);
    if (beepOnPunches_) beepAfterDelay(afterDelay);
}

// The warning beep sounds with its punch, not when the punch was scheduled.
void TLAppDelegate::beepAfterDelay(double seconds) {
    if (!controllers_.audioController) return;
    if (!(seconds > 0.0)) {
        controllers_.audioController->triggerSingleBeep();
        return;
    }
    std::erase_if(beepTimers_, [](const std::shared_ptr<Timer>& timer) { return !timer->isValid(); });
    TLAudioController* audio = controllers_.audioController;
    beepTimers_.push_back(loop_.scheduleTimer(seconds, false, [audio] { audio->triggerSingleBeep(); }));
}

void TLAppDelegate::cancelAllPunches() {
    for (const auto& view : windowControllers_) view->cancelAllPunches();
    for (auto& timer : beepTimers_) timer->invalidate();
    beepTimers_.clear();
}

void TLAppDelegate::addClickWithVolume(double /*volume*/) {
    if (controllers_.audioController) controllers_.audioController->triggerSingleClick();
}

void TLAppDelegate::addBeepsWithTime(double time, int count) {
    addBeepsWithTime(time, count, false);
}

void TLAppDelegate::addBeepsWithTime(double time, int count, bool punches) {
    if (count <= 0) return;
    if (controllers_.audioController) controllers_.audioController->triggerBeepsWithTotalTime(time, count);
    if (!punches) return;
    // Straight to the views: the run already beeps once per punch.
    for (int i = 0; i < count; ++i) {
        const double delay = i * time / count;
        for (const auto& view : windowControllers_) view->addPunchWithRed(1.0f, 1.0f, 1.0f, 1, 1, delay);
    }
}

void TLAppDelegate::togglePreviewFrameForAllWindows() {
    previewFramesVisible_ = !previewFramesVisible_;
    for (const auto& view : windowControllers_) view->setPreviewFrameVisible(previewFramesVisible_);
    previewFramesMenuItem_.title = previewFramesVisible_ ? kHidePreviewFramesTitle : kShowPreviewFramesTitle;
}

void TLAppDelegate::setFreeTimeClockVisibleForAllWindows(bool visible) {
    for (const auto& view : windowControllers_) view->setFreeTimeClockVisible(visible);
}

void TLAppDelegate::dimWindowLevels() {
    for (const auto& view : windowControllers_) view->dimWindowLevel();
}

void TLAppDelegate::restoreWindowLevels() {
    for (const auto& view : windowControllers_) view->restoreWindowLevel();
}

// --- What else the real-time core asks ----------------------------------------------------

void TLAppDelegate::setDisplayText(const std::string& text) {
    if (controllers_.cueController)
        controllers_.cueController->setDisplayText(text);
    else
        PlaybackApplication::setDisplayText(text);
}

void TLAppDelegate::setMovieMuted(bool muted) {
    if (controllers_.reelController) controllers_.reelController->setMovieMuted(muted);
}

void TLAppDelegate::setMTCOfflineForRehearsal(bool offline) {
    if (controllers_.midiController) controllers_.midiController->setMTCOfflineForRehearsal(offline);
}

bool TLAppDelegate::MTCOnline() const {
    return controllers_.midiController ? controllers_.midiController->MTCOnline() : true;
}

void TLAppDelegate::setMTCStatus(const std::string& status) {
    if (presenter_) presenter_->setMTCStatus(status);
}

// --- Commands on the key streamer window ------------------------------------------------------

void TLAppDelegate::resetOverlaysForKeyWindow() {
    if (auto view = keyWindow()) view->resetWindowPrefs();
}

void TLAppDelegate::toggleFreeTimeClockForKeyWindow() {
    if (auto view = keyWindow()) view->toggleFreeTimeClock();
}

void TLAppDelegate::toggleBarBeatCounterForKeyWindow() {
    if (auto view = keyWindow()) view->toggleBarBeatCounter();
}

void TLAppDelegate::toggleSubtitlesForKeyWindow() {
    if (auto view = keyWindow()) view->toggleSubtitles();
}

void TLAppDelegate::notImplemented(const char* command) const {
    TLLog("ERROR: called %s, which is not yet implemented", command);
}

void TLAppDelegate::togglePreviewFrameForKeyWindow() {
    notImplemented("togglePreviewFrameForKeyWindow");
}
void TLAppDelegate::toggleTimeCodeBurnForKeyWindow() {
    notImplemented("toggleTimeCodeBurnForKeyWindow");
}
void TLAppDelegate::toggleRealTimeBurnForKeyWindow() {
    notImplemented("toggleRealTimeBurnForKeyWindow");
}
void TLAppDelegate::toggleFeetFramesBurnForKeyWindow() {
    notImplemented("toggleFeetFramesBurnForKeyWindow");
}

// --- Commands on the front document and the controllers ------------------------------------------

void TLAppDelegate::showFrontDocumentWindow(DocumentWindowPresenter::Field field) {
    if (!presenter_ || !controllers_.documentController) return;
    if (auto document = controllers_.documentController->frontDocument())
        presenter_->showDocumentWindow(document, field);
}

void TLAppDelegate::beginEditingTransportStartTime() {
    showFrontDocumentWindow(DocumentWindowPresenter::Field::TransportStartTime);
}

void TLAppDelegate::beginEditingCountoffBeats() {
    showFrontDocumentWindow(DocumentWindowPresenter::Field::CountoffBeats);
}

void TLAppDelegate::beginEditingCountoffDuration() {
    showFrontDocumentWindow(DocumentWindowPresenter::Field::CountoffDuration);
}

void TLAppDelegate::toggleMTCOnline() {
    if (auto* midi = controllers_.midiController) midi->setMTCOnline(!midi->MTCOnline());
}

void TLAppDelegate::nudgeOneFrameForward() {
    if (controllers_.syncController) controllers_.syncController->nudgeByFrames(1);
}

void TLAppDelegate::nudgeOneFrameBackward() {
    if (controllers_.syncController) controllers_.syncController->nudgeByFrames(-1);
}

void TLAppDelegate::togglePickupActive() {
    auto* transport = controllers_.transportController;
    if (!transport) return;
    const bool active = !transport->pickupActive();
    transport->setPickupActive(active);
    NotificationCenter::defaultCenter().postNotificationName(
        TransportController::kPickupActiveDidChangeNotification, transport);
    if (!active) return;
    if (controllers_.documentController) {
        auto document = controllers_.documentController->frontDocument();
        if (document && document->statusDisplay())
            document->statusDisplay()->showStatusMessage("Pickup active", kPickupStatusDuration);
    }
    beginEditingTransportStartTime();
}

void TLAppDelegate::showSyncStatusWindow() {
    if (presenter_) presenter_->openWindowNamed("SyncStatus");
}

void TLAppDelegate::newCue() {
    if (!controllers_.documentController) return;
    if (auto document = controllers_.documentController->frontDocument()) document->cueController().newCue();
}

void TLAppDelegate::showReelsWindow() {
    if (!presenter_ || !controllers_.documentController) return;
    if (auto document = controllers_.documentController->frontDocument())
        presenter_->showReelsWindow(document);
}

void TLAppDelegate::help() {
    if (presenter_) presenter_->openURL(kHelpURL);
}

// --- Files handed over by the system ----------------------------------------------------------------

bool TLAppDelegate::applicationOpenFile(const std::string& path) {
    std::string extension = std::filesystem::path(path).extension().string();
    if (!extension.empty()) extension.erase(0, 1);
    extension = lowercase(extension);
    if (extension == Document::kFileExtension) return openDocument(path);
    if (extension == "tollvanepreset")
        return controllers_.eventController && controllers_.eventController->loadPresetFromPath(path);
    if (extension == "mid") return controllers_.sequencer && controllers_.sequencer->loadMIDIFile(path);
    return false;
}

bool TLAppDelegate::openDocument(const std::string& path) {
    DocumentController* documents = controllers_.documentController;
    if (!documents) return false;
    try {
        std::error_code error;
        const auto canonical = std::filesystem::weakly_canonical(path, error);
        for (const auto& open : documents->documents()) {
            if (open->filePath().empty()) continue;
            std::error_code openError;
            if (std::filesystem::weakly_canonical(open->filePath(), openError) == canonical && !openError &&
                !error) {
                documents->setCurrentDocument(open);
                if (presenter_) presenter_->showDocumentWindow(open, DocumentWindowPresenter::Field::None);
                return true;
            }
        }
        // Only a new document nobody has touched makes way: one with ADR/Foley
        // events or other edits but no reels or cues is work to keep.
        std::shared_ptr<Document> untouched;
        if (documents->documents().size() == 1) {
            const auto& only = documents->documents().front();
            if (only->isEmpty() && !only->isDocumentEdited() && only->filePath().empty()) untouched = only;
        }
        std::string reason;
        auto document = Document::documentWithContentsOfFile(path, &reason);
        if (!document) {
            TLLog("Could not open %s: %s", path.c_str(), reason.c_str());
            return false;
        }
        documents->addDocument(document);
        documents->setCurrentDocument(document);
        if (untouched) documents->removeDocument(untouched);
        if (presenter_) presenter_->showDocumentWindow(document, DocumentWindowPresenter::Field::None);
    } catch (const std::exception& exception) {
        TLLog("Exception while opening %s: %s", path.c_str(), exception.what());
    }
    return true;
}

}  // namespace tollvane
