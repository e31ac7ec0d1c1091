// Drives the simulated slaves (the default network: node 3 and node 5) with arbitrary
// request frames on their SDO, NMT and PDO identifiers, test modes, resets and clock
// steps, and checks what must always hold of the slaves and of what they answer.
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

#include "network.h"
#include "object_dictionary.h"
#include "virtual_bus.h"
#include "world.h"

namespace {

using simbus::World;

World* world = nullptr;
std::uint32_t now = 0;
bool shortenedAnswers[2];  // a node was in the mode that shortens SDO answers
constexpr std::uint8_t kNodes[] = {3, 5};

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

// The network once; before every input the slaves are fresh again: values, NMT state,
// SDO transfer, test mode, queues.
void Prepare()
{
    if (world == nullptr) {
        world = new World();  // zero-filled: an empty world
        simbus::ResetSimulation(*world);
        std::string errors;
        Check(simbus::BuildNetwork(*world, simbus::DefaultNetwork(), ReadEmbedded, nullptr, errors));
    }
    for (const std::uint8_t node : kNodes) {
        simbus::RestoreDefaults(*world, node, false);
        simbus::SimNode& slave = world->nodes[node];
        slave.sdo = simbus::SdoServer{};
        slave.mode = kSimNodeNormal;
        slave.modeParam = 0;
        slave.nmtState = simbus::NmtState::PreOperational;
        slave.bootAnnounced = 1;
        slave.guardToggle = 0;
        slave.inError = 0;
    }
    world->received.head = world->received.count = 0;
    world->sent.head = world->sent.count = 0;
    world->pending.count = 0;
    world->controls = simbus::Controls{};
    shortenedAnswers[0] = shortenedAnswers[1] = false;
    now = 1000;
    Check(simbus::AdapterInit(*world, 0x672F, 0, now) == 0);
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
        const std::uint32_t node = msg.id & 0x7F;
        Check(node == 3 || node == 5);
        if ((msg.id & ~0x7Fu) == 0x580) {
            const bool shortened = shortenedAnswers[node == 5 ? 1 : 0];
            Check(msg.length == 8 || (shortened && msg.length == 7));
        }
        if ((msg.id & ~0x7Fu) == 0x700)  // boot-up, heartbeat, guarding answer
            Check(msg.length == 1);
        if ((msg.id & ~0x7Fu) == 0x080)  // emergency
            Check(msg.length == 8);
    }
}

// The slaves' transfers stay within their buffers whatever they were sent.
void CheckTransfers()
{
    for (const std::uint8_t node : kNodes) {
        const simbus::SdoServer& sdo = world->nodes[node].sdo;
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
    for (const std::uint8_t node : kNodes) {
        const simbus::SimNode& slave = world->nodes[node];
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
    Input in{data, size, 0};
    while (in.at < in.size) {
        const std::uint8_t op = in.Byte();
        const std::uint8_t selector = in.Byte();
        const std::uint8_t node = kNodes[selector & 1];
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
            default:
                msg.id = 0x600u + node;  // an SDO request
                break;
            }
            msg.msgType = (kind & 0x80) != 0 ? kMsgRemote : 0;
            msg.length = (kind & 0x40) != 0 ? static_cast<std::uint8_t>(in.Byte() % 10) : 8;
            for (std::uint8_t& b : msg.data)
                b = in.Byte();
            const std::uint32_t result = simbus::AdapterWrite(*world, &msg, now);
            Check(msg.length <= 8 ? result == 0 : result != 0);
            break;
        }
        case 1: {
            const std::uint32_t mode = in.Byte() % 10u;
            shortenedAnswers[selector & 1] |= mode == kSimNodeSdoLength7;
            Check(simbus::SetNodeMode(*world, node, mode, in.Word()) == 0);
            break;
        }
        case 2:
            Check(simbus::BootNode(*world, node, now) == 0);
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
            Check(simbus::SimulateEmergency(*world, node, code, in.Byte(), manufacturer, now) == 0);
            break;
        }
        }
        CheckTransfers();
    }
    CheckAnswers();
    CheckValues();
    return 0;
}
