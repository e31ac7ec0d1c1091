#include "exchange.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <cwchar>

#include "bus_open.h"
#include "bus_pump.h"
#include "comm_state.h"
#include "communication.h"
#include "driver.h"
#include "exchange_internal.h"
#include "node_monitor.h"
#include "node_table.h"
#include "slave_dictionary.h"
#include "operator_side.h"
#include "pdo_slots.h"
#include "process_image.h"
#include "resource.h"
#include "sdo_services.h"
#include "settings_values.h"
#include "slave_search.h"
#include "tick.h"

namespace {

constexpr std::uint32_t kRefreshPeriodMs = 300;  // a refresh only after this long without sending
constexpr std::uint32_t kInputWaitMs = 200;
// While the monitor watches the slave, the rest is shorter, so that an emergency or a
// lost heartbeat shows within this long of its frame or its deadline.
constexpr std::uint32_t kWatchWaitMs = 40;
constexpr std::uint32_t kFirstPdoFunctionCode = 3;  // the PDO slots start at function code 3

// The operator's pending object read or write. Returns 0 when the cycle must end.
int ServeObjectRequest(OwnerHandle owner)
{
    ObjectRequest& request = processImage->request;
    request.pending = 0;
    // The state is read afresh at every step: the transfer runs an idle cycle of its own,
    // which may carry out a deferred stop.
    if (commState.active == 0 && OpenBus(owner, appSettings.Baud) == 0)
        return 0;

    const std::uint32_t node = static_cast<std::uint32_t>(appSettings.CurrAdr);
    const std::uint16_t index = static_cast<std::uint16_t>(request.index);
    const std::uint8_t subindex = static_cast<std::uint8_t>(request.subindex);
    SdoResult result;
    if (request.direction == 1)
        result = WriteObjectDefault(node, index, subindex, request.data.data(), request.length);
    else
        result = ReadObjectDefault(node, index, subindex, request.data.data(), request.length);

    if (commState.active != 0) {
        if (CheckCommFailure(owner, result) == 0)
            return 0;
    } else if (result.failed != 0) {
        Operator().showMessage(owner, IDS_COMM_FAILURE);
    }
    if (result.aborted != 0) {
        wchar_t code[16];
        std::swprintf(code, sizeof code / sizeof code[0], L"%08Xh", result.abortCode);
        Operator().askQuestion(Operator().ownerWindow(), FormOkPlain, IDS_OBJECT_ABORT, code);
    }
    if (request.direction == 0 && result.failed == 0 && result.aborted == 0)
        Operator().handOverReadResult(request.data.data(), request.length);
    if (request.direction == 1 && result.failed == 0 && result.aborted == 0)
        NoteObjectWritten(node, index, subindex, request.data.data(), request.length);
    if (commState.active == 0) {
        CloseBus();
        return 0;
    }
    return 1;
}

void CollectInputs()
{
    const std::uint32_t now = static_cast<std::uint32_t>(std::time(nullptr));
    for (std::uint32_t i = 0; i < pdoTable.inputPdoCount; ++i) {
        const PdoRow& row = pdoTable.rows[i];
        std::uint8_t data[8];
        std::uint32_t length = 0;
        // Only function codes 3 to 10 enter the table; the check keeps the subtraction
        // from wrapping should that ever change.
        const std::uint32_t function = FunctionCode(row.inputCobId);
        if (function < kFirstPdoFunctionCode)
            continue;
        if (FetchPdo(NodeNumber(row.inputCobId), function - kFirstPdoFunctionCode, MasterNodeTable(), data, length) ==
            0)
            continue;
        const std::uint32_t n = length < row.inputLength ? length : row.inputLength;
        for (std::uint32_t j = 0; j < n; ++j) {
            PdoEntry& entry = processImage->inputs[8 * i + j];
            entry.value = data[j];
            entry.kind = EntryData;
            entry.rxTime = now;
        }
    }
}

void SendOutputs()
{
    for (std::uint32_t i = 0; i < pdoTable.outputPdoCount; ++i) {
        const PdoRow& row = pdoTable.rows[i];
        CanFrame frame{};
        frame.remote = 0;
        frame.id = row.outputCobId;
        frame.length = row.outputLength;
        for (std::uint32_t j = 0; j < row.outputLength; ++j)
            frame.data[j] = static_cast<std::uint8_t>(processImage->sentOutputs[8 * i + j].value);
        SendFrame(frame);
        PassOneMessage();
    }
}

}  // namespace

