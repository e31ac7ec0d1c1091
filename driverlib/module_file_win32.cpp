#include "module_file.h"

#include <windows.h>

#include <cstring>
#include <cwchar>

namespace driverlib {

namespace {

constexpr DWORD kMaxPath = 32768;  // the longest path the wide file functions take

// The library's own file name into `path`. Returns the length of its folder, up to and
// with the last separator; 0 when the name cannot be had.
std::size_t ModulePath(wchar_t (&path)[kMaxPath])
{
    // The module that holds this very function: the library, whatever it is named and
    // wherever the program loaded it from.
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&ModulePath), &module))
        return 0;
    const DWORD n = GetModuleFileNameW(module, path, kMaxPath);
    if (n == 0 || n >= kMaxPath)
        return 0;
    std::size_t folder = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (path[i] == L'\\' || path[i] == L'/')
            folder = i + 1;
    }
    return folder;
}

// Static: 64 KiB are better kept off the stack; the libraries are called from one thread.
wchar_t modulePath[kMaxPath];

}  // namespace

bool ModuleFolder(char* folder, std::size_t size)
{
    if (size == 0)
        return false;
    folder[0] = '\0';
    const std::size_t length = ModulePath(modulePath);
    if (length == 0)
        return false;
    const int room = size - 1 < kMaxPath * 4 ? static_cast<int>(size - 1) : static_cast<int>(kMaxPath * 4);
    const int n = WideCharToMultiByte(CP_UTF8, 0, modulePath, static_cast<int>(length), folder, room, nullptr, nullptr);
    if (n <= 0)
        return false;
    folder[n] = '\0';
    return true;
}

std::FILE* OpenFileBesideModule(const char* fileName, const char* mode)
{
    const std::size_t folder = ModulePath(modulePath);
    if (folder == 0)
        return nullptr;
    wchar_t name[MAX_PATH];
    wchar_t wideMode[8];
    if (MultiByteToWideChar(CP_UTF8, 0, fileName, -1, name, MAX_PATH) == 0 ||
        MultiByteToWideChar(CP_UTF8, 0, mode, -1, wideMode, 8) == 0)
        return nullptr;
    const std::size_t nameLength = std::wcslen(name);
    if (folder + nameLength + 1 > kMaxPath)
        return nullptr;
    std::memcpy(modulePath + folder, name, (nameLength + 1) * sizeof(wchar_t));
    return _wfopen(modulePath, wideMode);
}

}  // namespace driverlib
