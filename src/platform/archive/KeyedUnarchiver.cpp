#include "platform/archive/KeyedUnarchiver.h"

#include <plist/plist.h>

#include <cstdlib>
#include <functional>
#include <limits>
#include <memory>
#include <unordered_map>
#include <unordered_set>

#include "platform/archive/ArchiveClassRegistry.h"
#include "platform/archive/ArchiveError.h"
#include "platform/archive/ArchiveString.h"
#include "platform/archive/BinaryPlistCheck.h"
#include "platform/archive/GenericArchiveObject.h"

namespace tollvane {

namespace {

// The deepest chain of objects decoded inside one another; the archiver
// refuses to write deeper graphs, so whatever is read here writes back.
constexpr size_t kMaxObjectDepth = 512;

const char* typeName(plist_t node) {
    switch (plist_get_node_type(node)) {
        case PLIST_BOOLEAN:
            return "a boolean";
        case PLIST_UINT:
            return "an integer";
        case PLIST_REAL:
            return "a real";
        case PLIST_STRING:
        case PLIST_KEY:
            return "a string";
        case PLIST_ARRAY:
            return "an array";
        case PLIST_DICT:
            return "a dictionary";
        case PLIST_DATE:
            return "a date";
        case PLIST_DATA:
            return "data";
        case PLIST_UID:
            return "a UID";
        default:
            return "an unknown value";
    }
}

bool isType(plist_t node, plist_type type) {
    return node && plist_get_node_type(node) == type;
}

// The elements of an array. libplist finds an element by index by walking
// the array, so arrays are only ever read front to back.
std::vector<plist_t> elementsOf(plist_t array) {
    std::vector<plist_t> elements;
    elements.reserve(plist_array_get_size(array));
    plist_array_iter iter = nullptr;
    plist_array_new_iter(array, &iter);
    if (!iter) return elements;
    for (;;) {
        plist_t item = nullptr;
        plist_array_next_item(array, iter, &item);
        if (!item) break;
        elements.push_back(item);
    }
    std::free(iter);
    return elements;
}

std::string stringOf(plist_t node) {
    uint64_t length = 0;
    const char* text = plist_get_string_ptr(node, &length);
    return text ? archivableString(std::string_view(text, length)) : std::string();
}

Data dataOf(plist_t node) {
    uint64_t length = 0;
    const char* bytes = plist_get_data_ptr(node, &length);
    if (!bytes) return {};
    return Data(reinterpret_cast<const uint8_t*>(bytes), reinterpret_cast<const uint8_t*>(bytes) + length);
}

uint64_t uidOf(plist_t node) {
    uint64_t uid = 0;
    plist_get_uid_val(node, &uid);
    return uid;
}

// A plist scalar as a Value, or nil for anything else.
Value scalarOf(plist_t node) {
    switch (plist_get_node_type(node)) {
        case PLIST_BOOLEAN: {
            uint8_t b = 0;
            plist_get_bool_val(node, &b);
            return Value(b != 0);
        }
        case PLIST_UINT: {
            uint64_t u = 0;
            plist_get_uint_val(node, &u);
            // Eight-byte integers are signed in a binary property list.
            return Value(static_cast<int64_t>(u));
        }
        case PLIST_REAL: {
            double d = 0;
            plist_get_real_val(node, &d);
            return Value(d);
        }
        case PLIST_STRING:
            return Value(stringOf(node));
        case PLIST_DATA:
            return Value(dataOf(node));
        default:
            return {};
    }
}

bool isScalar(plist_t node) {
    switch (plist_get_node_type(node)) {
        case PLIST_BOOLEAN:
        case PLIST_UINT:
        case PLIST_REAL:
        case PLIST_STRING:
        case PLIST_DATA:
            return true;
        default:
            return false;
    }
}

std::string escapedKey(std::string_view key) {
    std::string escaped = archivableString(key);
    if (!escaped.empty() && escaped[0] == '$') escaped.insert(escaped.begin(), '$');
    return escaped;
}

// Calls `visit(key, value)` for every key of a dictionary, in file order,
// with the key made archivable. A key that comes twice raises ArchiveError
// (`where` names the dictionary): which of the two a reader sees is up to
// the reader, and writing both back would change the archive. With
// `isRecord`, keys are unescaped and "$class" and the other reserved "$" keys
// are left out.
template <class Visit>
void forEachKey(plist_t dict, bool isRecord, const std::function<std::string()>& where, Visit visit) {
    plist_dict_iter iter = nullptr;
    plist_dict_new_iter(dict, &iter);
    if (!iter) return;
    std::unique_ptr<void, decltype(&std::free)> iterOwner(iter, &std::free);
    std::unordered_set<std::string> seen;
    for (;;) {
        char* rawKey = nullptr;
        plist_t value = nullptr;
        plist_dict_next_item(dict, iter, &rawKey, &value);
        if (!rawKey) break;
        std::unique_ptr<char, decltype(&std::free)> keyOwner(rawKey, &std::free);
        std::string_view key(rawKey);
        if (isRecord && key.size() >= 2 && key[0] == '$' && key[1] == '$') {
            key.remove_prefix(1);
        } else if (isRecord && !key.empty() && key[0] == '$') {
            continue;
        }
        std::string name = archivableString(key);
        if (!seen.insert(name).second) throw ArchiveError(where() + " has the key \"" + name + "\" twice");
        visit(std::move(name), value);
    }
}

}  // namespace

struct KeyedUnarchiver::Impl {
    enum : uint8_t { kNew, kDecoding, kDone };

