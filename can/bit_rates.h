// The nine CANopen bit rates the adapter offers, once for the program and every driver
// library: the row number is the program's Baud setting and the serial adapters' S code;
// the bus timing word is what CAN_Init receives (the BTR0/BTR1 registers of the adapter's
// 16 MHz controller). Header only, no <windows.h>.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

struct BitRateRow {
    std::uint32_t kBaud;     // bit rate in kbit/s
    std::uint16_t btr0btr1;  // bus timing word for CAN_Init
    std::uint8_t slcanCode;  // n of the serial adapters' "Sn" command
};

// Indexed by the Baud setting, slowest first.
inline constexpr auto kBitRates = std::to_array<BitRateRow>({
    {10, 0x672F, 0},
    {20, 0x532F, 1},
    {50, 0x472F, 2},
    {100, 0x432F, 3},
    {125, 0x031C, 4},
    {250, 0x011C, 5},
    {500, 0x001C, 6},
    {800, 0x0016, 7},
    {1000, 0x0014, 8},
});
static_assert(kBitRates.size() == 9, "Baud 0 to 8, S0 to S8");

// The row of a bus timing word; nullptr for a word the adapter does not know.
constexpr const BitRateRow* FindBitRate(std::uint16_t btr0btr1)
{
    for (const BitRateRow& row : kBitRates) {
        if (row.btr0btr1 == btr0btr1)
            return &row;
    }
    return nullptr;
}

// The row of a bit rate in kbit/s; nullptr for one that is not a CANopen bit rate.
constexpr const BitRateRow* FindBitRateKbit(std::uint32_t kbit)
{
    for (const BitRateRow& row : kBitRates) {
        if (row.kBaud == kbit)
            return &row;
    }
    return nullptr;
}

// The lookups rely on both columns being unique; the serial code on being the row number.
constexpr bool BitRateColumnsHold()
{
    for (std::size_t i = 0; i < kBitRates.size(); ++i) {
        if (static_cast<std::size_t>(kBitRates[i].slcanCode) != i ||
            FindBitRate(kBitRates[i].btr0btr1) != &kBitRates[i] || FindBitRateKbit(kBitRates[i].kBaud) != &kBitRates[i])
            return false;
    }
    return true;
}
static_assert(BitRateColumnsHold());
