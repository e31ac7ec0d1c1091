// Files by UTF-8 path: the program's paths may hold any character, and on Windows only
// the wide-character file functions reach them whatever the ANSI code page is.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

// The separator between a folder and a name in this build's paths.
#if defined(_WIN32)
constexpr char kPathSeparator = '\\';
#else
constexpr char kPathSeparator = '/';
#endif

// fopen with a UTF-8 path; nullptr on failure.
std::FILE* OpenFileUtf8(const char* path, const char* mode);

// The names (UTF-8, without the folder) of the plain files in `folder`, in the order the
// system gives them; folders and "." and ".." are left out. False when the folder cannot
// be listed (then `names` is empty).
bool ListFileNames(const char* folder, std::vector<std::string>& names);

enum class ReadFileResult { Ok, Missing, TooLarge };

// The whole file at `path` into `text`. A file of more than `maxBytes` bytes is refused
// (TooLarge) without reading more than maxBytes + 1 of them.
ReadFileResult ReadWholeFile(const char* path, std::size_t maxBytes, std::string& text);