    struct ClassInfo {
        std::string name;
        std::vector<std::string> chain;
    };

    // The object being decoded: its UID, record and class.
    struct Frame {
        uint64_t uid;
        plist_t record;
        const ClassInfo* cls;
    };

    KeyedUnarchiver* owner = nullptr;
    plist_t root = nullptr;
    std::vector<plist_t> objects;
    std::vector<Value> decoded;
    std::vector<uint8_t> state;
    // Values of unordered_map stay where they are when it grows.
    std::unordered_map<uint64_t, ClassInfo> classes;
    std::vector<Frame> stack;

    ~Impl() {
        if (root) plist_free(root);
    }

    static std::string describe(const Frame& frame) {
        return "object " + std::to_string(frame.uid) + " (" + frame.cls->name + ")";
    }

    static std::string describe(const Frame& frame, std::string_view key) {
        return describe(frame) + ": key \"" + std::string(key) + "\"";
    }

    // The place that holds a reference, named only when a message needs it.
    struct Where {
        const Frame* frame;
        std::string_view key;
        std::string text() const { return frame ? describe(*frame, key) : std::string(key); }
    };

    const Frame& current() const {
        if (stack.empty()) throw ArchiveError("a field was decoded outside a class's factory");
        return stack.back();
    }

    plist_t lookup(std::string_view key) const {
        return plist_dict_get_item(current().record, escapedKey(key).c_str());
    }

    void readRoot() {
        if (!isType(root, PLIST_DICT)) throw ArchiveError("the archive's root is not a dictionary");
        plist_t archiver = plist_dict_get_item(root, "$archiver");
        if (!archiver) throw ArchiveError("the archive has no \"$archiver\"");
        if (!isType(archiver, PLIST_STRING)) throw ArchiveError("\"$archiver\" is not a string");
        if (std::string name = stringOf(archiver); name != "NSKeyedArchiver") {
            throw ArchiveError("\"$archiver\" is \"" + name + "\", not \"NSKeyedArchiver\"");
        }
        plist_t version = plist_dict_get_item(root, "$version");
        if (!version) throw ArchiveError("the archive has no \"$version\"");
        if (!isType(version, PLIST_UINT)) throw ArchiveError("\"$version\" is not an integer");

        plist_t list = plist_dict_get_item(root, "$objects");
        if (!list) throw ArchiveError("the archive has no \"$objects\"");
        if (!isType(list, PLIST_ARRAY)) throw ArchiveError("\"$objects\" is not an array");
        objects = elementsOf(list);
        const size_t count = objects.size();
        if (objects.empty() || !isType(objects[0], PLIST_STRING) || stringOf(objects[0]) != "$null") {
            throw ArchiveError("\"$objects\" does not begin with \"$null\"");
        }
        decoded.resize(count);
        state.assign(count, kNew);
    }

