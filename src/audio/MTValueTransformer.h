#pragma once

// Named value transformers, as the preferences bind the level sliders
// through them: a forward and (when allowed) a reverse transformation of
// property-list values, and a registry by name.
//
// Threads: register at start-up; lookups and transformations from any
// non-real-time thread.

#include <memory>
#include <string>

#include "platform/archive/Value.h"

namespace tollvane {

class MTValueTransformer {
public:
    virtual ~MTValueTransformer() = default;

    virtual Value transformedValue(const Value& value) const = 0;
    virtual bool allowsReverseTransformation() const { return false; }
    // Without reverse transformation, the value unchanged.
    virtual Value reverseTransformedValue(const Value& value) const { return value; }

    // Null for an unknown name.
    static std::shared_ptr<MTValueTransformer> valueTransformerForName(const std::string& name);
    // Null removes the name.
    static void setValueTransformer(std::shared_ptr<MTValueTransformer> transformer, const std::string& name);

    // Registers "MTLinearToDecibelTransformer" and "MTDecibelToLinearTransformer".
    static void registerDecibelTransformers();

protected:
    // The number a value stands for: numbers, and strings read as numbers
    // (0 when they do not start with one). Anything else throws
    // std::logic_error "Value (%@) does not respond to -doubleValue.".
    static double doubleValue(const Value& value);
};

}  // namespace tollvane
