#include "midi/FFMIDISystemRealTimeMessage.h"

namespace tollvane {

uint32_t FFMIDISystemRealTimeMessage::messageType() const {
    switch (statusByte_) {
        case 0xF8:
            return FFMIDIMessageTypeClock;
        case 0xFA:
            return FFMIDIMessageTypeStart;
        case 0xFB:
            return FFMIDIMessageTypeContinue;
        case 0xFC:
            return FFMIDIMessageTypeStop;
        case 0xFE:
            return FFMIDIMessageTypeActiveSense;
        case 0xFF:
            return FFMIDIMessageTypeSystemReset;
        default:
            return FFMIDIMessageTypeNone;
    }
}

}  // namespace tollvane
