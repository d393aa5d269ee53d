#include "audio/null/NullAudioDeviceLayer.h"

#include "platform/Log.h"

namespace tollvane {

std::vector<std::shared_ptr<MTCoreAudioDevice>> NullAudioDeviceLayer::allDevices() {
    sayOnce();
    return {};
}

std::shared_ptr<MTCoreAudioDevice> NullAudioDeviceLayer::defaultOutputDevice() {
    sayOnce();
    return nullptr;
}

void NullAudioDeviceLayer::sayOnce() {
    if (said_) return;
    said_ = true;
    TLLog("%s", kNoDeviceMessage);
}

}  // namespace tollvane
