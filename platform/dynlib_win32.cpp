#include "dynlib.h"

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <cwchar>

namespace {

unsigned lastForeignBits = 0;  // from the last LoadLibraryFile; see LastLoadForeignBits

// Width in bits of the code in a PE image, from its file header's Machine field: 32, 64,
// or the machine number itself for any other kind; 0 when the file is not a PE image.
unsigned ImageBits(const wchar_t* path)
{
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    unsigned bits = 0;
    IMAGE_DOS_HEADER dos{};
    DWORD got = 0;
    if (ReadFile(file, &dos, sizeof dos, &got, nullptr) && got == sizeof dos && dos.e_magic == IMAGE_DOS_SIGNATURE &&
        dos.e_lfanew > 0) {
        // The NT signature and the file header follow at e_lfanew.
        unsigned char header[4 + sizeof(IMAGE_FILE_HEADER)];
        LARGE_INTEGER at{};
        at.QuadPart = dos.e_lfanew;
        if (SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && ReadFile(file, header, sizeof header, &got, nullptr) &&
            got == sizeof header && std::memcmp(header, "PE\0\0", 4) == 0) {
            const unsigned machine = header[4] | (header[5] << 8);  // little-endian
            if (machine == IMAGE_FILE_MACHINE_I386)
                bits = 32;
            else if (machine == IMAGE_FILE_MACHINE_AMD64)
                bits = 64;
            else
                bits = machine;
        }
    }
    CloseHandle(file);
    return bits;
}

// The loader refused a library with ERROR_BAD_EXE_FORMAT: find the file of the other
// width where it searched (the program's folder, then the system folder) and read it.
unsigned ForeignBits(const wchar_t* name)
{
    if (std::wcschr(name, L'\\') != nullptr || std::wcschr(name, L'/') != nullptr) {
        const unsigned bits = ImageBits(name);
        return bits != ProgramBits ? bits : 0;
    }
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    wchar_t* slash = length > 0 && length < MAX_PATH ? std::wcsrchr(path, L'\\') : nullptr;
    if (slash != nullptr && static_cast<std::size_t>(slash + 1 - path) + std::wcslen(name) < MAX_PATH) {
        std::wcscpy(slash + 1, name);
        const unsigned bits = ImageBits(path);
        if (bits != 0 && bits != ProgramBits)
            return bits;
    }
    const UINT system = GetSystemDirectoryW(path, MAX_PATH);
    if (system > 0 && system + 1 + std::wcslen(name) < MAX_PATH) {
        path[system] = L'\\';
        std::wcscpy(path + system + 1, name);
        const unsigned bits = ImageBits(path);
        if (bits != 0 && bits != ProgramBits)
            return bits;
    }
    return 0;
}

}  // namespace

LibraryHandle LoadLibraryFile(const char* fileName)
{
    lastForeignBits = 0;
    if (fileName == nullptr || fileName[0] == '\0')
        return nullptr;
    wchar_t wideName[MAX_PATH];
    if (MultiByteToWideChar(CP_ACP, 0, fileName, -1, wideName, MAX_PATH) == 0)
        return nullptr;
    // Only the program's folder and the system folder: a plain LoadLibrary would also
    // take a library of the same name from the current directory.
    HMODULE module =
        LoadLibraryExW(wideName, nullptr, LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module == nullptr && GetLastError() == ERROR_BAD_EXE_FORMAT)
        lastForeignBits = ForeignBits(wideName);
    return reinterpret_cast<LibraryHandle>(module);
}

unsigned LastLoadForeignBits()
{
    return lastForeignBits;
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
