// The little-endian loads every layer uses for values of 1 to 8 bytes (EDS limits, the
// Object Dictionary's numbers, the object dialogs' values, SDO frames).
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "byte_order.h"

namespace {

TEST(ByteOrder, ValuesOfOneToEightBytesLoadLeastSignificantFirst)
{
    struct Case {
        std::vector<std::uint8_t> bytes;
        std::size_t length;
        std::uint64_t unsignedValue;
        std::int64_t signedValue;
    };
    const Case cases[] = {
        {{}, 0, 0, 0},
        {{0x7F}, 1, 0x7F, 127},
        {{0x80}, 1, 0x80, -128},
        {{0xFF}, 1, 0xFF, -1},
        {{0x34, 0x12}, 2, 0x1234, 0x1234},
        {{0x00, 0x80}, 2, 0x8000, -32768},
        {{0x00, 0x00, 0x80}, 3, 0x800000, -8388608},
        {{0xFF, 0xFF, 0x7F}, 3, 0x7FFFFF, 8388607},
        {{0x00, 0x00, 0x00, 0x80}, 4, 0x80000000, -2147483648LL},
        {{0x01, 0x02, 0x03, 0x04, 0x85}, 5, 0x8504030201, -0x7AFBFCFDFFLL},
        {{0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 6, 0xFFFFFFFFFFFE, -2},
        {{0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x87}, 7, 0x87060504030201, -0x78F9FAFBFCFDFFLL},
        {{0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80}, 8, 0x8000000000000000, INT64_MIN},
        {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F}, 8, 0x7FFFFFFFFFFFFFFF, INT64_MAX},
        // Only the first eight bytes fit the result; the ninth is never read as a ninth.
        {{0x01, 0, 0, 0, 0, 0, 0, 0x80, 0xAA}, 9, 0x8000000000000001, INT64_MIN + 1},
        // A length below the bytes there: the higher bytes are not part of the value.
        {{0xFF, 0x01}, 1, 0xFF, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "length " << c.length << " value 0x" << std::hex << c.unsignedValue);
        EXPECT_EQ(LoadLeUnsigned(c.bytes.data(), c.length), c.unsignedValue);
        EXPECT_EQ(LoadLeSigned(c.bytes.data(), c.length), c.signedValue);
        EXPECT_EQ(SignExtend(c.unsignedValue, c.length), c.signedValue);
    }
}

TEST(ByteOrder, SignExtensionLooksOnlyAtTheLowBytes)
{
    EXPECT_EQ(SignExtend(0xABCD80, 1), -128) << "bits above the width are ignored";
    EXPECT_EQ(SignExtend(0xFFFF007F, 1), 127);
    EXPECT_EQ(SignExtend(0xFFFFFFFFFFFFFFFF, 0), 0);
    EXPECT_EQ(SignExtend(0xFFFFFFFFFFFFFFFF, 12), -1) << "eight bytes or more: the whole value";
}

TEST(ByteOrder, FixedWidthLoadsMirrorTheStores)
{
    std::uint8_t bytes[4] = {};
    StoreLe32(bytes, 0x89ABCDEF);
    EXPECT_EQ(bytes[0], 0xEF);
    EXPECT_EQ(bytes[3], 0x89);
    EXPECT_EQ(LoadLe32(bytes), 0x89ABCDEFu);
    EXPECT_EQ(LoadLeUnsigned(bytes, 4), 0x89ABCDEFu);
    StoreLe16(bytes + 1, 0x8001);
    EXPECT_EQ(LoadLe16(bytes + 1), 0x8001u);
    EXPECT_EQ(LoadLeSigned(bytes + 1, 2), -32767);
}

}  // namespace
