#include "object_values.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "byte_order.h"

namespace {

constexpr const char* kRawSeparators = " ,;\n\r";

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// scanf-style integer conversion in base 16 or 10 within [text, end): white space, an
// optional sign, for base 16 an optional 0x, then digits. The value wraps modulo 2^32
// (unsigned arithmetic: defined for any length of input). Returns 1 when a digit was seen.
int ScanInteger(const char* text, const char* end, int base, std::uint32_t& value)
{
    const char* p = text;
    while (p < end && IsSpace(*p))
        ++p;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
    }
    if (base == 16 && end - p >= 2 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        // "0x" followed by no hex digit converts the 0 alone.
        if (end - p == 2 || HexDigit(p[2]) < 0) {
            value = 0;
            return 1;
        }
        p += 2;
    }
    std::uint32_t result = 0;
    bool any = false;
    for (; p < end; ++p) {
        const int digit = base == 16 ? HexDigit(*p) : (*p >= '0' && *p <= '9' ? *p - '0' : -1);
        if (digit < 0)
            break;
        result = result * static_cast<std::uint32_t>(base) + static_cast<std::uint32_t>(digit);
        any = true;
    }
    if (!any)
        return 0;
    value = negative ? 0u - result : result;
    return 1;
}

std::uint32_t ParseRaw(const char* text, std::uint8_t* buffer)
{
    std::uint32_t stored = 0;
    const char* p = text;
    while (*p != '\0' && stored < kObjectValueSize) {
        p += std::strspn(p, kRawSeparators);
        if (*p == '\0')
            break;
        const std::size_t tokenLength = std::strcspn(p, kRawSeparators);
        std::uint32_t number = 0;
        if (ScanInteger(p, p + tokenLength, 16, number) == 0)
            return 0;  // one token that is not hexadecimal empties the whole value
        buffer[stored++] = static_cast<std::uint8_t>(number);
        p += tokenLength;
    }
    return stored;
}

}  // namespace

int ScanHex32(const char* text, std::uint32_t& value)
{
    return ScanInteger(text, text + std::strlen(text), 16, value);
}

std::uint32_t ParseObjectValue(DataFormat format, const char* text, std::uint8_t* buffer,
                               std::uint32_t count)
{
    std::memset(buffer, 0, kObjectValueSize);
    const char* end = text + std::strlen(text);
    std::uint32_t number = 0;
    switch (format) {
    case FormatRaw:
        return ParseRaw(text, buffer);
    case FormatFloat: {
        char* stop = nullptr;
        const float value = std::strtof(text, &stop);
        if (stop == text)
            return 0;
        std::uint32_t bits = 0;
        std::memcpy(&bits, &value, sizeof bits);
        StoreLe32(buffer, bits);
        return count;
    }
    case FormatUnsigned:
    case FormatSigned:
        if (ScanInteger(text, end, 10, number) == 0)
            return 0;
        StoreLe32(buffer, number);
        return count;
    case FormatHex:
    default:
        if (ScanInteger(text, end, 16, number) == 0)
            return 0;
        StoreLe32(buffer, number);
        return count;
    }
}

std::uint32_t ExtractValue(DataFormat format, std::uint32_t length, const std::uint8_t* buffer)
{
    if (length == 0)
        return 0;
    if (length > 4)
        length = 4;
    if (format == FormatFloat)
        return LoadLe32(buffer);
    std::uint32_t value = 0;
    for (std::uint32_t i = 0; i < length; ++i)
        value |= static_cast<std::uint32_t>(buffer[i]) << (8 * i);
    if (format == FormatSigned && length < 4 && (buffer[length - 1] & 0x80) != 0)
        value |= ~0u << (8 * length);
    return value;
}

const char* FormatObjectValue(const std::uint8_t* buffer, DataFormat format, std::uint32_t length,
                              char* text, std::size_t size)
{
    if (size == 0)
        return text;
    text[0] = '\0';
    const std::uint32_t value = ExtractValue(format, length, buffer);
    switch (format) {
    case FormatFloat: {
        float number = 0;
        std::memcpy(&number, &value, sizeof number);
        std::snprintf(text, size, "%g", static_cast<double>(number));
        break;
    }
    case FormatUnsigned:
        std::snprintf(text, size, "%lu", static_cast<unsigned long>(value));
        break;
    case FormatSigned:
        std::snprintf(text, size, "%ld", static_cast<long>(static_cast<std::int32_t>(value)));
        break;
    case FormatRaw: {
        const std::uint32_t shown = length < kObjectValueSize ? length : kObjectValueSize;
        std::size_t used = 0;
        for (std::uint32_t i = 0; i < shown && used + 3 < size; ++i)
            used += static_cast<std::size_t>(std::snprintf(text + used, size - used, "%02X ", buffer[i]));
        break;
    }
    case FormatHex:
    default:
        std::snprintf(text, size, "%lX", static_cast<unsigned long>(value));
        break;
    }
    return text;
}
