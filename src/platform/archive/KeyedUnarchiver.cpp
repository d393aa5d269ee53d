#include "platform/archive/KeyedUnarchiver.h"

#include <functional>
#include <limits>
#include <memory>
#include <unordered_map>
#include <unordered_set>

#include "platform/archive/ArchiveClassRegistry.h"
#include "platform/archive/ArchiveError.h"
#include "platform/archive/ArchiveString.h"
#include "platform/archive/BinaryPlistCheck.h"
#include "platform/archive/BinaryPlistReader.h"
#include "platform/archive/GenericArchiveObject.h"

namespace tollvane {

namespace {

using Ref = BinaryPlistReader::Ref;
using Kind = BinaryPlistReader::Kind;
constexpr Ref kNone = BinaryPlistReader::kNone;

// The deepest chain of objects decoded inside one another; the archiver
// refuses to write deeper graphs, so whatever is read here writes back.
constexpr size_t kMaxObjectDepth = 512;

const char* typeName(Kind kind) {
    switch (kind) {
        case Kind::Bool:
            return "a boolean";
        case Kind::Integer:
            return "an integer";
        case Kind::Real:
            return "a real";
        case Kind::String:
            return "a string";
        case Kind::Array:
            return "an array";
        case Kind::Dictionary:
            return "a dictionary";
        case Kind::Date:
            return "a date";
        case Kind::Data:
            return "data";
        case Kind::UID:
            return "a UID";
    }
    return "an unknown value";
}

bool isScalar(Kind kind) {
    switch (kind) {
        case Kind::Bool:
        case Kind::Integer:
        case Kind::Real:
        case Kind::String:
        case Kind::Data:
            return true;
        default:
            return false;
    }
}

// A key as stored in a record: reserved "$" keys are escaped with a second
// "$". Plain ASCII keys, the usual case, are used as they are.
std::string_view escapedKey(std::string_view key, std::string& storage) {
    bool plain = !key.empty() && key[0] != '$';
    for (char c : key) {
        if (c == '\0' || static_cast<unsigned char>(c) >= 0x80) {
            plain = false;
            break;
        }
    }
    if (plain) return key;
    storage = archivableString(key);
    if (!storage.empty() && storage[0] == '$') storage.insert(storage.begin(), '$');
    return storage;
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
        Ref record;
        const ClassInfo* cls;
    };

    // A record's entry: the key as stored and the value's object.
    struct Entry {
        std::string_view key;
        Ref value;
    };

    explicit Impl(const uint8_t* bytes, size_t size) : plist(bytes, size) {}

    KeyedUnarchiver* owner = nullptr;
    BinaryPlistReader plist;
    Ref objectList = kNone;
    size_t objectCount = 0;
    std::vector<Value> decoded;
    std::vector<uint8_t> state;
    // Values of unordered_map stay where they are when it grows.
    std::unordered_map<uint64_t, ClassInfo> classes;
    std::vector<Frame> stack;
    // The entries of each record on the stack, read once so that a factory's
    // lookups do not walk the record's keys again; kept across records at
    // the same depth so their storage is reused.
    std::vector<std::vector<Entry>> entries;

    Kind kindOf(Ref ref) const { return plist.kind(ref); }
    bool isType(Ref ref, Kind kind) const { return ref != kNone && plist.kind(ref) == kind; }
    const char* typeOf(Ref ref) const { return typeName(plist.kind(ref)); }

    std::string stringOf(Ref ref) const { return archivableString(plist.stringValue(ref)); }

    // A scalar as a Value, or nil for anything else.
    Value scalarOf(Ref ref) const {
        switch (plist.kind(ref)) {
            case Kind::Bool:
                return Value(plist.boolValue(ref));
            case Kind::Integer:
                // Eight-byte integers are signed in a binary property list.
                return Value(static_cast<int64_t>(plist.integerValue(ref)));
            case Kind::Real:
                return Value(plist.realValue(ref));
            case Kind::String:
                return Value(stringOf(ref));
            case Kind::Data:
                return Value(plist.dataValue(ref));
            default:
                return {};
        }
    }

