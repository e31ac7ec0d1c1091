#include "node_table.h"

#include <cstring>
#include <type_traits>

#include "pdo_slots.h"
#include "sdo_client.h"

namespace {

SendHook sendHook = nullptr;  // from SetSendHook; nullptr drops every frame

}  // namespace

int ClearNodeTable(NodeTable& table)
{
    static_assert(std::is_trivially_copyable_v<NodeTable>);
    std::memset(&table, 0, sizeof table);  // in place: the table is 256 KiB
    return 1;
}

int ClearSendHook()
{
    sendHook = nullptr;
    return 1;
}

int SetSendHook(SendHook hook)
{
    sendHook = hook;
    return 1;
}

int RunEngineCycle(NodeTable& table, const CanFrame* frame)
{
    int visited = 0;
    for (std::uint32_t node = 0; node < kNodeCount; ++node) {
        // The frame is handed on at once: nothing is ever queued inside the engine.
        const CanFrame* out = StepSdo(node, table, frame);
        if (out != nullptr && sendHook != nullptr)
            sendHook(*out);
        if (frame != nullptr)
            ReceivePdo(table, *frame, node);
        ++visited;
    }
    return visited;
}

NodeTable& MasterNodeTable()
{
    static NodeTable table{};
    return table;
}
