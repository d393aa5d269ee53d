#pragma once

// Where an input stream hands its parsed batches: the MIDI controller.
// Called on the main thread.

#include "midi/FFMIDIMessage.h"

namespace tollvane {

class FFMIDIMessageDestination {
public:
    virtual ~FFMIDIMessageDestination() = default;
    virtual void takeMIDIMessages(const FFMIDIMessageList& messages) = 0;
};

}  // namespace tollvane
