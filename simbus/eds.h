// The simulated slaves' side of an EDS file: the entries eds::ReadDevice reads, turned
// into what one slave's object dictionary is made of.
//
// Besides the values, keys of our own, which other EDS readers skip, make the default
// slaves' inputs move: SimRunningLight=<ms per step>, SimRamp=<ms per count>[,<modulo>],
// SimMirror=<index>sub<subindex> (the entry reads back that output); and one lets an
// operator raise an emergency: SimEmergency=[<index>sub<subindex>] on a number entry (a
// code written there raises it, 0 clears it; the named entry's first five bytes are the
// manufacturer bytes, none named: zeros).
//
// A pre-defined error field 0x1003 given with sub 0 only gets kDefaultErrorHistory code
// entries (UNSIGNED32, ro, 0), so that the slave has room for its error history.
// Entries of a data type without a size here (eds::DataTypeSize 0) are refused: a slave
// could not answer for them. An entry without a default value starts at zero (strings and
// domains empty).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "eds_reader.h"
#include "world.h"

namespace simbus {

using eds::DataTypeSize;
using eds::IsVariableLength;
using eds::kTypeBoolean;
using eds::kTypeDomain;
using eds::kTypeInteger16;
using eds::kTypeInteger32;
using eds::kTypeInteger64;
using eds::kTypeInteger8;
using eds::kTypeOctetString;
using eds::kTypeReal32;
using eds::kTypeReal64;
using eds::kTypeUnicodeString;
using eds::kTypeUnsigned16;
using eds::kTypeUnsigned32;
using eds::kTypeUnsigned64;
using eds::kTypeUnsigned8;
using eds::kTypeVisibleString;

struct EdsEntry {
    std::uint16_t index;
    std::uint8_t subIndex;
    std::uint16_t dataType;
    Access access;
    bool pdoMappable;
    std::vector<std::uint8_t> value;  // the default value, little-endian
    std::uint8_t nodeIdTerms;         // times $NODEID is added into the default (a number's)
    Behaviour behaviour;
    std::uint32_t param1;
    std::uint32_t param2;
    // Behaviour::Mirror: the entry read back; Behaviour::Emergency: the manufacturer
    // bytes' entry, when `linked`.
    bool linked;
    std::uint16_t linkedIndex;
    std::uint8_t linkedSubIndex;
};

struct EdsDevice {
    std::vector<EdsEntry> entries;  // sorted by index, then subindex
};

// Reads the EDS for the slave `nodeId` ($NODEID). On failure returns false with a
// message naming the section.
bool ParseEds(std::string_view text, std::uint8_t nodeId, EdsDevice& device, std::string& error);

// The entries of a device already read, for the slave `nodeId`.
bool MakeSlaveDevice(const eds::Device& source, EdsDevice& device, std::string& error);

}  // namespace simbus
