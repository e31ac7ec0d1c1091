#include "manual_clock.h"
#include "tick.h"

ManualClock& TheManualClock()
{
    static ManualClock clock{};
    return clock;
}

std::uint32_t ReadManualTick()
{
    ManualClock& clock = TheManualClock();
    const std::uint32_t now = clock.tick;
    clock.tick += clock.step;
    return now;
}

void UseManualClock(std::uint32_t startTick)
{
    TheManualClock() = {true, startTick, 0};
}

void SetManualTickStep(std::uint32_t ms)
{
    TheManualClock().step = ms;
}

void SetManualTick(std::uint32_t tick)
{
    TheManualClock().tick = tick;
}

void AdvanceManualTick(std::uint32_t ms)
{
    TheManualClock().tick += ms;
}

void UseSystemClock()
{
    TheManualClock().on = false;
}
