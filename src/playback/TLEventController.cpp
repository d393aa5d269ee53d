#include "playback/TLEventController.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <exception>
#include <optional>
#include <string_view>
#include <utility>

#include "platform/AlertPresenter.h"
#include "platform/AtomicFile.h"
#include "platform/Log.h"
#include "platform/RunLoop.h"
#include "platform/UserDefaults.h"
#include "platform/archive/ArchiveError.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedUnarchiver.h"
#include "playback/TLEvent.h"
#include "playback/UserEventRecord.h"
#include "playback/sequence/MusicSequence.h"

namespace tollvane {

// The "TollvaneDefault" preset, embedded at build time (TollvaneDefaultPreset.cpp).
extern const unsigned char kTollvaneDefaultPreset[];
extern const size_t kTollvaneDefaultPresetSize;

namespace {

// A preset is a short list; anything near this size is not one.
constexpr size_t kLargestPresetFile = 16 * 1024 * 1024;

// Rounding left in a skip worked out from two beat-to-seconds conversions.
constexpr double kSkipRounding = 1e-9;

// Keys of an entry whose change redraws its row in the mapping table.
constexpr std::string_view kTableKeys[] = {"eventName", "eventLength", "eventSize",
                                           "noteOn",    "sysexArray",  "eventColor"};

std::atomic<TLEventController*>& registeredController() {
    static std::atomic<TLEventController*> controller{nullptr};
    return controller;
}

// Seconds of a beat position at the sequence's playback rate, as the player
// runs it; answers the store's status (seconds 0 on failure).
int secondsForBeats(const MusicSequence* sequence, double beats, double& seconds) {
    seconds = 0.0;
    if (!sequence) return kMusicSequenceError_InvalidArgument;
    double stored = 0.0;
    const int status = sequence->secondsForBeats(beats, stored);
    if (status != kMusicSequenceNoErr) return status;
    seconds = stored / sequence->playbackRate();
    return kMusicSequenceNoErr;
}

uint32_t typeCodeOf(std::span<const uint8_t> block) {
    uint32_t code = 0;
    if (block.size() >= 8) std::memcpy(&code, block.data() + 4, sizeof code);
    return code;
}

void logMalformed(std::span<const uint8_t> block) {
    TLLog("Warning: Malformed user event of type 0x%x (%zu bytes) received. Ignoring.", typeCodeOf(block),
          block.size());
}

}  // namespace

// --- The shared controller ---------------------------------------------------------

TLEventController& TLEventController::sharedController() {
    static std::mutex mutex;
    const std::lock_guard lock(mutex);
    if (TLEventController* controller = registeredController().load(std::memory_order_acquire)) {
        return *controller;
    }
    // Lives until exit: sequences keep a plain pointer to it, and players
    // may still deliver while static objects are being torn down.
    static TLEventController* own = nullptr;
    if (!own) {
        own = new TLEventController();
    } else {
        registeredController().store(own, std::memory_order_release);
    }
    return *own;
}

TLEventController::TLEventController(const HostClock& clock) : clock_(clock) {
    TLEvent::registerArchiveClass();
    TLEventController* none = nullptr;
    registeredController().compare_exchange_strong(none, this, std::memory_order_acq_rel);
}

TLEventController::~TLEventController() {
    stopObservingAll();
    TLEventController* self = this;
    registeredController().compare_exchange_strong(self, nullptr, std::memory_order_acq_rel);
}

// --- The mapping list --------------------------------------------------------------

void TLEventController::setContent(Events events) {
    willChangeContent();
    stopObservingAll();
    content_ = std::move(events);
    std::erase(content_, nullptr);
    for (const auto& event : content_) observe(event);
    selection_.clear();
    rearrangeObjects();
    didChangeContent();
}

void TLEventController::rearrangeObjects() {
    std::vector<std::pair<std::string, std::shared_ptr<TLEvent>>> keyed;
    keyed.reserve(content_.size());
    for (const auto& event : content_)
        keyed.emplace_back(event->valueForKey("sortInfo").stringValue(), event);
    std::stable_sort(keyed.begin(), keyed.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    arranged_.clear();
    for (auto& [key, event] : keyed) arranged_.push_back(std::move(event));
    didChangeValueForKey("arrangedObjects");
}

std::vector<size_t> TLEventController::selectionIndexes() const {
    std::vector<size_t> indexes;
    for (size_t i = 0; i < arranged_.size(); ++i) {
        if (std::find(selection_.begin(), selection_.end(), arranged_[i]) != selection_.end()) {
            indexes.push_back(i);
        }
    }
    return indexes;
}

void TLEventController::setSelectionIndexes(const std::vector<size_t>& indexes) {
    willChangeValueForKey("selectionIndexes");
    selection_.clear();
    for (const size_t index : indexes) {
        if (index < arranged_.size() &&
            std::find(selection_.begin(), selection_.end(), arranged_[index]) == selection_.end()) {
            selection_.push_back(arranged_[index]);
        }
    }
    didChangeValueForKey("selectionIndexes");
}

TLEventController::Events TLEventController::selectedObjects() const {
    Events selected;
    for (const auto& event : arranged_) {
        if (std::find(selection_.begin(), selection_.end(), event) != selection_.end())
            selected.push_back(event);
    }
    return selected;
}

void TLEventController::insertAtTop(std::shared_ptr<TLEvent> event) {
    willChangeContent();
    content_.insert(content_.begin(), event);
    observe(event);
    // Stays on top until the list is sorted again, so the new entry is where
    // the user looks for it.
    arranged_.insert(arranged_.begin(), event);
    didChangeContent();
    didChangeValueForKey("arrangedObjects");
    setSelectionIndexes({0});
}

void TLEventController::addStreamer() {
    insertAtTop(TLEvent::streamerEvent());
}

void TLEventController::addPunch() {
    insertAtTop(TLEvent::punchEvent());
}

void TLEventController::addCueStart() {
    insertAtTop(TLEvent::cueStartEvent());
}

void TLEventController::addClick() {
    insertAtTop(TLEvent::clickEvent());
}

void TLEventController::addBeep() {
    insertAtTop(TLEvent::beepEvent());
}

void TLEventController::testSelectedEvents() {
    for (const auto& event : selectedObjects()) event->triggerSkippingSeconds(0.0f);
}

TLEventController::Events TLEventController::eventsForNote(unsigned note) const {
    const int64_t wanted = note & 0xFFu;
    Events found;
    for (const auto& event : content_) {
        const Value noteOn = event->valueForKey("noteOn");
        if (noteOn.isNumber() && noteOn.toInt64() == wanted) found.push_back(event);
    }
    return found;
}

TLEventController::Events TLEventController::eventsForSysex(const uint8_t* bytes, size_t length) const {
    Events found;
    if (!bytes && length > 0) return found;
    for (const auto& event : content_) {
        const Value sysex = event->valueForKey("sysexArray");
        if (!sysex.isArray()) continue;
        const std::vector<Value>& items = sysex.arrayValue()->items;
        if (items.size() != length) continue;
        bool same = true;
        for (size_t i = 0; i < length && same; ++i) {
            same = items[i].isNumber() && items[i].toInt64() == bytes[i];
        }
        if (same) found.push_back(event);
    }
    return found;
}

void TLEventController::willChangeContent() {
    willChangeValueForKey("content");
}

void TLEventController::didChangeContent() {
    didChangeValueForKey("content");
}

void TLEventController::observe(const std::shared_ptr<TLEvent>& event) {
    std::weak_ptr<TLEvent> weak = event;
    const auto token = event->addKeyObserver([this](std::string_view key) {
        if (std::find(std::begin(kTableKeys), std::end(kTableKeys), key) != std::end(kTableKeys)) {
            didChangeValueForKey("arrangedObjects");
        }
    });
    observations_.push_back({weak, token});
}

void TLEventController::stopObservingAll() {
    for (const auto& [weak, token] : observations_) {
        if (const auto event = weak.lock()) event->removeKeyObserver(token);
    }
    observations_.clear();
}

// --- Storage ---------------------------------------------------------------------

std::span<const uint8_t> TLEventController::defaultPresetData() {
    return {kTollvaneDefaultPreset, kTollvaneDefaultPresetSize};
}

TLEventController::Events TLEventController::defaultPreset() {
    const std::span<const uint8_t> bytes = defaultPresetData();
    try {
        return eventsFromArchive(std::vector<uint8_t>(bytes.begin(), bytes.end()));
    } catch (const std::exception& error) {
        TLLog("Warning: The default event mapping could not be read (%s). Ignoring.", error.what());
        return {};
    }
}

TLEventController::Events TLEventController::eventsFromArchive(const std::vector<uint8_t>& data) {
    TLEvent::registerArchiveClass();
    const Value root = KeyedUnarchiver::unarchivedObjectWithData(data);
    if (!root.isArray()) throw ArchiveError("The file does not hold an event mapping.");
    Events events;
    events.reserve(root.arrayValue()->items.size());
    for (const Value& item : root.arrayValue()->items) {
        auto event = item.object<TLEvent>();
        if (!event) throw ArchiveError("The event mapping holds something that is not an event.");
        events.push_back(std::move(event));
    }
    return events;
}

std::vector<uint8_t> TLEventController::archiveOfEvents(const Events& events) {
    std::vector<Value> items;
    items.reserve(events.size());
    for (const auto& event : events) items.emplace_back(event);
    return KeyedArchiver::archivedDataWithRootObject(Value::array(std::move(items)));
}

bool TLEventController::loadFromDefaults() {
    std::optional<Events> mapping;
    const Value stored = UserDefaults::standardUserDefaults().objectForKey(kEventMappingKey);
    if (stored.isData()) {
        try {
            mapping = eventsFromArchive(stored.dataValue());
        } catch (const std::exception& error) {
            // A damaged default must not cost the user a working mapping.
            TLLog("Warning: The stored event mapping could not be read (%s). Using the default mapping.",
                  error.what());
        }
    }
    if (!mapping) {
        const std::span<const uint8_t> bytes = defaultPresetData();
        if (!bytes.empty()) {
            try {
                mapping = eventsFromArchive(std::vector<uint8_t>(bytes.begin(), bytes.end()));
            } catch (const std::exception& error) {
                TLLog("Warning: The default event mapping could not be read (%s). Ignoring.", error.what());
            }
        }
    }
    if (!mapping) return false;
    setContent(std::move(*mapping));
    return true;
}

void TLEventController::saveToDefaults() {
    try {
        UserDefaults::standardUserDefaults().setData(kEventMappingKey, archiveOfEvents(content_));
    } catch (const std::exception& error) {
        TLLog("Warning: The event mapping could not be archived (%s). Ignoring.", error.what());
    }
}

void TLEventController::cleanUp() {
    saveToDefaults();
}

bool TLEventController::loadPresetFromPath(const std::string& path) {
    std::string failure;
    std::optional<Events> mapping;
    std::vector<uint8_t> bytes;
    failure = AtomicFile::read(path, kLargestPresetFile, bytes);
    if (failure.empty()) {
        try {
            mapping = eventsFromArchive(bytes);
        } catch (const std::exception& error) {
            failure = error.what();
        }
    }
    if (!mapping) {
        AlertPresenter::shared().runAlert({"Error loading preset",
                                           "Tollvane was unable to load the event mapping preset. " + failure,
                                           {"OK"}});
        return false;
    }
    setContent(std::move(*mapping));
    return true;
}

bool TLEventController::savePresetToPath(const std::string& path) const {
    std::string failure;
    try {
        failure = AtomicFile::write(path, archiveOfEvents(content_));
    } catch (const std::exception& error) {
        failure = error.what();
    }
    if (failure.empty()) return true;
    AlertPresenter::shared().runAlert(
        {"Error saving preset", "Tollvane was unable to save the event mapping preset. " + failure, {"OK"}});
    return false;
}

// --- User events -----------------------------------------------------------------

bool TLEventController::isDuplicate(std::span<const uint8_t> userEvent, uint64_t now) {
    const std::lock_guard lock(userEventMutex_);
    if (hasLastReceivedUserEvent_ && now >= lastUserEventHostTime_ &&
        now - lastUserEventHostTime_ <= kDuplicateWindowNanos &&
        lastReceivedUserEvent_.size() == userEvent.size() &&
        std::equal(userEvent.begin(), userEvent.end(), lastReceivedUserEvent_.begin())) {
        return true;
    }
    lastUserEventHostTime_ = now;
    lastReceivedUserEvent_.assign(userEvent.begin(), userEvent.end());
    hasLastReceivedUserEvent_ = true;
    return false;
}

void TLEventController::takeUserEvent(std::span<const uint8_t> userEvent, MusicSequence* fromSequence,
                                      MusicTrack* /*track*/, double atTime, double startSliceBeat,
                                      double /*endSliceBeat*/) {
    if (isDuplicate(userEvent, clock_.now())) return;

    double skip = 0.0;
    if (atTime < startSliceBeat - 1.0 / 30.0) {
        // Delivered late: the player jumped or is catching up.
        double triggerSeconds = 0.0;
        double startSeconds = 0.0;
        if (const int status = secondsForBeats(fromSequence, atTime, triggerSeconds); status != 0) {
            TLLog("Couldn't get trigger time in seconds for chased event (0x%x).",
                  static_cast<unsigned>(status));
        }
        if (const int status = secondsForBeats(fromSequence, startSliceBeat, startSeconds); status != 0) {
            TLLog("Couldn't get start time in seconds for chased event (0x%x).",
                  static_cast<unsigned>(status));
        }
        skip = startSeconds - triggerSeconds;
    }

    std::shared_ptr<TLEvent> event = eventForUserEvent(userEvent, skip);
    if (!event) return;
    RunLoop* loop = RunLoop::mainIfInstalled();
    if (!loop) {
        TLLog("Warning: No main run loop to trigger a user event of type 0x%x. Ignoring.",
              event->eventType());
        return;
    }
    const auto seconds = static_cast<float>(skip);
    loop->performOnMainThread([event = std::move(event), seconds] { event->triggerSkippingSeconds(seconds); },
                              false);
}

std::shared_ptr<TLEvent> TLEventController::eventForUserEvent(std::span<const uint8_t> userEvent,
                                                              double skipSeconds) {
    const std::optional<uint32_t> type = UserEventRecord::typeOf(userEvent);
    if (!type) {
        logMalformed(userEvent);
        return nullptr;
    }
    switch (*type) {
        case UserEventRecord::kPunch: {
            const auto punch = UserEventRecord::readPunch(userEvent);
            if (!punch) break;
            auto event = TLEvent::punchEvent();
            event->setColorWithRed(punch->red, punch->green, punch->blue);
            event->setValueForKey("eventLength", Value(punch->holes));
            event->setValueForKey("eventSize", Value(1));
            return event;
        }
        case UserEventRecord::kCueChange: {
            const auto change = UserEventRecord::readCueChange(userEvent);
            if (!change) break;
            auto event = TLEvent::cueChangeEvent();
            event->setValueForKey("cueNumber", Value(change->cueNumber));
            event->setValueForKey("document", Value(change->documentHandle));
            return event;
        }
        case UserEventRecord::kBeeps: {
            const auto beeps = UserEventRecord::readBeeps(userEvent);
            if (!beeps) break;
            auto event = TLEvent::beepEvent();
            event->setValueForKey("beepCount", Value(beeps->count));
            event->setValueForKey("beepTime", Value(beeps->seconds));
            event->setValueForKey("beepPunches", Value(beeps->punches));
            return event;
        }
        case UserEventRecord::kClick:
            return TLEvent::clickEvent();
        case UserEventRecord::kCueStart:
            // A late flash would mark the wrong moment. The skip is a
            // difference of two conversions: 0.1 s may come out a hair short.
            if (skipSeconds < 0.1 - kSkipRounding) return TLEvent::cueStartEvent();
            return nullptr;
        case UserEventRecord::kTextChange: {
            const auto text = UserEventRecord::readTextChange(userEvent);
            if (!text) break;
            auto event = TLEvent::textChangeEvent();
            event->setValueForKey("text", Value(*text));
            return event;
        }
        case UserEventRecord::kReelMute:
            return TLEvent::reelMuteEvent();
        case UserEventRecord::kStreamer: {
            const auto streamer = UserEventRecord::readStreamer(userEvent);
            if (!streamer) break;
            // A streamer that would already have ended shows nothing.
            if (skipSeconds > streamer->seconds + kSkipRounding) return nullptr;
            auto event = TLEvent::streamerEvent();
            event->setColorWithRed(streamer->red, streamer->green, streamer->blue);
            event->setValueForKey("eventLength", Value(streamer->seconds * 1.5));
            event->setValueForKey("eventSize", Value(1));
            return event;
        }
        default:
            TLLog("Warning: Unrecognized user event of type 0x%x received. Ignoring.", *type);
            return nullptr;
    }
    logMalformed(userEvent);
    return nullptr;
}

}  // namespace tollvane
