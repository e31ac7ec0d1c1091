// The whole state of the simulated bus in one plain-data block: adapter, queues, slaves,
// their object dictionaries and values, the test controls and the counters.
//
// The library is unloaded after every use of the bus while the slaves must keep their
// values, so the block outlives the code: it is allocated once per process and found
// again after a reload (see driver_exports.cpp). Hence plain data only: no pointers
// into the module, no function pointers, no heap-owning members; positions are offsets
// and indices, and a zero-filled block is a valid empty world.
#pragma once

#include <cstdint>
#include <type_traits>

#include "driver_api.h"
#include "eds_reader.h"
#include "frame_ring.h"
#include "simbus_control.h"

namespace simbus {

constexpr std::uint32_t kMaxNodeId = 127;
constexpr std::uint32_t kMaxEntries = 16384;              // object entries of all slaves
constexpr std::uint32_t kPoolBytes = 2u * 1024u * 1024u;  // current, default and stored values
constexpr std::uint32_t kMaxValueBytes = 1024;            // longest writable string or domain
constexpr std::uint32_t kReceiveQueueSize = 4096;         // master's receive queue
constexpr std::uint32_t kPendingSize = 1024;              // frames of delayed nodes in flight
constexpr std::uint32_t kSentLogSize = 4096;              // frames the master sent, for tests
constexpr std::uint32_t kMaxUnconfigured = 16;            // devices without a node-ID at a time

// The node-ID of a device that has none (non-configured): it answers LSS only.
constexpr std::uint8_t kNoNodeId = 0xFF;

// "VSB1": identifies a block of this layout when a reloaded library finds it again.
constexpr std::uint32_t kWorldMagic = 0x31425356u;

enum class NmtState : std::uint8_t {
    Stopped = 0x04,
    Operational = 0x05,
    PreOperational = 0x7F,
};

// The EDS reader's access types (one byte, plain data).
using Access = eds::Access;
using eds::IsReadable;
using eds::IsWritable;

// Values a slave changes by itself (only the default network's EDS files use them).
enum class Behaviour : std::uint8_t {
    None,
    RunningLight,  // one bit set, moving up one place every param1 ms
    Ramp,          // counts up one every param1 ms, modulo param2 (0: wraps with the type)
    Mirror,        // copy of the entry number param1 (an output read back)
    Emergency,     // a code written here raises an emergency (0 clears it); the manufacturer
                   // bytes come from the entry number param1, or are zero (kNoEntry)
};

// behaviourParam1 of an entry that names none.
constexpr std::uint32_t kNoEntry = 0xFFFFFFFFu;

// storedOffset of an entry that is never stored (read-only, DOMAIN, self-changing).
constexpr std::uint32_t kNotStorable = 0xFFFFFFFFu;

struct ObjectEntry {
    std::uint16_t index;
    std::uint8_t subIndex;
    Access access;
    std::uint16_t dataType;    // CiA 301 data type index (0x0007 UNSIGNED32, ...)
    std::uint8_t pdoMappable;  // PDOMapping=1 in the EDS
    Behaviour behaviour;
    std::uint32_t valueOffset;    // current value in World::pool
    std::uint32_t defaultOffset;  // value after a reset, in World::pool
    std::uint16_t length;         // bytes of the current value
    std::uint16_t defaultLength;
    std::uint16_t capacity;         // room at valueOffset: the type's size, or up to kMaxValueBytes
    std::uint8_t nodeIdTerms;       // $NODEID terms in the EDS's default: the default moves with the node-ID
    std::uint8_t stored;            // 1: a reset loads the stored value (0x1010) in place of the default
    std::uint32_t behaviourParam1;  // see Behaviour
    std::uint32_t behaviourParam2;
    std::uint32_t storedOffset;  // room of `capacity` bytes in World::pool, or kNotStorable
    std::uint16_t storedLength;
    std::uint16_t reserved;
};

enum class SdoServerState : std::uint8_t { Idle, Uploading, Downloading };

// One segmented transfer in progress on a slave's SDO server.
struct SdoServer {
    SdoServerState state;
    std::uint8_t toggle;         // toggle bit the next segment request must carry
    std::uint8_t subIndex;       // of the current or last transfer (for aborts)
    std::uint8_t sizeIndicated;  // download: the client announced `size`
    std::uint16_t index;
    std::uint16_t reserved;
    std::uint32_t size;                       // upload: bytes to send; download: announced size
    std::uint32_t offset;                     // bytes sent or received so far
    std::uint8_t buffer[kMaxValueBytes + 8];  // +8: room for a 1001-byte announcement
};

enum class LssMode : std::uint8_t { Waiting = 0, Configuration = 1 };

// What a node-ID change waits for: the reset at which the device takes up its new node-ID.
enum class ResetDue : std::uint8_t { None = 0, Application, Communication };

// A device's LSS slave: its node-ID and bit rate as configured, stored and in use, and the
// multi-frame requests in progress.
struct LssSlave {
    LssMode mode;
    std::uint8_t activeNodeId;    // 1-127, or kNoNodeId
    std::uint8_t pendingNodeId;   // configured: taken up at the next reset communication
    std::uint8_t storedNodeId;    // taken up at power-on
    std::uint8_t defaultsNodeId;  // the node-ID its $NODEID defaults hold (0 for none)
    ResetDue resetDue;            // a reset to a new node-ID, done once the frame has reached every node
    std::uint8_t selectStep;      // switch state selective: parts received in order, 0-3
    std::uint8_t selectMatch;     // ...and all of them matched
    std::uint8_t identifyStep;    // identify remote slave: values received in order, 0-5
    std::uint8_t identifyMatch;   // ...and all of them matched
    std::uint8_t fastscanPart;    // the part of its identity a Fastscan has reached, 0-3
    std::uint8_t switching;       // activate bit timing: pendingKbit from switchTick, quiet until quietUntil
    std::uint32_t kbit;           // bit rate it runs at; 0: any (a network without a BitRate)
    std::uint32_t pendingKbit;    // configured; 0: none
    std::uint32_t storedKbit;     // taken up at power-on
    std::uint32_t switchTick;
    std::uint32_t quietUntil;
    std::uint32_t identifyLow;  // identify remote slave: the low end of the range being received
};

struct SimNode {
    std::uint8_t present;
    NmtState nmtState;
    std::uint8_t bootAnnounced;  // its boot-up message has been on the bus
    std::uint8_t guardToggle;    // toggle bit of the next node-guarding answer; 0 after a reset
    std::uint32_t firstEntry;    // its entries in World::entries, sorted by index, subindex
    std::uint32_t entryCount;
    std::uint32_t mode;  // kSimNode*
    std::uint32_t modeParam;
    std::uint32_t heartbeatPeriod;  // ms, 0x1017 as the heartbeat timer last took it; 0: none
    std::uint32_t heartbeatDue;     // tick of the next heartbeat
    std::uint8_t inError;           // an emergency was raised and not yet cleared
    std::uint8_t reserved[3];
    SdoServer sdo;
    LssSlave lss;
};

using driverlib::FrameRing;

struct PendingFrame {
    std::uint32_t dueTick;
    DriverMsg msg;
};

// In sending order; a frame goes to the receive queue once its tick has come.
struct PendingList {
    std::uint32_t count;
    PendingFrame items[kPendingSize];
};

struct Adapter {
    std::uint8_t open;
    std::uint8_t overrun;  // receive queue overflowed since CAN_Status last looked
    std::uint16_t btr0btr1;
    std::uint32_t kbit;  // bit rate it was opened with
};

struct Controls {
    std::uint32_t status;       // SimSetStatus
    std::uint32_t writeFull;    // CAN_Write calls left that report a full queue
    std::uint32_t writeRefuse;  // CAN_Write calls left that refuse; kSimAlways
    std::uint8_t manualClock;
    std::uint8_t animationOff;
    std::uint16_t reserved;
    std::uint32_t manualTick;
};

struct World {
    std::uint32_t magic;
    std::uint32_t layoutSize;  // sizeof(World) of the library that created it
    std::uint8_t networkLoaded;
    SimCounters counters;
    Adapter adapter;
    Controls controls;
    std::uint32_t networkKbit;  // the network file's bit rate, each device's to begin with; 0: any
    FrameRing<kReceiveQueueSize> received;
    PendingList pending;
    FrameRing<kSentLogSize> sent;
    SimNode nodes[kMaxNodeId + 1];           // by node ID; 0 is never present
    SimNode unconfigured[kMaxUnconfigured];  // devices without a node-ID, in no order
    std::uint32_t entryCount;
    ObjectEntry entries[kMaxEntries];
    std::uint32_t poolUsed;
    std::uint8_t pool[kPoolBytes];
    char lastError[1024];
};

static_assert(std::is_trivially_copyable_v<World>);
static_assert(std::is_trivially_default_constructible_v<World>);

}  // namespace simbus
