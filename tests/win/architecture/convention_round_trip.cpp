#include "convention_round_trip.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "driver.h"
#include "simbus_control.h"

namespace {

// The address of a local of a function called from the caller's frame: it moves when
// the caller's stack pointer has moved, which a callee that pops arguments the caller
// also pops (or leaves arguments the caller does not pop) makes happen.
#if defined(_MSC_VER)
__declspec(noinline)
#else
[[gnu::noinline]]
#endif
    std::uintptr_t StackMark()
{
    volatile unsigned char here = 0;
    return reinterpret_cast<std::uintptr_t>(&here);
}

std::string Describe(const char* what, int round, const DriverMsg& got, const DriverMsg& want)
{
    char text[200];
    std::snprintf(text, sizeof text,
                  "%s in round %d: id %08X type %02X length %u, expected id %08X type %02X length %u", what, round,
                  static_cast<unsigned>(got.id), got.msgType, got.length, static_cast<unsigned>(want.id), want.msgType,
                  want.length);
    return text;
}

}  // namespace

std::string ConventionRoundTrip(int rounds)
{
    if (LoadDriver("pcan_usb.dll") == 0)
        return "pcan_usb.dll not loaded";
    HMODULE simulated = GetModuleHandleW(L"pcan_usb.dll");
    auto reset = reinterpret_cast<SimResetEntry>(reinterpret_cast<void*>(GetProcAddress(simulated, "SimReset")));
    auto readSent =
        reinterpret_cast<SimReadSentEntry>(reinterpret_cast<void*>(GetProcAddress(simulated, "SimReadSent")));
    if (reset == nullptr || readSent == nullptr) {
        UnloadDriver();
        return "the simulated bus's controls are missing";
    }
    reset();
    std::string failure;
    const std::uintptr_t markBefore = StackMark();
    if (CAN_Init(0x001C, 0) != 0)  // 500 kbit/s
        failure = "CAN_Init failed";
    DriverMsg received{};
    while (failure.empty() && CAN_Read(&received) == 0) {  // the slaves' boot-up messages
    }

    for (int round = 0; failure.empty() && round < rounds; ++round) {
        // Node 64 is not on the default network: nothing answers these frames.
        DriverMsg sent{};
        sent.id = 0x640u ^ static_cast<std::uint32_t>(round & 0x3F);
        sent.msgType = (round % 5 == 0) ? kMsgRemote : 0;
        sent.length = static_cast<std::uint8_t>(round % 9);
        for (int i = 0; i < 8; ++i)
            sent.data[i] = i < sent.length ? static_cast<std::uint8_t>(round * 7 + i) : 0;
        const DriverMsg original = sent;
        if (CAN_Write(&sent) != 0) {
            failure = Describe("CAN_Write refused the record", round, sent, original);
            break;
        }
        DriverMsg logged{};
        if (readSent(&logged) != 0) {
            failure = Describe("nothing reached the bus", round, logged, original);
            break;
        }
        if (std::memcmp(&logged, &original, 6 + original.length) != 0 ||
            std::memcmp(&sent, &original, sizeof sent) != 0) {
            failure = Describe("the bus saw another record", round, logged, original);
            break;
        }

        if (round % 8 == 0) {
            // The device type of node 3, 0x000F0191, through the slave's SDO server.
            DriverMsg request{};
            request.id = 0x603;
            request.length = 8;
            request.data[0] = 0x40;
            request.data[2] = 0x10;
            const DriverMsg expected{0x583, 0, 8, {0x43, 0x00, 0x10, 0x00, 0x91, 0x01, 0x0F, 0x00}, {0, 0}};
            DriverMsg answer{};
            if (CAN_Write(&request) != 0 || readSent(&answer) != 0 || CAN_Read(&answer) != 0 ||
                std::memcmp(&answer, &expected, 14) != 0) {
                failure = Describe("node 3 did not answer as expected", round, answer, expected);
                break;
            }
        }
    }
    const std::uintptr_t markAfter = StackMark();
    UnloadDriver();
    if (failure.empty() && markAfter != markBefore) {
        char text[120];
        std::snprintf(text, sizeof text, "the stack pointer moved by %lld bytes over %d rounds",
                      static_cast<long long>(markAfter) - static_cast<long long>(markBefore), rounds);
        failure = text;
    }
    return failure;
}
