#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "os_services.h"

std::string ProgramFolder()
{
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return "";
    path[n] = '\0';
    char* slash = std::strrchr(path, '/');
    if (slash == nullptr)
        return "";
    slash[1] = '\0';
    return path;
}

char PathSeparator()
{
    return '/';
}

bool MakePrivateFolder(std::string& folder)
{
    const char* base = std::getenv("TMPDIR");
    std::string pattern = base != nullptr && base[0] != '\0' ? base : "/tmp";
    pattern += "/velomar-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr)
        return false;
    folder = pattern + "/";
    return true;
}

bool CopyOneFile(const std::string& from, const std::string& to)
{
    std::FILE* in = std::fopen(from.c_str(), "rb");
    if (in == nullptr)
        return false;
    std::FILE* out = std::fopen(to.c_str(), "wb");
    if (out == nullptr) {
        std::fclose(in);
        return false;
    }
    char buffer[65536];
    bool ok = true;
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0) {
        if (std::fwrite(buffer, 1, n, out) != n) {
            ok = false;
            break;
        }
    }
    ok = ok && std::ferror(in) == 0;
    std::fclose(in);
    return std::fclose(out) == 0 && ok;
}

void RemovePrivateFolder(const std::string& folder, std::initializer_list<const char*> files)
{
    for (const char* file : files)
        std::remove((folder + file).c_str());
    rmdir(folder.c_str());
}
