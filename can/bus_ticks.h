// The two ticks of the CAN interface, defined in bus_ticks.cpp with their reset.
#pragma once

#include <cstdint>

// Tick of the most recent send attempt; set to the current tick at start-up, written
// afterwards only by SendFrame. The exchange cycle paces itself on it.
extern std::uint32_t lastSendTick;

// Tick of the frame traced last; 0 at program start.
extern std::uint32_t previousTraceTick;

// Both ticks back to 0, their value at program start.
void ResetBusTicks();
