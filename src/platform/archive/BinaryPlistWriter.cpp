#include "platform/archive/BinaryPlistWriter.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <string_view>
#include <unordered_map>

#include "platform/archive/ArchiveError.h"
#include "platform/archive/ArchiveString.h"
#include "platform/archive/BinaryPlistCheck.h"

namespace tollvane {

PlistNode PlistNode::boolean(bool value) {
    PlistNode node;
    node.number = value ? 1 : 0;
    return node;
}

PlistNode PlistNode::integer(int64_t value) {
    PlistNode node;
    node.type = Type::Integer;
    node.number = static_cast<uint64_t>(value);
    return node;
}

PlistNode PlistNode::real(double value) {
    PlistNode node;
    node.type = Type::Real;
    node.number = std::bit_cast<uint64_t>(value);
    return node;
}

PlistNode PlistNode::string(std::string text) {
    PlistNode node;
    node.type = Type::String;
    node.bytes() = std::move(text);
    return node;
}

PlistNode PlistNode::data(const uint8_t* bytes, size_t size) {
    PlistNode node;
    node.type = Type::Data;
    node.bytes().assign(reinterpret_cast<const char*>(bytes), size);
    return node;
}

PlistNode PlistNode::uid(uint64_t value) {
    PlistNode node;
    node.type = Type::UID;
    node.number = value;
    return node;
}

PlistNode PlistNode::array() {
    PlistNode node;
    node.type = Type::Array;
    return node;
}

PlistNode PlistNode::dictionary() {
    PlistNode node;
    node.type = Type::Dictionary;
    return node;
}

namespace {

// The bytes an unsigned number needs: 1, 2, 4 or 8.
unsigned widthFor(uint64_t value) {
    if (value <= 0xFF) return 1;
    if (value <= 0xFFFF) return 2;
    if (value <= 0xFFFFFFFF) return 4;
    return 8;
}

unsigned log2Width(unsigned width) {
    return width == 1 ? 0 : width == 2 ? 1 : width == 4 ? 2 : 3;
}

// Valid UTF-8 as UTF-16 code units.
std::u16string utf16(std::string_view valid) {
    std::u16string units;
    units.reserve(valid.size());
    for (size_t i = 0; i < valid.size();) {
        const auto byte = [&](size_t k) {
            return static_cast<uint32_t>(static_cast<unsigned char>(valid[k]));
        };
        uint32_t lead = byte(i);
        uint32_t code;
        if (lead < 0x80) {
            code = lead;
            i += 1;
        } else if (lead < 0xE0) {
            code = ((lead & 0x1F) << 6) | (byte(i + 1) & 0x3F);
            i += 2;
        } else if (lead < 0xF0) {
            code = ((lead & 0x0F) << 12) | ((byte(i + 1) & 0x3F) << 6) | (byte(i + 2) & 0x3F);
            i += 3;
        } else {
            code = ((lead & 0x07) << 18) | ((byte(i + 1) & 0x3F) << 12) | ((byte(i + 2) & 0x3F) << 6) |
                   (byte(i + 3) & 0x3F);
            i += 4;
        }
        if (code >= 0x10000) {
            code -= 0x10000;
            units.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
            units.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
        } else {
            units.push_back(static_cast<char16_t>(code));
        }
    }
    return units;
}

bool isASCII(std::string_view text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    }
    return true;
}

class Writer {
public:
    Data run(const PlistNode& top) {
        flatten(top, 1);
        const unsigned refWidth = widthFor(table_.size() - 1);
        Data out = {'b', 'p', 'l', 'i', 's', 't', '0', '0'};
        // Most objects are small: a marker and a few bytes or references.
        out.reserve(out.size() + table_.size() * 8 + refs_.size() * refWidth + 64);
        std::vector<uint64_t> offsets;
        offsets.reserve(table_.size());
        for (const Entry& entry : table_) {
            offsets.push_back(out.size());
            writeObject(out, entry, refWidth);
        }
        const uint64_t tableOffset = out.size();
        const unsigned offsetWidth = widthFor(offsets.empty() ? 0 : offsets.back());
        out.reserve(out.size() + offsets.size() * offsetWidth + 32);
        const size_t at = out.size();
        out.resize(at + offsets.size() * offsetWidth);
        putBigEndian(out.data() + at, offsets.data(), offsets.size(), offsetWidth);
        out.insert(out.end(), 6, 0);
        out.push_back(static_cast<uint8_t>(offsetWidth));
        out.push_back(static_cast<uint8_t>(refWidth));
        appendBigEndian(out, table_.size(), 8);
        appendBigEndian(out, 0, 8);
        appendBigEndian(out, tableOffset, 8);
        return out;
    }

private:
    // One object of the table: a node, or, when `node` is null, the
    // dictionary key `keys_[first]`. A container's references are
    // `refs_[first, first + refCount)`.
    struct Entry {
        const PlistNode* node;
        uint32_t first;
        uint32_t refCount;
    };

