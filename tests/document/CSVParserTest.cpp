#include "document/CSVParser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "document/TextEncodingDetector.h"

namespace tollvane {
namespace {

using Rows = std::vector<std::vector<std::string>>;

struct SplitCase {
    const char* name;
    std::string text;
    std::string delimiter;
    Rows rows;
};

class CSVSplitTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(CSVSplitTest, SplitsIntoRowsAndFields) {
    const SplitCase& c = GetParam();
    EXPECT_EQ(CSVParser::csvRowsWithDelimiter(c.text, c.delimiter), c.rows);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CSVSplitTest,
    ::testing::Values(SplitCase{"QuotedDelimiterAndDoubledQuotes",
                                "a,\"b,c\",\"say \"\"hi\"\"\"",
                                ",",
                                {{"a", "b,c", "say \"hi\""}}},
                      SplitCase{"EmptyFieldAndSpaceAfterDelimiter", "a, b,,c", ",", {{"a", "b", "", "c"}}},
                      SplitCase{"EmptyLastFieldDropped", "a,b,", ",", {{"a", "b"}}},
                      SplitCase{"BlankLinesVanish", "a,b\n\n\nc\r\n\r\nd", ",", {{"a", "b"}, {"c"}, {"d"}}},
                      SplitCase{"NewlinesInsideQuotesKept",
                                "\"line 1\r\n\nline 2\",x\ny",
                                ",",
                                {{"line 1\r\n\nline 2", "x"}, {"y"}}},
                      SplitCase{"UnicodeLineSeparatorsEndRows",
                                "a\xE2\x80\xA8"
                                "b\xC2\x85"
                                "c",
                                ",",
                                {{"a"}, {"b"}, {"c"}}},
                      SplitCase{"EmptyDelimiterMeansComma", "a,b", "", {{"a", "b"}}},
                      SplitCase{"Semicolon", "01:00:10:00;101;Hello", ";", {{"01:00:10:00", "101", "Hello"}}},
                      SplitCase{"RowOfOnlyDelimitersKeepsEmptyFields", ",,\nx", ",", {{"", ""}, {"x"}}},
                      SplitCase{"EmptyQuotesAreAnEmptyField", "\"\",a", ",", {{"", "a"}}},
                      SplitCase{"QuoteInsideFieldToggles", "ab\"c,d\"e,f", ",", {{"abc,de", "f"}}},
                      SplitCase{"UnterminatedQuoteRunsToTheEnd", "a,\"b\nc", ",", {{"a", "b\nc"}}},
                      SplitCase{"DelimiterInsideQuotesKept", "\"a;b\";c", ";", {{"a;b", "c"}}},
                      SplitCase{"TabsKeepEmptyFields", "a\t\tb\t c", "\t", {{"a", "", "b", "c"}}},
                      SplitCase{"SpacesNotSkippedMidField", "a b ,c d", ",", {{"a b ", "c d"}}},
                      SplitCase{"NoBreakSpaceSkippedAfterDelimiter",
                                "a,\xC2\xA0"
                                "b",
                                ",",
                                {{"a", "b"}}},
                      SplitCase{"MultiCharacterDelimiter", "a||b||c", "||", {{"a", "b", "c"}}},
                      SplitCase{"LoneCharacterOfLongDelimiterIsText", "a|b||c|", "||", {{"a|b", "c|"}}},
                      SplitCase{"LongDelimiterCutByEndOfText", "a||b|", "||", {{"a", "b|"}}},
                      SplitCase{"LongDelimiterInsideQuotes", "\"a::b\"::c", "::", {{"a::b", "c"}}},
                      SplitCase{"MultiByteDelimiter",
                                "a\xC2\xA7"
                                "b",
                                "\xC2\xA7",
                                {{"a", "b"}}},
                      SplitCase{"LeadByteOfNonNewlineIsText",
                                "caf\xC3\xA9,\xE2\x82\xAC",
                                ",",
                                {{"caf\xC3\xA9", "\xE2\x82\xAC"}}},
                      SplitCase{"QuoteAsDelimiterStillEnds", "a\"b\"c", "\"", {{"abc"}}},
                      SplitCase{"EmptyText", "", ",", {}}, SplitCase{"OnlyNewlines", "\n\r\n\n", ",", {}}),
    [](const ::testing::TestParamInfo<SplitCase>& info) { return std::string(info.param.name); });

TEST(CSVParserTest, ForEachRowHandsOverRowsInOrderAndCountsThem) {
    Rows seen;
    const size_t count =
        CSVParser::forEachRow("1;a\n\n2;b\n", ";", [&](CSVParser::Row&& row) { seen.push_back(row); });
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(seen, (Rows{{"1", "a"}, {"2", "b"}}));
}

struct EncodingCase {
    const char* name;
    std::string bytes;
    bool ok;
    TextEncodingDetector::Encoding encoding;
    std::string text;
};

class TextEncodingTest : public ::testing::TestWithParam<EncodingCase> {};

TEST_P(TextEncodingTest, DetectsAndDecodes) {
    const EncodingCase& c = GetParam();
    const TextEncodingDetector::Result result = TextEncodingDetector::stringFromBytes(c.bytes);
    ASSERT_EQ(result.ok(), c.ok) << result.error;
    if (!c.ok) {
        EXPECT_TRUE(result.text.empty());
        return;
    }
    EXPECT_EQ(result.encoding, c.encoding);
    EXPECT_EQ(result.text, c.text);
}

using E = TextEncodingDetector::Encoding;
INSTANTIATE_TEST_SUITE_P(
    Cases, TextEncodingTest,
    ::testing::Values(
        EncodingCase{"PlainUTF8", "caf\xC3\xA9", true, E::UTF8, "caf\xC3\xA9"},
        EncodingCase{"UTF8BOMRemoved", "\xEF\xBB\xBFx,y", true, E::UTF8WithBOM, "x,y"},
        EncodingCase{"UTF8BOMWithBadBytes", "\xEF\xBB\xBFx\xFF", false, E::UTF8, ""},
        EncodingCase{"UTF16BigEndian",
                     std::string("\xFE\xFF\x00"
                                 "a\x00\xE9\xD8\x3D\xDE\x00",
                                 10),
                     true, E::UTF16BigEndian, "a\xC3\xA9\xF0\x9F\x98\x80"},
        EncodingCase{"UTF16LittleEndian",
                     std::string("\xFF\xFE"
                                 "a\x00,\x00\xAC\x20",
                                 8),
                     true, E::UTF16LittleEndian, "a,\xE2\x82\xAC"},
        EncodingCase{"UTF16OddLength",
                     std::string("\xFF\xFE"
                                 "a\x00,",
                                 5),
                     false, E::UTF8, ""},
        EncodingCase{"UTF16LoneHighSurrogate",
                     std::string("\xFE\xFF\xD8\x3D\x00"
                                 "a",
                                 6),
                     false, E::UTF8, ""},
        EncodingCase{"UTF16LoneLowSurrogate", std::string("\xFF\xFE\x00\xDC", 4), false, E::UTF8, ""},
        EncodingCase{"UTF16EndsInPair", std::string("\xFE\xFF\xD8\x3D", 4), false, E::UTF8, ""},
        EncodingCase{"Latin1Fallback", "caf\xE9;na\xEFve", true, E::Latin1, "caf\xC3\xA9;na\xC3\xAFve"},
        EncodingCase{"OverlongUTF8IsLatin1", "\xC0\xAF", true, E::Latin1, "\xC3\x80\xC2\xAF"},
        EncodingCase{"EncodedSurrogateIsLatin1", "\xED\xA0\x80", true, E::Latin1, "\xC3\xAD\xC2\xA0\xC2\x80"},
        EncodingCase{"NulBytesWithoutBOM",
                     std::string("a\x00"
                                 "b\x00",
                                 4),
                     false, E::UTF8, ""},
        EncodingCase{"Empty", "", true, E::UTF8, ""}),
    [](const ::testing::TestParamInfo<EncodingCase>& info) { return std::string(info.param.name); });

TEST(TextEncodingFileTest, MissingFileSaysWhy) {
    const auto result = TextEncodingDetector::stringWithContentsOfFile("/nonexistent/tollvane/list.csv");
    EXPECT_FALSE(result.ok());
    EXPECT_EQ(result.error, "No such file or directory");
}

}  // namespace
}  // namespace tollvane
