#include "midi/FFMIDIVoiceMessage.h"

namespace tollvane {

namespace {

bool isVoiceStatus(uint8_t status) {
    return status >= 0x80 && status < 0xF0;
}

}  // namespace

FFMIDIVoiceMessage::FFMIDIVoiceMessage(uint8_t statusByte, uint8_t dataByte1, uint8_t dataByte2,
                                       uint64_t timeStamp)
    : FFMIDIMessage(isVoiceStatus(statusByte) ? statusByte : static_cast<uint8_t>(0x80 | (statusByte & 0x0F)),
                    timeStamp),
      dataBytes_{static_cast<uint8_t>(dataByte1 & 0x7F), static_cast<uint8_t>(dataByte2 & 0x7F)} {}

uint32_t FFMIDIVoiceMessage::messageType() const {
    switch (status()) {
        case 0x90:
            return FFMIDIMessageTypeNoteOn;
        case 0x80:
            return FFMIDIMessageTypeNoteOff;
        case 0xA0:
            return FFMIDIMessageTypeAftertouch;
        case 0xB0:
            return FFMIDIMessageTypeControlChange;
        case 0xC0:
            return FFMIDIMessageTypeProgramChange;
        case 0xD0:
            return FFMIDIMessageTypeChannelPressure;
        default:
            return FFMIDIMessageTypePitchWheel;
    }
}

size_t FFMIDIVoiceMessage::otherDataLength() const {
    const uint8_t s = status();
    return s == 0xC0 || s == 0xD0 ? 1 : 2;
}

void FFMIDIVoiceMessage::setStatus(uint8_t status) {
    if (!isVoiceStatus(status)) return;
    statusByte_ = static_cast<uint8_t>((status & 0xF0) | (statusByte_ & 0x0F));
}

void FFMIDIVoiceMessage::setChannel(uint8_t channel) {
    if (channel < 1 || channel > 16) return;
    statusByte_ = static_cast<uint8_t>((statusByte_ & 0xF0) | (channel - 1));
}

bool FFMIDIVoiceMessage::transposeBy(int semitones) {
    const uint8_t s = status();
    if (s != 0x80 && s != 0x90 && s != 0xA0) return false;
    const int note = dataBytes_[0] + semitones;
    if (note < 0 || note > 127) return false;
    dataBytes_[0] = static_cast<uint8_t>(note);
    return true;
}

}  // namespace tollvane
