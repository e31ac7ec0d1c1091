// Runs the convention round trip in a process of its own and says how it went: exit code
// 0 and "round trip ok" when it held, 1 with the reason when it found a fault, 3 when the
// process crashed (a stack broken by a calling-convention mismatch usually does).
#include <windows.h>

#include <cstdio>
#include <string>

#include "convention_round_trip.h"

namespace {

LONG WINAPI EndOnCrash(EXCEPTION_POINTERS*)
{
    std::fputs("crashed\n", stdout);
    std::fflush(stdout);
    ExitProcess(3);
}

}  // namespace

int main()
{
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    SetUnhandledExceptionFilter(EndOnCrash);
    const std::string failure = ConventionRoundTrip(2000);
    if (!failure.empty()) {
        std::printf("%s\n", failure.c_str());
        return 1;
    }
    std::puts("round trip ok");
    return 0;
}
