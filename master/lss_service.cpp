#include "lss_service.h"

#include <cwchar>

#include "bus_open.h"
#include "bus_pump.h"
#include "comm_state.h"
#include "master_start.h"
#include "node_monitor.h"
#include "operator_side.h"
#include "resource.h"
#include "sdo_services.h"
#include "settings_values.h"
#include "slave_dictionary.h"
#include "slave_search.h"
#include "tick.h"

LssSettings lssSettings = kDefaultLssSettings;
LssSession lssSession{};
int lssBusy = 0;

namespace {

constexpr std::uint32_t kPumpSleepMs = 1;

bool BusHeldElsewhere()
{
    return scanRunning != 0 || dictionaryBusy != 0 || monitorBusy != 0;
}

bool SameIdentity(const LssIdentity& a, const LssIdentity& b)
{
    return a.vendor == b.vendor && a.product == b.product && a.revision == b.revision && a.serial == b.serial;
}

// The bus for the session: opened by the first service, kept until LssFinish.
int EnsureBus(OwnerHandle owner)
{
    if (lssSession.busOpen != 0)
        return 1;
    if (OpenBus(owner, appSettings.Baud) == 0)
        return 0;
    lssSession.busOpen = 1;
    lssSession.selected = 0;
    lssSession.nodeId = 0;
    return 1;
}

// Runs one engine service to its end on the pumped bus, the bus's quiet time after a
// bit-rate switch included. `progress` (Fastscan only) is told whenever the step count
// moves; the abort flag counts only where `abortable`.
LssResult RunService(LssRequest request, bool abortable, LssFindResult* progress, OwnerHandle owner)
{
    LssMaster& lss = MasterLss();
    request.timeoutMs = lssSettings.timeoutMs;
    LssResult result{};
    result.service = request.service;
    if (StartLssService(lss, request, TickMs()) == 0) {
        result.outcome = LssOutcome::Failed;
        return result;
    }
    std::uint32_t shownSteps = 0;
    while (!LssDone(lss) || LssHoldsBus(lss, TickMs())) {
        PumpBus();
        if (abortable) {
            PassOneMessage();
            if (lssSession.abort != 0 && LssRunning(lss))
                AbortLss(lss);
        }
        if (progress != nullptr && lss.result.steps != shownSteps) {
            shownSteps = lss.result.steps;
            progress->steps = shownSteps;
            Operator().showLssProgress(owner);
        }
        SleepMs(kPumpSleepMs);
    }
    TakeLssResult(lss, result);
    return result;
}

LssResult RunSimple(LssRequest request)
{
    return RunService(request, false, nullptr, nullptr);
}

bool Succeeded(const LssResult& result)
{
    return result.outcome == LssOutcome::Success;
}

// The device alone in configuration state. A device already selected stays; any other
// state starts from waiting, so that no device found before takes what is meant for this one.
int Select(const LssIdentity& identity, LssResult& result)
{
    if (lssSession.selected != 0 && SameIdentity(lssSession.identity, identity))
        return 1;
    lssSession.selected = 0;
    result = RunSimple(LssRequest{.service = LssService::SwitchGlobal, .mode = 0});
    if (!Succeeded(result))
        return 0;
    result = RunSimple(LssRequest{.service = LssService::SwitchSelective, .identity = identity});
    if (!Succeeded(result))
        return 0;
    lssSession.selected = 1;
    lssSession.identity = identity;
    return 1;
}

// Fastscan found nothing: a single device that has a node-ID may still answer LSS. All
// devices to configuration state, and the one that answers tells its identity.
bool InquireTheOneDevice(LssDevice& device)
{
    if (!Succeeded(RunSimple(LssRequest{.service = LssService::SwitchGlobal, .mode = 1})))
        return false;
    const LssService parts[] = {LssService::InquireVendor, LssService::InquireProduct, LssService::InquireRevision,
                                LssService::InquireSerial, LssService::InquireNodeId};
    std::uint32_t values[5] = {};
    for (std::size_t i = 0; i < 5; ++i) {
        const LssResult answer = RunSimple(LssRequest{.service = parts[i]});
        if (!Succeeded(answer) || lssSession.abort != 0) {
            RunSimple(LssRequest{.service = LssService::SwitchGlobal, .mode = 0});
            return false;
        }
        values[i] = answer.value;
    }
    device.identity = LssIdentity{values[0], values[1], values[2], values[3]};
    device.nodeId = static_cast<std::uint8_t>(values[4]);
    // In configuration state alone: the next service finds it selected.
    lssSession.selected = 1;
    lssSession.identity = device.identity;
    return true;
}

// The checks every service makes, then the bus.
int Begin(OwnerHandle owner)
{
    if (LssAllowed(owner) == 0)
        return 0;
    if (EnsureBus(owner) == 0)
        return 0;
    lssBusy = 1;
    return 1;
}

}  // namespace

int LssAllowed(OwnerHandle owner)
{
    if (commState.active != 0) {
        Operator().showMessage(owner, IDS_LSS_STOP_COMM_FIRST);
        return 0;
    }
    return BusHeldElsewhere() || lssSession.finding != 0 ? 0 : 1;
}

