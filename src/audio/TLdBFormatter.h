#pragma once

// Shows a level (0 to 1) as decibels, 40 log10(x): "%0.1f dB" above -10 dB,
// "%0.0f dB" below; anything that is not a number shows as "". Display only:
// reading text back always fails, and any partial text is accepted while
// editing.
//
// Threads: any.

#include <string>

#include "platform/archive/Value.h"

namespace tollvane {

class TLdBFormatter {
public:
    std::string stringForObjectValue(const Value& value) const;
    bool getObjectValue(Value* value, const std::string& text, std::string* error) const;
    bool isPartialStringValid(const std::string& partialText) const;
};

}  // namespace tollvane
