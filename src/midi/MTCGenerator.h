#pragma once

// The arithmetic of sending MIDI Time Code: which quarter frame goes out
// when, what it carries, and the full-frame message that locates a receiver
// first. Works on sample positions counted from the start of the run, so the
// same schedule drives a JACK process callback and the unit tests' virtual
// frames.
//
// Quarter frame k is piece k mod 8 of cycle k div 8. A cycle spans two video
// frames and carries the timecode of the frame in which its piece 0 goes out,
// as the MTC convention has it; cycle c describes the start frame plus 2c
// (real frames, so drop-frame labels skip where they should). Hours wrap at
// 24 on the wire. The full frame carries the start timecode and goes out at
// sample 0, together with quarter frame 0.
//
// Threads: a value; every member is real-time safe (no allocation, no lock).

#include <array>
#include <cstdint>

#include "timebase/EMTimecodeFramerate.h"

namespace tollvane {

class MTCGenerator {
public:
    struct Labels {
        uint32_t hh = 0, mm = 0, ss = 0, ff = 0;
        bool operator==(const Labels&) const = default;
    };

    // The MTC rate code of a frame rate: 0 for 24 fps, 1 for 25, 2 for 30
    // drop frame, 3 for 30 non-drop. Video speed has no code of its own.
    static uint8_t rateCode(const EMTimecodeFramerate& framerate);

    // `startFrame` is the real frame count (as EMTimecode::framesFromZero) of
    // the first timecode sent; negative counts start at 0.
    MTCGenerator(const EMTimecodeFramerate& framerate, int64_t startFrame, uint32_t sampleRate);

    const EMTimecodeFramerate& framerate() const { return framerate_; }
    uint32_t sampleRate() const { return sampleRate_; }
    int64_t startFrame() const { return startFrame_; }

    // The sample, counted from the start of the run, on which quarter frame
    // k falls: its exact time rounded to the nearest sample.
    uint64_t sampleOffset(uint64_t k) const;
    // The exact time of quarter frame k in nanoseconds from the start.
    uint64_t nanosecondsOffset(uint64_t k) const;
    // The first quarter frame at or after `sample` (so a callback covering
    // samples [a, b) sends quarter frames firstAtOrAfter(a) up to
    // firstAtOrAfter(b)).
    uint64_t firstAtOrAfter(uint64_t sample) const;
    // How many quarter frames fall within the first `seconds`.
    uint64_t countWithin(double seconds) const;

    // The data byte of quarter frame k (piece in the high nibble).
    uint8_t quarterFrameData(uint64_t k) const;
    // The timecode that cycle c carries.
    Labels cycleLabels(uint64_t cycle) const {
        return labelsForFrame(startFrame_ + 2 * static_cast<int64_t>(cycle));
    }
    // F0 7F 7F 01 01 hr mn sc fr F7 for the start timecode.
    std::array<uint8_t, 10> fullFrame() const;

    // Hours (not wrapped), minutes, seconds and frame of a real frame count,
    // with the drop-frame numbering when the rate counts drop frames.
    Labels labelsForFrame(int64_t frame) const;

private:
    // Quarter frames are `numerator / denominator` samples apart.
    uint64_t numerator() const;
    uint64_t denominator() const;

    EMTimecodeFramerate framerate_;
    int64_t startFrame_;
    uint32_t sampleRate_;
};

}  // namespace tollvane
