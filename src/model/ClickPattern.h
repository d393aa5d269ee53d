#pragma once

// What clicks in a patterned bar: a base pulse (`baseDuration`, in quarter
// notes) and the group lengths in pulses (`pattern`, e.g. 2,2,3 in 7/8). Only
// the first pulse of each group sounds; pulses past the sum of the groups
// sound as well.
//
// A plain value; copy it freely.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tollvane {

struct ClickPattern {
    double baseDuration = 1.0;
    std::vector<uint32_t> pattern;

    // The pattern joined with ",": "2,2,3".
    std::string patternString() const;
    // Reads integers, skipping exactly one character after each, and stops
    // at the first place where no integer can be read.
    void setPatternString(std::string_view text);
    // "ClickPattern (2,2,3 @ 0.5)".
    std::string description() const;

    friend bool operator==(const ClickPattern&, const ClickPattern&) = default;

    // The reading of setPatternString, for holders of a bare pattern array.
    static std::vector<uint32_t> patternFromString(std::string_view text);
    static std::string stringFromPattern(const std::vector<uint32_t>& pattern);
};

}  // namespace tollvane
