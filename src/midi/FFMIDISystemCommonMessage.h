#pragma once

// A system-common message: MTC quarter frame (F1), song position (F2), song
// select (F3) or tune request (F6).

#include <array>

#include "midi/FFMIDIMessage.h"

namespace tollvane {

class FFMIDISystemCommonMessage final : public FFMIDIMessage {
public:
    explicit FFMIDISystemCommonMessage(uint8_t type, uint8_t dataByte1 = 0, uint8_t dataByte2 = 0,
                                       uint64_t timeStamp = 0)
        : FFMIDIMessage(type, timeStamp),
          dataBytes_{static_cast<uint8_t>(dataByte1 & 0x7F), static_cast<uint8_t>(dataByte2 & 0x7F)} {}

    uint32_t messageType() const override;
    size_t otherDataLength() const override;
    const uint8_t* otherDataBuffer() const override { return dataBytes_.data(); }
    std::shared_ptr<FFMIDIMessage> copy() const override {
        return std::make_shared<FFMIDISystemCommonMessage>(*this);
    }

    uint8_t type() const { return statusByte_; }
    uint8_t dataByte1() const { return dataBytes_[0]; }
    void setDataByte1(uint8_t value) { dataBytes_[0] = value & 0x7F; }
    uint8_t dataByte2() const { return dataBytes_[1]; }
    void setDataByte2(uint8_t value) { dataBytes_[1] = value & 0x7F; }

private:
    std::array<uint8_t, 2> dataBytes_;
};

}  // namespace tollvane
