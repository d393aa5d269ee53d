#pragma once

// The user-event records that a cue's compilation puts on the "_visual"
// track and the event controller reads back. Each is a block: a 32-bit
// length (the bytes that follow it), then the payload, which starts with a
// four-character type code. Native byte order throughout (the blocks never
// leave the running program); floats are IEEE single (f32) or double (f64).
// Offsets count from the start of the block.
//
//   streamer 'stmr' 28 bytes: 8 red f32, 12 green f32, 16 blue f32,
//                             20 duration in seconds f64 (not 8-aligned)
//   punch    'pnch' 24 bytes: 8 red, 12 green, 16 blue f32, 20 holes u16, 22 two zeros
//   beeps    'beep' 20 bytes: 8 count u32, 12 total seconds f32, 16 punch-on-each-beep u8,
//                             17 three zeros
//   text     'text' 9 + n:    8 the text in UTF-8 and a terminating zero
//   reel mute 'rmut' 8 bytes
//   cue change 'qchg' 17 + n: 8 document handle u32, 12 the cue number in UTF-8 and a
//                             terminating zero, then four zeros
//   cue start 'strt' 8 bytes
//   click    'clix' 8 bytes (read, never written by compilation)
//
// Plain functions: any thread; the readers neither lock nor allocate except
// for the strings they return.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/FourCharCode.h"

namespace tollvane {

struct UserEventRecord {
    static constexpr uint32_t kStreamer = fourCharCode("stmr");
    static constexpr uint32_t kPunch = fourCharCode("pnch");
    static constexpr uint32_t kBeeps = fourCharCode("beep");
    static constexpr uint32_t kTextChange = fourCharCode("text");
    static constexpr uint32_t kReelMute = fourCharCode("rmut");
    static constexpr uint32_t kCueChange = fourCharCode("qchg");
    static constexpr uint32_t kCueStart = fourCharCode("strt");
    static constexpr uint32_t kClick = fourCharCode("clix");

    static constexpr size_t kStreamerSize = 28;
    static constexpr size_t kPunchSize = 24;
    static constexpr size_t kBeepsSize = 20;

    // Decoded payloads. The templates a block starts from before compilation
    // fills it: a white streamer of 2 seconds, a white punch of 1 hole,
    // 3 beeps over 2 seconds without punches.
    struct Streamer {
        float red = 1.0f, green = 1.0f, blue = 1.0f;
        double seconds = 2.0;
    };
    struct Punch {
        float red = 1.0f, green = 1.0f, blue = 1.0f;
        uint16_t holes = 1;
    };
    struct Beeps {
        uint32_t count = 3;
        float seconds = 2.0f;
        bool punches = false;
    };
    struct CueChange {
        uint32_t documentHandle = 0;
        std::string cueNumber;
    };

    // Builders: the whole block, length word included.
    static std::vector<uint8_t> streamer(const Streamer& streamer);
    static std::vector<uint8_t> punch(const Punch& punch);
    static std::vector<uint8_t> beeps(const Beeps& beeps);
    static std::vector<uint8_t> textChange(std::string_view text);
    static std::vector<uint8_t> reelMute();
    static std::vector<uint8_t> cueChange(uint32_t documentHandle, std::string_view cueNumber);
    static std::vector<uint8_t> cueStart();
    static std::vector<uint8_t> click();

    // Readers of a whole block. typeOf answers none for a block shorter than
    // 8 bytes or whose length word does not match its size; the others none
    // when the block is not of their type or too short.
    static std::optional<uint32_t> typeOf(std::span<const uint8_t> block);
    static std::optional<Streamer> readStreamer(std::span<const uint8_t> block);
    static std::optional<Punch> readPunch(std::span<const uint8_t> block);
    static std::optional<Beeps> readBeeps(std::span<const uint8_t> block);
    // The text up to its terminating zero (or the block's end).
    static std::optional<std::string> readTextChange(std::span<const uint8_t> block);
    static std::optional<CueChange> readCueChange(std::span<const uint8_t> block);
};

}  // namespace tollvane
