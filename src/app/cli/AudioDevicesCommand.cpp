#include "app/cli/AudioDevicesCommand.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>

#include "app/cli/CommandLineError.h"
#include "app/cli/CommandLineOptions.h"
#include "audio/TLAudioController.h"
#include "audio/alsa/AlsaAudioDevice.h"
#include "audio/jack/AudioDeviceLayerFactory.h"
#include "audio/jack/JackAudioDevice.h"
#include "audio/null/NullAudioDeviceLayer.h"

namespace tollvane {

namespace {

// What an open stream says of its timing.
struct StreamFigures {
    double sampleRate = 0.0;
    uint32_t bufferFrames = 0;
    uint32_t latencyMin = 0;
    uint32_t latencyMax = 0;
};

struct Listing {
    uint32_t id = 0;
    std::string name;
    uint32_t channels = 0;
    bool isDefault = false;
    // The rate a device will play at, when known without opening it.
    double sampleRate = 0.0;
    std::optional<StreamFigures> stream;
};

std::string format(const char* pattern, double value) {
    char text[64];
    std::snprintf(text, sizeof text, pattern, value);
    return text;
}

double milliseconds(uint32_t frames, double rate) {
    return rate > 0.0 ? frames * 1000.0 / rate : 0.0;
}

// The controller's allowance for one buffer of the stream's size: both
// systems hand over one channel per buffer, so its float count is its frame
// count.
double allowanceMilliseconds(uint32_t bufferFrames) {
    return TLAudioController::outputAllowance(bufferFrames) * 1000.0;
}

uint32_t clampedFrames(long frames) {
    return static_cast<uint32_t>(std::clamp<long>(frames, 0, UINT32_MAX));
}

// ALSA says nothing of a stream's buffer or latency until it is open: open
// it for a moment, silent (no callback is installed). A device that another
// program holds cannot be opened and gives none.
std::optional<StreamFigures> probeAlsa(AlsaAudioDevice& device) {
    if (device.isRunning() || !device.deviceStart()) return std::nullopt;
    StreamFigures figures;
    figures.sampleRate = device.sampleRate();
    figures.bufferFrames = device.bufferFrames();
    figures.latencyMin = figures.latencyMax = clampedFrames(device.outputLatencyFrames());
    device.deviceStop();
    return figures;
}

std::vector<Listing> listDevices(MTCoreAudioDeviceLayer& layer) {
    std::vector<Listing> listings;
    const std::shared_ptr<MTCoreAudioDevice> defaultDevice = layer.defaultOutputDevice();
    for (const auto& device : layer.allDevices()) {
        Listing listing;
        listing.id = device->deviceID();
        listing.name = device->deviceName().value_or("");
        listing.channels = device->channelsForDirection(MTCoreAudioDirection::kOutput);
        listing.isDefault = device == defaultDevice;
        if (auto* jack = dynamic_cast<JackAudioDevice*>(device.get())) {
            const JackAudioDevice::LatencyRange latency = jack->outputLatency(0);
            listing.sampleRate = jack->sampleRate();
            listing.stream =
                StreamFigures{jack->sampleRate(), jack->bufferFrames(), latency.min, latency.max};
        } else if (auto* alsa = dynamic_cast<AlsaAudioDevice*>(device.get())) {
            listing.sampleRate = alsa->sampleRate();
            listing.stream = probeAlsa(*alsa);
        }
        listings.push_back(listing);
    }
    return listings;
}

nlohmann::ordered_json toJSON(const std::string& backend, const std::vector<Listing>& listings) {
    nlohmann::ordered_json root;
    root["backend"] = backend;
    root["devices"] = nlohmann::ordered_json::array();
    for (const Listing& listing : listings) {
        nlohmann::ordered_json device;
        device["id"] = listing.id;
        device["name"] = listing.name;
        device["outputChannels"] = listing.channels;
        device["default"] = listing.isDefault;
        if (listing.stream) {
            const StreamFigures& stream = *listing.stream;
            device["sampleRate"] = stream.sampleRate;
            device["bufferFrames"] = stream.bufferFrames;
            device["outputLatencyFrames"] = {{"min", stream.latencyMin}, {"max", stream.latencyMax}};
            device["outputLatencyMs"] = milliseconds(stream.latencyMax, stream.sampleRate);
            device["allowanceMs"] = allowanceMilliseconds(stream.bufferFrames);
        } else if (listing.sampleRate > 0.0) {
            device["sampleRate"] = listing.sampleRate;
        }
        root["devices"].push_back(device);
    }
    return root;
}

void printText(const std::vector<Listing>& listings, std::ostream& out) {
    if (listings.empty()) {
        out << NullAudioDeviceLayer::kNoDeviceMessage << "\n";
        return;
    }
    for (const Listing& listing : listings) {
        out << listing.id << "  " << listing.name << ", " << listing.channels
            << (listing.channels == 1 ? " output" : " outputs") << (listing.isDefault ? " (default)" : "")
            << "\n";
        if (listing.stream) {
            const StreamFigures& stream = *listing.stream;
            out << "   " << format("%.0f", stream.sampleRate) << " Hz, " << stream.bufferFrames
                << " frames per buffer\n";
            out << "   output latency " << stream.latencyMax << " frames ("
                << format("%.2f", milliseconds(stream.latencyMax, stream.sampleRate))
                << " ms); click allowance " << format("%.2f", allowanceMilliseconds(stream.bufferFrames))
                << " ms\n";
        } else if (listing.sampleRate > 0.0) {
            out << "   " << format("%.0f", listing.sampleRate)
                << " Hz; could not be opened to measure its buffer and latency\n";
        }
    }
}

}  // namespace

const char* AudioDevicesCommand::usage() {
    return "usage: tollvane-cli audio-devices [--audio jack|alsa|null] [--json]\n"
           "Lists the audio outputs: identifier, output channels, name and the default output. For\n"
           "a JACK server, and for each ALSA output that can be opened for a moment, it adds the\n"
           "rate, the buffer size and the output latency beside the click's own output allowance.\n"
           "  --audio SYSTEM  the audio system to list: jack, alsa or null; by default the one the\n"
           "                  program would play on (a JACK server, else ALSA, else none)\n"
           "  --json          print the listing as JSON, with the system under \"backend\"\n"
           "The JACK server is the default one or the one named by JACK_DEFAULT_SERVER.\n";
}

int AudioDevicesCommand::run(const std::vector<std::string>& arguments, std::ostream& out) {
    bool json = false;
    std::string system;
    CommandLineOptions reader("audio-devices");
    reader.flag("--json", json).value("--audio", [&system](const std::string& name) {
        const std::vector<std::string> names = AudioDeviceLayerFactory::backendNames();
        if (std::find(names.begin(), names.end(), name) == names.end()) {
            throw CommandLineError("--audio must be jack, alsa or null, not '" + name + "'");
        }
        system = name;
    });
    if (!reader.parse(arguments, 0, 0)) {
        out << usage();
        return 0;
    }

    AudioDeviceLayerFactory::Backend backend = AudioDeviceLayerFactory::Backend::kNull;
    std::unique_ptr<MTCoreAudioDeviceLayer> layer = AudioDeviceLayerFactory::makeNamed(system, "", &backend);
    // The null layer would log that there is no device; the listing says so itself.
    std::vector<Listing> listings;
    if (backend != AudioDeviceLayerFactory::Backend::kNull) listings = listDevices(*layer);

    if (json) {
        out << toJSON(AudioDeviceLayerFactory::backendName(backend), listings).dump(2) << "\n";
    } else {
        printText(listings, out);
    }
    return 0;
}

}  // namespace tollvane
