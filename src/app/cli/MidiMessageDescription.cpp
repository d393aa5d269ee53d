#include "app/cli/MidiMessageDescription.h"

#include <cstdio>
#include <iterator>

#include "midi/FFMIDIInvalidMessage.h"
#include "midi/FFMIDISystemCommonMessage.h"
#include "midi/FFMIDISystemExclusiveMessage.h"
#include "midi/FFMIDIVoiceMessage.h"

namespace tollvane {

namespace {

std::string hex(const std::vector<uint8_t>& bytes) {
    std::string text;
    for (uint8_t byte : bytes) {
        char part[4];
        std::snprintf(part, sizeof part, "%s%02X", text.empty() ? "" : " ", byte);
        text += part;
    }
    return text;
}

const char* typeName(uint32_t type) {
    switch (type) {
        case FFMIDIMessageTypeNoteOn:
            return "note-on";
        case FFMIDIMessageTypeNoteOff:
            return "note-off";
        case FFMIDIMessageTypeAftertouch:
            return "aftertouch";
        case FFMIDIMessageTypeControlChange:
            return "control change";
        case FFMIDIMessageTypeProgramChange:
            return "program change";
        case FFMIDIMessageTypeChannelPressure:
            return "channel pressure";
        case FFMIDIMessageTypePitchWheel:
            return "pitch wheel";
        case FFMIDIMessageTypeMTCQuarterFrame:
            return "MTC quarter frame";
        case FFMIDIMessageTypeSongPositionPointer:
            return "song position";
        case FFMIDIMessageTypeSongSelect:
            return "song select";
        case FFMIDIMessageTypeTuneRequest:
            return "tune request";
        case FFMIDIMessageTypeClock:
            return "clock";
        case FFMIDIMessageTypeStart:
            return "start";
        case FFMIDIMessageTypeStop:
            return "stop";
        case FFMIDIMessageTypeContinue:
            return "continue";
        case FFMIDIMessageTypeActiveSense:
            return "active sensing";
        case FFMIDIMessageTypeSystemReset:
            return "system reset";
        case FFMIDIMessageTypeSystemExclusive:
            return "system exclusive";
        case FFMIDIMessageTypeInvalid:
            return "invalid data";
        default:
            return "unknown";
    }
}

const char* rateName(int code) {
    static const char* names[] = {"24 fps", "25 fps", "29.97 fps drop", "30 fps"};
    return names[code & 3];
}

std::string quarterFrame(uint8_t data) {
    static const char* pieces[] = {"frames low nibble",   "frames high nibble",        "seconds low nibble",
                                   "seconds high nibble", "minutes low nibble",        "minutes high nibble",
                                   "hours low nibble",    "hours high nibble and rate"};
    const int piece = data >> 4;
    const int value = data & 0x0F;
    char text[96];
    if (piece == 7) {
        std::snprintf(text, sizeof text, "piece 7 (%s) = %d, %s", pieces[7], value & 1, rateName(value >> 1));
    } else {
        std::snprintf(text, sizeof text, "piece %d (%s) = %d", piece, pieces[piece], value);
    }
    return text;
}

std::string timecode(const uint8_t* bytes) {
    char text[48];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d:%02d, %s", bytes[0] & 0x1F, bytes[1] & 0x3F,
                  bytes[2] & 0x3F, bytes[3] & 0x1F, rateName(bytes[0] >> 5));
    return text;
}

const char* mmcCommand(uint8_t command) {
    switch (command) {
        case 0x01:
            return "STOP";
        case 0x02:
            return "PLAY";
        case 0x03:
            return "DEFERRED PLAY";
        case 0x04:
            return "FAST FORWARD";
        case 0x05:
            return "REWIND";
        case 0x06:
            return "RECORD STROBE";
        case 0x07:
            return "RECORD EXIT";
        case 0x08:
            return "RECORD PAUSE";
        case 0x09:
            return "PAUSE";
        case 0x0A:
            return "EJECT";
        case 0x0B:
            return "CHASE";
        case 0x0D:
            return "MMC RESET";
        case 0x40:
            return "WRITE";
        case 0x44:
            return "LOCATE";
        case 0x47:
            return "SHUTTLE";
        default:
            return nullptr;
    }
}

const char* mscCommand(uint8_t command) {
    static const char* names[] = {
        nullptr,         "GO",           "STOP",          "RESUME",        "TIMED_GO",       "LOAD",
        "SET",           "FIRE",         "ALL_OFF",       "RESTORE",       "RESET",          "GO_OFF",
        nullptr,         nullptr,        nullptr,         nullptr,         "GO/JAM_CLOCK",   "STANDBY_+",
        "STANDBY_-",     "SEQUENCE_+",   "SEQUENCE_-",    "START_CLOCK",   "STOP_CLOCK",     "ZERO_CLOCK",
        "SET_CLOCK",     "MTC_CHASE_ON", "MTC_CHASE_OFF", "OPEN_CUE_LIST", "CLOSE_CUE_LIST", "OPEN_CUE_PATH",
        "CLOSE_CUE_PATH"};
    return command < std::size(names) ? names[command] : nullptr;
}

// The cue number, list and path fields of an MSC command: ASCII separated by 00.
std::string mscFields(const std::vector<uint8_t>& data, size_t start) {
    static const char* labels[] = {"cue", "list", "path"};
    std::string text;
    std::string field;
    size_t index = 0;
    for (size_t i = start; i <= data.size() && index < 3; ++i) {
        if (i == data.size() || data[i] == 0x00) {
            if (!field.empty()) text += std::string(" ") + labels[index] + " " + field;
            field.clear();
            ++index;
        } else {
            const char c = static_cast<char>(data[i]);
            field += (data[i] >= 0x20 && data[i] < 0x7F) ? c : '.';
        }
    }
    return text;
}

std::string systemExclusive(const FFMIDISystemExclusiveMessage& message) {
    const std::vector<uint8_t> data = message.data();
    std::string text;
    char part[64];
    if (data.size() >= 8 && data[0] == 0x7F && data[2] == 0x01 && data[3] == 0x01) {
        text = "MTC full frame " + timecode(&data[4]);
    } else if (data.size() >= 4 && data[0] == 0x7F && data[2] == 0x06) {
        const char* name = mmcCommand(data[3]);
        std::snprintf(part, sizeof part, "MMC %s", name ? name : "command");
        text = part;
        if (!name) {
            std::snprintf(part, sizeof part, " %02X", data[3]);
            text += part;
        }
        if (data[3] == 0x44 && data.size() >= 11 && data[4] == 0x06 && data[5] == 0x01)
            text += " " + timecode(&data[6]);
    } else if (data.size() >= 5 && data[0] == 0x7F && data[2] == 0x02) {
        const char* name = mscCommand(data[4]);
        std::snprintf(part, sizeof part, "MSC %s", name ? name : "command");
        text = part;
        if (!name) {
            std::snprintf(part, sizeof part, " %02X", data[4]);
            text += part;
        }
        std::snprintf(part, sizeof part, " (format %02X)", data[3]);
        text += part + mscFields(data, 5);
    } else {
        text = message.manufacturerName();
    }
    if (data.size() >= 2 && data[0] >= 0x7E) {
        std::snprintf(part, sizeof part, ", device %d", data[1]);
        text += part;
    }
    if (!message.wasReceivedWithEOX()) text += " (ended without F7)";
    return text;
}

}  // namespace

