// Drives the simulated slaves (the default network: node 3 and node 5, and one device
// without a node-ID) with arbitrary request frames on their SDO, NMT, PDO and LSS
// identifiers, test modes, resets and clock steps, and checks what must always hold of
// the slaves and of what they answer. LSS may move the devices to other node-IDs, or take
// theirs away: the operations address whichever configured nodes there are.
//
// An input is a sequence of operations, each led by one byte:
//   0 (most values): a frame from the master: node selector, length, 8 data bytes, kind
//   1: a test mode for a node (kSimNode*, with a parameter)
//   2: the node resets itself (boot-up)
//   3: the clock moves on
//   4: the master reads everything the slaves answered so far
//   5: the node raises an emergency (manufacturer bytes, code, error register)
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "lss_slave.h"
#include "network.h"
#include "object_dictionary.h"
#include "virtual_bus.h"
#include "world.h"

namespace {

using simbus::World;

World* world = nullptr;
std::uint32_t now = 0;
bool shortenedAnswers;                     // a node was in the mode that shortens SDO answers
bool everPresent[simbus::kMaxNodeId + 1];  // node-IDs a device has had during the input
constexpr std::uint8_t kNodes[] = {3, 5};
constexpr std::uint32_t kDevices = 3;

// The LSS specifiers of requests, and of the answers a device may give.
constexpr std::uint8_t kLssRequests[] = {0x04, 0x11, 0x13, 0x15, 0x17, 0x40, 0x41, 0x42, 0x43, 0x46, 0x47,
                                         0x48, 0x49, 0x4A, 0x4B, 0x4C, 0x51, 0x5A, 0x5B, 0x5C, 0x5D, 0x5E};
constexpr std::uint8_t kLssAnswers[] = {0x11, 0x13, 0x17, 0x44, 0x4F, 0x50, 0x5A, 0x5B, 0x5C, 0x5D, 0x5E};

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

bool ReadEmbedded(const std::string& name, void*, std::string& text)
{
    const std::string_view eds = simbus::FindEmbeddedEds(name);
    text.assign(eds.begin(), eds.end());
    return !eds.empty();
}

// Nodes 3 and 5 where the network put them, the third device still without a node-ID.
bool DevicesInPlace()
{
    for (std::uint32_t id = 1; id <= simbus::kMaxNodeId; ++id) {
        const simbus::SimNode& node = world->nodes[id];
        const bool expected = id == kNodes[0] || id == kNodes[1];
        if (node.present != (expected ? 1 : 0) || (expected && node.lss.defaultsNodeId != id))
            return false;
    }
    for (std::uint32_t i = 0; i < simbus::kMaxUnconfigured; ++i)
        if (world->unconfigured[i].present != (i == 0 ? 1 : 0))
            return false;
    return world->unconfigured[0].lss.defaultsNodeId == 0;
}

// The devices' places and values as the network put them: taken back when LSS moved a device.
struct Placement {
    simbus::SimNode nodes[simbus::kMaxNodeId + 1];
    simbus::SimNode unconfigured[simbus::kMaxUnconfigured];
    std::vector<std::uint8_t> pool;
};
Placement* placement = nullptr;

// The network once; before every input the slaves are fresh again: in their places, values,
// NMT and LSS state, SDO transfer, test mode, queues.
void Prepare()
{
    if (world == nullptr) {
        world = new World();  // zero-filled: an empty world
        simbus::ResetSimulation(*world);
        simbus::NetworkDescription network = simbus::DefaultNetwork();
        simbus::NetworkNode unconfigured;
        unconfigured.nodeId = simbus::kNoNodeId;
        unconfigured.edsName = "io_module.eds";
        unconfigured.name = "fresh";
        unconfigured.hasSerial = true;
        unconfigured.serial = 0x77;
        network.nonConfigured.push_back(unconfigured);
        std::string errors;
        Check(simbus::BuildNetwork(*world, network, ReadEmbedded, nullptr, errors));
        placement = new Placement();
        std::memcpy(placement->nodes, world->nodes, sizeof world->nodes);
        std::memcpy(placement->unconfigured, world->unconfigured, sizeof world->unconfigured);
        placement->pool.assign(world->pool, world->pool + world->poolUsed);
    }
    if (!DevicesInPlace()) {
        // Moves change places and the $NODEID defaults only: the tables stay as they are.
        std::memcpy(world->nodes, placement->nodes, sizeof world->nodes);
        std::memcpy(world->unconfigured, placement->unconfigured, sizeof world->unconfigured);
        std::memcpy(world->pool, placement->pool.data(), placement->pool.size());
    }
    for (const std::uint8_t node : kNodes) {
        // Nothing an earlier input stored (0x1010) outlives it: every input starts from
        // the defaults.
        simbus::SimNode& slave = world->nodes[node];
        for (std::uint32_t i = 0; i < slave.entryCount; ++i)
            world->entries[slave.firstEntry + i].stored = 0;
        simbus::ResetValues(*world, node, false);
        slave.sdo = simbus::SdoServer{};
        slave.mode = kSimNodeNormal;
        slave.modeParam = 0;
        slave.nmtState = simbus::NmtState::PreOperational;
        slave.bootAnnounced = 1;
        slave.guardToggle = 0;
        slave.inError = 0;
        simbus::StartLssSlave(slave, node, 0);
    }
    simbus::StartLssSlave(world->unconfigured[0], simbus::kNoNodeId, 0);
    world->unconfigured[0].mode = kSimNodeNormal;
    world->received.head = world->received.count = 0;
    world->sent.head = world->sent.count = 0;
    world->pending.count = 0;
    world->controls = simbus::Controls{};
    shortenedAnswers = false;
    for (bool& present : everPresent)
        present = false;
    now = 1000;
    Check(simbus::AdapterInit(*world, 0x672F, 0, now) == 0);
}

// The `selector`th configured node (counting round), 0 when there is none.
std::uint8_t PickNode(std::uint8_t selector)
{
    std::uint8_t ids[simbus::kMaxNodeId];
    std::uint32_t count = 0;
    for (std::uint8_t id = 1; id <= simbus::kMaxNodeId; ++id)
        if (world->nodes[id].present)
            ids[count++] = id;
    return count == 0 ? 0 : ids[selector % count];
}

// Every device is somewhere, once: at its node-ID, or among those without one.
void CheckDevices()
{
    std::uint32_t devices = 0;
    for (std::uint32_t id = 1; id <= simbus::kMaxNodeId; ++id) {
        const simbus::SimNode& node = world->nodes[id];
        if (!node.present)
            continue;
        ++devices;
        everPresent[id] = true;
        Check(node.lss.activeNodeId == id && node.lss.resetDue == simbus::ResetDue::None);
    }
    for (const simbus::SimNode& node : world->unconfigured) {
        if (!node.present)
            continue;
        ++devices;
        Check(node.lss.activeNodeId == simbus::kNoNodeId);
    }
    Check(devices == kDevices);
    const auto checkLss = [](const simbus::LssSlave& lss) {
        const auto validId = [](std::uint8_t id) { return (id >= 1 && id <= 127) || id == simbus::kNoNodeId; };
        Check(validId(lss.pendingNodeId) && validId(lss.storedNodeId));
        Check(lss.mode == simbus::LssMode::Waiting || lss.mode == simbus::LssMode::Configuration);
        Check(lss.fastscanPart <= 3 && lss.selectStep <= 3 && lss.identifyStep <= 5);
        for (const std::uint32_t kbit : {lss.kbit, lss.pendingKbit, lss.storedKbit})
            Check(kbit == 0 || kbit == 10 || kbit == 20 || kbit == 50 || kbit == 125 || kbit == 250 || kbit == 500 ||
                  kbit == 800 || kbit == 1000);
    };
    for (const simbus::SimNode& node : world->nodes)
        if (node.present)
            checkLss(node.lss);
    for (const simbus::SimNode& node : world->unconfigured)
        if (node.present)
            checkLss(node.lss);
}

// What every answer of a slave must be: a frame of at most 8 bytes with a slave's
// identifier; an SDO answer of 8 bytes (7 only in the mode that shortens them), on the
// node's response identifier.
void CheckAnswers()
{
    DriverMsg msg{};
    while (simbus::AdapterRead(*world, &msg, now) == 0) {
        Check(msg.length <= 8);
        Check((msg.msgType & ~kMsgRemote) == 0);
        if (msg.id == simbus::kLssAnswerId) {
            Check(msg.length == 8);
            bool known = false;
            for (const std::uint8_t specifier : kLssAnswers)
                known = known || msg.data[0] == specifier;
            Check(known);
            continue;
        }
        const std::uint32_t node = msg.id & 0x7F;
        Check(everPresent[node]);
        if ((msg.id & ~0x7Fu) == 0x580)
            Check(msg.length == 8 || (shortenedAnswers && msg.length == 7));
        if ((msg.id & ~0x7Fu) == 0x700)  // boot-up, heartbeat, guarding answer
            Check(msg.length == 1);
        if ((msg.id & ~0x7Fu) == 0x080)  // emergency
            Check(msg.length == 8);
    }
}

// The slaves' transfers stay within their buffers whatever they were sent.
void CheckTransfers()
{
    for (const simbus::SimNode& slave : world->nodes) {
        const simbus::SdoServer& sdo = slave.sdo;
        if (sdo.state == simbus::SdoServerState::Downloading)
            Check(sdo.offset <= simbus::kMaxValueBytes);
        if (sdo.state == simbus::SdoServerState::Uploading)
            Check(sdo.size <= sizeof sdo.buffer);
    }
    Check(world->received.count <= simbus::kReceiveQueueSize);
    Check(world->pending.count <= simbus::kPendingSize);
}

// Every object value still fits the room its entry has.
void CheckValues()
{
    for (const simbus::SimNode& slave : world->nodes) {
        for (std::uint32_t i = 0; i < slave.entryCount; ++i) {
            const simbus::ObjectEntry& entry = world->entries[slave.firstEntry + i];
            Check(entry.length <= entry.capacity);
            Check(entry.valueOffset + entry.capacity <= world->poolUsed);
        }
    }
}

struct Input {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t at;

