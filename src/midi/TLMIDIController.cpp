#include "midi/TLMIDIController.h"

#include <cxxabi.h>

#include <charconv>
#include <chrono>
#include <cstdlib>
#include <exception>
#include <limits>
#include <typeinfo>

#include "document/Document.h"
#include "document/DocumentController.h"
#include "midi/FFMIDIClient.h"
#include "midi/FFMIDIPortInputStream.h"
#include "midi/FFMIDISystemCommonMessage.h"
#include "midi/FFMIDISystemExclusiveMessage.h"
#include "midi/FFMIDIVirtualInputStream.h"
#include "midi/FFMIDIVoiceMessage.h"
#include "midi/MSCCueInfo.h"
#include "model/CueArrayController.h"
#include "platform/AlertPresenter.h"
#include "platform/Log.h"
#include "platform/RunLoop.h"
#include "platform/Timer.h"
#include "playback/PlaybackApplication.h"
#include "playback/SyncController.h"
#include "playback/TLEvent.h"
#include "playback/TLEventController.h"
#include "timebase/EMTimecode.h"

namespace tollvane {

namespace {

constexpr const char* kSelectedSourceKey = "selectedMIDISourceEndpointID";
constexpr const char* kAllSetting = "All";
constexpr const char* kNoneSetting = "None";
// The settings whose changes re-read the preferences.
constexpr std::array<const char*, 4> kObservedSettings = {"mtcOnline", "treatMTCAs", "mscOnline",
                                                          "mscDeviceID"};
// Seconds from the Unix epoch to 2001-01-01 00:00:00 UTC.
constexpr double kReferenceDateOffset = 978307200.0;

constexpr uint8_t kAllCall = 0x7F;
constexpr uint8_t kSustainPedal = 64;
// The event mapping numbers notes an octave below the wire.
constexpr unsigned kMappingNoteOffset = 12;

std::string exceptionName(const std::exception& exception) {
    const char* mangled = typeid(exception).name();
    int status = 0;
    char* demangled = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
    std::string name = status == 0 && demangled ? demangled : mangled;
    std::free(demangled);
    return name;
}

// The MSC command formats we answer to; 7F is "all types".
bool isMSCCommandFormat(uint8_t format) {
    switch (format) {
        case 0x11:
        case 0x30:
        case 0x31:
        case 0x40:
        case 0x7F:
            return true;
        default:
            return false;
    }
}

}  // namespace

double TLMIDIController::systemWallClock() {
    const auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
    return std::chrono::duration<double>(sinceEpoch).count() - kReferenceDateOffset;
}

bool TLMIDIController::tcModeMatchesFramerate(int32_t tcMode, const EMTimecodeFramerate& framerate) {
    switch (tcMode) {
        case 0:
            return framerate.fps == 24;
        case 1:
            return framerate.fps == 25;
        case 2:
            return framerate.fps == 30 && framerate.dropFrame;
        case 3:
            return framerate.fps == 30 && !framerate.dropFrame;
        default:
            return false;
    }
}

TLMIDIController::TLMIDIController(FFMIDIClient* client, UserDefaults& defaults, RunLoop& loop,
                                   const HostClock& hostClock)
    : client_(client), defaults_(defaults), loop_(loop), hostClock_(hostClock), wallClock_(systemWallClock) {}

TLMIDIController::~TLMIDIController() {
    if (syncTimer_) syncTimer_->invalidate();
    for (UserDefaults::ObserverToken token : defaultsTokens_) defaults_.removeObserver(token);
    if (setupChangedToken_ != 0) NotificationCenter::defaultCenter().removeObserver(setupChangedToken_);
    virtualInputStream_.reset();
    portInputStream_.reset();
}

void TLMIDIController::setWallClock(WallClock clock) {
    wallClock_ = clock ? std::move(clock) : WallClock(systemWallClock);
}

SyncController& TLMIDIController::syncController() const {
    return syncController_ ? *syncController_ : SyncController::sharedInstance();
}

DocumentController& TLMIDIController::documentController() const {
    return documentController_ ? *documentController_ : DocumentController::sharedDocumentController();
}

TLEventController& TLMIDIController::eventController() const {
    return eventController_ ? *eventController_ : TLEventController::sharedController();
}

AlertPresenter& TLMIDIController::alertPresenter() const {
    return alertPresenter_ ? *alertPresenter_ : AlertPresenter::shared();
}

std::shared_ptr<Document> TLMIDIController::frontDocument() const {
    return documentController().frontDocument();
}

// --- Start-up ---------------------------------------------------------------------

void TLMIDIController::start() {
    if (started_) return;
    started_ = true;
    if (client_) {
        try {
            portInputStream_ = std::make_unique<FFMIDIPortInputStream>(*client_);
            portInputStream_->setMessageDestination(this);
            // Every source until the settings say otherwise.
            portInputStream_->setInputSources(client_->sources());
        } catch (const std::exception& exception) {
            TLLog("ERROR: Could not create MIDI input port stream: Caught %s: %s",
                  exceptionName(exception).c_str(), exception.what());
            portInputStream_.reset();
        }
        try {
            virtualInputStream_ = std::make_unique<FFMIDIVirtualInputStream>(*client_);
            virtualInputStream_->setMessageDestination(this);
            virtualInputStream_->setActive(true);
            virtualInputStream_->keepUniqueIDAcrossLaunches(defaults_);
        } catch (const std::exception& exception) {
            TLLog("ERROR: Could not create MIDI input virtual stream: Caught %s: %s",
                  exceptionName(exception).c_str(), exception.what());
            virtualInputStream_.reset();
        }
        setupChangedToken_ = NotificationCenter::defaultCenter().addObserver(
            FFMIDIClientSetupChangedNotification, client_,
            [this](const Notification&) { MIDISetupChanged(); });
    }
    getMIDIPrefs();
    syncTimer_ =
        loop_.scheduleTimer(kCheckSyncInterval, true, std::function<void()>([this] { checkSync(); }));
    for (const char* key : kObservedSettings) {
        defaultsTokens_.push_back(defaults_.addObserver(key, [this](const std::string&) { getMIDIPrefs(); }));
    }
}

// --- Dispatch ---------------------------------------------------------------------

void TLMIDIController::takeMIDIMessages(const FFMIDIMessageList& messages) {
    for (const std::shared_ptr<FFMIDIMessage>& message : messages) {
        if (!message) continue;
        switch (message->messageType()) {
            case FFMIDIMessageTypeNoteOn:
                if (const auto* voice = dynamic_cast<const FFMIDIVoiceMessage*>(message.get())) {
                    if (voice->dataByte2() != 0) noteOnReceived(voice->dataByte1());
                }
                break;
            case FFMIDIMessageTypeControlChange:
                if (const auto* voice = dynamic_cast<const FFMIDIVoiceMessage*>(message.get())) {
                    controlChangeReceived(voice->dataByte1(), voice->dataByte2());
                }
                break;
            case FFMIDIMessageTypeMTCQuarterFrame:
                if (const auto* common = dynamic_cast<const FFMIDISystemCommonMessage*>(message.get())) {
                    if (mtcOnline_) quarterFrameReceived(common->dataByte1(), common->timeStamp());
                }
                break;
            case FFMIDIMessageTypeSystemExclusive:
                if (const auto* sysex = dynamic_cast<const FFMIDISystemExclusiveMessage*>(message.get())) {
                    const std::vector<uint8_t> full = sysex->fullMessageData();
                    sysexReceived(full.data(), full.size());
                }
                break;
            default:
                break;
        }
    }
}

void TLMIDIController::controlChangeReceived(uint8_t controller, uint8_t value) {
    if (controller != kSustainPedal) return;
    PlaybackApplication::current().setFreeTimeClockVisibleForAllWindows(value != 0);
}

// --- MIDI Time Code ----------------------------------------------------------------

void TLMIDIController::quarterFrameReceived(uint8_t data, uint64_t timeStamp) {
    if (defaults_.integerForKey("debugMTC") > 0) TLLog("MTC in %02x", data);
    lastReceivedMTCTimeStamp_ = timeStamp != 0 ? timeStamp : hostClock_.now();
    if (data >= 0x80) return;
    using PieceSetter = void (TLMIDIController::*)(int);
    static constexpr PieceSetter kPieceSetters[8] = {
        &TLMIDIController::setLowFF,  &TLMIDIController::setHighFF, &TLMIDIController::setLowSS,
        &TLMIDIController::setHighSS, &TLMIDIController::setLowMM,  &TLMIDIController::setHighMM,
        &TLMIDIController::setLowHH,  &TLMIDIController::setHighHH};
    (this->*kPieceSetters[data >> 4])(data);
}

void TLMIDIController::setLowFF(int data) {
    ff_ = (ff_ & 0xF0u) | (static_cast<uint32_t>(data) & 0x0Fu);
}

void TLMIDIController::setHighFF(int data) {
    ff_ = (ff_ & 0x0Fu) | ((static_cast<uint32_t>(data) & 0x0Fu) << 4);
    mtcValidMask_ |= 1;
}

void TLMIDIController::setLowSS(int data) {
    ss_ = (ss_ & 0xF0u) | (static_cast<uint32_t>(data) & 0x0Fu);
}

// Halfway through a cycle the frames and seconds are new but the minutes and
// hours still the previous cycle's; the cycle's frame has passed, so the
// frame before it goes out. When the seconds went back since the previous
// cycle the minute has wrapped, whatever frame this cycle starts on (at
// 25 fps every other minute starts its cycles on frame 1, in drop frame on
// frame 2); with no previous cycle, seconds and frames both 0 say so. The
// frame before is counted back on the timecode, so that it lands on the last
// label of the previous minute also in drop frame. Until an hours piece or a
// full frame has told the rate there is nothing to check the timecode
// against, so nothing goes out.
void TLMIDIController::setHighSS(int data) {
    ss_ = (ss_ & 0x0Fu) | ((static_cast<uint32_t>(data) & 0x0Fu) << 4);
    mtcValidMask_ |= 2;
    if (cycleSecondsKnown_ ? ss_ < cycleSeconds_ : (ss_ == 0 && ff_ == 0)) ++mm_;
    if (tcModeReceived_) emitTimecode(static_cast<int32_t>(ff_), 1);
}

void TLMIDIController::setLowMM(int data) {
    mm_ = (mm_ & 0xF0u) | (static_cast<uint32_t>(data) & 0x0Fu);
}

void TLMIDIController::setHighMM(int data) {
    mm_ = (mm_ & 0x0Fu) | ((static_cast<uint32_t>(data) & 0x0Fu) << 4);
    mtcValidMask_ |= 4;
}

void TLMIDIController::setLowHH(int data) {
    hh_ = (hh_ & 0xF0u) | (static_cast<uint32_t>(data) & 0x0Fu);
}

void TLMIDIController::setHighHH(int data) {
    hh_ = (hh_ & 0x0Fu) | ((static_cast<uint32_t>(data) & 1u) << 4);
    tcMode_ = (data >> 1) & 3;
    tcModeReceived_ = true;
    mtcValidMask_ |= 8;
    cycleSeconds_ = ss_;
    cycleSecondsKnown_ = true;
    emitTimecode(static_cast<int32_t>(ff_));
}

EMTimecodeFramerate TLMIDIController::projectFramerateRecord() const {
    return EMTimecode::framerateForIndex(projectFramerate());
}

void TLMIDIController::emitTimecode(int32_t ff, int64_t framesBefore) {
    const auto timecode =
        EMTimecode::timecodeWithFramerate(projectFramerateRecord(), static_cast<int32_t>(hh_),
                                          static_cast<int32_t>(mm_), static_cast<int32_t>(ss_), ff);
    if (framesBefore != 0) timecode->subtractFrames(framesBefore);
    fromQuarterFrames_ = true;
    setLastReceivedTimecode(*timecode);
    fromQuarterFrames_ = false;
}

void TLMIDIController::setLastReceivedTimecode(const EMTimecode& timecode) {
    if (!tcModeMatchesFramerate(tcMode_, projectFramerateRecord())) {
        if (const auto document = frontDocument()) document->receivedAtWrongFramerate();
        return;
    }
    timeAtLastMTCMessage_ = wallClock_();
    lastReceivedTimecode_ = timecode.copy();
    PlaybackApplication::current().setLastReceivedTimecode(*lastReceivedTimecode_);
    const uint64_t at = fromQuarterFrames_ ? frameStartHostTime(timecode) : hostClock_.now();
    if (mtcValidMask_ == kCompleteMask) {
        syncController().setCurrentTimecode(timecode, true, at);
        mtcBeingReceived_ = true;
    } else {
        // The first cycle is not complete yet: show the position without running.
        syncController().setCurrentTimecode(timecode, false, at);
    }
}

// A cycle's timecode names the frame in which its first piece went out. It
// goes out with the last piece, 1.75 frames after that frame began; halfway,
// the fourth piece sends the frame before, also 1.75 frames after it began.
// Time is anchored where the named frame began: anchored at the message,
// everything that follows MTC would run 1.75 frames late.
uint64_t TLMIDIController::frameStartHostTime(const EMTimecode& timecode) const {
    const EMTimecodeFramerate& rate = timecode.framerate();
    const double frameSeconds = (rate.videoSpeed ? 1.001 : 1.0) / rate.fps;
    const uint64_t lag = HostClock::ticksFromSeconds(kAnchorLagFrames * frameSeconds);
    return lastReceivedMTCTimeStamp_ > lag ? lastReceivedMTCTimeStamp_ - lag : lastReceivedMTCTimeStamp_;
}

void TLMIDIController::checkSync() {
    if (!mtcBeingReceived_ || wallClock_() - timeAtLastMTCMessage_ <= kMTCStopTimeout) return;
    SyncController& sync = syncController();
    if (defaults_.boolForKey("transportAutoRewind")) {
        sync.pauseAtRehearsalStart();
        // With no cue to rewind to, time would run on without MTC: stop where MTC stopped.
        if (sync.isPlaying() && lastReceivedTimecode_) {
            sync.pauseAtTimecode(*lastReceivedTimecode_);
        }
    } else if (lastReceivedTimecode_) {
        sync.pauseAtTimecode(*lastReceivedTimecode_);
    }
    mtcBeingReceived_ = false;
    mtcValidMask_ = 0;
    cycleSecondsKnown_ = false;
}

// --- System exclusive ----------------------------------------------------------------

void TLMIDIController::sysexReceived(const uint8_t* bytes, size_t length) {
    if (bytes == nullptr || length == 0) return;
    if (mtcSysexReceived(bytes, length)) return;
    mscReceived(bytes, length);
    fireMappedSysex(bytes, length);
}

bool TLMIDIController::mtcSysexReceived(const uint8_t* bytes, size_t length) {
    if (!mtcOnline_ || length < 10 || bytes[1] != 0x7F) return false;
    // MIDI Machine Control locate, to the all-call device only.
    if (length == 13 && bytes[2] == 0x7F && bytes[3] == 0x06 && bytes[4] == 0x44 && bytes[5] == 0x06 &&
        bytes[6] == 0x01) {
        const SysexTimecode timecode{static_cast<uint32_t>(bytes[7] & 0x1F), bytes[8], bytes[9], bytes[10],
                                     (bytes[7] >> 5) & 3};
        takeSysexTimecode(timecode, true, bytes[11]);
        return true;
    }
    // MTC full frame, whatever the device ID.
    if (length == 10 && bytes[3] == 0x01 && bytes[4] == 0x01) {
        const SysexTimecode timecode{static_cast<uint32_t>(bytes[5] & 0x1F), bytes[6], bytes[7], bytes[8],
                                     (bytes[5] >> 5) & 3};
        takeSysexTimecode(timecode, false, 0);
        return true;
    }
    return false;
}

void TLMIDIController::takeSysexTimecode(const SysexTimecode& timecode, bool withBits, uint32_t bits) {
    hh_ = timecode.hh;
    mm_ = timecode.mm;
    ss_ = timecode.ss;
    ff_ = timecode.ff;
    tcMode_ = timecode.tcMode;
    tcModeReceived_ = true;
    cycleSeconds_ = ss_;
    cycleSecondsKnown_ = true;
    const EMTimecodeFramerate framerate = projectFramerateRecord();
    if (!tcModeMatchesFramerate(tcMode_, framerate)) {
        setMTCOnline(false);
        alertPresenter().runAlert(
            {"Incorrect framerate",
             "The timecode being received is at the wrong framerate. Please check that "
             "the project framerate and the incoming MTC framerate match before putting "
             "Tollvane online.",
             {"OK"}});
        return;
    }
    const auto hh = static_cast<int32_t>(hh_);
    const auto mm = static_cast<int32_t>(mm_);
    const auto ss = static_cast<int32_t>(ss_);
    const auto ff = static_cast<int32_t>(ff_);
    const auto received = withBits ? EMTimecode::timecodeWithFramerate(framerate, hh, mm, ss, ff, bits)
                                   : EMTimecode::timecodeWithFramerate(framerate, hh, mm, ss, ff);
    setLastReceivedTimecode(*received);
}

void TLMIDIController::mscReceived(const uint8_t* bytes, size_t length) {
    if (length < 6 || bytes[1] != 0x7F || bytes[3] != 0x02) return;
    if (bytes[2] != kAllCall && bytes[2] != mscDeviceID_) return;
    if (!isMSCCommandFormat(bytes[4])) return;
    switch (bytes[5]) {
        case 0x01:
            receivedMSCGo(bytes, length);
            break;
        case 0x02:
            receivedMSCStop(bytes, length);
            break;
        case 0x05:
            receivedMSCLoad(bytes, length);
            break;
        case 0x19:
            setMTCOnline(true);
            break;
        case 0x1A:
            setMTCOnline(false);
            break;
        default:
            break;
    }
}

// GO and STOP are recognised so that they are not mistaken for anything
// else; the cue player follows timecode, not these.
void TLMIDIController::receivedMSCGo(const uint8_t*, size_t) {}

void TLMIDIController::receivedMSCStop(const uint8_t*, size_t) {}

void TLMIDIController::receivedMSCLoad(const uint8_t* bytes, size_t length) {
    const MSCCueInfo info = MSCCueInfo::cueInfoFromBytes(bytes, length);
    // An empty cue number would match every title with a blank in it.
    const std::string cueNumber = info.cueNumber();
    if (cueNumber.empty()) return;
    const auto document = frontDocument();
    if (!document) return;
    CueArrayController& cues = document->cueController();
    if (cues.loadCueMatchingMSCCueNumber(cueNumber)) return;
    const std::array<int32_t, 5> numbers = MSCCueInfo::numbersFromCueNumber(cueNumber);
    cues.loadCueMatchingReelNumber(numbers[0], numbers[1], numbers[2], numbers[3], numbers[4]);
}

void TLMIDIController::fireMappedSysex(const uint8_t* bytes, size_t length) {
    for (const std::shared_ptr<TLEvent>& event : eventController().eventsForSysex(bytes, length)) {
        event->trigger();
    }
}

// --- Notes -------------------------------------------------------------------------

void TLMIDIController::noteOnReceived(unsigned note) {
    const unsigned mappingNote = (note - kMappingNoteOffset) & 0xFFu;
    for (const std::shared_ptr<TLEvent>& event : eventController().eventsForNote(mappingNote)) {
        if (event->eventType() == TLEvent::kCueStart) {
            setCueStart();
        } else {
            event->trigger();
        }
    }
}

void TLMIDIController::setCueStart() {
    PlaybackApplication::current().setCueStart();
}

// --- Settings ------------------------------------------------------------------------

int64_t TLMIDIController::projectFramerate() const {
    const auto document = frontDocument();
    return document ? document->projectFramerate() : 4;
}

void TLMIDIController::setProjectFramerate(int64_t framerateIndex) {
    const auto document = frontDocument();
    if (!document) return;
    willChangeValueForKey("projectFramerate");
    document->setProjectFramerate(framerateIndex);
    didChangeValueForKey("projectFramerate");
}

void TLMIDIController::setMTCOnlineFlag(bool online) {
    if (online == mtcOnline_) return;
    willChangeValueForKey("MTCOnline");
    mtcOnline_ = online;
    didChangeValueForKey("MTCOnline");
}

void TLMIDIController::setMTCOnline(bool online) {
    setMTCOnlineFlag(online);
    defaults_.setBool("mtcOnline", online);
    PlaybackApplication::current().setMTCStatus(online ? kWaitingForMTCStatus : kOfflineStatus);
}

void TLMIDIController::setMTCOfflineForRehearsal(bool offline) {
    willChangeValueForKey("MTCOnline");
    MTCOfflineForRehearsal_ = offline;
    didChangeValueForKey("MTCOnline");
}

void TLMIDIController::setMscOnline(bool online) {
    mscOnline_ = online;
    defaults_.setBool("mscOnline", online);
}

void TLMIDIController::setMscDeviceID(int64_t deviceID) {
    mscDeviceID_ = deviceID >= 1 && deviceID <= 127 ? static_cast<uint8_t>(deviceID) : kAllCall;
    defaults_.setInteger("mscDeviceID", deviceID);
}

void TLMIDIController::getMIDIPrefs() {
    isMTCVideoSpeed_ = defaults_.integerForKey("treatMTCAs") > 0;
    setMTCOnlineFlag(defaults_.boolForKey("mtcOnline"));
    mscOnline_ = defaults_.boolForKey("mscOnline");
    const int64_t deviceID = defaults_.integerForKey("mscDeviceID");
    mscDeviceID_ = deviceID >= 1 && deviceID <= 127 ? static_cast<uint8_t>(deviceID) : kAllCall;
    applySelectedSourceSetting();
}

// --- Input selection -----------------------------------------------------------------

std::vector<TLMIDIController::EndpointItem> TLMIDIController::midiEndpoints() const {
    std::vector<EndpointItem> endpoints{std::string(kNoneEndpointTitle), std::string(kAllEndpointTitle)};
    if (client_) {
        for (auto& source : client_->sources()) endpoints.emplace_back(std::move(source));
    }
    return endpoints;
}

std::vector<std::string> TLMIDIController::midiEndpointNames() const {
    std::vector<std::string> names;
    for (const EndpointItem& item : midiEndpoints()) {
        if (const auto* title = std::get_if<std::string>(&item)) {
            names.push_back(*title);
        } else {
            names.push_back(std::get<std::shared_ptr<FFMIDISourceEndpoint>>(item)->name());
        }
    }
    return names;
}

void TLMIDIController::listenToNoSource() {
    if (portInputStream_) portInputStream_->removeAllInputSources();
    selectedSource_.reset();
    inputEndpointIndex_ = 0;
}

void TLMIDIController::listenToAllSources() {
    if (portInputStream_ && client_) portInputStream_->setInputSources(client_->sources());
    selectedSource_.reset();
    inputEndpointIndex_ = 1;
}

void TLMIDIController::setSelectedMIDISourceEndpointIndex(uint32_t index) {
    willChangeValueForKey("selectedMIDISourceEndpointIndex");
    if (index == 0) {
        listenToNoSource();
        defaults_.setString(kSelectedSourceKey, kNoneSetting);
    } else if (index == 1) {
        listenToAllSources();
        defaults_.setString(kSelectedSourceKey, kAllSetting);
    } else {
        const auto sources =
            client_ ? client_->sources() : std::vector<std::shared_ptr<FFMIDISourceEndpoint>>();
        if (index - 2 < sources.size()) {
            selectedSource_ = sources[index - 2];
            if (portInputStream_) portInputStream_->setInputSources({selectedSource_});
            inputEndpointIndex_ = index;
            defaults_.setString(kSelectedSourceKey, std::to_string(selectedSource_->uniqueID()));
        }
    }
    didChangeValueForKey("selectedMIDISourceEndpointIndex");
}

void TLMIDIController::applySelectedSourceSetting() {
    willChangeValueForKey("selectedMIDISourceEndpointIndex");
    if (defaults_.objectForKey(kSelectedSourceKey).isNull()) {
        listenToNoSource();
        defaults_.setString(kSelectedSourceKey, kNoneSetting);
    } else if (const std::string setting = defaults_.stringForKey(kSelectedSourceKey);
               setting == kAllSetting) {
        listenToAllSources();
    } else if (setting == kNoneSetting) {
        listenToNoSource();
    } else {
        int64_t uniqueID = 0;
        const auto [end, error] = std::from_chars(setting.data(), setting.data() + setting.size(), uniqueID);
        const bool parsed = error == std::errc() && end == setting.data() + setting.size() &&
                            uniqueID >= std::numeric_limits<FFMIDIUniqueID>::min() &&
                            uniqueID <= std::numeric_limits<FFMIDIUniqueID>::max();
        const auto sources =
            client_ ? client_->sources() : std::vector<std::shared_ptr<FFMIDISourceEndpoint>>();
        size_t position = sources.size();
        for (size_t i = 0; parsed && i < sources.size(); ++i) {
            if (sources[i]->uniqueID() == uniqueID) position = i;
        }
        if (position < sources.size()) {
            selectedSource_ = sources[position];
            if (portInputStream_) portInputStream_->setInputSources({selectedSource_});
            inputEndpointIndex_ = static_cast<uint32_t>(position + 2);
        } else {
            listenToNoSource();
            defaults_.setString(kSelectedSourceKey, kNoneSetting);
            alertPresenter().runAlert({"MIDI device disappeared",
                                       "The previously selected MIDI device is not available. Tollvane will "
                                       "only listen on its built-in virtual input.",
                                       {"OK"}});
        }
    }
    didChangeValueForKey("selectedMIDISourceEndpointIndex");
}

void TLMIDIController::MIDISetupChanged() {
    // A source that came or went before the selected one moves it in the list.
    if (selectedSource_ && client_) {
        const auto sources = client_->sources();
        for (size_t i = 0; i < sources.size(); ++i) {
            if (sources[i] == selectedSource_ && inputEndpointIndex_ != i + 2) {
                willChangeValueForKey("selectedMIDISourceEndpointIndex");
                inputEndpointIndex_ = static_cast<uint32_t>(i + 2);
                didChangeValueForKey("selectedMIDISourceEndpointIndex");
            }
        }
    }
    willChangeValueForKey("midiEndpoints");
    didChangeValueForKey("midiEndpoints");
    willChangeValueForKey("midiEndpointNames");
    didChangeValueForKey("midiEndpointNames");
}

void TLMIDIController::movieChanged() {
    mtcBeingReceived_ = false;
    setMTCOnline(mtcOnline_);
}

}  // namespace tollvane
