#pragma once

// Character scanning shared by the timecode parser and the formatters. Like a
// scanner with nothing to skip: a number is read exactly where the position
// stands, or not at all.

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string_view>

namespace tollvane::textscan {

// Reads an optionally signed run of decimal digits at `pos`. On success moves
// `pos` past it and answers the value, saturated at the int64 limits (all the
// digits are consumed either way); with no digit there it answers false and
// leaves `pos`.
inline bool scanInteger(std::string_view text, size_t& pos, int64_t& value) {
    size_t i = pos;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i >= text.size() || text[i] < '0' || text[i] > '9') return false;
    // Accumulate the magnitude negatively so that INT64_MIN is reachable.
    int64_t accumulated = 0;
    constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const int digit = text[i] - '0';
        if (accumulated < (kMin + digit) / 10) {
            accumulated = kMin;
        } else {
            accumulated = accumulated * 10 - digit;
        }
    }
    if (negative) {
        value = accumulated;
    } else {
        value = accumulated == kMin ? std::numeric_limits<int64_t>::max() : -accumulated;
    }
    pos = i;
    return true;
}

// Saturates a 64-bit integer into a 32-bit field.
inline int32_t clampToInt32(int64_t value) {
    if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    if (value < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(value);
}

// The length of the UTF-8 character that starts at `pos` (1 for a stray byte),
// so that "one character" of a separator is a whole character however it is
// encoded.
inline size_t characterLength(std::string_view text, size_t pos) {
    const auto lead = static_cast<unsigned char>(text[pos]);
    size_t length = 1;
    if (lead >= 0xF0 && lead < 0xF8) {
        length = 4;
    } else if (lead >= 0xE0) {
        length = lead < 0xF0 ? 3 : 1;
    } else if (lead >= 0xC0) {
        length = 2;
    }
    if (length == 1) return 1;
    for (size_t k = 1; k < length; ++k) {
        if (pos + k >= text.size() || (static_cast<unsigned char>(text[pos + k]) & 0xC0) != 0x80) return 1;
    }
    return length;
}

}  // namespace tollvane::textscan