    std::uint8_t Byte() { return at < size ? data[at++] : 0; }
    std::uint32_t Word() { return static_cast<std::uint32_t>(Byte() | (Byte() << 8)); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Prepare();
    CheckDevices();
    Input in{data, size, 0};
    while (in.at < in.size) {
        const std::uint8_t op = in.Byte();
        const std::uint8_t selector = in.Byte();
        // A node that LSS moved is still addressed by some operations at its old node-ID.
        const std::uint8_t node = (selector & 0x80) != 0 ? kNodes[selector & 1] : PickNode(selector);
        const bool present = node != 0 && world->nodes[node].present;
        switch (op % 8) {
        default: {  // a frame from the master
            DriverMsg msg{};
            const std::uint8_t kind = in.Byte();
            switch (kind & 7) {
            case 0:
                msg.id = 0x000;  // NMT
                break;
            case 1:
                msg.id = (in.Word() & 0x7FFu);  // any identifier
                break;
            case 2:
                msg.id = 0x200u + ((kind >> 3) & 3u) * 0x100u + node;  // a receive PDO
                break;
            case 3:
                msg.id = simbus::kLssRequestId;
                break;
            default:
                msg.id = 0x600u + node;  // an SDO request
                break;
            }
            msg.msgType = (kind & 0x80) != 0 ? kMsgRemote : 0;
            msg.length = (kind & 0x40) != 0 ? static_cast<std::uint8_t>(in.Byte() % 10) : 8;
            for (std::uint8_t& b : msg.data)
                b = in.Byte();
            if (msg.id == simbus::kLssRequestId)
                msg.data[0] = kLssRequests[msg.data[0] % sizeof kLssRequests];
            const std::uint32_t result = simbus::AdapterWrite(*world, &msg, now);
            Check(msg.length <= 8 ? result == 0 : result != 0);
            break;
        }
        case 1: {
            const std::uint32_t mode = in.Byte() % 10u;
            shortenedAnswers |= mode == kSimNodeSdoLength7;
            Check((simbus::SetNodeMode(*world, node, mode, in.Word()) == 0) == present);
            break;
        }
        case 2:
            Check((simbus::BootNode(*world, node, now) == 0) == present);
            break;
        case 3:
            now += in.Word();
            break;
        case 4:
            CheckAnswers();
            break;
        case 5: {
            std::uint8_t manufacturer[5];
            for (std::uint8_t& b : manufacturer)
                b = in.Byte();
            const std::uint32_t code = in.Word();
            Check((simbus::SimulateEmergency(*world, node, code, in.Byte(), manufacturer, now) == 0) == present);
            break;
        }
        }
        CheckTransfers();
        CheckDevices();
    }
    CheckAnswers();
    CheckValues();
    return 0;
}
