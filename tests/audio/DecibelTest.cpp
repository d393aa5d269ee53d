#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

#include "audio/MTValueTransformer.h"
#include "audio/TLdBFormatter.h"

namespace tollvane {
namespace {

TEST(TLdBFormatter, ShowsLevelsAsDecibels) {
    TLdBFormatter formatter;
    struct Case {
        Value value;
        const char* text;
    };
    const Case cases[] = {
        {Value(0.84), "-3.0 dB"},                               // above -10: one decimal
        {Value(1.0), "0.0 dB"},        {Value(0.3), "-21 dB"},  // below -10: none
        {Value(int64_t{1}), "0.0 dB"}, {Value(std::string("0.5")), ""}, {Value(), ""},
    };
    for (const Case& c : cases) EXPECT_EQ(formatter.stringForObjectValue(c.value), c.text);
    Value parsed;
    EXPECT_FALSE(formatter.getObjectValue(&parsed, "-3.0 dB", nullptr));
    EXPECT_TRUE(formatter.isPartialStringValid("-3.x"));
}

TEST(DecibelTransformers, BothWaysByName) {
    MTValueTransformer::registerDecibelTransformers();
    const auto toDecibels = MTValueTransformer::valueTransformerForName("MTLinearToDecibelTransformer");
    const auto toLinear = MTValueTransformer::valueTransformerForName("MTDecibelToLinearTransformer");
    ASSERT_TRUE(toDecibels && toLinear);
    EXPECT_TRUE(toDecibels->allowsReverseTransformation());
    EXPECT_TRUE(toLinear->allowsReverseTransformation());
    struct Case {
        double linear;
        double decibels;
    };
    for (const Case& c : {Case{1.0, 0.0}, Case{0.1, -20.0}, Case{10.0, 20.0}, Case{0.0, -2000.0}}) {
        EXPECT_NEAR(toDecibels->transformedValue(Value(c.linear)).toDouble(), c.decibels, 1e-9);
        EXPECT_NEAR(toLinear->reverseTransformedValue(Value(c.linear)).toDouble(), c.decibels, 1e-9);
        if (c.linear > 0.0) {
            EXPECT_NEAR(toDecibels->reverseTransformedValue(Value(c.decibels)).toDouble(), c.linear, 1e-12);
            EXPECT_NEAR(toLinear->transformedValue(Value(c.decibels)).toDouble(), c.linear, 1e-12);
        }
    }
    EXPECT_TRUE(toDecibels->transformedValue(Value()).isNull());
    EXPECT_TRUE(toLinear->reverseTransformedValue(Value()).isNull());
    try {
        toDecibels->transformedValue(Value(std::make_shared<ValueArray>()));
        FAIL() << "an array has no number";
    } catch (const std::logic_error& error) {
        EXPECT_STREQ(error.what(), "Value ((array)) does not respond to -doubleValue.");
    }
    EXPECT_EQ(MTValueTransformer::valueTransformerForName("Nothing"), nullptr);
}

}  // namespace
}  // namespace tollvane
