#include "timebase/MillisecondOffsetNumberFormatter.h"

#include <cmath>
#include <cstdio>

#include "timebase/TextScanning.h"

namespace tollvane {

std::string MillisecondOffsetNumberFormatter::baseStringForObjectValue(std::optional<double> number) const {
    if (!number) return {};
    double milliseconds = std::round(*number * 1000.0);
    // No "-0" for a small negative offset.
    if (milliseconds == 0.0) milliseconds = 0.0;
    char buffer[400];
    std::snprintf(buffer, sizeof buffer, "%.0f", milliseconds);
    return buffer;
}

std::string MillisecondOffsetNumberFormatter::stringForObjectValue(std::optional<double> number) const {
    std::string base = baseStringForObjectValue(number);
    if (number && *number > 0.0) return "+" + base;
    return base;
}

float MillisecondOffsetNumberFormatter::getObjectValue(std::string_view text) const {
    size_t pos = text.find_first_of("0123456789-");
    int64_t scanned = 0;
    if (pos == std::string_view::npos || !textscan::scanInteger(text, pos, scanned)) scanned = 0;
    return static_cast<float>(textscan::clampToInt32(scanned) * 0.001);
}

}  // namespace tollvane
