// A slave's object dictionary inside the World: lookup, value access with the SDO
// server's checks and abort codes, defaults, and the values that change by themselves.
#pragma once

#include <cstdint>
#include <string>

#include "eds.h"
#include "world.h"

namespace simbus {

// CiA 301 abort codes the slaves send.
constexpr std::uint32_t kAbortToggle = 0x05030000;        // toggle bit not alternated
constexpr std::uint32_t kAbortCommand = 0x05040001;       // unknown or invalid command specifier
constexpr std::uint32_t kAbortUnsupported = 0x06010000;   // unsupported access to an object
constexpr std::uint32_t kAbortWriteOnly = 0x06010001;     // read of a write-only object
constexpr std::uint32_t kAbortReadOnly = 0x06010002;      // write of a read-only or const object
constexpr std::uint32_t kAbortNoObject = 0x06020000;      // object does not exist
constexpr std::uint32_t kAbortNotMappable = 0x06040041;   // object cannot be mapped to the PDO
constexpr std::uint32_t kAbortPdoTooLong = 0x06040042;    // mapped objects exceed the PDO length
constexpr std::uint32_t kAbortIncompatible = 0x06040043;  // general parameter incompatibility
constexpr std::uint32_t kAbortTypeLength = 0x06070010;    // data type does not match, length differs
constexpr std::uint32_t kAbortTooLong = 0x06070012;       // length of service parameter too high
constexpr std::uint32_t kAbortTooShort = 0x06070013;      // length of service parameter too low
constexpr std::uint32_t kAbortNoSubIndex = 0x06090011;    // subindex does not exist
constexpr std::uint32_t kAbortValueRange = 0x06090030;    // value range of parameter exceeded
constexpr std::uint32_t kAbortValueTooHigh = 0x06090031;  // value of parameter too high
constexpr std::uint32_t kAbortNotStored = 0x08000020;     // data cannot be transferred or stored
constexpr std::uint32_t kAbortDeviceState = 0x08000022;   // ... because of the present device state

// Store parameters and restore default parameters: sub 1 all, sub 2 communication, sub 3
// application; the command is a signature written to the sub.
constexpr std::uint16_t kStoreParameters = 0x1010;
constexpr std::uint16_t kRestoreDefaults = 0x1011;
constexpr std::uint32_t kSaveSignature = 0x65766173u;  // "save"
constexpr std::uint32_t kLoadSignature = 0x64616F6Cu;  // "load"

// Adds the slave `nodeId` with the EDS's entries (replacing nothing: the node must be
// absent). False with a message when the World has no room left.
bool InstallNode(World& world, std::uint8_t nodeId, const EdsDevice& device, std::string& error);
// Adds a device without a node-ID (read with $NODEID 0); nullptr with a message when the
// World has no room left.
SimNode* InstallUnconfigured(World& world, const EdsDevice& device, std::string& error);
// A free place for a device without a node-ID, or nullptr.
SimNode* FreeUnconfiguredSlot(World& world);

// nullptr when the node is absent or has no such entry.
ObjectEntry* FindEntry(World& world, std::uint8_t nodeId, std::uint16_t index, std::uint8_t subIndex);
// The same for a device wherever it is (with or without a node-ID).
ObjectEntry* FindDeviceEntry(World& world, const SimNode& node, std::uint16_t index, std::uint8_t subIndex);
// 0, kAbortNoObject or kAbortNoSubIndex; `entry` set on 0.
std::uint32_t LookUpEntry(World& world, std::uint8_t nodeId, std::uint16_t index, std::uint8_t subIndex,
                          ObjectEntry*& entry);

inline std::uint8_t* EntryValue(World& world, const ObjectEntry& entry)
{
    return world.pool + entry.valueOffset;
}

// The values after a reset: all entries, or only the communication area 0x1000-0x1FFF;
// the stored value where the entry's area was stored (0x1010), else the default.
void ResetValues(World& world, std::uint8_t nodeId, bool communicationOnly);
void ResetDeviceValues(World& world, const SimNode& node, bool communicationOnly);

// The defaults written with $NODEID follow a change of node-ID from `from` to `to` (0: none);
// the values themselves take them up at the next reset.
void ShiftNodeIdDefaults(World& world, const SimNode& node, std::uint8_t from, std::uint8_t to);

// Brings the self-changing entries (running light, ramps, read-back outputs) up to `now`.
void RefreshInputs(World& world, std::uint8_t nodeId, std::uint32_t now);

// An SDO upload's view: access checked, value copied (at most `capacity` bytes).
std::uint32_t ReadForSdo(World& world, std::uint8_t nodeId, std::uint16_t index, std::uint8_t subIndex,
                         std::uint8_t* data, std::uint32_t capacity, std::uint32_t& length, std::uint32_t now);

// Checks an SDO download of `length` bytes before any data arrive: existence, access,
// and a length announced for a fixed-size type (lengthKnown false: not announced).
std::uint32_t CheckDownload(World& world, std::uint8_t nodeId, std::uint16_t index, std::uint8_t subIndex,
                            bool lengthKnown, std::uint32_t length);

// An SDO download's write: all checks, PDO parameter and error history rules, then the
// store and what the object sets off at `now` (heartbeat timer, emergency). Writes to
// 0x1010 and 0x1011 are commands: they store or restore and leave the value as it is.
std::uint32_t WriteForSdo(World& world, std::uint8_t nodeId, std::uint16_t index, std::uint8_t subIndex,
                          const std::uint8_t* data, std::uint32_t length, std::uint32_t now);

// Test access past the access rights: a shorter number is zero-extended.
std::uint32_t SetValueDirect(World& world, std::uint8_t nodeId, std::uint16_t index, std::uint8_t subIndex,
                             const std::uint8_t* data, std::uint32_t length);

// Stores a value already checked (length within the capacity).
void StoreValue(World& world, ObjectEntry& entry, const std::uint8_t* data, std::uint32_t length);

}  // namespace simbus
