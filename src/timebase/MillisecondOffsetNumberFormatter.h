#pragma once

// A field for small time offsets that the user types in milliseconds while the
// value is kept in seconds.
//
// Display: the number in seconds shown as whole milliseconds, rounded to the
// nearest ("250" for 0.25, "-40" for -0.04); a number above zero gets a "+" in
// front ("+250"). A field without a number shows nothing.
// Input: everything before the first of "0123456789-" is skipped, an integer
// is read there (0 when there is none; saturated at the 32-bit limits) and
// the value is that many thousandths, in single precision. Every text is
// accepted; there is no error.
//
// Threads: main thread.

#include <optional>
#include <string>
#include <string_view>

namespace tollvane {

class MillisecondOffsetNumberFormatter {
public:
    std::string stringForObjectValue(std::optional<double> number) const;
    float getObjectValue(std::string_view text) const;

    // The plain number text, without the "+".
    std::string baseStringForObjectValue(std::optional<double> number) const;
};

}  // namespace tollvane
