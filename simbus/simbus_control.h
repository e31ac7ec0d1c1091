// Control entry points of the simulated driver library, for tests only.
//
// The library exports the eight driver names and, beside them, these Sim* names. The
// program never calls them; tests resolve them by name from the loaded library
// (GetProcAddress / dlsym) with the *Entry pointer types below, so they drive and
// observe the same state the program's CAN_* calls act on.
//
//     auto reset = reinterpret_cast<SimResetEntry>(GetProcAddress(module, "SimReset"));
//     reset();                                    // default network, fresh slaves
//     auto mode = reinterpret_cast<SimSetNodeModeEntry>(GetProcAddress(module, "SimSetNodeMode"));
//     mode(3, kSimNodeDelayed, 200);              // node 3 answers 200 ms late
//
// Every result is a 32-bit status word: 0 for success, otherwise one of kSim* below
// (or an SDO abort code where the description says so).
//
// The driver names are not declared here: the program declares functions of the same
// names for its own guarded calls.
#pragma once

#include <cstdint>

#include "driver_api.h"

#if defined(_WIN32)
#define SIMBUS_EXPORT
#else
#define SIMBUS_EXPORT [[gnu::visibility("default")]]
#endif

// Results of the driver names and the controls.
constexpr std::uint32_t kSimOk = 0;
constexpr std::uint32_t kSimWriteRefused = 0x0004;      // CAN_Write: frame not sent (bit 0x80 clear)
constexpr std::uint32_t kSimReceiveEmpty = 0x0020;      // CAN_Read: nothing to read
constexpr std::uint32_t kSimReceiveOverrun = 0x0040;    // CAN_Status: frames were lost, until read
constexpr std::uint32_t kSimTransmitFull = 0x0080;      // CAN_Write: transmit queue full, retry
constexpr std::uint32_t kSimNotInitialised = 0x1000;    // adapter not opened by CAN_Init
constexpr std::uint32_t kSimIllegalParameter = 0x4000;  // unknown bit rate, node, null pointer, ...

// Counters kept for the life of the process (loads and unloads survive SimReset; the
// others restart at 0 there).
struct SimCounters {
    std::uint32_t loads;    // library loads (initialisation of the module)
    std::uint32_t unloads;  // library unloads
    std::uint32_t inits;    // CAN_Init calls
    std::uint32_t closes;   // CAN_Close calls, on an open or an already closed adapter
    std::uint32_t writes;   // frames CAN_Write put on the bus
    std::uint32_t reads;    // messages CAN_Read delivered
};

// Per-node behaviour for SimSetNodeMode; `param` as noted.
constexpr std::uint32_t kSimNodeNormal = 0;
constexpr std::uint32_t kSimNodeSilent = 1;           // hears nothing, sends nothing (unplugged)
constexpr std::uint32_t kSimNodeDelayed = 2;          // every frame it sends arrives param ms late
constexpr std::uint32_t kSimNodeSdoLength7 = 3;       // SDO responses have length 7
constexpr std::uint32_t kSimNodeWrongIndex = 4;       // initiate and abort responses echo index + 1
constexpr std::uint32_t kSimNodeBadToggle = 5;        // segment responses carry the wrong toggle
constexpr std::uint32_t kSimNodeAnnounce1001 = 6;     // every upload announces 1001 bytes
constexpr std::uint32_t kSimNodeSizeMismatch = 7;     // segmented upload ends one byte short
constexpr std::uint32_t kSimNodeEndlessSegments = 8;  // upload segments never end
constexpr std::uint32_t kSimNodeAbortAll = 9;         // every SDO request is aborted with param
constexpr std::uint32_t kSimNodeUnsizedUploads = 10;  // segmented uploads do not indicate the size
                                                      // (0x40, bytes 4-7 zero), as CiA 301 allows

// NMT states as SimGetNodeState reports them (the CANopen state codes); 0xFF: no node.
constexpr std::uint32_t kSimStateStopped = 0x04;
constexpr std::uint32_t kSimStateOperational = 0x05;
constexpr std::uint32_t kSimStatePreOperational = 0x7F;
constexpr std::uint32_t kSimStateAbsent = 0xFF;

// SimWriteRefuse count that never runs out.
constexpr std::uint32_t kSimAlways = 0xFFFFFFFFu;

// SimRaiseEmergency's errorRegister that asks for the register from the error code.
constexpr std::uint32_t kSimAutoErrorRegister = 0xFF;

