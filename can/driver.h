// The binding to the CAN driver library, loaded at run time.
//
// Every other part of the program calls the driver only through the guarded calls
// below: while no library is loaded they do nothing and return DriverNotLoaded (512).
#pragma once

#include <array>
#include <cstdint>

#include "driver_api.h"

// The names a library must export, in the order they are resolved. Only the first five
// are called; a library lacking any of the eight is refused.
constexpr std::array<const char*, 8> DriverNameTable = {
    "CAN_Init", "CAN_Close",       "CAN_Status",          "CAN_Write",
    "CAN_Read", "CAN_VersionInfo", "CAN_SpecialFunktion", "CAN_ResetClient",
};

// Resolved entry points, one per name of DriverNameTable in its order. Meaningful only
// while a library is loaded and the last LoadDriver resolved every name.
struct DriverOps {
    std::array<void*, DriverNameTable.size()> entry;
};

// Closes and releases a loaded library, then loads `fileName` and resolves all eight
// names. Returns 1 when loaded and fully resolved; 0 otherwise, with nothing loaded.
[[nodiscard]] int LoadDriver(const char* fileName);

// Calls CAN_Close of a loaded library and releases it. Always 1; safe at any time.
int UnloadDriver();

// Guarded calls: DriverNotLoaded while nothing is loaded, else the entry point's result.
std::uint32_t CAN_Init(std::uint16_t btr0btr1, int frameType);
std::uint32_t CAN_Close();
std::uint32_t CAN_Status();
std::uint32_t CAN_Write(DriverMsg* msg);
std::uint32_t CAN_Read(DriverMsg* msg);

// 1 while a library is loaded.
int DriverLoaded();
