#include "module_file.h"

#include <dlfcn.h>

#include <cstring>

namespace driverlib {

namespace {

constexpr std::size_t kMaxPath = 4096;

}  // namespace

bool ModuleFolder(char* folder, std::size_t size)
{
    if (size == 0)
        return false;
    folder[0] = '\0';
    // The object that holds this very function: the library, whatever it is named and
    // wherever the program loaded it from.
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&ModuleFolder), &info) == 0 || info.dli_fname == nullptr)
        return false;
    const char* slash = std::strrchr(info.dli_fname, '/');
    // A library loaded by a bare name lies in the current directory.
    const std::size_t length = slash == nullptr ? 0 : static_cast<std::size_t>(slash - info.dli_fname) + 1;
    if (length >= size)
        return false;
    std::memcpy(folder, info.dli_fname, length);
    folder[length] = '\0';
    return true;
}

std::FILE* OpenFileBesideModule(const char* fileName, const char* mode)
{
    char path[kMaxPath];
    if (!ModuleFolder(path, sizeof path))
        return nullptr;
    const std::size_t folder = std::strlen(path);
    const std::size_t name = std::strlen(fileName);
    if (folder + name >= sizeof path)
        return nullptr;
    std::memcpy(path + folder, fileName, name + 1);
    return std::fopen(path, mode);
}

}  // namespace driverlib
