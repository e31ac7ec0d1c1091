#include "exchange.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <cwchar>

#include "app.h"
#include "bus_open.h"
#include "bus_pump.h"
#include "comm_state.h"
#include "communication.h"
#include "driver.h"
#include "exchange_internal.h"
#include "main_window.h"
#include "messages.h"
#include "object_dialogs.h"
#include "pdo_lists.h"
#include "pdo_slots.h"
#include "process_image.h"
#include "resource.h"
#include "sdo_services.h"
#include "settings.h"
#include "slave_search.h"
#include "tick.h"

namespace {

constexpr std::uint32_t kRefreshPeriodMs = 300;  // a refresh only after this long without sending
constexpr DWORD kInputWaitMs = 200;
constexpr DWORD kWakeOnAnyInput = 0xFF;

// Depth of idle cycles run from inside master services (see exchange_internal.h).
int nestedIdleDepth = 0;

// Step 2: the operator's pending object read or write. Returns 0 when the cycle must end.
int ServeObjectRequest(HWND owner)
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
        ShowStringMessage(owner, IDS_COMM_FAILURE);
    }
    if (result.aborted != 0) {
        wchar_t code[16];
        std::swprintf(code, sizeof code / sizeof code[0], L"%08Xh", result.abortCode);
        ShowFormatMessage(MainWindow(), MB_OK, IDS_OBJECT_ABORT, code, nullptr, nullptr);
    }
    if (request.direction == 0 && result.failed == 0 && result.aborted == 0)
        DeliverReadResult(request.data.data(), request.length);
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
        if (FetchPdo(row.inputCobId & 0x7F, ((row.inputCobId >> 7) & 0x0F) - 3, MasterNodeTable(), data,
                     length) == 0)
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

int RunExchangeCycle(HWND owner)
{
    // 1
    const bool refreshDue = TickMs() - lastSendTick > kRefreshPeriodMs;
    // 2. Not while a slave search holds the bus: opening and closing it for the request
    //    would pull the driver from under the search. The request waits for its end.
    if (processImage->request.pending == 1 && scanRunning == 0 && ServeObjectRequest(owner) == 0)
        return 0;
    // 3
    if (commState.active == 0)
        return 0;
    // 4
    if (CAN_Status() != 0 && CheckCommFailure(owner, SdoResult{1, 0, 0}) == 0)
        return 0;
    // 5
    if (refreshDue) {
        for (std::uint32_t i = 0; i < pdoTable.inputPdoCount; ++i) {
            SendRemoteRequest(pdoTable.rows[i].inputCobId, pdoTable.rows[i].inputLength);
            PassOneMessage();
        }
    }
    // 6
    PumpBus();
    // 7
    CollectInputs();
    // 8
    if (commState.freezeOutputs == 0)
        processImage->sentOutputs = OutputTable;
    // 9
    if (refreshDue)
        SendOutputs();
    // 10
    SyncPdoList(owner, IDC_INPUT_LIST, processImage->inputs, inputShadow, false);
    SyncPdoList(owner, IDC_OUTPUT_LIST, OutputTable, outputShadow, false);
    // 11: only the main loop's idle cycle rests here.
    if (!refreshDue && nestedIdleDepth == 0)
        MsgWaitForMultipleObjects(0, nullptr, FALSE, kInputWaitMs, kWakeOnAnyInput);
    // 12
    return 1;
}

int RunIdleCycle()
{
    if (commState.windowReady == 0)
        return 0;
    HWND main = MainWindow();
    switch (commState.DeferredCommand) {
    case DeferredClose:
        CloseObjectDialogs();
        StopCommunication(main);
        WriteSettings();
        DestroyWindow(main);
        commState.DeferredCommand = DeferredNone;
        break;
    case DeferredStop: {
        ValidateSlaveAddress(main);
        HCURSOR previous = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
        StopCommunication(main);
        SetCursor(previous);
        commState.DeferredCommand = DeferredNone;
        break;
    }
    case DeferredOpenRead:
        commState.DeferredCommand = DeferredNone;
        OpenReadObjectDialog(main);
        break;
    case DeferredOpenWrite:
        commState.DeferredCommand = DeferredNone;
        OpenWriteObjectDialog(main);
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
