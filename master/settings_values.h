// The values of the settings file that the master services work with. The settings file
// itself (reading, writing, the language) belongs to the shell, which fills these in.
#pragma once

#include <cstdint>

struct AppSettings {
    std::int32_t PrinterPort;  // 4096: the USB adapter's driver library
    std::int32_t Baud;         // row of BitRateTable, 0 to 8 (kept as read otherwise)
    std::int32_t CurrAdr;      // the current slave, 1 to 127
    std::int32_t Logging;      // non-zero: write the bus trace
};

// The settings' values before the settings file is read.
constexpr AppSettings kDefaultSettings{4096, 0, 3, 0};

extern AppSettings appSettings;
