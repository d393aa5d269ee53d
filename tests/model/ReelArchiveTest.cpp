#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "ReelTestSupport.h"
#include "model/Reel.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedUnarchiver.h"

namespace tollvane {
namespace {

using namespace reeltest;

Data fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Data(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool holds(const Data& haystack, const Data& needle) {
    return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) != haystack.end();
}

bool holds(const Data& haystack, const std::string& text) {
    return holds(haystack, Data(text.begin(), text.end()));
}

std::shared_ptr<Reel> readBack(const Data& bytes) {
    return KeyedUnarchiver::unarchivedObjectWithData(bytes).object<Reel>();
}

// A reel as a file from elsewhere holds it, with its own alias record.
class StoredReel : public Archivable {
public:
    StoredReel(uint32_t reelID, Data record, std::string lastKnownPath)
        : reelID_(reelID), record_(std::move(record)), lastKnownPath_(std::move(lastKnownPath)) {}
    std::string archiveClassName() const override { return "Reel"; }
    void encodeWithCoder(KeyedArchiver& coder) const override {
        coder.encodeObject(Value(std::make_shared<Alias>(record_, lastKnownPath_)), "movieFileAlias");
        coder.encodeObject(
            Value(EMTimecode::timecodeWithFramerate(EMTimecodeFramerate::framerateForIndex(3), "1:00:00:00")),
            "startTimecode");
        coder.encodeObject(Value("Reel 1"), "title");
        coder.encodeInt(reelID_, "id");
    }

private:
    class Alias : public Archivable {
    public:
        Alias(Data record, std::string path) : record_(std::move(record)), path_(std::move(path)) {}
        std::string archiveClassName() const override { return "FFAlias"; }
        void encodeWithCoder(KeyedArchiver& coder) const override {
            coder.encodeObject(Value(record_), "alias");
            coder.encodeObject(Value(path_), "lastKnownPath");
        }

    private:
        Data record_;
        std::string path_;
    };
    uint32_t reelID_;
    Data record_;
    std::string lastKnownPath_;
};

class ReelArchiveTest : public ::testing::Test {
protected:
    void SetUp() override { Reel::registerArchiveClass(); }
};

TEST_F(ReelArchiveTest, RoundTripKeepsEveryFieldAndRegistersTheCopy) {
    auto reel = std::make_shared<Reel>(0x01020304);
    reel->setPath(twoSecondMovie());
    reel->setTitle("Reel 1 \xe2\x80\x94 Opening");
    reel->setStartTimecode(
        EMTimecode::timecodeWithFramerate(EMTimecodeFramerate::framerateForIndex(5), "1:00:10;02"));
    const Data bytes = KeyedArchiver::archivedDataWithRootObject(Value(reel));
    for (const char* key :
         {"Reel", "FFAlias", "movieFileAlias", "startTimecode", "title", "id", "alias", "lastKnownPath"})
        EXPECT_TRUE(holds(bytes, key)) << key;

    auto copy = readBack(bytes);
    ASSERT_TRUE(copy);
    EXPECT_NE(copy, reel);
    EXPECT_EQ(copy->reelID(), 0x01020304u);
    EXPECT_EQ(copy->title(), reel->title());
    EXPECT_TRUE(copy->startTimecode()->isEqual(*reel->startTimecode()));
    EXPECT_EQ(copy->path(), twoSecondMovie());
    EXPECT_NEAR(copy->duration(), 2.0, 1e-9);
    EXPECT_FALSE(copy->document());
    EXPECT_EQ(Reel::reelWithID(0x01020304), copy);

    // Reading the same reel again replaces the first copy in the registry.
    auto again = readBack(bytes);
    EXPECT_NE(again, copy);
    EXPECT_EQ(Reel::reelWithID(0x01020304), again);
}

TEST_F(ReelArchiveTest, ReelWithoutMovieOrStartReadsBackBroken) {
    auto reel = std::make_shared<Reel>(0x0A0B0C0D);
    auto copy = readBack(KeyedArchiver::archivedDataWithRootObject(Value(reel)));
    EXPECT_FALSE(copy->alias());
    EXPECT_FALSE(copy->startTimecode());
    EXPECT_EQ(copy->duration(), -1.0);
    EXPECT_EQ(copy->path(), "");
}

TEST_F(ReelArchiveTest, ForeignAliasRecordIsKeptByteForByte) {
    const Data record = {0,   0,   0,   0,   0,   0xba, 0,   2,    0,    0,   7,
                         'P', 'i', 'c', 't', 'u', 'r',  'e', 0xc8, 0xa1, 0xff};
    // The last known path names a movie that is here: it serves.
    auto reel = readBack(KeyedArchiver::archivedDataWithRootObject(
        Value(std::make_shared<StoredReel>(0x11223344, record, twoSecondMovie()))));
    ASSERT_TRUE(reel);
    EXPECT_EQ(reel->path(), twoSecondMovie());
    EXPECT_TRUE(reel->validFile());
    EXPECT_EQ(reel->alias()->aliasData(), record);

    const Data written = KeyedArchiver::archivedDataWithRootObject(Value(reel));
    EXPECT_TRUE(holds(written, record));
    EXPECT_EQ(readBack(written)->alias()->aliasData(), record);
}

TEST_F(ReelArchiveTest, ReelListFromElsewhereReadsAndWritesBack) {
    const std::string fixture = std::string(TOLLVANE_TEST_DATA) + "/reels/elsewhere.tollvane";
    const Data original = fileBytes(fixture);
    ASSERT_FALSE(original.empty());
    const Value root = KeyedUnarchiver::unarchivedObjectWithData(original);
    const auto& list = root.dictionaryValue()->find("reels")->arrayValue()->items;
    ASSERT_EQ(list.size(), 3u);

    struct Expected {
        uint32_t id;
        const char* title;
        const char* path;
        const char* start;
    };
    const Expected expected[] = {{1234567, "Reel 1", "/Volumes/Picture/Reel 1.mov", "1:00:00:00"},
                                 {2345678, "Reel 2", "/Volumes/Picture/Reel 2.mov", "1:20:00:00"},
                                 {3456789, "Reel 3", "", "-:--:--"}};
    for (size_t i = 0; i < 3; ++i) {
        auto reel = list[i].object<Reel>();
        ASSERT_TRUE(reel);
        EXPECT_EQ(reel->reelID(), expected[i].id);
        EXPECT_EQ(reel->title(), expected[i].title);
        EXPECT_EQ(reel->path(), expected[i].path);
        EXPECT_EQ(reel->startTimecodeString(), expected[i].start);
        EXPECT_EQ(reel->duration(), -1.0);
        EXPECT_EQ(Reel::reelWithID(expected[i].id), reel);
    }
    const auto first = list[0].object<Reel>()->alias()->aliasData();
    const auto second = list[1].object<Reel>()->alias()->aliasData();
    ASSERT_TRUE(holds(original, first));
    ASSERT_TRUE(holds(original, second));

    const Data written = KeyedArchiver::archivedDataWithRootObject(root);
    EXPECT_TRUE(holds(written, first));
    EXPECT_TRUE(holds(written, second));
    const Value reread = KeyedUnarchiver::unarchivedObjectWithData(written);
    EXPECT_EQ(
        reread.dictionaryValue()->find("reels")->arrayValue()->items[1].object<Reel>()->alias()->aliasData(),
        second);
}

}  // namespace
}  // namespace tollvane
