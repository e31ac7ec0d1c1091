// Electronic data sheets (CiA 306): an EDS file turned into the entries of one slave's
// object dictionary.
//
// Read: the object lists [MandatoryObjects], [OptionalObjects], [ManufacturerObjects];
// for each object its section [XXXX] (ObjectType 0x7 VAR, 0x2 DOMAIN, 0x8 ARRAY,
// 0x9 RECORD) and, for arrays and records, the sections [XXXXsubN] (N in hex). Per
// entry: DataType, AccessType (ro wo rw rwr rww const), DefaultValue, PDOMapping.
// Default values: decimal, 0x hexadecimal, 0-prefixed octal, negative numbers, sums with
// $NODEID ("$NODEID+0x180"), REAL32/REAL64 as decimal fractions, strings as written,
// OCTET_STRING and DOMAIN as pairs of hex digits. CompactSubObj is not supported.
//
// Three keys of our own, which other EDS readers skip, make the default slaves' inputs
// move: SimRunningLight=<ms per step>, SimRamp=<ms per count>[,<modulo>],
// SimMirror=<index>sub<subindex> (the entry reads back that output).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "world.h"

namespace simbus {

// CiA 301 data types the slaves know.
constexpr std::uint16_t kTypeBoolean = 0x0001;
constexpr std::uint16_t kTypeInteger8 = 0x0002;
constexpr std::uint16_t kTypeInteger16 = 0x0003;
constexpr std::uint16_t kTypeInteger32 = 0x0004;
constexpr std::uint16_t kTypeUnsigned8 = 0x0005;
constexpr std::uint16_t kTypeUnsigned16 = 0x0006;
constexpr std::uint16_t kTypeUnsigned32 = 0x0007;
constexpr std::uint16_t kTypeReal32 = 0x0008;
constexpr std::uint16_t kTypeVisibleString = 0x0009;
constexpr std::uint16_t kTypeOctetString = 0x000A;
constexpr std::uint16_t kTypeUnicodeString = 0x000B;
constexpr std::uint16_t kTypeDomain = 0x000F;
constexpr std::uint16_t kTypeReal64 = 0x0011;
constexpr std::uint16_t kTypeInteger64 = 0x0015;
constexpr std::uint16_t kTypeUnsigned64 = 0x001B;

// Bytes of a value of the type; 0 for an unknown type.
std::uint32_t DataTypeSize(std::uint16_t dataType);
// Strings and domains: any length up to the entry's capacity.
bool IsVariableLength(std::uint16_t dataType);

struct EdsEntry {
    std::uint16_t index;
    std::uint8_t subIndex;
    std::uint16_t dataType;
    Access access;
    bool pdoMappable;
    std::vector<std::uint8_t> value;  // the default value, little-endian
    Behaviour behaviour;
    std::uint32_t param1;
    std::uint32_t param2;
    std::uint16_t mirrorIndex;        // Behaviour::Mirror: the entry read back
    std::uint8_t mirrorSubIndex;
};

struct EdsDevice {
    std::vector<EdsEntry> entries;  // sorted by index, then subindex
};

// Reads the EDS for the slave `nodeId` ($NODEID). On failure returns false with a
// message naming the section.
bool ParseEds(std::string_view text, std::uint8_t nodeId, EdsDevice& device, std::string& error);

// One EDS number: decimal, 0x hex, 0-prefixed octal, a leading '-', or '+'-joined terms
// with $NODEID. False when it is none of these or overflows 64 bits.
bool ParseEdsNumber(std::string_view text, std::uint8_t nodeId, bool& negative, std::uint64_t& magnitude);

// The default value text as bytes of the data type; false when it does not fit.
bool EncodeEdsValue(std::string_view text, std::uint16_t dataType, std::uint8_t nodeId,
                    std::vector<std::uint8_t>& bytes);

}  // namespace simbus
