#include "pdo.h"

#include <algorithm>

#include "byte_order.h"
#include "object_dictionary.h"
#include "virtual_bus.h"

namespace simbus {

namespace {

constexpr std::uint16_t kReceiveCommunication = 0x1400;
constexpr std::uint16_t kReceiveMapping = 0x1600;
constexpr std::uint16_t kTransmitCommunication = 0x1800;
constexpr std::uint16_t kTransmitMapping = 0x1A00;
constexpr std::uint16_t kPdoCount = 512;
constexpr std::uint32_t kMaxPdoBits = 64;
constexpr std::uint8_t kMaxMappedObjects = 0x40;

bool InRange(std::uint16_t index, std::uint16_t first)
{
    return index >= first && index < first + kPdoCount;
}

// COB-ID entry of the PDO whose communication object is `commIndex`; invalid when missing.
std::uint32_t CobId(World& world, std::uint8_t nodeId, std::uint16_t commIndex)
{
    const ObjectEntry* entry = FindEntry(world, nodeId, commIndex, 1);
    if (entry == nullptr || entry->length < 4)
        return kCobIdInvalid;
    return LoadLe32(EntryValue(world, *entry));
}

std::uint8_t MappedCount(World& world, std::uint8_t nodeId, std::uint16_t mappingIndex)
{
    const ObjectEntry* entry = FindEntry(world, nodeId, mappingIndex, 0);
    return entry == nullptr || entry->length == 0 ? 0 : EntryValue(world, *entry)[0];
}

std::uint32_t MappingValue(World& world, std::uint8_t nodeId, std::uint16_t mappingIndex, std::uint8_t k)
{
    const ObjectEntry* entry = FindEntry(world, nodeId, mappingIndex, k);
    return entry == nullptr || entry->length < 4 ? 0 : LoadLe32(EntryValue(world, *entry));
}

// Abort code for mapping `value` (index << 16 | subindex << 8 | bits) into a transmit or
// receive PDO; 0 for an empty entry or one that fits.
std::uint32_t CheckMappingValue(World& world, std::uint8_t nodeId, bool transmit, std::uint32_t value)
{
    if (value == 0)
        return 0;
    ObjectEntry* target = nullptr;
    const std::uint32_t abort = LookUpEntry(world, nodeId, static_cast<std::uint16_t>(value >> 16),
                                            static_cast<std::uint8_t>(value >> 8), target);
    if (abort != 0)
        return kAbortNoObject;
    const std::uint32_t bits = value & 0xFF;
    // rwr entries are inputs (transmit PDOs only), rww entries outputs (receive PDOs only).
    const Access access = target->access;
    const bool directionOk = transmit ? IsReadable(access) && access != Access::ReadWriteOutput
                                      : IsWritable(access) && access != Access::ReadWriteInput;
    if (!target->pdoMappable || !directionOk || bits == 0)
        return kAbortNotMappable;
    if (IsVariableLength(target->dataType) ? (bits % 8 != 0 || bits / 8 > target->capacity)
                                           : bits > target->capacity * 8u)
        return kAbortNotMappable;
    return 0;
}

std::uint32_t CheckCobIdWrite(std::uint32_t oldId, std::uint32_t newId)
{
    const bool oldValid = (oldId & kCobIdInvalid) == 0;
    const bool newValid = (newId & kCobIdInvalid) == 0;
    // 11-bit identifiers only; the identifier of an existing PDO is changed only by
    // making it invalid first; a PDO on identifier 0 (NMT) cannot exist.
    if ((newId & kCobIdExtended) != 0)
        return kAbortValueRange;
    if (oldValid && newValid && (oldId & 0x7FF) != (newId & 0x7FF))
        return kAbortValueRange;
    if (newValid && (newId & 0x7FF) == 0)
        return kAbortValueRange;
    return 0;
}

// Mapping parameters change only by the CiA 301 procedure: make the PDO invalid, set
// sub 0 to 0, change the entries, set sub 0 to their number, make the PDO valid again.
// A write that changes nothing is accepted at any step.
std::uint32_t CheckMappingWrite(World& world, std::uint8_t nodeId, std::uint16_t mappingIndex, bool transmit,
                                std::uint8_t subIndex, const std::uint8_t* data)
{
    const std::uint16_t commIndex = static_cast<std::uint16_t>(mappingIndex - 0x200);
    const bool pdoValid = (CobId(world, nodeId, commIndex) & kCobIdInvalid) == 0;
    const std::uint8_t count = MappedCount(world, nodeId, mappingIndex);
    if (subIndex != 0) {
        const std::uint32_t value = LoadLe32(data);
        if (value == MappingValue(world, nodeId, mappingIndex, subIndex))
            return 0;
        if (pdoValid)
            return kAbortDeviceState;
        if (count != 0)
            return kAbortUnsupported;
        return CheckMappingValue(world, nodeId, transmit, value);
    }
    const std::uint8_t newCount = data[0];
    if (pdoValid && newCount != count)
        return kAbortDeviceState;
    if (newCount > kMaxMappedObjects)
        return kAbortValueTooHigh;
    std::uint32_t bits = 0;
    for (std::uint8_t k = 1; k <= newCount; ++k) {
        if (FindEntry(world, nodeId, mappingIndex, k) == nullptr)
            return kAbortPdoTooLong;
        const std::uint32_t value = MappingValue(world, nodeId, mappingIndex, k);
        if (CheckMappingValue(world, nodeId, transmit, value) != 0)
            return kAbortNotMappable;
        bits += value & 0xFF;
    }
    return bits > kMaxPdoBits ? kAbortPdoTooLong : 0;
}

// Total mapped bits of a PDO, or more than kMaxPdoBits when it cannot be used.
std::uint32_t MappedBits(World& world, std::uint8_t nodeId, std::uint16_t mappingIndex)
{
    std::uint32_t bits = 0;
    const std::uint8_t count = MappedCount(world, nodeId, mappingIndex);
    for (std::uint8_t k = 1; k <= count; ++k)
        bits += MappingValue(world, nodeId, mappingIndex, k) & 0xFF;
    return bits;
}

// Communication objects of the node in [first, first + 512) whose valid COB-ID is `id`
// (remote requests allowed when `remote`); the PDO number, or -1.
int FindPdoByCobId(World& world, std::uint8_t nodeId, std::uint16_t first, std::uint32_t id, bool remote)
{
    const SimNode& node = world.nodes[nodeId];
    for (std::uint32_t i = 0; i < node.entryCount; ++i) {
        const ObjectEntry& entry = world.entries[node.firstEntry + i];
        if (!InRange(entry.index, first) || entry.subIndex != 1 || entry.length < 4)
            continue;
        const std::uint32_t cobId = LoadLe32(EntryValue(world, entry));
        if ((cobId & kCobIdInvalid) != 0 || (remote && (cobId & kCobIdNoRemote) != 0))
            continue;
        if ((cobId & 0x7FF) == id)
            return entry.index - first;
    }
    return -1;
}

}  // namespace

void CopyBits(const std::uint8_t* source, std::uint32_t sourceBit, std::uint8_t* destination,
              std::uint32_t destinationBit, std::uint32_t count)
{
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint32_t from = sourceBit + i;
        const std::uint32_t to = destinationBit + i;
        const auto mask = static_cast<std::uint8_t>(1u << (to % 8));
        if ((source[from / 8] >> (from % 8)) & 1u)
            destination[to / 8] = static_cast<std::uint8_t>(destination[to / 8] | mask);
        else
            destination[to / 8] = static_cast<std::uint8_t>(destination[to / 8] & ~mask);
    }
}

