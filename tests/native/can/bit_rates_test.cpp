// The one bit-rate table of the program and the driver libraries, and its lookups.
#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>

#include "bit_rates.h"

namespace {

TEST(BitRates, EveryWordRateAndCodeFindsItsOwnRowAndNothingElseIsFound)
{
    // The adapter's timing words for its 16 MHz controller, in the order of the Baud
    // setting and of the serial adapters' S codes.
    struct Expected {
        std::uint32_t kbit;
        std::uint16_t word;
    };
    const Expected expected[] = {
        {10, 0x672F},  {20, 0x532F},  {50, 0x472F},  {100, 0x432F},  {125, 0x031C},
        {250, 0x011C}, {500, 0x001C}, {800, 0x0016}, {1000, 0x0014},
    };
    ASSERT_EQ(kBitRates.size(), sizeof expected / sizeof expected[0]);
    for (std::size_t i = 0; i < kBitRates.size(); ++i) {
        SCOPED_TRACE(expected[i].kbit);
        EXPECT_EQ(kBitRates[i].kBaud, expected[i].kbit);
        EXPECT_EQ(kBitRates[i].btr0btr1, expected[i].word);
        EXPECT_EQ(static_cast<std::size_t>(kBitRates[i].slcanCode), i);
        EXPECT_EQ(FindBitRate(expected[i].word), &kBitRates[i]);
        EXPECT_EQ(FindBitRateKbit(expected[i].kbit), &kBitRates[i]);
    }
    for (const std::uint16_t word :
         std::initializer_list<std::uint16_t>{0x0000, 0x0015, 0x011D, 0x4314, 0x672E, 0xFFFF})
        EXPECT_EQ(FindBitRate(word), nullptr) << std::hex << word;
    for (const std::uint32_t kbit : {0u, 1u, 83u, 1001u, 125000u, 0xFFFFFFFFu})
        EXPECT_EQ(FindBitRateKbit(kbit), nullptr) << kbit;
}

}  // namespace
