#pragma once

// A timecode frame rate: the nominal frames per second (24, 25 or 30; 1 marks
// an invalid timecode), whether it runs at video speed (1000/1001 of nominal)
// and whether it counts drop frame. Documents and cues keep a rate as its
// index among the eight named rates.
//
// A plain value: copy it freely, from any thread; everything here is
// real-time safe.

#include <cstdint>
#include <string_view>

namespace tollvane {

struct EMTimecodeFramerate {
    uint32_t fps = 30;
    bool videoSpeed = true;
    bool dropFrame = false;

    // dropFrame is kept only for fps 30.
    static EMTimecodeFramerate framerateWithFPS(uint32_t fps, bool videoSpeed, bool dropFrame);
    // The named rate of an index 0-7; any other index gives index 4 (29.97nd).
    static EMTimecodeFramerate framerateForIndex(int64_t index);

    // The index of a rate name: "23.976", "24", "24.975", "25", "29.97" (non-drop),
    // "29.97nd", "29.97df", "30", "30df", and the labels ("23.976 fps", "24fps",
    // ...). Case, blanks and a trailing "fps" do not matter. -1 when unknown.
    static int indexForName(std::string_view name);

    // The index of this rate among the eight named ones, or -1.
    int index() const;

    // "23.976 fps", "24fps", "24.975 fps", "25fps", "29.97nd", "29.97df",
    // "30fps", "30df", or "[invalid]" for any other fps.
    const char* label() const;
    // ";" with drop frame, ":" otherwise.
    const char* frameSeparator() const { return dropFrame ? ";" : ":"; }

    // Drop-frame counting applies only at fps 30.
    bool countsDropFrames() const { return dropFrame && fps == 30; }

    // Media timestamps: 24 and 25 use 1000 ticks a frame at video speed and 100
    // otherwise; every other fps uses 100 ticks at 2997 (video speed) or 3000.
    int32_t mediaTimescale() const;
    int32_t mediaTicksPerFrame() const;

    bool operator==(const EMTimecodeFramerate& other) const = default;
};

// Free form of EMTimecodeFramerate::indexForName for command-line parsing.
inline int framerateIndexForName(std::string_view name) {
    return EMTimecodeFramerate::indexForName(name);
}

}  // namespace tollvane
