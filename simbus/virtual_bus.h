// The virtual bus: the adapter behind the driver names, the master's receive queue, the
// virtual slaves' reception (NMT, SDO, PDO, LSS) and what the test controls change.
//
// A frame the master writes reaches every slave at once, inside the write; what the
// slaves send goes into the receive queue (4096 messages; on overflow new frames are
// lost and CAN_Status reports kSimReceiveOverrun once). A slave hears the master only
// while the adapter is open at the slave's bit rate: the network's (any, when the network
// names none) until LSS changes it. Every operation takes the current millisecond tick, which drives delayed
// answers, heartbeats and the changing inputs.
#pragma once

#include <cstdint>

#include "world.h"

namespace simbus {

// kbit/s of an adapter bus timing word; 0 for an unknown word.
std::uint32_t KbitFromTiming(std::uint16_t btr0btr1);

// Driver names.
std::uint32_t AdapterInit(World& world, std::uint16_t btr0btr1, int frameType, std::uint32_t now);
std::uint32_t AdapterClose(World& world);
std::uint32_t AdapterStatus(World& world, std::uint32_t now);
std::uint32_t AdapterWrite(World& world, const DriverMsg* msg, std::uint32_t now);
std::uint32_t AdapterRead(World& world, DriverMsg* msg, std::uint32_t now);
std::uint32_t AdapterResetClient(World& world);

// Empties the network (no slaves, no values), closes the adapter, clears the queues,
// the sent log, the controls and the counters but loads and unloads.
void ResetSimulation(World& world);

// Slaves that have not yet shown their boot-up send it now, if the master can hear them.
void AnnounceBootUps(World& world, std::uint32_t now);

// A slave puts a frame on the bus (through its delay, to the master's receive queue).
void NodeTransmit(World& world, std::uint8_t nodeId, const DriverMsg& msg, std::uint32_t now);
void NodeTransmit(World& world, SimNode& node, const DriverMsg& msg, std::uint32_t now);

// The device and the master meet: the adapter is open at the device's bit rate (any, for a
// device without one) and the device is not switching its bit rate.
bool DeviceOnBus(World& world, SimNode& node, std::uint32_t now);

// NMT reset of one slave: defaults back (all or the communication area), SDO transfer
// dropped, not in error, pre-operational, boot-up, heartbeat timer and guarding toggle
// from the start, LSS in waiting state. A slave with another node-ID configured is only
// marked: SettleNodeIds moves it and resets it there.
void ResetNode(World& world, std::uint8_t nodeId, bool communicationOnly, std::uint32_t now);

// Controls.
std::uint32_t InjectFrame(World& world, const DriverMsg* msg);
std::uint32_t InjectStatus(World& world, std::uint32_t status);
std::uint32_t ReadSent(World& world, DriverMsg* msg);
std::uint32_t SetNodeMode(World& world, std::uint32_t nodeId, std::uint32_t mode, std::uint32_t param);
std::uint32_t BootNode(World& world, std::uint32_t nodeId, std::uint32_t now);
std::uint32_t FloodPdo(World& world, std::uint32_t nodeId, std::uint32_t count, std::uint32_t now);
// SimRaiseEmergency: see RaiseEmergency (emergency_producer.h).
std::uint32_t SimulateEmergency(World& world, std::uint32_t nodeId, std::uint32_t code, std::uint32_t errorRegister,
                                const std::uint8_t* manufacturer, std::uint32_t now);
std::uint32_t NodeState(const World& world, std::uint32_t nodeId);

}  // namespace simbus
