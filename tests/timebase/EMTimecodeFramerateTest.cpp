#include "timebase/EMTimecodeFramerate.h"

#include <gtest/gtest.h>

#include <string>

namespace tollvane {
namespace {

struct NamedRate {
    int index;
    uint32_t fps;
    bool videoSpeed;
    bool dropFrame;
    std::string label;
    std::string separator;
    int32_t timescale;
    int32_t ticksPerFrame;
};

TEST(EMTimecodeFramerateTest, TheEightNamedRates) {
    const NamedRate table[] = {
        {0, 24, true, false, "23.976 fps", ":", 23976, 1000}, {1, 24, false, false, "24fps", ":", 2400, 100},
        {2, 25, true, false, "24.975 fps", ":", 24975, 1000}, {3, 25, false, false, "25fps", ":", 2500, 100},
        {4, 30, true, false, "29.97nd", ":", 2997, 100},      {5, 30, true, true, "29.97df", ";", 2997, 100},
        {6, 30, false, false, "30fps", ":", 3000, 100},       {7, 30, false, true, "30df", ";", 3000, 100},
    };
    for (const NamedRate& row : table) {
        SCOPED_TRACE(row.label);
        const EMTimecodeFramerate rate = EMTimecodeFramerate::framerateForIndex(row.index);
        EXPECT_EQ(rate.fps, row.fps);
        EXPECT_EQ(rate.videoSpeed, row.videoSpeed);
        EXPECT_EQ(rate.dropFrame, row.dropFrame);
        EXPECT_EQ(rate.label(), row.label);
        EXPECT_EQ(rate.frameSeparator(), row.separator);
        EXPECT_EQ(rate.mediaTimescale(), row.timescale);
        EXPECT_EQ(rate.mediaTicksPerFrame(), row.ticksPerFrame);
        EXPECT_EQ(rate.index(), row.index);
        EXPECT_EQ(EMTimecodeFramerate::indexForName(row.label), row.index);
    }
}

TEST(EMTimecodeFramerateTest, IndicesOutsideTheTableGiveIndexFour) {
    const EMTimecodeFramerate fallback = EMTimecodeFramerate::framerateForIndex(4);
    for (int64_t index : {-1LL, 8LL, 1000LL, static_cast<long long>(INT64_MIN)}) {
        EXPECT_EQ(EMTimecodeFramerate::framerateForIndex(index), fallback) << index;
    }
}

TEST(EMTimecodeFramerateTest, DropFrameIsKeptOnlyAtThirty) {
    EXPECT_TRUE(EMTimecodeFramerate::framerateWithFPS(30, true, true).dropFrame);
    EXPECT_FALSE(EMTimecodeFramerate::framerateWithFPS(25, false, true).dropFrame);
    EXPECT_FALSE(EMTimecodeFramerate::framerateWithFPS(24, true, true).dropFrame);
    EXPECT_EQ(EMTimecodeFramerate::framerateWithFPS(25, true, true),
              EMTimecodeFramerate::framerateForIndex(2));
}

TEST(EMTimecodeFramerateTest, OtherRatesAreInvalidAndUseThirtyFramesMediaTicks) {
    for (uint32_t fps : {0u, 1u, 29u, 60u}) {
        const EMTimecodeFramerate rate{fps, true, false};
        EXPECT_STREQ(rate.label(), "[invalid]");
        EXPECT_EQ(rate.mediaTimescale(), 2997);
        EXPECT_EQ(rate.mediaTicksPerFrame(), 100);
        EXPECT_EQ(rate.index(), -1);
    }
    EXPECT_EQ((EMTimecodeFramerate{1, false, false}).mediaTimescale(), 3000);
}

TEST(EMTimecodeFramerateTest, RateNames) {
    const std::pair<const char*, int> table[] = {
        {"23.976", 0},  {"24", 1},      {"24.975", 2},    {"25", 3},       {"29.97", 4},
        {"29.97nd", 4}, {"29.97df", 5}, {"30", 6},        {"30df", 7},     {"30 fps", 6},
        {"29.97DF", 5}, {"24 FPS", 1},  {"", -1},         {"29", -1},      {"fps", -1},
        {"30dfx", -1},  {"23.98", -1},  {"24.975fps", 2}, {"29.97 df", 5},
    };
    for (const auto& [name, index] : table) {
        EXPECT_EQ(framerateIndexForName(name), index) << '"' << name << '"';
    }
}

}  // namespace
}  // namespace tollvane
