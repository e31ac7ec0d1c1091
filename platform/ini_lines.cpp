// The line tokeniser and the settings reader, apart from the whole-file reader: a driver
// library that links only these carries no sections, maps or strings.
#include "ini_file.h"

#include <cstring>

#include "ascii_text.h"

namespace ini {

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

bool ReadSettings(std::string_view text, std::string_view section, LeadingKeys leading, SettingHook take, void* context)
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
