#include "test_files.h"

#include <cstdio>
#include <system_error>

#include "files.h"

#if defined(_WIN32)
#include <windows.h>
#include <process.h>
#else
#include <unistd.h>
#endif

namespace fs = std::filesystem;

fs::path ExecutableFolder()
{
#if defined(_WIN32)
    wchar_t name[MAX_PATH * 4];
    const DWORD length = GetModuleFileNameW(nullptr, name, MAX_PATH * 4);
    if (length == 0 || length >= MAX_PATH * 4)
        return {};
    return fs::path(name).parent_path();
#else
    std::error_code error;
    return fs::read_symlink("/proc/self/exe", error).parent_path();
#endif
}

fs::path PathFromUtf8(const std::string& utf8)
{
    return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string Utf8FromPath(const fs::path& path)
{
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

namespace {

int ProcessId()
{
#if defined(_WIN32)
    return _getpid();
#else
    return static_cast<int>(getpid());
#endif
}

}  // namespace

ScratchFolder::ScratchFolder(bool asciiName)
{
    static int made = 0;
    std::error_code error;
    const fs::path temp = fs::temp_directory_path(error);
    const std::string prefix = asciiName ? "velomar-can-" : "velomar-can-\xC3\xBC-";
    path_ = temp / PathFromUtf8(prefix + std::to_string(ProcessId()) + "-" + std::to_string(++made));
    fs::remove_all(path_, error);
    fs::create_directories(path_, error);
}

ScratchFolder::~ScratchFolder()
{
    std::error_code error;
    fs::remove_all(path_, error);
}

std::string ScratchFolder::Utf8(const std::string& name) const
{
    return Utf8FromPath(path_ / PathFromUtf8(name));
}

CurrentDirectoryScope::CurrentDirectoryScope(const fs::path& folder)
{
    std::error_code error;
    previous_ = fs::current_path(error);
    if (error)
        return;
    fs::current_path(folder, error);
    ok_ = !error;
}

CurrentDirectoryScope::~CurrentDirectoryScope()
{
    std::error_code error;
    if (ok_)
        fs::current_path(previous_, error);
}

std::string ReadWholeFile(const std::string& utf8Path)
{
    std::string content;
    std::FILE* file = OpenFileUtf8(utf8Path.c_str(), "rb");
    if (file == nullptr)
        return content;
    char buffer[4096];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        content.append(buffer, got);
    std::fclose(file);
    return content;
}

std::string AsTextFile(const std::string& text)
{
#if defined(_WIN32)
    std::string converted;
    for (const char c : text) {
        if (c == '\n')
            converted += '\r';
        converted += c;
    }
    return converted;
#else
    return text;
#endif
}
