#include "midi/FFMIDISystemExclusiveMessage.h"

#include <cstdio>

namespace tollvane {

FFMIDISystemExclusiveMessage::FFMIDISystemExclusiveMessage(std::vector<uint8_t> data, bool wasReceivedWithEOX,
                                                           uint64_t timeStamp)
    : FFMIDIMessage(0xF0, timeStamp), dataWithEOX_(std::move(data)), wasReceivedWithEOX_(wasReceivedWithEOX) {
    dataWithEOX_.push_back(0xF7);
}

std::vector<uint8_t> FFMIDISystemExclusiveMessage::fullMessageData() const {
    std::vector<uint8_t> full;
    full.reserve(dataWithEOX_.size() + 1);
    full.push_back(0xF0);
    full.insert(full.end(), dataWithEOX_.begin(), dataWithEOX_.end());
    return full;
}

std::vector<uint8_t> FFMIDISystemExclusiveMessage::receivedData() const {
    return wasReceivedWithEOX_ ? dataWithEOX_ : data();
}

std::vector<uint8_t> FFMIDISystemExclusiveMessage::receivedDataWithStartByte() const {
    std::vector<uint8_t> received = receivedData();
    received.insert(received.begin(), 0xF0);
    return received;
}

std::string FFMIDISystemExclusiveMessage::manufacturerName() const {
    if (dataLength() == 0) return "Unknown manufacturer";
    const uint8_t id = dataWithEOX_[0];
    switch (id) {
        case 0x7D:
            return "Non-commercial";
        case 0x7E:
            return "Universal Non-Real Time";
        case 0x7F:
            return "Universal Real Time";
        case 0x40:
            return "Kawai";
        case 0x41:
            return "Roland";
        case 0x42:
            return "Korg";
        case 0x43:
            return "Yamaha";
        case 0x44:
            return "Casio";
        case 0x47:
            return "Akai";
        default:
            break;
    }
    char text[48];
    if (id == 0x00 && dataLength() >= 3) {
        std::snprintf(text, sizeof text, "Manufacturer 00 %02X %02X", dataWithEOX_[1], dataWithEOX_[2]);
    } else {
        std::snprintf(text, sizeof text, "Manufacturer %02X", id);
    }
    return text;
}

}  // namespace tollvane
