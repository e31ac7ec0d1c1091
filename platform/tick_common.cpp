#include "manual_clock.h"
#include "tick.h"

ManualClock& TheManualClock()
{
    static ManualClock clock{};
    return clock;
}

void UseManualClock(std::uint32_t startTick) { TheManualClock() = {true, startTick}; }

void SetManualTick(std::uint32_t tick) { TheManualClock().tick = tick; }

void AdvanceManualTick(std::uint32_t ms) { TheManualClock().tick += ms; }

void UseSystemClock() { TheManualClock().on = false; }
