#include "platform/archive/KeyedArchiver.h"

#include <algorithm>
#include <bit>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <typeindex>
#include <typeinfo>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/archive/Archivable.h"
#include "platform/archive/ArchiveError.h"
#include "platform/archive/ArchiveString.h"
#include "platform/archive/BinaryPlistCheck.h"
#include "platform/archive/BinaryPlistWriter.h"

namespace tollvane {

namespace {

// As deep as the unarchiver reads.
constexpr size_t kMaxObjectDepth = 512;

// Inline fields sit in a record, in "$objects", in the root dictionary.
constexpr size_t kRecordDepth = 3;

std::string escapedKey(std::string_view key) {
    std::string escaped = archivableString(key);
    if (!escaped.empty() && escaped[0] == '$') escaped.insert(escaped.begin(), '$');
    return escaped;
}

// One copy of each distinct key text for the whole archive, so that records
// hold views rather than a string per key, and the writer meets the same
// address for the same key.
class KeyTable {
public:
    // `key` as written in a record: escaped and repaired.
    std::string_view escaped(std::string_view key) {
        // Keys are mostly literals, one address per text: a small cache by
        // address spares a search of the table for nearly every field. The
        // text is still compared, since a caller's temporary may reuse an
        // address for other text.
        Slot& slot = slots_[slotFor(key)];
        if (slot.data == key.data() && slot.original == key) return slot.escaped;
        auto it = escaped_.find(key);
        if (it == escaped_.end()) it = escaped_.emplace(std::string(key), plain(escapedKey(key))).first;
        slot = {key.data(), it->first, it->second};
        return it->second;
    }
    // `text` kept as it is. Every key text is held once, so that equal keys
    // are views of the same text.
    std::string_view plain(std::string text) { return *plain_.insert(std::move(text)).first; }

private:
    struct Slot {
        const char* data = nullptr;
        std::string_view original;
        std::string_view escaped;
    };
    static constexpr size_t kSlots = 256;
    static size_t slotFor(std::string_view key) {
        const auto bits = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(key.data())) ^ key.size();
        return static_cast<size_t>((bits * 0x9E3779B97F4A7C15ull) >> 56);
    }
    std::map<std::string, std::string_view, std::less<>> escaped_;
    std::set<std::string, std::less<>> plain_;
    Slot slots_[kSlots];
};

const char* typeName(const Value& value) {
    switch (value.type()) {
        case Value::Type::Null:
            return "nil";
        case Value::Type::Array:
            return "an array";
        case Value::Type::Dictionary:
            return "a dictionary";
        case Value::Type::Object:
            return "an object";
        default:
            return "a scalar";
    }
}

// UIDs by address, for containers, objects and data. An archive may hold
// hundreds of thousands of objects: one flat table, open addressed, rather
// than a node per entry.
class IdentityTable {
public:
    const uint64_t* find(const void* key) const {
        if (!key) return hasNull_ ? &nullUID_ : nullptr;
        if (slots_.empty()) return nullptr;
        for (size_t i = slotFor(key);; i = (i + 1) & (slots_.size() - 1)) {
            if (slots_[i].key == key) return &slots_[i].uid;
            if (!slots_[i].key) return nullptr;
        }
    }
    // `key` must not be in the table yet.
    void insert(const void* key, uint64_t uid) {
        if (!key) {
            hasNull_ = true;
            nullUID_ = uid;
            return;
        }
        reserve(size_ + 1);
        size_t i = slotFor(key);
        while (slots_[i].key) i = (i + 1) & (slots_.size() - 1);
        slots_[i] = {key, uid};
        ++size_;
    }
    void reserve(size_t count) {
        if (count * 2 <= slots_.size()) return;
        size_t capacity = 16;
        while (capacity < count * 2) capacity *= 2;
        std::vector<Slot> old = std::move(slots_);
        slots_.assign(capacity, Slot{});
        for (const Slot& slot : old) {
            if (!slot.key) continue;
            size_t i = slotFor(slot.key);
            while (slots_[i].key) i = (i + 1) & (slots_.size() - 1);
            slots_[i] = slot;
        }
    }

private:
    struct Slot {
        const void* key = nullptr;
        uint64_t uid = 0;
    };
    size_t slotFor(const void* key) const {
        const auto bits = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(key));
        return static_cast<size_t>((bits * 0x9E3779B97F4A7C15ull) >> 32) & (slots_.size() - 1);
    }
    std::vector<Slot> slots_;
    size_t size_ = 0;
    bool hasNull_ = false;
    uint64_t nullUID_ = 0;
};

