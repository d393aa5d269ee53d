#pragma once

// The device layer of a machine without sound: no devices. The engine runs
// silent and the layer says so once, the first time a device is asked for.
//
// Threads: main thread.

#include "audio/MTCoreAudioDevice.h"

namespace tollvane {

class NullAudioDeviceLayer final : public MTCoreAudioDeviceLayer {
public:
    static constexpr const char* kNoDeviceMessage = "No audio output device: running without sound.";

    std::vector<std::shared_ptr<MTCoreAudioDevice>> allDevices() override;
    std::shared_ptr<MTCoreAudioDevice> defaultOutputDevice() override;

private:
    void sayOnce();
    bool said_ = false;
};

}  // namespace tollvane
