#include "timebase/EMTimecodeFramerate.h"

#include <array>
#include <cctype>
#include <string>

namespace tollvane {

namespace {

constexpr std::array<EMTimecodeFramerate, 8> kNamedRates = {{
    {24, true, false},
    {24, false, false},
    {25, true, false},
    {25, false, false},
    {30, true, false},
    {30, true, true},
    {30, false, false},
    {30, false, true},
}};

}  // namespace

EMTimecodeFramerate EMTimecodeFramerate::framerateWithFPS(uint32_t fps, bool videoSpeed, bool dropFrame) {
    return {fps, videoSpeed, fps == 30 && dropFrame};
}

EMTimecodeFramerate EMTimecodeFramerate::framerateForIndex(int64_t index) {
    if (index < 0 || index >= static_cast<int64_t>(kNamedRates.size())) return kNamedRates[4];
    return kNamedRates[static_cast<size_t>(index)];
}

int EMTimecodeFramerate::indexForName(std::string_view name) {
    std::string key;
    for (char c : name) {
        if (c == ' ' || c == '\t') continue;
        key.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    }
    if (key.size() > 3 && key.compare(key.size() - 3, 3, "fps") == 0) key.resize(key.size() - 3);

    struct Name {
        const char* text;
        int index;
    };
    static constexpr Name kNames[] = {
        {"23.976", 0},  {"24", 1},      {"24.975", 2}, {"25", 3},   {"29.97", 4},
        {"29.97nd", 4}, {"29.97df", 5}, {"30", 6},     {"30nd", 6}, {"30df", 7},
    };
    for (const Name& n : kNames) {
        if (key == n.text) return n.index;
    }
    return -1;
}

int EMTimecodeFramerate::index() const {
    for (size_t i = 0; i < kNamedRates.size(); ++i) {
        if (kNamedRates[i] == *this) return static_cast<int>(i);
    }
    return -1;
}

const char* EMTimecodeFramerate::label() const {
    switch (fps) {
        case 24:
            return videoSpeed ? "23.976 fps" : "24fps";
        case 25:
            return videoSpeed ? "24.975 fps" : "25fps";
        case 30:
            if (videoSpeed) return dropFrame ? "29.97df" : "29.97nd";
            return dropFrame ? "30df" : "30fps";
        default:
            return "[invalid]";
    }
}

int32_t EMTimecodeFramerate::mediaTimescale() const {
    switch (fps) {
        case 24:
            return videoSpeed ? 23976 : 2400;
        case 25:
            return videoSpeed ? 24975 : 2500;
        default:
            return videoSpeed ? 2997 : 3000;
    }
}

int32_t EMTimecodeFramerate::mediaTicksPerFrame() const {
    if ((fps == 24 || fps == 25) && videoSpeed) return 1000;
    return 100;
}

}  // namespace tollvane
