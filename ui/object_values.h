// Object values as the Read and Write Object dialogs show and take them: conversions
// between text and the bytes of an SDO transfer in five formats. Portable (no Win32):
// the dialogs convert their field texts; the host build tests and fuzzes these.
#pragma once

#include <cstddef>
#include <cstdint>

enum DataFormat : std::uint32_t {
    FormatHex = 0,
    FormatFloat = 1,
    FormatUnsigned = 2,
    FormatSigned = 3,
    FormatRaw = 4,
};

constexpr std::uint32_t kObjectValueSize = 1000;  // bytes of one object value at most

// Room FormatObjectValue needs for any value: "XX " per byte and the terminator.
constexpr std::size_t kObjectTextSize = 3 * kObjectValueSize + 1;

// The "%X" conversion of the index and subindex fields: leading white space, an optional
// sign and an optional 0x prefix, then hex digits up to the first other character.
// Over-long numbers keep their low 32 bits, as the platform's own conversion does.
// Returns 1 when a number converted.
int ScanHex32(const char* text, std::uint32_t& value);

// Converts `text` into the 1000-byte `buffer` (cleared first). Returns the number of
// value bytes (`count` for the single-number formats, the number of bytes for Raw), or
// 0 when nothing converts.
std::uint32_t ParseObjectValue(DataFormat format, const char* text, std::uint8_t* buffer,
                               std::uint32_t count);

// The first min(length, 4) bytes as one number, least significant first; Signed is
// sign-extended, Float takes four bytes whatever the length.
std::uint32_t ExtractValue(DataFormat format, std::uint32_t length, const std::uint8_t* buffer);

// Writes the value's text into `text` (at most `size` bytes, always terminated) and
// returns `text`. Raw shows up to 1000 bytes.
const char* FormatObjectValue(const std::uint8_t* buffer, DataFormat format, std::uint32_t length,
                              char* text, std::size_t size);
