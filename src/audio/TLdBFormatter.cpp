#include "audio/TLdBFormatter.h"

#include <cmath>
#include <cstdio>

namespace tollvane {

std::string TLdBFormatter::stringForObjectValue(const Value& value) const {
    if (!value.isNumber()) return {};
    // Level squared is the amplitude, so 20 log10 of it is 40 log10 of the level.
    const double decibels = 40.0 * std::log10(value.toDouble());
    char text[64];
    std::snprintf(text, sizeof text, decibels > -10.0 ? "%0.1f dB" : "%0.0f dB", decibels);
    return text;
}

bool TLdBFormatter::getObjectValue(Value*, const std::string&, std::string*) const {
    return false;
}

bool TLdBFormatter::isPartialStringValid(const std::string&) const {
    return true;
}

}  // namespace tollvane
