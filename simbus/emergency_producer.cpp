#include "emergency_producer.h"

#include <algorithm>
#include <cstring>

#include "byte_order.h"
#include "object_dictionary.h"
#include "virtual_bus.h"

namespace simbus {

namespace {

struct ClassBit {
    std::uint16_t mask;
    std::uint16_t value;
    std::uint8_t bit;
};

// The error code classes that have a bit of their own in the error register; every other
// class sets the generic bit only.
constexpr ClassBit kClassBits[] = {
    {0xF000, 0x2000, 0x02},  // current
    {0xF000, 0x3000, 0x04},  // voltage
    {0xF000, 0x4000, 0x08},  // temperature
    {0xFF00, 0x8100, 0x10},  // communication
    {0xFF00, 0x8200, 0x10},  // protocol errors are communication errors as well
    {0xFF00, 0xFF00, 0x80},  // device specific: the manufacturer's bit
};
constexpr std::uint8_t kGenericBit = 0x01;
constexpr std::uint8_t kMaxHistory = 254;

// A number into an entry of a fixed-size type, cut to its size.
void StoreNumber(World& world, ObjectEntry& entry, std::uint32_t value)
{
    if (IsVariableLength(entry.dataType))
        return;
    std::uint8_t bytes[8] = {};
    StoreLe32(bytes, value);
    StoreValue(world, entry, bytes, std::min<std::uint32_t>(entry.capacity, sizeof bytes));
}

std::uint32_t LoadNumber(World& world, const ObjectEntry& entry)
{
    return static_cast<std::uint32_t>(
        LoadLeUnsigned(EntryValue(world, entry), std::min<std::uint32_t>(entry.length, 4)));
}

// Codes 0x1003 can hold: its subs from 1 on without a gap.
std::uint8_t HistoryDepth(World& world, std::uint8_t nodeId)
{
    std::uint8_t depth = 0;
    while (depth < kMaxHistory &&
           FindEntry(world, nodeId, kPredefinedErrorField, static_cast<std::uint8_t>(depth + 1)) != nullptr)
        ++depth;
    return depth;
}

void RecordError(World& world, std::uint8_t nodeId, std::uint16_t code)
{
    const std::uint8_t depth = HistoryDepth(world, nodeId);
    ObjectEntry* count = FindEntry(world, nodeId, kPredefinedErrorField, 0);
    if (depth == 0 || count == nullptr)
        return;
    for (std::uint8_t sub = depth; sub > 1; --sub) {
        const ObjectEntry* older = FindEntry(world, nodeId, kPredefinedErrorField, static_cast<std::uint8_t>(sub - 1));
        StoreNumber(world, *FindEntry(world, nodeId, kPredefinedErrorField, sub), LoadNumber(world, *older));
    }
    // The high 16 bits are the manufacturer's additional information; ours has none.
    StoreNumber(world, *FindEntry(world, nodeId, kPredefinedErrorField, 1), code);
    StoreNumber(world, *count, std::min<std::uint32_t>(LoadNumber(world, *count) + 1, depth));
}

void ClearHistory(World& world, std::uint8_t nodeId)
{
    const std::uint8_t depth = HistoryDepth(world, nodeId);
    for (std::uint8_t sub = 0; sub <= depth; ++sub) {
        if (ObjectEntry* entry = FindEntry(world, nodeId, kPredefinedErrorField, sub))
            StoreNumber(world, *entry, 0);
    }
}

void SendEmergency(World& world, std::uint8_t nodeId, std::uint16_t code, std::uint8_t errorRegister,
                   const std::uint8_t* manufacturer, std::uint32_t now)
{
    if (world.nodes[nodeId].nmtState == NmtState::Stopped)
        return;
    DriverMsg msg{};
    msg.id = kEmergencyBase + nodeId;
    msg.length = 8;
    StoreLe16(msg.data, code);
    msg.data[2] = errorRegister;
    if (manufacturer != nullptr)
        std::memcpy(msg.data + 3, manufacturer, kManufacturerBytes);
    NodeTransmit(world, nodeId, msg, now);
}

}  // namespace

std::uint8_t ErrorRegisterBits(std::uint16_t code)
{
    if (code == 0)
        return 0;
    std::uint8_t bits = kGenericBit;
    for (const ClassBit& row : kClassBits) {
        if ((code & row.mask) == row.value)
            bits = static_cast<std::uint8_t>(bits | row.bit);
    }
    return bits;
}

void RaiseEmergency(World& world, std::uint8_t nodeId, std::uint16_t code, std::uint32_t errorRegister,
                    const std::uint8_t* manufacturer, std::uint32_t now)
{
    SimNode& node = world.nodes[nodeId];
    ObjectEntry* registerEntry = FindEntry(world, nodeId, kErrorRegister, 0);
    if (code == 0) {
        if (!node.inError)
            return;
        node.inError = 0;
        if (registerEntry != nullptr)
            StoreNumber(world, *registerEntry, 0);
        SendEmergency(world, nodeId, 0, 0, nullptr, now);
        return;
    }
    std::uint8_t bits = static_cast<std::uint8_t>(errorRegister);
    if (errorRegister == kAutoErrorRegister) {
        const std::uint32_t held = registerEntry != nullptr && node.inError ? LoadNumber(world, *registerEntry) : 0;
        bits = static_cast<std::uint8_t>(held | ErrorRegisterBits(code));
    }
    node.inError = 1;
    if (registerEntry != nullptr)
        StoreNumber(world, *registerEntry, bits);
    RecordError(world, nodeId, code);
    SendEmergency(world, nodeId, code, bits, manufacturer, now);
}

std::uint32_t CheckErrorHistoryWrite(const ObjectEntry& entry, const std::uint8_t* data, std::uint32_t length)
{
    if (entry.index != kPredefinedErrorField)
        return 0;
    if (entry.subIndex != 0)
        return kAbortReadOnly;
    for (std::uint32_t i = 0; i < length; ++i) {
        if (data[i] != 0)
            return kAbortValueRange;
    }
    return 0;
}

void AfterErrorObjectWrite(World& world, std::uint8_t nodeId, const ObjectEntry& entry, std::uint32_t now)
{
    if (entry.index == kPredefinedErrorField && entry.subIndex == 0) {
        ClearHistory(world, nodeId);
        return;
    }
    if (entry.behaviour != Behaviour::Emergency)
        return;
    std::uint8_t manufacturer[kManufacturerBytes] = {};
    if (entry.behaviourParam1 != kNoEntry) {
        const ObjectEntry& source = world.entries[entry.behaviourParam1];
        std::memcpy(manufacturer, EntryValue(world, source),
                    std::min<std::uint32_t>(source.length, kManufacturerBytes));
    }
    const auto code = static_cast<std::uint16_t>(LoadNumber(world, entry));
    RaiseEmergency(world, nodeId, code, kAutoErrorRegister, manufacturer, now);
}

}  // namespace simbus
