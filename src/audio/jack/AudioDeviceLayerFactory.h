#pragma once

// Picks the device layer for this machine at start-up: the JACK server when
// one runs, else the ALSA outputs when RtAudio finds at least one, else the
// null layer (no sound, said once). A name from the command line's --audio
// switch forces one; a forced system that is not there gives the null layer
// and a logged line, so the program still runs, silent.
//
// Threads: main thread.

#include <memory>
#include <string>
#include <vector>

#include "audio/MTCoreAudioDevice.h"

namespace tollvane {

class AudioDeviceLayerFactory {
public:
    enum class Backend { kJack, kAlsa, kNull };

    // The names makeNamed() accepts: "jack", "alsa", "null".
    static std::vector<std::string> backendNames();
    static std::string backendName(Backend backend);

    // The first system available. `jackServerName` empty: the default server
    // (or JACK_DEFAULT_SERVER).
    static std::unique_ptr<MTCoreAudioDeviceLayer> make(const std::string& jackServerName = "",
                                                        Backend* chosen = nullptr);
    // The named system (empty: as make()); an unknown name or an absent system
    // is logged and gives the null layer.
    static std::unique_ptr<MTCoreAudioDeviceLayer> makeNamed(const std::string& name,
                                                             const std::string& jackServerName = "",
                                                             Backend* chosen = nullptr);
};

}  // namespace tollvane
