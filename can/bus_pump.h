// The bus pump: the only link between the engine and the driver binding.
//
// PumpBus reads at most one message from the driver, traces it, runs one engine cycle
// with it and offers it to the consumers (emergencies, error control), then always runs
// one cycle without a frame and the consumers' deadlines. SendFrame is the engine's send
// hook and the senders' way onto the bus.
#pragma once

#include <cstdint>

#include "bus_ticks.h"
#include "driver_api.h"
#include "node_table.h"

// One pump step on the program's node table (MasterNodeTable).
void PumpBus();

// Empties the driver's receive queue before a transfer starts: every frame read is
// traced, PDO frames among them go to their slots and every frame is offered to the
// consumers; nothing reaches an SDO client.
void DrainReceiveQueue();

// Writes one frame, retrying for at most kTransmitRetryMs while the transmit queue is
// full. Returns 1 when the driver accepted it, 0 otherwise.
int SendFrame(const CanFrame& frame);

// How long SendFrame retries a full transmit queue before it gives the frame up.
constexpr std::uint32_t kTransmitRetryMs = 100;

CanFrame MsgToFrame(const DriverMsg& msg);
DriverMsg FrameToMsg(const CanFrame& frame);