    // Dictionary keys recur in every record, mostly as views of the same
    // text: a small cache by address spares hashing the text each time.
    struct KeySlot {
        const char* data = nullptr;
        size_t size = 0;
        uint32_t index = 0;
    };
    static constexpr size_t kKeySlots = 256;

    // Record fields repeat a few small numbers: the same kind of cache, by
    // value, in front of the number tables.
    struct NumberSlot {
        uint64_t number = 0;
        uint32_t index = 0;
        PlistNode::Type type = PlistNode::Type::Bool;
        bool used = false;
    };
    static constexpr size_t kNumberSlots = 256;
    static size_t numberSlot(PlistNode::Type type, uint64_t number) {
        return static_cast<size_t>(((number ^ static_cast<uint64_t>(type)) * 0x9E3779B97F4A7C15ull) >> 56);
    }

    uint32_t add(const PlistNode* node) {
        table_.push_back({node, 0, 0});
        return static_cast<uint32_t>(table_.size() - 1);
    }

    uint32_t add(std::string_view key) {
        table_.push_back({nullptr, static_cast<uint32_t>(keys_.size()), 0});
        keys_.push_back(key);
        return static_cast<uint32_t>(table_.size() - 1);
    }

    uint32_t addKey(std::string_view key) {
        const auto bits = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(key.data())) ^ key.size();
        KeySlot& slot = keySlots_[(bits * 0x9E3779B97F4A7C15ull) >> 56];
        if (slot.data == key.data() && slot.size == key.size() && key.data() != nullptr) return slot.index;
        auto [it, inserted] = strings_.try_emplace(key, 0);
        if (inserted) it->second = add(key);
        slot = {key.data(), key.size(), it->second};
        return it->second;
    }

    // An archive refers to each of its objects by a UID, nearly all once:
    // hashing hundreds of thousands of them costs more than a table indexed
    // by the UID itself.
    static constexpr uint64_t kDenseUIDLimit = uint64_t{1} << 24;
    uint32_t addUID(const PlistNode& node) {
        const auto uid = static_cast<size_t>(node.number);
        if (uid >= uidIndex_.size()) uidIndex_.resize(std::max(uid + 1, uidIndex_.size() * 2), 0);
        if (uidIndex_[uid] == 0) uidIndex_[uid] = add(&node) + 1;
        return uidIndex_[uid] - 1;
    }

    uint32_t flatten(const PlistNode& node, size_t depth) {
        using Type = PlistNode::Type;
        if (depth > BinaryPlistCheck::kMaxDepth) {
            throw ArchiveError("cannot write values nested deeper than " +
                               std::to_string(BinaryPlistCheck::kMaxDepth) + " levels");
        }
        switch (node.type) {
            case Type::String: {
                auto [it, inserted] = strings_.try_emplace(node.bytes(), 0);
                if (inserted) it->second = add(&node);
                return it->second;
            }
            case Type::Data: {
                auto [it, inserted] = data_.try_emplace(node.bytes(), 0);
                if (inserted) it->second = add(&node);
                return it->second;
            }
            case Type::UID:
                if (node.number < kDenseUIDLimit) return addUID(node);
                [[fallthrough]];
            case Type::Bool:
            case Type::Integer:
            case Type::Real: {
                NumberSlot& slot = numberSlots_[numberSlot(node.type, node.number)];
                if (slot.used && slot.type == node.type && slot.number == node.number) return slot.index;
                auto [it, inserted] = numbers_[static_cast<size_t>(node.type)].try_emplace(node.number, 0);
                if (inserted) it->second = add(&node);
                slot = {node.number, it->second, node.type, true};
                return it->second;
            }
            case Type::Array:
            case Type::Dictionary:
                break;
        }
        if (node.type == Type::Dictionary && node.keys().size() != node.items().size()) {
            throw ArchiveError("cannot write a dictionary of " + std::to_string(node.keys().size()) +
                               " keys and " + std::to_string(node.items().size()) + " values");
        }
        const uint32_t index = add(&node);
        const size_t keyCount = node.type == Type::Dictionary ? node.keys().size() : 0;
        const size_t first = refs_.size();
        const size_t count = keyCount + node.items().size();
        refs_.resize(first + count);
        table_[index].first = static_cast<uint32_t>(first);
        table_[index].refCount = static_cast<uint32_t>(count);
        for (size_t i = 0; i < keyCount; ++i) refs_[first + i] = addKey(node.keys()[i]);
        for (size_t i = 0; i < node.items().size(); ++i) {
            const uint32_t ref = flatten(node.items()[i], depth + 1);
            refs_[first + keyCount + i] = ref;
        }
        return index;
    }