int RunExchangeCycle(OwnerHandle owner)
{
    // Due for a refresh: more than 300 ms without any send.
    const bool refreshDue = TickMs() - lastSendTick > kRefreshPeriodMs;
    // The operator's pending object request; not while a slave search holds the bus:
    // opening and closing it for the request would pull the driver from under the
    // search. The request waits for its end. The same holds while the Object Dictionary
    // window reads the slave.
    if (processImage->request.pending == 1 && scanRunning == 0 && dictionaryBusy == 0 && monitorBusy == 0 &&
        ServeObjectRequest(owner) == 0)
        return 0;
    // With communication off, the object request above is all there is to serve.
    if (commState.active == 0)
        return 0;
    // A bus fault counts as a failed transfer.
    if (CAN_Status() != 0 && CheckCommFailure(owner, SdoResult{1, 0, 0}) == 0)
        return 0;
    // Refresh: a remote frame for every input PDO.
    if (refreshDue) {
        for (std::uint32_t i = 0; i < pdoTable.inputPdoCount; ++i) {
            SendRemoteRequest(pdoTable.rows[i].inputCobId, pdoTable.rows[i].inputLength);
            PassOneMessage();
        }
    }
    // At most one received frame, then the engine's time-outs and due sends.
    PumpBus();
    // The slave's state, heartbeat and emergencies, as the consumers took them.
    ServeNodeMonitor(owner);
    // Newly arrived input PDOs into the inputs.
    CollectInputs();
    // The operator's outputs become the sent outputs unless they are frozen.
    if (commState.freezeOutputs == 0)
        processImage->sentOutputs = OutputTable;
    // Refresh: a data frame for every output PDO.
    if (refreshDue)
        SendOutputs();
    // The process-data lists, rebuilt where their table changed.
    Operator().showPdoLists(owner, false);
    // Between refreshes, rest until input arrives; only the main loop's idle cycle rests.
    if (!refreshDue && nestedIdleDepth == 0)
        Operator().restUntilInput(nodeMonitor.watching != 0 ? kWatchWaitMs : kInputWaitMs);
    return 1;
}

void PostObjectRequest(std::uint32_t index, std::uint32_t subindex, const std::uint8_t* data, std::uint32_t length,
                       std::uint32_t direction)
{
    if (processImage == nullptr)
        return;
    ObjectRequest& request = processImage->request;
    request.data.fill(0);
    if (data != nullptr)
        std::memcpy(request.data.data(), data, std::min<std::size_t>(length, request.data.size()));
    request.index = index;
    request.subindex = subindex;
    request.length = length;
    request.direction = direction;
    request.pending = 1;
}

int RunIdleCycle()
{
    if (commState.windowReady == 0)
        return 0;
    const OperatorOps& side = Operator();
    OwnerHandle main = side.ownerWindow();
    // While the Object Dictionary window reads the slave, the deferred commands wait for
    // the end of its reads: a stop or close would pull the bus from under them. While a
    // slave search holds the bus, opening the window waits too: it reads the slave.
    // The same holds while a service of the node monitor holds the bus.
    std::uint32_t command =
        dictionaryBusy != 0 || monitorBusy != 0 ? static_cast<std::uint32_t>(DeferredNone) : commState.DeferredCommand;
    if (command == DeferredOpenDictionary && scanRunning != 0)
        command = DeferredNone;
    switch (command) {
    case DeferredClose:
        side.closeObjectWindows();
        StopCommunication(main);
        side.saveSettings();
        side.closeMainWindow(main);
        commState.DeferredCommand = DeferredNone;
        break;
    case DeferredStop: {
        side.takeSlaveAddress(main);
        void* previous = side.beginWait();
        StopCommunication(main);
        side.endWait(previous);
        commState.DeferredCommand = DeferredNone;
        break;
    }
    case DeferredOpenRead:
        commState.DeferredCommand = DeferredNone;
        side.openReadObject(main);
        break;
    case DeferredOpenWrite:
        commState.DeferredCommand = DeferredNone;
        side.openWriteObject(main);
        break;
    case DeferredOpenDictionary:
        // Cleared first: the window's reads of the slave run idle cycles of their own.
        commState.DeferredCommand = DeferredNone;
        side.openDictionary(main);
        break;
    default:
        break;
    }
    RunExchangeCycle(main);
    return 1;
}

int RunNestedIdleCycle()
{
    ++nestedIdleDepth;
    const int ran = RunIdleCycle();
    --nestedIdleDepth;
    return ran;
}
