#include "pdo_slots.h"

#include <algorithm>
#include <cstring>

void ReceivePdo(NodeTable& table, const CanFrame& frame, std::uint32_t node)
{
    if (frame.remote != 0)
        return;
    if (NodeNumber(frame.id) != (node & 0x7Fu))
        return;
    const std::uint32_t function = FunctionCode(frame.id);
    if (function < 3 || function > 10)
        return;
    PdoSlot& slot = RecordOf(table, node).pdoSlots[function - 3];
    slot.length = std::min<std::uint32_t>(frame.length, 8);
    std::memcpy(slot.data.data(), frame.data.data(), slot.length);
    slot.fresh = 1;
}

int FetchPdo(std::uint32_t node, std::uint32_t slotNumber, NodeTable& table, std::uint8_t* destination,
             std::uint32_t& length)
{
    length = 0;
    PdoSlot& slot = RecordOf(table, node).pdoSlots[slotNumber & 7u];
    if (slot.fresh == 0)
        return 0;
    std::memcpy(destination, slot.data.data(), slot.length);
    slot.fresh = 0;
    length = slot.length;
    return 1;
}