    // The bulk of an archive: sized once, then filled in place.
    void appendRefs(Data& out, const Entry& entry, unsigned refWidth) const {
        const size_t at = out.size();
        out.resize(at + static_cast<size_t>(entry.refCount) * refWidth);
        putBigEndian(out.data() + at, refs_.data() + entry.first, entry.refCount, refWidth);
    }

    // Writes `count` values of `width` bytes each, most significant first.
    // The width is one of four: each gets its own loop, so that the compiler
    // writes whole words rather than a byte at a time.
    template <class T>
    static void putBigEndian(uint8_t* to, const T* values, size_t count, unsigned width) {
        switch (width) {
            case 1:
                for (size_t i = 0; i < count; ++i) to[i] = static_cast<uint8_t>(values[i]);
                return;
            case 2:
                for (size_t i = 0; i < count; ++i) {
                    const uint16_t value = __builtin_bswap16(static_cast<uint16_t>(values[i]));
                    std::memcpy(to + 2 * i, &value, 2);
                }
                return;
            case 4:
                for (size_t i = 0; i < count; ++i) {
                    const uint32_t value = __builtin_bswap32(static_cast<uint32_t>(values[i]));
                    std::memcpy(to + 4 * i, &value, 4);
                }
                return;
            default:
                for (size_t i = 0; i < count; ++i) {
                    const uint64_t value = __builtin_bswap64(static_cast<uint64_t>(values[i]));
                    std::memcpy(to + 8 * i, &value, 8);
                }
                return;
        }
    }

    static void appendBigEndian(Data& out, uint64_t value, unsigned width) {
        for (unsigned i = width; i-- > 0;) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }

    // A marker with a count: in its low nibble, or after it as an integer.
    static void appendMarker(Data& out, uint8_t type, uint64_t count) {
        if (count < 15) {
            out.push_back(static_cast<uint8_t>(type | count));
            return;
        }
        out.push_back(static_cast<uint8_t>(type | 0x0F));
        const unsigned width = widthFor(count);
        out.push_back(static_cast<uint8_t>(0x10 | log2Width(width)));
        appendBigEndian(out, count, width);
    }

    // Strings are cut at NUL and repaired like every string the archives
    // hold; libplist, reading, would refuse a key with a NUL in it.
    static void writeString(Data& out, std::string_view raw) {
        const std::string text = archivableString(raw);
        if (isASCII(text)) {
            appendMarker(out, 0x50, text.size());
            out.insert(out.end(), text.begin(), text.end());
            return;
        }
        const std::u16string units = utf16(text);
        appendMarker(out, 0x60, units.size());
        for (char16_t unit : units) appendBigEndian(out, unit, 2);
    }

    void writeObject(Data& out, const Entry& entry, unsigned refWidth) const {
        if (!entry.node) {
            writeString(out, keys_[entry.first]);
            return;
        }
        const PlistNode& node = *entry.node;
        using Type = PlistNode::Type;
        switch (node.type) {
            case Type::Bool:
                out.push_back(node.number ? 0x09 : 0x08);
                break;
            case Type::Integer: {
                // One, two and four bytes are unsigned, eight signed.
                const unsigned width = static_cast<int64_t>(node.number) < 0 ? 8 : widthFor(node.number);
                out.push_back(static_cast<uint8_t>(0x10 | log2Width(width)));
                appendBigEndian(out, node.number, width);
                break;
            }
            case Type::Real:
                out.push_back(0x23);
                appendBigEndian(out, node.number, 8);
                break;
            case Type::String:
                writeString(out, node.bytes());
                break;
            case Type::Data:
                appendMarker(out, 0x40, node.bytes().size());
                out.insert(out.end(), node.bytes().begin(), node.bytes().end());
                break;
            case Type::UID: {
                const unsigned width = widthFor(node.number);
                out.push_back(static_cast<uint8_t>(0x80 | (width - 1)));
                appendBigEndian(out, node.number, width);
                break;
            }
            case Type::Array:
            case Type::Dictionary:
                appendMarker(out, node.type == Type::Array ? 0xA0 : 0xD0, node.items().size());
                appendRefs(out, entry, refWidth);
                break;
        }
    }

    std::vector<Entry> table_;
    std::vector<uint32_t> refs_;
    std::vector<std::string_view> keys_;
    KeySlot keySlots_[kKeySlots];
    NumberSlot numberSlots_[kNumberSlots];
    std::vector<uint32_t> uidIndex_;  // table index + 1 by UID; 0: not yet written
    std::unordered_map<std::string_view, uint32_t> strings_;
    std::unordered_map<std::string_view, uint32_t> data_;
    std::unordered_map<uint64_t, uint32_t> numbers_[static_cast<size_t>(PlistNode::Type::UID) + 1];
};

}  // namespace

Data BinaryPlistWriter::write(const PlistNode& top) {
    return Writer().run(top);
}

}  // namespace tollvane
