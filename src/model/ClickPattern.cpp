#include "model/ClickPattern.h"

#include <cstdio>
#include <limits>

#include "timebase/TextScanning.h"

namespace tollvane {

std::vector<uint32_t> ClickPattern::patternFromString(std::string_view text) {
    std::vector<uint32_t> result;
    size_t pos = 0;
    int64_t value = 0;
    while (textscan::scanInteger(text, pos, value)) {
        // A group length is an unsigned 32-bit number; larger or negative
        // typing is held to the range rather than wrapped.
        if (value < 0) value = 0;
        if (value > std::numeric_limits<uint32_t>::max()) value = std::numeric_limits<uint32_t>::max();
        result.push_back(static_cast<uint32_t>(value));
        if (pos >= text.size()) break;
        ++pos;
    }
    return result;
}

std::string ClickPattern::stringFromPattern(const std::vector<uint32_t>& pattern) {
    std::string text;
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (i > 0) text += ',';
        text += std::to_string(pattern[i]);
    }
    return text;
}

std::string ClickPattern::patternString() const {
    return stringFromPattern(pattern);
}

void ClickPattern::setPatternString(std::string_view text) {
    pattern = patternFromString(text);
}

std::string ClickPattern::description() const {
    char base[32];
    std::snprintf(base, sizeof base, "%g", baseDuration);
    return "ClickPattern (" + patternString() + " @ " + base + ")";
}

}  // namespace tollvane
