#include "ini_file.h"

#include <cstdio>
#include <cstring>

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

std::string_view SkipByteOrderMark(std::string_view text)
{
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3);
    return text;
}

Line TakeLine(std::string_view& text, std::string_view commentMarks)
{
    const std::size_t end = text.find('\n');
    const std::string_view raw = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    Line line{LineKind::Other, {}, {}, {}, raw.size() - (!raw.empty() && raw.back() == '\r' ? 1 : 0)};
    const std::string_view trimmed = ascii::Trim(raw);
    if (trimmed.empty()) {
        line.kind = LineKind::Blank;
    } else if (commentMarks.find(trimmed.front()) != std::string_view::npos) {
        line.kind = LineKind::Comment;
    } else if (trimmed.front() == '[') {
        const std::size_t close = trimmed.find(']');
        line.kind = close == std::string_view::npos ? LineKind::Unclosed : LineKind::Section;
        if (close != std::string_view::npos)
            line.name = ascii::Trim(trimmed.substr(1, close - 1));
    } else if (const std::size_t equals = trimmed.find('='); equals != std::string_view::npos) {
        line.kind = LineKind::KeyValue;
        line.key = ascii::Trim(trimmed.substr(0, equals));
        line.value = ascii::Trim(trimmed.substr(equals + 1));
    }
    return line;
}

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

bool ReadSettings(std::string_view text, std::string_view section, LeadingKeys leading, SettingHook take,
                  void* context)
{
    text = SkipByteOrderMark(text);
    bool inSection = leading == LeadingKeys::InSection;
    bool valid = true;
    while (!text.empty()) {
        const Line line = TakeLine(text, ";#");
        if (line.kind == LineKind::Section)
            inSection = ascii::EqualsNoCase(line.name, section);
        else if (line.kind == LineKind::Unclosed)
            inSection = false;
        else if (line.kind == LineKind::KeyValue && inSection && !take(context, line.key, line.value))
            valid = false;
    }
    return valid;
}

bool ParseDecimal(std::string_view text, std::uint32_t low, std::uint32_t high, std::uint32_t& value)
{
    // Nine digits cannot overflow 32 bits.
    if (text.empty() || text.size() > 9)
        return false;
    std::uint32_t n = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
        n = n * 10 + static_cast<std::uint32_t>(c - '0');
    }
    if (n < low || n > high)
        return false;
    value = n;
    return true;
}

bool CopyWord(std::string_view text, char* to, std::size_t size)
{
    if (text.empty() || text.size() >= size)
        return false;
    for (const char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u <= ' ' || u >= 0x7F)
            return false;
    }
    std::memcpy(to, text.data(), text.size());
    to[text.size()] = '\0';
    return true;
}

}  // namespace ini
