#include "netcan_config.h"

#include <cstdio>
#include <cstring>

#include "net_socket.h"

namespace netcan {

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

// A host name or address: no blanks, nothing that could end a protocol element.
bool CopyHost(Span s, char (&host)[kMaxHostLength + 1])
{
    if (s.length == 0 || s.length > kMaxHostLength)
        return false;
    for (std::size_t i = 0; i < s.length; ++i) {
        const unsigned char c = static_cast<unsigned char>(s.text[i]);
        if (c <= ' ' || c >= 0x7F)
            return false;
    }
    std::memcpy(host, s.text, s.length);
    host[s.length] = '\0';
    return true;
}

// The interface name goes into "< open NAME >": letters, digits and "_-." only, so it
// can neither split the command nor close it early.
bool CopyInterface(Span s, char (&name)[kMaxInterfaceLength + 1])
{
    if (s.length == 0 || s.length > kMaxInterfaceLength)
        return false;
    for (std::size_t i = 0; i < s.length; ++i) {
        const char c = s.text[i];
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                        c == '_' || c == '-' || c == '.';
        if (!ok)
            return false;
    }
    std::memcpy(name, s.text, s.length);
    name[s.length] = '\0';
    return true;
}

}  // namespace

void DefaultConfig(NetcanConfig& config)
{
    std::memset(&config, 0, sizeof config);
    std::snprintf(config.host, sizeof config.host, "%s", "127.0.0.1");
    config.port = static_cast<std::uint16_t>(kDefaultPort);
    std::snprintf(config.interfaceName, sizeof config.interfaceName, "%s", "can0");
    config.timeoutMs = kDefaultTimeoutMs;
}

int ParseConfig(const char* text, std::size_t length, NetcanConfig& config)
{
    if (text == nullptr)
        return 0;
    // A UTF-8 byte order mark, as some editors on Windows write it.
    if (length >= 3 && std::memcmp(text, "\xEF\xBB\xBF", 3) == 0) {
        text += 3;
        length -= 3;
    }
    int valid = 1;
    bool inConnection = false;
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
            inConnection = close != nullptr &&
                           EqualsNoCase(Trim(Span{line.text + 1, static_cast<std::size_t>(close - line.text - 1)}),
                                        "Connection");
            continue;
        }
        if (!inConnection)
            continue;
        const char* equals = static_cast<const char*>(std::memchr(line.text, '=', line.length));
        if (equals == nullptr)
            continue;
        const Span key = Trim(Span{line.text, static_cast<std::size_t>(equals - line.text)});
        const Span value = Trim(Span{equals + 1, line.length - static_cast<std::size_t>(equals - line.text) - 1});
        std::uint32_t number = 0;
        if (EqualsNoCase(key, "Host")) {
            if (!CopyHost(value, config.host))
                valid = 0;
        } else if (EqualsNoCase(key, "Port")) {
            if (ParseNumber(value, 1, 65535, number))
                config.port = static_cast<std::uint16_t>(number);
            else
                valid = 0;
        } else if (EqualsNoCase(key, "Interface")) {
            if (!CopyInterface(value, config.interfaceName))
                valid = 0;
        } else if (EqualsNoCase(key, "TimeoutMs")) {
            if (ParseNumber(value, 1, kMaxTimeoutMs, number))
                config.timeoutMs = number;
            else
                valid = 0;
        }
    }
    return valid;
}

int LoadConfig(NetcanConfig& config)
{
    DefaultConfig(config);
    std::FILE* file = OpenFileBesideModule(kConfigFileName);
    if (file == nullptr)
        return 1;  // no file: the defaults
    static char text[kMaxFileBytes + 1];
    const std::size_t length = std::fread(text, 1, sizeof text, file);
    const bool readError = std::ferror(file) != 0;
    std::fclose(file);
    if (readError || length > kMaxFileBytes)
        return 0;
    return ParseConfig(text, length, config);
}

}  // namespace netcan
