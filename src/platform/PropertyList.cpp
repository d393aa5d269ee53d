#include "platform/PropertyList.h"

#include "platform/archive/ArchiveError.h"
#include "platform/archive/BinaryPlistCheck.h"

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
        // libplist trusts what it reads; the archive reader's structural check
        // (offsets, references, cycles, depth, expansion, keys) guards it.
        try {
            BinaryPlistCheck::check(bytes, size);
        } catch (const ArchiveError& error) {
            throw PropertyListError(error.what());
        }
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
