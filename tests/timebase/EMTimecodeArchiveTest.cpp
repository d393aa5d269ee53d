#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "platform/archive/Archivable.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedUnarchiver.h"
#include "timebase/EMTimecode.h"

namespace tollvane {
namespace {

// Writes any values under the timecode's keys, as a damaged or foreign
// archive might hold them.
struct RawTimecode : Archivable {
    int64_t hh = 0, mm = 0, ss = 0, ff = 0, bits = 0, fps = 30;
    bool videoSpeed = false, dropFrame = false;

    std::string archiveClassName() const override { return "EMTimecode"; }
    void encodeWithCoder(KeyedArchiver& coder) const override {
        coder.encodeInt(hh, "EMTimecodeHH");
        coder.encodeInt(mm, "EMTimecodeMM");
        coder.encodeInt(ss, "EMTimecodeSS");
        coder.encodeInt(ff, "EMTimecodeFF");
        coder.encodeInt(bits, "EMTimecodeBits");
        coder.encodeInt(fps, "EMTimecodeFramerate.fps");
        coder.encodeBool(videoSpeed, "EMTimecodeFramerate.videoSpeed");
        coder.encodeBool(dropFrame, "EMTimecodeFramerate.dropFrame");
    }
};

class EMTimecodeArchiveTest : public ::testing::Test {
protected:
    void SetUp() override { EMTimecode::registerArchiveClass(); }

    static std::shared_ptr<EMTimecode> roundTrip(const Value& root) {
        Value decoded =
            KeyedUnarchiver::unarchivedObjectWithData(KeyedArchiver::archivedDataWithRootObject(root));
        return decoded.object<EMTimecode>();
    }
};

TEST_F(EMTimecodeArchiveTest, TimecodesRoundTrip) {
    std::vector<std::shared_ptr<EMTimecode>> originals;
    for (int index = 0; index < 8; ++index) {
        originals.push_back(
            EMTimecode::timecodeWithFramerate(EMTimecodeFramerate::framerateForIndex(index), 1, 2, 3, 4, 55));
    }
    originals.push_back(
        EMTimecode::timecodeWithFramerate(EMTimecodeFramerate::framerateForIndex(3), -3, 0, 0, 0));
    auto invalid = EMTimecode::invalidTimecode();
    invalid->setFF(-7);
    originals.push_back(invalid);

    Value array = Value::array();
    for (const auto& timecode : originals) array.arrayValue()->items.push_back(Value(timecode));
    Value decoded =
        KeyedUnarchiver::unarchivedObjectWithData(KeyedArchiver::archivedDataWithRootObject(array));
    ASSERT_TRUE(decoded.isArray());
    ASSERT_EQ(decoded.arrayValue()->items.size(), originals.size());
    for (size_t i = 0; i < originals.size(); ++i) {
        auto timecode = decoded.arrayValue()->items[i].object<EMTimecode>();
        ASSERT_NE(timecode, nullptr);
        EXPECT_EQ(timecode->description(), originals[i]->description());
        EXPECT_EQ(timecode->framerate(), originals[i]->framerate());
    }
}

TEST_F(EMTimecodeArchiveTest, TheSignIsNotArchived) {
    auto timecode = EMTimecode::timecodeWithFramerate(EMTimecodeFramerate::framerateForIndex(6), 0, 0, 0, 0);
    timecode->setFramesFromZero(-12);
    auto decoded = roundTrip(Value(timecode));
    ASSERT_NE(decoded, nullptr);
    EXPECT_FALSE(decoded->negative());
    EXPECT_EQ(decoded->framesFromZero(), 12);
}

TEST_F(EMTimecodeArchiveTest, KeysAndClassNameAreInTheArchive) {
    Data bytes = KeyedArchiver::archivedDataWithRootObject(Value(std::make_shared<EMTimecode>()));
    const std::string text(bytes.begin(), bytes.end());
    for (const char* key : {"EMTimecodeHH", "EMTimecodeMM", "EMTimecodeSS", "EMTimecodeFF", "EMTimecodeBits",
                            "EMTimecodeFramerate.fps", "EMTimecodeFramerate.videoSpeed",
                            "EMTimecodeFramerate.dropFrame", "$classname"}) {
        EXPECT_NE(text.find(key), std::string::npos) << key;
    }
}

TEST_F(EMTimecodeArchiveTest, DecodingStoresValuesAsRead) {
    auto raw = std::make_shared<RawTimecode>();
    raw->hh = 1;
    raw->mm = 75;
    raw->ff = 45;
    raw->bits = 100;
    raw->dropFrame = true;
    auto decoded = roundTrip(Value(std::shared_ptr<Archivable>(raw)));
    ASSERT_NE(decoded, nullptr);
    EXPECT_EQ(decoded->description(), "1:75:00;45/100@30df");
    EXPECT_FALSE(decoded->negative());
    // The next change normalises.
    decoded->setHH(1);
    EXPECT_EQ(decoded->description(), "2:15:01;16/20@30df");
}

TEST_F(EMTimecodeArchiveTest, DamagedValuesAreClampedToTheFields) {
    auto raw = std::make_shared<RawTimecode>();
    raw->hh = int64_t{1} << 40;
    raw->ff = -(int64_t{1} << 40);
    raw->fps = -5;
    auto decoded = roundTrip(Value(std::shared_ptr<Archivable>(raw)));
    ASSERT_NE(decoded, nullptr);
    EXPECT_EQ(decoded->hh(), std::numeric_limits<int32_t>::max());
    EXPECT_EQ(decoded->ff(), std::numeric_limits<int32_t>::min());
    EXPECT_EQ(decoded->framerate().fps, 0u);
    EXPECT_STREQ(decoded->framerate().label(), "[invalid]");
    EXPECT_TRUE(std::isfinite(decoded->secondsFromZero()));
}

}  // namespace
}  // namespace tollvane
