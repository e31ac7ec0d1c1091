#include "slcan_codec.h"

#include <cstring>

#include "ascii_text.h"

namespace slcan {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

// `count` hex digits at `text` into `value`; false when one is not a hex digit.
bool ParseHex(const char* text, std::size_t count, std::uint32_t& value)
{
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const int digit = ascii::HexDigit(text[i]);
        if (digit < 0)
            return false;
        v = (v << 4) | static_cast<std::uint32_t>(digit);
    }
    value = v;
    return true;
}

void PutHex(char* text, std::uint32_t value, std::size_t digits)
{
    for (std::size_t i = 0; i < digits; ++i)
        text[digits - 1 - i] = kHexDigits[(value >> (4 * i)) & 0x0F];
}

}  // namespace

std::size_t FormatFrame(const DriverMsg& msg, char* text, std::size_t size)
{
    if (text == nullptr || (msg.msgType & kMsgStatus) != 0 || msg.length > 8)
        return 0;
    const bool extended = (msg.msgType & kMsgExtended) != 0;
    const bool remote = (msg.msgType & kMsgRemote) != 0;
    if (msg.id > (extended ? 0x1FFFFFFFu : 0x7FFu))
        return 0;
    const std::size_t idDigits = extended ? 8 : 3;
    const std::size_t length = 1 + idDigits + 1 + (remote ? 0 : 2u * msg.length) + 1;
    if (size < length + 1)
        return 0;
    char* p = text;
    *p++ = remote ? (extended ? 'R' : 'r') : (extended ? 'T' : 't');
    PutHex(p, msg.id, idDigits);
    p += idDigits;
    *p++ = static_cast<char>('0' + msg.length);
    if (!remote) {
        for (std::uint8_t i = 0; i < msg.length; ++i) {
            PutHex(p, msg.data[i], 2);
            p += 2;
        }
    }
    *p++ = kCr;
    *p = '\0';
    return length;
}

bool ParseFrame(const char* text, std::size_t length, DriverMsg& msg, std::uint8_t& hasTimestamp,
                std::uint16_t& timestamp)
{
    if (length == 0)
        return false;
    bool extended = false;
    bool remote = false;
    switch (text[0]) {
    case 't':
        break;
    case 'T':
        extended = true;
        break;
    case 'r':
        remote = true;
        break;
    case 'R':
        extended = remote = true;
        break;
    default:
        return false;
    }
    const std::size_t idDigits = extended ? 8 : 3;
    if (length < 1 + idDigits + 1)
        return false;
    std::uint32_t id = 0;
    if (!ParseHex(text + 1, idDigits, id) || id > (extended ? 0x1FFFFFFFu : 0x7FFu))
        return false;
    const char lengthDigit = text[1 + idDigits];
    if (lengthDigit < '0' || lengthDigit > '8')
        return false;
    const std::uint8_t dataLength = static_cast<std::uint8_t>(lengthDigit - '0');
    std::size_t pos = 1 + idDigits + 1;
    DriverMsg result;
    std::memset(&result, 0, sizeof result);
    result.id = id;
    result.msgType = static_cast<std::uint8_t>((remote ? kMsgRemote : 0) | (extended ? kMsgExtended : 0));
    result.length = dataLength;
    if (!remote) {
        if (length < pos + 2u * dataLength)
            return false;
        for (std::uint8_t i = 0; i < dataLength; ++i) {
            std::uint32_t byte = 0;
            if (!ParseHex(text + pos, 2, byte))
                return false;
            result.data[i] = static_cast<std::uint8_t>(byte);
            pos += 2;
        }
    }
    std::uint8_t stamped = 0;
    std::uint32_t stamp = 0;
    if (length == pos + 4) {
        if (!ParseHex(text + pos, 4, stamp) || stamp > kMaxTimestamp)
            return false;
        stamped = 1;
    } else if (length != pos) {
        return false;
    }
    msg = result;
    hasTimestamp = stamped;
    timestamp = static_cast<std::uint16_t>(stamp);
    return true;
}

Line ParseLine(const char* text, std::size_t length)
{
    Line line;
    std::memset(&line, 0, sizeof line);
    line.kind = LineKind::Malformed;
    if (length == 0) {
        line.kind = LineKind::Ok;
        return line;
    }
    if (length > kMaxLineLength)
        return line;
    switch (text[0]) {
    case 'z':
    case 'Z':
        if (length == 1)
            line.kind = LineKind::TransmitAck;
        break;
    case 't':
    case 'T':
    case 'r':
    case 'R':
        if (ParseFrame(text, length, line.msg, line.hasTimestamp, line.timestamp))
            line.kind = LineKind::Frame;
        break;
    case 'F': {
        std::uint32_t flags = 0;
        if (length == 3 && ParseHex(text + 1, 2, flags)) {
            line.kind = LineKind::Flags;
            line.flags = static_cast<std::uint8_t>(flags);
        }
        break;
    }
    case 'V':
    case 'N': {
        // Printable characters only: the text goes into a log and a version string.
        bool printable = true;
        for (std::size_t i = 1; i < length; ++i) {
            if (text[i] < ' ' || text[i] > '~')
                printable = false;
        }
        if (printable && length >= 2) {
            line.kind = text[0] == 'V' ? LineKind::Version : LineKind::Serial;
            std::memcpy(line.text, text, length);
            line.text[length] = '\0';
        }
        break;
    }
    default:
        break;
    }
    return line;
}

void ClearParser(LineParser& parser)
{
    parser.used = 0;
    parser.overlong = 0;
}

bool FeedByte(LineParser& parser, char byte, Line& line)
{
    if (byte == kBel) {
        ClearParser(parser);
        std::memset(&line, 0, sizeof line);
        line.kind = LineKind::Error;
        return true;
    }
    if (byte == kCr) {
        if (parser.overlong) {
            ClearParser(parser);
            std::memset(&line, 0, sizeof line);
            line.kind = LineKind::Malformed;
            return true;
        }
        line = ParseLine(parser.line, parser.used);
        ClearParser(parser);
        return true;
    }
    if (byte == '\n' || byte == '\0')
        return false;
    if (parser.overlong)
        return false;
    if (parser.used == kMaxLineLength) {
        parser.overlong = 1;
        return false;
    }
    parser.line[parser.used++] = byte;
    return false;
}

}  // namespace slcan
