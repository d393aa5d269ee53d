#include "audio/MTValueTransformer.h"

#include <cstdlib>
#include <map>
#include <mutex>
#include <stdexcept>

#include "audio/MTDecibelToLinearTransformer.h"
#include "audio/MTLinearToDecibelTransformer.h"

namespace tollvane {

namespace {

std::mutex registryMutex;

std::map<std::string, std::shared_ptr<MTValueTransformer>>& registry() {
    static std::map<std::string, std::shared_ptr<MTValueTransformer>> transformers;
    return transformers;
}

std::string describe(const Value& value) {
    switch (value.type()) {
        case Value::Type::Data:
            return "<data>";
        case Value::Type::Array:
            return "(array)";
        case Value::Type::Dictionary:
            return "{dictionary}";
        default:
            return "<object>";
    }
}

}  // namespace

std::shared_ptr<MTValueTransformer> MTValueTransformer::valueTransformerForName(const std::string& name) {
    std::lock_guard lock(registryMutex);
    auto found = registry().find(name);
    return found == registry().end() ? nullptr : found->second;
}

void MTValueTransformer::setValueTransformer(std::shared_ptr<MTValueTransformer> transformer,
                                             const std::string& name) {
    std::lock_guard lock(registryMutex);
    if (transformer) {
        registry()[name] = std::move(transformer);
    } else {
        registry().erase(name);
    }
}

void MTValueTransformer::registerDecibelTransformers() {
    setValueTransformer(std::make_shared<MTLinearToDecibelTransformer>(), "MTLinearToDecibelTransformer");
    setValueTransformer(std::make_shared<MTDecibelToLinearTransformer>(), "MTDecibelToLinearTransformer");
}

double MTValueTransformer::doubleValue(const Value& value) {
    if (value.isNumber()) return value.toDouble();
    if (value.isString()) return std::strtod(value.stringValue().c_str(), nullptr);
    throw std::logic_error("Value (" + describe(value) + ") does not respond to -doubleValue.");
}

}  // namespace tollvane
