#include "object_values.h"

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ascii_text.h"
#include "byte_order.h"

namespace {

constexpr const char* kRawSeparators = " ,;\n\r";

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

using ascii::HexDigit;

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

bool OnlyBlanks(const char* p, const char* end)
{
    while (p < end && IsSpace(*p))
        ++p;
    return p == end;
}

// A whole number in base 16 or 10 filling [text, end) but for blanks around it: an
// optional sign, for base 16 an optional 0x, at least one digit. `magnitude` saturates
// beyond 2^33, which no byte count holds. Returns false when anything else is there.
bool ScanWholeNumber(const char* text, const char* end, int base, bool& negative, std::uint64_t& magnitude)
{
    const char* p = text;
    while (p < end && IsSpace(*p))
        ++p;
    negative = false;
    if (p < end && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
    }
    if (base == 16 && end - p >= 2 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X'))
        p += 2;
    constexpr std::uint64_t kSaturated = std::uint64_t{1} << 34;
    magnitude = 0;
    bool any = false;
    for (; p < end; ++p) {
        const int digit = base == 16 ? HexDigit(*p) : (*p >= '0' && *p <= '9' ? *p - '0' : -1);
        if (digit < 0)
            break;
        if (magnitude < kSaturated)
            magnitude = magnitude * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(digit);
        any = true;
    }
    return any && OnlyBlanks(p, end);
}

// Lowest and highest value of `count` bytes (1 to 4), two's complement for Signed.
void RangeOf(DataFormat format, std::uint32_t count, std::int64_t& lowest, std::int64_t& highest)
{
    const std::uint32_t bits = 8 * (count < 1 ? 1 : count > 4 ? 4 : count);
    if (format == FormatSigned) {
        lowest = -(std::int64_t{1} << (bits - 1));
        highest = (std::int64_t{1} << (bits - 1)) - 1;
    } else {
        lowest = 0;
        highest = (std::int64_t{1} << bits) - 1;
    }
}

std::uint32_t Refuse(ValueRefusal* refusal, ValueRefusal why, std::uint8_t* buffer)
{
    std::memset(buffer, 0, kMaxObjectBytes);
    if (refusal != nullptr)
        *refusal = why;
    return 0;
}

std::uint32_t ParseRaw(const char* text, std::uint8_t* buffer, ValueRefusal* refusal)
{
    std::uint32_t stored = 0;
    const char* p = text;
    for (;;) {
        p += std::strspn(p, kRawSeparators);
        if (*p == '\0')
            break;
        const std::size_t tokenLength = std::strcspn(p, kRawSeparators);
        bool negative = false;
        std::uint64_t number = 0;
        if (!ScanWholeNumber(p, p + tokenLength, 16, negative, number))
            return Refuse(refusal, ValueRefusal::NotConvertible, buffer);
        if (negative || number > 0xFF)
            return Refuse(refusal, ValueRefusal::OutOfRange, buffer);
        if (stored == kMaxObjectBytes)
            return Refuse(refusal, ValueRefusal::TooManyBytes, buffer);
        buffer[stored++] = static_cast<std::uint8_t>(number);
        p += tokenLength;
    }
    if (stored == 0)
        return Refuse(refusal, ValueRefusal::NotConvertible, buffer);
    return stored;
}

std::uint32_t ParseFloat(const char* text, std::uint8_t* buffer, ValueRefusal* refusal)
{
    const char* start = text;
    while (IsSpace(*start))
        ++start;
    char* stop = nullptr;
    const float value = std::strtof(start, &stop);
    if (stop == start || !OnlyBlanks(stop, stop + std::strlen(stop)))
        return Refuse(refusal, ValueRefusal::NotConvertible, buffer);
    // A finite number too large for single precision comes back as infinity.
    if (std::isinf(value) && std::strpbrk(start, "iI") == nullptr)
        return Refuse(refusal, ValueRefusal::OutOfRange, buffer);
    std::uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    StoreLe32(buffer, bits);
    return 4;
}

}  // namespace

int ScanHex32(const char* text, std::uint32_t& value)
{
    return ScanInteger(text, text + std::strlen(text), 16, value);
}

std::uint32_t ParseObjectValue(DataFormat format, const char* text, std::uint8_t* buffer, std::uint32_t count,
                               ValueRefusal* refusal)
{
    std::memset(buffer, 0, kMaxObjectBytes);
    if (refusal != nullptr)
        *refusal = ValueRefusal::None;
    if (format == FormatRaw)
        return ParseRaw(text, buffer, refusal);
    if (format == FormatFloat)
        return ParseFloat(text, buffer, refusal);

    bool negative = false;
    std::uint64_t magnitude = 0;
    const int base = format == FormatUnsigned || format == FormatSigned ? 10 : 16;
    if (!ScanWholeNumber(text, text + std::strlen(text), base, negative, magnitude))
        return Refuse(refusal, ValueRefusal::NotConvertible, buffer);
    std::int64_t lowest = 0, highest = 0;
    RangeOf(format, count, lowest, highest);
    // The magnitude saturates at 2^34, so the signed value cannot overflow.
    const std::int64_t value = negative ? -static_cast<std::int64_t>(magnitude) : static_cast<std::int64_t>(magnitude);
    if (value < lowest || value > highest)
        return Refuse(refusal, ValueRefusal::OutOfRange, buffer);
    StoreLe32(buffer, static_cast<std::uint32_t>(value));
    return count;
}

void DescribeValueRange(DataFormat format, std::uint32_t count, char* lowest, char* highest, std::size_t size)
{
    if (size == 0)
        return;
    switch (format) {
    case FormatRaw:
        std::snprintf(lowest, size, "00");
        std::snprintf(highest, size, "FF");
        return;
    case FormatFloat:
        std::snprintf(lowest, size, "%g", static_cast<double>(-FLT_MAX));
        std::snprintf(highest, size, "%g", static_cast<double>(FLT_MAX));
        return;
    default:
        break;
    }
    std::int64_t low = 0, high = 0;
    RangeOf(format, count, low, high);
    if (format == FormatHex) {
        std::snprintf(lowest, size, "%llX", static_cast<unsigned long long>(low));
        std::snprintf(highest, size, "%llX", static_cast<unsigned long long>(high));
    } else {
        std::snprintf(lowest, size, "%lld", static_cast<long long>(low));
        std::snprintf(highest, size, "%lld", static_cast<long long>(high));
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
    if (format == FormatSigned)
        return static_cast<std::uint32_t>(LoadLeSigned(buffer, length));
    return static_cast<std::uint32_t>(LoadLeUnsigned(buffer, length));
}

const char* FormatObjectValue(const std::uint8_t* buffer, DataFormat format, std::uint32_t length, char* text,
                              std::size_t size)
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
        const std::uint32_t shown = length < kMaxObjectBytes ? length : kMaxObjectBytes;
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
