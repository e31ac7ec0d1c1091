// Feeds arbitrary field texts to the master's value conversions (those of the object
// dialogs and the console), in every format, and shows the result again: nothing may
// read or write past a buffer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "object_values.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    // The dialogs hand over at most 3999 characters of text.
    static char text[4000];
    const std::size_t length = size - 1 < sizeof text - 1 ? size - 1 : sizeof text - 1;
    std::memcpy(text, data + 1, length);
    text[length] = '\0';
    const DataFormat format = static_cast<DataFormat>(data[0] % 6);
    const std::uint32_t count = 1 + (data[0] >> 4) % 4;

    static std::uint8_t buffer[kMaxObjectBytes];
    const std::uint32_t stored = ParseObjectValue(format, text, buffer, count);
    if (stored > kMaxObjectBytes)
        std::abort();
    static char shown[kObjectTextSize];
    FormatObjectValue(buffer, format, stored, shown, sizeof shown);
    if (std::strlen(shown) >= sizeof shown)
        std::abort();
    std::uint32_t index = 0;
    ScanHex32(text, index);
    return 0;
}