    // Calls `visit(key, value)` for every key of a dictionary, in file order,
    // with the key made archivable. A key that comes twice raises
    // ArchiveError (`where` names the dictionary): which of the two a reader
    // sees is up to the reader, and writing both back would change the
    // archive. With `isRecord`, keys are unescaped and "$class" and the other
    // reserved "$" keys are left out.
    template <class Visit>
    void forEachKey(Ref dict, bool isRecord, const std::function<std::string()>& where, Visit visit) const {
        std::unordered_set<std::string> seen;
        plist.forEachEntry(dict, [&](Ref keyRef, Ref value) {
            std::string_view key = plist.stringValue(keyRef);
            if (isRecord && key.size() >= 2 && key[0] == '$' && key[1] == '$') {
                key.remove_prefix(1);
            } else if (isRecord && !key.empty() && key[0] == '$') {
                return;
            }
            std::string name = archivableString(key);
            if (!seen.insert(name).second) {
                throw ArchiveError(where() + " has the key \"" + name + "\" twice");
            }
            visit(std::move(name), value);
        });
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

    // The value under a key as the archive stores it, first match first.
    Ref lookupStored(std::string_view stored) const {
        for (const Entry& entry : entries[stack.size() - 1]) {
            if (entry.key == stored) return entry.value;
        }
        return kNone;
    }

    Ref lookup(std::string_view key) const {
        current();
        std::string storage;
        return lookupStored(escapedKey(key, storage));
    }

    Ref rootItem(const char* key) const { return plist.find(plist.top(), key); }

    void readRoot() {
        if (!isType(plist.top(), Kind::Dictionary)) {
            throw ArchiveError("the archive's root is not a dictionary");
        }
        Ref archiver = rootItem("$archiver");
        if (archiver == kNone) throw ArchiveError("the archive has no \"$archiver\"");
        if (!isType(archiver, Kind::String)) throw ArchiveError("\"$archiver\" is not a string");
        if (std::string name = stringOf(archiver); name != "NSKeyedArchiver") {
            throw ArchiveError("\"$archiver\" is \"" + name + "\", not \"NSKeyedArchiver\"");
        }
        Ref version = rootItem("$version");
        if (version == kNone) throw ArchiveError("the archive has no \"$version\"");
        if (!isType(version, Kind::Integer)) throw ArchiveError("\"$version\" is not an integer");

        Ref list = rootItem("$objects");
        if (list == kNone) throw ArchiveError("the archive has no \"$objects\"");
        if (!isType(list, Kind::Array)) throw ArchiveError("\"$objects\" is not an array");
        objectList = list;
        objectCount = plist.count(list);
        if (objectCount == 0 || !isType(object(0), Kind::String) || stringOf(object(0)) != "$null") {
            throw ArchiveError("\"$objects\" does not begin with \"$null\"");
        }
        decoded.resize(objectCount);
        state.assign(objectCount, kNew);
    }

    Ref object(uint64_t uid) const { return plist.element(objectList, uid); }

    uint64_t topUID() const {
        Ref top = rootItem("$top");
        if (top == kNone) throw ArchiveError("the archive has no \"$top\"");
        if (!isType(top, Kind::Dictionary)) throw ArchiveError("\"$top\" is not a dictionary");
        Ref ref = plist.find(top, "root");
        if (ref == kNone) throw ArchiveError("\"$top\" has no \"root\"");
        if (!isType(ref, Kind::UID)) throw ArchiveError("\"$top\" key \"root\" is not a UID");
        return plist.uidValue(ref);
    }

    Value decodeReference(uint64_t uid, const Where& from) {
        if (uid >= objectCount) {
            throw ArchiveError(from.text() + " refers to object " + std::to_string(uid) + ", beyond the " +
                               std::to_string(objectCount) + " objects of the archive");
        }
        if (uid == 0) return {};
        if (state[uid] == kDone) return decoded[uid];
        if (state[uid] == kDecoding) {
            for (const Frame& frame : stack) {
                if (frame.uid == uid) throw ArchiveError(describe(frame) + " contains itself (a cycle)");
            }
            throw ArchiveError("object " + std::to_string(uid) + " contains itself (a cycle)");
        }
        const Ref node = object(uid);
        const Kind kind = kindOf(node);
        Value value;
        if (isScalar(kind)) {
            value = scalarOf(node);
        } else if (kind == Kind::Dictionary) {
            value = decodeRecord(uid, node);
        } else {
            throw ArchiveError("object " + std::to_string(uid) + " is " + typeName(kind) +
                               ", which keyed archives do not hold in \"$objects\"");
        }
        decoded[uid] = value;
        state[uid] = kDone;
        return value;
    }

    // Reads a record's entries into the slot for depth `depth`.
    std::vector<Entry>& readEntries(Ref record, size_t depth) {
        if (entries.size() <= depth) entries.resize(depth + 1);
        std::vector<Entry>& list = entries[depth];
        list.clear();
        plist.forEachEntry(record, [&](Ref key, Ref value) {
            list.push_back({plist.stringValue(key), value});
        });
        return list;
    }

    const ClassInfo& classOf(uint64_t uid, const std::vector<Entry>& recordEntries) {
        const auto where = [&] { return "object " + std::to_string(uid); };
        Ref ref = kNone;
        for (const Entry& entry : recordEntries) {
            if (entry.key == "$class") {
                ref = entry.value;
                break;
            }
        }
        if (ref == kNone) throw ArchiveError(where() + " has no \"$class\"");
        if (!isType(ref, Kind::UID)) throw ArchiveError(where() + ": \"$class\" is not a UID");
        const uint64_t classUID = plist.uidValue(ref);
        if (classUID == 0 || classUID >= objectCount) {
            throw ArchiveError(where() + ": \"$class\" refers to object " + std::to_string(classUID) +
                               ", which is not a class record");
        }
        if (auto it = classes.find(classUID); it != classes.end()) return it->second;

        const std::string recordName = "class record " + std::to_string(classUID) + " (of " + where() + ")";
        const Ref classRecord = object(classUID);
        if (!isType(classRecord, Kind::Dictionary)) throw ArchiveError(recordName + " is not a dictionary");
        Ref name = plist.find(classRecord, "$classname");
        if (!isType(name, Kind::String)) throw ArchiveError(recordName + " has no \"$classname\" string");
        Ref chain = plist.find(classRecord, "$classes");
        if (!isType(chain, Kind::Array)) throw ArchiveError(recordName + " has no \"$classes\" array");
        ClassInfo info;
        info.name = stringOf(name);
        const size_t count = plist.count(chain);
        info.chain.reserve(count);
        for (size_t i = 0; i < count; ++i) {
            const Ref item = plist.element(chain, i);
            if (!isType(item, Kind::String)) {
                throw ArchiveError(recordName + ": \"$classes\" holds " + typeOf(item) +
                                   ", not a class name");
            }
            info.chain.push_back(stringOf(item));
        }
        return classes.emplace(classUID, std::move(info)).first->second;
    }

    Value decodeRecord(uint64_t uid, Ref record) {
        if (stack.size() >= kMaxObjectDepth) {
            throw ArchiveError("objects nest deeper than " + std::to_string(kMaxObjectDepth) +
                               " levels (at object " + std::to_string(uid) + ")");
        }
        const ClassInfo& cls = classOf(uid, readEntries(record, stack.size()));
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
        if (name == "NSString" || name == "NSMutableString") return decodeWrapped("NS.string", Kind::String);
        if (name == "NSData" || name == "NSMutableData") return decodeWrapped("NS.data", Kind::Data);
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
        const Ref list = lookupStored(key);
        std::vector<Value> values;
        if (list == kNone) return values;
        if (!isType(list, Kind::Array)) {
            throw ArchiveError(describe(frame, key) + " is " + typeOf(list) + ", not an array");
        }
        const size_t count = plist.count(list);
        values.reserve(count);
        for (size_t i = 0; i < count; ++i) {
            const Ref item = plist.element(list, i);
            if (!isType(item, Kind::UID)) {
                throw ArchiveError(describe(frame, key) + " element " + std::to_string(i) + " is " +
                                   typeOf(item) + ", not a UID");
            }
            values.push_back(decodeReference(plist.uidValue(item), {&frame, key}));
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
    Value decodeWrapped(std::string_view key, Kind kind) {
        const Frame frame = current();
        const Ref node = lookupStored(key);
        const char* wanted = kind == Kind::String ? "a string" : "data";
        if (node == kNone) return kind == Kind::String ? Value(std::string()) : Value(Data());
        if (isType(node, kind)) return scalarOf(node);
        if (isType(node, Kind::UID)) {
            Value value = decodeReference(plist.uidValue(node), {&frame, key});
            if ((kind == Kind::String && value.isString()) || (kind == Kind::Data && value.isData())) {
                return value;
            }
            throw ArchiveError(describe(frame, key) + " does not refer to " + wanted);
        }
        throw ArchiveError(describe(frame, key) + " is " + typeOf(node) + ", not " + wanted);
    }

    ArchiveField fieldOf(Ref node, const Frame& frame, std::string_view key) {
        const Kind kind = kindOf(node);
        switch (kind) {
            case Kind::UID:
                return ArchiveField::reference(decodeReference(plist.uidValue(node), {&frame, key}));
            case Kind::Array: {
                ArchiveField field;
                field.kind = ArchiveField::Kind::Array;
                const size_t count = plist.count(node);
                field.items.reserve(count);
                for (size_t i = 0; i < count; ++i)
                    field.items.push_back(fieldOf(plist.element(node, i), frame, key));
                return field;
            }
            case Kind::Dictionary: {
                ArchiveField field;
                field.kind = ArchiveField::Kind::Dictionary;
                forEachKey(
                    node, false, [&] { return describe(frame, key); },
                    [&](std::string name, Ref value) {
                        ArchiveField entry = fieldOf(value, frame, key);
                        field.entries.emplace_back(std::move(name), std::move(entry));
                    });
                return field;
            }
            default:
                if (isScalar(kind)) return ArchiveField::inlineValue(scalarOf(node));
                throw ArchiveError(describe(frame, key) + " holds " + typeName(kind) +
                                   ", which this program does not read");
        }
    }

    [[noreturn]] void wrongType(std::string_view key, Ref node, const char* wanted) const {
        throw ArchiveError(describe(current(), key) + " is " + typeOf(node) + ", not " + wanted);
    }

    // A number under a key (absent: nil), for the typed decoders.
    Value number(std::string_view key, const char* wanted) const {
        const Ref node = lookup(key);
        if (node == kNone) return {};
        switch (kindOf(node)) {
            case Kind::Bool:
            case Kind::Integer:
            case Kind::Real:
                return scalarOf(node);
            default:
                wrongType(key, node, wanted);
        }
    }
};

KeyedUnarchiver::KeyedUnarchiver() : impl_(nullptr) {}

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
    unarchiver.impl_ = new Impl(bytes, size);
    Impl& impl = *unarchiver.impl_;
    impl.owner = &unarchiver;
    impl.readRoot();
    return impl.decodeReference(impl.topUID(), {nullptr, "\"$top\" key \"root\""});
}

bool KeyedUnarchiver::containsValueForKey(std::string_view key) const {
    return impl_->lookup(key) != kNone;
}

Value KeyedUnarchiver::decodeObject(std::string_view key) {
    const Ref node = impl_->lookup(key);
    if (node == kNone) return {};
    if (!impl_->isType(node, Kind::UID)) impl_->wrongType(key, node, "an object reference");
    const Impl::Frame frame = impl_->current();
    return impl_->decodeReference(impl_->plist.uidValue(node), {&frame, key});
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
    const Ref node = impl_->lookup(key);
    if (node == kNone) return {};
    if (!impl_->isType(node, Kind::Data)) impl_->wrongType(key, node, "data");
    return impl_->plist.dataValue(node);
}

ArchiveField KeyedUnarchiver::decodeArchiveField(std::string_view key) {
    const Ref node = impl_->lookup(key);
    if (node == kNone) return {};
    const Impl::Frame frame = impl_->current();
    return impl_->fieldOf(node, frame, key);
}

ArchiveFields KeyedUnarchiver::decodeAllFields() {
    const Impl::Frame frame = impl_->current();
    ArchiveFields fields;
    impl_->forEachKey(
        frame.record, true, [&] { return Impl::describe(frame); },
        [&](std::string key, Ref value) {
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
    impl_->forEachKey(
        frame.record, true, [&] { return Impl::describe(frame); },
        [&](std::string key, Ref) { keys.push_back(std::move(key)); });
    return keys;
}

}  // namespace tollvane