// Record keys mostly share a prefix and differ at the end; most come from the
// archive's key table, one address per text.
bool sameKey(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    if (a.data() == b.data() || a.empty()) return true;
    return a.back() == b.back() && a == b;
}

// A dictionary being filled, where a key set again replaces its value in
// place, as the platform's coders do.
class DictionaryBuilder {
public:
    void reserve(size_t count) {
        node_.keys().reserve(count);
        node_.items().reserve(count);
    }
    size_t size() const { return node_.keys().size(); }
    void set(std::string_view key, PlistNode value) {
        std::vector<std::string_view>& keys = node_.keys();
        std::vector<PlistNode>& items = node_.items();
        // Object records hold a handful of keys: a linear search beats
        // hashing until a record grows large.
        if (index_.empty() && keys.size() < kLinearLimit) {
            // A key is nearly always new to its record: a mask of what the
            // record's keys look like rules most searches out.
            const uint64_t bit = uint64_t{1} << keyBit(key);
            const bool maybeKnown = (seen_ & bit) != 0;
            seen_ |= bit;
            for (size_t i = 0; maybeKnown && i < keys.size(); ++i) {
                if (sameKey(keys[i], key)) {
                    items[i] = std::move(value);
                    return;
                }
            }
            if (keys.size() + 1 == kLinearLimit) {
                for (size_t i = 0; i < keys.size(); ++i) index_.emplace(keys[i], i);
                index_.emplace(key, keys.size());
            }
            keys.push_back(key);
            items.push_back(std::move(value));
            return;
        }
        auto [it, inserted] = index_.try_emplace(key, items.size());
        if (inserted) {
            keys.push_back(key);
            items.push_back(std::move(value));
        } else {
            items[it->second] = std::move(value);
        }
    }
    PlistNode take() { return std::move(node_); }

private:
    static unsigned keyBit(std::string_view key) {
        if (key.empty()) return 0;
        return static_cast<unsigned>(key.size() * 7 + static_cast<unsigned char>(key.back()) * 3 +
                                     static_cast<unsigned char>(key[key.size() / 2])) &
               63;
    }

    static constexpr size_t kLinearLimit = 32;
    uint64_t seen_ = 0;
    PlistNode node_ = PlistNode::dictionary();
    std::unordered_map<std::string_view, size_t> index_;
};

PlistNode uidList(const std::vector<uint64_t>& uids) {
    PlistNode list = PlistNode::array();
    list.items().reserve(uids.size());
    for (uint64_t uid : uids) list.items().push_back(PlistNode::uid(uid));
    return list;
}

PlistNode classRecordNode(const std::string& name, const std::vector<std::string>& chain) {
    PlistNode classes = PlistNode::array();
    for (const std::string& cls : chain) classes.items().push_back(PlistNode::string(archivableString(cls)));
    DictionaryBuilder record;
    record.set("$classes", std::move(classes));
    record.set("$classname", PlistNode::string(archivableString(name)));
    return record.take();
}

}  // namespace

struct KeyedArchiver::Impl {
    KeyedArchiver* owner = nullptr;
    std::vector<PlistNode> objects;
    // Containers, objects and data by identity; strings and numbers by value.
    IdentityTable byIdentity;
    // Containers and objects being filled, outermost first: a short stack,
    // at most kMaxObjectDepth deep.
    std::vector<const void*> inProgress;
    std::unordered_map<std::string, uint64_t> strings;
    struct NumberKeyHash {
        size_t operator()(const std::pair<int, uint64_t>& key) const {
            return static_cast<size_t>(
                (key.second ^ static_cast<uint64_t>(key.first) << 62) * 0x9E3779B97F4A7C15ull >> 16);
        }
    };
    std::unordered_map<std::pair<int, uint64_t>, uint64_t, NumberKeyHash> numbers;
    // Class records by name, each with the chains met under that name.
    std::map<std::string, std::vector<std::pair<std::vector<std::string>, uint64_t>>, std::less<>> classes;
    KeyTable keys;
    // Class records by C++ class, for objects whose class names are fixed.
    std::unordered_map<std::type_index, uint64_t> classByType;
    // The size of the last record filled of each class of object, and of
    // any container: the next of the same class is given room for as many
    // fields at once.
    std::unordered_map<std::type_index, size_t> objectSizeHints;
    size_t containerSizeHint = 0;
    // Every container, object and data written stays alive until the end, so
    // that no address seen here is reused by another value. Members of a
    // container are held by the container and need no copy here.
    std::vector<Value> keepAlive;
    // Records of the objects whose encodeWithCoder is running, innermost last.
    std::vector<DictionaryBuilder*> records;

