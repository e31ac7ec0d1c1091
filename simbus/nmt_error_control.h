// NMT error control of the virtual slaves, both on 0x700 + node: the heartbeat producer
// (one byte, the NMT state, every 0x1017 ms) and the answers to node guarding (a remote
// frame, answered with the state and a toggle bit in bit 7).
//
// The bus has no thread of its own: every adapter operation first sends the heartbeats
// that have fallen due by its tick, in the order of their ticks. A gap of more than
// kHeartbeatBurst periods (a clock set forward, a long pause of the program) is not
// filled: one heartbeat is sent and the period starts again from there.
#pragma once

#include <cstdint>

#include "world.h"

namespace simbus {

constexpr std::uint16_t kProducerHeartbeatTime = 0x1017;
constexpr std::uint32_t kHeartbeatBurst = 8;

// The state byte of heartbeats and guarding answers (CANopen state codes).
std::uint8_t ErrorControlState(NmtState state);

// The node's heartbeat timer starts again at `now` with its current 0x1017 (after a
// write of that object, and after a reset).
void RestartHeartbeat(World& world, std::uint8_t nodeId, std::uint32_t now);

// Every node's timer starts again at `now`: heartbeats that fell due while the adapter was
// closed went nowhere and are not sent late.
void RestartHeartbeats(World& world, std::uint32_t now);

// Sends the heartbeats due by `now`. A 0x1017 changed past the SDO server (by a test
// control) is taken up here, from `now`.
void ProduceHeartbeats(World& world, std::uint32_t now);

// A remote frame on 0x700 + node: the state with the toggle bit, which then alternates.
void AnswerNodeGuarding(World& world, std::uint8_t nodeId, std::uint32_t now);

}  // namespace simbus
