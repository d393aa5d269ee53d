#pragma once

// A run of bytes that fit no message. Its status byte is the run's first
// byte and its other data the rest.

#include "midi/FFMIDIMessage.h"

namespace tollvane {

class FFMIDIInvalidMessage final : public FFMIDIMessage {
public:
    // `data` must not be empty.
    explicit FFMIDIInvalidMessage(std::vector<uint8_t> data, uint64_t timeStamp = 0)
        : FFMIDIMessage(data.empty() ? 0 : data.front(), timeStamp), data_(std::move(data)) {}

    uint32_t messageType() const override { return FFMIDIMessageTypeInvalid; }
    size_t otherDataLength() const override { return data_.empty() ? 0 : data_.size() - 1; }
    const uint8_t* otherDataBuffer() const override { return data_.empty() ? nullptr : data_.data() + 1; }
    std::shared_ptr<FFMIDIMessage> copy() const override {
        return std::make_shared<FFMIDIInvalidMessage>(*this);
    }

    const std::vector<uint8_t>& data() const { return data_; }

private:
    std::vector<uint8_t> data_;
};

}  // namespace tollvane