std::string MidiMessageDescription::hex(const std::vector<uint8_t>& bytes) {
    return tollvane::hex(bytes);
}

const char* MidiMessageDescription::typeName(uint32_t type) {
    return tollvane::typeName(type);
}

MidiMessageDescription MidiMessageDescription::describe(const FFMIDIMessage& message) {
    MidiMessageDescription description;
    description.type = typeName(message.messageType());
    if (const auto* invalid = dynamic_cast<const FFMIDIInvalidMessage*>(&message)) {
        description.bytes = invalid->data();
        return description;
    }
    if (const auto* sysEx = dynamic_cast<const FFMIDISystemExclusiveMessage*>(&message)) {
        description.bytes = sysEx->receivedDataWithStartByte();
        description.meaning = systemExclusive(*sysEx);
        return description;
    }
    description.bytes.push_back(message.statusByte());
    const std::vector<uint8_t> other = message.otherData();
    description.bytes.insert(description.bytes.end(), other.begin(), other.end());
    if (const auto* voice = dynamic_cast<const FFMIDIVoiceMessage*>(&message)) {
        description.channel = voice->channel();
        if (voice->status() == 0x90 && voice->dataByte2() == 0) description.meaning = "velocity 0";
    } else if (message.messageType() == FFMIDIMessageTypeMTCQuarterFrame) {
        description.meaning = quarterFrame(other[0]);
    }
    return description;
}

}  // namespace tollvane