std::uint32_t CheckPdoParameterWrite(World& world, std::uint8_t nodeId, const ObjectEntry& entry,
                                     const std::uint8_t* data, std::uint32_t length)
{
    const std::uint16_t index = entry.index;
    const bool transmitComm = InRange(index, kTransmitCommunication);
    if (InRange(index, kReceiveCommunication) || transmitComm) {
        if (entry.subIndex == 1 && length == 4)
            return CheckCobIdWrite(LoadLe32(EntryValue(world, entry)), LoadLe32(data));
        if (entry.subIndex == 2 && length == 1) {
            // Transmission types 241-251 are reserved; 252 and 253 (on remote request)
            // exist for transmit PDOs only.
            const std::uint8_t type = data[0];
            if (type >= 241 && type <= (transmitComm ? 251 : 253))
                return kAbortValueRange;
        }
        return 0;
    }
    const bool transmitMapping = InRange(index, kTransmitMapping);
    if ((InRange(index, kReceiveMapping) || transmitMapping) &&
        ((entry.subIndex == 0 && length == 1) || (entry.subIndex != 0 && length == 4)))
        return CheckMappingWrite(world, nodeId, index, transmitMapping, entry.subIndex, data);
    return 0;
}

bool BuildTransmitPdo(World& world, std::uint8_t nodeId, std::uint16_t n, DriverMsg& msg, std::uint32_t now)
{
    if (n >= kPdoCount)
        return false;
    const std::uint32_t cobId = CobId(world, nodeId, static_cast<std::uint16_t>(kTransmitCommunication + n));
    if ((cobId & kCobIdInvalid) != 0)
        return false;
    const auto mappingIndex = static_cast<std::uint16_t>(kTransmitMapping + n);
    if (MappedBits(world, nodeId, mappingIndex) > kMaxPdoBits)
        return false;
    RefreshInputs(world, nodeId, now);
    msg = DriverMsg{};
    msg.id = cobId & 0x7FF;
    std::uint32_t bit = 0;
    const std::uint8_t count = MappedCount(world, nodeId, mappingIndex);
    for (std::uint8_t k = 1; k <= count; ++k) {
        const std::uint32_t value = MappingValue(world, nodeId, mappingIndex, k);
        const std::uint32_t bits = value & 0xFF;
        const ObjectEntry* target =
            FindEntry(world, nodeId, static_cast<std::uint16_t>(value >> 16), static_cast<std::uint8_t>(value >> 8));
        if (target != nullptr)
            CopyBits(EntryValue(world, *target), 0, msg.data, bit, std::min<std::uint32_t>(bits, target->length * 8u));
        bit += bits;
    }
    msg.length = static_cast<std::uint8_t>((bit + 7) / 8);
    return true;
}

