#pragma once

// A system-exclusive message: the payload between F0 and F7 (both excluded)
// and whether it ended with F7. One cut short by another status byte or a
// timeout still reads as a whole message: its full data ends in F7.

#include <string>

#include "midi/FFMIDIMessage.h"

namespace tollvane {

class FFMIDISystemExclusiveMessage final : public FFMIDIMessage {
public:
    explicit FFMIDISystemExclusiveMessage(std::vector<uint8_t> data, bool wasReceivedWithEOX = true,
                                          uint64_t timeStamp = 0);

    uint32_t messageType() const override { return FFMIDIMessageTypeSystemExclusive; }
    // The payload and F7, whether or not F7 was received.
    size_t otherDataLength() const override { return dataWithEOX_.size(); }
    const uint8_t* otherDataBuffer() const override { return dataWithEOX_.data(); }
    std::shared_ptr<FFMIDIMessage> copy() const override {
        return std::make_shared<FFMIDISystemExclusiveMessage>(*this);
    }

    // The payload without F0 and F7.
    std::vector<uint8_t> data() const { return {dataWithEOX_.begin(), dataWithEOX_.end() - 1}; }
    size_t dataLength() const { return dataWithEOX_.size() - 1; }
    bool wasReceivedWithEOX() const { return wasReceivedWithEOX_; }
    void setWasReceivedWithEOX(bool value) { wasReceivedWithEOX_ = value; }

    // F0, the payload, F7.
    std::vector<uint8_t> fullMessageData() const;
    // The payload with F7 when it was received, else without.
    std::vector<uint8_t> receivedData() const;
    // F0 and receivedData().
    std::vector<uint8_t> receivedDataWithStartByte() const;

    // The manufacturer named by the ID at the head of the payload, for
    // display; "Unknown manufacturer" for IDs not in our short table.
    std::string manufacturerName() const;

private:
    // The payload with F7 appended: the F7 is always there so that
    // otherDataBuffer() needs no copy.
    std::vector<uint8_t> dataWithEOX_;
    bool wasReceivedWithEOX_;
};

}  // namespace tollvane
