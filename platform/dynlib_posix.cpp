#include "dynlib.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace {

// Folder of the running executable, with a trailing slash; empty if unknown.
bool ExecutableFolder(char* folder, std::size_t size)
{
    const ssize_t n = readlink("/proc/self/exe", folder, size - 1);
    if (n <= 0)
        return false;
    folder[n] = '\0';
    char* slash = std::strrchr(folder, '/');
    if (slash == nullptr)
        return false;
    slash[1] = '\0';
    return true;
}

}  // namespace

// The host build does not tell why a load failed.
unsigned LastLoadForeignBits()
{
    return 0;
}

LibraryHandle LoadLibraryFile(const char* fileName)
{
    if (fileName == nullptr || fileName[0] == '\0')
        return nullptr;
    if (std::strchr(fileName, '/') != nullptr)
        return dlopen(fileName, RTLD_NOW | RTLD_LOCAL);

    // A bare name: the program's folder first, then the system's library search
    // (which, unlike Windows, never includes the current directory).
    char path[4096];
    if (ExecutableFolder(path, sizeof path)) {
        const std::size_t used = std::strlen(path);
        if (std::snprintf(path + used, sizeof path - used, "%s", fileName) < static_cast<int>(sizeof path - used)) {
            if (access(path, F_OK) == 0)
                return dlopen(path, RTLD_NOW | RTLD_LOCAL);
        }
    }
    return dlopen(fileName, RTLD_NOW | RTLD_LOCAL);
}

void* ResolveEntryPoint(LibraryHandle library, const char* name)
{
    if (library == nullptr)
        return nullptr;
    return dlsym(library, name);
}

void ReleaseLibrary(LibraryHandle library)
{
    if (library != nullptr)
        dlclose(library);
}
