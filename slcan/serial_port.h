// The few operating-system services the serial driver needs: a serial port with reads
// that never wait and writes that wait only briefly (Win32 COM ports; termios elsewhere).
#pragma once

#include <cstddef>
#include <cstdint>

namespace slcan {

// An open port: a Win32 HANDLE or a POSIX descriptor; kNoPort when none.
using PortHandle = std::uintptr_t;
constexpr PortHandle kNoPort = ~static_cast<PortHandle>(0);

enum class PortResult : std::uint8_t {
    Done,    // the count says how many bytes moved (maybe none)
    Failed,  // the port is gone (adapter unplugged, device closed its side)
};

// Opens the named port at `baud`, 8 data bits, no parity, one stop bit, no flow control,
// raw bytes. On Windows a bare "COM5" is opened as \\.\COM5 (needed from COM10 on).
// kNoPort when it cannot be opened or set up.
PortHandle OpenSerialPort(const char* name, std::uint32_t baud);
void CloseSerialPort(PortHandle port);

// Writes what the port takes within a short while; `written` may be less than `count`.
PortResult WriteSome(PortHandle port, const char* bytes, std::size_t count, std::size_t& written);
// Reads what has arrived, without waiting; `received` 0 when nothing has.
PortResult ReadSome(PortHandle port, char* bytes, std::size_t capacity, std::size_t& received);

// Waits until bytes may have arrived, or at most `timeoutMs`. Only for the answers
// CAN_Init waits for.
void WaitForInput(PortHandle port, std::uint32_t timeoutMs);

}  // namespace slcan
