#pragma once

// A MIDI source: a device or another program's output that we can listen to.

#include "midi/FFMIDIEndpoint.h"

namespace tollvane {

class FFMIDISourceEndpoint final : public FFMIDIEndpoint {
public:
    FFMIDISourceEndpoint(FFMIDIUniqueID uniqueID, std::string name)
        : FFMIDIEndpoint(uniqueID, std::move(name)) {}
    bool isSource() const override { return true; }
};

}  // namespace tollvane
