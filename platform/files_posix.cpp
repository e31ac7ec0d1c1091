#include "files.h"

#include <dirent.h>
#include <sys/stat.h>

std::FILE* OpenFileUtf8(const char* path, const char* mode)
{
    return std::fopen(path, mode);
}

bool ListFileNames(const char* folder, std::vector<std::string>& names)
{
    names.clear();
    DIR* directory = opendir(folder);
    if (directory == nullptr)
        return false;
    while (const dirent* item = readdir(directory)) {
        std::string path = std::string(folder) + kPathSeparator + item->d_name;
        struct stat info {};
        if (stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode))
            names.emplace_back(item->d_name);
    }
    closedir(directory);
    return true;
}
