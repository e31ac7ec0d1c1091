#include "driver_entries.h"

#include <cstdio>

namespace driverlib {

std::uint32_t VersionInfoEntry(char* text, const char* library, const char* device)
{
    if (text == nullptr)
        return kIllegalParameter;
    if (device[0] != '\0')
        std::snprintf(text, kVersionTextSize, "%s; device %s", library, device);
    else
        std::snprintf(text, kVersionTextSize, "%s", library);
    return kOk;
}

}  // namespace driverlib
