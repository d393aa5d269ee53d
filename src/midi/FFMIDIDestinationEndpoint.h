#pragma once

// A MIDI destination: here, the program's own virtual input that other
// programs send to.

#include "midi/FFMIDIEndpoint.h"

namespace tollvane {

class FFMIDIDestinationEndpoint final : public FFMIDIEndpoint {
public:
    FFMIDIDestinationEndpoint(FFMIDIUniqueID uniqueID, std::string name)
        : FFMIDIEndpoint(uniqueID, std::move(name)) {}
    bool isSource() const override { return false; }
};

}  // namespace tollvane
