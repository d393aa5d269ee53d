// The archiver's own output, object graphs written and read back, and the
// field decoders' conversions.

#include <gtest/gtest.h>
#include <plist/plist.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "platform/archive/ArchiveClassRegistry.h"
#include "platform/archive/ArchiveError.h"
#include "platform/archive/GenericArchiveObject.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedUnarchiver.h"

namespace tollvane {
namespace {

struct PlistFree {
    void operator()(plist_t node) const { plist_free(node); }
};
using Plist = std::unique_ptr<void, PlistFree>;

Plist parse(const Data& data) {
    plist_t root = nullptr;
    plist_from_bin(reinterpret_cast<const char*>(data.data()), static_cast<uint32_t>(data.size()), &root);
    return Plist(root);
}

std::string text(plist_t node) {
    if (!node || plist_get_node_type(node) != PLIST_STRING) return "<not a string>";
    char* value = nullptr;
    plist_get_string_val(node, &value);
    std::string result = value;
    free(value);
    return result;
}

uint64_t uid(plist_t node) {
    EXPECT_TRUE(node && plist_get_node_type(node) == PLIST_UID);
    uint64_t value = 0;
    if (node) plist_get_uid_val(node, &value);
    return value;
}

Value roundTrip(const Value& value) {
    return KeyedUnarchiver::unarchivedObjectWithData(KeyedArchiver::archivedDataWithRootObject(value));
}

TEST(ArchiveCoder, WritesThePlatformLayout) {
    Value root = Value::dictionary();
    root.dictionaryValue()->set("list", Value::array({"x", 3}));
    auto fixed = std::make_shared<ValueArray>();
    fixed->items = {"x"};
    root.dictionaryValue()->set("fixed", Value(fixed));

    Plist archive = parse(KeyedArchiver::archivedDataWithRootObject(root));
    ASSERT_TRUE(archive);
    EXPECT_EQ(text(plist_dict_get_item(archive.get(), "$archiver")), "NSKeyedArchiver");
    uint64_t version = 0;
    plist_get_uint_val(plist_dict_get_item(archive.get(), "$version"), &version);
    EXPECT_EQ(version, 100000u);
    EXPECT_EQ(uid(plist_dict_get_item(plist_dict_get_item(archive.get(), "$top"), "root")), 1u);

    // $null, root, "list", "fixed", list, "x", 3, NSMutableArray class,
    // fixed (its "x" shared), NSArray class, NSMutableDictionary class.
    plist_t objects = plist_dict_get_item(archive.get(), "$objects");
    ASSERT_EQ(plist_array_get_size(objects), 11u);
    const auto object = [&](uint32_t i) { return plist_array_get_item(objects, i); };
    EXPECT_EQ(text(object(0)), "$null");
    EXPECT_EQ(text(object(2)), "list");
    EXPECT_EQ(text(object(3)), "fixed");
    EXPECT_EQ(text(object(5)), "x");
    plist_t list = object(4);
    EXPECT_EQ(uid(plist_array_get_item(plist_dict_get_item(list, "NS.objects"), 0)), 5u);
    EXPECT_EQ(uid(plist_array_get_item(plist_dict_get_item(list, "NS.objects"), 1)), 6u);
    EXPECT_EQ(uid(plist_dict_get_item(list, "$class")), 7u);
    EXPECT_EQ(text(plist_dict_get_item(object(7), "$classname")), "NSMutableArray");
    plist_t chain = plist_dict_get_item(object(7), "$classes");
    ASSERT_EQ(plist_array_get_size(chain), 3u);
    EXPECT_EQ(text(plist_array_get_item(chain, 1)), "NSArray");
    EXPECT_EQ(uid(plist_array_get_item(plist_dict_get_item(object(8), "NS.objects"), 0)), 5u);
    EXPECT_EQ(text(plist_dict_get_item(object(9), "$classname")), "NSArray");
    plist_t rootRecord = object(1);
    EXPECT_EQ(uid(plist_dict_get_item(rootRecord, "$class")), 10u);
    EXPECT_EQ(text(plist_dict_get_item(object(10), "$classname")), "NSMutableDictionary");
    plist_t keys = plist_dict_get_item(rootRecord, "NS.keys");
    plist_t values = plist_dict_get_item(rootRecord, "NS.objects");
    ASSERT_EQ(plist_array_get_size(keys), 2u);
    EXPECT_EQ(uid(plist_array_get_item(keys, 0)), 2u);
    EXPECT_EQ(uid(plist_array_get_item(values, 0)), 4u);
    EXPECT_EQ(uid(plist_array_get_item(values, 1)), 8u);
}

TEST(ArchiveCoder, NilRootAndScalarRoots) {
    EXPECT_TRUE(roundTrip(Value()).isNull());
    for (const Value& value :
         {Value(true), Value(false), Value(0), Value(-1), Value(std::numeric_limits<int64_t>::min()),
          Value(std::numeric_limits<int64_t>::max()), Value(0.1), Value(-0.0), Value(1e300), Value(5e-324),
          Value(""), Value("\u00e9\u266b"), Value(Data{})}) {
        Value back = roundTrip(value);
        EXPECT_EQ(back.type(), value.type());
        EXPECT_EQ(back, value);
    }
    EXPECT_TRUE(std::signbit(roundTrip(Value(-0.0)).toDouble()));
}

TEST(ArchiveCoder, LargeArchivesRoundTrip) {
    // Past 64 KiB the offsets widen (references widen past 64 Ki objects:
    // see the writer's tests).
    Value root = Value::array();
    for (int i = 0; i < 5000; ++i) root.arrayValue()->items.push_back("string number " + std::to_string(i));
    Data data = KeyedArchiver::archivedDataWithRootObject(root);
    EXPECT_GT(data.size(), 65536u);
    EXPECT_EQ(KeyedUnarchiver::unarchivedObjectWithData(data), root);
}

TEST(ArchiveCoder, StringsAreCutAtNulAndRepaired) {
    EXPECT_EQ(roundTrip(Value(std::string("ab\0cd", 5))), Value("ab"));
    EXPECT_EQ(roundTrip(Value(std::string("a\xff"
                                          "b"))),
              Value("a\uFFFD"
                    "b"));
    EXPECT_EQ(roundTrip(Value(std::string("\xed\xa0\x80"))), Value("\uFFFD\uFFFD\uFFFD"));
    EXPECT_EQ(roundTrip(Value(std::string("\xc0\xaf"))), Value("\uFFFD\uFFFD"));
    EXPECT_EQ(roundTrip(Value(std::string("\xf0\x9f\x8e\xac"))), Value("\U0001F3AC"));
}

TEST(ArchiveCoder, SharingIsKeptAndCyclesAreRefused) {
    Value shared = Value::array({"s"});
    Value root = Value::array({shared, shared});
    Value back = roundTrip(root);
    EXPECT_EQ(back.arrayValue()->items[0].arrayValue(), back.arrayValue()->items[1].arrayValue());

    Value cyclic = Value::array();
    cyclic.arrayValue()->items.push_back(Value::array({cyclic}));
    try {
        KeyedArchiver::archivedDataWithRootObject(cyclic);
        FAIL() << "cycle written";
    } catch (const ArchiveError& error) {
        EXPECT_NE(std::string(error.what()).find("cycle"), std::string::npos) << error.what();
    }
    cyclic.arrayValue()->items.clear();  // let the cycle go
}

TEST(ArchiveCoder, SharedDataIsWrittenOnceEqualStringsToo) {
    Value blob(Data{1, 2, 3});
    Value root = Value::array({blob, blob, Value(Data{1, 2, 3}), "same", std::string("same")});
    Plist archive = parse(KeyedArchiver::archivedDataWithRootObject(root));
    plist_t objects = plist_dict_get_item(archive.get(), "$objects");
    // $null, root, blob, the other data, "same", NSArray class.
    EXPECT_EQ(plist_array_get_size(objects), 6u);
}

TEST(ArchiveCoder, NestingBeyondTheReaderLimitIsRefused) {
    Value deep = Value::array();
    for (int i = 0; i < 520; ++i) deep = Value::array({deep});
    EXPECT_THROW(KeyedArchiver::archivedDataWithRootObject(deep), ArchiveError);
}

// An object that writes whatever fields it is given.
class FieldWriter : public Archivable {
public:
    ArchiveFields fields;
    std::string archiveClassName() const override { return "TLFieldWriter"; }
    void encodeWithCoder(KeyedArchiver& coder) const override {
        for (const auto& [key, field] : fields) coder.encodeArchiveField(field, key);
    }
};

TEST(ArchiveCoder, DollarKeysAreEscaped) {
    auto writer = std::make_shared<FieldWriter>();
    writer->fields = {{"$weird", ArchiveField::inlineValue(1)}, {"plain", ArchiveField::inlineValue(2)}};
    Data data = KeyedArchiver::archivedDataWithRootObject(Value(writer));

    Plist archive = parse(data);
    plist_t record = plist_array_get_item(plist_dict_get_item(archive.get(), "$objects"), 1);
    EXPECT_TRUE(plist_dict_get_item(record, "$$weird"));
    EXPECT_FALSE(plist_dict_get_item(record, "$weird"));

    auto back = KeyedUnarchiver::unarchivedObjectWithData(data).object<GenericArchiveObject>();
    ASSERT_TRUE(back);
    EXPECT_EQ(back->fields(), writer->fields);
}

// A key encoded again replaces its value where it stands, in small records
// and in records large enough to be indexed; objects of one C++ class whose
// class names differ keep their own.
TEST(ArchiveCoder, AKeyEncodedAgainReplacesItsValue) {
    auto small = std::make_shared<FieldWriter>();
    small->fields = {{"a", ArchiveField::inlineValue(1)},
                     {"b", ArchiveField::inlineValue(2)},
                     {"a", ArchiveField::inlineValue(3)}};
    auto large = std::make_shared<FieldWriter>();
    for (int i = 0; i < 40; ++i)
        large->fields.push_back({"k" + std::to_string(i), ArchiveField::inlineValue(i)});
    large->fields.push_back({"k3", ArchiveField::inlineValue(-3)});
    large->fields.push_back({"k35", ArchiveField::inlineValue(-35)});
    auto first = std::make_shared<GenericArchiveObject>(
        "TLOne", std::vector<std::string>{"TLOne", "NSObject"}, ArchiveFields{});
    auto second = std::make_shared<GenericArchiveObject>(
        "TLTwo", std::vector<std::string>{"TLTwo", "NSObject"}, ArchiveFields{});
    const Value back = roundTrip(Value::array({Value(small), Value(large), Value(first), Value(second)}));
    ASSERT_EQ(back.arrayValue()->items.size(), 4u);
    auto smallBack = back.arrayValue()->items[0].object<GenericArchiveObject>();
    auto largeBack = back.arrayValue()->items[1].object<GenericArchiveObject>();
    ASSERT_TRUE(smallBack && largeBack);
    ASSERT_EQ(smallBack->fields().size(), 2u);
    EXPECT_EQ(smallBack->valueForKey("a"), Value(3));
    ASSERT_EQ(largeBack->fields().size(), 40u);
    EXPECT_EQ(largeBack->valueForKey("k3"), Value(-3));
    EXPECT_EQ(largeBack->valueForKey("k35"), Value(-35));
    EXPECT_EQ(back.arrayValue()->items[2].object<GenericArchiveObject>()->className(), "TLOne");
    EXPECT_EQ(back.arrayValue()->items[3].object<GenericArchiveObject>()->className(), "TLTwo");
}

TEST(ArchiveCoder, InlineFieldsMustBeScalars) {
    for (const Value& value : {Value(), Value::array(), Value::dictionary()}) {
        auto writer = std::make_shared<FieldWriter>();
        writer->fields = {{"bad", ArchiveField::inlineValue(value)}};
        EXPECT_THROW(KeyedArchiver::archivedDataWithRootObject(Value(writer)), ArchiveError);
    }
}

TEST(ArchiveCoder, ObjectThatContainsItselfIsRefused) {
    auto writer = std::make_shared<FieldWriter>();
    writer->fields = {{"me", ArchiveField::reference(Value(writer))}};
    EXPECT_THROW(KeyedArchiver::archivedDataWithRootObject(Value(writer)), ArchiveError);
    writer->fields.clear();
}

// Reads "value" with every typed decoder.
struct Decoded {
    bool contains = false;
    bool b = false;
    int64_t i = 0;
    double d = 0;
    float f = 0;
};

class DecoderProbe : public Archivable {
public:
    Value value;
    Decoded decoded;
    std::string archiveClassName() const override { return "TLDecoderProbe"; }
    void encodeWithCoder(KeyedArchiver& coder) const override {
        if (value.isBool()) coder.encodeBool(value.toBool(), "value");
        if (value.isInteger()) coder.encodeInt(value.toInt64(), "value");
        if (value.isReal()) coder.encodeDouble(value.toDouble(), "value");
    }
    static std::shared_ptr<Archivable> decode(KeyedUnarchiver& coder) {
        auto probe = std::make_shared<DecoderProbe>();
        probe->decoded = {coder.containsValueForKey("value"), coder.decodeBool("value"),
                          coder.decodeInt("value"), coder.decodeDouble("value"), coder.decodeFloat("value")};
        return probe;
    }
};

TEST(ArchiveCoder, NumbersConvertAmongThemselvesAndAbsentKeysAnswerZero) {
    ArchiveClassRegistry::registerClass("TLDecoderProbe", &DecoderProbe::decode);
    struct Row {
        Value written;
        Decoded expected;
    };
    const Row rows[] = {
        {Value(), {false, false, 0, 0.0, 0.0f}},
        {Value(true), {true, true, 1, 1.0, 1.0f}},
        {Value(false), {true, false, 0, 0.0, 0.0f}},
        {Value(5), {true, true, 5, 5.0, 5.0f}},
        {Value(-3), {true, true, -3, -3.0, -3.0f}},
        {Value(2.9), {true, true, 2, 2.9, 2.9f}},
        {Value(-2.9), {true, true, -2, -2.9, -2.9f}},
        {Value(0.0), {true, false, 0, 0.0, 0.0f}},
        {Value(1e30), {true, true, std::numeric_limits<int64_t>::max(), 1e30, 1e30f}},
    };
    for (const Row& row : rows) {
        auto probe = std::make_shared<DecoderProbe>();
        probe->value = row.written;
        auto back = roundTrip(Value(probe)).object<DecoderProbe>();
        ASSERT_TRUE(back);
        EXPECT_EQ(back->decoded.contains, row.expected.contains);
        EXPECT_EQ(back->decoded.b, row.expected.b);
        EXPECT_EQ(back->decoded.i, row.expected.i);
        EXPECT_EQ(back->decoded.d, row.expected.d);
        EXPECT_EQ(back->decoded.f, row.expected.f);
    }
}

TEST(ArchiveCoder, FloatsAreWrittenAsFloats) {
    class FloatWriter : public Archivable {
    public:
        std::string archiveClassName() const override { return "TLFloatWriter"; }
        void encodeWithCoder(KeyedArchiver& coder) const override { coder.encodeFloat(0.1f, "f"); }
    };
    auto back = roundTrip(Value(std::make_shared<FloatWriter>())).object<GenericArchiveObject>();
    ASSERT_TRUE(back);
    EXPECT_EQ(back->valueForKey("f").toDouble(), static_cast<double>(0.1f));
}

}  // namespace
}  // namespace tollvane

namespace tollvane {
namespace {

// A missing object held in a pointer is nil: it archives as "$null" rather
// than as an object record with nothing behind it.
TEST(ArchiveCoder, NullPointersAreNil) {
    Value root = Value::dictionary();
    root.dictionaryValue()->set("object", Value(std::shared_ptr<GenericArchiveObject>()));
    root.dictionaryValue()->set("array", Value(std::shared_ptr<ValueArray>()));
    EXPECT_TRUE(root.dictionaryValue()->find("object")->isNull());
    const Value back = roundTrip(root);
    ASSERT_TRUE(back.isDictionary());
    EXPECT_TRUE(back.dictionaryValue()->find("object") == nullptr ||
                back.dictionaryValue()->find("object")->isNull());
    EXPECT_TRUE(back.dictionaryValue()->find("array") == nullptr ||
                back.dictionaryValue()->find("array")->isNull());
}

}  // namespace
}  // namespace tollvane
