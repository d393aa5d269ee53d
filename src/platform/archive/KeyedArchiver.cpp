#include "platform/archive/KeyedArchiver.h"

#include <bit>
#include <map>
#include <memory>
#include <unordered_map>
#include <unordered_set>
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

// A dictionary being filled, where a key set again replaces its value in
// place, as the platform's coders do.
class DictionaryBuilder {
public:
    void set(std::string key, PlistNode value) {
        // Object records hold a handful of keys: a linear search beats
        // hashing until a record grows large.
        if (index_.empty() && node_.keys.size() < kLinearLimit) {
            for (size_t i = 0; i < node_.keys.size(); ++i) {
                if (node_.keys[i] == key) {
                    node_.items[i] = std::move(value);
                    return;
                }
            }
            if (node_.keys.size() + 1 == kLinearLimit) {
                for (size_t i = 0; i < node_.keys.size(); ++i) index_.emplace(node_.keys[i], i);
                index_.emplace(key, node_.keys.size());
            }
            node_.keys.push_back(std::move(key));
            node_.items.push_back(std::move(value));
            return;
        }
        auto [it, inserted] = index_.try_emplace(key, node_.items.size());
        if (inserted) {
            node_.keys.push_back(std::move(key));
            node_.items.push_back(std::move(value));
        } else {
            node_.items[it->second] = std::move(value);
        }
    }
    PlistNode take() { return std::move(node_); }

private:
    static constexpr size_t kLinearLimit = 32;
    PlistNode node_ = PlistNode::dictionary();
    std::unordered_map<std::string, size_t> index_;
};

PlistNode uidList(const std::vector<uint64_t>& uids) {
    PlistNode list = PlistNode::array();
    list.items.reserve(uids.size());
    for (uint64_t uid : uids) list.items.push_back(PlistNode::uid(uid));
    return list;
}

PlistNode classRecordNode(const std::string& name, const std::vector<std::string>& chain) {
    PlistNode classes = PlistNode::array();
    for (const std::string& cls : chain) classes.items.push_back(PlistNode::string(archivableString(cls)));
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
    std::unordered_map<const void*, uint64_t> byIdentity;
    std::unordered_set<const void*> inProgress;
    std::unordered_map<std::string, uint64_t> strings;
    std::map<std::pair<int, uint64_t>, uint64_t> numbers;
    std::unordered_map<std::string, uint64_t> classes;
    // Every container, object and data written stays alive until the end, so
    // that no address seen here is reused by another value.
    std::vector<Value> keepAlive;
    // Records of the objects whose encodeWithCoder is running, innermost last.
    std::vector<DictionaryBuilder*> records;

    // A large array is about to be written: make room for at least one
    // record per element at once rather than growing step by step.
    void reserveFor(size_t count) {
        objects.reserve(objects.size() + count);
        byIdentity.reserve(byIdentity.size() + count);
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

    uint64_t encodeValue(const Value& value) {
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
                auto [it, inserted] = byIdentity.try_emplace(&data, 0);
                if (inserted) {
                    keepAlive.push_back(value);
                    it->second = append(PlistNode::data(data.data(), data.size()));
                }
                return it->second;
            }
            case Value::Type::Array:
                return encodeArray(value);
            case Value::Type::Dictionary:
                return encodeDictionary(value);
            case Value::Type::Object:
                return encodeObject(value);
        }
        return 0;
    }

    // Takes the UID of a container or object and fills its record; the class
    // record follows its members, as the platform writes it.
    template <class Fill, class ClassOf>
    uint64_t encodeRecord(const void* identity, const Value& value, Fill fill, ClassOf classOf) {
        if (auto it = byIdentity.find(identity); it != byIdentity.end()) return it->second;
        if (inProgress.count(identity)) {
            throw ArchiveError("cannot archive a cycle: " + classOf().first + " contains itself");
        }
        if (inProgress.size() >= kMaxObjectDepth) {
            throw ArchiveError("cannot archive objects nested deeper than " +
                               std::to_string(kMaxObjectDepth) + " levels");
        }
        const uint64_t uid = append(PlistNode());
        inProgress.insert(identity);
        keepAlive.push_back(value);
        DictionaryBuilder record;
        fill(record);
        inProgress.erase(identity);
        auto [name, chain] = classOf();
        record.set("$class", PlistNode::uid(classRecord(name, chain)));
        objects[uid] = record.take();
        byIdentity.emplace(identity, uid);
        return uid;
    }

    uint64_t encodeArray(const Value& value) {
        const ValueArray& array = *value.arrayValue();
        return encodeRecord(
            &array, value,
            [&](DictionaryBuilder& record) {
                std::vector<uint64_t> uids;
                uids.reserve(array.items.size());
                reserveFor(array.items.size());
                for (const Value& item : array.items) uids.push_back(encodeValue(item));
                record.set("NS.objects", uidList(uids));
            },
            [&]() -> std::pair<std::string, std::vector<std::string>> {
                if (array.isMutable) return {"NSMutableArray", {"NSMutableArray", "NSArray", "NSObject"}};
                return {"NSArray", {"NSArray", "NSObject"}};
            });
    }

    uint64_t encodeDictionary(const Value& value) {
        const ValueDictionary& dictionary = *value.dictionaryValue();
        return encodeRecord(
            &dictionary, value,
            [&](DictionaryBuilder& record) {
                // All keys first, then all values, as the platform writes them.
                std::vector<uint64_t> keys;
                std::vector<uint64_t> values;
                keys.reserve(dictionary.entries.size());
                values.reserve(dictionary.entries.size());
                for (const auto& entry : dictionary.entries) keys.push_back(encodeValue(entry.first));
                for (const auto& entry : dictionary.entries) values.push_back(encodeValue(entry.second));
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

    uint64_t encodeObject(const Value& value) {
        const std::shared_ptr<Archivable>& object = value.objectValue();
        return encodeRecord(
            object.get(), value,
            [&](DictionaryBuilder& record) {
                records.push_back(&record);
                struct Pop {
                    std::vector<DictionaryBuilder*>& records;
                    ~Pop() { records.pop_back(); }
                } pop{records};
                object->encodeWithCoder(*owner);
            },
            [&]() -> std::pair<std::string, std::vector<std::string>> {
                return {object->archiveClassName(), object->archiveClassChain()};
            });
    }

    uint64_t classRecord(const std::string& name, const std::vector<std::string>& chain) {
        std::string key = name;
        for (const std::string& cls : chain) {
            key += '\0';
            key += cls;
        }
        auto [it, inserted] = classes.try_emplace(key, 0);
        if (inserted) it->second = append(classRecordNode(name, chain));
        return it->second;
    }

    DictionaryBuilder& currentRecord(std::string_view key) const {
        if (records.empty()) {
            throw ArchiveError("key \"" + std::string(key) +
                               "\" was encoded outside an object's encodeWithCoder");
        }
        return *records.back();
    }

    void set(std::string_view key, PlistNode node) {
        currentRecord(key).set(escapedKey(key), std::move(node));
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
                list.items.reserve(field.items.size());
                for (const ArchiveField& item : field.items)
                    list.items.push_back(fieldNode(item, key, depth + 1));
                return list;
            }
            case ArchiveField::Kind::Dictionary: {
                DictionaryBuilder dictionary;
                for (const auto& [name, item] : field.entries) {
                    dictionary.set(archivableString(name), fieldNode(item, key, depth + 1));
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
    objects.items = std::move(impl.objects);
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
