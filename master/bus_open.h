// Opening the bus: driver library, adapter at the chosen bit rate, engine cleared, settle time.
#pragma once

#include <array>
#include <cstdint>

#include "bit_rates.h"
#include "operator_side.h"

// Indexed by the Baud setting.
inline constexpr const auto& BitRateTable = kBitRates;

// The only adapter connection offered: the USB adapter behind "pcan_usb.dll".
constexpr std::int32_t kPortUsb = 4096;

// The pause OpenBus makes after the adapter is open, pumping the bus all along, so that the
// slaves' first frames (boot-ups) are taken before any service speaks. StartMaster sets the
// program's 500 ms; UseBusSettle changes it for one front end (the console program skips
// it unless asked for one). Pumped in steps of 10 ms; a rest below 10 ms is slept at the end.
constexpr std::uint32_t kDefaultBusSettleMs = 500;
extern std::uint32_t busSettleMs;
void UseBusSettle(std::uint32_t ms);

// Opens the bus for `baudIndex` (the Baud setting) through the driver library StartMaster
// was given. 1 when open; 0 after showing why not. A port other than the USB adapter and
// an index outside the table are refused with message 1001 before any driver call.
int OpenBus(OwnerHandle owner, std::int32_t baudIndex);

// Closes the adapter and releases the driver library (after an object transfer made
// while communication was stopped, and at the end of a slave search).
int CloseBus();
