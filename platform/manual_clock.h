// The manual clock's state, shared by the system-specific tick sources of this folder.
#pragma once

#include <cstdint>

struct ManualClock {
    bool on;             // TickMs returns `tick` instead of the system clock
    std::uint32_t tick;  // set by UseManualClock / SetManualTick, advanced by SleepMs
};

ManualClock& TheManualClock();
