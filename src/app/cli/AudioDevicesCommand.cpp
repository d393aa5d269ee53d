#include "app/cli/AudioDevicesCommand.h"

#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>

#include "app/cli/CommandLineError.h"
#include "app/cli/CommandLineOptions.h"
#include "audio/TLAudioController.h"
#include "audio/jack/AudioDeviceLayerFactory.h"
#include "audio/jack/JackAudioDevice.h"
#include "audio/null/NullAudioDeviceLayer.h"

namespace tollvane {

namespace {

struct Listing {
    uint32_t id = 0;
    std::string name;
    uint32_t channels = 0;
    bool isDefault = false;
    // JACK only.
    bool haveServer = false;
    double sampleRate = 0.0;
    uint32_t bufferFrames = 0;
    JackAudioDevice::LatencyRange latency;
};

std::string format(const char* pattern, double value) {
    char text[64];
    std::snprintf(text, sizeof text, pattern, value);
    return text;
}

double milliseconds(uint32_t frames, double rate) {
    return rate > 0.0 ? frames * 1000.0 / rate : 0.0;
}

// The controller's allowance for one buffer of the server's size: the server
// hands over one channel per buffer, so its float count is its frame count.
double allowanceMilliseconds(uint32_t bufferFrames) {
    return TLAudioController::outputAllowance(bufferFrames) * 1000.0;
}

}  // namespace

const char* AudioDevicesCommand::usage() {
    return "usage: tollvane-cli audio-devices [--json]\n"
           "Lists the audio outputs: identifier, output channels, name, the default output, and for\n"
           "a JACK server its output latency beside the click's own output allowance. The JACK\n"
           "server is the default one or the one named by JACK_DEFAULT_SERVER; without a\n"
           "server there is no output.\n";
}

int AudioDevicesCommand::run(const std::vector<std::string>& arguments, std::ostream& out) {
    bool json = false;
    CommandLineOptions reader("audio-devices");
    reader.flag("--json", json);
    if (!reader.parse(arguments, 0, 0)) {
        out << usage();
        return 0;
    }

    AudioDeviceLayerFactory::Backend backend = AudioDeviceLayerFactory::Backend::kNull;
    std::unique_ptr<MTCoreAudioDeviceLayer> layer = AudioDeviceLayerFactory::make("", &backend);
    std::vector<Listing> listings;
    if (backend == AudioDeviceLayerFactory::Backend::kJack) {
        const std::shared_ptr<MTCoreAudioDevice> defaultDevice = layer->defaultOutputDevice();
        for (const auto& device : layer->allDevices()) {
            Listing listing;
            listing.id = device->deviceID();
            listing.name = device->deviceName().value_or("");
            listing.channels = device->channelsForDirection(MTCoreAudioDirection::kOutput);
            listing.isDefault = device == defaultDevice;
            if (auto* jack = dynamic_cast<JackAudioDevice*>(device.get())) {
                listing.haveServer = true;
                listing.sampleRate = jack->sampleRate();
                listing.bufferFrames = jack->bufferFrames();
                listing.latency = jack->outputLatency(0);
            }
            listings.push_back(listing);
        }
    }

    if (json) {
        nlohmann::ordered_json root;
        root["backend"] = backend == AudioDeviceLayerFactory::Backend::kJack ? "jack" : "none";
        root["devices"] = nlohmann::ordered_json::array();
        for (const Listing& listing : listings) {
            nlohmann::ordered_json device;
            device["id"] = listing.id;
            device["name"] = listing.name;
            device["outputChannels"] = listing.channels;
            device["default"] = listing.isDefault;
            if (listing.haveServer) {
                device["sampleRate"] = listing.sampleRate;
                device["bufferFrames"] = listing.bufferFrames;
                device["outputLatencyFrames"] = {{"min", listing.latency.min}, {"max", listing.latency.max}};
                device["outputLatencyMs"] = milliseconds(listing.latency.max, listing.sampleRate);
                device["allowanceMs"] = allowanceMilliseconds(listing.bufferFrames);
            }
            root["devices"].push_back(device);
        }
        out << root.dump(2) << "\n";
    } else if (listings.empty()) {
        out << NullAudioDeviceLayer::kNoDeviceMessage << "\n";
    } else {
        for (const Listing& listing : listings) {
            out << listing.id << "  " << listing.name << ", " << listing.channels
                << (listing.channels == 1 ? " output" : " outputs") << (listing.isDefault ? " (default)" : "")
                << "\n";
            if (!listing.haveServer) continue;
            out << "   " << format("%.0f", listing.sampleRate) << " Hz, " << listing.bufferFrames
                << " frames per buffer\n";
            out << "   output latency " << listing.latency.max << " frames ("
                << format("%.2f", milliseconds(listing.latency.max, listing.sampleRate))
                << " ms); click allowance " << format("%.2f", allowanceMilliseconds(listing.bufferFrames))
                << " ms\n";
        }
    }
    return 0;
}

}  // namespace tollvane
