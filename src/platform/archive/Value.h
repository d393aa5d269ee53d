#pragma once

// The value graph that archives, user defaults and documents exchange.
//
// A Value is nil, a boolean, an integer, a real, a string, data, an array, a
// dictionary or an archivable object. Scalars are held by value. Strings and
// data are immutable and shared, so copying a Value never copies their bytes.
// Arrays, dictionaries and objects have reference semantics, as the original
// platform's collections do: copies of a Value share the same container, an
// edit through one is seen through all, and the archiver writes a shared
// container once and refers to it from every place that holds it.
//
// Thread use: a Value graph belongs to one thread at a time; nothing here
// locks.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace tollvane {

class Archivable;
class Value;

using Data = std::vector<uint8_t>;

// An ordered list of values; `isMutable` chooses NSMutableArray over NSArray
// when archived.
struct ValueArray {
    std::vector<Value> items;
    bool isMutable = false;
};

// An ordered dictionary. Keys are usually strings but may be any value, as in
// archives written elsewhere; order is kept so a file reads back and writes
// out in the same order.
struct ValueDictionary {
    std::vector<std::pair<Value, Value>> entries;
    bool isMutable = false;

    const Value* find(std::string_view key) const;
    Value* find(std::string_view key);
    // Replaces the value under a string key, or appends the pair.
    void set(std::string_view key, Value value);
    bool erase(std::string_view key);
    bool contains(std::string_view key) const { return find(key) != nullptr; }
};

class Value {
public:
    enum class Type { Null, Bool, Integer, Real, String, Data, Array, Dictionary, Object };

    Value() = default;
    Value(std::nullptr_t) {}
    Value(bool b) : storage_(b) {}
    Value(int i) : storage_(static_cast<int64_t>(i)) {}
    Value(unsigned u) : storage_(static_cast<int64_t>(u)) {}
    Value(long i) : storage_(static_cast<int64_t>(i)) {}
    Value(long long i) : storage_(static_cast<int64_t>(i)) {}
    Value(unsigned long u) : storage_(static_cast<int64_t>(u)) {}
    Value(unsigned long long u) : storage_(static_cast<int64_t>(u)) {}
    Value(double d) : storage_(d) {}
    Value(float f) : storage_(static_cast<double>(f)) {}
    Value(const char* s) : Value(std::string(s)) {}
    Value(std::string_view s) : Value(std::string(s)) {}
    Value(std::string s);
    Value(Data d);
    // A null container or object is nil, as a nil object is on the platform.
    Value(std::shared_ptr<ValueArray> a) {
        if (a) storage_ = std::move(a);
    }
    Value(std::shared_ptr<ValueDictionary> d) {
        if (d) storage_ = std::move(d);
    }
    Value(std::shared_ptr<Archivable> o) {
        if (o) storage_ = std::move(o);
    }
    template <class T, class = std::enable_if_t<std::is_base_of_v<Archivable, T>>>
    Value(std::shared_ptr<T> o) : Value(std::shared_ptr<Archivable>(std::move(o))) {}

    // New empty containers (mutable: they are being built by the program).
    static Value array(std::vector<Value> items = {});
    static Value dictionary();

    Type type() const { return static_cast<Type>(storage_.index()); }
    bool isNull() const { return type() == Type::Null; }
    bool isBool() const { return type() == Type::Bool; }
    bool isInteger() const { return type() == Type::Integer; }
    bool isReal() const { return type() == Type::Real; }
    bool isNumber() const { return isBool() || isInteger() || isReal(); }
    bool isString() const { return type() == Type::String; }
    bool isData() const { return type() == Type::Data; }
    bool isArray() const { return type() == Type::Array; }
    bool isDictionary() const { return type() == Type::Dictionary; }
    bool isObject() const { return type() == Type::Object; }

    // Numbers convert among themselves as the platform's number objects do
    // (true is 1, reals truncate toward zero); anything else answers the
    // fallback.
    bool toBool(bool fallback = false) const;
    int64_t toInt64(int64_t fallback = 0) const;
    double toDouble(double fallback = 0.0) const;

    // The string, or the empty string when this is not one.
    const std::string& stringValue() const;
    // The data, or empty data when this is not data.
    const Data& dataValue() const;
    // The container, or null when this is not one.
    const std::shared_ptr<ValueArray>& arrayValue() const;
    const std::shared_ptr<ValueDictionary>& dictionaryValue() const;
    const std::shared_ptr<Archivable>& objectValue() const;
    template <class T>
    std::shared_ptr<T> object() const {
        return std::dynamic_pointer_cast<T>(objectValue());
    }

    // Deep equality: scalars by value (an integer equals a real of the same
    // value, as numbers compare on the platform), containers element by
    // element, objects by identity.
    bool operator==(const Value& other) const;
    bool operator!=(const Value& other) const { return !(*this == other); }

private:
    std::variant<std::monostate, bool, int64_t, double, std::shared_ptr<const std::string>,
                 std::shared_ptr<const Data>, std::shared_ptr<ValueArray>, std::shared_ptr<ValueDictionary>,
                 std::shared_ptr<Archivable>>
        storage_;
};

}  // namespace tollvane
