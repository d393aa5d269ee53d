#include "platform/PropertyList.h"

#include <plist/plist.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tollvane {

namespace {

struct PlistFree {
    void operator()(void* node) const {
        if (node) plist_free(node);
    }
};
using PlistPtr = std::unique_ptr<void, PlistFree>;

struct MallocFree {
    void operator()(void* p) const { std::free(p); }
};
template <class T>
using Malloced = std::unique_ptr<T, MallocFree>;

std::string depthMessage() {
    return "property list is nested deeper than " + std::to_string(PropertyList::maximumDepth) + " levels";
}

std::string nodesMessage() {
    return "property list holds more than " + std::to_string(PropertyList::maximumNodes) + " values";
}

// libplist takes C strings and converts UTF-8 to UTF-16 for the binary form
// without checking it, so bad text is stopped here.
void checkText(const std::string& text, const char* what) {
    if (text.find('\0') != std::string::npos) {
        throw PropertyListError(std::string(what) + " holds a NUL character");
    }
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    size_t n = text.size();
    for (size_t i = 0; i < n;) {
        unsigned char c = p[i];
        size_t length;
        uint32_t codePoint;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            length = 2;
            codePoint = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            length = 3;
            codePoint = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            length = 4;
            codePoint = c & 0x07;
        } else {
            throw PropertyListError(std::string(what) + " is not valid UTF-8");
        }
        if (i + length > n) throw PropertyListError(std::string(what) + " is not valid UTF-8");
        for (size_t k = 1; k < length; ++k) {
            if ((p[i + k] & 0xC0) != 0x80) throw PropertyListError(std::string(what) + " is not valid UTF-8");
            codePoint = (codePoint << 6) | (p[i + k] & 0x3F);
        }
        static constexpr uint32_t kSmallest[5] = {0, 0, 0x80, 0x800, 0x10000};
        if (codePoint < kSmallest[length] || codePoint > 0x10FFFF ||
            (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
            throw PropertyListError(std::string(what) + " is not valid UTF-8");
        }
        i += length;
    }
}

PlistPtr build(const Value& value, size_t depth) {
    if (depth > PropertyList::maximumDepth) throw PropertyListError(depthMessage());
    switch (value.type()) {
        case Value::Type::Null:
            throw PropertyListError("nil cannot be stored in a property list");
        case Value::Type::Bool:
            return PlistPtr(plist_new_bool(value.toBool() ? 1 : 0));
        case Value::Type::Integer:
            // The binary form stores 8-byte integers signed, so the bit pattern carries the sign.
            return PlistPtr(plist_new_uint(static_cast<uint64_t>(value.toInt64())));
        case Value::Type::Real:
            return PlistPtr(plist_new_real(value.toDouble()));
        case Value::Type::String:
            checkText(value.stringValue(), "a string");
            return PlistPtr(plist_new_string(value.stringValue().c_str()));
        case Value::Type::Data: {
            const Data& data = value.dataValue();
            static const char kNoBytes = 0;
            const char* bytes = data.empty() ? &kNoBytes : reinterpret_cast<const char*>(data.data());
            return PlistPtr(plist_new_data(bytes, data.size()));
        }
        case Value::Type::Array: {
            PlistPtr array(plist_new_array());
            for (const Value& item : value.arrayValue()->items) {
                plist_array_append_item(array.get(), build(item, depth + 1).release());
            }
            return array;
        }
        case Value::Type::Dictionary: {
            PlistPtr dictionary(plist_new_dict());
            for (const auto& [key, item] : value.dictionaryValue()->entries) {
                if (!key.isString()) throw PropertyListError("a dictionary key is not a string");
                checkText(key.stringValue(), "a dictionary key");
                plist_dict_set_item(dictionary.get(), key.stringValue().c_str(),
                                    build(item, depth + 1).release());
            }
            return dictionary;
        }
        case Value::Type::Object:
            throw PropertyListError("an archived object cannot be stored in a plain property list");
    }
    throw PropertyListError("unknown value type");
}

Value read(plist_t node, size_t depth) {
    if (depth > PropertyList::maximumDepth) throw PropertyListError(depthMessage());
    switch (plist_get_node_type(node)) {
        case PLIST_BOOLEAN: {
            uint8_t b = 0;
            plist_get_bool_val(node, &b);
            return Value(b != 0);
        }
        case PLIST_UINT: {
            uint64_t u = 0;
            plist_get_uint_val(node, &u);
            return Value(static_cast<int64_t>(u));
        }
        case PLIST_REAL: {
            double d = 0;
            plist_get_real_val(node, &d);
            return Value(d);
        }
        case PLIST_STRING: {
            uint64_t length = 0;
            const char* s = plist_get_string_ptr(node, &length);
            return Value(s ? std::string(s, length) : std::string());
        }
        case PLIST_DATA: {
            uint64_t length = 0;
            const auto* begin = reinterpret_cast<const uint8_t*>(plist_get_data_ptr(node, &length));
            return Value(begin ? Data(begin, begin + length) : Data());
        }
        case PLIST_DATE: {
            int32_t seconds = 0;
            int32_t micros = 0;
            plist_get_date_val(node, &seconds, &micros);
            return Value(static_cast<double>(seconds) + static_cast<double>(micros) / 1e6);
        }
        case PLIST_ARRAY: {
            auto array = std::make_shared<ValueArray>();
            uint32_t count = plist_array_get_size(node);
            array->items.reserve(count);
            for (uint32_t i = 0; i < count; ++i) {
                plist_t item = plist_array_get_item(node, i);
                if (!item) throw PropertyListError("array item missing");
                array->items.push_back(read(item, depth + 1));
            }
            return Value(std::move(array));
        }
        case PLIST_DICT: {
            auto dictionary = std::make_shared<ValueDictionary>();
            std::unordered_map<std::string, size_t> positions;
            plist_dict_iter iterator = nullptr;
            plist_dict_new_iter(node, &iterator);
            Malloced<void> ownedIterator(iterator);
            for (;;) {
                char* key = nullptr;
                plist_t item = nullptr;
                plist_dict_next_item(node, iterator, &key, &item);
                Malloced<char> ownedKey(key);
                if (!item) break;
                if (!key) throw PropertyListError("dictionary key missing");
                Value value = read(item, depth + 1);
                // A repeated key keeps its first place and its last value.
                auto [at, inserted] = positions.emplace(key, dictionary->entries.size());
                if (inserted) {
                    dictionary->entries.emplace_back(Value(std::string(key)), std::move(value));
                } else {
                    dictionary->entries[at->second].second = std::move(value);
                }
            }
            return Value(std::move(dictionary));
        }
        case PLIST_UID:
            throw PropertyListError("property list holds a UID, which only keyed archives use");
        default:
            throw PropertyListError("property list holds a value of unknown type");
    }
}

// Checks the structure of a binary property list before libplist parses it:
// libplist recurses once per level and copies a shared object at every
// reference, so deep nesting overflows its stack and a few shared arrays
// expand exponentially. Also rejects references out of range and cycles.
class BinaryScan {
public:
    BinaryScan(const uint8_t* bytes, size_t size) : bytes_(bytes) {
        constexpr size_t kHeader = 8;
        constexpr size_t kTrailer = 32;
        if (size < kHeader + kTrailer + 1 || std::memcmp(bytes, "bplist00", kHeader) != 0) {
            throw PropertyListError("binary property list is truncated or has an unknown version");
        }
        const uint8_t* trailer = bytes + size - kTrailer;
        offsetSize_ = trailer[6];
        refSize_ = trailer[7];
        numObjects_ = readUnsigned(size - kTrailer + 8, 8);
        uint64_t topObject = readUnsigned(size - kTrailer + 16, 8);
        offsetTable_ = readUnsigned(size - kTrailer + 24, 8);
        if (offsetSize_ < 1 || offsetSize_ > 8 || refSize_ < 1 || refSize_ > 8) {
            throw PropertyListError("binary property list has a bad trailer");
        }
        if (numObjects_ == 0 || topObject >= numObjects_) {
            throw PropertyListError("binary property list has no top object");
        }
        if (numObjects_ > PropertyList::maximumNodes) throw PropertyListError(nodesMessage());
        uint64_t trailerStart = size - kTrailer;
        if (offsetTable_ < kHeader || offsetTable_ > trailerStart ||
            numObjects_ > (trailerStart - offsetTable_) / offsetSize_) {
            throw PropertyListError("binary property list has a bad offset table");
        }
        topObject_ = topObject;
    }

