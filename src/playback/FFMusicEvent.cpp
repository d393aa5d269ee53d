#include "playback/FFMusicEvent.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include "platform/UTF8.h"

namespace tollvane {

namespace {

std::string format(const char* pattern, double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, pattern, value);
    return buffer;
}

}  // namespace

std::string textFromBytes(const uint8_t* bytes, size_t size) {
    if (size == 0) return {};
    if (UTF8::isValid(bytes, size)) return std::string(reinterpret_cast<const char*>(bytes), size);
    std::string text;
    text.reserve(size * 2);
    for (size_t i = 0; i < size; ++i) {
        const uint8_t byte = bytes[i];
        if (byte < 0x80) {
            text.push_back(static_cast<char>(byte));
        } else {
            text.push_back(static_cast<char>(0xC0 | (byte >> 6)));
            text.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
        }
    }
    return text;
}

std::string descriptionOfArray(const std::vector<std::string>& items) {
    std::string text = "(";
    for (size_t i = 0; i < items.size(); ++i) {
        text += "\n    ";
        text += items[i];
        if (i + 1 < items.size()) text += ",";
    }
    text += "\n)";
    return text;
}

FFMusicEvent::FFMusicEvent(uint32_t type, double timeStamp, const uint8_t* data, uint32_t dataSize)
    : type_(type), timeStamp_(timeStamp) {
    if (data != nullptr && dataSize > 0) data_.assign(data, data + dataSize);
}

FFMusicEvent::FFMusicEvent(const MusicEventData& event)
    : type_(event.type), timeStamp_(event.timeStamp), data_(event.payload) {}

FFMusicEvent::FFMusicEvent(const FFMusicEvent& other)
    : type_(other.type_), timeStamp_(other.timeStamp()), data_(other.data_) {}

FFMusicEvent& FFMusicEvent::operator=(const FFMusicEvent& other) {
    if (this != &other) {
        type_ = other.type_;
        setTimeStamp(other.timeStamp());
        data_ = other.data_;
    }
    return *this;
}

MusicEventData FFMusicEvent::musicEventData() const {
    MusicEventData event;
    event.type = type_;
    event.timeStamp = timeStamp();
    event.payload = data_;
    return event;
}

FFMusicEvent FFMusicEvent::eventWithExtendedNoteOn(const ExtendedNoteOnEvent& note, double timeStamp) {
    return FFMusicEvent(MusicEventData::fixed(timeStamp, kMusicEventType_ExtendedNote, note));
}

FFMusicEvent FFMusicEvent::eventWithExtendedControl(const ExtendedControlEvent& control, double timeStamp) {
    return FFMusicEvent(MusicEventData::fixed(timeStamp, kMusicEventType_ExtendedControl, control));
}

FFMusicEvent FFMusicEvent::eventWithTempo(double bpm, double timeStamp) {
    return FFMusicEvent(MusicEventData::tempo(timeStamp, bpm));
}

FFMusicEvent FFMusicEvent::eventWithUserData(const uint8_t* userData, uint32_t dataSize, double timeStamp) {
    return FFMusicEvent(kMusicEventType_User, timeStamp, userData, dataSize);
}

FFMusicEvent FFMusicEvent::eventWithMetaEvent(const uint8_t* metaEvent, uint32_t dataSize, double timeStamp) {
    return FFMusicEvent(kMusicEventType_Meta, timeStamp, metaEvent, dataSize);
}

FFMusicEvent FFMusicEvent::eventWithMIDINote(uint8_t note, uint8_t channel, uint8_t velocity,
                                             uint8_t releaseVelocity, float duration, double timeStamp) {
    MIDINoteMessage message;
    message.channel = channel;
    message.note = note;
    message.velocity = velocity;
    message.releaseVelocity = releaseVelocity;
    message.duration = duration;
    return eventWithMIDINoteMessage(message, timeStamp);
}

FFMusicEvent FFMusicEvent::eventWithMIDINoteMessage(const MIDINoteMessage& message, double timeStamp) {
    return FFMusicEvent(MusicEventData::fixed(timeStamp, kMusicEventType_MIDINoteMessage, message));
}

FFMusicEvent FFMusicEvent::eventWithMIDIStatus(uint8_t status, uint8_t dataByte1, uint8_t dataByte2,
                                               double timeStamp) {
    MIDIChannelMessage message;
    message.status = status;
    message.data1 = dataByte1;
    message.data2 = dataByte2;
    return eventWithMIDIChannelMessage(message, timeStamp);
}

FFMusicEvent FFMusicEvent::eventWithMIDIChannelMessage(const MIDIChannelMessage& message, double timeStamp) {
    return FFMusicEvent(MusicEventData::fixed(timeStamp, kMusicEventType_MIDIChannelMessage, message));
}

FFMusicEvent FFMusicEvent::eventWithMIDIRawData(const uint8_t* rawData, uint32_t dataSize, double timeStamp) {
    return FFMusicEvent(kMusicEventType_MIDIRawData, timeStamp, rawData, dataSize);
}

