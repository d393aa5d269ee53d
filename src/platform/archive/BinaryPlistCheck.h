#pragma once

// A structural check of a binary property list, run before anything parses
// it: BinaryPlistReader (archives) reads in place without checking again,
// and libplist (plain property lists) trusts the offset table, follows
// references without looking for cycles, copies an object once for every
// reference to it and reads integers of odd widths past their end. So the
// trailer, every offset, every object's extent, every reference, every
// dictionary key and the size of the tree that parsing could build are
// checked here first.

#include <cstddef>
#include <cstdint>

namespace tollvane {

class BinaryPlistCheck {
public:
    // The deepest nesting accepted: the top object is at depth 1, its
    // members at 2, and so on.
    static constexpr size_t kMaxDepth = 512;

    // Throws ArchiveError naming the first fault found.
    static void check(const uint8_t* bytes, size_t size);
};

}  // namespace tollvane
