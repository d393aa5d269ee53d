#include "platform/HostClock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>

#include "platform/ManualHostClock.h"
#include "platform/SystemHostClock.h"

namespace tollvane {
namespace {

TEST(HostClockTest, ConvertsBetweenSecondsAndTicks) {
    struct Case {
        double seconds;
        uint64_t ticks;
    };
    const Case cases[] = {
        {0.0, 0},
        {1.0, 1'000'000'000},
        {1.5, 1'500'000'000},
        {0.1, 100'000'000},
        {1e-9, 1},
        {-2.0, 0},
        {std::nan(""), 0},
        {1e30, std::numeric_limits<uint64_t>::max()},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(HostClock::ticksFromSeconds(c.seconds), c.ticks) << c.seconds;
    }
    EXPECT_DOUBLE_EQ(HostClock::secondsFromTicks(2'500'000'000u), 2.5);
    EXPECT_EQ(HostClock::frequency, 1e9);
}

TEST(HostClockTest, SecondsBetweenIsSignedWithoutWrapping) {
    EXPECT_DOUBLE_EQ(HostClock::secondsBetween(1'000'000'000u, 3'000'000'000u), 2.0);
    EXPECT_DOUBLE_EQ(HostClock::secondsBetween(3'000'000'000u, 1'000'000'000u), -2.0);
}

TEST(HostClockTest, SystemClockIsTheSteadyClock) {
    // Host times from JACK and std::chrono are compared with ours, so it
    // must be the same monotonic clock in nanoseconds.
    auto before = std::chrono::steady_clock::now().time_since_epoch();
    uint64_t ours = SystemHostClock::instance().now();
    auto after = std::chrono::steady_clock::now().time_since_epoch();
    EXPECT_GE(ours,
              static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(before).count()));
    EXPECT_LE(ours,
              static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(after).count()));
}

TEST(HostClockTest, ManualClockMovesOnlyWhenTold) {
    ManualHostClock clock(5);
    EXPECT_EQ(clock.now(), 5u);
    clock.advance(10);
    EXPECT_EQ(clock.now(), 15u);
    clock.advanceSeconds(0.5);
    EXPECT_EQ(clock.now(), 500'000'015u);
    clock.set(7);
    EXPECT_EQ(clock.now(), 7u);
}

TEST(HostClockTest, SharedClockCanBeReplacedAndRestored) {
    ManualHostClock manual(42);
    const HostClock* before = HostClock::setShared(&manual);
    EXPECT_EQ(before, &SystemHostClock::instance());
    EXPECT_EQ(HostClock::shared().now(), 42u);
    EXPECT_EQ(HostClock::setShared(nullptr), &manual);
    EXPECT_EQ(&HostClock::shared(), &SystemHostClock::instance());
}

}  // namespace
}  // namespace tollvane
