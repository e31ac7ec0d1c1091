// The console program's only Windows file: its folder and a private temporary folder.
#include <windows.h>

#include <string>

#include "os_services.h"

namespace {

std::string Narrow(const wchar_t* text)
{
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1)
        return "";
    std::string result(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, result.data(), n, nullptr, nullptr);
    result.resize(static_cast<std::size_t>(n - 1));
    return result;
}

std::wstring Widen(const std::string& text)
{
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    if (n <= 1)
        return L"";
    std::wstring result(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, result.data(), n);
    result.resize(static_cast<std::size_t>(n - 1));
    return result;
}

}  // namespace

std::string Utf8FromWide(const wchar_t* text)
{
    return Narrow(text);
}

std::string ProgramFolder()
{
    wchar_t path[MAX_PATH * 4];
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
    if (n == 0 || n >= MAX_PATH * 4)
        return "";
    wchar_t* slash = wcsrchr(path, L'\\');
    if (slash == nullptr)
        return "";
    slash[1] = L'\0';
    return Narrow(path);
}

char PathSeparator()
{
    return '\\';
}

bool MakePrivateFolder(std::string& folder)
{
    wchar_t base[MAX_PATH + 1];
    const DWORD n = GetTempPathW(MAX_PATH + 1, base);
    if (n == 0 || n > MAX_PATH)
        return false;
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        std::wstring candidate = base;
        candidate += L"velomar-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(attempt);
        if (CreateDirectoryW(candidate.c_str(), nullptr) != 0) {
            folder = Narrow(candidate.c_str()) + "\\";
            return true;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            return false;
    }
    return false;
}

bool CopyOneFile(const std::string& from, const std::string& to)
{
    return CopyFileW(Widen(from).c_str(), Widen(to).c_str(), FALSE) != 0;
}

void RemovePrivateFolder(const std::string& folder, std::initializer_list<const char*> files)
{
    for (const char* file : files)
        DeleteFileW(Widen(folder + file).c_str());
    RemoveDirectoryW(Widen(folder).c_str());
}
