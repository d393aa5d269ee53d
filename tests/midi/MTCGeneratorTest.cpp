// The MTC generator's schedule on virtual frames: when each quarter frame
// falls, what it carries, and how a receiver would read it back.

#include "midi/MTCGenerator.h"

#include <gtest/gtest.h>

#include <string>

#include "timebase/EMTimecode.h"

namespace tollvane {
namespace {

EMTimecodeFramerate rate(const char* name) {
    return EMTimecodeFramerate::framerateForIndex(EMTimecodeFramerate::indexForName(name));
}

int64_t frameCount(const EMTimecodeFramerate& framerate, const char* text) {
    return EMTimecode::timecodeWithFramerate(framerate, text)->framesFromZero();
}

// What a receiver assembles from the eight pieces of one cycle.
MTCGenerator::Labels assemble(const MTCGenerator& generator, uint64_t cycle, int& code) {
    uint32_t nibbles[8] = {};
    for (uint64_t piece = 0; piece < 8; ++piece) {
        const uint8_t data = generator.quarterFrameData(cycle * 8 + piece);
        EXPECT_EQ(data >> 4, piece);
        nibbles[piece] = data & 0x0F;
    }
    code = static_cast<int>(nibbles[7] >> 1);
    return {(nibbles[7] & 1) << 4 | nibbles[6], nibbles[5] << 4 | nibbles[4], nibbles[3] << 4 | nibbles[2],
            nibbles[1] << 4 | nibbles[0]};
}

TEST(MTCGeneratorTest, QuarterFramesFallOnTheNearestSampleOfTheirExactTimes) {
    struct Case {
        const char* rate;
        uint32_t sampleRate;
        uint64_t k;
        uint64_t sample;
        uint64_t nanoseconds;
    };
    const Case cases[] = {
        {"25", 48000, 1, 480, 10'000'000},
        {"25", 48000, 100, 48000, 1'000'000'000},
        {"24", 48000, 1, 500, 10'416'667},
        {"24", 44100, 3, 1378, 31'250'000},  // 1378.125 rounds down
        {"30", 48000, 1, 400, 8'333'333},
        {"29.97df", 48000, 1, 400, 8'341'667},  // 400.4 samples
        {"29.97df", 48000, 5, 2002, 41'708'333},
        {"29.97df", 48000, 4 * 30000, 48'048'000, 1'001'000'000'000},
        {"29.97", 44100, 7, 2575, 58'391'667},  // 2575.0725
        // A day of 30 fps: the arithmetic must not overflow.
        {"30", 48000, 4 * 30 * 86400ull, 48000 * 86400ull, 86400'000'000'000ull},
        {"29.97df", 48000, 4 * 30 * 86400ull + 1, 48048ull * 86400 + 400, 86486'400'000'000ull + 8'341'667},
    };
    for (const Case& c : cases) {
        const MTCGenerator generator(rate(c.rate), 0, c.sampleRate);
        EXPECT_EQ(generator.sampleOffset(c.k), c.sample) << c.rate << " k " << c.k;
        EXPECT_EQ(generator.nanosecondsOffset(c.k), c.nanoseconds) << c.rate << " k " << c.k;
    }
}

TEST(MTCGeneratorTest, CallbacksOfAnyLengthCoverEveryQuarterFrameOnce) {
    for (const char* name : {"24", "25", "29.97df", "30"}) {
        for (const uint32_t period : {64u, 256u, 1000u, 1024u}) {
            const MTCGenerator generator(rate(name), 0, 48000);
            uint64_t expected = 0;
            for (uint64_t start = 0; start < 48000 * 3; start += period) {
                const uint64_t first = generator.firstAtOrAfter(start);
                const uint64_t end = generator.firstAtOrAfter(start + period);
                ASSERT_EQ(first, expected) << name << " period " << period << " at " << start;
                for (uint64_t k = first; k < end; ++k) {
                    ASSERT_GE(generator.sampleOffset(k), start);
                    ASSERT_LT(generator.sampleOffset(k), start + period);
                }
                expected = end;
            }
        }
    }
}

TEST(MTCGeneratorTest, CountsTheQuarterFramesOfADuration) {
    EXPECT_EQ(MTCGenerator(rate("25"), 0, 48000).countWithin(2.0), 200u);
    EXPECT_EQ(MTCGenerator(rate("25"), 0, 48000).countWithin(0.015), 2u);
    EXPECT_EQ(MTCGenerator(rate("30"), 0, 48000).countWithin(1.0), 120u);
    // 119.88 quarter frames a second.
    EXPECT_EQ(MTCGenerator(rate("29.97df"), 0, 48000).countWithin(1.0), 120u);
    EXPECT_EQ(MTCGenerator(rate("29.97df"), 0, 48000).countWithin(1.001), 120u);
    EXPECT_EQ(MTCGenerator(rate("24"), 0, 48000).countWithin(0), 0u);
}

TEST(MTCGeneratorTest, PiecesCarryTheCycleTimecodeAndTheRateCode) {
    struct Case {
        const char* rate;
        const char* start;
        int code;
    };
    const Case cases[] = {{"24", "01:00:00:00", 0},      {"23.976", "10:20:30:22", 0},
                          {"25", "01:00:00:00", 1},      {"25", "23:59:59:24", 1},
                          {"29.97df", "01:00:00;00", 2}, {"30df", "00:09:59;28", 2},
                          {"29.97", "01:02:03:04", 3},   {"30", "17:42:11:29", 3}};
    for (const Case& c : cases) {
        const EMTimecodeFramerate framerate = rate(c.rate);
        EXPECT_EQ(MTCGenerator::rateCode(framerate), c.code) << c.rate;
        const int64_t start = frameCount(framerate, c.start);
        const MTCGenerator generator(framerate, start, 48000);
        for (uint64_t cycle = 0; cycle < 40; ++cycle) {
            int code = -1;
            const MTCGenerator::Labels labels = assemble(generator, cycle, code);
            EXPECT_EQ(code, c.code);
            auto expected = EMTimecode::timecodeWithFramerate(framerate, 0, 0, 0, 0);
            expected->setFramesFromZero(start + 2 * static_cast<int64_t>(cycle));
            EXPECT_EQ(labels.hh, static_cast<uint32_t>(expected->hh()) % 24) << c.rate << " " << c.start;
            EXPECT_EQ(labels.mm, static_cast<uint32_t>(expected->mm()));
            EXPECT_EQ(labels.ss, static_cast<uint32_t>(expected->ss()));
            EXPECT_EQ(labels.ff, static_cast<uint32_t>(expected->ff())) << c.rate << " cycle " << cycle;
        }
    }
}

TEST(MTCGeneratorTest, DropFrameNumberingSkipsTwoLabelsAtEveryMinuteButTheTenth) {
    const EMTimecodeFramerate df = rate("29.97df");
    const MTCGenerator generator(df, frameCount(df, "00:00:59;28"), 48000);
    int code = 0;
    EXPECT_EQ(assemble(generator, 0, code), (MTCGenerator::Labels{0, 0, 59, 28}));
    EXPECT_EQ(assemble(generator, 1, code), (MTCGenerator::Labels{0, 1, 0, 2}));
    EXPECT_EQ(assemble(generator, 2, code), (MTCGenerator::Labels{0, 1, 0, 4}));

    const MTCGenerator tenth(df, frameCount(df, "00:09:59;28"), 48000);
    EXPECT_EQ(assemble(tenth, 1, code), (MTCGenerator::Labels{0, 10, 0, 0}));

    // Every real count agrees with the timecode's own numbering, across many minutes.
    auto check = EMTimecode::timecodeWithFramerate(df, 0, 0, 0, 0);
    const MTCGenerator zero(df, 0, 48000);
    for (int64_t frame = 0; frame < 3 * 17982 + 100; frame += 7) {
        check->setFramesFromZero(frame);
        const MTCGenerator::Labels labels = zero.labelsForFrame(frame);
        ASSERT_EQ(labels, (MTCGenerator::Labels{
                              static_cast<uint32_t>(check->hh()), static_cast<uint32_t>(check->mm()),
                              static_cast<uint32_t>(check->ss()), static_cast<uint32_t>(check->ff())}))
            << frame;
    }
}

TEST(MTCGeneratorTest, TheFullFrameLocatesToTheStartWithTheHoursWrappedAt24) {
    const EMTimecodeFramerate df = rate("29.97df");
    const MTCGenerator generator(df, frameCount(df, "25:10:00;00"), 48000);
    const std::array<uint8_t, 10> expected = {0xF0, 0x7F, 0x7F, 0x01, 0x01, 2 << 5 | 1, 10, 0, 0, 0xF7};
    EXPECT_EQ(generator.fullFrame(), expected);
    int code = 0;
    EXPECT_EQ(assemble(generator, 0, code).hh, 1u);
}

}  // namespace
}  // namespace tollvane
