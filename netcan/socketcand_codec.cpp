#include "socketcand_codec.h"

#include <cstdio>
#include <cstring>

#include "ascii_text.h"

namespace netcan {

namespace {

constexpr std::uint32_t kMaxStandardId = 0x7FF;
constexpr std::uint32_t kMaxExtendedId = 0x1FFFFFFF;
constexpr std::size_t kMaxWords = 16;

struct Word {
    const char* text;
    std::size_t length;
};

// Splits into blank-separated words; false when there are more than kMaxWords.
bool SplitWords(const char* text, std::size_t length, Word (&words)[kMaxWords], std::size_t& count)
{
    count = 0;
    std::size_t i = 0;
    while (i < length) {
        while (i < length && ascii::IsBlank(text[i]))
            ++i;
        if (i == length)
            break;
        const std::size_t start = i;
        while (i < length && !ascii::IsBlank(text[i]))
            ++i;
        if (count == kMaxWords)
            return false;
        words[count++] = Word{text + start, i - start};
    }
    return true;
}

bool WordIs(const Word& word, const char* keyword)
{
    const std::size_t n = std::strlen(keyword);
    return word.length == n && std::memcmp(word.text, keyword, n) == 0;
}

// A hexadecimal number of 1 to 8 digits.
bool ParseHex(const Word& word, std::uint32_t& value)
{
    if (word.length == 0 || word.length > 8)
        return false;
    value = 0;
    for (std::size_t i = 0; i < word.length; ++i) {
        const int digit = ascii::HexDigit(word.text[i]);
        if (digit < 0)
            return false;
        value = (value << 4) | static_cast<std::uint32_t>(digit);
    }
    return true;
}

// A decimal number of 1 to 3 digits (a data length code).
bool ParseSmallDecimal(const Word& word, std::uint32_t& value)
{
    if (word.length == 0 || word.length > 3)
        return false;
    value = 0;
    for (std::size_t i = 0; i < word.length; ++i) {
        if (word.text[i] < '0' || word.text[i] > '9')
            return false;
        value = value * 10 + static_cast<std::uint32_t>(word.text[i] - '0');
    }
    return true;
}

// "seconds.microseconds": digits, one dot, digits. The value itself is not needed.
bool IsTimestamp(const Word& word)
{
    std::size_t dots = 0;
    std::size_t digits = 0;
    for (std::size_t i = 0; i < word.length; ++i) {
        if (word.text[i] == '.')
            ++dots;
        else if (word.text[i] >= '0' && word.text[i] <= '9')
            ++digits;
        else
            return false;
    }
    return dots == 1 && digits > 0;
}

// The identifier of a received frame: 8 digits mark an extended one, as the server
// writes them; shorter ones are standard identifiers and must fit 11 bits.
bool ParseIdentifier(const Word& word, DriverMsg& msg)
{
    std::uint32_t id = 0;
    if (!ParseHex(word, id))
        return false;
    if (word.length == 8) {
        if (id > kMaxExtendedId)
            return false;
        msg.msgType = static_cast<std::uint8_t>(msg.msgType | kMsgExtended);
    } else if (id > kMaxStandardId) {
        return false;
    }
    msg.id = id;
    return true;
}

// Data of a received frame: hex byte pairs, written as one run ("0011AA") or one pair
// per word ("00 11 AA"); both forms are in use. At most 8 bytes.
bool ParseData(const Word* words, std::size_t count, DriverMsg& msg)
{
    std::size_t nibbles = 0;
    std::uint8_t value[8] = {};
    for (std::size_t w = 0; w < count; ++w) {
        if (words[w].length % 2 != 0)
            return false;
        for (std::size_t i = 0; i < words[w].length; ++i) {
            const int digit = ascii::HexDigit(words[w].text[i]);
            if (digit < 0 || nibbles == 16)
                return false;
            value[nibbles / 2] = static_cast<std::uint8_t>((value[nibbles / 2] << 4) | digit);
            ++nibbles;
        }
    }
    msg.length = static_cast<std::uint8_t>(nibbles / 2);
    std::memcpy(msg.data, value, sizeof value);
    return true;
}

Element Make(ElementKind kind)
{
    Element element;
    std::memset(&element, 0, sizeof element);
    element.kind = kind;
    return element;
}

}  // namespace

std::size_t FormatSendCommand(const DriverMsg& msg, char* text, std::size_t size)
{
    if (text == nullptr || size == 0)
        return 0;
    text[0] = '\0';
    if (msg.length > 8 || (msg.msgType & kMsgStatus) != 0)
        return 0;
    const bool extended = (msg.msgType & kMsgExtended) != 0;
    if (msg.id > (extended ? kMaxExtendedId : kMaxStandardId))
        return 0;

    // A standard identifier always takes 3 digits and an extended one 8: the server tells
    // them apart by that count alone.
    const char* const idFormat = extended ? "%08X" : "%03X";
    char id[9];
    std::snprintf(id, sizeof id, idFormat, static_cast<unsigned>(msg.id));

    int used = 0;
    if ((msg.msgType & kMsgRemote) != 0) {
        used = std::snprintf(text, size, "< sendrtr %s %u >", id, static_cast<unsigned>(msg.length));
    } else {
        used = std::snprintf(text, size, "< send %s %u", id, static_cast<unsigned>(msg.length));
        for (std::size_t i = 0; i < msg.length && used > 0 && static_cast<std::size_t>(used) < size; ++i) {
            used += std::snprintf(text + used, size - static_cast<std::size_t>(used), " %02X",
                                  static_cast<unsigned>(msg.data[i]));
        }
        if (used > 0 && static_cast<std::size_t>(used) < size)
            used += std::snprintf(text + used, size - static_cast<std::size_t>(used), " >");
    }
    if (used <= 0 || static_cast<std::size_t>(used) >= size) {
        text[0] = '\0';
        return 0;
    }
    return static_cast<std::size_t>(used);
}

Element ParseElement(const char* text, std::size_t length)
{
    Word words[kMaxWords];
    std::size_t count = 0;
    if (text == nullptr || !SplitWords(text, length, words, count) || count == 0)
        return Make(ElementKind::Malformed);

    if (WordIs(words[0], "hi") && count == 1)
        return Make(ElementKind::Hi);
    if (WordIs(words[0], "ok") && count == 1)
        return Make(ElementKind::Ok);

    if (WordIs(words[0], "error")) {
        Element element = Make(ElementKind::Error);
        std::uint32_t errorClass = 0;
        if (count >= 2 && ParseHex(words[1], errorClass)) {
            element.hasErrorClass = 1;
            element.errorClass = errorClass;
        }
        return element;
    }

    if (WordIs(words[0], "frame")) {
        Element element = Make(ElementKind::Frame);
        if (count < 3 || !ParseIdentifier(words[1], element.msg) || !IsTimestamp(words[2]) ||
            !ParseData(words + 3, count - 3, element.msg))
            return Make(ElementKind::Malformed);
        return element;
    }

    if (WordIs(words[0], "rtr")) {
        Element element = Make(ElementKind::Frame);
        std::uint32_t dlc = 0;
        if (count != 4 || !ParseIdentifier(words[1], element.msg) || !IsTimestamp(words[2]) ||
            !ParseSmallDecimal(words[3], dlc) || dlc > 8)
            return Make(ElementKind::Malformed);
        element.msg.msgType = static_cast<std::uint8_t>(element.msg.msgType | kMsgRemote);
        element.msg.length = static_cast<std::uint8_t>(dlc);
        return element;
    }

    return Make(ElementKind::Other);
}

void ClearElementBuffer(ElementBuffer& buffer)
{
    buffer.used = 0;
}

char* RoomAt(ElementBuffer& buffer)
{
    return buffer.bytes + buffer.used;
}

std::size_t Room(const ElementBuffer& buffer)
{
    return ElementBuffer::kCapacity - buffer.used;
}

void Commit(ElementBuffer& buffer, std::size_t count)
{
    buffer.used += count <= Room(buffer) ? count : Room(buffer);
}

int TakeElement(ElementBuffer& buffer, char (&text)[kMaxElementLength + 1])
{
    std::size_t consumed = 0;
    int result = -1;
    while (consumed < buffer.used) {
        const char* start = static_cast<const char*>(std::memchr(buffer.bytes + consumed, '<', buffer.used - consumed));
        if (start == nullptr) {
            consumed = buffer.used;  // nothing but bytes between elements
            break;
        }
        consumed = static_cast<std::size_t>(start - buffer.bytes);
        std::size_t i = consumed + 1;
        while (i < buffer.used && buffer.bytes[i] != '>' && buffer.bytes[i] != '<' &&
               i - consumed - 1 <= kMaxElementLength)
            ++i;
        const std::size_t inner = i - consumed - 1;
        if (inner > kMaxElementLength) {
            consumed = i;  // too long: drop what was seen, look for the next '<'
            continue;
        }
        if (i == buffer.used)
            break;  // not closed yet: keep it for the next bytes
        if (buffer.bytes[i] == '<') {
            consumed = i;  // interrupted by a new element: drop the unfinished one
            continue;
        }
        std::memcpy(text, buffer.bytes + consumed + 1, inner);
        text[inner] = '\0';
        consumed = i + 1;
        result = static_cast<int>(inner);
        break;
    }
    if (consumed > 0) {
        std::memmove(buffer.bytes, buffer.bytes + consumed, buffer.used - consumed);
        buffer.used -= consumed;
    }
    return result;
}

}  // namespace netcan
