#include "ini_file.h"

#include <cstdio>

namespace eds {

namespace {

char LowerChar(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Position of the named section, added when new. A position, not a reference: adding
// sections moves them.
std::size_t SectionFor(IniFile& ini, std::string_view name)
{
    std::string key = LowerCase(name);
    const auto found = ini.byName.find(key);
    if (found != ini.byName.end())
        return found->second;
    ini.byName.emplace(std::move(key), ini.sections.size());
    ini.sections.push_back(IniSection{std::string(name), {}});
    return ini.sections.size() - 1;
}

constexpr std::size_t kNoSection = static_cast<std::size_t>(-1);

bool Fail(std::string& error, std::size_t lineNumber, const char* what, std::size_t limit, const char* unit)
{
    char text[96];
    std::snprintf(text, sizeof text, "line %llu: %s %llu %s", static_cast<unsigned long long>(lineNumber), what,
                  static_cast<unsigned long long>(limit), unit);
    error = text;
    return false;
}

}  // namespace

int HexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return 99;
}

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

bool EqualsNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (LowerChar(a[i]) != LowerChar(b[i]))
            return false;
    }
    return true;
}

std::string LowerCase(std::string_view text)
{
    std::string lower(text);
    for (char& c : lower)
        c = LowerChar(c);
    return lower;
}

bool ParseIni(std::string_view text, const IniLimits& limits, IniFile& ini, std::string& error)
{
    ini = IniFile{};
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3);
    std::size_t current = kNoSection;
    std::size_t lineNumber = 0;
    std::size_t keys = 0;
    while (!text.empty()) {
        ++lineNumber;
        const std::size_t end = text.find('\n');
        const std::string_view raw = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        const std::size_t length = raw.size() - (!raw.empty() && raw.back() == '\r' ? 1 : 0);
        if (length > limits.maxLineBytes)
            return Fail(error, lineNumber, "longer than", limits.maxLineBytes, "bytes");
        const std::string_view line = Trim(raw);
        if (line.empty() || line.front() == ';')
            continue;
        if (line.front() == '[') {
            const std::size_t close = line.find(']');
            if (close == std::string_view::npos)
                continue;  // not a section header; its keys go to the section before
            const std::size_t before = ini.sections.size();
            current = SectionFor(ini, Trim(line.substr(1, close - 1)));
            if (ini.sections.size() > before && ini.sections.size() > limits.maxSections)
                return Fail(error, lineNumber, "more than", limits.maxSections, "sections");
            continue;
        }
        const std::size_t equals = line.find('=');
        if (current == kNoSection || equals == std::string_view::npos)
            continue;
        if (++keys > limits.maxKeys)
            return Fail(error, lineNumber, "more than", limits.maxKeys, "keys");
        ini.sections[current].entries.push_back(
            IniEntry{std::string(Trim(line.substr(0, equals))), std::string(Trim(line.substr(equals + 1)))});
    }
    return true;
}

IniFile ParseIni(std::string_view text)
{
    IniFile ini;
    std::string unused;
    constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    const IniLimits none{kNone, kNone, kNone};
    static_cast<void>(ParseIni(text, none, ini, unused));
    return ini;
}

const IniSection* FindSection(const IniFile& ini, std::string_view name)
{
    const auto found = ini.byName.find(LowerCase(name));
    return found == ini.byName.end() ? nullptr : &ini.sections[found->second];
}

const std::string* FindValue(const IniSection* section, std::string_view key)
{
    if (section == nullptr)
        return nullptr;
    for (const IniEntry& entry : section->entries) {
        if (EqualsNoCase(entry.key, key))
            return &entry.value;
    }
    return nullptr;
}

const std::string* FindValue(const IniFile& ini, std::string_view section, std::string_view key)
{
    return FindValue(FindSection(ini, section), key);
}

}  // namespace eds
