#pragma once

// Picks the MIDI system at start-up: JACK when a server runs, otherwise the
// loopback backend with a logged note (an ALSA sequencer backend is still to
// come and will sit between the two). A name given on the command line
// forces one.
//
// Threads: main thread.

#include <memory>
#include <string>
#include <vector>

#include "midi/FFMIDIBackend.h"

namespace tollvane {

class FFMIDIBackendChooser {
public:
    // The names that chooseBackend() accepts as `forcedName`.
    static std::vector<std::string> backendNames();

    // `forcedName` empty: the first system available. Otherwise that backend,
    // or null (with a logged line) when the name is unknown or, for "jack",
    // no server runs. `jackServerName` empty means the default server.
    static std::unique_ptr<FFMIDIBackend> chooseBackend(const std::string& forcedName = {},
                                                        const std::string& jackServerName = {});
};

}  // namespace tollvane