int FirstValidTransmitPdo(World& world, std::uint8_t nodeId)
{
    for (std::uint16_t n = 0; n < kPdoCount; ++n) {
        if ((CobId(world, nodeId, static_cast<std::uint16_t>(kTransmitCommunication + n)) & kCobIdInvalid) == 0)
            return n;
    }
    return -1;
}

void AnswerRemoteRequest(World& world, std::uint8_t nodeId, const DriverMsg& request, std::uint32_t now)
{
    const int n = FindPdoByCobId(world, nodeId, kTransmitCommunication, request.id, true);
    DriverMsg pdo{};
    if (n >= 0 && BuildTransmitPdo(world, nodeId, static_cast<std::uint16_t>(n), pdo, now))
        NodeTransmit(world, nodeId, pdo, now);
}

void ApplyReceivePdo(World& world, std::uint8_t nodeId, const DriverMsg& frame)
{
    const int n = FindPdoByCobId(world, nodeId, kReceiveCommunication, frame.id, false);
    if (n < 0)
        return;
    const auto mappingIndex = static_cast<std::uint16_t>(kReceiveMapping + n);
    const std::uint32_t totalBits = MappedBits(world, nodeId, mappingIndex);
    const std::uint32_t length = std::min<std::uint32_t>(frame.length, 8);
    if (totalBits > kMaxPdoBits || length * 8 < totalBits)
        return;
    std::uint32_t bit = 0;
    const std::uint8_t count = MappedCount(world, nodeId, mappingIndex);
    for (std::uint8_t k = 1; k <= count; ++k) {
        const std::uint32_t value = MappingValue(world, nodeId, mappingIndex, k);
        const std::uint32_t bits = value & 0xFF;
        ObjectEntry* target =
            FindEntry(world, nodeId, static_cast<std::uint16_t>(value >> 16), static_cast<std::uint8_t>(value >> 8));
        if (target != nullptr && bits <= target->capacity * 8u) {
            CopyBits(frame.data, bit, EntryValue(world, *target), 0, bits);
            if (IsVariableLength(target->dataType))
                target->length = static_cast<std::uint16_t>(bits / 8);
        }
        bit += bits;
    }
}

}  // namespace simbus
