#include "virtual_bus.h"

#include <cstring>

#include "bit_rates.h"
#include "byte_order.h"
#include "emergency_producer.h"
#include "lss_slave.h"
#include "nmt_error_control.h"
#include "object_dictionary.h"
#include "pdo.h"
#include "sdo_server.h"

namespace simbus {

namespace {

constexpr std::uint32_t kNmtCobId = 0x000;
constexpr std::uint32_t kSdoRequestBase = 0x600;
constexpr std::uint32_t kErrorControlBase = 0x700;  // boot-up, heartbeat, node guarding

using driverlib::RingClear;
using driverlib::RingFull;
using driverlib::RingPop;
using driverlib::RingPush;

// Into the master's receive queue; a full queue loses the frame, as the adapter would.
void Receive(World& world, const DriverMsg& msg)
{
    if (!RingPush(world.received, msg))
        world.adapter.overrun = 1;
}

// Frames of delayed slaves whose time has come move to the receive queue, in order.
void ReleaseDueFrames(World& world, std::uint32_t now)
{
    PendingList& pending = world.pending;
    std::uint32_t kept = 0;
    for (std::uint32_t i = 0; i < pending.count; ++i) {
        const PendingFrame& frame = pending.items[i];
        // Due once `now` has reached the tick, in wrapping 32-bit arithmetic.
        if (static_cast<std::int32_t>(now - frame.dueTick) >= 0)
            Receive(world, frame.msg);
        else
            pending.items[kept++] = frame;
    }
    pending.count = kept;
}

// What the slaves have sent by `now`: heartbeats fallen due, then delayed frames.
void CatchUp(World& world, std::uint32_t now)
{
    ProduceHeartbeats(world, now);
    ReleaseDueFrames(world, now);
}

bool ValidNode(const World& world, std::uint32_t nodeId)
{
    return nodeId >= 1 && nodeId <= kMaxNodeId && world.nodes[nodeId].present;
}

void HandleNmt(World& world, std::uint8_t nodeId, const DriverMsg& frame, std::uint32_t now)
{
    if (frame.length != 2 || (frame.data[1] != 0 && frame.data[1] != nodeId))
        return;
    SimNode& node = world.nodes[nodeId];
    switch (frame.data[0]) {
    case 0x01:
        node.nmtState = NmtState::Operational;
        break;
    case 0x02:
        node.nmtState = NmtState::Stopped;
        break;
    case 0x80:
        node.nmtState = NmtState::PreOperational;
        break;
    case 0x81:
        ResetNode(world, nodeId, false, now);
        break;
    case 0x82:
        ResetNode(world, nodeId, true, now);
        break;
    default:
        break;
    }
}

void DeliverToNode(World& world, std::uint8_t nodeId, const DriverMsg& frame, std::uint32_t now)
{
    const SimNode& node = world.nodes[nodeId];
    const bool remote = (frame.msgType & kMsgRemote) != 0;
    if (frame.id == kNmtCobId && !remote) {
        HandleNmt(world, nodeId, frame, now);
        return;
    }
    if (frame.id == kErrorControlBase + nodeId && remote) {
        AnswerNodeGuarding(world, nodeId, now);
        return;
    }
    if (node.nmtState == NmtState::Stopped)
        return;  // a stopped slave takes part in NMT and error control only
    if (frame.id == kSdoRequestBase + nodeId && !remote) {
        HandleSdoRequest(world, nodeId, frame, now);
        return;
    }
    if (node.nmtState != NmtState::Operational)
        return;
    if (remote)
        AnswerRemoteRequest(world, nodeId, frame, now);
    else
        ApplyReceivePdo(world, nodeId, frame);
}

}  // namespace

std::uint32_t KbitFromTiming(std::uint16_t btr0btr1)
{
    const BitRateRow* row = FindBitRate(btr0btr1);
    return row == nullptr ? 0 : row->kBaud;
}

bool DeviceOnBus(World& world, SimNode& node, std::uint32_t now)
{
    if (!world.adapter.open || LssQuiet(node, now))
        return false;
    return node.lss.kbit == 0 || node.lss.kbit == world.adapter.kbit;
}

void NodeTransmit(World& world, std::uint8_t nodeId, const DriverMsg& msg, std::uint32_t now)
{
    NodeTransmit(world, world.nodes[nodeId], msg, now);
}

void NodeTransmit(World& world, SimNode& node, const DriverMsg& msg, std::uint32_t now)
{
    if (!DeviceOnBus(world, node, now) || node.mode == kSimNodeSilent)
        return;
    if (node.mode == kSimNodeDelayed && node.modeParam != 0) {
        PendingList& pending = world.pending;
        if (pending.count < kPendingSize)
            pending.items[pending.count++] = PendingFrame{now + node.modeParam, msg};
        return;
    }
    Receive(world, msg);
}

void ResetNode(World& world, std::uint8_t nodeId, bool communicationOnly, std::uint32_t now)
{
    SimNode& node = world.nodes[nodeId];
    // A node-ID configured through LSS is taken up at this reset: the device moves and resets
    // at the new one, once the frame that reset it has reached every node (SettleNodeIds).
    if (node.lss.pendingNodeId != nodeId) {
        if (node.lss.resetDue != ResetDue::Application)
            node.lss.resetDue = communicationOnly ? ResetDue::Communication : ResetDue::Application;
        return;
    }
    ResetLssSlave(node.lss);
    ResetValues(world, nodeId, communicationOnly);
    node.sdo.state = SdoServerState::Idle;
    node.nmtState = NmtState::PreOperational;
    node.bootAnnounced = 0;
    node.guardToggle = 0;
    node.inError = 0;  // 0x1001 and 0x1003 hold their defaults again
    AnnounceBootUps(world, now);
    RestartHeartbeat(world, nodeId, now);
}

void AnnounceBootUps(World& world, std::uint32_t now)
{
    for (std::uint8_t nodeId = 1; nodeId <= kMaxNodeId; ++nodeId) {
        SimNode& node = world.nodes[nodeId];
        // A node the master cannot hear yet announces itself once it can.
        if (!node.present || node.bootAnnounced || !DeviceOnBus(world, node, now))
            continue;
        node.bootAnnounced = 1;
        DriverMsg bootUp{};
        bootUp.id = kErrorControlBase + nodeId;
        bootUp.length = 1;  // data[0] = 0: boot-up
        NodeTransmit(world, nodeId, bootUp, now);
    }
}

std::uint32_t AdapterInit(World& world, std::uint16_t btr0btr1, int frameType, std::uint32_t now)
{
    ++world.counters.inits;
    const std::uint32_t kbit = KbitFromTiming(btr0btr1);
    if (kbit == 0 || (frameType != 0 && frameType != 1))
        return kSimIllegalParameter;
    // A freshly initialised adapter starts with empty queues.
    world.adapter = Adapter{1, 0, btr0btr1, kbit};
    RingClear(world.received);
    world.pending.count = 0;
    AnnounceBootUps(world, now);
    RestartHeartbeats(world, now);
    return kSimOk;
}

std::uint32_t AdapterClose(World& world)
{
    ++world.counters.closes;
    world.adapter.open = 0;
    world.adapter.overrun = 0;
    RingClear(world.received);
    world.pending.count = 0;
    return kSimOk;
}

std::uint32_t AdapterStatus(World& world, std::uint32_t now)
{
    if (!world.adapter.open)
        return kSimNotInitialised;
    CatchUp(world, now);
    const std::uint32_t status = world.controls.status | (world.adapter.overrun ? kSimReceiveOverrun : 0);
    world.adapter.overrun = 0;
    return status;
}

std::uint32_t AdapterWrite(World& world, const DriverMsg* msg, std::uint32_t now)
{
    if (!world.adapter.open)
        return kSimNotInitialised;
    if (msg == nullptr || msg->length > 8 || (msg->msgType & kMsgStatus) != 0)
        return kSimIllegalParameter;
    CatchUp(world, now);
    if (world.controls.writeFull != 0) {
        --world.controls.writeFull;
        return kSimTransmitFull;
    }
    if (world.controls.writeRefuse != 0) {
        if (world.controls.writeRefuse != kSimAlways)
            --world.controls.writeRefuse;
        return kSimWriteRefused;
    }
    DriverMsg frame{};
    frame.id = msg->id;
    frame.msgType = msg->msgType;
    frame.length = msg->length;
    std::memcpy(frame.data, msg->data, msg->length);
    ++world.counters.writes;
    if (RingFull(world.sent)) {
        DriverMsg oldest{};
        RingPop(world.sent, oldest);  // the log keeps the newest frames
    }
    RingPush(world.sent, frame);
    // CANopen slaves use 11-bit identifiers only; at a foreign bit rate they hear nothing.
    if ((frame.msgType & kMsgExtended) != 0 || frame.id > 0x7FF)
        return kSimOk;
    if (frame.id == kLssRequestId && (frame.msgType & kMsgRemote) == 0) {
        DeliverLssRequest(world, frame, now);  // every device, with a node-ID or without
    } else {
        for (std::uint8_t nodeId = 1; nodeId <= kMaxNodeId; ++nodeId) {
            SimNode& node = world.nodes[nodeId];
            if (node.present && node.mode != kSimNodeSilent && DeviceOnBus(world, node, now))
                DeliverToNode(world, nodeId, frame, now);
        }
    }
    SettleNodeIds(world, now);
    return kSimOk;
}

std::uint32_t AdapterRead(World& world, DriverMsg* msg, std::uint32_t now)
{
    if (!world.adapter.open)
        return kSimReceiveEmpty;
    if (msg == nullptr)
        return kSimIllegalParameter;
    CatchUp(world, now);
    if (!RingPop(world.received, *msg))
        return kSimReceiveEmpty;
    ++world.counters.reads;
    return kSimOk;
}

std::uint32_t AdapterResetClient(World& world)
{
    if (!world.adapter.open)
        return kSimNotInitialised;
    RingClear(world.received);
    world.pending.count = 0;
    world.adapter.overrun = 0;
    return kSimOk;
}

void ResetSimulation(World& world)
{
    const std::uint32_t loads = world.counters.loads;
    const std::uint32_t unloads = world.counters.unloads;
    world.counters = SimCounters{loads, unloads, 0, 0, 0, 0};
    world.adapter = Adapter{};
    world.controls = Controls{};
    world.networkKbit = 0;
    RingClear(world.received);
    RingClear(world.sent);
    world.pending.count = 0;
    std::memset(world.nodes, 0, sizeof world.nodes);
    std::memset(world.unconfigured, 0, sizeof world.unconfigured);
    world.entryCount = 0;
    world.poolUsed = 0;
    world.lastError[0] = '\0';
}

std::uint32_t InjectFrame(World& world, const DriverMsg* msg)
{
    if (!world.adapter.open)
        return kSimNotInitialised;
    if (msg == nullptr)
        return kSimIllegalParameter;
    Receive(world, *msg);
    return kSimOk;
}

std::uint32_t InjectStatus(World& world, std::uint32_t status)
{
    if (!world.adapter.open)
        return kSimNotInitialised;
    DriverMsg msg{};
    msg.msgType = kMsgStatus;
    msg.length = 4;
    StoreLe32(msg.data, status);
    Receive(world, msg);
    return kSimOk;
}

std::uint32_t ReadSent(World& world, DriverMsg* msg)
{
    if (msg == nullptr)
        return kSimIllegalParameter;
    return RingPop(world.sent, *msg) ? kSimOk : kSimReceiveEmpty;
}

std::uint32_t SetNodeMode(World& world, std::uint32_t nodeId, std::uint32_t mode, std::uint32_t param)
{
    if (!ValidNode(world, nodeId) || mode > kSimNodeUnsizedUploads)
        return kSimIllegalParameter;
    SimNode& node = world.nodes[nodeId];
    node.mode = mode;
    node.modeParam = param;
    node.sdo.state = SdoServerState::Idle;
    return kSimOk;
}

std::uint32_t BootNode(World& world, std::uint32_t nodeId, std::uint32_t now)
{
    if (!ValidNode(world, nodeId))
        return kSimIllegalParameter;
    // As powered again: the stored node-ID and bit rate, which may move the device.
    PowerOnLssSlave(world.nodes[nodeId].lss);
    ResetNode(world, static_cast<std::uint8_t>(nodeId), false, now);
    SettleNodeIds(world, now);
    return kSimOk;
}

std::uint32_t FloodPdo(World& world, std::uint32_t nodeId, std::uint32_t count, std::uint32_t now)
{
    if (!ValidNode(world, nodeId))
        return kSimIllegalParameter;
    const auto node = static_cast<std::uint8_t>(nodeId);
    const int n = FirstValidTransmitPdo(world, node);
    DriverMsg pdo{};
    if (n < 0 || !BuildTransmitPdo(world, node, static_cast<std::uint16_t>(n), pdo, now))
        return kSimIllegalParameter;
    for (std::uint32_t i = 0; i < count; ++i)
        NodeTransmit(world, node, pdo, now);
    return kSimOk;
}

std::uint32_t SimulateEmergency(World& world, std::uint32_t nodeId, std::uint32_t code, std::uint32_t errorRegister,
                                const std::uint8_t* manufacturer, std::uint32_t now)
{
    if (!ValidNode(world, nodeId) || code > 0xFFFF || errorRegister > 0xFF)
        return kSimIllegalParameter;
    CatchUp(world, now);  // what fell due before this moment comes first on the bus
    RaiseEmergency(world, static_cast<std::uint8_t>(nodeId), static_cast<std::uint16_t>(code), errorRegister,
                   manufacturer, now);
    return kSimOk;
}

std::uint32_t NodeState(const World& world, std::uint32_t nodeId)
{
    if (!ValidNode(world, nodeId))
        return kSimStateAbsent;
    return static_cast<std::uint32_t>(world.nodes[nodeId].nmtState);
}

}  // namespace simbus
