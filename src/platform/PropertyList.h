#pragma once

// Plain property lists of Value graphs (no archived objects), in the binary
// form ("bplist00") or XML, through libplist. The user defaults are stored
// this way.
//
// Values map one to one: booleans, integers (signed 64-bit), reals, UTF-8
// strings, data, arrays, and dictionaries with string keys. Nil, archivable
// objects, non-string keys and strings that are not valid UTF-8 or hold a NUL
// cannot be written. Dates read from elsewhere become reals (seconds since
// 2001-01-01 UTC); UIDs belong to keyed archives and are refused.
//
// Outside data never crashes the reader: anything malformed, nested deeper
// than maximumDepth, or expanding (through shared references) to more than
// maximumNodes values raises PropertyListError, checked before libplist sees
// the bytes.
//
// Threads: any, except real-time ones; no shared state.

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "platform/archive/Value.h"

namespace tollvane {

class PropertyListError : public std::runtime_error {
public:
    explicit PropertyListError(const std::string& what) : std::runtime_error(what) {}
};

class PropertyList {
public:
    enum class Format { Binary, XML };

    static constexpr size_t maximumDepth = 256;
    static constexpr uint64_t maximumNodes = 1u << 20;

    // Throws PropertyListError for a value that is not a plain property list.
    static Data dataFromValue(const Value& value, Format format = Format::Binary);
    // Reads either format, told apart by its first bytes. Containers come back
    // immutable. Throws PropertyListError.
    static Value valueFromData(const Data& data);
    static Value valueFromData(const uint8_t* bytes, size_t size);

    // Whether dataFromValue would accept the value; `problem` names the first fault.
    static bool isPropertyList(const Value& value, std::string* problem = nullptr);
};

}  // namespace tollvane
