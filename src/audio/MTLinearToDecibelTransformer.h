#pragma once

// "MTLinearToDecibelTransformer": decibels from a linear amplitude, 20 log10(x) (x floored at 1e-100 so that
// silence stays finite); reverse 10^(x/20). None maps to none.

#include "audio/MTValueTransformer.h"

namespace tollvane {

class MTLinearToDecibelTransformer final : public MTValueTransformer {
public:
    Value transformedValue(const Value& value) const override;
    bool allowsReverseTransformation() const override { return true; }
    Value reverseTransformedValue(const Value& value) const override;
};

}  // namespace tollvane
