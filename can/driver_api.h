// The driver library's message record and calling convention, shared by the binding and
// by every library that stands in for the vendor's (the simulated bus, the network
// driver). Portable: no <windows.h>.
#pragma once

#include <cstddef>
#include <cstdint>

// Driver entry points use the Windows API calling convention (it matters for the 32-bit
// libraries of old adapters).
#if defined(DRIVER_CALL)
// Already chosen by the includer (a test builds the binding with the wrong convention).
#elif defined(_WIN32)
#define DRIVER_CALL __stdcall
#else
#define DRIVER_CALL
#endif

// The library's own 16-byte message record, at fixed offsets.
struct DriverMsg {
    std::uint32_t id;          // offset 0: CAN identifier (the COB-ID), little-endian
    std::uint8_t msgType;      // offset 4: message type bits, see kMsg*
    std::uint8_t length;       // offset 5: data bytes, 0 to 8
    std::uint8_t data[8];      // offset 6: only the first `length` are meaningful
    std::uint8_t reserved[2];  // offset 14: zero in every record the program builds
};
static_assert(sizeof(DriverMsg) == 16);
static_assert(offsetof(DriverMsg, id) == 0);
static_assert(offsetof(DriverMsg, msgType) == 4);
static_assert(offsetof(DriverMsg, length) == 5);
static_assert(offsetof(DriverMsg, data) == 6);

// msgType bits.
constexpr std::uint8_t kMsgRemote = 0x01;    // remote (RTR) frame
constexpr std::uint8_t kMsgExtended = 0x02;  // 29-bit identifier
constexpr std::uint8_t kMsgStatus = 0x80;    // status message from the driver, not a frame

// Result bits of the driver operations that the program relies on.
constexpr std::uint32_t kDriverOk = 0;
constexpr std::uint32_t kDriverTransmitFull = 0x80;  // CAN_Write: transmit queue full, retry
constexpr std::uint32_t DriverNotLoaded = 512;       // every guarded call while none is loaded

// Entry point types, in the order of the name table.
using CanInitEntry = std::uint32_t(DRIVER_CALL*)(std::uint16_t btr0btr1, int frameType);
using CanCloseEntry = std::uint32_t(DRIVER_CALL*)();
using CanStatusEntry = std::uint32_t(DRIVER_CALL*)();
using CanWriteEntry = std::uint32_t(DRIVER_CALL*)(DriverMsg* msg);
using CanReadEntry = std::uint32_t(DRIVER_CALL*)(DriverMsg* msg);
using CanVersionInfoEntry = std::uint32_t(DRIVER_CALL*)(char* text);
using CanSpecialFunktionEntry = std::uint32_t(DRIVER_CALL*)(unsigned long function, int param);
using CanResetClientEntry = std::uint32_t(DRIVER_CALL*)();
