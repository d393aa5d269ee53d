#include "audio/MTCoreAudioDevice.h"

#include <atomic>

#include "audio/null/NullAudioDeviceLayer.h"

namespace tollvane {

namespace {

std::atomic<MTCoreAudioDeviceLayer*> installedLayer{nullptr};

}  // namespace

std::shared_ptr<MTCoreAudioDevice> MTCoreAudioDeviceLayer::deviceWithID(uint32_t deviceID) {
    for (auto& device : allDevices()) {
        if (device->deviceID() == deviceID) return device;
    }
    return nullptr;
}

MTCoreAudioDeviceLayer& MTCoreAudioDeviceLayer::shared() {
    static NullAudioDeviceLayer nullLayer;
    MTCoreAudioDeviceLayer* layer = installedLayer.load(std::memory_order_acquire);
    return layer ? *layer : nullLayer;
}

MTCoreAudioDeviceLayer* MTCoreAudioDeviceLayer::setShared(MTCoreAudioDeviceLayer* layer) {
    return installedLayer.exchange(layer, std::memory_order_acq_rel);
}

}  // namespace tollvane
