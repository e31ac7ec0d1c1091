// Drives the engine with arbitrary sequences of received frames, requests, fetches and
// clock steps, and LSS services with arbitrary answers, and checks what must always hold
// of what it sends and delivers.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "emergency.h"
#include "error_control.h"
#include "frame_routing.h"
#include "lss_master.h"
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

// Bytes an LSS request of this specifier carries after byte 0; 0 for one the master never sends.
std::uint8_t LssRequestBytes(std::uint8_t specifier)
{
    switch (specifier) {
    case 0x04:  // mode
    case 0x11:  // node-ID
        return 1;
    case 0x13:  // table selector and index
    case 0x15:  // switch delay
        return 2;
    case 0x17:
    case 0x4C:
    case 0x5A:
    case 0x5B:
    case 0x5C:
    case 0x5D:
    case 0x5E:
        return 0;
    case 0x51:  // IDNumber, bit checked, LSSSub, LSSNext
        return 7;
    default:
        return specifier >= 0x40 && specifier <= 0x4B && specifier != 0x44 && specifier != 0x45 ? 4 : 0xFF;
    }
}

// Every frame the engine sends: an SDO request or abort of 8 bytes on 0x600 + node; node
// guarding's remote frame of 1 byte for the guarded node; an LSS request of 8 bytes on
// 0x7E5 whose unused bytes are 0.
int CheckSentFrame(const CanFrame& frame)
{
    if (frame.remote != 0) {
        Check(frame.length == 1);
        Check(MasterErrorControl().node != 0 && frame.id == 0x700u + MasterErrorControl().node);
        return 1;
    }
    Check(frame.length == 8);
    if (frame.id == kLssRequestCobId) {
        const std::uint8_t used = LssRequestBytes(frame.data[0]);
        Check(used != 0xFF);
        for (std::uint8_t i = static_cast<std::uint8_t>(1 + used); i < 8; ++i)
            Check(frame.data[i] == 0);
        if (frame.data[0] == 0x04)
            Check(frame.data[1] <= 1);
        if (frame.data[0] == 0x11)
            Check((frame.data[1] >= 1 && frame.data[1] <= 127) || frame.data[1] == 0xFF);
        if (frame.data[0] == 0x51)
            Check((frame.data[5] <= 31 || frame.data[5] == 0x80) && frame.data[6] <= 3 && frame.data[7] <= 3);
        return 1;
    }
    Check(frame.id >= 0x600 && frame.id <= 0x67F);
    return 1;
}

// What an ended LSS service reports.
void CheckLssResult(const LssResult& result)
{
    Check(result.outcome <= LssOutcome::Aborted);
    Check(result.service >= LssService::SwitchGlobal && result.service <= LssService::Fastscan);
    if (result.service == LssService::Fastscan)
        Check(result.steps <= kFastscanAttempts * kFastscanSteps);
    else
        Check(result.steps <= 6 && result.outcome != LssOutcome::NotFound && result.outcome != LssOutcome::Failed);
    if (result.outcome == LssOutcome::DeviceError)
        Check(result.errorCode != 0);
    if (result.service == LssService::InquireNodeId)
        Check(result.value <= 0xFF);
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
    const LssMaster& lss = MasterLss();
    Check(lss.state <= LssState::Done);
    Check(lss.attempt <= kFastscanAttempts && lss.part <= 3 && (lss.bitChecked <= 31 || lss.bitChecked == 0x80));
    Check(lss.result.steps <= kFastscanAttempts * kFastscanSteps);
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
    MasterLss() = LssMaster{};

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
            // An LSS answer: mostly one of the specifiers the master awaits.
            if ((kind & 0x20) != 0) {
                static constexpr std::uint8_t kAnswers[] = {0x11, 0x13, 0x17, 0x44, 0x4F, 0x50,
                                                            0x5A, 0x5B, 0x5C, 0x5D, 0x5E, 0x51};
                frame.id = kLssAnswerCobId;
                frame.data[0] = kAnswers[frame.data[0] % sizeof kAnswers];
            }
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
            // The consumers send node guarding's remote frame and LSS requests, and nothing at
            // all while LSS holds the bus quiet for a bit-rate switch.
            const bool quiet = LssHoldsBus(MasterLss(), TickMs());
            if (const CanFrame* request = StepConsumers(TickMs())) {
                Check(!quiet);
                CheckSentFrame(*request);
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
            case 5: {  // an LSS service with arbitrary parameters
                LssRequest request{};
                request.service = static_cast<LssService>(in.Byte() % 17);
                request.timeoutMs = in.Byte();
                request.mode = in.Byte() & 3;
                request.nodeId = in.Byte();
                request.tableSelector = in.Byte();
                request.tableIndex = in.Byte();
                request.switchDelayMs = static_cast<std::uint16_t>(in.Byte());
                request.identity = LssIdentity{in.Word(), in.Word(), in.Word(), in.Word()};
                request.revisionHigh = in.Word();
                request.serialHigh = in.Word();
                request.knownParts = in.Byte();
                const bool running = LssRunning(MasterLss());
                const int started = StartLssService(MasterLss(), request, TickMs());
                Check(started == 0 || !running);
                Check(started == 0 || LssRunning(MasterLss()));
                break;
            }
            case 6:
                AbortLss(MasterLss());
                Check(!LssRunning(MasterLss()));
                break;
            case 7: {
                LssResult result{};
                if (TakeLssResult(MasterLss(), result) != 0)
                    CheckLssResult(result);
                break;
            }
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
