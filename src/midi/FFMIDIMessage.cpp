#include "midi/FFMIDIMessage.h"

#include "platform/HostClock.h"

namespace tollvane {

std::vector<uint8_t> FFMIDIMessage::otherData() const {
    const uint8_t* buffer = otherDataBuffer();
    return std::vector<uint8_t>(buffer, buffer + otherDataLength());
}

void FFMIDIMessage::setTimeStampToNow() {
    timeStamp_ = HostClock::shared().now();
}

}  // namespace tollvane
