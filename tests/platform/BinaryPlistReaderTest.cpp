// The in-place binary property list reader: every object kind and width,
// UTF-16 text, dictionary lookups, and UTF-16 through a whole archive.

#include <gtest/gtest.h>

#include "HandMadePlist.h"

#include <string>
#include <vector>

#include "platform/archive/ArchiveError.h"
#include "platform/archive/BinaryPlistCheck.h"
#include "platform/archive/BinaryPlistReader.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedUnarchiver.h"

namespace tollvane {
namespace {

using Kind = BinaryPlistReader::Kind;

// A binary property list of the given objects (one-byte references, two-byte
// offsets), its top object first unless said otherwise.
Data plist(const std::vector<std::vector<uint8_t>>& objects, uint64_t top = 0) {
    Data out = testing::handMadePlist(objects, top);
    BinaryPlistCheck::check(out.data(), out.size());
    return out;
}

std::vector<uint8_t> utf16(const std::vector<uint16_t>& units) {
    std::vector<uint8_t> bytes = {static_cast<uint8_t>(0x60 | units.size())};
    for (uint16_t unit : units) {
        bytes.push_back(static_cast<uint8_t>(unit >> 8));
        bytes.push_back(static_cast<uint8_t>(unit));
    }
    return bytes;
}

TEST(BinaryPlistReader, IntegersOfEveryWidth) {
    struct Case {
        std::vector<uint8_t> object;
        uint64_t expected;
    } cases[] = {
        {{0x10, 0xFF}, 0xFF},
        {{0x11, 0x12, 0x34}, 0x1234},
        {{0x12, 0x80, 0x00, 0x00, 0x01}, 0x80000001},
        {{0x13, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE}, ~uint64_t{1}},
        // Sixteen bytes: the low eight count.
        {{0x14, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 7}, 7},
    };
    for (const Case& c : cases) {
        const Data data = plist({c.object});
        BinaryPlistReader reader(data.data(), data.size());
        EXPECT_EQ(reader.kind(0), Kind::Integer);
        EXPECT_EQ(reader.integerValue(0), c.expected);
    }
}

TEST(BinaryPlistReader, OtherScalars) {
    const Data data = plist({{0xA6, 1, 2, 3, 4, 5, 6},
                             {0x22, 0x3F, 0xC0, 0x00, 0x00},
                             {0x23, 0xC0, 0x04, 0, 0, 0, 0, 0, 0},
                             {0x09},
                             {0x08},
                             {0x81, 0x01, 0x02},
                             {0x4F, 0x10, 0x10, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}});
    BinaryPlistReader reader(data.data(), data.size());
    ASSERT_EQ(reader.count(0), 6u);
    EXPECT_EQ(reader.kind(reader.element(0, 0)), Kind::Real);
    EXPECT_EQ(reader.realValue(reader.element(0, 0)), 1.5);
    EXPECT_EQ(reader.realValue(reader.element(0, 1)), -2.5);
    EXPECT_TRUE(reader.boolValue(reader.element(0, 2)));
    EXPECT_FALSE(reader.boolValue(reader.element(0, 3)));
    EXPECT_EQ(reader.kind(reader.element(0, 4)), Kind::UID);
    EXPECT_EQ(reader.uidValue(reader.element(0, 4)), 0x0102u);
    const Data bytes = reader.dataValue(reader.element(0, 5));
    ASSERT_EQ(bytes.size(), 16u);
    EXPECT_EQ(bytes.front(), 0);
    EXPECT_EQ(bytes.back(), 15);
}

TEST(BinaryPlistReader, Utf16DecodesToUtf8) {
    struct Case {
        const char* name;
        std::vector<uint16_t> units;
        std::string expected;
    } cases[] = {
        {"ascii", {'a', 'b'}, "ab"},
        {"two bytes", {0x00FC}, "\xC3\xBC"},
        {"three bytes", {0x65E5, 0x672C}, "\xE6\x97\xA5\xE6\x9C\xAC"},
        {"surrogate pair", {0xD834, 0xDD1E}, "\xF0\x9D\x84\x9E"},
        {"lead at end", {'a', 0xD834}, "a\xEF\xBF\xBD"},
        {"lead before a letter",
         {0xD834, 'a'},
         "\xEF\xBF\xBD"
         "a"},
        {"lone trail",
         {0xDD1E, 'a'},
         "\xEF\xBF\xBD"
         "a"},
        {"two leads then a trail", {0xD834, 0xD834, 0xDD1E}, "\xEF\xBF\xBD\xF0\x9D\x84\x9E"},
    };
    for (const Case& c : cases) {
        const Data data = plist({utf16(c.units)});
        BinaryPlistReader reader(data.data(), data.size());
        EXPECT_EQ(reader.kind(0), Kind::String) << c.name;
        EXPECT_EQ(reader.stringValue(0), c.expected) << c.name;
    }
}

TEST(BinaryPlistReader, DictionaryFindsTheFirstMatchingKey) {
    // {"k": 1, "\u00fc": 2, "k": 3}, the second key in UTF-16.
    const Data data =
        plist({{0xD3, 1, 2, 1, 3, 4, 5}, {0x51, 'k'}, utf16({0x00FC}), {0x10, 1}, {0x10, 2}, {0x10, 3}});
    BinaryPlistReader reader(data.data(), data.size());
    ASSERT_EQ(reader.count(0), 3u);
    EXPECT_EQ(reader.stringValue(reader.keyAt(0, 1)), "\xC3\xBC");
    EXPECT_EQ(reader.valueAt(0, 2), 5u);
    EXPECT_EQ(reader.find(0, "k"), 3u);
    EXPECT_EQ(reader.find(0, "\xC3\xBC"), 4u);
    EXPECT_EQ(reader.find(0, "absent"), BinaryPlistReader::kNone);
}

TEST(BinaryPlistReader, NullObjectIsRefused) {
    const Data data = plist({{0xA1, 1}, {0x00}});
    BinaryPlistReader reader(data.data(), data.size());
    EXPECT_THROW(reader.kind(1), ArchiveError);
}

TEST(BinaryPlistReader, NonAsciiTextSurvivesAnArchive) {
    Value root = Value::dictionary();
    root.dictionaryValue()->set(
        "Gr\xC3\xBC\xC3\x9F"
        "e",
        Value("\xE6\x97\xA5 \xF0\x9D\x84\x9E"));
    const Value back =
        KeyedUnarchiver::unarchivedObjectWithData(KeyedArchiver::archivedDataWithRootObject(root));
    ASSERT_TRUE(back.isDictionary());
    const Value* value = back.dictionaryValue()->find(
        "Gr\xC3\xBC\xC3\x9F"
        "e");
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(value->stringValue(), "\xE6\x97\xA5 \xF0\x9D\x84\x9E");
}

}  // namespace
}  // namespace tollvane
