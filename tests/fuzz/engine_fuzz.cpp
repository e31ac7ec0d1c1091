// Drives the engine with arbitrary sequences of received frames, requests, fetches and
// clock steps, and checks what must always hold of what it sends and delivers.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "emergency.h"
#include "error_control.h"
#include "frame_routing.h"
#include "node_table.h"
#include "pdo_slots.h"
#include "sdo_client.h"
#include "tick.h"

namespace {

NodeTable table;

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

// Every frame the engine sends is an SDO request or abort of 8 bytes on 0x600 + node.
int CheckSentFrame(const CanFrame& frame)
{
    Check(frame.remote == 0);
    Check(frame.length == 8);
    Check(frame.id >= 0x600 && frame.id <= 0x67F);
    return 1;
}

// What must hold of the consumers whatever arrived: a state the profile knows, a bounded
// log whose entries are the watched node's, events only of the known kinds.
void CheckConsumers()
{
    const ErrorControl& watch = MasterErrorControl();
    Check(watch.state == NmtBootUp || watch.state == NmtStopped || watch.state == NmtOperational ||
          watch.state == NmtPreOperational || watch.state == NmtUnknown);
    Check((watch.events & ~0x3Fu) == 0);
    Check(watch.node <= 127);
    const EmergencyLog& log = MasterEmergencyLog();
    Check(HeldEmergencies(log) <= kEmergencyCapacity);
    if (HeldEmergencies(log) != 0)
        Check(ClassOfEmergency(NewestEmergency(log, 0).errorCode) <= EmergencyClass::Unassigned);
}

struct Input {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t at;

    std::uint8_t Byte() { return at < size ? data[at++] : 0; }
    std::uint16_t Word() { return static_cast<std::uint16_t>(Byte() | (Byte() << 8)); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static bool started = false;
    if (!started) {
        SetSendHook(CheckSentFrame);
        started = true;
    }
    UseManualClock(0xFFFFFF00u);  // close to the wrap of the tick
    ClearNodeTable(table);
    StopErrorControl(MasterErrorControl());
    WatchEmergencies(MasterEmergencyLog(), 0);

    static std::uint8_t payload[1100];
    static std::uint8_t destination[1200];
    Input in{data, size, 0};
    while (in.at < in.size) {
        const std::uint8_t op = in.Byte();
        const std::uint32_t node = in.Byte() & 0x87u;  // a few nodes, some above 127
        switch (op % 7) {
        case 0: {  // a received frame, mostly on the node's response COB-ID
            CanFrame frame{};
            const std::uint8_t kind = in.Byte();
            // Mostly the node's SDO response; else an error-control message, an
            // emergency, or any identifier.
            static constexpr std::uint32_t kBases[] = {0, 0x580, 0x700, 0x080};
            frame.id = (kind & 3) == 0 ? (in.Word() & 0x7FFu) : kBases[kind & 3] + (node & 0x7Fu);
            frame.remote = (kind & 0x80) != 0 ? 1 : 0;
            frame.length = (kind & 0x40) != 0 ? static_cast<std::uint8_t>(in.Byte() & 0x0F) : 8;
            for (std::uint8_t& b : frame.data)
                b = in.Byte();
            RunEngineCycle(table, &frame);
            RouteToConsumers(frame, TickMs());
            RunEngineCycle(table, nullptr);
            CheckConsumers();
            break;
        }
        case 1:
            RequestUpload(node, in.Byte(), table, in.Word(), in.Byte());
            break;
        case 2: {
            const std::uint32_t length = in.Word() % 1100u;
            for (std::uint32_t i = 0; i < length; ++i)
                payload[i] = static_cast<std::uint8_t>(i);
            const std::uint8_t timeout = in.Byte();
            const std::uint16_t index = in.Word();
            const int accepted = RequestDownload(node, timeout, table, index, in.Byte(), payload, length);
            Check(accepted == (length <= 1000 ? 1 : 0));
            break;
        }
        case 3: {
            const std::uint32_t capacity = in.Word() % 1200u;
            std::uint32_t length = 0, abortCode = 0;
            std::uint8_t status = 0;
            if (FetchSdoResult(node, table, destination, capacity, length, status, abortCode) != 0) {
                Check(length <= capacity && length <= 1000);
                Check(status <= 2);
                Check((status == 0) == (abortCode == 0) || status == 2);
            } else {
                Check(length == 0 && status == 1 && abortCode == 0);
            }
            break;
        }
        case 4: {
            std::uint32_t length = 99;
            const int fresh = FetchPdo(node, in.Byte(), table, destination, length);
            Check(length <= 8 && (fresh != 0 || length == 0));
            break;
        }
        case 5: {
            AdvanceManualTick(static_cast<std::uint32_t>(in.Byte()) * in.Byte());
            RunEngineCycle(table, nullptr);
            // The consumers send only node guarding's remote frame for their node.
            if (const CanFrame* request = StepConsumers(TickMs())) {
                Check(request->remote == 1 && request->length == 1);
                Check(request->id == 0x700u + MasterErrorControl().node && MasterErrorControl().node != 0);
            }
            CheckConsumers();
            break;
        }
        case 6: {
            const std::uint8_t what = in.Byte();
            switch (what & 0x0F) {
            case 0:
                ClearNodeTable(table);
                break;
            case 1:
                WatchHeartbeat(MasterErrorControl(), node, in.Word(), TickMs());
                break;
            case 2:
                GuardNode(MasterErrorControl(), node, in.Word(), in.Byte(), TickMs());
                break;
            case 3:
                WatchEmergencies(MasterEmergencyLog(), node);
                break;
            case 4:
                TakeErrorControlEvents(MasterErrorControl());
                break;
            default:
                RunEngineCycle(table, nullptr);
                break;
            }
            break;
        }
        }
    }
    UseSystemClock();
    return 0;
}
