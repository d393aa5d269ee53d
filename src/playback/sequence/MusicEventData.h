#pragma once

// One event of a music track as the sequence store keeps it: a type, a time
// stamp in beats and the payload bytes in the layout of the event type
// (native byte order, as the records are built and read in memory).
//
//   type 1  extended note on   32 bytes: instrument id (u32), group id (u32),
//                                        duration (f32), note parameters (20 bytes)
//   type 2  extended control   12 bytes: group id (u32), controller (u32), value (f32)
//   type 3  extended tempo      8 bytes: bpm (f64)
//   type 4  user                length (u32) + that many bytes
//   type 5  meta                meta type (u8), 3 unused bytes, data length (u32), data
//   type 6  MIDI note message   8 bytes: channel, note, velocity, release velocity (u8),
//                                        duration in beats (f32)
//   type 7  MIDI channel msg    4 bytes: status, data 1, data 2, reserved (u8)
//   type 8  MIDI raw data       length (u32) + that many bytes
//   type 9  parameter          16 bytes: parameter id, scope, element (u32), value (f32)
//   type 10 AU preset          16 bytes: preset number (i32), 4 bytes padding, name reference (u64)
//
// A plain value; safe to copy between threads.

#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace tollvane {

enum MusicEventType : uint32_t {
    kMusicEventType_NULL = 0,
    kMusicEventType_ExtendedNote = 1,
    kMusicEventType_ExtendedControl = 2,
    kMusicEventType_ExtendedTempo = 3,
    kMusicEventType_User = 4,
    kMusicEventType_Meta = 5,
    kMusicEventType_MIDINoteMessage = 6,
    kMusicEventType_MIDIChannelMessage = 7,
    kMusicEventType_MIDIRawData = 8,
    kMusicEventType_Parameter = 9,
    kMusicEventType_AUPreset = 10,
};

struct MIDINoteMessage {
    uint8_t channel = 0;
    uint8_t note = 0;
    uint8_t velocity = 0;
    uint8_t releaseVelocity = 0;
    float duration = 0.0f;
};
static_assert(sizeof(MIDINoteMessage) == 8);

struct MIDIChannelMessage {
    uint8_t status = 0;
    uint8_t data1 = 0;
    uint8_t data2 = 0;
    uint8_t reserved = 0;
};
static_assert(sizeof(MIDIChannelMessage) == 4);

struct ExtendedControlEvent {
    uint32_t groupID = 0;
    uint32_t controlID = 0;
    float value = 0.0f;
};
static_assert(sizeof(ExtendedControlEvent) == 12);

struct ExtendedNoteOnEvent {
    uint32_t instrumentID = 0;
    uint32_t groupID = 0;
    float duration = 0.0f;
    uint8_t noteParameters[20] = {};
};
static_assert(sizeof(ExtendedNoteOnEvent) == 32);

struct ParameterEvent {
    uint32_t parameterID = 0;
    uint32_t scope = 0;
    uint32_t element = 0;
    float value = 0.0f;
};
static_assert(sizeof(ParameterEvent) == 16);

struct AUPresetEvent {
    int32_t presetNumber = 0;
    uint64_t presetName = 0;  // an opaque reference, carried and never followed
};
static_assert(sizeof(AUPresetEvent) == 16);

struct MusicEventData {
    uint32_t type = kMusicEventType_NULL;
    double timeStamp = 0.0;
    std::vector<uint8_t> payload;

    // Builders for the variable-length payloads.
    static MusicEventData tempo(double beats, double bpm);
    static MusicEventData meta(double beats, uint8_t metaType, const uint8_t* data, uint32_t length);
    static MusicEventData meta(double beats, uint8_t metaType, std::string_view text) {
        return meta(beats, metaType, reinterpret_cast<const uint8_t*>(text.data()),
                    static_cast<uint32_t>(text.size()));
    }
    static MusicEventData user(double beats, const uint8_t* data, uint32_t length);
    static MusicEventData rawData(double beats, const uint8_t* data, uint32_t length);
    template <class Record>
    static MusicEventData fixed(double beats, uint32_t type, const Record& record) {
        MusicEventData event;
        event.type = type;
        event.timeStamp = beats;
        event.payload.resize(sizeof(Record));
        std::memcpy(event.payload.data(), &record, sizeof(Record));
        return event;
    }

    // Readers; each answers false when the payload is not of that shape.
    bool readTempo(double& bpm) const;
    // For meta events: the meta type and a view of the data bytes.
    bool readMeta(uint8_t& metaType, const uint8_t*& data, uint32_t& length) const;
    // For user and raw-data events: a view of the bytes after the length word.
    bool readLengthPrefixed(const uint8_t*& data, uint32_t& length) const;
    template <class Record>
    bool readFixed(Record& record) const {
        if (payload.size() < sizeof(Record)) return false;
        std::memcpy(&record, payload.data(), sizeof(Record));
        return true;
    }
};

}  // namespace tollvane
