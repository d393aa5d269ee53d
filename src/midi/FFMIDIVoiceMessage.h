#pragma once

// A channel voice message (status 80 to EF): a status nibble, a channel and
// one or two data bytes.

#include <array>

#include "midi/FFMIDIMessage.h"

namespace tollvane {

class FFMIDIVoiceMessage final : public FFMIDIMessage {
public:
    // A status byte outside 80 to EF is taken as a note-off on the same channel.
    explicit FFMIDIVoiceMessage(uint8_t statusByte, uint8_t dataByte1 = 0, uint8_t dataByte2 = 0,
                                uint64_t timeStamp = 0);

    uint32_t messageType() const override;
    size_t otherDataLength() const override;
    const uint8_t* otherDataBuffer() const override { return dataBytes_.data(); }
    std::shared_ptr<FFMIDIMessage> copy() const override {
        return std::make_shared<FFMIDIVoiceMessage>(*this);
    }

    // The upper nibble as a status byte (0x90 for a note-on); setStatus()
    // takes the same form and ignores values outside 80 to EF.
    uint8_t status() const { return statusByte_ & 0xF0; }
    void setStatus(uint8_t status);
    // 1 to 16; setChannel() ignores values outside that range.
    uint8_t channel() const { return (statusByte_ & 0x0F) + 1; }
    void setChannel(uint8_t channel);

    uint8_t dataByte1() const { return dataBytes_[0]; }
    void setDataByte1(uint8_t value) { dataBytes_[0] = value & 0x7F; }
    uint8_t dataByte2() const { return dataBytes_[1]; }
    void setDataByte2(uint8_t value) { dataBytes_[1] = value & 0x7F; }

    // Bit (channel - 1) of a 16-bit channel mask.
    bool matchesChannelMask(uint16_t mask) const { return (mask >> (channel() - 1)) & 1; }
    // Moves the note of a note-off, note-on or aftertouch message when the
    // result stays a note (0 to 127); answers whether it did.
    bool transposeBy(int semitones);

private:
    std::array<uint8_t, 2> dataBytes_;
};

}  // namespace tollvane
