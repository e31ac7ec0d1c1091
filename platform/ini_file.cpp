#include "ini_file.h"

#include <cstdio>

#include "ascii_text.h"

namespace ini {

namespace {

// Position of the named section, added when new. A position, not a reference: adding
// sections moves them.
std::size_t SectionFor(File& file, std::string_view name)
{
    std::string key = ascii::LowerCase(name);
    const auto found = file.byName.find(key);
    if (found != file.byName.end())
        return found->second;
    file.byName.emplace(std::move(key), file.sections.size());
    file.sections.push_back(Section{std::string(name), {}});
    return file.sections.size() - 1;
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

bool Parse(std::string_view text, const Limits& limits, File& file, std::string& error)
{
    file = File{};
    text = SkipByteOrderMark(text);
    std::size_t current = kNoSection;
    std::size_t lineNumber = 0;
    std::size_t keys = 0;
    while (!text.empty()) {
        ++lineNumber;
        const Line line = TakeLine(text, ";");
        if (line.length > limits.maxLineBytes)
            return Fail(error, lineNumber, "longer than", limits.maxLineBytes, "bytes");
        if (line.kind == LineKind::Section) {
            const std::size_t before = file.sections.size();
            current = SectionFor(file, line.name);
            if (file.sections.size() > before && file.sections.size() > limits.maxSections)
                return Fail(error, lineNumber, "more than", limits.maxSections, "sections");
        } else if (line.kind == LineKind::KeyValue && current != kNoSection) {
            if (++keys > limits.maxKeys)
                return Fail(error, lineNumber, "more than", limits.maxKeys, "keys");
            file.sections[current].entries.push_back(Entry{std::string(line.key), std::string(line.value)});
        }
    }
    return true;
}

File Parse(std::string_view text)
{
    File file;
    std::string unused;
    constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    const Limits none{kNone, kNone, kNone};
    static_cast<void>(Parse(text, none, file, unused));
    return file;
}

const Section* FindSection(const File& file, std::string_view name)
{
    const auto found = file.byName.find(ascii::LowerCase(name));
    return found == file.byName.end() ? nullptr : &file.sections[found->second];
}

const std::string* FindValue(const Section* section, std::string_view key)
{
    if (section == nullptr)
        return nullptr;
    for (const Entry& entry : section->entries) {
        if (ascii::EqualsNoCase(entry.key, key))
            return &entry.value;
    }
    return nullptr;
}

const std::string* FindValue(const File& file, std::string_view section, std::string_view key)
{
    return FindValue(FindSection(file, section), key);
}

}  // namespace ini
