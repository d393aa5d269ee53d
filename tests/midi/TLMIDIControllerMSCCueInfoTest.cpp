#include "midi/MSCCueInfo.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tollvane {
namespace {

// F0 7F 7F 02 10 05, the given data bytes, then F7 unless `end` is false.
std::vector<uint8_t> load(const std::vector<uint8_t>& data, bool end = true) {
    std::vector<uint8_t> bytes{0xF0, 0x7F, 0x7F, 0x02, 0x10, 0x05};
    bytes.insert(bytes.end(), data.begin(), data.end());
    if (end) bytes.push_back(0xF7);
    return bytes;
}

std::vector<uint8_t> text(const std::string& s) {
    return {s.begin(), s.end()};
}

std::vector<uint8_t> join(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> joined;
    for (const auto& part : parts) joined.insert(joined.end(), part.begin(), part.end());
    return joined;
}

TEST(MSCCueInfoTest, SplitsUpToThreeFields) {
    const std::vector<uint8_t> sep{0x00};
    struct Case {
        std::vector<uint8_t> bytes;
        std::vector<std::string> fields;
    };
    const std::string long200(200, '7');
    const Case cases[] = {
        {load(join({text("1.2.1.3"), sep, text("4"), sep, text("show")})), {"1.2.1.3", "4", "show"}},
        {load(join({text("1"), sep, text("2"), sep, text("3"), sep, text("4")})), {"1", "2", "3"}},
        {load(text("12"), false), {"12"}},
        {load({}), {}},
        {load({}, false), {}},
        // The first byte of a field is taken before the separator test.
        {load(join({text("1"), sep, sep, text("2")})), {"1", ""}},
        // Longer fields are cut at 127 bytes and the next field still read.
        {load(join({text(long200), sep, text("list")})), {std::string(127, '7'), "list"}},
        // A cut inside a character drops the part of it (126 bytes, then a two-byte é).
        {load(join({text(std::string(126, 'a') + "\xC3\xA9" + "z")})), {std::string(126, 'a')}},
        {load(join({text("ok"), sep, {0xC3, 0x28}, sep, text("after")})), {"ok"}},
        {load(text("Szene \xC3\xA9")), {"Szene \xC3\xA9"}},
    };
    for (const Case& c : cases) {
        const MSCCueInfo info = MSCCueInfo::cueInfoFromBytes(c.bytes.data(), c.bytes.size());
        EXPECT_EQ(info.fields(), c.fields) << c.bytes.size();
    }
    EXPECT_EQ(MSCCueInfo::cueInfoFromBytes(nullptr, 10).fields().size(), 0u);
}

TEST(MSCCueInfoTest, ReadsFiveNumbersFromACueNumber) {
    struct Case {
        const char* cueNumber;
        std::array<int32_t, 5> numbers;
    };
    const Case cases[] = {
        {"1.2.1.3", {1, 2, 1, 3, 0}},   {"12", {12, 0, 0, 0, 0}},
        {"2m14b v3", {2, 14, 3, 0, 0}}, {"1-2-3-4-5-6", {1, 2, 3, 4, 5}},
        {"A12", {0, 0, 0, 0, 0}},       {"-1.2", {0, 0, 0, 0, 0}},
        {"", {0, 0, 0, 0, 0}},          {"99999999999.1", {2147483647, 1, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MSCCueInfo::numbersFromCueNumber(c.cueNumber), c.numbers) << c.cueNumber;
    }
}

}  // namespace
}  // namespace tollvane
