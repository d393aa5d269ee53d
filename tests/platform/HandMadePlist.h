#pragma once

// Binary property lists laid out byte by byte, for tests that need files no
// writer would produce: two-byte offsets, references of the given width.

#include <cstdint>
#include <vector>

#include "platform/archive/Value.h"

namespace tollvane::testing {

inline Data handMadePlist(const std::vector<std::vector<uint8_t>>& objects, uint64_t top = 0,
                          uint8_t refWidth = 1) {
    Data out = {'b', 'p', 'l', 'i', 's', 't', '0', '0'};
    std::vector<uint64_t> offsets;
    for (const auto& object : objects) {
        offsets.push_back(out.size());
        out.insert(out.end(), object.begin(), object.end());
    }
    const uint64_t table = out.size();
    for (uint64_t offset : offsets) {
        out.push_back(static_cast<uint8_t>(offset >> 8));
        out.push_back(static_cast<uint8_t>(offset));
    }
    out.insert(out.end(), {0, 0, 0, 0, 0, 0, 2, refWidth});
    for (uint64_t v : {uint64_t{objects.size()}, top, table}) {
        for (int i = 7; i >= 0; --i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
    return out;
}

}  // namespace tollvane::testing
