#include "model/FFTimeSignatureFormatter.h"

#include <cstdio>
#include <limits>

#include "timebase/TextScanning.h"

namespace tollvane {

namespace {

bool isMeterDenominator(int64_t value) {
    for (int64_t d = 1; d <= 128; d *= 2) {
        if (value == d) return true;
    }
    return false;
}

}  // namespace

std::string FFTimeSignatureFormatter::stringForObjectValue(const ObjectValue& value) const {
    if (const auto* text = std::get_if<std::string>(&value)) return *text;
    if (const auto* meter = std::get_if<TimeSignature>(&value)) {
        char buffer[16];
        std::snprintf(buffer, sizeof buffer, "%d/%d", meter->numerator, meter->denominator);
        return buffer;
    }
    return "-/-";
}

TimeSignature FFTimeSignatureFormatter::getObjectValue(std::string_view text) const {
    TimeSignature meter;
    size_t pos = 0;
    int64_t numerator = 4;
    if (textscan::scanInteger(text, pos, numerator)) {
        // The field is 16 bits wide: hold larger or negative typing to its range.
        if (numerator < 0) numerator = 0;
        if (numerator > std::numeric_limits<uint16_t>::max())
            numerator = std::numeric_limits<uint16_t>::max();
    } else {
        numerator = 4;
    }
    meter.numerator = static_cast<uint16_t>(numerator);
    while (pos < text.size() && (text[pos] < '0' || text[pos] > '9')) ++pos;
    int64_t denominator = 0;
    meter.denominator = textscan::scanInteger(text, pos, denominator) && isMeterDenominator(denominator)
                            ? static_cast<uint16_t>(denominator)
                            : 4;
    return meter;
}

}  // namespace tollvane
