#include "midi/FFMIDIBackendChooser.h"

#include "midi/jack/FFMIDIJackBackend.h"
#include "midi/loopback/FFMIDILoopbackBackend.h"
#include "platform/Log.h"

namespace tollvane {

std::vector<std::string> FFMIDIBackendChooser::backendNames() {
    return {"jack", "alsa", "loopback"};
}

std::unique_ptr<FFMIDIBackend> FFMIDIBackendChooser::chooseBackend(const std::string& forcedName,
                                                                   const std::string& jackServerName,
                                                                   const std::string& alsaSequencerDevice) {
    if (forcedName == "loopback") return std::make_unique<FFMIDILoopbackBackend>();
    if (forcedName == "jack") {
        if (FFMIDIJackBackend::serverRunning(jackServerName))
            return std::make_unique<FFMIDIJackBackend>(jackServerName);
        TLLog("No JACK server is running; MIDI input over JACK is not available");
        return nullptr;
    }
    if (forcedName == "alsa") {
        if (FFMIDIAlsaBackend::sequencerAvailable(alsaSequencerDevice))
            return std::make_unique<FFMIDIAlsaBackend>(alsaSequencerDevice);
        TLLog("The ALSA sequencer cannot be opened; MIDI input over ALSA is not available");
        return nullptr;
    }
    if (!forcedName.empty()) {
        TLLog("Unknown MIDI system \"%s\" (use jack, alsa or loopback)", forcedName.c_str());
        return nullptr;
    }
    if (FFMIDIJackBackend::serverRunning(jackServerName))
        return std::make_unique<FFMIDIJackBackend>(jackServerName);
    if (FFMIDIAlsaBackend::sequencerAvailable(alsaSequencerDevice))
        return std::make_unique<FFMIDIAlsaBackend>(alsaSequencerDevice);
    TLLog("Neither a JACK server nor the ALSA sequencer is available; MIDI input is off (loopback only)");
    return std::make_unique<FFMIDILoopbackBackend>();
}

}  // namespace tollvane
