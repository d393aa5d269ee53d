#include "midi/FFMIDISystemCommonMessage.h"

namespace tollvane {

uint32_t FFMIDISystemCommonMessage::messageType() const {
    switch (statusByte_) {
        case 0xF1:
            return FFMIDIMessageTypeMTCQuarterFrame;
        case 0xF2:
            return FFMIDIMessageTypeSongPositionPointer;
        case 0xF3:
            return FFMIDIMessageTypeSongSelect;
        case 0xF6:
            return FFMIDIMessageTypeTuneRequest;
        default:
            return FFMIDIMessageTypeNone;
    }
}

size_t FFMIDISystemCommonMessage::otherDataLength() const {
    switch (statusByte_) {
        case 0xF1:
        case 0xF3:
            return 1;
        case 0xF2:
            return 2;
        default:
            return 0;
    }
}

}  // namespace tollvane
