// Figures of the serial pcan_usb.dll under Wine, through Wine's COM port and the test
// device's pseudo-terminal (run by scripts/bench inside scripts/slcan-device): the round
// trip of an SDO upload request for 0x1000 of node 3 (CAN_Write, then CAN_Read until the
// response is in) and an empty CAN_Read. Prints figures; never pass or fail.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "driver.h"

namespace {

double Microseconds(LARGE_INTEGER from, LARGE_INTEGER to, LARGE_INTEGER frequency)
{
    return 1e6 * static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

}  // namespace

int main(int argc, char** argv)
{
    int runs = 2000;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--runs=", 7) == 0)
            runs = std::max(1, std::atoi(argv[i] + 7));
    }
    if (LoadDriver("pcan_usb.dll") != 1 || CAN_Init(0x011C, 0) != kDriverOk) {
        std::printf("serial library not loaded, or COM5 not answering\n");
        return 1;
    }
    LARGE_INTEGER frequency, start, stop;
    QueryPerformanceFrequency(&frequency);
    DriverMsg msg;
    Sleep(100);
    while (CAN_Read(&msg) == kDriverOk) {
    }

    DriverMsg request;
    std::memset(&request, 0, sizeof request);
    request.id = 0x603;
    request.length = 8;
    request.data[0] = 0x40;
    request.data[2] = 0x10;
    std::vector<double> trips;
    for (int i = 0; i < runs; ++i) {
        QueryPerformanceCounter(&start);
        if (CAN_Write(&request) != kDriverOk) {
            std::printf("CAN_Write failed\n");
            return 1;
        }
        const DWORD limit = GetTickCount() + 1000;
        for (;;) {
            if (CAN_Read(&msg) == kDriverOk && msg.id == 0x583)
                break;
            if (static_cast<LONG>(GetTickCount() - limit) > 0) {
                std::printf("the device stopped answering\n");
                return 1;
            }
        }
        QueryPerformanceCounter(&stop);
        trips.push_back(Microseconds(start, stop, frequency));
    }
    std::sort(trips.begin(), trips.end());
    std::printf("round trip (SDO upload request out, response in), %d runs: median %.0f us, "
                "10th percentile %.0f us, 90th percentile %.0f us\n",
                runs, trips[trips.size() / 2], trips[trips.size() / 10], trips[trips.size() * 9 / 10]);

    const int reads = 20000;
    QueryPerformanceCounter(&start);
    int empty = 0;
    for (int i = 0; i < reads; ++i)
        empty += CAN_Read(&msg) != kDriverOk ? 1 : 0;
    QueryPerformanceCounter(&stop);
    std::printf("empty CAN_Read: %.2f us each (%d of %d empty)\n", Microseconds(start, stop, frequency) / reads, empty,
                reads);
    CAN_Close();
    UnloadDriver();
    return 0;
}
