#pragma once

// The ALSA outputs that RtAudio lists: each card's PCM devices and the
// "default" one. The list is taken afresh whenever the devices are asked
// for; a device keeps its object (and identifier) while the layer lives, and
// one that has gone answers no name. The default output is ALSA's "default"
// device when it plays, else the one RtAudio names, else the first listed.
//
// Threads: main thread.

#include <memory>
#include <vector>

#include "audio/MTCoreAudioDevice.h"
#include "audio/alsa/AlsaAudioDevice.h"

namespace tollvane {

class AlsaAudioDeviceLayer final : public MTCoreAudioDeviceLayer {
public:
    // None when RtAudio finds no ALSA output with a channel; prints nothing.
    static std::unique_ptr<AlsaAudioDeviceLayer> open();
    // A layer that has listed nothing yet.
    AlsaAudioDeviceLayer() = default;

    std::vector<std::shared_ptr<MTCoreAudioDevice>> allDevices() override;
    std::shared_ptr<MTCoreAudioDevice> defaultOutputDevice() override;

    // The present devices as last listed, without listing again.
    const std::vector<std::shared_ptr<AlsaAudioDevice>>& devices() const { return present_; }

    // Takes the device list from RtAudio now.
    void refresh();
    // Applies a listing (in RtAudio's order) to the known devices. A device
    // listed without channels could not be probed: a running one of ours is
    // busy and stays; any other is left out.
    void apply(const std::vector<AlsaAudioDevice::Listing>& listings);

    // Marks the default output of a listing: "default" when it has channels,
    // else the entry at `rtAudioDefault` (none when out of range).
    static void markDefaultOutput(std::vector<AlsaAudioDevice::Listing>& listings, size_t rtAudioDefault);
    // The devices RtAudio lists now (those it could not probe without channels).
    static std::vector<AlsaAudioDevice::Listing> listOutputs();

private:
    std::vector<std::shared_ptr<AlsaAudioDevice>> known_;
    std::vector<std::shared_ptr<AlsaAudioDevice>> present_;
};

}  // namespace tollvane
