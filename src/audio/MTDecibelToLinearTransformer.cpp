#include "audio/MTDecibelToLinearTransformer.h"

#include <algorithm>
#include <cmath>

namespace tollvane {

Value MTDecibelToLinearTransformer::transformedValue(const Value& value) const {
    if (value.isNull()) return value;
    const double x = doubleValue(value);
    return Value(std::pow(10.0, x / 20.0));
}

Value MTDecibelToLinearTransformer::reverseTransformedValue(const Value& value) const {
    if (value.isNull()) return value;
    const double x = doubleValue(value);
    return Value(20.0 * std::log10(std::max(x, 1e-100)));
}

}  // namespace tollvane
