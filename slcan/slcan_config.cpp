#include "slcan_config.h"

#include <cstdio>
#include <cstring>

#include "serial_port.h"

namespace slcan {

namespace {

constexpr std::size_t kMaxFileBytes = 16384;

struct Span {
    const char* text;
    std::size_t length;
};

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

Span Trim(Span s)
{
    while (s.length > 0 && IsBlank(s.text[0])) {
        ++s.text;
        --s.length;
    }
    while (s.length > 0 && IsBlank(s.text[s.length - 1]))
        --s.length;
    return s;
}

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsNoCase(Span s, const char* word)
{
    const std::size_t n = std::strlen(word);
    if (s.length != n)
        return false;
    for (std::size_t i = 0; i < n; ++i) {
        if (Lower(s.text[i]) != Lower(word[i]))
            return false;
    }
    return true;
}

bool ParseNumber(Span s, std::uint32_t low, std::uint32_t high, std::uint32_t& value)
{
    if (s.length == 0 || s.length > 9)
        return false;
    std::uint32_t n = 0;
    for (std::size_t i = 0; i < s.length; ++i) {
        if (s.text[i] < '0' || s.text[i] > '9')
            return false;
        n = n * 10 + static_cast<std::uint32_t>(s.text[i] - '0');
    }
    if (n < low || n > high)
        return false;
    value = n;
    return true;
}

// A port name or device path: printable, no blanks inside (Windows port names have none,
// and a path with blanks is far more likely a typing slip).
bool CopyPort(Span s, char (&port)[kMaxPortLength + 1])
{
    if (s.length == 0 || s.length > kMaxPortLength)
        return false;
    for (std::size_t i = 0; i < s.length; ++i) {
        const unsigned char c = static_cast<unsigned char>(s.text[i]);
        if (c <= ' ' || c >= 0x7F)
            return false;
    }
    std::memcpy(port, s.text, s.length);
    port[s.length] = '\0';
    return true;
}

}  // namespace

void DefaultConfig(SlcanConfig& config)
{
    std::memset(&config, 0, sizeof config);
    config.baud = kDefaultBaud;
    config.timeoutMs = kDefaultTimeoutMs;
}

int ParseConfig(const char* text, std::size_t length, SlcanConfig& config)
{
    if (text == nullptr)
        return 0;
    if (length >= 3 && std::memcmp(text, "\xEF\xBB\xBF", 3) == 0) {  // a UTF-8 byte order mark
        text += 3;
        length -= 3;
    }
    int valid = 1;
    bool inSerial = true;
    std::size_t pos = 0;
    while (pos < length) {
        std::size_t end = pos;
        while (end < length && text[end] != '\n')
            ++end;
        const Span line = Trim(Span{text + pos, end - pos});
        pos = end + 1;
        if (line.length == 0 || line.text[0] == ';' || line.text[0] == '#')
            continue;
        if (line.text[0] == '[') {
            const char* close = static_cast<const char*>(std::memchr(line.text, ']', line.length));
            inSerial = close != nullptr &&
                       EqualsNoCase(Trim(Span{line.text + 1, static_cast<std::size_t>(close - line.text - 1)}),
                                    "Serial");
            continue;
        }
        if (!inSerial)
            continue;
        const char* equals = static_cast<const char*>(std::memchr(line.text, '=', line.length));
        if (equals == nullptr)
            continue;
        const Span key = Trim(Span{line.text, static_cast<std::size_t>(equals - line.text)});
        const Span value = Trim(Span{equals + 1, line.length - static_cast<std::size_t>(equals - line.text) - 1});
        std::uint32_t number = 0;
        if (EqualsNoCase(key, "Port")) {
            if (!CopyPort(value, config.port))
                valid = 0;
        } else if (EqualsNoCase(key, "Baud")) {
            if (ParseNumber(value, kMinBaud, kMaxBaud, number))
                config.baud = number;
            else
                valid = 0;
        } else if (EqualsNoCase(key, "TimeoutMs")) {
            if (ParseNumber(value, 1, kMaxTimeoutMs, number))
                config.timeoutMs = number;
            else
                valid = 0;
        } else if (EqualsNoCase(key, "Log")) {
            if (ParseNumber(value, 0, 1, number))
                config.log = static_cast<std::uint8_t>(number);
            else
                valid = 0;
        }
    }
    if (config.port[0] == '\0')
        valid = 0;
    return valid;
}

int LoadConfig(SlcanConfig& config)
{
    DefaultConfig(config);
    std::FILE* file = OpenFileBesideModule(kConfigFileName, "rb");
    if (file == nullptr)
        return 0;
    static char text[kMaxFileBytes + 1];
    const std::size_t length = std::fread(text, 1, sizeof text, file);
    const bool readError = std::ferror(file) != 0;
    std::fclose(file);
    if (readError || length > kMaxFileBytes)
        return 0;
    return ParseConfig(text, length, config);
}

}  // namespace slcan
