#pragma once

// The preferences' audio-output pop-up as a plain menu tree: the default
// output first, then one item per device that has outputs, each with a
// "stereo" submenu of channel pairs (when it has two channels or more) and a
// "mono" submenu of single channels. A choice is given back as the path of
// the chosen item and turned into an output (device, first channel, stereo).
//
// Threads: main thread.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "audio/MTCoreAudioDevice.h"
#include "platform/MenuItem.h"

namespace tollvane {

class AudioOutputMenu {
public:
    static constexpr const char* kUnspecifiedChannelAction = "setAudioOutputWithUnspecifiedChannel:";
    static constexpr const char* kChannelAction = "setAudioOutput:";
    static constexpr const char* kDefaultOutputTitle = "(Default output, channels 1-2)";

    // An output a menu item stands for. A device ID of 0 is the system's
    // default output.
    struct Output {
        uint32_t deviceID = 0;
        int channel = 0;
        bool stereo = true;
    };

    // Rebuilds the menu from the layer's devices.
    void populate(MTCoreAudioDeviceLayer& layer);
    // The output chosen by the item at `path`; none when the path leads
    // nowhere or to an item that chooses nothing.
    std::optional<Output> outputForItem(const MenuItemPath& path) const;
    // Checks the device item of `current`, its "stereo" or "mono" item and
    // the channel item for its first channel, clearing every other mark.
    void checkOutput(const Output& current);

    const std::vector<MenuItem>& items() const { return items_; }
    const std::string& title() const { return title_; }
    void setTitle(std::string title) { title_ = std::move(title); }

private:
    static MenuItem deviceItem(const MTCoreAudioDevice& device, uint32_t channels);
    const MenuItem* itemAt(const MenuItemPath& path) const;

    std::vector<MenuItem> items_;
    std::string title_;
};

}  // namespace tollvane
