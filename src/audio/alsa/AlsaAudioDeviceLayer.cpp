#include "audio/alsa/AlsaAudioDeviceLayer.h"

#include <RtAudio.h>

#include <algorithm>
#include <exception>

#include "platform/AlsaLibraryMessages.h"
#include "platform/Log.h"

namespace tollvane {

std::unique_ptr<AlsaAudioDeviceLayer> AlsaAudioDeviceLayer::open() {
    auto layer = std::make_unique<AlsaAudioDeviceLayer>();
    layer->refresh();
    if (layer->present_.empty()) return nullptr;
    return layer;
}

std::vector<AlsaAudioDevice::Listing> AlsaAudioDeviceLayer::listOutputs() {
    quietAlsaLibraryMessages();
    std::vector<AlsaAudioDevice::Listing> listings;
    std::vector<bool> markedByRtAudio;
    try {
        RtAudio audio(RtAudio::LINUX_ALSA);
        audio.showWarnings(false);
        if (audio.getCurrentApi() != RtAudio::LINUX_ALSA) return listings;
        const unsigned count = audio.getDeviceCount();
        const unsigned defaultIndex = audio.getDefaultOutputDevice();
        for (unsigned i = 0; i < count; ++i) {
            RtAudio::DeviceInfo info;
            try {
                info = audio.getDeviceInfo(i);
            } catch (const std::exception&) {
                continue;  // gone since the count
            }
            if (info.name.empty()) continue;
            AlsaAudioDevice::Listing listing;
            listing.name = info.name;
            if (info.probed) {
                listing.outputChannels = info.outputChannels;
                listing.sampleRate =
                    AlsaAudioDevice::chooseSampleRate(info.sampleRates, info.preferredSampleRate);
            }
            listings.push_back(listing);
            markedByRtAudio.push_back(info.probed && (info.isDefaultOutput || i == defaultIndex));
        }
    } catch (const std::exception& error) {
        TLLog("ALSA audio: %s", error.what());
        return {};
    }
    const auto marked = std::find(markedByRtAudio.begin(), markedByRtAudio.end(), true);
    markDefaultOutput(listings, static_cast<size_t>(marked - markedByRtAudio.begin()));
    return listings;
}

void AlsaAudioDeviceLayer::markDefaultOutput(std::vector<AlsaAudioDevice::Listing>& listings,
                                             size_t rtAudioDefault) {
    for (auto& listing : listings) listing.isDefaultOutput = false;
    // "default" is the output the user configured (often shared with other
    // programs); RtAudio's own choice is the first card's device.
    auto chosen = std::find_if(listings.begin(), listings.end(),
                               [](const auto& l) { return l.name == "default" && l.outputChannels > 0; });
    if (chosen == listings.end() && rtAudioDefault < listings.size())
        chosen = listings.begin() + rtAudioDefault;
    if (chosen != listings.end()) chosen->isDefaultOutput = true;
}

void AlsaAudioDeviceLayer::refresh() {
    apply(listOutputs());
}

void AlsaAudioDeviceLayer::apply(const std::vector<AlsaAudioDevice::Listing>& listings) {
    std::vector<std::shared_ptr<AlsaAudioDevice>> present;
    std::vector<std::string> newNames;
    for (const AlsaAudioDevice::Listing& listing : listings) {
        auto known = std::find_if(known_.begin(), known_.end(),
                                  [&](const auto& device) { return device->name() == listing.name; });
        if (listing.outputChannels == 0 && (known == known_.end() || !(*known)->isRunning())) continue;
        if (known != known_.end()) {
            (*known)->update(listing);
            present.push_back(*known);
        } else {
            newNames.push_back(listing.name);
            present.push_back(nullptr);
        }
    }
    std::vector<uint32_t> reserved;
    for (const auto& device : known_) reserved.push_back(device->deviceID());
    const std::vector<uint32_t> ids = AlsaAudioDevice::deviceIDsForNames(newNames, reserved);
    size_t next = 0;
    for (size_t i = 0; i < present.size(); ++i) {
        if (present[i]) continue;
        const auto listing = std::find_if(listings.begin(), listings.end(),
                                          [&](const auto& l) { return l.name == newNames[next]; });
        present[i] = std::make_shared<AlsaAudioDevice>(ids[next++], *listing);
        known_.push_back(present[i]);
    }
    for (const auto& device : known_) {
        if (std::find(present.begin(), present.end(), device) == present.end()) device->markGone();
    }
    present_ = std::move(present);
}

std::vector<std::shared_ptr<MTCoreAudioDevice>> AlsaAudioDeviceLayer::allDevices() {
    refresh();
    return {present_.begin(), present_.end()};
}

std::shared_ptr<MTCoreAudioDevice> AlsaAudioDeviceLayer::defaultOutputDevice() {
    refresh();
    for (const auto& device : present_) {
        if (device->isDefaultOutput()) return device;
    }
    return present_.empty() ? nullptr : present_.front();
}

}  // namespace tollvane
