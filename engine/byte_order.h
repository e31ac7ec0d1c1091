// Little-endian loads and stores: CANopen puts multi-byte values into frames least
// significant byte first, and EDS and DCF values are kept in the same order. The engine,
// the master, the EDS reader and the windows all load through these.
#pragma once

#include <cstddef>
#include <cstdint>

inline std::uint16_t LoadLe16(const std::uint8_t* bytes)
{
    return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
}

inline std::uint32_t LoadLe32(const std::uint8_t* bytes)
{
    return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
           (static_cast<std::uint32_t>(bytes[2]) << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
}

// The first `length` bytes as one number, least significant first. Only the first
// eight count: a longer value does not fit the result.
inline std::uint64_t LoadLeUnsigned(const std::uint8_t* bytes, std::size_t length)
{
    std::uint64_t value = 0;
    for (std::size_t i = length < 8 ? length : 8; i-- > 0;)
        value = value << 8 | bytes[i];
    return value;
}

// The low `length` bytes of `value` as a two's complement number of that width, so
// that INTEGER8 0xFF is -1 and INTEGER24 0x800000 is -8388608. Eight bytes or more
// take `value` whole; no bytes are the number 0.
inline std::int64_t SignExtend(std::uint64_t value, std::size_t length)
{
    if (length == 0)
        return 0;
    if (length >= 8)
        return static_cast<std::int64_t>(value);
    const unsigned shift = static_cast<unsigned>(64 - 8 * length);
    return static_cast<std::int64_t>(value << shift) >> shift;
}

// LoadLeUnsigned, sign-extended from the `length` bytes loaded.
inline std::int64_t LoadLeSigned(const std::uint8_t* bytes, std::size_t length)
{
    return SignExtend(LoadLeUnsigned(bytes, length), length);
}

inline void StoreLe16(std::uint8_t* bytes, std::uint16_t value)
{
    bytes[0] = static_cast<std::uint8_t>(value);
    bytes[1] = static_cast<std::uint8_t>(value >> 8);
}

inline void StoreLe32(std::uint8_t* bytes, std::uint32_t value)
{
    bytes[0] = static_cast<std::uint8_t>(value);
    bytes[1] = static_cast<std::uint8_t>(value >> 8);
    bytes[2] = static_cast<std::uint8_t>(value >> 16);
    bytes[3] = static_cast<std::uint8_t>(value >> 24);
}
