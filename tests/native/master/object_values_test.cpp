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
    ValueRefusal refusal;
};

Parsed Parse(DataFormat format, const std::string& text, std::uint32_t count)
{
    static std::uint8_t buffer[kMaxObjectBytes];
    std::memset(buffer, 0xEE, sizeof buffer);
    Parsed p;
    p.refusal = static_cast<ValueRefusal>(99);
    p.count = ParseObjectValue(format, text.c_str(), buffer, count, &p.refusal);
    p.bytes.assign(buffer, buffer + std::max<std::uint32_t>(p.count, 4));
    return p;
}

std::string Show(const B& bytes, DataFormat format, std::uint32_t length)
{
    static std::uint8_t buffer[kMaxObjectBytes];
    std::memset(buffer, 0, sizeof buffer);
    std::copy(bytes.begin(), bytes.end(), buffer);
    static char text[kObjectTextSize];
    return FormatObjectValue(buffer, format, length, text, sizeof text);
}

constexpr ValueRefusal kTaken = ValueRefusal::None;
constexpr ValueRefusal kNotConvertible = ValueRefusal::NotConvertible;
constexpr ValueRefusal kOutOfRange = ValueRefusal::OutOfRange;

TEST(ObjectValues, SingleNumbersAreTakenOnlyWhenTheyConvertCompletelyAndFit)
{
    struct Case {
        DataFormat format;
        const char* text;
        std::uint32_t count;
        ValueRefusal refusal;
        B expected;  // the first four bytes of the buffer
    };
    const Case cases[] = {
        {FormatHex, "1234", 2, kTaken, {0x34, 0x12, 0, 0}},
        {FormatHex, "  0x1f  ", 1, kTaken, {0x1F, 0, 0, 0}},
        {FormatHex, "DEADBEEF", 4, kTaken, {0xEF, 0xBE, 0xAD, 0xDE}},
        {FormatHex, "0xFFFFFFFF", 4, kTaken, {0xFF, 0xFF, 0xFF, 0xFF}},
        {FormatHex, "FF", 1, kTaken, {0xFF, 0, 0, 0}},
        {FormatHex, "0x1FF", 1, kOutOfRange, {0, 0, 0, 0}},
        {FormatHex, "10000", 2, kOutOfRange, {0, 0, 0, 0}},
        {FormatHex, "123456789", 4, kOutOfRange, {0, 0, 0, 0}},
        {FormatHex, "FFFFFFFFFFFFFFFFFFFF1", 4, kOutOfRange, {0, 0, 0, 0}},
        {FormatHex, "-1", 4, kOutOfRange, {0, 0, 0, 0}},
        {FormatHex, "0x", 4, kNotConvertible, {0, 0, 0, 0}},
        {FormatHex, "0x1f zz", 1, kNotConvertible, {0, 0, 0, 0}},
        {FormatHex, "xyz", 4, kNotConvertible, {0, 0, 0, 0}},
        {FormatHex, "", 4, kNotConvertible, {0, 0, 0, 0}},
        {FormatUnsigned, "4660", 2, kTaken, {0x34, 0x12, 0, 0}},
        {FormatUnsigned, "255", 1, kTaken, {0xFF, 0, 0, 0}},
        {FormatUnsigned, "16777215", 3, kTaken, {0xFF, 0xFF, 0xFF, 0}},
        {FormatUnsigned, "4294967295", 4, kTaken, {0xFF, 0xFF, 0xFF, 0xFF}},
        {FormatUnsigned, "300", 1, kOutOfRange, {0, 0, 0, 0}},
        {FormatUnsigned, "4294967296", 4, kOutOfRange, {0, 0, 0, 0}},
        {FormatUnsigned, "-1", 4, kOutOfRange, {0, 0, 0, 0}},
        {FormatUnsigned, "12xyz", 4, kNotConvertible, {0, 0, 0, 0}},
        {FormatUnsigned, "0x10", 4, kNotConvertible, {0, 0, 0, 0}},
        {FormatSigned, "-1", 1, kTaken, {0xFF, 0xFF, 0xFF, 0xFF}},
        {FormatSigned, "-128", 1, kTaken, {0x80, 0xFF, 0xFF, 0xFF}},
        {FormatSigned, "+127", 1, kTaken, {0x7F, 0, 0, 0}},
        {FormatSigned, "-2147483648", 4, kTaken, {0x00, 0x00, 0x00, 0x80}},
        {FormatSigned, "-129", 1, kOutOfRange, {0, 0, 0, 0}},
        {FormatSigned, "128", 1, kOutOfRange, {0, 0, 0, 0}},
        {FormatSigned, "-200", 1, kOutOfRange, {0, 0, 0, 0}},
        {FormatSigned, "2147483648", 4, kOutOfRange, {0, 0, 0, 0}},
        {FormatSigned, "+12abc", 1, kNotConvertible, {0, 0, 0, 0}},
        {FormatSigned, "- 5", 1, kNotConvertible, {0, 0, 0, 0}},
        {FormatFloat, "1.5", 4, kTaken, {0x00, 0x00, 0xC0, 0x3F}},
        {FormatFloat, "  -2 ", 4, kTaken, {0x00, 0x00, 0x00, 0xC0}},
        {FormatFloat, "1e40", 4, kOutOfRange, {0, 0, 0, 0}},
        {FormatFloat, "1.5x", 4, kNotConvertible, {0, 0, 0, 0}},
        {FormatFloat, "abc", 4, kNotConvertible, {0, 0, 0, 0}},
        {FormatFloat, "", 4, kNotConvertible, {0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " format " + std::to_string(c.format) + " count " + std::to_string(c.count));
        const Parsed p = Parse(c.format, c.text, c.count);
        EXPECT_EQ(p.refusal, c.refusal);
        EXPECT_EQ(p.count, c.refusal == kTaken ? c.count : 0u);
        EXPECT_EQ(B(p.bytes.begin(), p.bytes.begin() + 4), c.expected) << "the buffer is cleared first";
    }
}

TEST(ObjectValues, RawTokensAreBytes)
{
    EXPECT_EQ(Parse(FormatRaw, "01,02;03 0A", 0).bytes, (B{1, 2, 3, 0x0A}));
    EXPECT_EQ(Parse(FormatRaw, "01,02;03 0A", 0).count, 4u);
    EXPECT_EQ(Parse(FormatRaw, "00 FF", 0).bytes, (B{0x00, 0xFF, 0, 0}));
    EXPECT_EQ(Parse(FormatRaw, "0x1f", 0).bytes[0], 0x1F);
    EXPECT_EQ(Parse(FormatRaw, ",, 7\r\n\n8 ;", 0).count, 2u) << "empty tokens are skipped";

    EXPECT_EQ(Parse(FormatRaw, "123", 0).refusal, kOutOfRange) << "a token is one byte, never cut to one";
    EXPECT_EQ(Parse(FormatRaw, "01 100", 0).refusal, kOutOfRange);
    EXPECT_EQ(Parse(FormatRaw, "01 zz 02", 0).refusal, kNotConvertible);
    EXPECT_EQ(Parse(FormatRaw, "01 2x", 0).refusal, kNotConvertible);
    EXPECT_EQ(Parse(FormatRaw, "", 0).refusal, kNotConvertible) << "no byte at all";
    EXPECT_EQ(Parse(FormatRaw, "  ;\n", 0).refusal, kNotConvertible);
    EXPECT_EQ(Parse(FormatRaw, "01 zz 02", 0).bytes, (B{0, 0, 0, 0}));

    std::string thousand;
    for (int i = 0; i < 1000; ++i)
        thousand += (i % 2 == 0 ? "AA " : "5 ");
    const Parsed p = Parse(FormatRaw, thousand, 0);
    EXPECT_EQ(p.count, 1000u);
    EXPECT_EQ(p.bytes[999], 0x05);
    const Parsed over = Parse(FormatRaw, thousand + "01", 0);
    EXPECT_EQ(over.count, 0u) << "more than 1000 bytes are refused, not cut";
    EXPECT_EQ(over.refusal, ValueRefusal::TooManyBytes);
}

TEST(ObjectValues, RangesAreDescribedInTheFormatsNotation)
{
    struct Case {
        DataFormat format;
        std::uint32_t count;
        const char* lowest;
        const char* highest;
    };
    const Case cases[] = {
        {FormatHex, 1, "0", "FF"},
        {FormatHex, 4, "0", "FFFFFFFF"},
        {FormatUnsigned, 2, "0", "65535"},
        {FormatSigned, 1, "-128", "127"},
        {FormatSigned, 3, "-8388608", "8388607"},
        {FormatSigned, 4, "-2147483648", "2147483647"},
        {FormatRaw, 0, "00", "FF"},
        {FormatFloat, 4, "-3.40282e+38", "3.40282e+38"},
    };
    for (const Case& c : cases) {
        char lowest[32], highest[32];
        DescribeValueRange(c.format, c.count, lowest, highest, sizeof lowest);
        EXPECT_STREQ(lowest, c.lowest);
        EXPECT_STREQ(highest, c.highest);
    }
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

    std::uint8_t buffer[kMaxObjectBytes] = {0x12, 0x34};
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
        {"1018", 1, 0x1018}, {"  0x1A00", 1, 0x1A00},       {"12345", 1, 0x12345}, {"1g", 1, 1}, {"", 0, 0},
        {"g1", 0, 0},        {"FFFFFFFFF1", 1, 0xFFFFFFF1},  // over-long: low 32 bits
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::uint32_t value = 0;
        EXPECT_EQ(ScanHex32(c.text, value), c.converted);
        if (c.converted != 0) {
            EXPECT_EQ(value, c.value);
        }
    }
}

TEST(ObjectValues, RoundTripThroughTextInEveryFormat)
{
    const std::uint32_t values[] = {0,      1,      0x7F,     0x80,       0xFF,       0x1234,
                                    0x8000, 0xFFFF, 0x123456, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF};
    for (DataFormat format : {FormatHex, FormatUnsigned, FormatSigned}) {
        for (std::uint32_t value : values) {
            SCOPED_TRACE(value);
            std::uint8_t bytes[kMaxObjectBytes] = {};
            bytes[0] = static_cast<std::uint8_t>(value);
            bytes[1] = static_cast<std::uint8_t>(value >> 8);
            bytes[2] = static_cast<std::uint8_t>(value >> 16);
            bytes[3] = static_cast<std::uint8_t>(value >> 24);
            char text[kObjectTextSize];
            FormatObjectValue(bytes, format, 4, text, sizeof text);
            std::uint8_t back[kMaxObjectBytes];
            ASSERT_EQ(ParseObjectValue(format, text, back, 4), 4u) << text;
            EXPECT_EQ(ExtractValue(format, 4, back), value) << text;
        }
    }
}

}  // namespace