    // A large array is about to be written: make room for at least one
    // record per element at once rather than growing step by step.
    void reserveFor(size_t count) {
        objects.reserve(objects.size() + count);
        byIdentity.reserve(objects.size() + count);
        keepAlive.reserve(keepAlive.size() + count);
    }

    uint64_t append(PlistNode node) {
        objects.push_back(std::move(node));
        return objects.size() - 1;
    }

    uint64_t encodeNumber(int kind, uint64_t bits, PlistNode (*make)(uint64_t)) {
        auto [it, inserted] = numbers.try_emplace({kind, bits}, 0);
        if (inserted) it->second = append(make(bits));
        return it->second;
    }

    // `held`: the value is a member of a container already kept alive.
    uint64_t encodeValue(const Value& value, bool held = false) {
        switch (value.type()) {
            case Value::Type::Null:
                return 0;
            case Value::Type::Bool:
                return encodeNumber(0, value.toBool() ? 1 : 0,
                                    [](uint64_t bits) { return PlistNode::boolean(bits != 0); });
            case Value::Type::Integer:
                return encodeNumber(1, static_cast<uint64_t>(value.toInt64()), [](uint64_t bits) {
                    return PlistNode::integer(static_cast<int64_t>(bits));
                });
            case Value::Type::Real:
                return encodeNumber(2, std::bit_cast<uint64_t>(value.toDouble()), [](uint64_t bits) {
                    return PlistNode::real(std::bit_cast<double>(bits));
                });
            case Value::Type::String: {
                std::string text = archivableString(value.stringValue());
                auto [it, inserted] = strings.try_emplace(text, 0);
                if (inserted) it->second = append(PlistNode::string(std::move(text)));
                return it->second;
            }
            case Value::Type::Data: {
                const Data& data = value.dataValue();
                if (const uint64_t* uid = byIdentity.find(&data)) return *uid;
                if (!held) keepAlive.push_back(value);
                const uint64_t uid = append(PlistNode::data(data.data(), data.size()));
                byIdentity.insert(&data, uid);
                return uid;
            }
            case Value::Type::Array:
                return encodeArray(value, held);
            case Value::Type::Dictionary:
                return encodeDictionary(value, held);
            case Value::Type::Object:
                return encodeObject(value, held);
        }
        return 0;
    }

    // Takes the UID of a container or object and fills its record; the class
    // record follows its members, as the platform writes it.
    template <class Fill, class ClassOf>
    uint64_t encodeRecord(const void* identity, const Value& value, bool held, Fill fill, ClassOf classOf) {
        if (const uint64_t* known = byIdentity.find(identity)) return *known;
        if (std::find(inProgress.begin(), inProgress.end(), identity) != inProgress.end()) {
            throw ArchiveError("cannot archive a cycle: " + classOf().first + " contains itself");
        }
        if (inProgress.size() >= kMaxObjectDepth) {
            throw ArchiveError("cannot archive objects nested deeper than " +
                               std::to_string(kMaxObjectDepth) + " levels");
        }
        const uint64_t uid = append(PlistNode());
        const size_t depth = inProgress.size();
        inProgress.push_back(identity);
        if (!held) keepAlive.push_back(value);
        size_t& sizeHint = recordSizeHint(classOf);
        DictionaryBuilder record;
        record.reserve(sizeHint);
        fill(record);
        inProgress.resize(depth);
        record.set("$class", PlistNode::uid(classUID(classOf)));
        sizeHint = record.size();
        objects[uid] = record.take();
        byIdentity.insert(identity, uid);
        return uid;
    }