    uint64_t topUID() const {
        plist_t top = plist_dict_get_item(root, "$top");
        if (!top) throw ArchiveError("the archive has no \"$top\"");
        if (!isType(top, PLIST_DICT)) throw ArchiveError("\"$top\" is not a dictionary");
        plist_t ref = plist_dict_get_item(top, "root");
        if (!ref) throw ArchiveError("\"$top\" has no \"root\"");
        if (!isType(ref, PLIST_UID)) throw ArchiveError("\"$top\" key \"root\" is not a UID");
        return uidOf(ref);
    }

    Value decodeReference(uint64_t uid, const Where& from) {
        if (uid >= objects.size()) {
            throw ArchiveError(from.text() + " refers to object " + std::to_string(uid) + ", beyond the " +
                               std::to_string(objects.size()) + " objects of the archive");
        }
        if (uid == 0) return {};
        if (state[uid] == kDone) return decoded[uid];
        if (state[uid] == kDecoding) {
            for (const Frame& frame : stack) {
                if (frame.uid == uid) throw ArchiveError(describe(frame) + " contains itself (a cycle)");
            }
            throw ArchiveError("object " + std::to_string(uid) + " contains itself (a cycle)");
        }
        plist_t node = objects[uid];
        Value value;
        if (isScalar(node)) {
            value = scalarOf(node);
        } else if (isType(node, PLIST_DICT)) {
            value = decodeRecord(uid, node);
        } else {
            throw ArchiveError("object " + std::to_string(uid) + " is " + typeName(node) +
                               ", which keyed archives do not hold in \"$objects\"");
        }
        decoded[uid] = value;
        state[uid] = kDone;
        return value;
    }

    const ClassInfo& classOf(uint64_t uid, plist_t record) {
        const auto where = [&] { return "object " + std::to_string(uid); };
        plist_t ref = plist_dict_get_item(record, "$class");
        if (!ref) throw ArchiveError(where() + " has no \"$class\"");
        if (!isType(ref, PLIST_UID)) throw ArchiveError(where() + ": \"$class\" is not a UID");
        const uint64_t classUID = uidOf(ref);
        if (classUID == 0 || classUID >= objects.size()) {
            throw ArchiveError(where() + ": \"$class\" refers to object " + std::to_string(classUID) +
                               ", which is not a class record");
        }
        if (auto it = classes.find(classUID); it != classes.end()) return it->second;

        const std::string recordName = "class record " + std::to_string(classUID) + " (of " + where() + ")";
        plist_t classRecord = objects[classUID];
        if (!isType(classRecord, PLIST_DICT)) throw ArchiveError(recordName + " is not a dictionary");
        plist_t name = plist_dict_get_item(classRecord, "$classname");
        if (!isType(name, PLIST_STRING)) throw ArchiveError(recordName + " has no \"$classname\" string");
        plist_t chain = plist_dict_get_item(classRecord, "$classes");
        if (!isType(chain, PLIST_ARRAY)) throw ArchiveError(recordName + " has no \"$classes\" array");
        ClassInfo info;
        info.name = stringOf(name);
        const std::vector<plist_t> names = elementsOf(chain);
        info.chain.reserve(names.size());
        for (plist_t item : names) {
            if (!isType(item, PLIST_STRING)) {
                throw ArchiveError(recordName + ": \"$classes\" holds " + typeName(item) +
                                   ", not a class name");
            }
            info.chain.push_back(stringOf(item));
        }
        return classes.emplace(classUID, std::move(info)).first->second;
    }

    Value decodeRecord(uint64_t uid, plist_t record) {
        if (stack.size() >= kMaxObjectDepth) {
            throw ArchiveError("objects nest deeper than " + std::to_string(kMaxObjectDepth) +
                               " levels (at object " + std::to_string(uid) + ")");
        }
        const ClassInfo& cls = classOf(uid, record);
        state[uid] = kDecoding;
        stack.push_back({uid, record, &cls});
        struct Pop {
            std::vector<Frame>& stack;
            ~Pop() { stack.pop_back(); }
        } pop{stack};

        const std::string& name = cls.name;
        if (name == "NSArray" || name == "NSMutableArray") return decodeArray(name == "NSMutableArray");
        if (name == "NSDictionary" || name == "NSMutableDictionary") {
            return decodeDictionary(name == "NSMutableDictionary");
        }
        if (name == "NSString" || name == "NSMutableString") return decodeWrapped("NS.string", PLIST_STRING);
        if (name == "NSData" || name == "NSMutableData") return decodeWrapped("NS.data", PLIST_DATA);
        if (const ArchiveClassRegistry::Factory* factory = ArchiveClassRegistry::factoryForClass(name)) {
            std::shared_ptr<Archivable> object = (*factory)(*owner);
            return object ? Value(std::move(object)) : Value();
        }
        return Value(GenericArchiveObject::decode(*owner));
    }

