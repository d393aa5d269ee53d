#include "platform/archive/Value.h"

#include <cmath>
#include <tuple>

namespace tollvane {

namespace {

const std::string& emptyString() {
    static const std::string empty;
    return empty;
}

const Data& emptyData() {
    static const Data empty;
    return empty;
}

bool keyMatches(const Value& key, std::string_view name) {
    return key.isString() && key.stringValue() == name;
}

}  // namespace

const Value* ValueDictionary::find(std::string_view key) const {
    for (const auto& entry : entries) {
        if (keyMatches(entry.first, key)) return &entry.second;
    }
    return nullptr;
}

Value* ValueDictionary::find(std::string_view key) {
    for (auto& entry : entries) {
        if (keyMatches(entry.first, key)) return &entry.second;
    }
    return nullptr;
}

void ValueDictionary::set(std::string_view key, Value value) {
    if (Value* existing = find(key)) {
        *existing = std::move(value);
        return;
    }
    entries.emplace_back(std::piecewise_construct, std::forward_as_tuple(std::string(key)),
                         std::forward_as_tuple(std::move(value)));
}

bool ValueDictionary::erase(std::string_view key) {
    for (auto it = entries.begin(); it != entries.end(); ++it) {
        if (keyMatches(it->first, key)) {
            entries.erase(it);
            return true;
        }
    }
    return false;
}

Value::Value(std::string s) : storage_(std::make_shared<const std::string>(std::move(s))) {}

Value::Value(Data d) : storage_(std::make_shared<const Data>(std::move(d))) {}

Value Value::array(std::vector<Value> items) {
    auto a = std::make_shared<ValueArray>();
    a->items = std::move(items);
    a->isMutable = true;
    return Value(std::move(a));
}

Value Value::dictionary() {
    auto d = std::make_shared<ValueDictionary>();
    d->isMutable = true;
    return Value(std::move(d));
}

bool Value::toBool(bool fallback) const {
    switch (type()) {
        case Type::Bool:
            return std::get<bool>(storage_);
        case Type::Integer:
            return std::get<int64_t>(storage_) != 0;
        case Type::Real:
            return std::get<double>(storage_) != 0.0;
        default:
            return fallback;
    }
}

int64_t Value::toInt64(int64_t fallback) const {
    switch (type()) {
        case Type::Bool:
            return std::get<bool>(storage_) ? 1 : 0;
        case Type::Integer:
            return std::get<int64_t>(storage_);
        case Type::Real: {
            double d = std::get<double>(storage_);
            // Out-of-range and NaN reals would be undefined to convert.
            if (std::isnan(d)) return 0;
            if (d >= 9.2233720368547758e18) return INT64_MAX;
            if (d <= -9.2233720368547758e18) return INT64_MIN;
            return static_cast<int64_t>(d);
        }
        default:
            return fallback;
    }
}

double Value::toDouble(double fallback) const {
    switch (type()) {
        case Type::Bool:
            return std::get<bool>(storage_) ? 1.0 : 0.0;
        case Type::Integer:
            return static_cast<double>(std::get<int64_t>(storage_));
        case Type::Real:
            return std::get<double>(storage_);
        default:
            return fallback;
    }
}

const std::string& Value::stringValue() const {
    if (type() != Type::String) return emptyString();
    return *std::get<std::shared_ptr<const std::string>>(storage_);
}

const Data& Value::dataValue() const {
    if (type() != Type::Data) return emptyData();
    return *std::get<std::shared_ptr<const Data>>(storage_);
}

const std::shared_ptr<ValueArray>& Value::arrayValue() const {
    static const std::shared_ptr<ValueArray> none;
    if (type() != Type::Array) return none;
    return std::get<std::shared_ptr<ValueArray>>(storage_);
}

const std::shared_ptr<ValueDictionary>& Value::dictionaryValue() const {
    static const std::shared_ptr<ValueDictionary> none;
    if (type() != Type::Dictionary) return none;
    return std::get<std::shared_ptr<ValueDictionary>>(storage_);
}

const std::shared_ptr<Archivable>& Value::objectValue() const {
    static const std::shared_ptr<Archivable> none;
    if (type() != Type::Object) return none;
    return std::get<std::shared_ptr<Archivable>>(storage_);
}

bool Value::operator==(const Value& other) const {
    if (isNumber() && other.isNumber()) {
        if (isReal() || other.isReal()) return toDouble() == other.toDouble();
        return toInt64() == other.toInt64();
    }
    if (type() != other.type()) return false;
    switch (type()) {
        case Type::Null:
            return true;
        case Type::String:
            return stringValue() == other.stringValue();
        case Type::Data:
            return dataValue() == other.dataValue();
        case Type::Array: {
            const auto& a = arrayValue();
            const auto& b = other.arrayValue();
            return a == b || a->items == b->items;
        }
        case Type::Dictionary: {
            const auto& a = dictionaryValue();
            const auto& b = other.dictionaryValue();
            if (a == b) return true;
            if (a->entries.size() != b->entries.size()) return false;
            for (const auto& [key, value] : a->entries) {
                bool found = false;
                for (const auto& [otherKey, otherValue] : b->entries) {
                    if (key == otherKey) {
                        if (!(value == otherValue)) return false;
                        found = true;
                        break;
                    }
                }
                if (!found) return false;
            }
            return true;
        }
        case Type::Object:
            return objectValue() == other.objectValue();
        default:
            return false;
    }
}

}  // namespace tollvane