FFMusicEvent FFMusicEvent::eventWithParameter(const ParameterEvent& parameter, double timeStamp) {
    return FFMusicEvent(MusicEventData::fixed(timeStamp, kMusicEventType_Parameter, parameter));
}

FFMusicEvent FFMusicEvent::eventWithAUPreset(const AUPresetEvent& preset, double timeStamp) {
    return FFMusicEvent(MusicEventData::fixed(timeStamp, kMusicEventType_AUPreset, preset));
}

void FFMusicEvent::requireType(uint32_t type, const char* reader, bool fullStop) const {
    if (type_ == type) return;
    throw FFMusicEventTypeMismatch(std::string("Attempted to access ") + reader +
                                   " value from an event of a different type (" + description() + ")" +
                                   (fullStop ? "." : ""));
}

template <class Record>
Record FFMusicEvent::record(uint32_t type, const char* reader, bool fullStop) const {
    requireType(type, reader, fullStop);
    Record value{};
    if (!data_.empty()) std::memcpy(&value, data_.data(), std::min(data_.size(), sizeof(Record)));
    return value;
}

ExtendedNoteOnEvent FFMusicEvent::extendedNoteOnEvent() const {
    return record<ExtendedNoteOnEvent>(kMusicEventType_ExtendedNote, "extendedNoteOnEvent");
}

ExtendedControlEvent FFMusicEvent::extendedControlEvent() const {
    return record<ExtendedControlEvent>(kMusicEventType_ExtendedControl, "extendedControlEvent");
}

double FFMusicEvent::extendedTempoEvent() const {
    return record<double>(kMusicEventType_ExtendedTempo, "extendedTempoEvent");
}

std::span<const uint8_t> FFMusicEvent::userEvent() const {
    requireType(kMusicEventType_User, "userEvent", true);
    return data_;
}

std::span<const uint8_t> FFMusicEvent::metaEvent() const {
    requireType(kMusicEventType_Meta, "metaEvent", true);
    return data_;
}

MIDINoteMessage FFMusicEvent::midiNoteEvent() const {
    return record<MIDINoteMessage>(kMusicEventType_MIDINoteMessage, "midiNoteEvent");
}

MIDIChannelMessage FFMusicEvent::midiChannelMessageEvent() const {
    return record<MIDIChannelMessage>(kMusicEventType_MIDIChannelMessage, "midiChannelMessageEvent");
}

std::span<const uint8_t> FFMusicEvent::midiRawData() const {
    requireType(kMusicEventType_MIDIRawData, "midiRawData", false);
    return data_;
}

ParameterEvent FFMusicEvent::parameterEvent() const {
    return record<ParameterEvent>(kMusicEventType_Parameter, "parameterEvent", false);
}

AUPresetEvent FFMusicEvent::auPreset() const {
    return record<AUPresetEvent>(kMusicEventType_AUPreset, "auPreset", false);
}

uint8_t FFMusicEvent::metaEventType() const {
    return data_.empty() ? 0 : data_[0];
}

std::string FFMusicEvent::metaEventDataAsString() const {
    if (data_.size() < 8) return {};
    uint32_t length = 0;
    std::memcpy(&length, data_.data() + 4, sizeof length);
    return textFromBytes(data_.data() + 8, std::min<size_t>(length, data_.size() - 8));
}

std::string FFMusicEvent::dataAsString() const {
    std::string text;
    text.reserve(data_.size() * 3);
    char hex[4];
    for (size_t i = 0; i < data_.size(); ++i) {
        if (i > 0) text.push_back(' ');
        std::snprintf(hex, sizeof hex, "%02x", data_[i]);
        text += hex;
    }
    return text;
}

std::string FFMusicEvent::typeAsString(uint32_t type) {
    switch (type) {
        case kMusicEventType_NULL:
            return "(null)";
        case kMusicEventType_ExtendedNote:
            return "Extended Note On";
        case kMusicEventType_ExtendedControl:
            return "Extended Control";
        case kMusicEventType_ExtendedTempo:
            return "Extended Tempo";
        case kMusicEventType_User:
            return "User";
        case kMusicEventType_Meta:
            return "Meta";
        case kMusicEventType_MIDINoteMessage:
            return "MIDI Note Message";
        case kMusicEventType_MIDIChannelMessage:
            return "MIDI Channel Message";
        case kMusicEventType_MIDIRawData:
            return "MIDI Raw Data";
        case kMusicEventType_Parameter:
            return "Parameter";
        case kMusicEventType_AUPreset:
            return "AU Preset";
        default:
            return "(unrecognized)";
    }
}

std::string FFMusicEvent::typeAsString() const {
    return typeAsString(type_);
}

std::string FFMusicEvent::description() const {
    const std::string at = format("FFMusicEvent at %f", timeStamp());
    if (type_ == kMusicEventType_NULL) return at + " (type = NULL)";
    if (type_ == kMusicEventType_Meta) return at + " (meta, data = '" + metaEventDataAsString() + "')";
    return at + " (type = " + std::to_string(type_) + ", data = " + dataAsString() + ")";
}

}  // namespace tollvane
