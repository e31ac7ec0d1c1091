// The CANopen master engine: one protocol record per node number 0 to 127, driven one
// received frame (or none) at a time.
//
// Usage, as the bus pump drives it:
//
//     SetSendHook(SendFrame);                 // once at start-up
//     ClearNodeTable(table);                  // whenever the bus is opened
//     RequestUpload(3, 500, table, 0x1000, 0);
//     for (;;) {
//         CanFrame frame;
//         if (ReadFromDriver(frame)) RunEngineCycle(table, &frame);
//         RunEngineCycle(table, nullptr);     // time-outs and due requests
//         if (FetchSdoResult(3, table, buffer, 4, length, status, abortCode)) break;
//     }
//
// The engine never waits, never allocates and never talks to the driver: every frame it
// produces goes to the send hook at once. Its only outside dependency is the tick.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// One CAN frame as the engine sees it. There is no extended-frame flag: every identifier
// is taken as a COB-ID.
struct CanFrame {
    std::uint8_t remote;               // 1: remote (RTR) frame; 0: data frame
    std::uint32_t id;                  // COB-ID
    std::uint8_t length;               // data length code, 0 to 8
    std::array<std::uint8_t, 8> data;  // only the first `length` bytes are meaningful
};

constexpr std::uint32_t NodeNumber(std::uint32_t cobId)
{
    return cobId & 0x7Fu;
}
constexpr std::uint32_t FunctionCode(std::uint32_t cobId)
{
    return (cobId >> 7) & 0x0Fu;
}

constexpr std::size_t kNodeCount = 128;
// The largest object value the master transfers: the SDO client refuses or aborts
// anything longer, and the buffers that hold a whole object value have this size.
constexpr std::uint32_t kMaxObjectBytes = 1000;
constexpr std::size_t kPdoSlotCount = 8;  // function codes 3 to 10

// SDO client states; the numbers are those of the state table.
enum class SdoState : std::uint8_t {
    Idle = 0,
    UploadInit,
    UploadInitWait,
    UploadSegment,
    UploadSegmentWait,
    DownloadInit,
    DownloadInitWait,
    DownloadSegment,
    DownloadSegmentWait,
    SendAbort,
    Done,
};

// Outcome of an SDO transfer. From the first step until the end of a transfer the
// client's status is SdoFailed.
enum SdoStatus : std::uint8_t {
    SdoCompleted = 0,  // transfer completed
    SdoFailed = 1,     // failed on the master's side; the master has sent an abort frame
    SdoAborted = 2,    // aborted by the slave; abortCode holds the slave's code
};

// Newest data of one PDO function code of one node.
struct PdoSlot {
    std::uint8_t fresh;                // 1: data arrived since the last fetch
    std::array<std::uint8_t, 8> data;  // data bytes of the newest frame
    std::uint32_t length;              // valid bytes in data, 0 to 8
};

// The engine's state for one node.
struct NodeRecord {
    // SDO client (sdo_client.cpp).
    SdoState sdoState;                                       // 0 is Idle
    std::uint16_t txCobId;                                   // request COB-ID, 0x600 + node; from the last request
    std::uint16_t rxCobId;                                   // response COB-ID, 0x580 + node; from the last request
    std::uint16_t index;                                     // object index; from the last request
    std::uint8_t subIndex;                                   // object subindex; from the last request
    std::uint32_t timeoutMs;                                 // longest wait for each response; from the last request
    std::array<std::uint8_t, kMaxObjectBytes> downloadData;  // data to write
    std::array<std::uint8_t, kMaxObjectBytes> uploadData;    // data read
    std::uint32_t abortCode;                                 // code of a failed or aborted transfer, else 0
    std::uint32_t downloadLength;                            // bytes to write, 0 to kMaxObjectBytes
    std::uint32_t uploadLength;                              // bytes read (expedited) or announced (segmented); for a
                                                             // segmented upload without a size, the bytes received
    std::uint8_t sizeIndicated;                              // 1: the slave announced the size of its segmented upload
    std::uint32_t toggle;                                    // toggle bit of the next segment, 0 or 1
    std::uint32_t offset;                                    // bytes transferred so far in segments
    std::uint8_t status;                                     // SdoStatus of the transfer
    std::uint32_t requestTick;                               // tick at which the last request frame was produced
    CanFrame sdoFrame;                                       // the client's outgoing frame, cleared at every step

    // PDO receipt (pdo_slots.cpp): slot k holds function code k + 3.
    std::array<PdoSlot, kPdoSlotCount> pdoSlots;
};

// The 128 node records, indexed by node number AND 0x7F.
struct NodeTable {
    std::array<NodeRecord, kNodeCount> nodes;
};

inline NodeRecord& RecordOf(NodeTable& table, std::uint32_t node)
{
    return table.nodes[node & 0x7Fu];
}

// The engine's single send operation. The frame is valid only during the call; the
// result is ignored by the engine.
using SendHook = int (*)(const CanFrame& frame);

// Sets every field of all 128 records to zero: every SDO client idle, every slot empty.
int ClearNodeTable(NodeTable& table);

// Removes the send hook; frames produced afterwards are dropped.
int ClearSendHook();

// Installs the send hook, replacing any earlier one.
int SetSendHook(SendHook hook);

// One pass over all nodes with one received frame, or none (nullptr). Returns 128.
int RunEngineCycle(NodeTable& table, const CanFrame* frame);

// The program's own table, used by the bus pump and the master services. Tests may run
// the engine on tables of their own.
NodeTable& MasterNodeTable();
