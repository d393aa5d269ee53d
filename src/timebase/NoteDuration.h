#pragma once

// Note-duration codes: small integers naming note values, with which click,
// count-off, warning-beat and punch intervals are stored. The cue, the
// transport, the counter and the synthesiser all read this one table.
//
// Plain functions of their argument: any thread, real-time safe.

#include <cstdint>

namespace tollvane {

struct NoteDuration {
    // Code 6 is one beat (a quarter note).
    static constexpr int32_t kQuarter = 6;
    // The same interval as the click.
    static constexpr int32_t kSameAsClick = 0xffff;
    // No click, and no change.
    static constexpr int32_t kOff = -1;
    static constexpr int32_t kNoChange = -2;

    // Quarter notes per note of the code (a tempo's quarter-note bpm is its bpm
    // times this). Looked up directly, kSameAsClick gives 53, and code 13 gives
    // 0.08125: stored documents and tempo maps were made with these values.
    // Any code not in the table gives 1.
    static double quarterNotes(int32_t code);

    // MIDI clocks (24 to the quarter note) per click of the code; 24 for every
    // code above 10 and for negative codes.
    static int32_t clocksPerClick(int32_t code);
};

}  // namespace tollvane
