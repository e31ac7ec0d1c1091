#include "dynlib.h"

#include <windows.h>

LibraryHandle LoadLibraryFile(const char* fileName)
{
    if (fileName == nullptr || fileName[0] == '\0')
        return nullptr;
    wchar_t wideName[MAX_PATH];
    if (MultiByteToWideChar(CP_ACP, 0, fileName, -1, wideName, MAX_PATH) == 0)
        return nullptr;
    // Only the program's folder and the system folder: a plain LoadLibrary would also
    // take a library of the same name from the current directory.
    HMODULE module = LoadLibraryExW(
        wideName, nullptr, LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    return reinterpret_cast<LibraryHandle>(module);
}

void* ResolveEntryPoint(LibraryHandle library, const char* name)
{
    if (library == nullptr)
        return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void ReleaseLibrary(LibraryHandle library)
{
    if (library != nullptr)
        FreeLibrary(static_cast<HMODULE>(library));
}
