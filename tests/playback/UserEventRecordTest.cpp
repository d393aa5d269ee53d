#include "playback/UserEventRecord.h"

#include <gtest/gtest.h>

#include <cstring>

namespace tollvane {
namespace {

template <class T>
T at(const std::vector<uint8_t>& block, size_t offset) {
    T value{};
    std::memcpy(&value, block.data() + offset, sizeof value);
    return value;
}

std::vector<uint8_t> bytes(const std::vector<uint8_t>& block, size_t from, size_t count) {
    return {block.begin() + static_cast<std::ptrdiff_t>(from),
            block.begin() + static_cast<std::ptrdiff_t>(from + count)};
}

TEST(UserEventRecordTest, FixedBlocksHaveTheirSizeLengthWordAndType) {
    struct Case {
        const char* name;
        std::vector<uint8_t> block;
        size_t size;
        uint32_t type;
    };
    const Case cases[] = {
        {"streamer", UserEventRecord::streamer({}), 28, fourCharCode("stmr")},
        {"punch", UserEventRecord::punch({}), 24, fourCharCode("pnch")},
        {"beeps", UserEventRecord::beeps({}), 20, fourCharCode("beep")},
        {"reel mute", UserEventRecord::reelMute(), 8, fourCharCode("rmut")},
        {"cue start", UserEventRecord::cueStart(), 8, fourCharCode("strt")},
        {"click", UserEventRecord::click(), 8, fourCharCode("clix")},
        {"empty text", UserEventRecord::textChange(""), 9, fourCharCode("text")},
        {"empty cue change", UserEventRecord::cueChange(7, ""), 17, fourCharCode("qchg")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(c.block.size(), c.size);
        EXPECT_EQ(at<uint32_t>(c.block, 0), c.size - 4);
        EXPECT_EQ(at<uint32_t>(c.block, 4), c.type);
        EXPECT_EQ(UserEventRecord::typeOf(c.block), c.type);
    }
}

TEST(UserEventRecordTest, StreamerCarriesColourAndUnalignedDuration) {
    const auto block = UserEventRecord::streamer({0.25f, 0.5f, 0.75f, 2.0 / 1.5});
    EXPECT_EQ(at<float>(block, 8), 0.25f);
    EXPECT_EQ(at<float>(block, 12), 0.5f);
    EXPECT_EQ(at<float>(block, 16), 0.75f);
    EXPECT_EQ(at<double>(block, 20), 2.0 / 1.5);

    const auto read = UserEventRecord::readStreamer(block);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->green, 0.5f);
    EXPECT_EQ(read->seconds, 2.0 / 1.5);
}

TEST(UserEventRecordTest, PunchAndBeepsPadWithZeros) {
    const auto punch = UserEventRecord::punch({1.0f, 0.0f, 0.5f, 3});
    EXPECT_EQ(at<uint16_t>(punch, 20), 3);
    EXPECT_EQ(bytes(punch, 22, 2), (std::vector<uint8_t>{0, 0}));
    ASSERT_TRUE(UserEventRecord::readPunch(punch));
    EXPECT_EQ(UserEventRecord::readPunch(punch)->holes, 3);
    EXPECT_EQ(UserEventRecord::readPunch(punch)->blue, 0.5f);

    const auto beeps = UserEventRecord::beeps({4, 8.0f / 3.0f, true});
    EXPECT_EQ(at<uint32_t>(beeps, 8), 4u);
    EXPECT_EQ(at<float>(beeps, 12), 8.0f / 3.0f);
    EXPECT_EQ(beeps[16], 1);
    EXPECT_EQ(bytes(beeps, 17, 3), (std::vector<uint8_t>{0, 0, 0}));
    const auto read = UserEventRecord::readBeeps(beeps);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->count, 4u);
    EXPECT_TRUE(read->punches);
}

TEST(UserEventRecordTest, TextChangeEndsWithItsZero) {
    const auto block = UserEventRecord::textChange("Für Elise");
    const std::string utf8 = "Für Elise";
    ASSERT_EQ(block.size(), 9 + utf8.size());
    EXPECT_EQ(at<uint32_t>(block, 0), 5 + utf8.size());
    EXPECT_EQ(block.back(), 0);
    EXPECT_EQ(UserEventRecord::readTextChange(block), utf8);
}

TEST(UserEventRecordTest, CueChangeForTwelveIsNineteenBytes) {
    const auto block = UserEventRecord::cueChange(0xA1B2C3D4u, "12");
    const std::vector<uint8_t> tail = {'1', '2', 0, 0, 0, 0, 0};
    ASSERT_EQ(block.size(), 19u);
    EXPECT_EQ(at<uint32_t>(block, 0), 15u);
    EXPECT_EQ(at<uint32_t>(block, 4), fourCharCode("qchg"));
    EXPECT_EQ(at<uint32_t>(block, 8), 0xA1B2C3D4u);
    EXPECT_EQ(bytes(block, 12, 7), tail);

    const auto read = UserEventRecord::readCueChange(block);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->documentHandle, 0xA1B2C3D4u);
    EXPECT_EQ(read->cueNumber, "12");
}

TEST(UserEventRecordTest, ReadersRefuseDamagedOrForeignBlocks) {
    auto streamer = UserEventRecord::streamer({});
    EXPECT_FALSE(UserEventRecord::readPunch(streamer)) << "wrong type";
    EXPECT_FALSE(UserEventRecord::typeOf(std::span(streamer).first(7))) << "shorter than a header";
    EXPECT_FALSE(UserEventRecord::typeOf(std::span(streamer).first(20))) << "length word does not match";

    // A block of the right type whose length word is honest but too short.
    auto shortStreamer = UserEventRecord::cueStart();
    const uint32_t type = UserEventRecord::kStreamer;
    std::memcpy(shortStreamer.data() + 4, &type, sizeof type);
    EXPECT_EQ(UserEventRecord::typeOf(shortStreamer), UserEventRecord::kStreamer);
    EXPECT_FALSE(UserEventRecord::readStreamer(shortStreamer));

    // A text without its zero reads to the block's end.
    auto text = UserEventRecord::textChange("abc");
    text.back() = 'd';
    EXPECT_EQ(UserEventRecord::readTextChange(text), "abcd");
}

}  // namespace
}  // namespace tollvane
