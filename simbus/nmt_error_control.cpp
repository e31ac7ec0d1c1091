#include "nmt_error_control.h"

#include "byte_order.h"
#include "object_dictionary.h"
#include "virtual_bus.h"

namespace simbus {

namespace {

constexpr std::uint32_t kErrorControlBase = 0x700;

// 0x1017 of the node in ms; 0 when it has none. Only the low 16 bits count, as in the
// UNSIGNED16 the object is, should an EDS give it a wider type.
std::uint32_t ConfiguredPeriod(World& world, std::uint8_t nodeId)
{
    const ObjectEntry* entry = FindEntry(world, nodeId, kProducerHeartbeatTime, 0);
    if (entry == nullptr || entry->length < 2)
        return 0;
    return LoadLe16(EntryValue(world, *entry));
}

bool Due(std::uint32_t due, std::uint32_t now)
{
    return static_cast<std::int32_t>(now - due) >= 0;
}

void SendErrorControl(World& world, std::uint8_t nodeId, std::uint8_t value, std::uint32_t tick)
{
    DriverMsg msg{};
    msg.id = kErrorControlBase + nodeId;
    msg.length = 1;
    msg.data[0] = value;
    NodeTransmit(world, nodeId, msg, tick);
}

// Puts a timer that lags too far behind, or lies ahead of a clock set back, onto `now`.
void Resynchronise(World& world, std::uint8_t nodeId, std::uint32_t now)
{
    SimNode& node = world.nodes[nodeId];
    const std::uint32_t period = ConfiguredPeriod(world, nodeId);
    if (period != node.heartbeatPeriod) {
        RestartHeartbeat(world, nodeId, now);
        return;
    }
    if (period == 0)
        return;
    const auto lag = static_cast<std::int32_t>(now - node.heartbeatDue);
    if (lag > static_cast<std::int32_t>(period * kHeartbeatBurst))
        node.heartbeatDue = now;
    else if (static_cast<std::int32_t>(node.heartbeatDue - now) > static_cast<std::int32_t>(period))
        node.heartbeatDue = now + period;
}

}  // namespace

std::uint8_t ErrorControlState(NmtState state)
{
    return static_cast<std::uint8_t>(state);
}

void RestartHeartbeat(World& world, std::uint8_t nodeId, std::uint32_t now)
{
    SimNode& node = world.nodes[nodeId];
    node.heartbeatPeriod = ConfiguredPeriod(world, nodeId);
    node.heartbeatDue = now + node.heartbeatPeriod;
}

void RestartHeartbeats(World& world, std::uint32_t now)
{
    for (std::uint8_t nodeId = 1; nodeId <= kMaxNodeId; ++nodeId) {
        if (world.nodes[nodeId].present)
            RestartHeartbeat(world, nodeId, now);
    }
}

void ProduceHeartbeats(World& world, std::uint32_t now)
{
    for (std::uint8_t nodeId = 1; nodeId <= kMaxNodeId; ++nodeId) {
        if (world.nodes[nodeId].present)
            Resynchronise(world, nodeId, now);
    }
    // Oldest due first, so that the heartbeats of several nodes interleave as on the bus.
    // Each node is at most kHeartbeatBurst + 1 periods behind now, so this ends.
    for (;;) {
        std::uint8_t next = 0;
        std::int32_t longestLag = -1;
        for (std::uint8_t nodeId = 1; nodeId <= kMaxNodeId; ++nodeId) {
            const SimNode& node = world.nodes[nodeId];
            if (!node.present || node.heartbeatPeriod == 0 || !Due(node.heartbeatDue, now))
                continue;
            const auto lag = static_cast<std::int32_t>(now - node.heartbeatDue);
            if (lag > longestLag) {
                longestLag = lag;
                next = nodeId;
            }
        }
        if (next == 0)
            return;
        SimNode& node = world.nodes[next];
        SendErrorControl(world, next, ErrorControlState(node.nmtState), node.heartbeatDue);
        node.heartbeatDue += node.heartbeatPeriod;
    }
}

void AnswerNodeGuarding(World& world, std::uint8_t nodeId, std::uint32_t now)
{
    SimNode& node = world.nodes[nodeId];
    const auto value = static_cast<std::uint8_t>((node.guardToggle << 7) | ErrorControlState(node.nmtState));
    node.guardToggle ^= 1;
    SendErrorControl(world, nodeId, value, now);
}

}  // namespace simbus
