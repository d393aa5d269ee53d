// Archives written by hand in the platform archiver's layout
// (tests/data/make-archives.py): read to the expected values, and written
// back object for object as they were.

#include <gtest/gtest.h>
#include <plist/plist.h>

#include <cmath>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "platform/archive/ArchiveClassRegistry.h"
#include "platform/archive/ArchiveError.h"
#include "platform/archive/GenericArchiveObject.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedUnarchiver.h"

namespace tollvane {
namespace {

Data readArchive(const std::string& name) {
    std::ifstream in(std::string(TOLLVANE_TEST_DATA) + "/archives/" + name, std::ios::binary);
    EXPECT_TRUE(in) << name;
    return Data(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct PlistFree {
    void operator()(plist_t node) const { plist_free(node); }
};
using Plist = std::unique_ptr<void, PlistFree>;

Plist parse(const Data& data) {
    plist_t root = nullptr;
    plist_from_bin(reinterpret_cast<const char*>(data.data()), static_cast<uint32_t>(data.size()), &root);
    return Plist(root);
}

// Property-list equality: dictionaries by key, everything else in order.
// Answers the path of the first difference, or the empty string.
std::string difference(plist_t a, plist_t b, const std::string& path) {
    const plist_type type = plist_get_node_type(a);
    if (type != plist_get_node_type(b)) return path + ": types differ";
    switch (type) {
        case PLIST_DICT: {
            if (plist_dict_get_size(a) != plist_dict_get_size(b)) return path + ": key counts differ";
            plist_dict_iter iter = nullptr;
            plist_dict_new_iter(a, &iter);
            std::string found;
            for (;;) {
                char* key = nullptr;
                plist_t value = nullptr;
                plist_dict_next_item(a, iter, &key, &value);
                if (!key) break;
                std::string name = key;
                free(key);
                plist_t other = plist_dict_get_item(b, name.c_str());
                if (!other) {
                    found = path + "." + name + ": missing";
                } else {
                    found = difference(value, other, path + "." + name);
                }
                if (!found.empty()) break;
            }
            free(iter);
            return found;
        }
        case PLIST_ARRAY: {
            if (plist_array_get_size(a) != plist_array_get_size(b)) return path + ": lengths differ";
            for (uint32_t i = 0; i < plist_array_get_size(a); ++i) {
                std::string found = difference(plist_array_get_item(a, i), plist_array_get_item(b, i),
                                               path + "[" + std::to_string(i) + "]");
                if (!found.empty()) return found;
            }
            return {};
        }
        case PLIST_REAL: {
            double x = 0, y = 0;
            plist_get_real_val(a, &x);
            plist_get_real_val(b, &y);
            return x == y ? std::string() : path + ": " + std::to_string(x) + " != " + std::to_string(y);
        }
        default:
            return plist_compare_node_value(a, b) ? std::string() : path + ": values differ";
    }
}

// A class the tests register, archived under its own keys.
class TestThing : public Archivable {
public:
    std::string title;
    int64_t count = 0;
    double gain = 0;
    bool enabled = false;
    Data payload;
    Value child;

    std::string archiveClassName() const override { return "TLArchiveTestThing"; }
    void encodeWithCoder(KeyedArchiver& coder) const override {
        coder.encodeObject(Value(title), "title");
        coder.encodeInt(count, "count");
        coder.encodeDouble(gain, "gain");
        coder.encodeBool(enabled, "enabled");
        coder.encodeBytes(payload, "payload");
        coder.encodeObject(child, "child");
    }
    static std::shared_ptr<Archivable> decode(KeyedUnarchiver& coder) {
        auto thing = std::make_shared<TestThing>();
        thing->title = coder.decodeObject("title").stringValue();
        thing->count = coder.decodeInt("count");
        thing->gain = coder.decodeDouble("gain");
        thing->enabled = coder.decodeBool("enabled");
        thing->payload = coder.decodeBytes("payload");
        thing->child = coder.decodeObject("child");
        return thing;
    }
};

class ArchiveFilesTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ArchiveClassRegistry::registerClass("TLArchiveTestThing", &TestThing::decode);
    }
};

Value entry(const Value& dictionary, std::string_view key) {
    const Value* value = dictionary.dictionaryValue()->find(key);
    return value ? *value : Value();
}

TEST_F(ArchiveFilesTest, FoundationTypesReadToTheirValues) {
    Value root = KeyedUnarchiver::unarchivedObjectWithData(readArchive("foundation.archive"));
    ASSERT_TRUE(root.isDictionary());
    EXPECT_TRUE(root.dictionaryValue()->isMutable);

    Value expected = Value::dictionary();
    auto& d = *expected.dictionaryValue();
    d.set("title", "Reel 1 \u2014 \u00dcberblendung \u2669");
    d.set("count", 42);
    d.set("negative", -7);
    d.set("big", int64_t{1} << 40);
    d.set("ratio", 0.25);
    d.set("enabled", true);
    d.set("hidden", false);
    d.set("blob", Data{0x00, 0x01, 0x02, 0xff});
    d.set("names", Value::array({"a", "b", "title"}));
    Value nested = Value::dictionary();
    nested.dictionaryValue()->set("inner", Value::array({1, 2.5, Value::array()}));
    nested.dictionaryValue()->set("flag", true);
    d.set("nested", nested);
    d.set("empty", Value::dictionary());
    EXPECT_EQ(root, expected);

    // Kinds the equality above does not see.
    EXPECT_TRUE(entry(root, "count").isInteger());
    EXPECT_TRUE(entry(root, "ratio").isReal());
    EXPECT_TRUE(entry(root, "enabled").isBool());
    EXPECT_FALSE(entry(root, "names").arrayValue()->isMutable);
    Value readNested = entry(root, "nested");
    EXPECT_FALSE(readNested.dictionaryValue()->isMutable);
    Value inner = entry(readNested, "inner");
    EXPECT_TRUE(inner.arrayValue()->isMutable);
    EXPECT_FALSE(inner.arrayValue()->items[2].arrayValue()->isMutable);
    EXPECT_TRUE(entry(root, "empty").dictionaryValue()->isMutable);
}

// Everything these archives hold is written by our archiver exactly as the
// platform wrote it: same objects, same UIDs, same class records.
class WrittenBackInLayout : public ArchiveFilesTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(WrittenBackInLayout, ObjectForObject) {
    Data original = readArchive(GetParam());
    Data written =
        KeyedArchiver::archivedDataWithRootObject(KeyedUnarchiver::unarchivedObjectWithData(original));
    Plist a = parse(original);
    Plist b = parse(written);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(difference(a.get(), b.get(), "archive"), "");
}

INSTANTIATE_TEST_SUITE_P(HandMade, WrittenBackInLayout,
                         ::testing::Values("foundation.archive", "colors.archive", "unknown.archive",
                                           "shared.archive", "registered.archive", "string.archive"));

TEST_F(ArchiveFilesTest, MutableStringsAndDataReadAsPlainValues) {
    Value root = KeyedUnarchiver::unarchivedObjectWithData(readArchive("mutable.archive"));
    Value expected = Value::dictionary();
    expected.dictionaryValue()->set("text", "Cue 1M1");
    expected.dictionaryValue()->set("bytes", Data{0x01, 0x02});
    expected.dictionaryValue()->set("plain", "Cue 1M1");
    EXPECT_EQ(root, expected);

    Value again = KeyedUnarchiver::unarchivedObjectWithData(KeyedArchiver::archivedDataWithRootObject(root));
    EXPECT_EQ(again, expected);
}

TEST_F(ArchiveFilesTest, UnknownClassesKeepTheirChainAndFields) {
    Value root = KeyedUnarchiver::unarchivedObjectWithData(readArchive("unknown.archive"));
    EXPECT_EQ(entry(root, "documentWindowFrame"), Value("{{10, 20}, {800, 600}}"));

    Value options = entry(root, "documentWindowOptions");
    EXPECT_EQ(entry(options, "selectedCueID"), Value(3));
    auto descriptors = entry(options, "cueSortDescriptors").arrayValue();
    ASSERT_EQ(descriptors->items.size(), 1u);
    auto descriptor = descriptors->items[0].object<GenericArchiveObject>();
    ASSERT_TRUE(descriptor);
    EXPECT_EQ(descriptor->className(), "NSSortDescriptor");
    EXPECT_EQ(descriptor->classChain(), (std::vector<std::string>{"NSSortDescriptor", "NSObject"}));
    EXPECT_EQ(descriptor->valueForKey("NSKey"), Value("cueNumber"));
    EXPECT_EQ(descriptor->field("NSKey")->kind, ArchiveField::Kind::Reference);
    EXPECT_EQ(descriptor->valueForKey("NSAscending"), Value(true));
    EXPECT_EQ(descriptor->field("NSAscending")->kind, ArchiveField::Kind::Inline);
    EXPECT_EQ(descriptor->valueForKey("NSSelector"), Value("compare:"));
    EXPECT_TRUE(entry(options, "reelSortDescriptors").arrayValue()->items.empty());

    auto timecode = entry(root, "timecode").object<GenericArchiveObject>();
    ASSERT_TRUE(timecode);
    EXPECT_EQ(timecode->fields().size(), 8u);
    EXPECT_EQ(timecode->valueForKey("EMTimecodeBits"), Value(40));
    EXPECT_EQ(timecode->valueForKey("EMTimecodeFramerate.dropFrame"), Value(true));

    auto set = entry(root, "tags").object<GenericArchiveObject>();
    ASSERT_TRUE(set);
    const ArchiveField* members = set->field("NS.objects");
    ASSERT_TRUE(members);
    ASSERT_EQ(members->kind, ArchiveField::Kind::Array);
    ASSERT_EQ(members->items.size(), 2u);
    EXPECT_EQ(members->items[0], ArchiveField::reference(Value("a")));

    auto future = entry(root, "future").object<GenericArchiveObject>();
    ASSERT_TRUE(future);
    EXPECT_EQ(future->classChain(), (std::vector<std::string>{"TLFutureThing", "TLThing", "NSObject"}));
    ASSERT_EQ(future->fields().size(), 3u);
    EXPECT_EQ(future->fields()[0].first, "$dollar");
    EXPECT_EQ(future->valueForKey("$dollar"), Value(5));
    const ArchiveField* nestedField = future->field("nested");
    ASSERT_EQ(nestedField->kind, ArchiveField::Kind::Dictionary);
    ASSERT_EQ(nestedField->entries.size(), 2u);
    EXPECT_EQ(nestedField->entries[0].second, ArchiveField::reference(Value("a")));
    EXPECT_EQ(nestedField->entries[1].second, ArchiveField::inlineValue(2.5));
    const ArchiveField* list = future->field("list");
    ASSERT_EQ(list->kind, ArchiveField::Kind::Array);
    EXPECT_EQ(list->items[1].value, Value::array({"a"}));
    EXPECT_FALSE(list->items[1].value.arrayValue()->isMutable);
}

TEST_F(ArchiveFilesTest, SharedObjectsDecodeOnceAndWriteOnce) {
    Value root = KeyedUnarchiver::unarchivedObjectWithData(readArchive("shared.archive"));
    const auto& items = root.arrayValue()->items;
    ASSERT_EQ(items.size(), 4u);
    const auto shared = items[0].dictionaryValue();
    EXPECT_EQ(items[1].dictionaryValue(), shared);
    EXPECT_EQ(entry(items[2], "again").dictionaryValue(), shared);
    EXPECT_EQ(entry(items[0], "name"), Value("shared"));

    // An edit through one holder is seen through the others, as on the platform.
    shared->set("name", "edited");
    EXPECT_EQ(entry(entry(items[2], "again"), "name"), Value("edited"));
}

TEST_F(ArchiveFilesTest, RegisteredClassDecodesItselfUnderItsKeys) {
    Value root = KeyedUnarchiver::unarchivedObjectWithData(readArchive("registered.archive"));
    auto thing = root.object<TestThing>();
    ASSERT_TRUE(thing);
    EXPECT_EQ(thing->title, "Main Title");
    EXPECT_EQ(thing->count, 7);
    EXPECT_EQ(thing->gain, 0.5);
    EXPECT_TRUE(thing->enabled);
    EXPECT_EQ(thing->payload, (Data{0xde, 0xad}));
    auto child = thing->child.object<TestThing>();
    ASSERT_TRUE(child);
    EXPECT_EQ(child->title, "Child");
    EXPECT_EQ(child->count, -1);
    EXPECT_EQ(child->gain, 1.5);
    EXPECT_FALSE(child->enabled);
    EXPECT_TRUE(child->payload.empty());
    EXPECT_TRUE(child->child.isNull());
}

TEST_F(ArchiveFilesTest, ScalarRoot) {
    EXPECT_EQ(KeyedUnarchiver::unarchivedObjectWithData(readArchive("string.archive")),
              Value("just a string"));
}

}  // namespace
}  // namespace tollvane
