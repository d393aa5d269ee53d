#include "timebase/NoteDuration.h"

#include <gtest/gtest.h>

namespace tollvane {
namespace {

TEST(NoteDuration, QuarterNotesAndClocksPerClickFollowTheTable) {
    struct Case {
        int32_t code;
        double quarterNotes;
        int32_t clocksPerClick;
    };
    const Case cases[] = {
        {0, 8.0, 192},      {1, 6.0, 144},    {2, 4.0, 96},    {3, 3.0, 72},      {4, 2.0, 48},
        {5, 1.5, 36},       {6, 1.0, 24},     {7, 0.75, 18},   {8, 0.5, 12},      {9, 0.375, 9},
        {10, 0.25, 6},      {11, 0.1875, 24}, {12, 0.125, 24}, {13, 0.08125, 24}, {14, 0.0625, 24},
        {0xffff, 53.0, 24}, {15, 1.0, 24},    {-1, 1.0, 24},   {-2, 1.0, 24},     {1000, 1.0, 24},
    };
    for (const Case& c : cases) {
        EXPECT_DOUBLE_EQ(NoteDuration::quarterNotes(c.code), c.quarterNotes) << "code " << c.code;
        EXPECT_EQ(NoteDuration::clocksPerClick(c.code), c.clocksPerClick) << "code " << c.code;
    }
}

}  // namespace
}  // namespace tollvane
