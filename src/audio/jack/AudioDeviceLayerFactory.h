#pragma once

// Picks the device layer for this machine at start-up: the JACK server when
// one runs, otherwise the null layer (no sound, said once). An ALSA layer for
// machines without a JACK server is still to come.
//
// Threads: main thread.

#include <memory>
#include <string>

#include "audio/MTCoreAudioDevice.h"

namespace tollvane {

class AudioDeviceLayerFactory {
public:
    enum class Backend { kJack, kNull };

    // `jackServerName` empty: the default server (or JACK_DEFAULT_SERVER).
    static std::unique_ptr<MTCoreAudioDeviceLayer> make(const std::string& jackServerName = "",
                                                        Backend* chosen = nullptr);
};

}  // namespace tollvane
