#include "playback/sequence/MusicTrack.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>

#include "playback/sequence/MusicSequence.h"

namespace tollvane {

namespace {

bool hasLengthWord(const std::vector<uint8_t>& payload, size_t headerSize, size_t lengthOffset) {
    if (payload.size() < headerSize) return false;
    uint32_t length = 0;
    std::memcpy(&length, payload.data() + lengthOffset, sizeof length);
    return payload.size() == headerSize + length;
}

bool hasTypeLayout(const MusicEventData& event) {
    const std::vector<uint8_t>& payload = event.payload;
    switch (event.type) {
        case kMusicEventType_ExtendedNote:
            return payload.size() == sizeof(ExtendedNoteOnEvent);
        case kMusicEventType_ExtendedControl:
            return payload.size() == sizeof(ExtendedControlEvent);
        case kMusicEventType_ExtendedTempo: {
            double bpm = 0.0;
            return payload.size() == sizeof(double) && event.readTempo(bpm) && std::isfinite(bpm) &&
                   bpm > 0.0;
        }
        case kMusicEventType_User:
        case kMusicEventType_MIDIRawData:
            return hasLengthWord(payload, 4, 0);
        case kMusicEventType_Meta:
            return hasLengthWord(payload, 8, 4);
        case kMusicEventType_MIDINoteMessage:
            return payload.size() == sizeof(MIDINoteMessage);
        case kMusicEventType_MIDIChannelMessage:
            return payload.size() == sizeof(MIDIChannelMessage);
        case kMusicEventType_Parameter:
            return payload.size() == sizeof(ParameterEvent);
        case kMusicEventType_AUPreset:
            return payload.size() == sizeof(AUPresetEvent);
        default:
            return false;
    }
}

int check(const MusicEventData& event) {
    if (!std::isfinite(event.timeStamp)) return kMusicSequenceError_InvalidArgument;
    if (event.type < kMusicEventType_ExtendedNote || event.type > kMusicEventType_AUPreset) {
        return kMusicSequenceError_InvalidEventType;
    }
    return hasTypeLayout(event) ? kMusicSequenceNoErr : kMusicSequenceError_InvalidArgument;
}

// Where an event ends: notes last for their duration.
double endOf(const MusicEventData& event) {
    float duration = 0.0f;
    if (event.type == kMusicEventType_MIDINoteMessage && event.payload.size() >= sizeof(MIDINoteMessage)) {
        std::memcpy(&duration, event.payload.data() + offsetof(MIDINoteMessage, duration), sizeof duration);
    } else if (event.type == kMusicEventType_ExtendedNote &&
               event.payload.size() >= sizeof(ExtendedNoteOnEvent)) {
        std::memcpy(&duration, event.payload.data() + offsetof(ExtendedNoteOnEvent, duration),
                    sizeof duration);
    }
    const double end = event.timeStamp + static_cast<double>(duration);
    return std::isfinite(end) && duration > 0.0f ? end : event.timeStamp;
}

bool earlier(const MusicEventData& a, const MusicEventData& b) {
    return a.timeStamp < b.timeStamp;
}

uint32_t lengthWordAt(const uint8_t* block) {
    uint32_t length = 0;
    std::memcpy(&length, block, sizeof length);
    return length;
}

}  // namespace

MusicTrack::MusicTrack(MusicSequence& sequence, bool isTempoTrack)
    : sequence_(&sequence), isTempoTrack_(isTempoTrack) {}

int MusicTrack::newExtendedNoteEvent(double beats, const ExtendedNoteOnEvent& note) {
    return addEvent(MusicEventData::fixed(beats, kMusicEventType_ExtendedNote, note));
}

int MusicTrack::newExtendedControlEvent(double beats, const ExtendedControlEvent& control) {
    return addEvent(MusicEventData::fixed(beats, kMusicEventType_ExtendedControl, control));
}

int MusicTrack::newExtendedTempoEvent(double beats, double bpm) {
    return addEvent(MusicEventData::tempo(beats, bpm));
}

int MusicTrack::newUserEvent(double beats, const uint8_t* userData) {
    if (userData == nullptr) return kMusicSequenceError_InvalidArgument;
    return addEvent(MusicEventData::user(beats, userData + sizeof(uint32_t), lengthWordAt(userData)));
}

int MusicTrack::newMetaEvent(double beats, uint8_t metaType, const uint8_t* data, uint32_t length) {
    if (data == nullptr && length > 0) return kMusicSequenceError_InvalidArgument;
    return addEvent(MusicEventData::meta(beats, metaType, data, length));
}

int MusicTrack::newMIDINoteEvent(double beats, const MIDINoteMessage& note) {
    return addEvent(MusicEventData::fixed(beats, kMusicEventType_MIDINoteMessage, note));
}

int MusicTrack::newMIDIChannelEvent(double beats, const MIDIChannelMessage& message) {
    return addEvent(MusicEventData::fixed(beats, kMusicEventType_MIDIChannelMessage, message));
}

int MusicTrack::newMIDIRawDataEvent(double beats, const uint8_t* rawData) {
    if (rawData == nullptr) return kMusicSequenceError_InvalidArgument;
    return addEvent(MusicEventData::rawData(beats, rawData + sizeof(uint32_t), lengthWordAt(rawData)));
}

int MusicTrack::newParameterEvent(double beats, const ParameterEvent& parameter) {
    return addEvent(MusicEventData::fixed(beats, kMusicEventType_Parameter, parameter));
}

int MusicTrack::newAUPresetEvent(double beats, const AUPresetEvent& preset) {
    return addEvent(MusicEventData::fixed(beats, kMusicEventType_AUPreset, preset));
}

int MusicTrack::addEvent(MusicEventData event) {
    if (const int status = check(event); status != kMusicSequenceNoErr) return status;
    std::lock_guard lock(sequence_->mutex_);
    const MusicEventData& added = insertLocked(std::move(event));
    // One more event can only move the end later.
    if (eventsEndValid_) eventsEnd_ = std::max(eventsEnd_, endOf(added));
    if (isTempoTrack_) {
        sequence_->tempoTrackEventAddedLocked(added);
    } else {
        sequence_->trackChangedLocked(*this);
    }
    return kMusicSequenceNoErr;
}

int MusicTrack::addEvents(std::vector<MusicEventData> events) {
    for (const MusicEventData& event : events) {
        if (const int status = check(event); status != kMusicSequenceNoErr) return status;
    }
    if (events.empty()) return kMusicSequenceNoErr;
    std::stable_sort(events.begin(), events.end(), earlier);
    std::lock_guard lock(sequence_->mutex_);
    for (const MusicEventData& event : events) {
        if (event.type == kMusicEventType_User) ++userEventCount_;
    }
    const auto middle = static_cast<std::ptrdiff_t>(events_.size());
    events_.insert(events_.end(), std::make_move_iterator(events.begin()),
                   std::make_move_iterator(events.end()));
    std::inplace_merge(events_.begin(), events_.begin() + middle, events_.end(), earlier);
    changedLocked();
    return kMusicSequenceNoErr;
}

const MusicEventData& MusicTrack::insertLocked(MusicEventData&& event) {
    if (event.type == kMusicEventType_User) ++userEventCount_;
    if (events_.empty() || events_.back().timeStamp <= event.timeStamp) {
        events_.push_back(std::move(event));
        return events_.back();
    }
    auto at = std::upper_bound(events_.begin(), events_.end(), event, earlier);
    return *events_.insert(at, std::move(event));
}

void MusicTrack::changedLocked() {
    eventsEndValid_ = false;
    sequence_->trackChangedLocked(*this);
}

double MusicTrack::length() const {
    std::lock_guard lock(sequence_->mutex_);
    return lengthLocked();
}

int MusicTrack::setLength(double beats) {
    if (!std::isfinite(beats) || beats < 0.0) return kMusicSequenceError_InvalidArgument;
    std::lock_guard lock(sequence_->mutex_);
    if (assignedLength_ == beats) return kMusicSequenceNoErr;
    assignedLength_ = beats;
    sequence_->trackChangedLocked(*this);
    return kMusicSequenceNoErr;
}

double MusicTrack::lengthLocked() const {
    if (!eventsEndValid_) {
        double end = 0.0;
        for (const MusicEventData& event : events_) end = std::max(end, endOf(event));
        eventsEnd_ = end;
        eventsEndValid_ = true;
    }
    return std::max(assignedLength_, eventsEnd_);
}

size_t MusicTrack::eventCount() const {
    std::lock_guard lock(sequence_->mutex_);
    return events_.size();
}

std::vector<MusicEventData> MusicTrack::events() const {
    std::lock_guard lock(sequence_->mutex_);
    return events_;
}

void MusicTrack::forEachEvent(const std::function<void(const MusicEventData&)>& visit) const {
    std::lock_guard lock(sequence_->mutex_);
    for (const MusicEventData& event : events_) visit(event);
}

int MusicTrack::eventAt(size_t index, MusicEventData& out) const {
    std::lock_guard lock(sequence_->mutex_);
    if (index >= events_.size()) return kMusicSequenceError_EndOfTrack;
    out = events_[index];
    return kMusicSequenceNoErr;
}

int MusicTrack::setEventTime(size_t index, double beats, size_t& newIndex) {
    if (!std::isfinite(beats)) return kMusicSequenceError_InvalidArgument;
    std::lock_guard lock(sequence_->mutex_);
    if (index >= events_.size()) return kMusicSequenceError_EndOfTrack;
    MusicEventData event = std::move(events_[index]);
    events_.erase(events_.begin() + static_cast<std::ptrdiff_t>(index));
    event.timeStamp = beats;
    auto at = std::upper_bound(events_.begin(), events_.end(), event, earlier);
    newIndex = static_cast<size_t>(at - events_.begin());
    events_.insert(at, std::move(event));
    changedLocked();
    return kMusicSequenceNoErr;
}

size_t MusicTrack::indexOfFirstEventAtOrAfter(double beats) const {
    std::lock_guard lock(sequence_->mutex_);
    auto at =
        std::lower_bound(events_.begin(), events_.end(), beats,
                         [](const MusicEventData& event, double value) { return event.timeStamp < value; });
    return static_cast<size_t>(at - events_.begin());
}

int MusicTrack::clear(double fromBeats, double toBeats) {
    if (std::isnan(fromBeats) || std::isnan(toBeats)) return kMusicSequenceError_InvalidArgument;
    std::lock_guard lock(sequence_->mutex_);
    auto first =
        std::lower_bound(events_.begin(), events_.end(), fromBeats,
                         [](const MusicEventData& event, double value) { return event.timeStamp < value; });
    auto last =
        std::lower_bound(first, events_.end(), toBeats,
                         [](const MusicEventData& event, double value) { return event.timeStamp < value; });
    if (first == last) return kMusicSequenceNoErr;
    userEventCount_ -= static_cast<size_t>(std::count_if(
        first, last, [](const MusicEventData& event) { return event.type == kMusicEventType_User; }));
    events_.erase(first, last);
    changedLocked();
    return kMusicSequenceNoErr;
}

}  // namespace tollvane
