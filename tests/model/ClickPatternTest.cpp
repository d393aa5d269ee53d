#include "model/ClickPattern.h"

#include <gtest/gtest.h>

namespace tollvane {
namespace {

TEST(ClickPattern, PatternStringReadsIntegersWithOneSeparatorEach) {
    struct Case {
        const char* text;
        std::vector<uint32_t> pattern;
    };
    const Case cases[] = {
        {"2,2,3", {2, 2, 3}}, {"2 2 3", {2, 2, 3}},
        {"2+2+3", {2, 2, 3}}, {"3,,2", {3}},  // the second separator is where no integer can be read
        {"4,x", {4}},         {"", {}},
        {",3", {}},           {"99999999999", {4294967295u}},
        {"-3", {0}},
    };
    for (const Case& c : cases) {
        ClickPattern click;
        click.setPatternString(c.text);
        EXPECT_EQ(click.pattern, c.pattern) << '"' << c.text << '"';
    }
}

TEST(ClickPattern, PrintsItsPatternAndDescription) {
    ClickPattern click{0.5, {2, 2, 3}};
    EXPECT_EQ(click.patternString(), "2,2,3");
    EXPECT_EQ(click.description(), "ClickPattern (2,2,3 @ 0.5)");
    click.setPatternString(click.patternString());
    EXPECT_EQ(click, (ClickPattern{0.5, {2, 2, 3}}));
    EXPECT_EQ(ClickPattern{}.description(), "ClickPattern ( @ 1)");
}

}  // namespace
}  // namespace tollvane
