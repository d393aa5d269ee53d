#include "audio/AudioOutputMenu.h"

#include <cstdio>

namespace tollvane {
namespace {

constexpr int64_t kStereoTag = 1;
constexpr int64_t kMonoTag = 0;

MenuItem channelItem(const char* format, int first, int second) {
    char title[48];
    std::snprintf(title, sizeof title, format, first, second);
    return MenuItem{title, first, AudioOutputMenu::kChannelAction, false, {}};
}

void clearChecks(std::vector<MenuItem>& items) {
    for (MenuItem& item : items) {
        item.checked = false;
        clearChecks(item.submenu);
    }
}

MenuItem* checkItemWithTag(std::vector<MenuItem>& items, int64_t tag) {
    for (MenuItem& item : items) {
        if (item.tag == tag) {
            item.checked = true;
            return &item;
        }
    }
    return nullptr;
}

}  // namespace

MenuItem AudioOutputMenu::deviceItem(const MTCoreAudioDevice& device, uint32_t channels) {
    MenuItem item{device.deviceName().value_or(""), device.deviceID(), kUnspecifiedChannelAction, false, {}};
    const int count = static_cast<int>(channels);
    if (count >= 2) {
        MenuItem stereo{"stereo", kStereoTag, kUnspecifiedChannelAction, false, {}};
        // A pair is offered only when both of its channels exist.
        for (int first = 1; first + 1 <= count; first += 2) {
            stereo.submenu.push_back(channelItem("Outputs %d-%d", first, first + 1));
        }
        item.submenu.push_back(std::move(stereo));
    }
    MenuItem mono{"mono", kMonoTag, kUnspecifiedChannelAction, false, {}};
    for (int channel = 1; channel <= count; ++channel)
        mono.submenu.push_back(channelItem("Output %d", channel, 0));
    item.submenu.push_back(std::move(mono));
    return item;
}

void AudioOutputMenu::populate(MTCoreAudioDeviceLayer& layer) {
    items_.clear();
    items_.push_back(MenuItem{kDefaultOutputTitle, 0, kUnspecifiedChannelAction, false, {}});
    for (const auto& device : layer.allDevices()) {
        if (!device) continue;
        const uint32_t channels = device->channelsForDirection(MTCoreAudioDirection::kOutput);
        if (channels > 0) items_.push_back(deviceItem(*device, channels));
    }
}

const MenuItem* AudioOutputMenu::itemAt(const MenuItemPath& path) const {
    const std::vector<MenuItem>* level = &items_;
    const MenuItem* item = nullptr;
    for (size_t index : path) {
        if (index >= level->size()) return nullptr;
        item = &(*level)[index];
        level = &item->submenu;
    }
    return item;
}

std::optional<AudioOutputMenu::Output> AudioOutputMenu::outputForItem(const MenuItemPath& path) const {
    const MenuItem* item = itemAt(path);
    if (!item) return std::nullopt;
    const auto deviceID = static_cast<uint32_t>(items_[path[0]].tag);
    switch (path.size()) {
        case 1:  // the default output or a device: first pair, stereo
            return Output{deviceID, 0, true};
        case 2:  // a device's "stereo" or "mono"
            return Output{deviceID, 0, item->tag == kStereoTag};
        case 3:  // one pair or channel
            return Output{deviceID, static_cast<int>(item->tag) - 1,
                          itemAt({path[0], path[1]})->tag == kStereoTag};
        default:
            return std::nullopt;
    }
}

void AudioOutputMenu::checkOutput(const Output& current) {
    clearChecks(items_);
    MenuItem* device = checkItemWithTag(items_, current.deviceID);
    if (!device) return;
    MenuItem* layout = checkItemWithTag(device->submenu, current.stereo ? kStereoTag : kMonoTag);
    if (layout) checkItemWithTag(layout->submenu, current.channel + 1);
}

}  // namespace tollvane
