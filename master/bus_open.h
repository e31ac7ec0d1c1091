// Opening the bus: driver library, adapter at the chosen bit rate, engine cleared, warm-up.
#pragma once

#include <array>
#include <cstdint>

#include "operator_side.h"

struct BitRateRow {
    std::uint32_t kBaud;     // bit rate in kbit/s
    std::uint16_t btr0btr1;  // bus timing word for CAN_Init
};

// Indexed by the Baud setting.
constexpr std::array<BitRateRow, 9> BitRateTable = {{
    {10, 0x672F},
    {20, 0x532F},
    {50, 0x472F},
    {100, 0x432F},
    {125, 0x031C},
    {250, 0x011C},
    {500, 0x001C},
    {800, 0x0016},
    {1000, 0x0014},
}};

// The only adapter connection offered: the USB adapter behind "pcan_usb.dll".
constexpr std::int32_t kPortUsb = 4096;

// Opens the bus for `baudIndex` (the Baud setting) through the driver library StartMaster
// was given. 1 when open; 0 after showing why not. A port other than the USB adapter and
// an index outside the table are refused with message 1001 before any driver call.
int OpenBus(OwnerHandle owner, std::int32_t baudIndex);

// Closes the adapter and releases the driver library (after an object transfer made
// while communication was stopped, and at the end of a slave search).
int CloseBus();
