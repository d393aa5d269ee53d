#include "playback/TransportViewController.h"

#include <utility>

#include "model/BarBeatFormatter.h"
#include "model/Cue.h"
#include "platform/RunLoop.h"
#include "playback/CueController.h"
#include "playback/PlaybackApplication.h"
#include "playback/SyncController.h"
#include "playback/TransportController.h"
#include "timebase/EMTimecodeFormatter.h"

namespace tollvane {

namespace {

std::string_view trimmed(std::string_view text) {
    constexpr std::string_view kBlanks = " \t\r\n";
    const size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return {};
    const size_t last = text.find_last_not_of(kBlanks);
    return text.substr(first, last - first + 1);
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// The formatters read any text at all (garbage reads as bar 1 or as
// 0:00:00:00); a typed position has to start with its number.
bool startsWithNumber(std::string_view text, bool signAllowed) {
    if (signAllowed && !text.empty() && (text.front() == '-' || text.front() == '+')) text.remove_prefix(1);
    return !text.empty() && isDigit(text.front());
}

}  // namespace

TransportViewController::TransportViewController()
    : TransportViewController(TransportController::sharedTransportController()) {}

TransportViewController::TransportViewController(TransportController& transport) : transport_(transport) {
    cueControllerToken_ = transport_.cueController().addKeyObserver([this](std::string_view key) {
        if (key == "selectedCue") selectedCueDidChange();
    });
    transportToken_ = transport_.addKeyObserver([this](std::string_view key) {
        if (key == "rehearsalActive") {
            updateTransportControls();
        } else if (key == "pickupActive") {
            announce("pickupLabel");
        }
    });

    NotificationCenter& center = NotificationCenter::defaultCenter();
    const std::pair<const char*, const char*> proxies[] = {
        {TransportController::kPlaybackStartTimeStampDidChangeNotification,
         "playbackStartPrerollShiftedBeats"},
        {TransportController::kWarningClicksDidChangeNotification, "warningClicks"},
        {TransportController::kWarningClickNoteDurationDidChangeNotification, "warningClickNoteDuration"},
        {TransportController::kClickMuteSettingDidChangeNotification, "clickMuteSetting"},
        {TransportController::kWarningBeatPunchesEnabledDidChangeNotification, "warningBeatPunchesEnabled"},
    };
    for (const auto& [name, key] : proxies) {
        const std::string proxyKey = key;
        notificationTokens_.push_back(center.addObserver(
            name, &transport_, [this, proxyKey](const Notification&) { announce(proxyKey); }));
    }
    notificationTokens_.push_back(
        center.addObserver(TransportController::kPickupActiveDidChangeNotification,
                           [this](const Notification&) { announce("pickupLabel"); }));

    updateTransportControls();
}

TransportViewController::~TransportViewController() {
    stopDisplayTimer();
    transport_.cueController().removeKeyObserver(cueControllerToken_);
    transport_.removeKeyObserver(transportToken_);
    for (const auto token : notificationTokens_) NotificationCenter::defaultCenter().removeObserver(token);
}

// --- Display ---------------------------------------------------------------------

void TransportViewController::startDisplayTimer() {
    if (displayTimerRunning()) return;
    RunLoop* loop = RunLoop::mainIfInstalled();
    if (!loop) return;
    displayTimer_ = loop->scheduleTimer(kDisplayInterval, true, [this]() { updateCurrentTimeDisplays(); });
}

void TransportViewController::stopDisplayTimer() {
    if (displayTimer_) displayTimer_->invalidate();
    displayTimer_.reset();
}

bool TransportViewController::displayTimerRunning() const {
    return displayTimer_ && displayTimer_->isValid();
}

void TransportViewController::updateCurrentTimeDisplays() {
    SyncController& sync = transport_.syncController();
    if (const std::shared_ptr<Cue> cue = selectedCue()) {
        const double timeStamp = transport_.currentTimeStamp();
        if (!barBeatFieldEditing_) barBeatText_ = cue->barBeatStringForTimeStamp(timeStamp);
        realTimeText_ = cue->realTimeStringForTimeStamp(timeStamp);
    } else {
        barBeatText_ = kNoBarBeat;
        realTimeText_ = kNoRealTime;
    }
    if (!timecodeFieldEditing_)
        timecodeText_ = EMTimecodeFormatter().stringForObjectValue(sync.currentTimecode());
}

void TransportViewController::updateTransportControls() {
    rehearseButtonImage_ = transport_.rehearsalActive() ? "pause-16" : "play-16-off";
    const bool online = PlaybackApplication::current().MTCOnline();
    onlineButtonImage_ = online ? "time-16-on" : "time-16-off";
    onlineButtonTitle_ = online ? "Online" : "Offline";
    announce("transportControls");
}

void TransportViewController::refreshRehearseButtonState() {
    const bool playing = transport_.syncController().isPlaying();
    scoringRehearseButtonImage_ = playing ? "pause-16" : "play-16-off";
    adrFoleyRehearseButtonOn_ = playing;
    announce("transportControls");
}

void TransportViewController::toggleRehearsal() {
    transport_.pauseOrResumeRehearsal();
    if (transport_.syncController().isPlaying()) endTimeEntry();
    refreshRehearseButtonState();
}

void TransportViewController::rehearseFromTop() {
    transport_.syncController().pauseAtRehearsalStart();
    refreshRehearseButtonState();
}

// --- Locating by typing --------------------------------------------------------------

bool TransportViewController::beginBarBeatEntry() {
    if (transport_.syncController().isPlaying() || !selectedCue()) return false;
    if (timecodeFieldEditing_) endTimeEntry();
    barBeatFieldEditing_ = true;
    announce("barBeatFieldEditing");
    return true;
}

bool TransportViewController::beginTimecodeEntryScoring() {
    if (transport_.syncController().isPlaying() || !selectedCue()) return false;
    if (barBeatFieldEditing_) endTimeEntry();
    timecodeFieldEditing_ = true;
    announce("timecodeFieldEditing");
    return true;
}

void TransportViewController::barBeatEntryFinished(std::string_view text) {
    if (!barBeatFieldEditing_) return;
    const std::string_view entry = trimmed(text);
    if (startsWithNumber(entry, true)) {
        const BarBeatFormatter formatter([this]() { return selectedCue(); });
        const BarBeatFormatter::ParseResult result = formatter.getObjectValue(std::string(entry));
        if (result.ok) transport_.syncController().pauseAtPrerollShiftedBeats(result.beats);
    }
    endTimeEntry();
}

void TransportViewController::scoringTimecodeEntryFinished(std::string_view text) {
    if (!timecodeFieldEditing_) return;
    const std::string_view entry = trimmed(text);
    if (startsWithNumber(entry, false)) {
        if (const auto timecode = EMTimecodeFormatter().getObjectValue(entry))
            transport_.syncController().pauseAtTimecode(*timecode);
    }
    endTimeEntry();
}

void TransportViewController::endTimeEntry() {
    if (barBeatFieldEditing_) {
        barBeatFieldEditing_ = false;
        announce("barBeatFieldEditing");
    }
    if (timecodeFieldEditing_) {
        timecodeFieldEditing_ = false;
        announce("timecodeFieldEditing");
    }
}

// --- Settings -----------------------------------------------------------------------

bool TransportViewController::canChangeTransportSettings() const {
    return selectedCue() != nullptr;
}

std::string TransportViewController::pickupLabel() const {
    return transport_.pickupActive() ? "PICKUP into" : "Countoff into";
}

bool TransportViewController::pickupLabelIsWhite() const {
    return transport_.pickupActive();
}

double TransportViewController::playbackStartPrerollShiftedBeats() const {
    return transport_.playbackStartPrerollShiftedBeats();
}

void TransportViewController::setPlaybackStartPrerollShiftedBeats(double beats) {
    transport_.setPlaybackStartPrerollShiftedBeats(beats);
}

uint32_t TransportViewController::warningClicks() const {
    return transport_.warningBeats();
}

void TransportViewController::setWarningClicks(uint32_t clicks) {
    transport_.setWarningBeats(clicks);
}

int32_t TransportViewController::warningClickNoteDuration() const {
    return transport_.warningBeatNoteDuration();
}

void TransportViewController::setWarningClickNoteDuration(int32_t code) {
    transport_.setWarningBeatNoteDuration(code);
}

uint32_t TransportViewController::clickMuteSetting() const {
    return transport_.clickMuteSetting();
}

void TransportViewController::setClickMuteSetting(uint32_t setting) {
    transport_.setClickMuteSetting(setting);
}

bool TransportViewController::warningBeatPunchesEnabled() const {
    return transport_.warningBeatPunchesEnabled();
}

void TransportViewController::setWarningBeatPunchesEnabled(bool enabled) {
    transport_.setWarningBeatPunchesEnabled(enabled);
}

std::shared_ptr<Cue> TransportViewController::selectedCue() const {
    return transport_.cueController().selectedCue();
}

void TransportViewController::selectedCueDidChange() {
    // Typing a position needs a cue.
    if (!selectedCue()) endTimeEntry();
    announce("canChangeTransportSettings");
}

void TransportViewController::announce(std::string_view key) {
    willChangeValueForKey(key);
    didChangeValueForKey(key);
}

}  // namespace tollvane