    void run() {
        constexpr uint16_t kUnvisited = 0;
        constexpr uint16_t kInProgress = 0xFFFF;
        std::vector<uint16_t> depth(numObjects_, kUnvisited);
        std::vector<uint32_t> nodes(numObjects_, 0);
        struct Frame {
            uint64_t object;
            uint64_t refs;
            uint64_t refCount;
            uint64_t next = 0;
            uint16_t deepestChild = 0;
            uint64_t nodeSum = 0;
        };
        std::vector<Frame> stack;

        auto enter = [&](uint64_t object) -> bool {
            uint64_t refs = 0;
            uint64_t count = 0;
            if (!containerRefs(object, refs, count)) {
                depth[object] = 1;
                nodes[object] = 1;
                return false;
            }
            if (stack.size() >= PropertyList::maximumDepth) throw PropertyListError(depthMessage());
            depth[object] = kInProgress;
            stack.push_back(Frame{object, refs, count});
            return true;
        };

        enter(topObject_);
        while (!stack.empty()) {
            Frame& frame = stack.back();
            if (frame.next < frame.refCount) {
                uint64_t child = readUnsigned(frame.refs + frame.next * refSize_, refSize_);
                ++frame.next;
                if (child >= numObjects_)
                    throw PropertyListError("binary property list refers past its objects");
                if (depth[child] == kInProgress)
                    throw PropertyListError("binary property list contains itself");
                if (depth[child] == kUnvisited && enter(child)) continue;
                if (stack.size() + depth[child] > PropertyList::maximumDepth) {
                    throw PropertyListError(depthMessage());
                }
                frame.deepestChild = std::max(frame.deepestChild, depth[child]);
                frame.nodeSum += nodes[child];
                if (frame.nodeSum > PropertyList::maximumNodes) throw PropertyListError(nodesMessage());
                continue;
            }
            uint64_t done = frame.object;
            depth[done] = static_cast<uint16_t>(frame.deepestChild + 1);
            if (frame.nodeSum + 1 > PropertyList::maximumNodes) throw PropertyListError(nodesMessage());
            nodes[done] = static_cast<uint32_t>(frame.nodeSum + 1);
            stack.pop_back();
            if (!stack.empty()) {
                Frame& parent = stack.back();
                parent.deepestChild = std::max(parent.deepestChild, depth[done]);
                parent.nodeSum += nodes[done];
                if (parent.nodeSum > PropertyList::maximumNodes) throw PropertyListError(nodesMessage());
            }
        }
    }

private:
    uint64_t readUnsigned(uint64_t position, size_t width) const {
        uint64_t value = 0;
        for (size_t i = 0; i < width; ++i) value = (value << 8) | bytes_[position + i];
        return value;
    }

