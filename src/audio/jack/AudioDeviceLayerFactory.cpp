#include "audio/jack/AudioDeviceLayerFactory.h"

#include "audio/jack/JackAudioDevice.h"
#include "audio/null/NullAudioDeviceLayer.h"

namespace tollvane {

std::unique_ptr<MTCoreAudioDeviceLayer> AudioDeviceLayerFactory::make(const std::string& jackServerName,
                                                                      Backend* chosen) {
    if (auto device = JackAudioDevice::open(jackServerName)) {
        if (chosen) *chosen = Backend::kJack;
        return std::make_unique<JackAudioDeviceLayer>(std::move(device));
    }
    if (chosen) *chosen = Backend::kNull;
    return std::make_unique<NullAudioDeviceLayer>();
}

}  // namespace tollvane
