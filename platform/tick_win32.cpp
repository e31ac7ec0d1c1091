#include "manual_clock.h"
#include "tick.h"

#include <windows.h>

// GetTickCount moves in 15-16 ms steps, which would stretch every short time-out; the
// performance counter gives the 1 ms resolution the protocol time-outs need.
std::uint32_t TickMs()
{
    if (TheManualClock().on)
        return ReadManualTick();
    static LARGE_INTEGER frequency{};
    if (frequency.QuadPart == 0)
        QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER count{};
    QueryPerformanceCounter(&count);
    // Split the division so that count * 1000 cannot overflow.
    const std::uint64_t f = static_cast<std::uint64_t>(frequency.QuadPart);
    const std::uint64_t c = static_cast<std::uint64_t>(count.QuadPart);
    const std::uint64_t ms = (c / f) * 1000u + (c % f) * 1000u / f;
    return static_cast<std::uint32_t>(ms);  // wraps at 2^32 ms
}

void SleepMs(std::uint32_t ms)
{
    if (TheManualClock().on) {
        TheManualClock().tick += ms;
        return;
    }
    Sleep(ms);
}
