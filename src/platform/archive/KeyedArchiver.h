#pragma once

// Writes a Value graph as the binary property list of the original
// platform's keyed archiver: a root dictionary with "$archiver"
// ("NSKeyedArchiver"), "$version" (100000), "$top" ({"root": UID}) and
// "$objects" ("$null" first, then every object once, in the order first
// met, each class record once).
//
// Layout, as the platform writes it: an object's UID is taken when it is
// first met, its members follow it depth-first, and its class record comes
// after them where the class is first needed. Strings, numbers, booleans and
// data are plain property-list values in "$objects"; equal strings and
// numbers are written once. A container or object reached twice (the same
// shared_ptr) is written once and referred to by one UID. The bytes come from
// BinaryPlistWriter, in time linear in the size of the graph.
//
// Threads: archivedDataWithRootObject may be called from any thread; each
// call has its own archiver. The graph must not change while it is written.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/archive/ArchiveField.h"
#include "platform/archive/Value.h"

namespace tollvane {

class KeyedArchiver {
public:
    // The archive bytes of a root value. Throws ArchiveError for a graph that
    // cannot be written: a cycle among containers and objects, or nesting
    // deeper than the unarchiver accepts (512 levels).
    static Data archivedDataWithRootObject(const Value& root);

    // Field encoders for Archivable::encodeWithCoder. Scalars and bytes go
    // inline into the object's record; encodeObject writes a UID reference
    // (nil becomes the "$null" reference). A key that begins with "$" is
    // written with a second "$" in front, as the platform does, so that it
    // never clashes with "$class". Strings are written up to their first NUL.
    void encodeObject(const Value& value, std::string_view key);
    void encodeBool(bool value, std::string_view key);
    void encodeInt(int64_t value, std::string_view key);
    void encodeDouble(double value, std::string_view key);
    void encodeFloat(float value, std::string_view key);
    void encodeBytes(const Data& bytes, std::string_view key);
    // A field as read by KeyedUnarchiver::decodeArchiveField, written back in
    // the same form. Throws ArchiveError for an inline field that holds nil,
    // a container or an object.
    void encodeArchiveField(const ArchiveField& field, std::string_view key);

    KeyedArchiver(const KeyedArchiver&) = delete;
    KeyedArchiver& operator=(const KeyedArchiver&) = delete;
    ~KeyedArchiver();

private:
    KeyedArchiver();
    struct Impl;
    Impl* impl_;
};

}  // namespace tollvane