    // The count in an object's marker, or the integer after it when the
    // marker's count is 15; `position` moves past both.
    uint64_t markerCount(uint8_t marker, uint64_t& position) const {
        uint64_t count = marker & 0x0F;
        if (count != 0x0F) return count;
        if (position >= offsetTable_) throw PropertyListError("binary property list is truncated");
        uint8_t intMarker = bytes_[position];
        if ((intMarker >> 4) != 0x1 || (intMarker & 0x0F) > 3) {
            throw PropertyListError("binary property list has a bad length");
        }
        size_t width = size_t{1} << (intMarker & 0x0F);
        if (position + 1 + width > offsetTable_) throw PropertyListError("binary property list is truncated");
        count = readUnsigned(position + 1, width);
        position += 1 + width;
        return count;
    }

    // For an array, set or dictionary: where its references start and how
    // many there are. False for any other object, after checking that a
    // string holds no NUL (libplist aborts on one).
    bool containerRefs(uint64_t object, uint64_t& refs, uint64_t& count) const {
        uint64_t offset = readUnsigned(offsetTable_ + object * offsetSize_, offsetSize_);
        if (offset < 8 || offset >= offsetTable_)
            throw PropertyListError("binary property list has a bad offset");
        uint8_t marker = bytes_[offset];
        uint8_t kind = marker >> 4;
        uint64_t position = offset + 1;
        if (kind == 0x5 || kind == 0x6) {
            uint64_t length = markerCount(marker, position);
            uint64_t unit = kind == 0x5 ? 1 : 2;
            if (length > (offsetTable_ - position) / unit)
                throw PropertyListError("binary property list is truncated");
            for (uint64_t i = 0; i < length; ++i) {
                bool zero = unit == 1 ? bytes_[position + i] == 0
                                      : bytes_[position + 2 * i] == 0 && bytes_[position + 2 * i + 1] == 0;
                if (zero) throw PropertyListError("binary property list has a NUL in a string");
            }
            return false;
        }
        if (kind != 0xA && kind != 0xC && kind != 0xD) return false;
        count = markerCount(marker, position);
        uint64_t perEntry = kind == 0xD ? 2 : 1;
        uint64_t room = (offsetTable_ - position) / refSize_;
        if (count > room / perEntry) throw PropertyListError("binary property list is truncated");
        count *= perEntry;
        refs = position;
        return true;
    }

