#pragma once

// A parsed MIDI message: its status byte, the host time of the packet it came
// in and the endpoint it came from. Only the subclasses are made; each answers
// a single-bit type code (below) so that sets of types can be tested with a
// mask.
//
// Messages are made and read on the main thread; a message is not shared
// between threads while it changes.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace tollvane {

class FFMIDIEndpoint;

enum FFMIDIMessageType : uint32_t {
    FFMIDIMessageTypeNoteOn = 0x1,
    FFMIDIMessageTypeNoteOff = 0x2,
    FFMIDIMessageTypeAftertouch = 0x4,
    FFMIDIMessageTypeControlChange = 0x8,
    FFMIDIMessageTypeProgramChange = 0x10,
    FFMIDIMessageTypeChannelPressure = 0x20,
    FFMIDIMessageTypePitchWheel = 0x40,
    FFMIDIMessageTypeMTCQuarterFrame = 0x80,
    FFMIDIMessageTypeSongPositionPointer = 0x100,
    FFMIDIMessageTypeSongSelect = 0x200,
    FFMIDIMessageTypeTuneRequest = 0x400,
    FFMIDIMessageTypeClock = 0x800,
    FFMIDIMessageTypeStart = 0x1000,
    FFMIDIMessageTypeStop = 0x2000,
    FFMIDIMessageTypeContinue = 0x4000,
    FFMIDIMessageTypeActiveSense = 0x8000,
    FFMIDIMessageTypeSystemReset = 0x10000,
    FFMIDIMessageTypeSystemExclusive = 0x20000,
    FFMIDIMessageTypeInvalid = 0x40000,
    FFMIDIMessageTypeNone = 0,
};

class FFMIDIMessage {
public:
    virtual ~FFMIDIMessage() = default;

    virtual uint32_t messageType() const = 0;
    bool matchesMessageTypeMask(uint32_t mask) const { return (messageType() & mask) != 0; }

    // The bytes after the status byte.
    virtual size_t otherDataLength() const = 0;
    virtual const uint8_t* otherDataBuffer() const = 0;
    std::vector<uint8_t> otherData() const;

    uint64_t timeStamp() const { return timeStamp_; }
    void setTimeStamp(uint64_t timeStamp) { timeStamp_ = timeStamp; }
    // Host time now, from the shared host clock.
    void setTimeStampToNow();

    uint8_t statusByte() const { return statusByte_; }

    const std::shared_ptr<FFMIDIEndpoint>& originatingEndpoint() const { return originatingEndpoint_; }
    void setOriginatingEndpoint(std::shared_ptr<FFMIDIEndpoint> endpoint) {
        originatingEndpoint_ = std::move(endpoint);
    }

    virtual std::shared_ptr<FFMIDIMessage> copy() const = 0;

protected:
    explicit FFMIDIMessage(uint8_t statusByte, uint64_t timeStamp = 0)
        : timeStamp_(timeStamp), statusByte_(statusByte) {}
    FFMIDIMessage(const FFMIDIMessage&) = default;
    FFMIDIMessage& operator=(const FFMIDIMessage&) = default;

    uint64_t timeStamp_;
    uint8_t statusByte_;
    std::shared_ptr<FFMIDIEndpoint> originatingEndpoint_;
};

using FFMIDIMessageList = std::vector<std::shared_ptr<FFMIDIMessage>>;

}  // namespace tollvane
