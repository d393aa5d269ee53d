#include "model/FFAlias.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "ReelTestSupport.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedUnarchiver.h"

namespace tollvane {
namespace {

using namespace reeltest;

// An alias as a file from elsewhere holds it.
class StoredAlias : public Archivable {
public:
    StoredAlias(Data record, std::string lastKnownPath, bool inlineRecord = false)
        : record_(std::move(record)), lastKnownPath_(std::move(lastKnownPath)), inline_(inlineRecord) {}
    std::string archiveClassName() const override { return "FFAlias"; }
    void encodeWithCoder(KeyedArchiver& coder) const override {
        if (inline_) {
            coder.encodeBytes(record_, "alias");
        } else {
            coder.encodeObject(Value(record_), "alias");
        }
        coder.encodeObject(Value(lastKnownPath_), "lastKnownPath");
    }

private:
    Data record_;
    std::string lastKnownPath_;
    bool inline_;
};

std::shared_ptr<FFAlias> readBack(const Value& stored) {
    FFAlias::registerArchiveClass();
    return KeyedUnarchiver::unarchivedObjectWithData(KeyedArchiver::archivedDataWithRootObject(stored))
        .object<FFAlias>();
}

Data bytesOf(const std::string& text) {
    return Data(text.begin(), text.end());
}

TEST(FFAliasTest, AliasMadeHereRecordsThePath) {
    auto alias = FFAlias::aliasWithPath(twoSecondMovie());
    EXPECT_EQ(alias->aliasData(), bytesOf(twoSecondMovie()));
    EXPECT_TRUE(alias->hasPathRecord());
    EXPECT_EQ(alias->lastKnownFullPath(), twoSecondMovie());
    EXPECT_EQ(alias->fullPath(), twoSecondMovie());

    auto missing = FFAlias::aliasWithPath("/nonexistent/reel.mov");
    EXPECT_EQ(missing->fullPath(), "");
    EXPECT_EQ(missing->lastKnownFullPath(), "/nonexistent/reel.mov");
    EXPECT_EQ(missing->recordedPath(), "/nonexistent/reel.mov");
}

TEST(FFAliasTest, RecordsFromElsewhereFallBackOnTheLastKnownPath) {
    const Data platformRecord = {0, 0, 0, 0, 0, 0x8a, 0, 2, 0, 0, 7, 'P', 'i', 'c', 't', 'u', 'r', 'e'};
    const std::string nul("/a\0b", 4);
    for (const Data& record : {platformRecord, bytesOf("reel.mov"), bytesOf("/\xff\xfe.mov"),
                               bytesOf("/\xed\xa0\x80.mov"), bytesOf("/\xc0\xaf"), bytesOf(nul), Data{}}) {
        auto present = readBack(std::make_shared<StoredAlias>(record, twoSecondMovie()));
        EXPECT_FALSE(present->hasPathRecord());
        EXPECT_EQ(present->aliasData(), record);
        EXPECT_EQ(present->fullPath(), twoSecondMovie());

        auto absent = readBack(std::make_shared<StoredAlias>(record, "/Volumes/Picture/reel.mov"));
        EXPECT_EQ(absent->fullPath(), "");
        EXPECT_EQ(absent->lastKnownFullPath(), "/Volumes/Picture/reel.mov");
    }
    // Multi-byte UTF-8 is a path like any other.
    EXPECT_TRUE(FFAlias::aliasWithPath("/Filme/\xc3\x9c"
                                       "berblendung \xe2\x99\xa9.mov")
                    ->hasPathRecord());
}

TEST(FFAliasTest, RecordIsWrittenBackByteForByteInItsOwnForm) {
    Data record(300);
    for (size_t i = 0; i < record.size(); ++i) record[i] = static_cast<uint8_t>(i * 7);
    for (bool inlineRecord : {false, true}) {
        auto first =
            readBack(std::make_shared<StoredAlias>(record, "/Volumes/Picture/reel.mov", inlineRecord));
        const Data bytes = KeyedArchiver::archivedDataWithRootObject(Value(first));
        const Data expected = KeyedArchiver::archivedDataWithRootObject(
            Value(std::make_shared<StoredAlias>(record, "/Volumes/Picture/reel.mov", inlineRecord)));
        EXPECT_EQ(bytes, expected) << (inlineRecord ? "inline" : "object");
        EXPECT_EQ(readBack(Value(first))->aliasData(), record);
    }
}

TEST(FFAliasTest, EqualWhenBothResolveToOnePath) {
    ScratchDirectory scratch;
    const std::string other = scratch.copyMovie(twoSecondMovie(), "other.mov");
    auto a = FFAlias::aliasWithPath(twoSecondMovie());
    auto b = readBack(std::make_shared<StoredAlias>(Data{0, 1, 2}, twoSecondMovie()));
    auto c = FFAlias::aliasWithPath(other);
    auto missing = FFAlias::aliasWithPath("/nonexistent/x.mov");
    auto missingToo = FFAlias::aliasWithPath("/nonexistent/x.mov");
    EXPECT_TRUE(a->isEqual(*b));
    EXPECT_TRUE(b->isEqual(*a));
    EXPECT_FALSE(a->isEqual(*c));
    EXPECT_FALSE(missing->isEqual(*missingToo));
}

}  // namespace
}  // namespace tollvane