    // The elements of an inline array of UIDs under a key of the current
    // record; an absent key is an empty list.
    std::vector<Value> decodeReferenceList(std::string_view key) {
        const Frame frame = current();
        plist_t list = plist_dict_get_item(frame.record, std::string(key).c_str());
        std::vector<Value> values;
        if (!list) return values;
        if (!isType(list, PLIST_ARRAY)) {
            throw ArchiveError(describe(frame, key) + " is " + typeName(list) + ", not an array");
        }
        const std::vector<plist_t> items = elementsOf(list);
        values.reserve(items.size());
        for (size_t i = 0; i < items.size(); ++i) {
            plist_t item = items[i];
            if (!isType(item, PLIST_UID)) {
                throw ArchiveError(describe(frame, key) + " element " + std::to_string(i) + " is " +
                                   typeName(item) + ", not a UID");
            }
            values.push_back(decodeReference(uidOf(item), {&frame, key}));
        }
        return values;
    }

    Value decodeArray(bool isMutable) {
        auto array = std::make_shared<ValueArray>();
        array->isMutable = isMutable;
        array->items = decodeReferenceList("NS.objects");
        return Value(std::move(array));
    }

    Value decodeDictionary(bool isMutable) {
        std::vector<Value> keys = decodeReferenceList("NS.keys");
        std::vector<Value> values = decodeReferenceList("NS.objects");
        if (keys.size() != values.size()) {
            throw ArchiveError(describe(current()) + ": \"NS.keys\" has " + std::to_string(keys.size()) +
                               " entries but \"NS.objects\" has " + std::to_string(values.size()));
        }
        auto dictionary = std::make_shared<ValueDictionary>();
        dictionary->isMutable = isMutable;
        dictionary->entries.reserve(keys.size());
        for (size_t i = 0; i < keys.size(); ++i) {
            dictionary->entries.emplace_back(std::move(keys[i]), std::move(values[i]));
        }
        return Value(std::move(dictionary));
    }

    // A mutable string or data: the value inline under its key (or referred
    // to from there); absent, it is empty.
    Value decodeWrapped(std::string_view key, plist_type type) {
        const Frame frame = current();
        plist_t node = plist_dict_get_item(frame.record, std::string(key).c_str());
        const char* wanted = type == PLIST_STRING ? "a string" : "data";
        if (!node) return type == PLIST_STRING ? Value(std::string()) : Value(Data());
        if (isType(node, type)) return scalarOf(node);
        if (isType(node, PLIST_UID)) {
            Value value = decodeReference(uidOf(node), {&frame, key});
            if ((type == PLIST_STRING && value.isString()) || (type == PLIST_DATA && value.isData())) {
                return value;
            }
            throw ArchiveError(describe(frame, key) + " does not refer to " + wanted);
        }
        throw ArchiveError(describe(frame, key) + " is " + typeName(node) + ", not " + wanted);
    }

    ArchiveField fieldOf(plist_t node, const Frame& frame, std::string_view key) {
        switch (plist_get_node_type(node)) {
            case PLIST_UID:
                return ArchiveField::reference(decodeReference(uidOf(node), {&frame, key}));
            case PLIST_ARRAY: {
                ArchiveField field;
                field.kind = ArchiveField::Kind::Array;
                const std::vector<plist_t> items = elementsOf(node);
                field.items.reserve(items.size());
                for (plist_t item : items) field.items.push_back(fieldOf(item, frame, key));
                return field;
            }
            case PLIST_DICT: {
                ArchiveField field;
                field.kind = ArchiveField::Kind::Dictionary;
                forEachKey(
                    node, false, [&] { return describe(frame, key); },
                    [&](std::string name, plist_t value) {
                        ArchiveField entry = fieldOf(value, frame, key);
                        field.entries.emplace_back(std::move(name), std::move(entry));
                    });
                return field;
            }
            default:
                if (isScalar(node)) return ArchiveField::inlineValue(scalarOf(node));
                throw ArchiveError(describe(frame, key) + " holds " + typeName(node) +
                                   ", which this program does not read");
        }
    }