extern "C" {

// Back to the start: the network of simbus.ini beside the library, or the default
// network; every slave fresh (defaults, nothing stored, pre-operational, boot-up at the
// next CAN_Init); the adapter closed; queues, sent frames, controls and counters (but
// loads and unloads) cleared.
// Non-zero when the network file or one of its EDS files had errors (SimGetLastError).
SIMBUS_EXPORT std::uint32_t DRIVER_CALL SimReset();

// Text of the last network loading errors ("" when none), cut to `size`.
SIMBUS_EXPORT std::uint32_t DRIVER_CALL SimGetLastError(char* text, std::uint32_t size);

SIMBUS_EXPORT std::uint32_t DRIVER_CALL SimGetCounters(SimCounters* counters);

// Puts a message into the master's receive queue as if it came from the bus (only while
// the adapter is open). SimInjectStatus queues a driver status message: msgType 0x80,
// length 4, the status little-endian in data[0..3].
SIMBUS_EXPORT std::uint32_t DRIVER_CALL SimInjectFrame(const DriverMsg* msg);
SIMBUS_EXPORT std::uint32_t DRIVER_CALL SimInjectStatus(std::uint32_t status);

// Frames the master sent (accepted by CAN_Write), oldest first; kSimReceiveEmpty when
// none is left. The log keeps the newest 4096.
SIMBUS_EXPORT std::uint32_t DRIVER_CALL SimReadSent(DriverMsg* msg);
SIMBUS_EXPORT std::uint32_t DRIVER_CALL SimClearSent();

// The next `count` CAN_Write calls report a full transmit queue (0x80) and send nothing.
SIMBUS_EXPORT std::uint32_t DRIVER_CALL SimWriteFull(std::uint32_t count);
// The next `count` CAN_Write calls (kSimAlways: all) return kSimWriteRefused; 0 ends it.
SIMBUS_EXPORT std::uint32_t DRIVER_CALL SimWriteRefuse(std::uint32_t count);
// CAN_Status returns this value (ORed with a pending overrun) until set again.
SIMBUS_EXPORT std::uint32_t DRIVER_CALL SimSetStatus(std::uint32_t status);

SIMBUS_EXPORT std::uint32_t DRIVER_CALL SimSetNodeMode(std::uint32_t node, std::uint32_t mode, std::uint32_t param);
// The node resets itself as if powered again: the values stored by 0x1010 where an area
// was stored, else the defaults; pre-operational, boot-up.
SIMBUS_EXPORT std::uint32_t DRIVER_CALL SimBootNode(std::uint32_t node);
// The node sends its first valid transmit PDO `count` times at once, in any NMT state.
SIMBUS_EXPORT std::uint32_t DRIVER_CALL SimFloodPdo(std::uint32_t node, std::uint32_t count);
SIMBUS_EXPORT std::uint32_t DRIVER_CALL SimGetNodeState(std::uint32_t node);
// The node falls into error `code`: 0x1001 takes `errorRegister` (kSimAutoErrorRegister:
// bit 0 and the code's class bit, added to those of an error still held), 0x1003 records
// the code as its newest, and the EMCY (0x80 + node: code, register, the five
// `manufacturer` bytes, nullptr for zeros) goes out unless the node is stopped. Code 0
// clears a held error: 0x1001 becomes 0 and the error-reset EMCY (all zero) goes out.
SIMBUS_EXPORT std::uint32_t DRIVER_CALL SimRaiseEmergency(std::uint32_t node, std::uint32_t code,
                                                          std::uint32_t errorRegister,
                                                          const std::uint8_t* manufacturer);

// An object value of a slave, past its access rights. Results are SDO abort codes
// (0x06020000, 0x06090011, 0x06070012) or kSimIllegalParameter. A shorter value
// written to a number fills the high bytes with 0.
SIMBUS_EXPORT std::uint32_t DRIVER_CALL SimGetObject(std::uint32_t node, std::uint32_t index, std::uint32_t subIndex,
                                                     std::uint8_t* data, std::uint32_t capacity, std::uint32_t* length);
SIMBUS_EXPORT std::uint32_t DRIVER_CALL SimSetObject(std::uint32_t node, std::uint32_t index, std::uint32_t subIndex,
                                                     const std::uint8_t* data, std::uint32_t length);

// The library's millisecond clock (delayed answers, changing inputs): manual != 0 holds
// it at `tick` until called again; manual == 0 returns it to the system clock.
SIMBUS_EXPORT std::uint32_t DRIVER_CALL SimSetClock(std::uint32_t manual, std::uint32_t tick);
// on == 0 stops the inputs that change by themselves (running light, ramps) where they
// are; mirrored outputs keep following.
SIMBUS_EXPORT std::uint32_t DRIVER_CALL SimSetAnimation(std::uint32_t on);

}  // extern "C"

using SimResetEntry = decltype(&SimReset);
using SimGetLastErrorEntry = decltype(&SimGetLastError);
using SimGetCountersEntry = decltype(&SimGetCounters);
using SimInjectFrameEntry = decltype(&SimInjectFrame);
using SimInjectStatusEntry = decltype(&SimInjectStatus);
using SimReadSentEntry = decltype(&SimReadSent);
using SimClearSentEntry = decltype(&SimClearSent);
using SimWriteFullEntry = decltype(&SimWriteFull);
using SimWriteRefuseEntry = decltype(&SimWriteRefuse);
using SimSetStatusEntry = decltype(&SimSetStatus);
using SimSetNodeModeEntry = decltype(&SimSetNodeMode);
using SimBootNodeEntry = decltype(&SimBootNode);
using SimFloodPdoEntry = decltype(&SimFloodPdo);
using SimGetNodeStateEntry = decltype(&SimGetNodeState);
using SimRaiseEmergencyEntry = decltype(&SimRaiseEmergency);
using SimGetObjectEntry = decltype(&SimGetObject);
using SimSetObjectEntry = decltype(&SimSetObject);
using SimSetClockEntry = decltype(&SimSetClock);
using SimSetAnimationEntry = decltype(&SimSetAnimation);

// Every control name the library exports, for export checks and resolvers.
constexpr const char* kSimControlNames[] = {
    "SimReset",       "SimGetLastError", "SimGetCounters",  "SimInjectFrame",    "SimInjectStatus",
    "SimReadSent",    "SimClearSent",    "SimWriteFull",    "SimWriteRefuse",    "SimSetStatus",
    "SimSetNodeMode", "SimBootNode",     "SimFloodPdo",     "SimGetNodeState",   "SimGetObject",
    "SimSetObject",   "SimSetClock",     "SimSetAnimation", "SimRaiseEmergency",
};
