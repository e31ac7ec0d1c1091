#include "object_dictionary.h"

#include <algorithm>
#include <cstring>

#include "byte_order.h"
#include "emergency_producer.h"
#include "lss_slave.h"
#include "nmt_error_control.h"
#include "pdo.h"

namespace simbus {

namespace {

std::uint32_t EntryKey(std::uint16_t index, std::uint8_t subIndex)
{
    return (static_cast<std::uint32_t>(index) << 8) | subIndex;
}

std::uint32_t EntryKey(const ObjectEntry& entry)
{
    return EntryKey(entry.index, entry.subIndex);
}

bool Allocate(World& world, std::uint32_t bytes, std::uint32_t& offset)
{
    if (bytes > kPoolBytes - world.poolUsed)
        return false;
    offset = world.poolUsed;
    world.poolUsed += bytes;
    return true;
}

void StoreLe(std::uint8_t* bytes, std::uint32_t size, std::uint64_t value)
{
    for (std::uint32_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// Entries whose value 0x1010 keeps: parameters a master writes. Not the self-changing
// ones, the error history, the store and restore commands themselves, nor DOMAINs.
bool Storable(const EdsEntry& source)
{
    return IsWritable(source.access) && source.dataType != kTypeDomain && source.behaviour == Behaviour::None &&
           source.index != kPredefinedErrorField && source.index != kStoreParameters &&
           source.index != kRestoreDefaults;
}

// The entries 0x1010 and 0x1011 sub n act on: 1 all, 2 communication, 3 application
// (manufacturer 0x2000-0x5FFF and device profile 0x6000-0x9FFF alike).
bool InArea(std::uint8_t subIndex, std::uint16_t index)
{
    switch (subIndex) {
    case 1:
        return true;
    case 2:
        return index >= 0x1000 && index <= 0x1FFF;
    case 3:
        return index >= 0x2000 && index <= 0x9FFF;
    default:
        return false;
    }
}

// "save" keeps the area's current values for the resets to come; "load" drops what was
// kept, so the next reset of the area brings the defaults (the values stay until then).
std::uint32_t StoreOrRestore(World& world, const SimNode& node, std::uint16_t index, std::uint8_t subIndex,
                             std::uint32_t signature)
{
    const bool store = index == kStoreParameters;
    if (signature != (store ? kSaveSignature : kLoadSignature) || subIndex < 1 || subIndex > 3)
        return kAbortNotStored;
    for (std::uint32_t i = 0; i < node.entryCount; ++i) {
        ObjectEntry& entry = world.entries[node.firstEntry + i];
        if (entry.storedOffset == kNotStorable || !InArea(subIndex, entry.index))
            continue;
        if (store) {
            std::memcpy(world.pool + entry.storedOffset, EntryValue(world, entry), entry.length);
            entry.storedLength = entry.length;
        }
        entry.stored = store ? 1 : 0;
    }
    return 0;
}

// The entries of `device` into the World's tables, for the device in `slot` (empty).
bool InstallInto(World& world, SimNode& slot, const EdsDevice& device, std::string& error)
{
    if (device.entries.size() > kMaxEntries - world.entryCount) {
        error = "too many object entries in the network";
        return false;
    }
    const std::uint32_t first = world.entryCount;
    const std::uint32_t poolBefore = world.poolUsed;
    for (const EdsEntry& source : device.entries) {
        ObjectEntry entry{};
        entry.index = source.index;
        entry.subIndex = source.subIndex;
        entry.access = source.access;
        entry.dataType = source.dataType;
        entry.pdoMappable = source.pdoMappable ? 1 : 0;
        entry.behaviour = source.behaviour;
        entry.behaviourParam1 = source.param1;
        entry.behaviourParam2 = source.param2;
        entry.nodeIdTerms = source.nodeIdTerms;
        const auto length = static_cast<std::uint32_t>(source.value.size());
        // Writable strings get the full room, so a download may make them longer.
        const std::uint32_t capacity =
            IsVariableLength(source.dataType) && IsWritable(source.access) ? kMaxValueBytes : length;
        entry.storedOffset = kNotStorable;
        if (!Allocate(world, capacity, entry.valueOffset) || !Allocate(world, length, entry.defaultOffset) ||
            (Storable(source) && !Allocate(world, capacity, entry.storedOffset))) {
            world.entryCount = first;
            world.poolUsed = poolBefore;
            error = "object values of the network exceed the simulator's memory";
            return false;
        }
        entry.capacity = static_cast<std::uint16_t>(capacity);
        entry.length = static_cast<std::uint16_t>(length);
        entry.defaultLength = static_cast<std::uint16_t>(length);
        if (length != 0) {
            std::memcpy(world.pool + entry.valueOffset, source.value.data(), length);
            std::memcpy(world.pool + entry.defaultOffset, source.value.data(), length);
        }
        world.entries[world.entryCount++] = entry;
    }
    slot = SimNode{};
    slot.present = 1;
    slot.nmtState = NmtState::PreOperational;
    slot.firstEntry = first;
    slot.entryCount = world.entryCount - first;
    // Read-backs and emergency entries point at the entry they name by its number, which
    // stays put in the block.
    for (std::uint32_t i = 0; i < device.entries.size(); ++i) {
        const EdsEntry& source = device.entries[i];
        if (source.behaviour != Behaviour::Mirror && source.behaviour != Behaviour::Emergency)
            continue;
        const ObjectEntry* linked =
            source.linked ? FindDeviceEntry(world, slot, source.linkedIndex, source.linkedSubIndex) : nullptr;
        world.entries[first + i].behaviourParam1 =
            linked == nullptr ? kNoEntry : static_cast<std::uint32_t>(linked - world.entries);
    }
    return true;
}

std::uint32_t LookUpIn(World& world, const SimNode& node, std::uint16_t index, std::uint8_t subIndex,
                       ObjectEntry*& entry)
{
    entry = nullptr;
    if (!node.present)
        return kAbortNoObject;
    ObjectEntry* first = world.entries + node.firstEntry;
    ObjectEntry* last = first + node.entryCount;
    const std::uint32_t key = EntryKey(index, subIndex);
    ObjectEntry* found =
        std::lower_bound(first, last, key, [](const ObjectEntry& e, std::uint32_t k) { return EntryKey(e) < k; });
    if (found != last && EntryKey(*found) == key) {
        entry = found;
        return 0;
    }
    // Any entry of the same index means the object is there and only the subindex is not.
    const bool objectExists =
        (found != last && found->index == index) || (found != first && (found - 1)->index == index);
    return objectExists ? kAbortNoSubIndex : kAbortNoObject;
}

}  // namespace

bool InstallNode(World& world, std::uint8_t nodeId, const EdsDevice& device, std::string& error)
{
    if (nodeId == 0 || nodeId > kMaxNodeId || world.nodes[nodeId].present) {
        error = "node ID out of range or given twice";
        return false;
    }
    SimNode& node = world.nodes[nodeId];
    if (!InstallInto(world, node, device, error))
        return false;
    StartLssSlave(node, nodeId, world.networkKbit);
    return true;
}

SimNode* InstallUnconfigured(World& world, const EdsDevice& device, std::string& error)
{
    SimNode* slot = FreeUnconfiguredSlot(world);
    if (slot == nullptr) {
        error = "more devices without a node-ID than the simulator holds";
        return nullptr;
    }
    if (!InstallInto(world, *slot, device, error))
        return nullptr;
    StartLssSlave(*slot, kNoNodeId, world.networkKbit);
    return slot;
}

SimNode* FreeUnconfiguredSlot(World& world)
{
    for (SimNode& slot : world.unconfigured) {
        if (!slot.present)
            return &slot;
    }
    return nullptr;
}

ObjectEntry* FindEntry(World& world, std::uint8_t nodeId, std::uint16_t index, std::uint8_t subIndex)
{
    ObjectEntry* entry = nullptr;
    return LookUpEntry(world, nodeId, index, subIndex, entry) == 0 ? entry : nullptr;
}

ObjectEntry* FindDeviceEntry(World& world, const SimNode& node, std::uint16_t index, std::uint8_t subIndex)
{
    ObjectEntry* entry = nullptr;
    return LookUpIn(world, node, index, subIndex, entry) == 0 ? entry : nullptr;
}

std::uint32_t LookUpEntry(World& world, std::uint8_t nodeId, std::uint16_t index, std::uint8_t subIndex,
                          ObjectEntry*& entry)
{
    return LookUpIn(world, world.nodes[nodeId & 0x7F], index, subIndex, entry);
}

void ResetValues(World& world, std::uint8_t nodeId, bool communicationOnly)
{
    ResetDeviceValues(world, world.nodes[nodeId & 0x7F], communicationOnly);
}

void ResetDeviceValues(World& world, const SimNode& node, bool communicationOnly)
{
    for (std::uint32_t i = 0; i < node.entryCount; ++i) {
        ObjectEntry& entry = world.entries[node.firstEntry + i];
        if (communicationOnly && !InArea(2, entry.index))
            continue;
        if (entry.stored) {
            std::memcpy(world.pool + entry.valueOffset, world.pool + entry.storedOffset, entry.storedLength);
            entry.length = entry.storedLength;
        } else {
            std::memcpy(world.pool + entry.valueOffset, world.pool + entry.defaultOffset, entry.defaultLength);
            entry.length = entry.defaultLength;
        }
    }
}

void ShiftNodeIdDefaults(World& world, const SimNode& node, std::uint8_t from, std::uint8_t to)
{
    for (std::uint32_t i = 0; i < node.entryCount; ++i) {
        const ObjectEntry& entry = world.entries[node.firstEntry + i];
        if (entry.nodeIdTerms == 0 || entry.defaultLength == 0 || entry.defaultLength > 8)
            continue;
        std::uint8_t* value = world.pool + entry.defaultOffset;
        // In the type's width, as the EDS reader encoded the sum.
        const std::uint64_t moved =
            LoadLeUnsigned(value, entry.defaultLength) + std::uint64_t{entry.nodeIdTerms} * (std::uint64_t{to} - from);
        StoreLe(value, entry.defaultLength, moved);
    }
}

void RefreshInputs(World& world, std::uint8_t nodeId, std::uint32_t now)
{
    const SimNode& node = world.nodes[nodeId & 0x7F];
    for (std::uint32_t i = 0; i < node.entryCount; ++i) {
        ObjectEntry& entry = world.entries[node.firstEntry + i];
        std::uint8_t* value = EntryValue(world, entry);
        const std::uint32_t size = entry.length;
        switch (entry.behaviour) {
        case Behaviour::None:
        case Behaviour::Emergency:
            break;
        case Behaviour::RunningLight:
            if (!world.controls.animationOff && size != 0 && size <= 8) {
                std::memset(value, 0, size);
                const std::uint32_t bit = (now / entry.behaviourParam1) % (size * 8);
                value[bit / 8] = static_cast<std::uint8_t>(1u << (bit % 8));
            }
            break;
        case Behaviour::Ramp:
            if (!world.controls.animationOff && size != 0 && size <= 8) {
                std::uint64_t count = now / entry.behaviourParam1;
                if (entry.behaviourParam2 != 0)
                    count %= entry.behaviourParam2;
                StoreLe(value, size, count);
            }
            break;
        case Behaviour::Mirror: {
            const ObjectEntry& source = world.entries[entry.behaviourParam1];
            const std::uint32_t bytes = std::min<std::uint32_t>(source.length, entry.capacity);
            std::memcpy(value, EntryValue(world, source), bytes);
            if (IsVariableLength(entry.dataType))
                entry.length = static_cast<std::uint16_t>(bytes);
            break;
        }
        }
    }
}

std::uint32_t ReadForSdo(World& world, std::uint8_t nodeId, std::uint16_t index, std::uint8_t subIndex,
                         std::uint8_t* data, std::uint32_t capacity, std::uint32_t& length, std::uint32_t now)
{
    length = 0;
    ObjectEntry* entry = nullptr;
    if (const std::uint32_t abort = LookUpEntry(world, nodeId, index, subIndex, entry))
        return abort;
    if (!IsReadable(entry->access))
        return kAbortWriteOnly;
    RefreshInputs(world, nodeId, now);
    length = std::min<std::uint32_t>(entry->length, capacity);
    std::memcpy(data, EntryValue(world, *entry), length);
    return 0;
}

std::uint32_t CheckDownload(World& world, std::uint8_t nodeId, std::uint16_t index, std::uint8_t subIndex,
                            bool lengthKnown, std::uint32_t length)
{
    ObjectEntry* entry = nullptr;
    if (const std::uint32_t abort = LookUpEntry(world, nodeId, index, subIndex, entry))
        return abort;
    if (!IsWritable(entry->access))
        return kAbortReadOnly;
    if (!lengthKnown)
        return 0;
    if (IsVariableLength(entry->dataType))
        return length > entry->capacity ? kAbortTooLong : 0;
    if (length > entry->capacity)
        return kAbortTooLong;
    if (length < entry->capacity)
        return kAbortTooShort;
    return 0;
}

std::uint32_t WriteForSdo(World& world, std::uint8_t nodeId, std::uint16_t index, std::uint8_t subIndex,
                          const std::uint8_t* data, std::uint32_t length, std::uint32_t now)
{
    if (const std::uint32_t abort = CheckDownload(world, nodeId, index, subIndex, true, length))
        return abort;
    ObjectEntry* entry = FindEntry(world, nodeId, index, subIndex);
    // The commands are not values: reading the subs still gives what the device can do.
    if ((index == kStoreParameters || index == kRestoreDefaults) && length == 4)
        return StoreOrRestore(world, world.nodes[nodeId & 0x7F], index, subIndex, LoadLe32(data));
    if (const std::uint32_t abort = CheckPdoParameterWrite(world, nodeId, *entry, data, length))
        return abort;
    if (const std::uint32_t abort = CheckErrorHistoryWrite(*entry, data, length))
        return abort;
    StoreValue(world, *entry, data, length);
    if (index == kProducerHeartbeatTime && subIndex == 0)
        RestartHeartbeat(world, nodeId, now);
    AfterErrorObjectWrite(world, nodeId, *entry, now);
    return 0;
}

std::uint32_t SetValueDirect(World& world, std::uint8_t nodeId, std::uint16_t index, std::uint8_t subIndex,
                             const std::uint8_t* data, std::uint32_t length)
{
    ObjectEntry* entry = nullptr;
    if (const std::uint32_t abort = LookUpEntry(world, nodeId, index, subIndex, entry))
        return abort;
    if (length > entry->capacity)
        return kAbortTooLong;
    if (IsVariableLength(entry->dataType)) {
        StoreValue(world, *entry, data, length);
        return 0;
    }
    std::uint8_t widened[8] = {};
    if (length != 0)
        std::memcpy(widened, data, length);
    StoreValue(world, *entry, widened, entry->capacity);
    return 0;
}

void StoreValue(World& world, ObjectEntry& entry, const std::uint8_t* data, std::uint32_t length)
{
    if (length != 0)
        std::memcpy(EntryValue(world, entry), data, length);
    entry.length = static_cast<std::uint16_t>(length);
}

}  // namespace simbus
