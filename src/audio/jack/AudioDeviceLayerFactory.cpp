#include "audio/jack/AudioDeviceLayerFactory.h"

#include "audio/alsa/AlsaAudioDeviceLayer.h"
#include "audio/jack/JackAudioDevice.h"
#include "audio/null/NullAudioDeviceLayer.h"
#include "platform/Log.h"

namespace tollvane {

namespace {

std::unique_ptr<MTCoreAudioDeviceLayer> tryJack(const std::string& jackServerName) {
    if (auto device = JackAudioDevice::open(jackServerName)) {
        return std::make_unique<JackAudioDeviceLayer>(std::move(device));
    }
    return nullptr;
}

}  // namespace

std::vector<std::string> AudioDeviceLayerFactory::backendNames() {
    return {"jack", "alsa", "null"};
}

std::string AudioDeviceLayerFactory::backendName(Backend backend) {
    switch (backend) {
        case Backend::kJack:
            return "jack";
        case Backend::kAlsa:
            return "alsa";
        case Backend::kNull:
            break;
    }
    return "null";
}

std::unique_ptr<MTCoreAudioDeviceLayer> AudioDeviceLayerFactory::make(const std::string& jackServerName,
                                                                      Backend* chosen) {
    return makeNamed("", jackServerName, chosen);
}

std::unique_ptr<MTCoreAudioDeviceLayer> AudioDeviceLayerFactory::makeNamed(const std::string& name,
                                                                           const std::string& jackServerName,
                                                                           Backend* chosen) {
    const auto answer = [chosen](std::unique_ptr<MTCoreAudioDeviceLayer> layer, Backend backend) {
        if (chosen) *chosen = backend;
        return layer;
    };
    if (name.empty() || name == "jack") {
        if (auto layer = tryJack(jackServerName)) return answer(std::move(layer), Backend::kJack);
        if (name == "jack") {
            TLLog("No JACK server is running; audio output over JACK is not available");
            return answer(std::make_unique<NullAudioDeviceLayer>(), Backend::kNull);
        }
    }
    if (name.empty() || name == "alsa") {
        if (auto layer = AlsaAudioDeviceLayer::open()) return answer(std::move(layer), Backend::kAlsa);
        if (name == "alsa") {
            TLLog("No ALSA output device was found; audio output over ALSA is not available");
            return answer(std::make_unique<NullAudioDeviceLayer>(), Backend::kNull);
        }
    }
    if (!name.empty() && name != "null") {
        TLLog("Unknown audio system \"%s\" (use jack, alsa or null)", name.c_str());
    }
    return answer(std::make_unique<NullAudioDeviceLayer>(), Backend::kNull);
}

}  // namespace tollvane
