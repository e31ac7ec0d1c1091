#include "netcan_config.h"

#include <cstdio>
#include <cstring>
#include <string_view>

#include "ascii_text.h"
#include "ini_file.h"
#include "module_file.h"

namespace netcan {

namespace {

// The interface name goes into "< open NAME >": letters, digits and "_-." only, so it
// can neither split the command nor close it early.
bool CopyInterface(std::string_view s, char (&name)[kMaxInterfaceLength + 1])
{
    if (s.empty() || s.size() > kMaxInterfaceLength)
        return false;
    for (const char c : s) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
                        c == '-' || c == '.';
        if (!ok)
            return false;
    }
    std::memcpy(name, s.data(), s.size());
    name[s.size()] = '\0';
    return true;
}

bool TakeSetting(void* context, std::string_view key, std::string_view value)
{
    NetcanConfig& config = *static_cast<NetcanConfig*>(context);
    std::uint32_t number = 0;
    if (ascii::EqualsNoCase(key, "Host"))
        return ini::CopyWord(value, config.host, sizeof config.host);  // a name or an address
    if (ascii::EqualsNoCase(key, "Port")) {
        if (!ini::ParseDecimal(value, 1, 65535, number))
            return false;
        config.port = static_cast<std::uint16_t>(number);
        return true;
    }
    if (ascii::EqualsNoCase(key, "Interface"))
        return CopyInterface(value, config.interfaceName);
    if (ascii::EqualsNoCase(key, "TimeoutMs"))
        return ini::ParseDecimal(value, 1, kMaxTimeoutMs, config.timeoutMs);
    return true;  // a key of no concern here
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
    return ini::ReadSettings({text, length}, "Connection", ini::LeadingKeys::Skipped, TakeSetting, &config) ? 1 : 0;
}

int LoadConfig(NetcanConfig& config)
{
    DefaultConfig(config);
    std::string_view text;
    switch (driverlib::ReadSettingsFile(kConfigFileName, text)) {
    case driverlib::SettingsFile::Missing:
        return 1;  // no file: the defaults
    case driverlib::SettingsFile::Unreadable:
        return 0;
    case driverlib::SettingsFile::Read:
        break;
    }
    return ParseConfig(text.data(), text.size(), config);
}

}  // namespace netcan
