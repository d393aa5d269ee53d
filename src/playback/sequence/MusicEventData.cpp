#include "playback/sequence/MusicEventData.h"

namespace tollvane {

namespace {

MusicEventData lengthPrefixed(double beats, uint32_t type, const uint8_t* data, uint32_t length) {
    MusicEventData event;
    event.type = type;
    event.timeStamp = beats;
    event.payload.resize(sizeof(uint32_t) + length);
    std::memcpy(event.payload.data(), &length, sizeof length);
    if (length > 0) std::memcpy(event.payload.data() + sizeof length, data, length);
    return event;
}

}  // namespace

MusicEventData MusicEventData::tempo(double beats, double bpm) {
    return fixed(beats, kMusicEventType_ExtendedTempo, bpm);
}

MusicEventData MusicEventData::meta(double beats, uint8_t metaType, const uint8_t* data, uint32_t length) {
    MusicEventData event;
    event.type = kMusicEventType_Meta;
    event.timeStamp = beats;
    event.payload.resize(8 + static_cast<size_t>(length));
    event.payload[0] = metaType;
    std::memcpy(event.payload.data() + 4, &length, sizeof length);
    if (length > 0) std::memcpy(event.payload.data() + 8, data, length);
    return event;
}

MusicEventData MusicEventData::user(double beats, const uint8_t* data, uint32_t length) {
    return lengthPrefixed(beats, kMusicEventType_User, data, length);
}

MusicEventData MusicEventData::rawData(double beats, const uint8_t* data, uint32_t length) {
    return lengthPrefixed(beats, kMusicEventType_MIDIRawData, data, length);
}

bool MusicEventData::readTempo(double& bpm) const {
    return type == kMusicEventType_ExtendedTempo && readFixed(bpm);
}

bool MusicEventData::readMeta(uint8_t& metaType, const uint8_t*& data, uint32_t& length) const {
    if (type != kMusicEventType_Meta || payload.size() < 8) return false;
    uint32_t stored = 0;
    std::memcpy(&stored, payload.data() + 4, sizeof stored);
    if (stored > payload.size() - 8) return false;
    metaType = payload[0];
    data = payload.data() + 8;
    length = stored;
    return true;
}

bool MusicEventData::readLengthPrefixed(const uint8_t*& data, uint32_t& length) const {
    if (payload.size() < sizeof(uint32_t)) return false;
    uint32_t stored = 0;
    std::memcpy(&stored, payload.data(), sizeof stored);
    if (stored > payload.size() - sizeof(uint32_t)) return false;
    data = payload.data() + sizeof(uint32_t);
    length = stored;
    return true;
}

}  // namespace tollvane
