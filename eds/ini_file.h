// A small INI reader for the EDS and DCF files and the simulated bus's network file, the
// same on every platform (the host build has no profile API).
//
// Section names and keys compare without regard to case; lines starting with ';' are
// comments; CR LF and LF line ends and a UTF-8 byte order mark are accepted. Values keep
// their inner spaces and any ';' (strings may hold one); leading and trailing blanks are
// cut. A repeated section adds to the first; of repeated keys the first counts. A line
// that is neither a section header nor a key=value pair is skipped.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace eds {

struct IniEntry {
    std::string key;
    std::string value;
};

struct IniSection {
    std::string name;
    std::vector<IniEntry> entries;
};

struct IniFile {
    std::vector<IniSection> sections;                     // in the order they first appear
    std::unordered_map<std::string, std::size_t> byName;  // lower-case name -> position
};

// What a bounded read refuses: a text from outside must not make the reader hold
// unbounded lines or sections.
struct IniLimits {
    std::size_t maxLineBytes;  // without the line end
    std::size_t maxSections;   // distinct sections
    std::size_t maxKeys;       // key=value lines of all sections
};

// Reads the whole text without limits (for files the operator wrote, like the network
// file).
IniFile ParseIni(std::string_view text);

// Reads the text within `limits`. On failure returns false and `error` holds one line,
// "line N: what"; `ini` then holds what was read before that line.
bool ParseIni(std::string_view text, const IniLimits& limits, IniFile& ini, std::string& error);

// nullptr when missing.
const IniSection* FindSection(const IniFile& ini, std::string_view name);
const std::string* FindValue(const IniSection* section, std::string_view key);
const std::string* FindValue(const IniFile& ini, std::string_view section, std::string_view key);

bool EqualsNoCase(std::string_view a, std::string_view b);
std::string LowerCase(std::string_view text);
std::string_view Trim(std::string_view text);
// 0 to 15 for a hexadecimal digit of either case; 99 for any other character.
int HexDigitValue(char c);

}  // namespace eds
