#include "process_usage.h"

#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstring>

namespace {

// Handle values are 16-bit indices (with a generation above); a value without its
// generation still names the object on Wine.
constexpr unsigned kHandleValues = 0x10000;

unsigned long CountGdiObjects()
{
    unsigned long count = 0;
    for (unsigned value = 0; value < kHandleValues; ++value)
        if (GetObjectType(reinterpret_cast<HGDIOBJ>(static_cast<ULONG_PTR>(value))) != 0)
            ++count;
    return count;
}

BOOL CALLBACK CountChild(HWND, LPARAM count)
{
    ++*reinterpret_cast<unsigned long*>(count);
    return TRUE;
}

BOOL CALLBACK CountWindowAndChildren(HWND window, LPARAM count)
{
    ++*reinterpret_cast<unsigned long*>(count);
    EnumChildWindows(window, CountChild, count);
    return TRUE;
}

unsigned long CountUserObjects()
{
    unsigned long count = 0;
    EnumThreadWindows(GetCurrentThreadId(), CountWindowAndChildren, reinterpret_cast<LPARAM>(&count));
    for (unsigned value = 0; value < kHandleValues; ++value) {
        const HANDLE handle = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(value));
        if (IsMenu(static_cast<HMENU>(handle))) {
            ++count;
        } else if (CopyAcceleratorTableW(static_cast<HACCEL>(handle), nullptr, 0) > 0) {
            ++count;
        } else {
            ICONINFO info{};
            if (GetIconInfo(static_cast<HICON>(handle), &info)) {
                ++count;
                if (info.hbmMask != nullptr)
                    DeleteObject(info.hbmMask);
                if (info.hbmColor != nullptr)
                    DeleteObject(info.hbmColor);
            }
        }
    }
    return count;
}

std::size_t ResidentKiB()
{
    std::FILE* status = _wfopen(L"Z:\\proc\\self\\status", L"r");
    if (status == nullptr)
        return 0;
    char line[256];
    std::size_t kib = 0;
    while (std::fgets(line, sizeof line, status) != nullptr)
        if (std::strncmp(line, "VmRSS:", 6) == 0)
            std::sscanf(line + 6, "%zu", &kib);
    std::fclose(status);
    return kib;
}

}  // namespace

std::size_t MeasureCommitted()
{
    PROCESS_MEMORY_COUNTERS_EX memory{};
    memory.cb = sizeof memory;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory))
        return 0;
    return memory.PrivateUsage != 0 ? memory.PrivateUsage : memory.PagefileUsage;
}

ProcessUsage MeasureProcessUsage()
{
    ProcessUsage usage{};
    PROCESS_MEMORY_COUNTERS_EX memory{};
    memory.cb = sizeof memory;
    if (GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory)) {
        usage.workingSet = memory.WorkingSetSize;
        usage.committed = memory.PrivateUsage != 0 ? memory.PrivateUsage : memory.PagefileUsage;
    }
    usage.residentKiB = ResidentKiB();
    usage.gdiObjects = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    usage.userObjects = GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS);
    if (usage.gdiObjects == 0)
        usage.gdiObjects = CountGdiObjects();
    if (usage.userObjects == 0)
        usage.userObjects = CountUserObjects();
    return usage;
}
