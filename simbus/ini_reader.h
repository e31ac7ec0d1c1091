// A small INI reader for the EDS files and the network file, the same on every platform
// (the host build has no profile API).
//
// Section names and keys compare without regard to case; lines starting with ';' are
// comments; CR LF and LF line ends and a UTF-8 byte order mark are accepted. Values keep
// their inner spaces and any ';' (strings may hold one); leading and trailing blanks are
// cut. A repeated section adds to the first; of repeated keys the first counts.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace simbus {

struct IniEntry {
    std::string key;
    std::string value;
};

struct IniSection {
    std::string name;
    std::vector<IniEntry> entries;
};

struct IniFile {
    std::vector<IniSection> sections;
    std::unordered_map<std::string, std::size_t> byName;  // lower-case name -> position
};

IniFile ParseIni(std::string_view text);

// nullptr when missing.
const IniSection* FindSection(const IniFile& ini, std::string_view name);
const std::string* FindValue(const IniSection* section, std::string_view key);
const std::string* FindValue(const IniFile& ini, std::string_view section, std::string_view key);

bool EqualsNoCase(std::string_view a, std::string_view b);
std::string LowerCase(std::string_view text);
std::string_view Trim(std::string_view text);

}  // namespace simbus