    [[noreturn]] void wrongType(std::string_view key, plist_t node, const char* wanted) const {
        throw ArchiveError(describe(current(), key) + " is " + typeName(node) + ", not " + wanted);
    }

    // A number under a key (absent: nil), for the typed decoders.
    Value number(std::string_view key, const char* wanted) const {
        plist_t node = lookup(key);
        if (!node) return {};
        switch (plist_get_node_type(node)) {
            case PLIST_BOOLEAN:
            case PLIST_UINT:
            case PLIST_REAL:
                return scalarOf(node);
            default:
                wrongType(key, node, wanted);
        }
    }
};

KeyedUnarchiver::KeyedUnarchiver() : impl_(new Impl) {
    impl_->owner = this;
}

KeyedUnarchiver::~KeyedUnarchiver() {
    delete impl_;
}

Value KeyedUnarchiver::unarchivedObjectWithData(const Data& data) {
    return unarchivedObjectWithData(data.data(), data.size());
}

Value KeyedUnarchiver::unarchivedObjectWithData(const uint8_t* bytes, size_t size) {
    if (size > std::numeric_limits<uint32_t>::max()) {
        throw ArchiveError("the archive is too large (" + std::to_string(size) + " bytes)");
    }
    BinaryPlistCheck::check(bytes, size);
    KeyedUnarchiver unarchiver;
    Impl& impl = *unarchiver.impl_;
    plist_from_bin(reinterpret_cast<const char*>(bytes), static_cast<uint32_t>(size), &impl.root);
    if (!impl.root) throw ArchiveError("binary property list: the data could not be parsed");
    impl.readRoot();
    return impl.decodeReference(impl.topUID(), {nullptr, "\"$top\" key \"root\""});
}

bool KeyedUnarchiver::containsValueForKey(std::string_view key) const {
    return impl_->lookup(key) != nullptr;
}

Value KeyedUnarchiver::decodeObject(std::string_view key) {
    plist_t node = impl_->lookup(key);
    if (!node) return {};
    if (!isType(node, PLIST_UID)) impl_->wrongType(key, node, "an object reference");
    const Impl::Frame frame = impl_->current();
    return impl_->decodeReference(uidOf(node), {&frame, key});
}

bool KeyedUnarchiver::decodeBool(std::string_view key) const {
    return impl_->number(key, "a boolean").toBool();
}

int64_t KeyedUnarchiver::decodeInt(std::string_view key) const {
    return impl_->number(key, "a number").toInt64();
}

double KeyedUnarchiver::decodeDouble(std::string_view key) const {
    return impl_->number(key, "a number").toDouble();
}

float KeyedUnarchiver::decodeFloat(std::string_view key) const {
    return static_cast<float>(impl_->number(key, "a number").toDouble());
}

Data KeyedUnarchiver::decodeBytes(std::string_view key) const {
    plist_t node = impl_->lookup(key);
    if (!node) return {};
    if (!isType(node, PLIST_DATA)) impl_->wrongType(key, node, "data");
    return dataOf(node);
}

ArchiveField KeyedUnarchiver::decodeArchiveField(std::string_view key) {
    plist_t node = impl_->lookup(key);
    if (!node) return {};
    const Impl::Frame frame = impl_->current();
    return impl_->fieldOf(node, frame, key);
}

ArchiveFields KeyedUnarchiver::decodeAllFields() {
    const Impl::Frame frame = impl_->current();
    ArchiveFields fields;
    forEachKey(
        frame.record, true, [&] { return Impl::describe(frame); },
        [&](std::string key, plist_t value) {
            ArchiveField field = impl_->fieldOf(value, frame, key);
            fields.emplace_back(std::move(key), std::move(field));
        });
    return fields;
}

const std::string& KeyedUnarchiver::className() const {
    return impl_->current().cls->name;
}

const std::vector<std::string>& KeyedUnarchiver::classChain() const {
    return impl_->current().cls->chain;
}

std::vector<std::string> KeyedUnarchiver::allKeys() const {
    std::vector<std::string> keys;
    const Impl::Frame& frame = impl_->current();
    forEachKey(
        frame.record, true, [&] { return Impl::describe(frame); },
        [&](std::string key, plist_t) { keys.push_back(std::move(key)); });
    return keys;
}

}  // namespace tollvane
