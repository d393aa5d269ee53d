#pragma once

// One event of a music track as a value: type, time stamp in beats and its
// own copy of the payload (layouts in sequence/MusicEventData.h). Copying an
// event duplicates the payload.
//
// Threads: the time stamp is read and written atomically, so the sync thread
// may read it while the main thread moves the event; everything else belongs
// to one thread at a time. No member locks.

#include <atomic>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "playback/sequence/MusicEventData.h"

namespace tollvane {

// Raised by a typed reader of an event of another type (an internal
// inconsistency of the caller).
class FFMusicEventTypeMismatch : public std::logic_error {
public:
    using std::logic_error::logic_error;
};

class FFMusicEvent {
public:
    // A "(null)" event at beat 0 without payload.
    FFMusicEvent() = default;
    // Copies `dataSize` bytes of `data` (none when `data` is null).
    FFMusicEvent(uint32_t type, double timeStamp, const uint8_t* data, uint32_t dataSize);
    explicit FFMusicEvent(const MusicEventData& event);
    FFMusicEvent(const FFMusicEvent& other);
    FFMusicEvent& operator=(const FFMusicEvent& other);

    // Factories; each copies the payload. The user, meta and raw-data
    // payloads are whole blocks (with their length words), `dataSize` bytes.
    static FFMusicEvent eventWithExtendedNoteOn(const ExtendedNoteOnEvent& note, double timeStamp);
    static FFMusicEvent eventWithExtendedControl(const ExtendedControlEvent& control, double timeStamp);
    static FFMusicEvent eventWithTempo(double bpm, double timeStamp);
    static FFMusicEvent eventWithUserData(const uint8_t* userData, uint32_t dataSize, double timeStamp);
    static FFMusicEvent eventWithMetaEvent(const uint8_t* metaEvent, uint32_t dataSize, double timeStamp);
    static FFMusicEvent eventWithMIDINote(uint8_t note, uint8_t channel, uint8_t velocity,
                                          uint8_t releaseVelocity, float duration, double timeStamp);
    static FFMusicEvent eventWithMIDINoteMessage(const MIDINoteMessage& message, double timeStamp);
    static FFMusicEvent eventWithMIDIStatus(uint8_t status, uint8_t dataByte1, uint8_t dataByte2,
                                            double timeStamp);
    static FFMusicEvent eventWithMIDIChannelMessage(const MIDIChannelMessage& message, double timeStamp);
    static FFMusicEvent eventWithMIDIRawData(const uint8_t* rawData, uint32_t dataSize, double timeStamp);
    static FFMusicEvent eventWithParameter(const ParameterEvent& parameter, double timeStamp);
    static FFMusicEvent eventWithAUPreset(const AUPresetEvent& preset, double timeStamp);

    uint32_t type() const { return type_; }
    double timeStamp() const { return timeStamp_.load(std::memory_order_acquire); }
    void setTimeStamp(double beats) { timeStamp_.store(beats, std::memory_order_release); }
    const std::vector<uint8_t>& data() const { return data_; }
    uint32_t dataSize() const { return static_cast<uint32_t>(data_.size()); }
    // The event in the store's form.
    MusicEventData musicEventData() const;

    // Typed readers: each throws FFMusicEventTypeMismatch when the event is of
    // another type. A payload shorter than its record reads as zeros past its
    // end. The block readers answer the whole payload.
    ExtendedNoteOnEvent extendedNoteOnEvent() const;
    ExtendedControlEvent extendedControlEvent() const;
    double extendedTempoEvent() const;
    std::span<const uint8_t> userEvent() const;
    std::span<const uint8_t> metaEvent() const;
    MIDINoteMessage midiNoteEvent() const;
    MIDIChannelMessage midiChannelMessageEvent() const;
    std::span<const uint8_t> midiRawData() const;
    ParameterEvent parameterEvent() const;
    AUPresetEvent auPreset() const;

    // The first payload byte (0 without payload).
    uint8_t metaEventType() const;
    // The meta data bytes as text: UTF-8 when they are valid UTF-8, otherwise
    // one character per byte (Latin-1).
    std::string metaEventDataAsString() const;
    // The payload bytes as "%02x", joined by a blank.
    std::string dataAsString() const;
    std::string typeAsString() const;
    static std::string typeAsString(uint32_t type);
    std::string description() const;

private:
    void requireType(uint32_t type, const char* reader, bool fullStop) const;
    template <class Record>
    Record record(uint32_t type, const char* reader, bool fullStop = true) const;

    uint32_t type_ = kMusicEventType_NULL;
    std::atomic<double> timeStamp_{0.0};
    std::vector<uint8_t> data_;
};

// Text of a list of descriptions in the platform's array form:
// "(\n    first,\n    second\n)".
std::string descriptionOfArray(const std::vector<std::string>& items);

// Bytes as text: UTF-8 when valid, otherwise one character per byte.
std::string textFromBytes(const uint8_t* bytes, size_t size);

}  // namespace tollvane
