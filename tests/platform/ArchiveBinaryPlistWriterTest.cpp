// The binary property-list writer, read back by libplist.

#include <gtest/gtest.h>
#include <plist/plist.h>

#include <cstdlib>
#include <limits>
#include <memory>
#include <string>

#include "platform/archive/ArchiveError.h"
#include "platform/archive/BinaryPlistCheck.h"
#include "platform/archive/BinaryPlistWriter.h"

namespace tollvane {
namespace {

struct PlistFree {
    void operator()(plist_t node) const { plist_free(node); }
};
using Plist = std::unique_ptr<void, PlistFree>;

Plist readBack(const PlistNode& node) {
    const Data data = BinaryPlistWriter::write(node);
    BinaryPlistCheck::check(data.data(), data.size());
    plist_t root = nullptr;
    plist_from_bin(reinterpret_cast<const char*>(data.data()), static_cast<uint32_t>(data.size()), &root);
    EXPECT_TRUE(root);
    return Plist(root);
}

TEST(ArchiveBinaryPlistWriter, IntegersOfEveryWidth) {
    for (int64_t value : {int64_t{0}, int64_t{255}, int64_t{256}, int64_t{65535}, int64_t{65536},
                          int64_t{0xFFFFFFFF}, int64_t{0x100000000}, int64_t{-1},
                          std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max()}) {
        Plist root = readBack(PlistNode::integer(value));
        ASSERT_EQ(plist_get_node_type(root.get()), PLIST_UINT);
        uint64_t read = 0;
        plist_get_uint_val(root.get(), &read);
        EXPECT_EQ(static_cast<int64_t>(read), value);
    }
}

TEST(ArchiveBinaryPlistWriter, StringsAsciiAndUtf16) {
    for (std::string text : {std::string(""), std::string("short"), std::string(40, 'x'),
                             std::string("\u00dcberblendung \u2669"), std::string("\U0001F3AC clap"),
                             std::string(300, 'y') + "\u00e9"}) {
        Plist root = readBack(PlistNode::string(text));
        uint64_t length = 0;
        const char* read = plist_get_string_ptr(root.get(), &length);
        ASSERT_TRUE(read);
        EXPECT_EQ(std::string(read, length), text);
    }
}

TEST(ArchiveBinaryPlistWriter, ContainersRealsDataAndUIDs) {
    PlistNode dict = PlistNode::dictionary();
    dict.keys() = {"real", "data", "uid", "list", "flag"};
    PlistNode list = PlistNode::array();
    for (int i = 0; i < 20; ++i) list.items().push_back(PlistNode::integer(i % 3));
    const std::string blob(1000, '\x7f');
    dict.items().push_back(PlistNode::real(-0.1));
    dict.items().push_back(PlistNode::data(reinterpret_cast<const uint8_t*>(blob.data()), blob.size()));
    dict.items().push_back(PlistNode::uid(70000));
    dict.items().push_back(std::move(list));
    dict.items().push_back(PlistNode::boolean(true));
    Plist root = readBack(dict);
    double real = 0;
    plist_get_real_val(plist_dict_get_item(root.get(), "real"), &real);
    EXPECT_EQ(real, -0.1);
    uint64_t length = 0;
    EXPECT_EQ(std::string(plist_get_data_ptr(plist_dict_get_item(root.get(), "data"), &length), 1000), blob);
    uint64_t uid = 0;
    plist_get_uid_val(plist_dict_get_item(root.get(), "uid"), &uid);
    EXPECT_EQ(uid, 70000u);
    EXPECT_EQ(plist_array_get_size(plist_dict_get_item(root.get(), "list")), 20u);
    uint8_t flag = 0;
    plist_get_bool_val(plist_dict_get_item(root.get(), "flag"), &flag);
    EXPECT_TRUE(flag);
}

TEST(ArchiveBinaryPlistWriter, EqualScalarsAreWrittenOnce) {
    PlistNode list = PlistNode::array();
    for (int i = 0; i < 100; ++i) list.items().push_back(PlistNode::string("same text"));
    const Data data = BinaryPlistWriter::write(list);
    // The array, one string: the trailer counts two objects.
    EXPECT_EQ(data[data.size() - 17], 2);
}

TEST(ArchiveBinaryPlistWriter, ManyObjectsWidenReferencesAndOffsets) {
    PlistNode list = PlistNode::array();
    for (int i = 0; i < 70000; ++i) list.items().push_back(PlistNode::integer(i));
    const Data data = BinaryPlistWriter::write(list);
    EXPECT_EQ(data[data.size() - 26], 4);  // offset width
    EXPECT_EQ(data[data.size() - 25], 4);  // reference width
    Plist root = readBack(list);
    EXPECT_EQ(plist_array_get_size(root.get()), 70000u);
}

TEST(ArchiveBinaryPlistWriter, NestingBeyondTheReaderLimitIsRefused) {
    PlistNode deep = PlistNode::integer(1);
    for (size_t i = 1; i < BinaryPlistCheck::kMaxDepth; ++i) {
        PlistNode outer = PlistNode::array();
        outer.items().push_back(std::move(deep));
        deep = std::move(outer);
    }
    EXPECT_NO_THROW(readBack(deep));
    PlistNode deeper = PlistNode::array();
    deeper.items().push_back(std::move(deep));
    EXPECT_THROW(BinaryPlistWriter::write(deeper), ArchiveError);
}

}  // namespace
}  // namespace tollvane
