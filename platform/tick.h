// Millisecond tick, sleep and the settable clock that tests use.
//
// The tick counts milliseconds with 1 ms resolution and wraps at 2^32; elapsed time is
// always the unsigned 32-bit difference of two ticks, and a time-out has happened only
// when that difference is greater than the limit.
#pragma once

#include <cstdint>

// Current millisecond tick: the system's monotonic clock, or the manual clock while a
// test has switched it on.
std::uint32_t TickMs();

// Sleeps for the given number of milliseconds. With the manual clock on, it does not
// sleep but advances the manual tick by that amount, so waits in the code under test
// take no real time and stay exact.
void SleepMs(std::uint32_t ms);

// Manual clock for tests: TickMs returns the value set here until UseSystemClock.
void UseManualClock(std::uint32_t startTick);
void SetManualTick(std::uint32_t tick);
void AdvanceManualTick(std::uint32_t ms);
// Every reading of the manual tick moves it on by `ms` afterwards (0, the default set by
// UseManualClock: it stands still). A service that polls until a time-out then ends
// after a bounded number of readings: its time-out costs CPU time, not real time.
void SetManualTickStep(std::uint32_t ms);
void UseSystemClock();