    const uint8_t* bytes_;
    size_t offsetSize_ = 0;
    size_t refSize_ = 0;
    uint64_t numObjects_ = 0;
    uint64_t topObject_ = 0;
    uint64_t offsetTable_ = 0;
};

bool startsWith(std::string_view text, size_t at, std::string_view prefix) {
    return text.size() - at >= prefix.size() && text.compare(at, prefix.size(), prefix) == 0;
}

// The same limits for XML, counted from the tags. Comments, CDATA sections
// and declarations are skipped so that tags inside them cannot hide the
// real nesting; whatever else is odd is left to libplist to refuse.
void scanXML(std::string_view text) {
    // libplist aborts on a string holding NUL, raw or as a character reference.
    if (text.find('\0') != std::string_view::npos)
        throw PropertyListError("XML property list holds a NUL byte");
    for (size_t at = text.find("&#"); at != std::string_view::npos; at = text.find("&#", at + 2)) {
        size_t digits = at + 2;
        if (digits < text.size() && (text[digits] == 'x' || text[digits] == 'X')) ++digits;
        size_t end = digits;
        while (end < text.size() && text[end] == '0') ++end;
        if (end > digits && end < text.size() && text[end] == ';') {
            throw PropertyListError("XML property list holds a NUL character");
        }
    }
    size_t depth = 0;
    uint64_t elements = 0;
    for (size_t i = text.find('<'); i != std::string_view::npos; i = text.find('<', i + 1)) {
        if (startsWith(text, i, "<!--")) {
            i = text.find("-->", i + 4);
            if (i == std::string_view::npos) return;
            continue;
        }
        if (startsWith(text, i, "<![CDATA[")) {
            i = text.find("]]>", i + 9);
            if (i == std::string_view::npos) return;
            continue;
        }
        if (i + 1 >= text.size()) return;
        char next = text[i + 1];
        if (next == '!' || next == '?') continue;
        bool closing = next == '/';
        size_t nameStart = i + 1 + (closing ? 1 : 0);
        size_t nameEnd = nameStart;
        while (nameEnd < text.size() &&
               std::string_view(" \t\r\n/>").find(text[nameEnd]) == std::string_view::npos) {
            ++nameEnd;
        }
        std::string_view name = text.substr(nameStart, nameEnd - nameStart);
        bool container = name == "array" || name == "dict";
        if (closing) {
            if (container && depth > 0) --depth;
            continue;
        }
        if (++elements > PropertyList::maximumNodes + 1) throw PropertyListError(nodesMessage());
        if (!container) continue;
        size_t end = text.find('>', nameEnd);
        if (end == std::string_view::npos) return;
        if (text[end - 1] == '/') continue;
        if (++depth > PropertyList::maximumDepth) throw PropertyListError(depthMessage());
    }
}

}  // namespace

Data PropertyList::dataFromValue(const Value& value, Format format) {
    PlistPtr root = build(value, 1);
    char* bytes = nullptr;
    uint32_t length = 0;
    if (format == Format::Binary) {
        plist_to_bin(root.get(), &bytes, &length);
    } else {
        plist_to_xml(root.get(), &bytes, &length);
    }
    if (!bytes) throw PropertyListError("property list could not be written");
    const auto* begin = reinterpret_cast<const uint8_t*>(bytes);
    Data data(begin, begin + length);
    if (format == Format::Binary) {
        plist_to_bin_free(bytes);
    } else {
        plist_to_xml_free(bytes);
    }
    return data;
}

Value PropertyList::valueFromData(const Data& data) {
    return valueFromData(data.data(), data.size());
}

Value PropertyList::valueFromData(const uint8_t* bytes, size_t size) {
    if (size == 0 || bytes == nullptr) throw PropertyListError("property list is empty");
    if (size > std::numeric_limits<uint32_t>::max()) throw PropertyListError("property list is too large");
    const char* chars = reinterpret_cast<const char*>(bytes);
    plist_t root = nullptr;
    if (size >= 6 && std::memcmp(bytes, "bplist", 6) == 0) {
        BinaryScan(bytes, size).run();
        plist_from_bin(chars, static_cast<uint32_t>(size), &root);
    } else {
        std::string_view text(chars, size);
        size_t start = startsWith(text, 0, "\xEF\xBB\xBF") ? 3 : 0;
        start = text.find_first_not_of(" \t\r\n", start);
        if (start == std::string_view::npos || text[start] != '<') {
            throw PropertyListError("data is not a property list");
        }
        scanXML(text);
        plist_from_xml(chars, static_cast<uint32_t>(size), &root);
    }
    if (!root) throw PropertyListError("property list is malformed");
    PlistPtr owned(root);
    return read(root, 1);
}

bool PropertyList::isPropertyList(const Value& value, std::string* problem) {
    try {
        build(value, 1);
        return true;
    } catch (const PropertyListError& error) {
        if (problem) *problem = error.what();
        return false;
    }
}

}  // namespace tollvane
