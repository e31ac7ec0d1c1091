#include "files.h"

#include <windows.h>

#include <cwchar>

std::FILE* OpenFileUtf8(const char* path, const char* mode)
{
    wchar_t widePath[MAX_PATH * 4];
    wchar_t wideMode[16];
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, widePath,
                            static_cast<int>(sizeof widePath / sizeof widePath[0])) == 0)
        return nullptr;
    if (MultiByteToWideChar(CP_UTF8, 0, mode, -1, wideMode, 16) == 0)
        return nullptr;
    return _wfopen(widePath, wideMode);
}
