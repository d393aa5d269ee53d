#include "model/FFTimeSignatureFormatter.h"

#include <gtest/gtest.h>

namespace tollvane {
namespace {

TEST(FFTimeSignatureFormatter, Displays) {
    FFTimeSignatureFormatter formatter;
    EXPECT_EQ(formatter.stringForObjectValue(std::monostate{}), "-/-");
    EXPECT_EQ(formatter.stringForObjectValue(std::string("typed")), "typed");
    EXPECT_EQ(formatter.stringForObjectValue(TimeSignature{7, 8}), "7/8");
}

TEST(FFTimeSignatureFormatter, ReadsTypedMeters) {
    struct Case {
        const char* text;
        uint16_t numerator;
        uint16_t denominator;
    };
    const Case cases[] = {
        {"7/8", 7, 8},     {"6 / 8", 6, 8}, {"3-4", 3, 4},         {"5/16", 5, 16}, {"2/1", 2, 1},
        {"9/128", 9, 128}, {"3/6", 3, 4},   {"3/256", 3, 4},       {"12", 12, 4},   {"/8", 4, 8},
        {"", 4, 4},        {"x", 4, 4},     {"70000/4", 65535, 4},
    };
    FFTimeSignatureFormatter formatter;
    for (const Case& c : cases) {
        TimeSignature meter = formatter.getObjectValue(c.text);
        EXPECT_EQ(meter.numerator, c.numerator) << '"' << c.text << '"';
        EXPECT_EQ(meter.denominator, c.denominator) << '"' << c.text << '"';
    }
}

}  // namespace
}  // namespace tollvane
