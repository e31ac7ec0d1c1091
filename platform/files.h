// Files by UTF-8 path: the program's paths may hold any character, and on Windows only
// the wide-character file functions reach them whatever the ANSI code page is.
#pragma once

#include <cstdio>

// fopen with a UTF-8 path; nullptr on failure.
std::FILE* OpenFileUtf8(const char* path, const char* mode);
