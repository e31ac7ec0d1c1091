#include "slcan_config.h"

#include <cstring>
#include <string_view>

#include "ascii_text.h"
#include "ini_file.h"
#include "module_file.h"

namespace slcan {

namespace {

bool TakeSetting(void* context, std::string_view key, std::string_view value)
{
    SlcanConfig& config = *static_cast<SlcanConfig*>(context);
    std::uint32_t number = 0;
    // A port name or device path has no blanks inside: Windows port names have none, and
    // a path with blanks is far more likely a typing slip.
    if (ascii::EqualsNoCase(key, "Port"))
        return ini::CopyWord(value, config.port, sizeof config.port);
    if (ascii::EqualsNoCase(key, "Baud"))
        return ini::ParseDecimal(value, kMinBaud, kMaxBaud, config.baud);
    if (ascii::EqualsNoCase(key, "TimeoutMs"))
        return ini::ParseDecimal(value, 1, kMaxTimeoutMs, config.timeoutMs);
    if (ascii::EqualsNoCase(key, "Log")) {
        if (!ini::ParseDecimal(value, 0, 1, number))
            return false;
        config.log = static_cast<std::uint8_t>(number);
        return true;
    }
    return true;  // a key of no concern here
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
    const bool valid = ini::ReadSettings({text, length}, "Serial", ini::LeadingKeys::InSection, TakeSetting, &config);
    return valid && config.port[0] != '\0' ? 1 : 0;
}

int LoadConfig(SlcanConfig& config)
{
    DefaultConfig(config);
    std::string_view text;
    if (driverlib::ReadSettingsFile(kConfigFileName, text) != driverlib::SettingsFile::Read)
        return 0;  // without the file there is no port
    return ParseConfig(text.data(), text.size(), config);
}

}  // namespace slcan
