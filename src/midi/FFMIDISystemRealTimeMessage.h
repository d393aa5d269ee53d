#pragma once

// A system real-time message (F8 to FF): a status byte alone.

#include "midi/FFMIDIMessage.h"

namespace tollvane {

class FFMIDISystemRealTimeMessage final : public FFMIDIMessage {
public:
    explicit FFMIDISystemRealTimeMessage(uint8_t statusByte, uint64_t timeStamp = 0)
        : FFMIDIMessage(statusByte, timeStamp) {}

    uint32_t messageType() const override;
    size_t otherDataLength() const override { return 0; }
    const uint8_t* otherDataBuffer() const override { return nullptr; }
    std::shared_ptr<FFMIDIMessage> copy() const override {
        return std::make_shared<FFMIDISystemRealTimeMessage>(*this);
    }
};

}  // namespace tollvane
