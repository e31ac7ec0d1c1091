// The LSS slave of every virtual device (layer setting services): requests on 0x7E5,
// answers on 0x7E4, 8 bytes each; a request of another length is not one.
//
// A device's identity is its object 0x1018: sub 1 vendor, 2 product, 3 revision, 4 serial.
// Every device takes part, in any NMT state, with a node-ID or without one (node-ID 0xFF,
// non-configured: it does not boot, runs no SDO server and sends no heartbeat; it answers
// LSS only). Services by LSS state:
//   both states    switch state global (0x04), identify remote slave by ranges (0x46-0x4B,
//                  in order, answered 0x4F), identify non-configured (0x4C, answered 0x50 by
//                  a device without a node-ID)
//   waiting        switch state selective (0x40-0x43 in order, answered 0x44 by the device
//                  with that identity, which goes to configuration), Fastscan (0x51, devices
//                  without a node-ID only; answered 0x4F)
//   configuration  configure node-ID (0x11: 1-127 or 0xFF, else error 1), configure bit
//                  timing (0x13: table 0, indexes 0-4 and 6-8, else error 1), activate bit
//                  timing (0x15), store (0x17), inquire identity and node-ID (0x5A-0x5E)
//
// A configured node-ID waits: a device with a node-ID takes it up at its next NMT reset
// (communication or application), a device without one when switched back to waiting; it
// then boots at the new node-ID, its $NODEID defaults moved with it. Node-ID 0xFF takes the
// device's node-ID away at that reset. A node-ID another device already has is not taken
// up: the device keeps its own (the simulation holds one device per node-ID). A stored
// node-ID and bit rate are taken up at the next power-on (SimBootNode) and last for the
// life of the process, as the devices' other values do.
//
// Activate bit timing switches a configured bit rate after the switch delay; the device
// stays quiet for twice the delay (it hears and sends nothing), then runs at the new rate
// only and is silent at any other, as a whole network at a wrong bit rate is.
//
// Identical answers that several devices send to one request at once are one frame on the
// bus, as CAN makes of them; a delayed device's answer comes on its own.
#pragma once

#include <cstdint>

#include "world.h"

namespace simbus {

constexpr std::uint32_t kLssRequestId = 0x7E5;
constexpr std::uint32_t kLssAnswerId = 0x7E4;

// The LSS slave of a device just installed with `nodeId` (kNoNodeId: none) at `kbit`.
void StartLssSlave(SimNode& node, std::uint8_t nodeId, std::uint32_t kbit);

// Power-on: the stored node-ID becomes the pending one (taken up at the reset that
// follows), the stored bit rate the one the device runs at.
void PowerOnLssSlave(LssSlave& lss);

// After an NMT reset at the device's node-ID: waiting state, nothing half received.
void ResetLssSlave(LssSlave& lss);

// Neither an active nor a configured node-ID.
bool NonConfigured(const SimNode& node);

// True while the device switches its bit rate (takes the new rate up once it is due).
bool LssQuiet(SimNode& node, std::uint32_t now);

// One device's handling of a request: true with `answer` when it answers.
bool AnswerLss(World& world, SimNode& node, const DriverMsg& request, std::uint32_t now, DriverMsg& answer);

// A request on 0x7E5 reaches every device on the bus; their answers go to the master.
void DeliverLssRequest(World& world, const DriverMsg& request, std::uint32_t now);

// Resets that take up a new node-ID, once a frame has reached every node: the device moves
// to its new node-ID (or among those without one) and resets there.
void SettleNodeIds(World& world, std::uint32_t now);

}  // namespace simbus
