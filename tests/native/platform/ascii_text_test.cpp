// The ASCII helpers every reader of text shares.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <string>

#include "ascii_text.h"

namespace {

// Every byte, against the C library's own reading of a hex digit (in the "C" locale).
TEST(AsciiText, HexDigitKnowsTheSixteenDigitsOfEitherCaseAndNothingElse)
{
    int digits = 0;
    for (int byte = 0; byte < 256; ++byte) {
        const char c = static_cast<char>(byte);
        const char text[2] = {c, '\0'};
        const int expected = std::isxdigit(byte) ? static_cast<int>(std::strtol(text, nullptr, 16)) : -1;
        EXPECT_EQ(ascii::HexDigit(c), expected) << "byte " << byte;
        digits += expected >= 0 ? 1 : 0;
    }
    EXPECT_EQ(digits, 22);
}

TEST(AsciiText, TrimAndCaseLeaveAllButAsciiAlone)
{
    struct Case {
        std::string text;
        std::string trimmed;
        std::string lower;
    };
    const Case cases[] = {
        {" \t\r\nKey = Value\r\n ", "Key = Value", " \t\r\nkey = value\r\n "},
        {"", "", ""},
        {" \t ", "", " \t "},
        {"\xC3\x9C"
         "BER",
         "\xC3\x9C"
         "BER",
         "\xC3\x9C"
         "ber"},                      // UTF-8 bytes are no letters here
        {"\vX\f", "\vX\f", "\vx\f"},  // nor blanks
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ascii::Trim(c.text), c.trimmed) << c.text;
        EXPECT_EQ(ascii::LowerCase(c.text), c.lower) << c.text;
        EXPECT_TRUE(ascii::EqualsNoCase(c.text, c.lower)) << c.text;
    }
    EXPECT_FALSE(ascii::EqualsNoCase("Port", "Ports"));
    EXPECT_FALSE(ascii::EqualsNoCase("[", "{"));  // 0x5B and 0x7B differ by the case bit only
    EXPECT_FALSE(ascii::EqualsNoCase("\xC3\xBC", "\xC3\x9C"));
}

}  // namespace
