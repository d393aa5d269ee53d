// Bad input: each case raises ArchiveError naming what is wrong, never
// crashes, never allocates what the input size does not justify.

#include <gtest/gtest.h>

#include <plist/plist.h>
#include "HandMadePlist.h"

#include <functional>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "platform/archive/Archivable.h"
#include "platform/archive/ArchiveClassRegistry.h"
#include "platform/archive/ArchiveError.h"
#include "platform/archive/GenericArchiveObject.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedUnarchiver.h"

namespace tollvane {
namespace {

// Property-list builders: each returns a new node that its parent takes over.
plist_t S(const char* text) {
    return plist_new_string(text);
}
plist_t I(int64_t value) {
    return plist_new_uint(static_cast<uint64_t>(value));
}
plist_t U(uint64_t uid) {
    return plist_new_uid(uid);
}
plist_t D(std::initializer_list<uint8_t> bytes) {
    std::vector<char> chars(bytes.begin(), bytes.end());
    return plist_new_data(chars.data(), chars.size());
}
plist_t A(std::initializer_list<plist_t> items) {
    plist_t array = plist_new_array();
    for (plist_t item : items) plist_array_append_item(array, item);
    return array;
}
plist_t M(std::initializer_list<std::pair<const char*, plist_t>> entries) {
    plist_t dict = plist_new_dict();
    for (const auto& [key, value] : entries) plist_dict_set_item(dict, key, value);
    return dict;
}
plist_t Class(const char* name) {
    return M({{"$classname", S(name)}, {"$classes", A({S(name), S("NSObject")})}});
}

Data binary(plist_t root) {
    char* bytes = nullptr;
    uint32_t length = 0;
    plist_to_bin(root, &bytes, &length);
    Data data(bytes, bytes + length);
    plist_to_bin_free(bytes);
    plist_free(root);
    return data;
}

// A keyed archive of the given objects (UID 1 onwards) with the usual root.
Data keyed(std::vector<plist_t> objects, uint64_t root = 1) {
    plist_t list = A({S("$null")});
    for (plist_t object : objects) plist_array_append_item(list, object);
    return binary(M({{"$version", I(100000)},
                     {"$archiver", S("NSKeyedArchiver")},
                     {"$top", M({{"root", U(root)}})},
                     {"$objects", list}}));
}

// A keyed archive whose root record is missing or changed at one key.
Data withRoot(std::initializer_list<std::pair<const char*, plist_t>> entries) {
    return binary(M(entries));
}

// A binary property list laid out by hand: object bytes, two-byte offsets.
Data raw(const std::vector<std::vector<uint8_t>>& objects, uint64_t top = 0, uint8_t refWidth = 1) {
    return testing::handMadePlist(objects, top, refWidth);
}

std::vector<uint8_t> rawArray(const std::vector<uint64_t>& refs, uint8_t refWidth = 1) {
    std::vector<uint8_t> bytes;
    if (refs.size() < 15) {
        bytes.push_back(static_cast<uint8_t>(0xA0 | refs.size()));
    } else {
        bytes = {0xAF, 0x11, static_cast<uint8_t>(refs.size() >> 8), static_cast<uint8_t>(refs.size())};
    }
    for (uint64_t ref : refs) {
        for (int i = refWidth - 1; i >= 0; --i) bytes.push_back(static_cast<uint8_t>(ref >> (8 * i)));
    }
    return bytes;
}

std::vector<uint8_t> rawString(const std::string& text) {
    std::vector<uint8_t> bytes;
    if (text.size() < 15) {
        bytes.push_back(static_cast<uint8_t>(0x50 | text.size()));
    } else {
        bytes = {0x5F, 0x10, static_cast<uint8_t>(text.size())};
    }
    bytes.insert(bytes.end(), text.begin(), text.end());
    return bytes;
}

std::vector<uint8_t> rawDictionary(const std::vector<uint8_t>& keys, const std::vector<uint8_t>& values) {
    std::vector<uint8_t> bytes = {static_cast<uint8_t>(0xD0 | keys.size())};
    bytes.insert(bytes.end(), keys.begin(), keys.end());
    bytes.insert(bytes.end(), values.begin(), values.end());
    return bytes;
}

// A keyed archive laid out byte by byte, so that its root object's record
// can hold keys libplist would never write: each given key maps to 1.
Data rawKeyedRecord(const std::vector<std::string>& keys) {
    std::vector<std::vector<uint8_t>> objects = {
        rawDictionary({1, 2, 3, 4}, {5, 6, 7, 8}),
        rawString("$archiver"),
        rawString("$version"),
        rawString("$top"),
        rawString("$objects"),
        rawString("NSKeyedArchiver"),
        {0x12, 0x00, 0x01, 0x86, 0xA0},
        rawDictionary({9}, {10}),
        rawArray({11, 12, 13}),
        rawString("root"),
        {0x80, 0x01},
        rawString("$null"),
        {},  // the record, below
        rawDictionary({17, 18}, {19, 20}),
        rawString("$class"),
        {0x10, 0x00},
        {0x80, 0x02},
        rawString("$classname"),
        rawString("$classes"),
        rawString("TLX"),
        rawArray({19, 21}),
        rawString("NSObject"),
        {0x10, 0x01},
    };
    std::vector<uint8_t> recordKeys = {14};
    std::vector<uint8_t> recordValues = {16};
    for (const std::string& key : keys) {
        recordKeys.push_back(static_cast<uint8_t>(objects.size()));
        recordValues.push_back(22);
        objects.push_back(rawString(key));
    }
    objects[12] = rawDictionary(recordKeys, recordValues);
    return raw(objects);
}

Data nestedPlistArrays(size_t depth) {
    std::vector<std::vector<uint8_t>> objects;
    for (size_t i = 0; i + 1 < depth; ++i) objects.push_back(rawArray({i + 1}, 2));
    objects.push_back({0x10, 0x00});
    return raw(objects, 0, 2);
}

Data nestedKeyedArrays(size_t depth) {
    // Objects 1 .. depth are arrays each holding the next; the last is empty.
    std::vector<plist_t> objects;
    const uint64_t classUID = depth + 1;
    for (size_t i = 1; i <= depth; ++i) {
        plist_t items = i < depth ? A({U(i + 1)}) : A({});
        objects.push_back(M({{"NS.objects", items}, {"$class", U(classUID)}}));
    }
    objects.push_back(Class("NSArray"));
    return keyed(objects);
}

// Objects whose factories read a key with a typed decoder.
class Probe : public Archivable {
public:
    std::string archiveClassName() const override { return "TLMalformedProbe"; }
    void encodeWithCoder(KeyedArchiver&) const override {}
};

std::shared_ptr<Archivable> decodeProbe(KeyedUnarchiver& coder) {
    const std::string key = coder.decodeObject("use").stringValue();
    if (key == "int") coder.decodeInt("value");
    if (key == "bool") coder.decodeBool("value");
    if (key == "double") coder.decodeDouble("value");
    if (key == "bytes") coder.decodeBytes("value");
    if (key == "object") coder.decodeObject("value");
    return std::make_shared<Probe>();
}

Data probe(const char* use, plist_t value) {
    return keyed({M({{"use", U(2)}, {"value", value}, {"$class", U(3)}}), S(use), Class("TLMalformedProbe")});
}

struct Case {
    const char* name;
    std::function<Data()> make;
    const char* fragment;
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

const Data& validArchive() {
    static const Data data = KeyedArchiver::archivedDataWithRootObject(Value::array({"a", 1}));
    return data;
}

const Case kCases[] = {
    // Not a binary property list at all.
    {"Empty", [] { return Data(); }, "empty"},
    {"Text",
     [] {
         return Data{'h', 'e', 'l', 'l', 'o'};
     },
     "not a binary property list"},
    {"XmlPlist",
     [] {
         std::string xml = "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict/></plist>";
         return Data(xml.begin(), xml.end());
     },
     "XML property list"},
    {"OtherVersion",
     [] {
         Data d = validArchive();
         d[7] = '1';
         return d;
     },
     "unsupported version"},
    {"Truncated", [] { return Data(validArchive().begin(), validArchive().begin() + 20); }, "truncated"},
    {"TrailerCut", [] { return Data(validArchive().begin(), validArchive().end() - 1); },
     "binary property list"},
    // Structure of the binary property list.
    {"OddReferenceWidth",
     [] {
         Data d = raw({{0x10, 0x01}});
         d[d.size() - 25] = 9;
         return d;
     },
     "reference width 9"},
    {"TopBeyondObjects",
     [] {
         return raw({{0x10, 0x01}}, 4);
     },
     "top object 4"},
    {"OffsetOutsideObjects",
     [] {
         Data d = raw({rawArray({1}), {0x10, 0x01}});
         d[d.size() - 32 - 1] = 0xF0;
         return d;
     },
     "outside the object area"},
    {"ReferenceBeyondObjects", [] { return raw({rawArray({5})}); },
     "refers to object 5, beyond the 1 objects"},
    {"ContainerContainsItself",
     [] {
         return raw({rawArray({1}), rawArray({0})});
     },
     "contains itself"},
    {"UnknownMarker",
     [] {
         return raw({{0x70, 0x41}});
     },
     "type marker 0x70"},
    {"StringLongerThanData",
     [] {
         return raw({{0x5F, 0x13, 0, 0, 0, 1, 0, 0, 0, 0, 'a'}});
     },
     "runs past the end"},
    {"ArrayCountBeyondData",
     [] {
         return raw({{0xAF, 0x12, 0x7F, 0xFF, 0xFF, 0xFF, 0x00}});
     },
     "claims 2147483647"},
    {"DictionaryKeyNotString",
     [] {
         return raw({{0xD1, 0x01, 0x01}, {0x10, 0x05}});
     },
     "key that is not a string"},
    {"KeyWithNul", [] { return rawKeyedRecord({std::string("a\0b", 3)}); }, "key with a NUL character"},
    {"RecordKeyTwice",
     [] {
         return rawKeyedRecord({"k", "k"});
     },
     "object 1 (TLX) has the key \"k\" twice"},
    {"RecordKeyTwiceOnceRepaired",
     [] {
         return rawKeyedRecord({"\xff", "\xef\xbf\xbd"});
     },
     "has the key \"\xef\xbf\xbd\" twice"},
    {"SharedContainersExpand",
     [] {
         // Each array holds the next one twice: 2^40 nodes once expanded.
         std::vector<std::vector<uint8_t>> objects;
         for (uint64_t i = 0; i < 40; ++i) objects.push_back(rawArray({i + 1, i + 1}));
         objects.push_back({0x10, 0x00});
         return raw(objects);
     },
     "can justify"},
    {"PlistNestsTooDeep", [] { return nestedPlistArrays(600); }, "deeper than 512 levels"},
    // The archive's root dictionary.
    {"RootNotDictionary", [] { return binary(A({S("$null")})); }, "root is not a dictionary"},
    {"NoArchiver",
     [] {
         return withRoot({{"$version", I(100000)}, {"$top", M({})}, {"$objects", A({S("$null")})}});
     },
     "no \"$archiver\""},
    {"ArchiverNotString",
     [] {
         return withRoot({{"$archiver", I(1)}, {"$version", I(100000)}});
     },
     "\"$archiver\" is not a string"},
    {"OtherArchiver",
     [] {
         return withRoot({{"$archiver", S("Other")}, {"$version", I(100000)}});
     },
     "\"$archiver\" is \"Other\", not \"NSKeyedArchiver\""},
    {"NoVersion",
     [] {
         return withRoot({{"$archiver", S("NSKeyedArchiver")}});
     },
     "no \"$version\""},
    {"VersionNotInteger",
     [] {
         return withRoot({{"$archiver", S("NSKeyedArchiver")}, {"$version", S("100000")}});
     },
     "\"$version\" is not an integer"},
    {"NoObjects",
     [] {
         return withRoot({{"$archiver", S("NSKeyedArchiver")}, {"$version", I(100000)}});
     },
     "no \"$objects\""},
    {"ObjectsNotArray",
     [] {
         return withRoot({{"$archiver", S("NSKeyedArchiver")}, {"$version", I(100000)}, {"$objects", M({})}});
     },
     "\"$objects\" is not an array"},
    {"ObjectsWithoutNull",
     [] {
         return withRoot(
             {{"$archiver", S("NSKeyedArchiver")}, {"$version", I(100000)}, {"$objects", A({S("x")})}});
     },
     "does not begin with \"$null\""},
    {"NoTop",
     [] {
         return withRoot(
             {{"$archiver", S("NSKeyedArchiver")}, {"$version", I(100000)}, {"$objects", A({S("$null")})}});
     },
     "no \"$top\""},
    {"TopNotDictionary",
     [] {
         return withRoot({{"$archiver", S("NSKeyedArchiver")},
                          {"$version", I(100000)},
                          {"$objects", A({S("$null")})},
                          {"$top", A({})}});
     },
     "\"$top\" is not a dictionary"},
    {"TopWithoutRoot",
     [] {
         return withRoot({{"$archiver", S("NSKeyedArchiver")},
                          {"$version", I(100000)},
                          {"$objects", A({S("$null")})},
                          {"$top", M({{"other", U(0)}})}});
     },
     "\"$top\" has no \"root\""},
    {"RootNotUID",
     [] {
         return withRoot({{"$archiver", S("NSKeyedArchiver")},
                          {"$version", I(100000)},
                          {"$objects", A({S("$null")})},
                          {"$top", M({{"root", I(1)}})}});
     },
     "key \"root\" is not a UID"},
    {"RootBeyondObjects", [] { return keyed({S("x")}, 9); }, "refers to object 9, beyond the 2 objects"},
    // Object and class records.
    {"NoClass",
     [] {
         return keyed({M({{"NS.objects", A({})}})});
     },
     "object 1 has no \"$class\""},
    {"ClassNotUID",
     [] {
         return keyed({M({{"$class", I(2)}}), Class("NSArray")});
     },
     "\"$class\" is not a UID"},
    {"ClassBeyondObjects",
     [] {
         return keyed({M({{"$class", U(7)}})});
     },
     "\"$class\" refers to object 7"},
    {"ClassIsNull",
     [] {
         return keyed({M({{"$class", U(0)}})});
     },
     "which is not a class record"},
    {"ClassRecordNotDictionary",
     [] {
         return keyed({M({{"$class", U(2)}}), S("NSArray")});
     },
     "class record 2 (of object 1) is not a dictionary"},
    {"ClassRecordWithoutName",
     [] {
         return keyed({M({{"$class", U(2)}}), M({{"$classes", A({})}})});
     },
     "has no \"$classname\" string"},
    {"ClassRecordWithoutChain",
     [] {
         return keyed({M({{"$class", U(2)}}), M({{"$classname", S("NSArray")}})});
     },
     "has no \"$classes\" array"},
    {"ClassChainHoldsNumber",
     [] {
         return keyed({M({{"$class", U(2)}}),
                       M({{"$classname", S("NSArray")}, {"$classes", A({S("NSArray"), I(3)})}})});
     },
     "\"$classes\" holds an integer, not a class name"},
    {"ArrayObjectsNotArray",
     [] {
         return keyed({M({{"NS.objects", M({})}, {"$class", U(2)}}), Class("NSArray")});
     },
     "object 1 (NSArray): key \"NS.objects\" is a dictionary, not an array"},
    {"ArrayElementNotUID",
     [] {
         return keyed({M({{"NS.objects", A({S("x")})}, {"$class", U(2)}}), Class("NSArray")});
     },
     "element 0 is a string, not a UID"},
    {"DanglingElement",
     [] {
         return keyed({M({{"NS.objects", A({U(9)})}, {"$class", U(2)}}), Class("NSArray")});
     },
     "key \"NS.objects\" refers to object 9, beyond the 3 objects"},
    {"DictionaryCountsDiffer",
     [] {
         return keyed({M({{"NS.keys", A({U(2), U(2)})}, {"NS.objects", A({U(2)})}, {"$class", U(3)}}), S("k"),
                       Class("NSDictionary")});
     },
     "\"NS.keys\" has 2 entries but \"NS.objects\" has 1"},
    {"ArrayContainsItself",
     [] {
         return keyed({M({{"NS.objects", A({U(1)})}, {"$class", U(2)}}), Class("NSArray")});
     },
     "object 1 (NSArray) contains itself"},
    {"IndirectCycle",
     [] {
         return keyed({M({{"NS.objects", A({U(2)})}, {"$class", U(3)}}),
                       M({{"NS.keys", A({U(4)})}, {"NS.objects", A({U(1)})}, {"$class", U(5)}}),
                       Class("NSArray"), S("k"), Class("NSDictionary")});
     },
     "object 1 (NSArray) contains itself"},
    {"UnknownClassCycle",
     [] {
         return keyed({M({{"me", U(1)}, {"$class", U(2)}}), Class("TLSomething")});
     },
     "object 1 (TLSomething) contains itself"},
    {"PlainArrayInObjects", [] { return keyed({A({})}); },
     "object 1 is an array, which keyed archives do not hold"},
    {"DateInObjects", [] { return keyed({plist_new_date(0, 0)}); }, "object 1 is a date"},
    {"MutableStringNotString",
     [] {
         return keyed({M({{"NS.string", I(4)}, {"$class", U(2)}}), Class("NSMutableString")});
     },
     "key \"NS.string\" is an integer, not a string"},
    {"MutableDataRefersToString",
     [] {
         return keyed({M({{"NS.data", U(2)}, {"$class", U(3)}}), S("x"), Class("NSMutableData")});
     },
     "key \"NS.data\" does not refer to data"},
    {"ObjectsNestTooDeep", [] { return nestedKeyedArrays(600); }, "objects nest deeper than 512 levels"},
    {"UnknownClassHoldsDate",
     [] {
         return keyed({M({{"when", plist_new_date(0, 0)}, {"$class", U(2)}}), Class("TLSomething")});
     },
     "object 1 (TLSomething): key \"when\" holds a date"},
    // Typed decoders on values of the wrong type.
    {"IntFromString", [] { return probe("int", S("7")); },
     "object 1 (TLMalformedProbe): key \"value\" is a string, not a number"},
    {"BoolFromData", [] { return probe("bool", D({1})); }, "key \"value\" is data, not a boolean"},
    {"DoubleFromUID", [] { return probe("double", U(2)); }, "key \"value\" is a UID, not a number"},
    {"BytesFromInteger", [] { return probe("bytes", I(3)); }, "key \"value\" is an integer, not data"},
    {"ObjectFromInline", [] { return probe("object", I(3)); },
     "key \"value\" is an integer, not an object reference"},
    {"ColorSpaceFromString",
     [] {
         return keyed({M({{"NSColorSpace", S("1")}, {"$class", U(2)}}), Class("NSColor")});
     },
     "object 1 (NSColor): key \"NSColorSpace\" is a string, not a number"},
    {"ColorComponentsNotData",
     [] {
         return keyed(
             {M({{"NSColorSpace", I(1)}, {"NSRGB", S("1 0 0")}, {"$class", U(2)}}), Class("NSColor")});
     },
     "key \"NSRGB\" is a string, not data"},
};

class ArchiveMalformedTest : public ::testing::TestWithParam<Case> {
protected:
    static void SetUpTestSuite() { ArchiveClassRegistry::registerClass("TLMalformedProbe", &decodeProbe); }
};

TEST_P(ArchiveMalformedTest, RaisesArchiveErrorNamingTheFault) {
    const Data data = GetParam().make();
    try {
        KeyedUnarchiver::unarchivedObjectWithData(data);
        FAIL() << "no error";
    } catch (const ArchiveError& error) {
        EXPECT_NE(std::string(error.what()).find(GetParam().fragment), std::string::npos) << error.what();
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, ArchiveMalformedTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             return std::string(info.param.name);
                         });

TEST(ArchiveMalformed, HandLaidRecordReadsWhenWellFormed) {
    auto object = KeyedUnarchiver::unarchivedObjectWithData(rawKeyedRecord({"k", "$$escaped"}));
    auto generic = object.object<GenericArchiveObject>();
    ASSERT_TRUE(generic);
    EXPECT_EQ(generic->className(), "TLX");
    EXPECT_EQ(generic->valueForKey("k"), Value(1));
    EXPECT_EQ(generic->valueForKey("$escaped"), Value(1));
}

TEST(ArchiveMalformed, NestingUpToTheLimitIsRead) {
    Value root = KeyedUnarchiver::unarchivedObjectWithData(nestedKeyedArrays(512));
    size_t depth = 0;
    for (Value v = root; v.isArray(); v = v.arrayValue()->items.empty() ? Value() : v.arrayValue()->items[0])
        ++depth;
    EXPECT_EQ(depth, 512u);
    EXPECT_NO_THROW(KeyedArchiver::archivedDataWithRootObject(root));
}

TEST(ArchiveMalformed, EveryTruncationOfAnArchiveIsRefused) {
    const Data whole = validArchive();
    for (size_t length = 0; length < whole.size(); ++length) {
        Data part(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length));
        EXPECT_THROW(KeyedUnarchiver::unarchivedObjectWithData(part), ArchiveError) << length;
    }
}

TEST(ArchiveMalformed, EverySingleByteChangeIsReadOrRefused) {
    const Data whole = validArchive();
    for (size_t i = 0; i < whole.size(); ++i) {
        for (uint8_t value : {uint8_t{0x00}, uint8_t{0x0F}, uint8_t{0x7F}, uint8_t{0xFF}}) {
            Data changed = whole;
            changed[i] = value;
            try {
                KeyedUnarchiver::unarchivedObjectWithData(changed);
            } catch (const ArchiveError&) {
            }
        }
    }
}

}  // namespace
}  // namespace tollvane
