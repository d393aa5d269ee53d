#pragma once

// Writes a binary property list ("bplist00"). The archiver writes through
// this rather than libplist, whose writer looks up every object it writes in
// a hash table of fixed size and so takes time growing with the square of the
// object count (seconds for an archive of some ten thousand objects).
//
// Layout, as the platform's writer and others lay it out: the top object
// first, every container before its members, equal strings, numbers, UIDs and
// data written once; references and offsets as narrow as the counts allow.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/archive/Value.h"

namespace tollvane {

// A property-list value to be written. An archive holds millions of them,
// nearly all scalars, so a node is two words and what only strings, data and
// containers need lives behind a pointer, made on first use.
struct PlistNode {
    enum class Type : uint8_t { Bool, Integer, Real, String, Data, UID, Array, Dictionary };

    Type type = Type::Bool;
    // Bool: 0 or 1. Integer: the value, two's complement. Real: the bits of
    // the double. UID: the UID.
    uint64_t number = 0;

    PlistNode() = default;
    PlistNode(PlistNode&&) noexcept = default;
    PlistNode& operator=(PlistNode&&) noexcept = default;

    // String: UTF-8 text (invalid sequences are written as U+FFFD). Data: the
    // bytes.
    std::string& bytes() { return payload().bytes; }
    const std::string& bytes() const { return payload_ ? payload_->bytes : empty().bytes; }
    // Dictionary: the keys, in order, each with the value at the same index
    // of `items`. The keys are views: the text must outlive the write (the
    // archiver keeps one copy of each distinct key for the whole archive).
    std::vector<std::string_view>& keys() { return payload().keys; }
    const std::vector<std::string_view>& keys() const { return payload_ ? payload_->keys : empty().keys; }
    // Array: the elements. Dictionary: the values.
    std::vector<PlistNode>& items() { return payload().items; }
    const std::vector<PlistNode>& items() const { return payload_ ? payload_->items : empty().items; }

    static PlistNode boolean(bool value);
    static PlistNode integer(int64_t value);
    static PlistNode real(double value);
    static PlistNode string(std::string text);
    static PlistNode data(const uint8_t* bytes, size_t size);
    static PlistNode uid(uint64_t value);
    static PlistNode array();
    static PlistNode dictionary();

private:
    struct Payload {
        std::string bytes;
        std::vector<std::string_view> keys;
        std::vector<PlistNode> items;
    };
    Payload& payload() {
        if (!payload_) payload_ = std::make_unique<Payload>();
        return *payload_;
    }
    static const Payload& empty() {
        static const Payload none;
        return none;
    }
    std::unique_ptr<Payload> payload_;
};

class BinaryPlistWriter {
public:
    // The binary property list of `top`. Throws ArchiveError when containers
    // nest deeper than readers accept (BinaryPlistCheck::kMaxDepth).
    static Data write(const PlistNode& top);
};

}  // namespace tollvane
