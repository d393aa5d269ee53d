#include "midi/FFMIDIBackendChooser.h"

#include "midi/jack/FFMIDIJackBackend.h"
#include "midi/loopback/FFMIDILoopbackBackend.h"
#include "platform/Log.h"

namespace tollvane {

std::vector<std::string> FFMIDIBackendChooser::backendNames() {
    return {"jack", "loopback"};
}

std::unique_ptr<FFMIDIBackend> FFMIDIBackendChooser::chooseBackend(const std::string& forcedName,
                                                                   const std::string& jackServerName) {
    if (forcedName == "loopback") return std::make_unique<FFMIDILoopbackBackend>();
    if (forcedName == "jack") {
        if (FFMIDIJackBackend::serverRunning(jackServerName))
            return std::make_unique<FFMIDIJackBackend>(jackServerName);
        TLLog("No JACK server is running; MIDI input over JACK is not available");
        return nullptr;
    }
    if (forcedName == "alsa") {
        TLLog("MIDI over the ALSA sequencer is not available yet");
        return nullptr;
    }
    if (!forcedName.empty()) {
        TLLog("Unknown MIDI system \"%s\" (use jack or loopback)", forcedName.c_str());
        return nullptr;
    }
    if (FFMIDIJackBackend::serverRunning(jackServerName))
        return std::make_unique<FFMIDIJackBackend>(jackServerName);
    TLLog("No JACK server is running; MIDI input is off (loopback only)");
    return std::make_unique<FFMIDILoopbackBackend>();
}

}  // namespace tollvane
