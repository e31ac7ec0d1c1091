// Emergencies of the virtual slaves: the EMCY frame on 0x80 + node (error code, error
// register, five manufacturer bytes), the error register 0x1001 and the history of codes
// in the pre-defined error field 0x1003.
//
// An error is raised by a test control or by writing a code into an entry with the EDS key
// SimEmergency (see eds.h); code 0 clears it. 0x1003 holds as many codes as it has
// subs after sub 0 (the number in sub 0, the newest in sub 1); SDO may write only 0 into
// sub 0, which empties it.
#pragma once

#include <cstdint>

#include "world.h"

namespace simbus {

constexpr std::uint16_t kErrorRegister = 0x1001;
constexpr std::uint16_t kPredefinedErrorField = 0x1003;
constexpr std::uint32_t kEmergencyBase = 0x080;
// Codes an EDS's 0x1003 keeps when it lists sub 0 only.
constexpr std::uint8_t kDefaultErrorHistory = 8;
// An errorRegister for RaiseEmergency that asks for the code's class bits.
constexpr std::uint32_t kAutoErrorRegister = 0xFF;
constexpr std::uint32_t kManufacturerBytes = 5;

// Bit 0 (generic) and the class bit of the error code; 0 for code 0.
std::uint8_t ErrorRegisterBits(std::uint16_t code);

// code != 0: the node is in error. 0x1001 takes errorRegister, or with kAutoErrorRegister
// keeps its bits and adds the code's; the code becomes the newest in 0x1003; the EMCY goes
// out with the manufacturer bytes (nullptr: zeros) unless the node is stopped, where a
// slave sends error control only.
// code 0: a node in error is no longer: 0x1001 becomes 0 and the error-reset EMCY (code 0,
// register 0, manufacturer bytes 0) goes out; a node not in error sends nothing.
void RaiseEmergency(World& world, std::uint8_t nodeId, std::uint16_t code, std::uint32_t errorRegister,
                    const std::uint8_t* manufacturer, std::uint32_t now);

// Abort code for an SDO write of `data` into an entry of 0x1003 (sub 0 takes 0 only, the
// codes are read-only whatever the EDS says); 0 for any other entry.
std::uint32_t CheckErrorHistoryWrite(const ObjectEntry& entry, const std::uint8_t* data, std::uint32_t length);

// After an SDO write was stored: 0x1003 sub 0 empties the history; an entry with
// Behaviour::Emergency raises its code (or clears with 0).
void AfterErrorObjectWrite(World& world, std::uint8_t nodeId, const ObjectEntry& entry, std::uint32_t now);

}  // namespace simbus
