#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "object_values.h"

namespace {

using B = std::vector<std::uint8_t>;

struct Parsed {
    std::uint32_t count;
    B bytes;  // the first `count` bytes (at least 4, to see what was stored)
};

Parsed Parse(DataFormat format, const std::string& text, std::uint32_t count)
{
    static std::uint8_t buffer[kObjectValueSize];
    std::memset(buffer, 0xEE, sizeof buffer);
    Parsed p;
    p.count = ParseObjectValue(format, text.c_str(), buffer, count);
    p.bytes.assign(buffer, buffer + std::max<std::uint32_t>(p.count, 4));
    return p;
}

std::string Show(const B& bytes, DataFormat format, std::uint32_t length)
{
    static std::uint8_t buffer[kObjectValueSize];
    std::memset(buffer, 0, sizeof buffer);
    std::copy(bytes.begin(), bytes.end(), buffer);
    static char text[kObjectTextSize];
    return FormatObjectValue(buffer, format, length, text, sizeof text);
}

TEST(ObjectValues, ParseSingleNumbers)
{
    struct Case {
        DataFormat format;
        const char* text;
        std::uint32_t count;
        std::uint32_t expectedCount;
        B expected;
    };
    const Case cases[] = {
        {FormatHex, "1234", 2, 2, {0x34, 0x12, 0, 0}},
        {FormatHex, "  0x1f zz", 1, 1, {0x1F, 0, 0, 0}},
        {FormatHex, "DEADBEEF", 4, 4, {0xEF, 0xBE, 0xAD, 0xDE}},
        {FormatHex, "123456789", 4, 4, {0x89, 0x67, 0x45, 0x23}},  // low 32 bits
        {FormatHex, "0x", 4, 4, {0, 0, 0, 0}},
        {FormatHex, "xyz", 4, 0, {0, 0, 0, 0}},
        {FormatHex, "", 4, 0, {0, 0, 0, 0}},
        {FormatUnsigned, "4660", 2, 2, {0x34, 0x12, 0, 0}},
        {FormatUnsigned, "4294967295", 4, 4, {0xFF, 0xFF, 0xFF, 0xFF}},
        {FormatSigned, "-1", 1, 1, {0xFF, 0xFF, 0xFF, 0xFF}},
        {FormatSigned, "-2147483648", 4, 4, {0x00, 0x00, 0x00, 0x80}},
        {FormatSigned, "+12abc", 1, 1, {12, 0, 0, 0}},
        {FormatFloat, "1.5", 4, 4, {0x00, 0x00, 0xC0, 0x3F}},
        {FormatFloat, "  -2", 4, 4, {0x00, 0x00, 0x00, 0xC0}},
        {FormatFloat, "abc", 4, 0, {0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const Parsed p = Parse(c.format, c.text, c.count);
        EXPECT_EQ(p.count, c.expectedCount);
        EXPECT_EQ(B(p.bytes.begin(), p.bytes.begin() + 4), c.expected) << "the buffer is cleared first";
    }
}

TEST(ObjectValues, ParseRawTokens)
{
    EXPECT_EQ(Parse(FormatRaw, "01,02;03 0A", 0).bytes, (B{1, 2, 3, 0x0A}));
    EXPECT_EQ(Parse(FormatRaw, "01,02;03 0A", 0).count, 4u);
    EXPECT_EQ(Parse(FormatRaw, "123", 0).bytes[0], 0x23) << "low 8 bits of a token";
    EXPECT_EQ(Parse(FormatRaw, ",, 7\r\n\n8 ;", 0).count, 2u) << "empty tokens are skipped";
    EXPECT_EQ(Parse(FormatRaw, "01 zz 02", 0).count, 0u) << "one bad token empties the value";
    EXPECT_EQ(Parse(FormatRaw, "", 0).count, 0u);
    EXPECT_EQ(Parse(FormatRaw, "   ", 0).count, 0u);

    std::string many;
    for (int i = 0; i < 1001; ++i)
        many += (i % 2 == 0 ? "AA " : "5 ");
    const Parsed p = Parse(FormatRaw, many, 0);
    EXPECT_EQ(p.count, 1000u) << "at most 1000 bytes; further tokens ignored";
    EXPECT_EQ(p.bytes[999], 0x05);

    std::string tail = many + " not-hex";
    EXPECT_EQ(Parse(FormatRaw, tail, 0).count, 1000u) << "tokens past the 1000th are not looked at";
}

TEST(ObjectValues, ExtractAndShow)
{
    // A one-byte 0xFF in each format.
    EXPECT_EQ(Show({0xFF}, FormatSigned, 1), "-1");
    EXPECT_EQ(Show({0xFF}, FormatUnsigned, 1), "255");
    EXPECT_EQ(Show({0xFF}, FormatHex, 1), "FF");
    EXPECT_EQ(Show({0xFF}, FormatRaw, 1), "FF ");

    EXPECT_EQ(Show({0x34, 0x12}, FormatRaw, 2), "34 12 ");
    EXPECT_EQ(Show({0x34, 0x12}, FormatUnsigned, 2), "4660");
    EXPECT_EQ(Show({0x00, 0x80}, FormatSigned, 2), "-32768");
    EXPECT_EQ(Show({0x00, 0x80}, FormatSigned, 3), "32768");
    EXPECT_EQ(Show({1, 2, 3, 4, 5, 6}, FormatHex, 6), "4030201") << "above 4 bytes: the first four";
    EXPECT_EQ(Show({}, FormatHex, 0), "0");
    EXPECT_EQ(Show({}, FormatRaw, 0), "");
    EXPECT_EQ(Show({0x00, 0x00, 0xC0, 0x3F}, FormatFloat, 4), "1.5");
    EXPECT_EQ(Show({0x00, 0x00, 0xC0, 0x3F}, FormatFloat, 1), "1.5") << "Float takes four bytes whatever the length";
    EXPECT_EQ(Show({0x2A}, static_cast<DataFormat>(9), 1), "2A") << "unknown formats show Hex";
}

TEST(ObjectValues, RawShowsUpToThousandBytesWithinTheBuffer)
{
    B bytes(1000, 0xAB);
    const std::string text = Show(bytes, FormatRaw, 1000);
    EXPECT_EQ(text.size(), 3000u);
    EXPECT_EQ(text.substr(2994), "AB AB ");
    EXPECT_EQ(Show(bytes, FormatRaw, 5000).size(), 3000u) << "a length beyond the buffer is cut";

    std::uint8_t buffer[kObjectValueSize] = {0x12, 0x34};
    char small[8];
    EXPECT_STREQ(FormatObjectValue(buffer, FormatRaw, 100, small, sizeof small), "12 34 ");
}

TEST(ObjectValues, ScanHexForIndexFields)
{
    struct Case {
        const char* text;
        int converted;
        std::uint32_t value;
    };
    const Case cases[] = {
        {"1018", 1, 0x1018},   {"  0x1A00", 1, 0x1A00}, {"12345", 1, 0x12345},
        {"1g", 1, 1},          {"", 0, 0},             {"g1", 0, 0},
        {"FFFFFFFFF1", 1, 0xFFFFFFF1},  // over-long: low 32 bits
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::uint32_t value = 0;
        EXPECT_EQ(ScanHex32(c.text, value), c.converted);
        if (c.converted != 0)
            EXPECT_EQ(value, c.value);
    }
}

TEST(ObjectValues, RoundTripThroughTextInEveryFormat)
{
    const std::uint32_t values[] = {0, 1, 0x7F, 0x80, 0xFF, 0x1234, 0x8000, 0xFFFF, 0x123456, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF};
    for (DataFormat format : {FormatHex, FormatUnsigned, FormatSigned}) {
        for (std::uint32_t value : values) {
            SCOPED_TRACE(value);
            std::uint8_t bytes[kObjectValueSize] = {};
            bytes[0] = static_cast<std::uint8_t>(value);
            bytes[1] = static_cast<std::uint8_t>(value >> 8);
            bytes[2] = static_cast<std::uint8_t>(value >> 16);
            bytes[3] = static_cast<std::uint8_t>(value >> 24);
            char text[kObjectTextSize];
            FormatObjectValue(bytes, format, 4, text, sizeof text);
            std::uint8_t back[kObjectValueSize];
            ASSERT_EQ(ParseObjectValue(format, text, back, 4), 4u) << text;
            EXPECT_EQ(ExtractValue(format, 4, back), value) << text;
        }
    }
}

}  // namespace
