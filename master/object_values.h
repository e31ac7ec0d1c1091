// Object values as the operator types and reads them: conversions between text and the
// bytes of an SDO transfer in five formats. They belong to the master so that the Read
// and Write Object dialogs and the console program take and show a value alike; the
// host build tests and fuzzes them, the Windows build tests them under its C runtime.
#pragma once

#include <cstddef>
#include <cstdint>

#include "node_table.h"

// How a value is written as text. The numbers are those the object dialogs remember
// and the Object Dictionary presets for an entry's data type.
enum DataFormat : std::uint32_t {
    FormatHex = 0,
    FormatFloat = 1,
    FormatUnsigned = 2,
    FormatSigned = 3,
    FormatRaw = 4,
};

// Room FormatObjectValue needs for any value: "XX " per byte and the terminator.
constexpr std::size_t kObjectTextSize = 3 * kMaxObjectBytes + 1;

// The "%X" conversion of the index and subindex fields: leading white space, an optional
// sign and an optional 0x prefix, then hex digits up to the first other character.
// Over-long numbers keep their low 32 bits, as the platform's own conversion does.
// Returns 1 when a number converted.
int ScanHex32(const char* text, std::uint32_t& value);

// Why a value text was refused.
enum class ValueRefusal : std::uint32_t {
    None = 0,
    NotConvertible,  // no number, something other than blanks after it, or (Raw) no byte
    OutOfRange,      // a number that does not fit `count` bytes (Raw: a token above FF)
    TooManyBytes,    // Raw: more than kMaxObjectBytes
};

// Converts `text` into `buffer` of kMaxObjectBytes (cleared first). Returns the number of
// value bytes (`count` for the single-number formats, the number of bytes for Raw), or
// 0 when the text is refused, with the reason in `refusal` when given. Only a text that
// converts completely is taken (blanks around it aside): a value is never cut to fit.
// Hex takes an optional 0x prefix, Signed an optional sign; Float always takes 4 bytes.
std::uint32_t ParseObjectValue(DataFormat format, const char* text, std::uint8_t* buffer, std::uint32_t count,
                               ValueRefusal* refusal = nullptr);

// The smallest and largest value `count` bytes hold in `format`, written as the format
// shows values ("0" and "FF" for Hex with one byte, "-128" and "127" for Signed; Raw: one
// byte), for telling the operator what fits.
void DescribeValueRange(DataFormat format, std::uint32_t count, char* lowest, char* highest, std::size_t size);

// The first min(length, 4) bytes as one number, least significant first; Signed is
// sign-extended, Float takes four bytes whatever the length.
std::uint32_t ExtractValue(DataFormat format, std::uint32_t length, const std::uint8_t* buffer);

// Writes the value's text into `text` (at most `size` bytes, always terminated) and
// returns `text`. Raw shows up to kMaxObjectBytes.
const char* FormatObjectValue(const std::uint8_t* buffer, DataFormat format, std::uint32_t length, char* text,
                              std::size_t size);
