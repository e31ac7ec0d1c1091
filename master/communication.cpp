#include "communication.h"

#include <cstring>

#include "bus_open.h"
#include "comm_state.h"
#include "driver.h"
#include "main_window.h"
#include "messages.h"
#include "pdo_lists.h"
#include "process_image.h"
#include "resource.h"
#include "settings.h"
#include "tick.h"

namespace {

constexpr std::uint32_t kStopPauseMs = 500;  // lets the NMT frame leave before the close

UINT MessageFor(ConfigOutcome outcome)
{
    return outcome == ConfigBadPdo ? IDS_BAD_PDO_CONFIG : IDS_COMM_FAILURE;
}

void ClearProcessImage()
{
    std::memset(processImage, 0, sizeof *processImage);
}

}  // namespace

int StartCommunication(HWND owner)
{
    if (ShowFormatMessage(owner, MB_OKCANCEL | MB_ICONEXCLAMATION, IDS_OUTPUTS_WARNING, nullptr,
                          nullptr, nullptr) != IDOK)
        return 0;
    if (OpenBus(owner, appSettings.Baud) == 0)
        return 0;
    ClearProcessImage();
    const ConfigOutcome outcome = ReadSlaveConfiguration();
    if (outcome == ConfigOk) {
        SetFreezeOutputs(owner, false);
        SetCommActive(owner, true);
        ActivePump = MessageHook;
        return 1;
    }
    ShowStringMessage(owner, MessageFor(outcome));
    StopCommunication(owner);
    return 0;
}

int StopCommunication(HWND owner)
{
    ActivePump = nullptr;
    if (commState.active != 0)
        SendNmtCommand(static_cast<std::uint32_t>(appSettings.CurrAdr), kNmtEnterPreOperational);
    SleepMs(kStopPauseMs);
    ActivePump = nullptr;
    CAN_Close();
    UnloadDriver();
    SetCommActive(owner, false);
    ClearProcessImage();
    OutputTable = EntryList{};
    SyncPdoList(owner, IDC_INPUT_LIST, processImage->inputs, inputShadow, true);
    SyncPdoList(owner, IDC_OUTPUT_LIST, OutputTable, outputShadow, true);
    UpdateCommControls(owner);
    return 1;
}

int RestartCommunication(HWND owner)
{
    for (;;) {
        OpenBus(owner, appSettings.Baud);
        const ConfigOutcome outcome = ReadSlaveConfiguration();
        // The reading's object reads run idle cycles: a Cancel answered to a question
        // asked there, or a deferred stop carried out there, has stopped communication
        // and closed the bus. Nothing is left to restart, and nothing to ask again.
        if (commState.active == 0)
            return 0;
        if (outcome == ConfigOk)
            return 1;
        if (ShowFormatMessage(owner, MB_RETRYCANCEL | MB_ICONEXCLAMATION, MessageFor(outcome), nullptr,
                              nullptr, nullptr) != IDRETRY) {
            StopCommunication(owner);
            return 0;
        }
    }
}

int CheckCommFailure(HWND owner, SdoResult result)
{
    if (result.failed == 0)
        return 1;
    if (ShowFormatMessage(owner, MB_RETRYCANCEL | MB_ICONEXCLAMATION, IDS_COMM_FAILURE, nullptr, nullptr,
                          nullptr) == IDRETRY)
        return RestartCommunication(owner);
    StopCommunication(owner);
    return 0;
}
