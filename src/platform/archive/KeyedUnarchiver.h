#pragma once

// Reads the binary property list of a keyed archive back into a Value graph.
// Foundation types (strings, numbers, data, arrays, dictionaries, mutable
// strings and data) become Values; classes registered with
// ArchiveClassRegistry (colours among them) rebuild themselves from their
// keys; any other class becomes a GenericArchiveObject that keeps its class
// chain and keyed values and writes itself back unchanged. Shared objects
// decode once, into one shared Value.
//
// Mutable strings and data ("NSMutableString", "NSMutableData") read as
// plain strings and data: Value does not tell them apart, and they write back
// as the immutable kinds. Strings end at their first NUL and invalid UTF-8 is
// replaced by U+FFFD, so every string read here writes back as read.
//
// Bad input never crashes and never makes the reader allocate beyond what
// the input size justifies: data that is not a binary property list, a
// wrong root, dangling or out-of-range UIDs, cycles (an object reached again
// while it is being decoded: refused rather than half built), a key twice in
// one record, nesting deeper than 512 levels, wrong value types and absurd
// counts raise ArchiveError with a message naming the fault.
//
// Threads: unarchivedObjectWithData may be called from any thread; each call
// has its own unarchiver and reads the class registry under its lock.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/archive/ArchiveField.h"
#include "platform/archive/Value.h"

namespace tollvane {

class KeyedUnarchiver {
public:
    // The root object ("$top" key "root"). Throws ArchiveError.
    static Value unarchivedObjectWithData(const Data& data);
    static Value unarchivedObjectWithData(const uint8_t* bytes, size_t size);

    // Field decoders for factories: they read the object being decoded.
    // Absent keys answer nil, false, 0 or empty data, as on the platform;
    // numbers convert among themselves (a boolean is 0 or 1, a real
    // truncates toward zero); a value of the wrong type raises ArchiveError
    // naming the key and class.
    bool containsValueForKey(std::string_view key) const;
    Value decodeObject(std::string_view key);
    bool decodeBool(std::string_view key) const;
    int64_t decodeInt(std::string_view key) const;
    double decodeDouble(std::string_view key) const;
    float decodeFloat(std::string_view key) const;
    Data decodeBytes(std::string_view key) const;
    // The field under a key as it stands in the record (inline or a
    // reference, references decoded); an absent key answers an inline nil.
    ArchiveField decodeArchiveField(std::string_view key);
    // Every field of the object being decoded except "$class", in file order.
    ArchiveFields decodeAllFields();

    // "$classname" and "$classes" of the object being decoded.
    const std::string& className() const;
    const std::vector<std::string>& classChain() const;
    // Every key of the object being decoded except "$class", in file order.
    std::vector<std::string> allKeys() const;

    KeyedUnarchiver(const KeyedUnarchiver&) = delete;
    KeyedUnarchiver& operator=(const KeyedUnarchiver&) = delete;
    ~KeyedUnarchiver();

private:
    KeyedUnarchiver();
    struct Impl;
    Impl* impl_;
};

}  // namespace tollvane
