#pragma once

// The text of a MIDI Show Control command and the numbers in a cue number.
//
// A command's data starts at byte 6 of the whole message (after F0 7F, the
// device ID, 02, the command format and the command): up to three fields
// (cue number, cue list, cue path), separated by 00 and ended by F7 or the
// end of the message, each UTF-8 text. A cue number such as "1.2.1.3" holds
// up to five numbers: reel, cue, sub-cue, version and sub-version.
//
// Plain values and pure functions: any thread.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tollvane {

class MSCCueInfo {
public:
    static constexpr size_t kFirstFieldByte = 6;
    static constexpr size_t kMaxFields = 3;
    // A field keeps at most this many bytes; the rest of a longer field is
    // skipped, so that outside input never decides how much we hold.
    static constexpr size_t kMaxFieldBytes = 127;

    // Splits the message (F0 to F7). The first byte of each field is taken
    // as is, before any test for a separator, so a field that begins with 00
    // reads as empty text. A field that is not valid UTF-8 ends the list.
    static MSCCueInfo cueInfoFromBytes(const uint8_t* bytes, size_t length);

    // Reel, cue, sub-cue, version and sub-version: runs of decimal digits,
    // with whatever lies between them skipped. Reading stops at the first
    // number missing (a cue number that does not begin with a digit gives
    // five zeros); missing numbers are 0; numbers too large for 32 bits
    // saturate.
    static std::array<int32_t, 5> numbersFromCueNumber(std::string_view cueNumber);

    const std::vector<std::string>& fields() const { return fields_; }
    bool empty() const { return fields_.empty(); }
    // Empty text when the command carries no such field.
    std::string cueNumber() const { return field(0); }
    std::string cueList() const { return field(1); }
    std::string cuePath() const { return field(2); }

private:
    std::string field(size_t index) const { return index < fields_.size() ? fields_[index] : std::string(); }

    std::vector<std::string> fields_;
};

}  // namespace tollvane
