// Numbers and values as EDS files write them, and where a value lies against an entry's
// limits.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "eds_reader.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(EdsValues, EncodeByDataType)
{
    struct Case {
        const char* text;
        std::uint16_t dataType;
        bool ok;
        Bytes bytes;
    };
    const Case cases[] = {
        {"$NODEID+0x180", eds::kTypeUnsigned32, true, {0x85, 0x01, 0, 0}},
        {"0x180 + $nodeid", eds::kTypeUnsigned32, true, {0x85, 0x01, 0, 0}},
        {"$NODEID+0x80000380", eds::kTypeUnsigned32, true, {0x85, 0x03, 0, 0x80}},
        {"$NODEID", eds::kTypeUnsigned8, true, {0x05}},
        {"010", eds::kTypeUnsigned8, true, {0x08}},  // octal, as CiA 306 reads it
        {"08", eds::kTypeUnsigned8, false, {}},
        {"255", eds::kTypeUnsigned8, true, {0xFF}},
        {"256", eds::kTypeUnsigned8, false, {}},
        {"-1", eds::kTypeUnsigned8, false, {}},
        {"-1", eds::kTypeInteger16, true, {0xFF, 0xFF}},
        {"-32768", eds::kTypeInteger16, true, {0x00, 0x80}},
        {"-32769", eds::kTypeInteger16, false, {}},
        {"0xFFFF", eds::kTypeInteger16, true, {0xFF, 0xFF}},
        {"0x123456789", eds::kTypeUnsigned64, true, {0x89, 0x67, 0x45, 0x23, 0x01, 0, 0, 0}},
        {"", eds::kTypeUnsigned16, true, {0, 0}},
        {"2", eds::kTypeBoolean, false, {}},
        {"1.5", eds::kTypeReal32, true, {0x00, 0x00, 0xC0, 0x3F}},
        {"1.5x", eds::kTypeReal32, false, {}},
        {"12abc", eds::kTypeUnsigned32, false, {}},
        {"Hi; there", eds::kTypeVisibleString, true, {'H', 'i', ';', ' ', 't', 'h', 'e', 'r', 'e'}},
        {"0A 0b FF", eds::kTypeOctetString, true, {0x0A, 0x0B, 0xFF}},
        {"0A0", eds::kTypeOctetString, false, {}},
        {"1", 0x0030, false, {}},  // not a data type the reader knows
        // The odd widths.
        {"-8388608", eds::kTypeInteger24, true, {0x00, 0x00, 0x80}},
        {"8388608", eds::kTypeInteger24, true, {0x00, 0x00, 0x80}},  // the same bits, written unsigned
        {"16777216", eds::kTypeUnsigned24, false, {}},
        {"0xFFFFFFFFFF", 0x0018, true, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},  // UNSIGNED40
        {"0x10000000000", 0x0018, false, {}},
        {"-1", 0x0014, true, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},  // INTEGER56
        {"-9223372036854775808", eds::kTypeInteger64, true, {0, 0, 0, 0, 0, 0, 0, 0x80}},
        {"-9223372036854775809", eds::kTypeInteger64, false, {}},
        {"18446744073709551615", eds::kTypeUnsigned64, true, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
        {"18446744073709551616", eds::kTypeUnsigned64, false, {}},
        // Reals: decimal fractions, or the raw bits in hex; never a silent infinity.
        {"-2.5", eds::kTypeReal64, true, {0, 0, 0, 0, 0, 0, 0x04, 0xC0}},
        {"0x3FC00000", eds::kTypeReal32, true, {0x00, 0x00, 0xC0, 0x3F}},
        {"1e39", eds::kTypeReal32, false, {}},
        {"1e999", eds::kTypeReal64, false, {}},
        {"3.4e38", eds::kTypeReal32, true, {0x9E, 0xC9, 0x7F, 0x7F}},
    };
    for (const Case& c : cases) {
        Bytes bytes;
        EXPECT_EQ(eds::EncodeValue(c.text, c.dataType, 5, bytes), c.ok) << c.text;
        if (c.ok)
            EXPECT_EQ(bytes, c.bytes) << c.text;
    }
}

TEST(EdsValues, NumbersWithNodeIdAndBases)
{
    struct Case {
        const char* text;
        bool ok;
        bool negative;
        std::uint64_t magnitude;
    };
    const Case cases[] = {
        {"0x1F", true, false, 31},
        {"0X1f", true, false, 31},
        {"017", true, false, 15},
        {"0", true, false, 0},
        {"00", true, false, 0},
        {" 42 ", true, false, 42},
        {"-0x10", true, true, 16},
        {"$NODEID", true, false, 0x22},
        {"$NodeId + 0x600", true, false, 0x622},
        {"1+2+3", true, false, 6},
        {"0x", false, false, 0},
        {"", false, false, 0},
        {"+5", false, false, 0},
        {"5+", false, false, 0},
        {"0x1G", false, false, 0},
        {"09", false, false, 0},
        {"1.0", false, false, 0},
        {"--1", false, false, 0},
        {"-$NODEID", false, false, 0},
        {"0xFFFFFFFFFFFFFFFF+1", false, false, 0},
        {"99999999999999999999999999999999", false, false, 0},
    };
    for (const Case& c : cases) {
        bool negative = false;
        std::uint64_t magnitude = 0;
        EXPECT_EQ(eds::ParseNumber(c.text, 0x22, negative, magnitude), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(negative, c.negative) << c.text;
            EXPECT_EQ(magnitude, c.magnitude) << c.text;
        }
    }
}

eds::Entry WithLimits(std::uint16_t dataType, const char* low, const char* high)
{
    eds::Entry entry;
    entry.dataType = dataType;
    if (low != nullptr)
        EXPECT_TRUE(eds::EncodeValue(low, dataType, 0, entry.lowLimit)) << low;
    if (high != nullptr)
        EXPECT_TRUE(eds::EncodeValue(high, dataType, 0, entry.highLimit)) << high;
    return entry;
}

TEST(EdsValues, CompareWithLimitsByType)
{
    struct Case {
        std::uint16_t dataType;
        const char* low;   // nullptr: no LowLimit
        const char* high;  // nullptr: no HighLimit
        const char* value;
        int expected;
    };
    const Case cases[] = {
        {eds::kTypeInteger16, "-100", "100", "-100", 0},
        {eds::kTypeInteger16, "-100", "100", "-101", -1},
        {eds::kTypeInteger16, "-100", "100", "101", 1},
        {eds::kTypeInteger16, "-100", nullptr, "32767", 0},
        {eds::kTypeInteger16, nullptr, "100", "-32768", 0},
        {eds::kTypeInteger8, "-1", "1", "0x80", -1},    // -128 in two's complement
        {eds::kTypeUnsigned8, "10", "200", "0xFF", 1},  // the same byte, unsigned
        {eds::kTypeUnsigned32, "0x100", "0x80000000", "0x80000001", 1},
        {eds::kTypeUnsigned32, "0x100", "0x80000000", "0xFF", -1},
        {eds::kTypeInteger24, "-1000", "1000", "-1001", -1},
        {eds::kTypeInteger24, "-1000", "1000", "0x7FFFFF", 1},
        {eds::kTypeUnsigned24, "0", "0x800000", "0x800001", 1},
        {0x0012, "-1", "1", "-2", -1},                         // INTEGER40
        {0x0019, nullptr, "0xFFFFFFFFFE", "0xFFFFFFFFFF", 1},  // UNSIGNED48
        {0x0014, "-1", "0", "0x80000000000000", -1},           // INTEGER56: the lowest value
        {eds::kTypeInteger64, "-1", "1", "-9223372036854775808", -1},
        {eds::kTypeUnsigned64, "1", "0xFFFFFFFFFFFFFFFE", "0xFFFFFFFFFFFFFFFF", 1},
        {eds::kTypeReal32, "-1.5", "2.5", "2.5", 0},
        {eds::kTypeReal32, "-1.5", "2.5", "2.51", 1},
        {eds::kTypeReal32, "-1.5", "2.5", "-1.6", -1},
        {eds::kTypeReal64, "0", "1e300", "1e301", 1},
        {eds::kTypeUnsigned16, nullptr, nullptr, "65535", 0},
    };
    for (const Case& c : cases) {
        const eds::Entry entry = WithLimits(c.dataType, c.low, c.high);
        Bytes value;
        ASSERT_TRUE(eds::EncodeValue(c.value, c.dataType, 0, value)) << c.value;
        EXPECT_EQ(eds::CompareWithLimits(entry, value.data(), value.size()), c.expected)
            << "type " << c.dataType << " value " << c.value;
    }

    // Strings and domains have no order; a NaN lies within no limits; a short value has
    // its missing bytes 0.
    eds::Entry text = WithLimits(eds::kTypeVisibleString, nullptr, nullptr);
    text.lowLimit = {'b'};
    const std::uint8_t a = 'a';
    EXPECT_EQ(eds::CompareWithLimits(text, &a, 1), 0);
    const eds::Entry real = WithLimits(eds::kTypeReal32, "0", "1");
    const float nan = std::numeric_limits<float>::quiet_NaN();
    std::uint8_t nanBytes[4];
    std::memcpy(nanBytes, &nan, 4);
    EXPECT_NE(eds::CompareWithLimits(real, nanBytes, 4), 0);
    const eds::Entry word = WithLimits(eds::kTypeUnsigned16, "0x0100", nullptr);
    const std::uint8_t low = 0xFF;
    EXPECT_EQ(eds::CompareWithLimits(word, &low, 1), -1);
    EXPECT_EQ(eds::CompareWithLimits(word, nullptr, 0), -1);
}

}  // namespace
