#include "platform/UTF8.h"

#include <gtest/gtest.h>

#include <string>

namespace tollvane {
namespace {

TEST(UTF8Test, AcceptsEveryLengthAndRefusesWhatIsNotStrictUTF8) {
    struct Case {
        std::string bytes;
        bool valid;
    };
    const Case cases[] = {
        {"", true},
        {"plain", true},
        {"\xC3\xA9", true},                 // é
        {"\xE2\x80\x94", true},             // em dash
        {"\xF0\x9F\x8E\xBA", true},         // U+1F3BA
        {"\xF4\x8F\xBF\xBF", true},         // U+10FFFF, the last
        {"\xC3", false},                    // cut short
        {"\xE2\x80", false},                // cut short
        {"\xC0\xAF", false},                // overlong '/'
        {"\xE0\x80\xAF", false},            // overlong '/'
        {"\xF0\x80\x80\xAF", false},        // overlong '/'
        {"\xED\xA0\x80", false},            // a UTF-16 surrogate
        {"\xF4\x90\x80\x80", false},        // past U+10FFFF
        {"\xF5\x80\x80\x80", false},        // lead byte never used
        {"\x80", false},                    // a lone continuation
        {"a\xC3\xA9z\xE2\x28\xA1", false},  // a bad continuation after good text
        {std::string("\0x", 2), true},      // NUL is a character
    };
    for (const Case& c : cases) EXPECT_EQ(UTF8::isValid(c.bytes), c.valid) << testing::PrintToString(c.bytes);
}

}  // namespace
}  // namespace tollvane
