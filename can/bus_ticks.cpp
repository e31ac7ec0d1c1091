#include "bus_ticks.h"

std::uint32_t lastSendTick = 0;
std::uint32_t previousTraceTick = 0;

void ResetBusTicks()
{
    lastSendTick = 0;
    previousTraceTick = 0;
}
