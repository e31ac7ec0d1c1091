#include "files.h"

#include <windows.h>

#include <cwchar>

namespace {

constexpr int kWidePathSize = MAX_PATH * 4;

bool ToWide(const char* text, wchar_t* wide, int size)
{
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, wide, size) != 0;
}

}  // namespace

std::FILE* OpenFileUtf8(const char* path, const char* mode)
{
    wchar_t widePath[kWidePathSize];
    wchar_t wideMode[16];
    if (!ToWide(path, widePath, kWidePathSize))
        return nullptr;
    if (MultiByteToWideChar(CP_UTF8, 0, mode, -1, wideMode, 16) == 0)
        return nullptr;
    return _wfopen(widePath, wideMode);
}

bool ListFileNames(const char* folder, std::vector<std::string>& names)
{
    names.clear();
    wchar_t pattern[kWidePathSize];
    if (!ToWide(folder, pattern, kWidePathSize - 2))
        return false;
    std::wcscat(pattern, L"\\*");
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW(pattern, &found);
    if (search == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_NOT_FOUND;  // an empty folder
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
            continue;
        char name[MAX_PATH * 3];
        if (WideCharToMultiByte(CP_UTF8, 0, found.cFileName, -1, name, sizeof name, nullptr, nullptr) != 0)
            names.emplace_back(name);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return true;
}
