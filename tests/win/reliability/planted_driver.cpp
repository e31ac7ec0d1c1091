// A library named pcan_usb.dll, planted in the program's current directory to see whether
// the program loads it. Loading it leaves a marker file beside it ("pcan_usb.dll.loaded");
// its operations refuse everything, so a program that took it could not open the bus.
#include <windows.h>

#include <cstdint>
#include <cwchar>

#include "driver_api.h"

#define PLANTED_EXPORT extern "C" __declspec(dllexport)

namespace {

constexpr std::uint32_t kRefused = 0x4000;

}  // namespace

PLANTED_EXPORT std::uint32_t DRIVER_CALL CAN_Init(std::uint16_t, int)
{
    return kRefused;
}
PLANTED_EXPORT std::uint32_t DRIVER_CALL CAN_Close()
{
    return kRefused;
}
PLANTED_EXPORT std::uint32_t DRIVER_CALL CAN_Status()
{
    return kRefused;
}
PLANTED_EXPORT std::uint32_t DRIVER_CALL CAN_Write(DriverMsg*)
{
    return kRefused;
}
PLANTED_EXPORT std::uint32_t DRIVER_CALL CAN_Read(DriverMsg*)
{
    return kRefused;
}
PLANTED_EXPORT std::uint32_t DRIVER_CALL CAN_VersionInfo(char*)
{
    return kRefused;
}
PLANTED_EXPORT std::uint32_t DRIVER_CALL CAN_SpecialFunktion(unsigned long, int)
{
    return kRefused;
}
PLANTED_EXPORT std::uint32_t DRIVER_CALL CAN_ResetClient()
{
    return kRefused;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    wchar_t marker[MAX_PATH + 16];
    const DWORD length = GetModuleFileNameW(instance, marker, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return TRUE;
    std::wcscat(marker, L".loaded");
    HANDLE file = CreateFileW(marker, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    return TRUE;
}
