#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>

#include "platform/UserDefaults.h"
#include "timebase/EMTimecodeFormatter.h"
#include "timebase/EMTimecodeFormatterWithOptionalBits.h"
#include "timebase/MillisecondOffsetNumberFormatter.h"

namespace tollvane {
namespace {

class EMTimecodeFormatterTest : public ::testing::Test {
protected:
    void TearDown() override { EMTimecodeFormatter::setProjectFramerateProvider(nullptr); }
};

TEST_F(EMTimecodeFormatterTest, Display) {
    EMTimecodeFormatter formatter;
    auto timecode =
        EMTimecode::timecodeWithFramerate(EMTimecodeFramerate::framerateForIndex(5), 1, 0, 0, 2, 40);
    EXPECT_EQ(formatter.stringForObjectValue({}), "-:\u2014:\u2014:\u2014");
    EXPECT_EQ(formatter.stringForObjectValue(std::shared_ptr<EMTimecode>()), "-:\u2014:\u2014:\u2014");
    EXPECT_EQ(formatter.stringForObjectValue("typed 1:00"), "typed 1:00");
    EXPECT_EQ(formatter.stringForObjectValue(timecode), "1:00:00;02");
    EXPECT_EQ(formatter.stringForObjectValue(12.5), "");
    EXPECT_EQ(formatter.attributedStringForObjectValue(timecode), "1:00:00;02");
}

TEST_F(EMTimecodeFormatterTest, InputIsParsedAtTheProjectRate) {
    EMTimecodeFormatter formatter;
    EXPECT_EQ(formatter.getObjectValue("0:01:00:00")->description(), "0:01:00:00/00@29.97nd");

    EMTimecodeFormatter::setProjectFramerateProvider(
        [] { return EMTimecodeFramerate::framerateForIndex(5); });
    EXPECT_EQ(formatter.getObjectValue("0:01:00:00")->description(), "0:01:00;02/00@29.97df");
    EXPECT_EQ(formatter.getObjectValue("")->description(), "0:00:00;00/00@29.97df");
    EXPECT_EQ(formatter.getObjectValue("nonsense")->description(), "0:00:00;00/00@29.97df");

    EMTimecodeFormatter::setProjectFramerateProvider(nullptr);
    EXPECT_EQ(EMTimecodeFormatter::projectFramerate(), EMTimecodeFramerate::framerateForIndex(4));
}

TEST_F(EMTimecodeFormatterTest, BitsFollowTheUserDefault) {
    UserDefaults defaults("");
    EMTimecodeFormatterWithOptionalBits formatter(&defaults);
    auto timecode =
        EMTimecode::timecodeWithFramerate(EMTimecodeFramerate::framerateForIndex(3), 1, 2, 3, 4, 5);
    EXPECT_EQ(formatter.stringForObjectValue(timecode), "1:02:03:04/05");
    defaults.setBool("showTimecodeWithoutBits", true);
    EXPECT_EQ(formatter.stringForObjectValue(timecode), "1:02:03:04");
    // The rest is as in the plain formatter.
    EXPECT_EQ(formatter.stringForObjectValue({}), "-:\u2014:\u2014:\u2014");
    EXPECT_EQ(formatter.stringForObjectValue("x"), "x");
}

TEST(MillisecondOffsetNumberFormatterTest, Display) {
    MillisecondOffsetNumberFormatter formatter;
    const std::pair<std::optional<double>, const char*> table[] = {
        {0.25, "+250"}, {0.0, "0"},          {-0.04, "-40"},     {-0.0001, "0"},
        {0.0001, "+0"}, {12.3456, "+12346"}, {std::nullopt, ""},
    };
    for (const auto& [value, text] : table) {
        EXPECT_EQ(formatter.stringForObjectValue(value), text) << (value ? *value : -1.0);
    }
    EXPECT_EQ(formatter.baseStringForObjectValue(0.25), "250");
}

TEST(MillisecondOffsetNumberFormatterTest, InputInMilliseconds) {
    MillisecondOffsetNumberFormatter formatter;
    const std::pair<const char*, float> table[] = {
        {"250", 0.25f},
        {"+250 ms", 0.25f},
        {"abc-40", -0.04f},
        {"", 0.0f},
        {"ms", 0.0f},
        {"-", 0.0f},
        {"--5", 0.0f},
        {"12.9", 0.012f},
        {"x 7 y", 0.007f},
        {"99999999999999999999", static_cast<float>(std::numeric_limits<int32_t>::max() * 0.001)},
    };
    for (const auto& [text, value] : table) {
        EXPECT_EQ(formatter.getObjectValue(text), value) << '"' << text << '"';
    }
}

}  // namespace
}  // namespace tollvane
