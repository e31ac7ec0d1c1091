// The settings file "tovral.ini" beside the program, and the resource language it selects.
#pragma once

#include <windows.h>

#include <cstdint>

struct AppSettings {
    std::int32_t PrinterPort;  // 4096: the USB adapter's driver library
    std::int32_t Baud;         // row of BitRateTable, 0 to 8 (kept as read otherwise)
    std::int32_t CurrAdr;      // the current slave, 1 to 127
    std::int32_t Logging;      // non-zero: write the bus trace
};

inline AppSettings appSettings{4096, 0, 3, 0};

// Full path of the settings file; set at start-up.
const wchar_t* SettingsPath();
void SetSettingsPath(const wchar_t* path);

// Reads section "Language" and selects the resource language for the whole run.
void SelectLanguage();

// The language every resource is loaded in (0x0409 English unless German is selected).
LANGID ResourceLanguage();

// Fills appSettings from section "Tovral"; a CurrAdr outside 1 to 127 becomes 3.
int ReadSettings();

// Writes PrinterPort, Baud and CurrAdr to section "Tovral".
int WriteSettings();
