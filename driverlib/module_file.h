// The files beside a driver library: its settings file, its log, the simulated bus's
// network and EDS files. The folder is found from the library's own module (the code of
// this very library), never from the program's folder or the current directory: the
// program loads the library from a folder of the user's choosing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string_view>

namespace driverlib {

// The library's folder, UTF-8, with its trailing separator, zero-terminated into
// `folder`. False, and `folder` empty, when it cannot be told or does not fit.
bool ModuleFolder(char* folder, std::size_t size);

// Opens `fileName` in the library's folder with the fopen `mode`; nullptr when that
// fails.
std::FILE* OpenFileBesideModule(const char* fileName, const char* mode);

// Longest settings file a library reads; anything longer is no settings file of ours.
constexpr std::size_t kMaxSettingsBytes = 16384;

enum class SettingsFile : std::uint8_t {
    Missing,     // not there (or not to be opened)
    Read,        // `text` holds it
    Unreadable,  // a read error, or longer than kMaxSettingsBytes
};

// Reads the file `fileName` beside the library whole, into storage of the library's own
// that `text` shows until the next call.
SettingsFile ReadSettingsFile(const char* fileName, std::string_view& text);

}  // namespace driverlib