int LssFind(OwnerHandle owner, LssFindResult& result)
{
    result = LssFindResult{};
    lssSession.abort = 0;
    if (Begin(owner) == 0)
        return 0;
    lssSession.finding = 1;
    MessagePumpSlot previousPump = ActivePump;
    ActivePump = MessageHook;
    // The scans leave the devices they find in configuration state; none is selected.
    lssSession.selected = 0;
    while (result.count < kMaxLssDevices) {
        result.steps = 0;
        const LssResult scan = RunService(LssRequest{.service = LssService::Fastscan}, true, &result, owner);
        if (scan.outcome == LssOutcome::Aborted) {
            result.aborted = 1;
            break;
        }
        if (scan.outcome == LssOutcome::Failed) {
            result.failed = 1;
            break;
        }
        if (scan.outcome != LssOutcome::Success)
            break;
        result.devices[result.count++] = LssDevice{scan.identity, kLssNoNodeId};
        Operator().showLssProgress(owner);
    }
    if (result.count == 0 && result.aborted == 0 && result.failed == 0 && lssSession.abort == 0) {
        LssDevice device{};
        if (InquireTheOneDevice(device)) {
            result.devices[result.count++] = device;
            result.inquired = 1;
        }
    }
    if (lssSession.abort != 0)
        result.aborted = 1;
    result.steps = 0;
    ActivePump = previousPump;
    lssSession.finding = 0;
    lssBusy = 0;
    Operator().showLssProgress(owner);
    return 1;
}

void AbortLssFind()
{
    lssSession.abort = 1;
}

int LssSetNodeId(OwnerHandle owner, const LssIdentity& identity, std::uint8_t nodeId, LssResult& result)
{
    result = LssResult{};
    if (nodeId < 1 || nodeId > 127 || Begin(owner) == 0)
        return 0;
    if (Select(identity, result) != 0) {
        result = RunSimple(LssRequest{.service = LssService::ConfigureNodeId, .nodeId = nodeId});
        if (Succeeded(result))
            lssSession.nodeId = nodeId;
    }
    lssBusy = 0;
    return 1;
}

int LssSetBitRate(OwnerHandle owner, const LssIdentity& identity, std::int32_t baudIndex, LssResult& result)
{
    result = LssResult{};
    const std::uint8_t tableIndex = LssTableIndexOfBaud(baudIndex);
    if (tableIndex == 0xFF || LssAllowed(owner) == 0)
        return 0;
    wchar_t rate[16];
    std::swprintf(rate, sizeof rate / sizeof rate[0], L"%u kBaud",
                  static_cast<unsigned>(BitRateTable[static_cast<std::size_t>(baudIndex)].kBaud));
    if (Operator().askQuestion(owner, FormOkCancelWarning, IDS_LSS_BIT_RATE_WARNING, rate) != AnswerOk)
        return 0;
    if (Begin(owner) == 0)
        return 0;
    if (Select(identity, result) != 0) {
        result = RunSimple(
            LssRequest{.service = LssService::ConfigureBitTiming, .tableSelector = 0, .tableIndex = tableIndex});
        if (Succeeded(result)) {
            // Every device in configuration state switches; the master follows once they
            // have, and keeps the new rate as its own.
            result =
                RunSimple(LssRequest{.service = LssService::ActivateBitTiming, .switchDelayMs = kLssSwitchDelayMs});
            CloseBus();
            lssSession.busOpen = 0;
            UseBitRate(baudIndex);
            if (OpenBus(owner, baudIndex) != 0)
                lssSession.busOpen = 1;
        }
    }
    lssBusy = 0;
    return 1;
}

int LssStore(OwnerHandle owner, const LssIdentity& identity, LssResult& result)
{
    result = LssResult{};
    if (Begin(owner) == 0)
        return 0;
    if (Select(identity, result) != 0)
        result = RunSimple(LssRequest{.service = LssService::StoreConfiguration});
    lssBusy = 0;
    return 1;
}

std::int32_t LssFinish(OwnerHandle owner)
{
    if (lssSession.busOpen == 0) {
        lssSession = LssSession{};
        return 0;
    }
    lssBusy = 1;
    RunSimple(LssRequest{.service = LssService::SwitchGlobal, .mode = 0});
    const std::uint8_t node = lssSession.nodeId;
    // A device that had a node-ID takes the new one up at its next reset.
    if (node != 0)
        SendNmtCommand(node, NodeResetCommunication);
    // Its frames go out before the adapter closes.
    PumpBus();
    CloseBus();
    lssBusy = 0;
    lssSession = LssSession{};
    if (node == 0)
        return 0;
    wchar_t number[8];
    std::swprintf(number, sizeof number / sizeof number[0], L"%u", static_cast<unsigned>(node));
    if (Operator().askQuestion(owner, FormOkCancelWarning, IDS_LSS_MAKE_CURRENT, number) != AnswerOk)
        return 0;
    return UseSlave(node) != 0 ? node : 0;
}

LssResultText DescribeLssResult(const LssResult& result, std::uint32_t value)
{
    switch (result.outcome) {
    case LssOutcome::Success:
        switch (result.service) {
        case LssService::ConfigureNodeId:
            return {IDS_LSS_NODE_ID_SET, value};
        case LssService::ConfigureBitTiming:
        case LssService::ActivateBitTiming:
            return {IDS_LSS_BIT_RATE_SET, value};
        default:
            return {IDS_LSS_STORED, 0};
        }
    case LssOutcome::DeviceError:
        switch (result.errorCode) {
        case kLssErrorNotSupported:
            return {IDS_LSS_NOT_SUPPORTED, 0};
        case kLssErrorStorage:
            return {IDS_LSS_STORAGE_ERROR, 0};
        case kLssErrorSpecific:
            return {IDS_LSS_SPECIFIC_ERROR, result.specificError};
        default:
            // A code the services do not define: shown as the device gave it.
            return {IDS_LSS_OTHER_ERROR, result.errorCode};
        }
    default:
        return {IDS_LSS_NO_ANSWER, 0};
    }
}

std::uint8_t LssTableIndexOfBaud(std::int32_t baudIndex)
{
    if (baudIndex < 0 || baudIndex >= static_cast<std::int32_t>(BitRateTable.size()))
        return 0xFF;
    return LssBitTimingIndex(BitRateTable[static_cast<std::size_t>(baudIndex)].kBaud);
}
