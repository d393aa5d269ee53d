#include "platform/PropertyList.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "platform/archive/Archivable.h"

namespace tollvane {
namespace {

using Format = PropertyList::Format;

Value dictionaryOf(std::vector<std::pair<std::string, Value>> entries) {
    Value d = Value::dictionary();
    for (auto& [key, value] : entries) d.dictionaryValue()->set(key, std::move(value));
    return d;
}

Value nestedArrays(size_t depth) {
    Value inner = Value::array();
    for (size_t i = 1; i < depth; ++i) inner = Value::array({inner});
    return inner;
}

// Binary property lists made object by object: each object is its encoded
// bytes, references are 4 bytes wide.
Data binaryPlist(const std::vector<Data>& objects, uint64_t top = 0) {
    Data out{'b', 'p', 'l', 'i', 's', 't', '0', '0'};
    std::vector<uint32_t> offsets;
    for (const Data& object : objects) {
        offsets.push_back(static_cast<uint32_t>(out.size()));
        out.insert(out.end(), object.begin(), object.end());
    }
    auto be = [&](uint64_t value, int width) {
        for (int i = width - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
    };
    uint64_t table = out.size();
    for (uint32_t offset : offsets) be(offset, 4);
    out.insert(out.end(), 6, 0);
    out.push_back(4);
    out.push_back(4);
    be(objects.size(), 8);
    be(top, 8);
    be(table, 8);
    return out;
}

Data arrayObject(std::vector<uint32_t> refs) {
    Data object{static_cast<uint8_t>(0xA0 | refs.size())};
    for (uint32_t ref : refs) {
        for (int i = 3; i >= 0; --i) object.push_back(static_cast<uint8_t>(ref >> (8 * i)));
    }
    return object;
}

class PropertyListRoundTrip : public ::testing::TestWithParam<Format> {};

TEST_P(PropertyListRoundTrip, EveryKindOfValueComesBackEqualAndOfTheSameType) {
    Data bytes;
    for (int i = 0; i < 256; ++i) bytes.push_back(static_cast<uint8_t>(i));
    const Value values[] = {
        Value(true),
        Value(false),
        Value(0),
        Value(-1),
        Value(255),
        Value(256),
        Value(65536),
        Value(int64_t{1} << 32),
        Value(std::numeric_limits<int64_t>::max()),
        Value(std::numeric_limits<int64_t>::min()),
        Value(0.1),
        Value(-2.5),
        Value(1e300),
        Value(0.84),
        Value(""),
        Value("Courier"),
        Value("Größe ♪ 😀"),
        Value("<tag> & \"quotes\""),
        Value(Data{}),
        Value(bytes),
        Value::array(),
        Value::array({Value(1), Value("two"), Value::array({Value(3.0)})}),
        dictionaryOf({{"zeta", Value(1)}, {"alpha", Value(2)}, {"mid", dictionaryOf({{"k", Value("v")}})}}),
    };
    for (const Value& value : values) {
        Value back = PropertyList::valueFromData(PropertyList::dataFromValue(value, GetParam()));
        EXPECT_EQ(back.type(), value.type());
        EXPECT_TRUE(back == value) << static_cast<int>(value.type()) << " " << value.stringValue();
    }
}

TEST_P(PropertyListRoundTrip, DictionaryKeepsItsOrder) {
    Value d = dictionaryOf({{"zeta", Value(1)}, {"alpha", Value(2)}, {"mid", Value(3)}});
    Value back = PropertyList::valueFromData(PropertyList::dataFromValue(d, GetParam()));
    ASSERT_TRUE(back.isDictionary());
    std::vector<std::string> keys;
    for (const auto& entry : back.dictionaryValue()->entries) keys.push_back(entry.first.stringValue());
    EXPECT_EQ(keys, (std::vector<std::string>{"zeta", "alpha", "mid"}));
}

TEST_P(PropertyListRoundTrip, DeepestAllowedNestingIsAccepted) {
    Value deep = nestedArrays(PropertyList::maximumDepth);
    EXPECT_TRUE(PropertyList::valueFromData(PropertyList::dataFromValue(deep, GetParam())) == deep);
}

INSTANTIATE_TEST_SUITE_P(BothFormats, PropertyListRoundTrip, ::testing::Values(Format::Binary, Format::XML));

TEST(PropertyListTest, BinaryFormIsBplist00) {
    Data data = PropertyList::dataFromValue(Value(1));
    ASSERT_GE(data.size(), 8u);
    EXPECT_EQ(std::string(data.begin(), data.begin() + 8), "bplist00");
}

class Opaque : public Archivable {
public:
    std::string archiveClassName() const override { return "Opaque"; }
    void encodeWithCoder(KeyedArchiver&) const override {}
};

TEST(PropertyListTest, ValuesThatAreNotPlainPropertyListsAreRefused) {
    Value cyclic = Value::array();
    cyclic.arrayValue()->items.push_back(cyclic);
    Value numberKey = Value::dictionary();
    numberKey.dictionaryValue()->entries.emplace_back(Value(1), Value(2));

    const std::pair<const char*, Value> cases[] = {
        {"nil", Value()},
        {"nil inside", Value::array({Value()})},
        {"object", Value(std::make_shared<Opaque>())},
        {"number key", numberKey},
        {"NUL in string", Value(std::string("a\0b", 3))},
        {"bad UTF-8", Value(std::string("\xC3\x28"))},
        {"overlong UTF-8", Value(std::string("\xC0\xAF"))},
        {"surrogate", Value(std::string("\xED\xA0\x80"))},
        {"truncated UTF-8", Value(std::string("abc\xE2\x82"))},
        {"too deep", nestedArrays(PropertyList::maximumDepth + 1)},
        {"cycle", cyclic},
    };
    for (const auto& [name, value] : cases) {
        std::string problem;
        EXPECT_FALSE(PropertyList::isPropertyList(value, &problem)) << name;
        EXPECT_FALSE(problem.empty()) << name;
        EXPECT_THROW(PropertyList::dataFromValue(value), PropertyListError) << name;
    }
    // Break the cycle so the test does not leak it.
    cyclic.arrayValue()->items.clear();
}

TEST(PropertyListTest, MalformedInputIsRefusedWithAnError) {
    Data valid = PropertyList::dataFromValue(dictionaryOf({{"a", Value::array({Value(1), Value("x")})}}));
    Data deepBinary;
    {
        std::vector<Data> objects;
        for (uint32_t i = 0; i < 100000; ++i)
            objects.push_back(i + 1 < 100000 ? arrayObject({i + 1}) : Data{0xA0});
        deepBinary = binaryPlist(objects);
    }
    Data expanding;
    {
        // Thirty levels, each an array holding the next level twice: a
        // billion values once every reference is followed.
        std::vector<Data> objects;
        for (uint32_t i = 0; i < 30; ++i) objects.push_back(arrayObject({i + 1, i + 1}));
        objects.push_back(Data{0x08});
        expanding = binaryPlist(objects);
    }
    std::string deepXML = "<?xml version=\"1.0\"?><plist version=\"1.0\">";
    for (int i = 0; i < 100000; ++i) deepXML += "<array>";
    for (int i = 0; i < 100000; ++i) deepXML += "</array>";
    deepXML += "</plist>";
    // Closing tags hidden in a comment must not excuse the nesting after it.
    std::string hidden = "<plist><!--";
    for (int i = 0; i < 1000; ++i) hidden += "</array>";
    hidden += "-->";
    for (int i = 0; i < 1000; ++i) hidden += "<array>";
    hidden += "</plist>";

    const std::pair<const char*, Data> cases[] = {
        {"empty", Data{}},
        {"text", Data{'h', 'e', 'l', 'l', 'o'}},
        {"header only", Data{'b', 'p', 'l', 'i', 's', 't', '0', '0'}},
        {"truncated", Data(valid.begin(), valid.end() - 1)},
        {"self reference", binaryPlist({arrayObject({0})})},
        {"reference past the end", binaryPlist({arrayObject({7})})},
        {"top past the end", binaryPlist({Data{0x08}}, 3)},
        {"UID", binaryPlist({Data{0x80, 0x01}})},
        {"deep binary", deepBinary},
        {"expanding", expanding},
        {"deep XML", Data(deepXML.begin(), deepXML.end())},
        {"nesting behind a comment", Data(hidden.begin(), hidden.end())},
        {"broken XML", Data{'<', 'p', 'l', 'i', 's', 't', '>', '<', 'd', 'i', 'c', 't', '>'}},
    };
    for (const auto& [name, data] : cases) {
        EXPECT_THROW(PropertyList::valueFromData(data), PropertyListError) << name;
    }
}

TEST(PropertyListTest, DatesReadAsSecondsSinceTwoThousandOne) {
    // Type 3, 8-byte real: 86400.5.
    Data date{0x33, 0x40, 0xF5, 0x18, 0x08, 0x00, 0x00, 0x00, 0x00};
    Value value = PropertyList::valueFromData(binaryPlist({date}));
    ASSERT_TRUE(value.isReal());
    EXPECT_NEAR(value.toDouble(), 86400.5, 1e-6);
}

TEST(PropertyListTest, DamagedFilesNeverCrashTheReader) {
    Data valid = PropertyList::dataFromValue(
        dictionaryOf({{"list", Value::array({Value(1), Value(2.5), Value("three"), Value(Data{1, 2, 3})})},
                      {"nested", dictionaryOf({{"flag", Value(true)}})}}));
    for (size_t length = 0; length < valid.size(); ++length) {
        try {
            PropertyList::valueFromData(valid.data(), length);
        } catch (const PropertyListError&) {
        }
    }
    std::mt19937 random(1234);
    for (int round = 0; round < 2000; ++round) {
        Data damaged = valid;
        int flips = 1 + static_cast<int>(random() % 4);
        for (int i = 0; i < flips; ++i)
            damaged[random() % damaged.size()] ^= static_cast<uint8_t>(1u << (random() % 8));
        try {
            PropertyList::valueFromData(damaged);
        } catch (const PropertyListError&) {
        }
    }
    SUCCEED();
}

}  // namespace
}  // namespace tollvane
