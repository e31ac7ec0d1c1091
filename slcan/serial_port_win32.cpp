#include "serial_port.h"

#include <windows.h>

#include <cstring>
#include <cwchar>

namespace slcan {

namespace {

HANDLE AsHandle(PortHandle port)
{
    return reinterpret_cast<HANDLE>(port);
}

// How long one WriteFile may take before it returns what went out.
constexpr DWORD kWriteTimeoutMs = 100;

}  // namespace

PortHandle OpenSerialPort(const char* name, std::uint32_t baud)
{
    if (name == nullptr)
        return kNoPort;
    wchar_t wide[300];
    if (MultiByteToWideChar(CP_UTF8, 0, name, -1, wide, 300) == 0)
        return kNoPort;
    wchar_t path[310];
    // "COM5" and the like through the device namespace, which COM10 and above need.
    const bool bare = std::wcsncmp(wide, L"\\\\", 2) != 0 && std::wcschr(wide, L'\\') == nullptr &&
                      std::wcschr(wide, L'/') == nullptr;
    std::swprintf(path, 310, bare ? L"\\\\.\\%ls" : L"%ls", wide);
    HANDLE handle = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return kNoPort;
    DCB dcb;
    std::memset(&dcb, 0, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    bool ok = GetCommState(handle, &dcb) != 0;
    if (ok) {
        dcb.BaudRate = baud;
        dcb.ByteSize = 8;
        dcb.Parity = NOPARITY;
        dcb.StopBits = ONESTOPBIT;
        dcb.fBinary = TRUE;
        dcb.fParity = FALSE;
        dcb.fOutxCtsFlow = FALSE;
        dcb.fOutxDsrFlow = FALSE;
        dcb.fDtrControl = DTR_CONTROL_ENABLE;
        dcb.fRtsControl = RTS_CONTROL_ENABLE;
        dcb.fDsrSensitivity = FALSE;
        dcb.fOutX = FALSE;
        dcb.fInX = FALSE;
        dcb.fNull = FALSE;
        dcb.fAbortOnError = FALSE;
        ok = SetCommState(handle, &dcb) != 0;
    }
    if (ok) {
        // Reads return at once with what has arrived; writes give up after a while.
        COMMTIMEOUTS timeouts;
        timeouts.ReadIntervalTimeout = MAXDWORD;
        timeouts.ReadTotalTimeoutMultiplier = 0;
        timeouts.ReadTotalTimeoutConstant = 0;
        timeouts.WriteTotalTimeoutMultiplier = 0;
        timeouts.WriteTotalTimeoutConstant = kWriteTimeoutMs;
        ok = SetCommTimeouts(handle, &timeouts) != 0;
    }
    if (!ok) {
        CloseHandle(handle);
        return kNoPort;
    }
    PurgeComm(handle, PURGE_RXCLEAR | PURGE_TXCLEAR);
    return reinterpret_cast<PortHandle>(handle);
}

void CloseSerialPort(PortHandle port)
{
    if (port != kNoPort)
        CloseHandle(AsHandle(port));
}

PortResult WriteSome(PortHandle port, const char* bytes, std::size_t count, std::size_t& written)
{
    written = 0;
    if (port == kNoPort)
        return PortResult::Failed;
    DWORD n = 0;
    if (!WriteFile(AsHandle(port), bytes, static_cast<DWORD>(count), &n, nullptr))
        return PortResult::Failed;
    written = n;
    return PortResult::Done;
}

PortResult ReadSome(PortHandle port, char* bytes, std::size_t capacity, std::size_t& received)
{
    received = 0;
    if (port == kNoPort)
        return PortResult::Failed;
    DWORD n = 0;
    if (!ReadFile(AsHandle(port), bytes, static_cast<DWORD>(capacity), &n, nullptr))
        return PortResult::Failed;
    received = n;
    return PortResult::Done;
}

void WaitForInput(PortHandle port, std::uint32_t timeoutMs)
{
    (void)port;
    // A non-overlapped port offers no wait with a time-out that Wine and Windows both
    // keep; CAN_Init's few answers are worth a millisecond's sleep between reads.
    Sleep(timeoutMs < 1 ? timeoutMs : 1);
}

}  // namespace slcan
