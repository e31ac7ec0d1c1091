#include "slcan_config.h"

#include <cstdio>
#include <cstring>
#include <string_view>

#include "ascii_text.h"
#include "ini_file.h"
#include "serial_port.h"

namespace slcan {

namespace {

constexpr std::size_t kMaxFileBytes = 16384;

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
