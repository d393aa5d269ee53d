#pragma once

// A media timestamp: value / timescale seconds, as the movie player and the
// video exporter position frames.

#include <cstdint>

namespace tollvane {

struct MediaTime {
    int64_t value = 0;
    int32_t timescale = 0;

    double seconds() const { return timescale == 0 ? 0.0 : static_cast<double>(value) / timescale; }
    bool operator==(const MediaTime& other) const = default;
};

}  // namespace tollvane