    uint64_t encodeArray(const Value& value, bool held) {
        const ValueArray& array = *value.arrayValue();
        return encodeRecord(
            &array, value, held,
            [&](DictionaryBuilder& record) {
                std::vector<uint64_t> uids;
                uids.reserve(array.items.size());
                reserveFor(array.items.size());
                for (const Value& item : array.items) uids.push_back(encodeValue(item, true));
                record.set("NS.objects", uidList(uids));
            },
            [&]() -> std::pair<std::string, std::vector<std::string>> {
                if (array.isMutable) return {"NSMutableArray", {"NSMutableArray", "NSArray", "NSObject"}};
                return {"NSArray", {"NSArray", "NSObject"}};
            });
    }

    uint64_t encodeDictionary(const Value& value, bool held) {
        const ValueDictionary& dictionary = *value.dictionaryValue();
        return encodeRecord(
            &dictionary, value, held,
            [&](DictionaryBuilder& record) {
                // All keys first, then all values, as the platform writes them.
                std::vector<uint64_t> keys;
                std::vector<uint64_t> values;
                keys.reserve(dictionary.entries.size());
                values.reserve(dictionary.entries.size());
                for (const auto& entry : dictionary.entries) keys.push_back(encodeValue(entry.first, true));
                for (const auto& entry : dictionary.entries)
                    values.push_back(encodeValue(entry.second, true));
                record.set("NS.keys", uidList(keys));
                record.set("NS.objects", uidList(values));
            },
            [&]() -> std::pair<std::string, std::vector<std::string>> {
                if (dictionary.isMutable) {
                    return {"NSMutableDictionary", {"NSMutableDictionary", "NSDictionary", "NSObject"}};
                }
                return {"NSDictionary", {"NSDictionary", "NSObject"}};
            });
    }

    template <class ClassOf>
    uint64_t classUID(ClassOf& classOf) {
        auto [name, chain] = classOf();
        return classRecord(name, chain);
    }

    // The class of an object being encoded.
    struct ObjectClass {
        const Archivable& object;
        std::pair<std::string, std::vector<std::string>> operator()() const {
            return {object.archiveClassName(), object.archiveClassChain()};
        }
    };

    template <class ClassOf>
    size_t& recordSizeHint(const ClassOf&) {
        return containerSizeHint;
    }
    size_t& recordSizeHint(const ObjectClass& objectClass) {
        return objectSizeHints[std::type_index(typeid(objectClass.object))];
    }

    // The class record of an object; asked of the object once per C++ class
    // unless its class names vary by instance.
    uint64_t classUID(ObjectClass& objectClass) {
        const Archivable& object = objectClass.object;
        const bool fixed = !object.archiveClassVariesByInstance();
        if (fixed) {
            auto known = classByType.find(std::type_index(typeid(object)));
            if (known != classByType.end()) return known->second;
        }
        std::vector<std::string> chain = object.archiveClassChain();
        const uint64_t uid = classRecord(object.archiveClassName(), chain);
        if (fixed) classByType.emplace(std::type_index(typeid(object)), uid);
        return uid;
    }

    uint64_t encodeObject(const Value& value, bool held) {
        const std::shared_ptr<Archivable>& object = value.objectValue();
        return encodeRecord(
            object.get(), value, held,
            [&](DictionaryBuilder& record) {
                records.push_back(&record);
                struct Pop {
                    std::vector<DictionaryBuilder*>& records;
                    ~Pop() { records.pop_back(); }
                } pop{records};
                object->encodeWithCoder(*owner);
            },
            ObjectClass{*object});
    }

    uint64_t classRecord(const std::string& name, std::vector<std::string>& chain) {
        auto it = classes.find(name);
        if (it == classes.end()) it = classes.try_emplace(name).first;
        for (const auto& [knownChain, uid] : it->second) {
            if (knownChain == chain) return uid;
        }
        const uint64_t uid = append(classRecordNode(name, chain));
        it->second.emplace_back(std::move(chain), uid);
        return uid;
    }

