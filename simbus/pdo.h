// Process data objects of a slave: the rules for writing the communication (0x1400,
// 0x1800) and mapping (0x1600, 0x1A00) parameters, transmit PDOs built from the mapped
// values, receive PDOs written into them.
#pragma once

#include <cstdint>

#include "world.h"

namespace simbus {

constexpr std::uint32_t kCobIdInvalid = 0x80000000u;   // bit 31: PDO does not exist
constexpr std::uint32_t kCobIdNoRemote = 0x40000000u;  // bit 30: no remote request allowed
constexpr std::uint32_t kCobIdExtended = 0x20000000u;  // bit 29: 29-bit identifier

// Abort code for an SDO write of `data` into a PDO parameter entry, 0 when the write
// may go ahead (also for entries that are no PDO parameters). The length has been
// checked against the entry's type already.
std::uint32_t CheckPdoParameterWrite(World& world, std::uint8_t nodeId, const ObjectEntry& entry,
                                     const std::uint8_t* data, std::uint32_t length);

// Transmit PDO number n (0x1800 + n) with the mapped values as of `now`; false when
// that PDO is missing or invalid.
bool BuildTransmitPdo(World& world, std::uint8_t nodeId, std::uint16_t n, DriverMsg& msg, std::uint32_t now);

// First valid transmit PDO's number, or -1.
int FirstValidTransmitPdo(World& world, std::uint8_t nodeId);

// A remote frame on one of the node's transmit PDO COB-IDs: the node sends that PDO.
void AnswerRemoteRequest(World& world, std::uint8_t nodeId, const DriverMsg& request, std::uint32_t now);

// A data frame on one of the node's receive PDO COB-IDs: its bytes go into the mapped
// objects. A frame shorter than the mapping is not used, as on a device.
void ApplyReceivePdo(World& world, std::uint8_t nodeId, const DriverMsg& frame);

// Copies `count` bits, least significant first, between little-endian byte strings.
void CopyBits(const std::uint8_t* source, std::uint32_t sourceBit, std::uint8_t* destination,
              std::uint32_t destinationBit, std::uint32_t count);

}  // namespace simbus
