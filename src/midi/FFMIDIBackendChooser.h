#pragma once

// Picks the MIDI system at start-up: JACK when a server runs, else the ALSA
// sequencer when it can be opened, else the loopback backend with a logged
// note (MIDI input is then off). A name given on the command line forces one.
//
// Threads: main thread.

#include <memory>
#include <string>
#include <vector>

#include "midi/FFMIDIBackend.h"
#include "midi/alsa/FFMIDIAlsaBackend.h"

namespace tollvane {

class FFMIDIBackendChooser {
public:
    // The names that chooseBackend() accepts as `forcedName`.
    static std::vector<std::string> backendNames();

    // `forcedName` empty: the first system available. Otherwise that backend,
    // or null (with a logged line) when the name is unknown or that system is
    // not there. `jackServerName` empty means the default server;
    // `alsaSequencerDevice` is where the ALSA sequencer is looked for.
    static std::unique_ptr<FFMIDIBackend> chooseBackend(
        const std::string& forcedName = {}, const std::string& jackServerName = {},
        const std::string& alsaSequencerDevice = FFMIDIAlsaBackend::defaultSequencerDevice);
};

}  // namespace tollvane