    DictionaryBuilder& currentRecord(std::string_view key) const {
        if (records.empty()) {
            throw ArchiveError("key \"" + std::string(key) +
                               "\" was encoded outside an object's encodeWithCoder");
        }
        return *records.back();
    }

    void set(std::string_view key, PlistNode node) {
        DictionaryBuilder& record = currentRecord(key);
        record.set(keys.escaped(key), std::move(node));
    }

    PlistNode fieldNode(const ArchiveField& field, std::string_view key, size_t depth) {
        if (depth > BinaryPlistCheck::kMaxDepth) {
            throw ArchiveError("key \"" + std::string(key) + "\" holds inline values nested deeper than " +
                               std::to_string(BinaryPlistCheck::kMaxDepth) + " levels");
        }
        switch (field.kind) {
            case ArchiveField::Kind::Reference:
                return PlistNode::uid(encodeValue(field.value));
            case ArchiveField::Kind::Array: {
                PlistNode list = PlistNode::array();
                list.items().reserve(field.items.size());
                for (const ArchiveField& item : field.items)
                    list.items().push_back(fieldNode(item, key, depth + 1));
                return list;
            }
            case ArchiveField::Kind::Dictionary: {
                DictionaryBuilder dictionary;
                for (const auto& [name, item] : field.entries) {
                    dictionary.set(keys.plain(archivableString(name)), fieldNode(item, key, depth + 1));
                }
                return dictionary.take();
            }
            case ArchiveField::Kind::Inline:
                break;
        }
        const Value& value = field.value;
        switch (value.type()) {
            case Value::Type::Bool:
                return PlistNode::boolean(value.toBool());
            case Value::Type::Integer:
                return PlistNode::integer(value.toInt64());
            case Value::Type::Real:
                return PlistNode::real(value.toDouble());
            case Value::Type::String:
                return PlistNode::string(archivableString(value.stringValue()));
            case Value::Type::Data:
                return PlistNode::data(value.dataValue().data(), value.dataValue().size());
            default:
                throw ArchiveError("key \"" + std::string(key) + "\" holds " + typeName(value) +
                                   " inline; only scalars can stand inline");
        }
    }
};

KeyedArchiver::KeyedArchiver() : impl_(new Impl) {
    impl_->owner = this;
}

KeyedArchiver::~KeyedArchiver() {
    delete impl_;
}

Data KeyedArchiver::archivedDataWithRootObject(const Value& root) {
    KeyedArchiver archiver;
    Impl& impl = *archiver.impl_;
    impl.append(PlistNode::string("$null"));
    const uint64_t rootUID = impl.encodeValue(root);

    DictionaryBuilder top;
    top.set("root", PlistNode::uid(rootUID));
    PlistNode objects = PlistNode::array();
    objects.items() = std::move(impl.objects);
    DictionaryBuilder archive;
    archive.set("$version", PlistNode::integer(100000));
    archive.set("$archiver", PlistNode::string("NSKeyedArchiver"));
    archive.set("$top", top.take());
    archive.set("$objects", std::move(objects));
    return BinaryPlistWriter::write(archive.take());
}

void KeyedArchiver::encodeObject(const Value& value, std::string_view key) {
    impl_->currentRecord(key);
    impl_->set(key, PlistNode::uid(impl_->encodeValue(value)));
}

void KeyedArchiver::encodeBool(bool value, std::string_view key) {
    impl_->set(key, PlistNode::boolean(value));
}

void KeyedArchiver::encodeInt(int64_t value, std::string_view key) {
    impl_->set(key, PlistNode::integer(value));
}

void KeyedArchiver::encodeDouble(double value, std::string_view key) {
    impl_->set(key, PlistNode::real(value));
}

void KeyedArchiver::encodeFloat(float value, std::string_view key) {
    impl_->set(key, PlistNode::real(static_cast<double>(value)));
}

void KeyedArchiver::encodeBytes(const Data& bytes, std::string_view key) {
    impl_->set(key, PlistNode::data(bytes.data(), bytes.size()));
}

void KeyedArchiver::encodeArchiveField(const ArchiveField& field, std::string_view key) {
    impl_->currentRecord(key);
    impl_->set(key, impl_->fieldNode(field, key, kRecordDepth + 1));
}

}  // namespace tollvane
