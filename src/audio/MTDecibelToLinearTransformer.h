#pragma once

// "MTDecibelToLinearTransformer": a linear amplitude from decibels, 10^(x/20); reverse 20 log10(x) (x floored
// at 1e-100). None maps to none.

#include "audio/MTValueTransformer.h"

namespace tollvane {

class MTDecibelToLinearTransformer final : public MTValueTransformer {
public:
    Value transformedValue(const Value& value) const override;
    bool allowsReverseTransformation() const override { return true; }
    Value reverseTransformedValue(const Value& value) const override;
};

}  // namespace tollvane
