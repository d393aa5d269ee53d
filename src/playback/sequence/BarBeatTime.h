#pragma once

// Small value records of the bar/beat side of a sequence.

#include <cstdint>

namespace tollvane {

// A position as bar, beat and subbeat. Bars and beats count from 1; the beat
// is a unit of the meter's denominator (an eighth note in 6/8); a beat holds
// `subbeatDivisor` subbeats.
struct BarBeatTime {
    int32_t bar = 0;
    uint16_t beat = 0;
    uint16_t subbeat = 0;
    uint16_t subbeatDivisor = 0;
    uint16_t reserved = 0;

    friend bool operator==(const BarBeatTime&, const BarBeatTime&) = default;
};

// A meter: numerator over denominator (1, 2, 4, ... 128).
struct TimeSignature {
    uint16_t numerator = 4;
    uint16_t denominator = 4;

    friend bool operator==(const TimeSignature&, const TimeSignature&) = default;
};

}  // namespace tollvane
