// What a PE file on disk says about itself, read without loading it (so a library of the
// other architecture can be read too).
#pragma once

#include <cstdint>
#include <set>
#include <string>

struct PeFile {
    std::uint16_t machine = 0;          // file header: 0x014C i386, 0x8664 x86-64
    std::set<std::string> exportNames;  // the export directory's names
    std::uint32_t unnamedExports = 0;   // exports reached by ordinal only
};

// Reads `path`; false (with `error` set) when it is not a readable PE file.
bool ReadPeFile(const std::wstring& path, PeFile& file, std::string& error);
