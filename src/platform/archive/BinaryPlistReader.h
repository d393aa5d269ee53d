#pragma once

// Reads objects of a binary property list in place, by index, without
// building a tree: keyed archives are large arrays of small records, and a
// node per value and a heap string per key cost more than the decoding.
//
// The bytes must have passed BinaryPlistCheck::check, which validates the
// trailer, the offset table, every reachable object's extent, references,
// depth and dictionary keys; the reader trusts all of that and checks
// nothing again. Only objects reachable from the top object may be read.
// The bytes must outlive the reader and every view it hands out.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

#include "platform/archive/Value.h"

namespace tollvane {

class BinaryPlistReader {
public:
    enum class Kind : uint8_t { Bool, Integer, Real, Date, Data, String, Array, Dictionary, UID };

    // An object's index in the offset table.
    using Ref = uint64_t;
    static constexpr Ref kNone = ~Ref{0};

    BinaryPlistReader(const uint8_t* bytes, size_t size);

    Ref top() const { return top_; }

    // Raises ArchiveError for a null object, which property lists as read
    // here do not hold.
    Kind kind(Ref ref) const;

    bool boolValue(Ref ref) const;
    // Eight-byte integers come back as their bit pattern; sixteen-byte ones
    // as their low eight bytes.
    uint64_t integerValue(Ref ref) const;
    double realValue(Ref ref) const;
    uint64_t uidValue(Ref ref) const;
    Data dataValue(Ref ref) const;
    // The text of a string as stored: ASCII strings as their bytes,
    // UTF-16 strings converted to UTF-8 (unpaired surrogates become U+FFFD).
    // The view lives as long as the reader.
    std::string_view stringValue(Ref ref) const;

    // Elements of an array, entries of a dictionary.
    size_t count(Ref ref) const;
    Ref element(Ref array, size_t index) const;
    Ref keyAt(Ref dictionary, size_t index) const;
    Ref valueAt(Ref dictionary, size_t index) const;
    // Calls `visit(key, value)` for every entry of a dictionary, in file order.
    template <class Visit>
    void forEachEntry(Ref dictionary, Visit visit) const {
        const Header h = header(dictionary);
        for (size_t i = 0; i < h.count; ++i) visit(refAt(h.pos, i), refAt(h.pos, h.count + i));
    }
    // The value under the first key whose text is `key`, or kNone.
    Ref find(Ref dictionary, std::string_view key) const;

private:
    struct Header {
        uint8_t marker;
        size_t pos;  // just past the marker (and the count, for sized objects)
        uint64_t count;
    };

    Header header(Ref ref) const;
    size_t offsetOf(Ref ref) const;
    Ref refAt(size_t pos, size_t index) const;

    const uint8_t* bytes_;
    unsigned offsetWidth_ = 0;
    unsigned refWidth_ = 0;
    Ref top_ = 0;
    uint64_t tableOffset_ = 0;
    // Converted UTF-16 strings; a node map keeps each string where it is.
    mutable std::unordered_map<Ref, std::string> utf8_;
};

}  // namespace tollvane
