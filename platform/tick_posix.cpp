#include "manual_clock.h"
#include "tick.h"

#include <cerrno>
#include <ctime>

std::uint32_t TickMs()
{
    if (TheManualClock().on)
        return ReadManualTick();
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const std::uint64_t ms =
        static_cast<std::uint64_t>(now.tv_sec) * 1000u + static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<std::uint32_t>(ms);  // wraps at 2^32 ms
}

void SleepMs(std::uint32_t ms)
{
    if (TheManualClock().on) {
        TheManualClock().tick += ms;
        return;
    }
    timespec rest{static_cast<time_t>(ms / 1000u), static_cast<long>(ms % 1000u) * 1000000L};
    while (nanosleep(&rest, &rest) != 0 && errno == EINTR) {
    }
}
