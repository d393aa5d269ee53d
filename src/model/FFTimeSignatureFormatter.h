#pragma once

// Shows a meter as "7/8" in text fields and reads typed text back. Display:
// no value "-/-", a text unchanged, a meter "%d/%d". Input: the numerator
// (4 when none can be read), then blanks and other non-digits skipped, then
// the denominator, kept only when it is a power of two from 1 to 128 (else
// 4). Every text is accepted.
//
// Threads: main thread (text fields).

#include <string>
#include <string_view>
#include <variant>

#include "playback/sequence/BarBeatTime.h"

namespace tollvane {

class FFTimeSignatureFormatter {
public:
    using ObjectValue = std::variant<std::monostate, std::string, TimeSignature>;

    std::string stringForObjectValue(const ObjectValue& value) const;
    TimeSignature getObjectValue(std::string_view text) const;
};

}  // namespace tollvane
