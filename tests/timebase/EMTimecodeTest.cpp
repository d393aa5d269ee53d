#include "timebase/EMTimecode.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>

namespace tollvane {
namespace {

const EMTimecodeFramerate k23976 = EMTimecodeFramerate::framerateForIndex(0);
const EMTimecodeFramerate k24 = EMTimecodeFramerate::framerateForIndex(1);
const EMTimecodeFramerate k25 = EMTimecodeFramerate::framerateForIndex(3);
const EMTimecodeFramerate k2997nd = EMTimecodeFramerate::framerateForIndex(4);
const EMTimecodeFramerate k2997df = EMTimecodeFramerate::framerateForIndex(5);
const EMTimecodeFramerate k30 = EMTimecodeFramerate::framerateForIndex(6);
const EMTimecodeFramerate k30df = EMTimecodeFramerate::framerateForIndex(7);

std::shared_ptr<EMTimecode> tc(EMTimecodeFramerate rate, int32_t hh, int32_t mm, int32_t ss, int32_t ff,
                               uint32_t bits = 0) {
    return EMTimecode::timecodeWithFramerate(rate, hh, mm, ss, ff, bits);
}

bool isDroppedLabel(const EMTimecode& t) {
    return t.ff() < 2 && t.ss() == 0 && t.mm() % 10 != 0;
}

TEST(EMTimecodeTest, NewAndInvalidTimecodes) {
    EMTimecode fresh;
    EXPECT_EQ(fresh.description(), "0:00:00:00/00@29.97nd");
    EXPECT_FALSE(fresh.negative());

    auto invalid = EMTimecode::invalidTimecode();
    EXPECT_EQ(invalid->stringRepresentationWithBitsAndFramerate(), "0:00:00:00/00@[invalid]");
    EXPECT_EQ(invalid->feetFramesRepresentation35mm(), "0+00");
    EXPECT_EQ(invalid->feetFramesRepresentation16mm(), "0+00");
    // Never normalised.
    invalid->setFF(100);
    invalid->setSS(-5);
    invalid->setBits(200);
    EXPECT_EQ(invalid->stringRepresentationWithBits(), "0:00:-5:100/200");
}

TEST(EMTimecodeTest, FactoriesSetEachFieldThroughItsSetter) {
    // Setting the minutes first lands on a dropped label, which is moved on.
    EXPECT_EQ(tc(k2997df, 0, 1, 0, 0)->stringRepresentation(), "0:01:00;02");
    EXPECT_EQ(tc(k2997df, 0, 10, 0, 0)->stringRepresentation(), "0:10:00;00");
    EXPECT_EQ(tc(k25, 1, 2, 3, 4, 85)->stringRepresentationWithBits(), "1:02:03:05/05");
    EXPECT_EQ(EMTimecode::timecodeWithFramerate(k24, "1:02:03:04")->description(), "1:02:03:04/00@24fps");
}

struct NormalisationCase {
    const char* name;
    EMTimecodeFramerate rate;
    std::function<void(EMTimecode&)> change;
    const char* expected;  // with bits
};

TEST(EMTimecodeTest, Normalisation) {
    const NormalisationCase table[] = {
        {"seconds carry into minutes", k30, [](EMTimecode& t) { t.setSS(75); }, "0:01:15:00/00"},
        {"bits carry into frames", k30, [](EMTimecode& t) { t.setBits(85); }, "0:00:00:01/05"},
        {"bits borrow a frame", k25,
         [](EMTimecode& t) {
             t.setSS(1);
             t.setBits(static_cast<uint32_t>(-1));
         },
         "0:00:00:24/79"},
        {"frames borrow into negative hours", k25, [](EMTimecode& t) { t.setFF(-1); }, "-1:59:59:24/00"},
        {"minutes carry into hours", k30, [](EMTimecode& t) { t.setMM(61); }, "1:01:00:00/00"},
        {"hours are not wrapped", k30, [](EMTimecode& t) { t.setHH(24); }, "24:00:00:00/00"},
        {"frames at fps carry", k30, [](EMTimecode& t) { t.setFF(30); }, "0:00:01:00/00"},
        {"frames far past fps", k24, [](EMTimecode& t) { t.setFF(24 * 3661 + 5); }, "1:01:01:05/00"},
        {"past 23:59:59:29", k30,
         [](EMTimecode& t) {
             t.setHH(23);
             t.setMM(59);
             t.setSS(59);
             t.setFF(29);
             t.addFrames(1);
         },
         "24:00:00:00/00"},
        {"a new rate normalises, it does not convert", k30,
         [](EMTimecode& t) {
             t.setFF(29);
             t.setFramerate(k25);
         },
         "0:00:01:04/00"},
        {"dropped label at minute 1", k2997df,
         [](EMTimecode& t) {
             t.setMM(1);
             t.setFF(5);
             t.setFF(0);
         },
         "0:01:00;02/00"},
        {"no drop at minute 10", k2997df,
         [](EMTimecode& t) {
             t.setMM(10);
             t.setFF(5);
             t.setFF(0);
         },
         "0:10:00;00/00"},
        {"30df drops too", k30df, [](EMTimecode& t) { t.setMM(3); }, "0:03:00;02/00"},
        {"frame 1 is dropped as well", k30df,
         [](EMTimecode& t) {
             t.setMM(3);
             t.setFF(1);
         },
         "0:03:00;03/00"},
        {"negative minutes borrow", k30, [](EMTimecode& t) { t.setMM(-1); }, "-1:59:00:00/00"},
        {"largest bits", k30, [](EMTimecode& t) { t.setBits(0x7fffffff); }, "248:33:04:25/47"},
        {"most negative bits", k30, [](EMTimecode& t) { t.setBits(0x80000000u); }, "-249:26:55:04/32"},
        {"hours saturate instead of overflowing", k30,
         [](EMTimecode& t) {
             t.setHH(std::numeric_limits<int32_t>::max());
             t.setMM(60);
         },
         "2147483647:00:00:00/00"},
        {"fps 0 is not normalised", EMTimecodeFramerate{0, false, false}, [](EMTimecode& t) { t.setFF(99); },
         "0:00:00:99/00"},
    };
    for (const NormalisationCase& row : table) {
        SCOPED_TRACE(row.name);
        EMTimecode t;
        t.setFramerate(row.rate);
        row.change(t);
        EXPECT_EQ(t.stringRepresentationWithBits(), row.expected);
    }
}

TEST(EMTimecodeTest, DropFrameEdges) {
    auto t = tc(k2997df, 0, 0, 59, 29);
    t->addFrames(1);
    EXPECT_EQ(t->stringRepresentation(), "0:01:00;02");
    t = tc(k2997df, 0, 9, 59, 29);
    t->addFrames(1);
    EXPECT_EQ(t->stringRepresentation(), "0:10:00;00");

    const std::pair<int64_t, const char*> counts[] = {
        {1799, "0:00:59;29"},   {1800, "0:01:00;02"},  {17982, "0:10:00;00"},
        {107892, "1:00:00;00"}, {17981, "0:09:59;29"}, {3597, "0:01:59;29"},
    };
    for (const auto& [count, text] : counts) {
        EMTimecode d;
        d.setFramerate(k2997df);
        d.setFramesFromZero(count);
        EXPECT_EQ(d.stringRepresentation(), text) << count;
        EXPECT_EQ(d.framesFromZero(), count);
    }
}

// Every frame of a day, both drop-frame rates: counts survive setting and
// reading back, consecutive counts are consecutive existing labels.
TEST(EMTimecodeTest, DropFrameCountRoundTripsOverTwentyFourHours) {
    for (EMTimecodeFramerate rate : {k2997df, k30df}) {
        SCOPED_TRACE(rate.label());
        EMTimecode t;
        t.setFramerate(rate);
        const int64_t day = 24 * 107892;
        int64_t failures = 0;
        int64_t previousNominal = -1;
        for (int64_t count = 0; count <= day; ++count) {
            t.setFramesFromZero(count);
            const int64_t nominal = 30 * (3600 * int64_t{t.hh()} + 60 * t.mm() + t.ss()) + t.ff();
            const int64_t skipped = nominal - previousNominal;
            const bool consecutive = skipped == 1 || (skipped == 3 && t.ff() == 2);
            if (t.framesFromZero() != count || isDroppedLabel(t) || !consecutive) {
                if (++failures < 5) ADD_FAILURE() << count << " -> " << t.stringRepresentation();
            }
            previousNominal = nominal;
        }
        EXPECT_EQ(failures, 0);
        EXPECT_EQ(t.stringRepresentation(), "24:00:00;00");
    }
}

TEST(EMTimecodeTest, FrameCountsRoundTripAtEveryRate) {
    for (int index = 0; index < 8; ++index) {
        const EMTimecodeFramerate rate = EMTimecodeFramerate::framerateForIndex(index);
        EMTimecode t;
        t.setFramerate(rate);
        t.setBits(33);
        for (int64_t count = -200000; count <= 200000; count += 7) {
            t.setFramesFromZero(count);
            ASSERT_EQ(t.framesFromZero(), count) << rate.label();
            ASSERT_EQ(t.negative(), count < 0);
            ASSERT_EQ(t.bits(), 33u);
        }
    }
}

TEST(EMTimecodeTest, NegativeCounts) {
    auto t = tc(k30, 0, 0, 0, 0);
    t->subtractFrames(1);
    EXPECT_EQ(t->stringRepresentation(), "0:00:00:01");
    EXPECT_TRUE(t->negative());
    EXPECT_EQ(t->framesFromZero(), -1);
    EXPECT_DOUBLE_EQ(t->secondsFromZero(), -1.0 / 30);
    t->addFrames(3);
    EXPECT_FALSE(t->negative());
    EXPECT_EQ(t->stringRepresentation(), "0:00:00:02");

    auto borrowed = tc(k25, 0, 0, 0, 0);
    borrowed->setFF(-1);
    EXPECT_EQ(borrowed->stringRepresentation(), "-1:59:59:24");
    EXPECT_FALSE(borrowed->negative());
    EXPECT_EQ(borrowed->framesFromZero(), -1);

    // The extreme counts saturate instead of overflowing.
    EMTimecode extreme;
    extreme.setFramerate(k2997df);
    extreme.setFramesFromZero(std::numeric_limits<int64_t>::min());
    EXPECT_TRUE(extreme.negative());
    EXPECT_EQ(extreme.hh(), std::numeric_limits<int32_t>::max());
    extreme.setFramesFromZero(std::numeric_limits<int64_t>::max());
    EXPECT_FALSE(extreme.negative());
    EXPECT_GT(extreme.framesFromZero(), 0);
}

TEST(EMTimecodeTest, Seconds) {
    EXPECT_DOUBLE_EQ(tc(k23976, 1, 0, 0, 0)->secondsFromZero(), 3603.6);
    EXPECT_DOUBLE_EQ(tc(k2997df, 1, 0, 0, 0)->secondsFromZero(), 3599.9964);
    EXPECT_DOUBLE_EQ(tc(k30, 0, 0, 1, 0)->secondsFromZero(), 1.0);
    EXPECT_DOUBLE_EQ(tc(k25, 0, 0, 0, 1, 40)->secondsFromZero(), 1.5 / 25);

    EMTimecode t;
    t.setFramerate(k25);
    t.setSecondsFromZero(61.5);
    EXPECT_EQ(t.stringRepresentationWithBits(), "0:01:01:12/40");
    t.setFramerate(k2997nd);
    t.setSecondsFromZero(1.0);
    EXPECT_EQ(t.stringRepresentationWithBits(), "0:00:00:29/77");
}

TEST(EMTimecodeTest, NegativeSecondsKeepTheirFraction) {
    EMTimecode t;
    t.setFramerate(k30);
    t.setSecondsFromZero(-1.5 / 30);
    EXPECT_EQ(t.stringRepresentationWithBits(), "0:00:00:01/40");
    EXPECT_TRUE(t.negative());
    EXPECT_DOUBLE_EQ(t.secondsFromZero(), -0.05);
    t.setSecondsFromZero(-0.5 / 30);
    EXPECT_DOUBLE_EQ(t.secondsFromZero(), -0.5 / 30);
    t.subtractSeconds(1.0);
    EXPECT_DOUBLE_EQ(t.secondsFromZero(), -0.5 / 30 - 1.0);
}

// Reading the seconds and setting them back must not move the timecode, at
// every rate, although at video speed the division by 1.001 is inexact.
TEST(EMTimecodeTest, SecondsRoundTripWithoutDrift) {
    for (int index = 0; index < 8; ++index) {
        const EMTimecodeFramerate rate = EMTimecodeFramerate::framerateForIndex(index);
        EMTimecode t;
        t.setFramerate(rate);
        for (int64_t count = 0; count < 2600000; count += 997) {
            t.setFramesFromZero(count);
            t.setBits(static_cast<uint32_t>(count % 80));
            const std::string before = t.stringRepresentationWithBits();
            t.setSecondsFromZero(t.secondsFromZero());
            ASSERT_EQ(t.stringRepresentationWithBits(), before) << rate.label();
            t.convertFramerateTo(rate);
            ASSERT_EQ(t.stringRepresentationWithBits(), before) << rate.label();
        }
    }
}

TEST(EMTimecodeTest, UnusableSecondsStaySane) {
    EMTimecode t;
    t.setFramerate(k30);
    t.setSecondsFromZero(std::nan(""));
    EXPECT_EQ(t.stringRepresentationWithBits(), "0:00:00:00/00");
    t.setSecondsFromZero(1e300);
    EXPECT_GT(t.framesFromZero(), 0);
    t.setSecondsFromZero(-std::numeric_limits<double>::infinity());
    EXPECT_TRUE(t.negative());
    EXPECT_LT(t.secondsFromZero(), 0.0);
}

TEST(EMTimecodeTest, RelativeConversions) {
    auto base = tc(k25, 0, 0, 1, 0, 40);
    EMTimecode t;
    t.setFramerate(k30);
    t.setFrames(5, *base);
    EXPECT_EQ(t.stringRepresentationWithBits(), "0:00:01:00/40");
    EXPECT_EQ(t.framesFromTimecode(*base), 5);
    t.setSeconds(0.5, *base);
    EXPECT_EQ(t.stringRepresentationWithBits(), "0:00:01:15/48");
    EXPECT_NEAR(t.secondsFromTimecode(*base), 0.5, 1e-9);

    auto moving = tc(k24, 0, 0, 0, 10, 20);
    moving->addFrames(20);
    EXPECT_EQ(moving->stringRepresentationWithBits(), "0:00:01:06/20");
    moving->subtractFrames(30);
    EXPECT_EQ(moving->stringRepresentationWithBits(), "0:00:00:00/20");
    moving->addSeconds(1.5);
    EXPECT_EQ(moving->stringRepresentationWithBits(), "0:00:01:12/20");
    // Setting from itself.
    moving->setFrames(1, *moving);
    EXPECT_EQ(moving->stringRepresentationWithBits(), "0:00:01:13/20");
}

TEST(EMTimecodeTest, RateConversions) {
    auto t = tc(k30, 0, 0, 1, 0);
    t->convertFramerateTo(k2997nd);
    EXPECT_EQ(t->stringRepresentationWithBitsAndFramerate(), "0:00:00:29/77@29.97nd");

    auto reel = tc(k30, 10, 0, 1, 0);
    reel->convertFramerateFromReelStartTo(k2997nd);
    EXPECT_EQ(reel->stringRepresentationWithBits(), "10:00:00:29/77");

    auto film = tc(k24, 1, 0, 0, 0);
    film->convertFramerateTo(k25);
    EXPECT_EQ(film->stringRepresentation(), "1:00:00:00");
}

TEST(EMTimecodeTest, MediaTimestamps) {
    for (const auto& [rate, value, timescale] :
         {std::tuple{k23976, 1000, 23976}, std::tuple{k2997df, 100, 2997}, std::tuple{k24, 100, 2400},
          std::tuple{k30, 100, 3000}}) {
        auto start = tc(rate, 1, 0, 0, 0);
        auto later = tc(rate, 1, 0, 0, 1);
        EXPECT_EQ(later->cmTimeRelativeToTimecode(*start), (MediaTime{value, timescale})) << rate.label();
        EXPECT_EQ(start->cmTimeRelativeToTimecode(*later), (MediaTime{-value, timescale})) << rate.label();
    }
    auto invalid = EMTimecode::invalidTimecode();
    EXPECT_EQ(invalid->_timeScale(), 3000);
    EXPECT_EQ(invalid->_timeScaleTicksPerFrame(), 100);
    // A footage of a day at 24.975 in media ticks.
    auto day = tc(EMTimecodeFramerate::framerateForIndex(2), 24, 0, 0, 0);
    EXPECT_EQ(day->cmTimeRelativeToTimecode(EMTimecode()).value, int64_t{24} * 3600 * 25 * 1000);
}

TEST(EMTimecodeTest, FeetAndFrames) {
    const std::tuple<int64_t, const char*, const char*> table[] = {
        {1440, "90+00", "36+00"},
        {17, "1+01", "0+17"},
        {0, "0+00", "0+00"},
        {-17, "-1+01", "-0+17"},
    };
    for (const auto& [count, mm35, mm16] : table) {
        EMTimecode t;
        t.setFramerate(k24);
        t.setFramesFromZero(count);
        EXPECT_EQ(t.feetFramesRepresentation35mm(), mm35) << count;
        EXPECT_EQ(t.feetFramesRepresentation16mm(), mm16) << count;
    }
}

TEST(EMTimecodeTest, Printing) {
    auto t = tc(k2997df, 1, 0, 0, 2, 7);
    EXPECT_EQ(t->stringRepresentation(), "1:00:00;02");
    EXPECT_EQ(t->stringRepresentationWithBits(), "1:00:00;02/07");
    EXPECT_EQ(t->stringRepresentationWithBitsAndFramerate(), "1:00:00;02/07@29.97df");
    EXPECT_EQ(t->description(), t->stringRepresentationWithBitsAndFramerate());
    EXPECT_EQ(tc(k23976, 123, 4, 5, 6)->description(), "123:04:05:06/00@23.976 fps");
    EXPECT_EQ(tc(k25, -2, 0, 0, 0)->stringRepresentation(), "-2:00:00:00");
}

struct ParseCase {
    const char* text;
    EMTimecodeFramerate rate;
    const char* expected;  // with bits and rate
};

TEST(EMTimecodeTest, Parsing) {
    const ParseCase table[] = {
        {"01:02:03:04", k30, "1:02:03:04/00@30fps"},
        {"1.2.3.4", k30, "1:02:03:04/00@30fps"},
        {"01:02", k30, "1:02:00:00/00@30fps"},
        {"01020304", k30, "1:02:03:04/00@30fps"},
        {"1:2:3:4:40", k30, "1:02:03:04/40@30fps"},
        {" 1:00:00:00", k30, "0:01:00:00/00@30fps"},
        {"1000000", k30, "1:00:00:00/00@30fps"},
        {"100", k30, "100:00:00:00/00@30fps"},
        {"101", k30, "0:00:01:01/00@30fps"},
        {"1:", k30, "1:00:00:00/00@30fps"},
        {"1::2", k30, "1:00:02:00/00@30fps"},
        {"abc", k30, "0:00:00:00/00@30fps"},
        {"0:00:00:45", k30, "0:00:01:15/00@30fps"},
        {"-1:00:00:00", k30, "-1:00:00:00/00@30fps"},
        {"1\u20222\u20223\u20224", k25, "1:02:03:04/00@25fps"},
        {"0:01:00;00", k2997df, "0:01:00;02/00@29.97df"},
        // A ";" does not switch drop frame on, nor ":" off.
        {"0:01:00;00", k30, "0:01:00:00/00@30fps"},
        {"0:10:00:00", k30df, "0:10:00;00/00@30df"},
        {"00595929", k30df, "0:59:59;29/00@30df"},
        {"99999999999999999999999", k30, "2147:48:37:17/00@30fps"},
        {"1:99999999999999999999", k24, "35791395:07:00:00/00@24fps"},
        {"0:0:0:0:-99999999999999999999", k30, "-249:26:55:04/32@30fps"},
    };
    for (const ParseCase& row : table) {
        SCOPED_TRACE(row.text);
        auto t = tc(row.rate, 5, 5, 5, 5, 5);
        t->setStringRepresentation(row.text);
        EXPECT_EQ(t->description(), row.expected);
    }
}

TEST(EMTimecodeTest, ParsingEmptyTextChangesNothingAndOtherTextClearsNegative) {
    auto t = tc(k30, 1, 2, 3, 4, 5);
    t->setStringRepresentation("");
    EXPECT_EQ(t->stringRepresentationWithBits(), "1:02:03:04/05");

    t->setFramesFromZero(-10);
    ASSERT_TRUE(t->negative());
    t->setStringRepresentation("0:00:00:10");
    EXPECT_FALSE(t->negative());
    EXPECT_EQ(t->framesFromZero(), 10);
}

TEST(EMTimecodeTest, PrintedFormsParseBack) {
    for (int index = 0; index < 8; ++index) {
        const EMTimecodeFramerate rate = EMTimecodeFramerate::framerateForIndex(index);
        EMTimecode t;
        t.setFramerate(rate);
        EMTimecode parsed;
        parsed.setFramerate(rate);
        for (int64_t count = -300000; count < 8000000; count += 4999) {
            t.setFramesFromZero(count);
            t.setBits(static_cast<uint32_t>(count & 63));
            if (t.negative()) continue;
            parsed.setStringRepresentation(t.stringRepresentationWithBits());
            ASSERT_TRUE(parsed.isEqual(t)) << t.description() << " vs " << parsed.description();
        }
    }
}

TEST(EMTimecodeTest, ComparisonIsByTimeAndEqualityByText) {
    auto at25 = tc(k25, 1, 0, 0, 0);
    auto at30 = tc(k30, 1, 0, 0, 0);
    EXPECT_EQ(at25->compare(*at30), 0);
    EXPECT_FALSE(at25->isEqual(*at30));

    EXPECT_EQ(tc(k30, 1, 0, 0, 0)->compare(*tc(k30, 1, 0, 0, 0, 1)), -1);
    EXPECT_EQ(tc(k30, 1, 0, 0, 1)->compare(*tc(k30, 1, 0, 0, 0, 79)), 1);
    // 1:00:00:00 at 29.97 is later in time than at 30.
    EXPECT_EQ(tc(k2997nd, 1, 0, 0, 0)->compare(*at30), 1);

    EXPECT_TRUE(tc(k30, 1, 2, 3, 4, 5)->isEqual(*tc(k30, 1, 2, 3, 4, 5)));
    EXPECT_FALSE(tc(k30, 1, 2, 3, 4, 5)->isEqual(*tc(k30, 1, 2, 3, 4, 6)));
    EXPECT_FALSE(tc(k30df, 1, 0, 0, 0)->isEqual(*tc(k2997df, 1, 0, 0, 0)));
    EXPECT_FALSE(tc(k30df, 1, 0, 0, 0)->isEqual(*tc(k30, 1, 0, 0, 0)));
    // The sign is not part of equality.
    EMTimecode minusOne;
    minusOne.setFramerate(k30);
    minusOne.setFramesFromZero(-1);
    EXPECT_TRUE(minusOne.isEqual(*tc(k30, 0, 0, 0, 1)));
    EXPECT_EQ(minusOne.compare(*tc(k30, 0, 0, 0, 1)), -1);
}

TEST(EMTimecodeTest, Copies) {
    auto original = tc(k2997df, 1, 0, 0, 2, 40);
    original->setFramesFromZero(-original->framesFromZero());
    ASSERT_TRUE(original->negative());
    auto copy = original->copy();
    EXPECT_TRUE(copy->isEqual(*original));
    EXPECT_FALSE(copy->negative());
    copy->addFrames(1);
    EXPECT_EQ(original->stringRepresentationWithBits(), "1:00:00;02/40");

    EMTimecode assigned;
    assigned.setFramesFromZero(-5);
    assigned = *tc(k25, 2, 0, 0, 0);
    EXPECT_FALSE(assigned.negative());
    EXPECT_EQ(assigned.description(), "2:00:00:00/00@25fps");

    auto invalid = EMTimecode::invalidTimecode();
    invalid->setFF(77);
    EXPECT_EQ(invalid->copy()->description(), "0:00:00:77/00@[invalid]");
}

// A rate of 0 only comes from a damaged archive; nothing may divide by it.
TEST(EMTimecodeTest, DamagedRatesStaySane) {
    for (uint32_t fps : {0u, 1u, 4000000000u}) {
        SCOPED_TRACE(fps);
        EMTimecode t;
        t.setFramerate(EMTimecodeFramerate{fps, true, true});
        t.setHH(1000);
        t.setFF(12);
        EXPECT_TRUE(std::isfinite(t.secondsFromZero()));
        t.setFramesFromZero(123456789);
        t.setSecondsFromZero(99.5);
        EXPECT_TRUE(std::isfinite(t.secondsFromZero()));
        t.addFrames(std::numeric_limits<int64_t>::max());
        t.subtractFrames(std::numeric_limits<int64_t>::min());
        (void)t.cmTimeRelativeToTimecode(*tc(k30, 1, 0, 0, 0));
        (void)t.feetFramesRepresentation35mm();
        EXPECT_NE(t.description().find("@"), std::string::npos);
    }
    EMTimecode zero;
    zero.setFramerate(EMTimecodeFramerate{0, false, false});
    zero.setFramesFromZero(3601);
    EXPECT_EQ(zero.stringRepresentation(), "1:00:01:00");
    EXPECT_DOUBLE_EQ(zero.secondsFromZero(), 3601.0);
}

}  // namespace
}  // namespace tollvane
