#include "files.h"

std::FILE* OpenFileUtf8(const char* path, const char* mode) { return std::fopen(path, mode); }
