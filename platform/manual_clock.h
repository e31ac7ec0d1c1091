// The manual clock's state, shared by the system-specific tick sources of this folder.
#pragma once

#include <cstdint>

struct ManualClock {
    bool on;             // TickMs returns `tick` instead of the system clock
    std::uint32_t tick;  // set by UseManualClock / SetManualTick, advanced by SleepMs
    std::uint32_t step;  // added to `tick` after every reading (SetManualTickStep)
};

// The manual tick as TickMs returns it, moved on by the step afterwards.
std::uint32_t ReadManualTick();

ManualClock& TheManualClock();
