#pragma once

// How the command line prints a parsed MIDI message: its type, channel and
// bytes, and what MTC quarter frames, MTC full frames, MIDI Machine Control
// and MIDI Show Control messages say. Shared by midi-dump and midi-monitor.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tollvane {

class FFMIDIMessage;

class MidiMessageDescription {
public:
    std::string type;
    std::optional<int> channel;
    std::vector<uint8_t> bytes;  // the whole message as received
    std::string meaning;

    static MidiMessageDescription describe(const FFMIDIMessage& message);
    // "F1 23": upper-case hex, one blank between bytes.
    static std::string hex(const std::vector<uint8_t>& bytes);
    // "note-on", "MTC quarter frame", ... for a message type code.
    static const char* typeName(uint32_t type);
};

}  // namespace tollvane
