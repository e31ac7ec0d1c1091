#include "communication.h"

#include <cstring>

#include "bus_open.h"
#include "comm_state.h"
#include "driver.h"
#include "node_monitor.h"
#include "operator_side.h"
#include "process_image.h"
#include "resource.h"
#include "settings_values.h"
#include "tick.h"

namespace {

constexpr std::uint32_t kStopPauseMs = 500;  // lets the NMT frame leave before the close

std::uint32_t MessageFor(ConfigOutcome outcome)
{
    return outcome == ConfigBadPdo ? IDS_BAD_PDO_CONFIG : IDS_COMM_FAILURE;
}

void ClearProcessImage()
{
    std::memset(processImage, 0, sizeof *processImage);
}

}  // namespace

int StartCommunication(OwnerHandle owner)
{
    if (Operator().askQuestion(owner, FormOkCancelWarning, IDS_OUTPUTS_WARNING, nullptr) != AnswerOk)
        return 0;
    if (OpenBus(owner, appSettings.Baud) == 0)
        return 0;
    ClearProcessImage();
    const ConfigOutcome outcome = ReadSlaveConfiguration();
    if (outcome == ConfigOk) {
        commState.freezeOutputs = 0;
        Operator().showFreezeOutputs(owner, false);
        commState.active = 1;
        Operator().showCommActive(owner, true);
        ActivePump = MessageHook;
        // The slave's state, heartbeat and emergencies are watched while the exchange runs.
        StartNodeMonitor(static_cast<std::uint32_t>(appSettings.CurrAdr));
        return 1;
    }
    Operator().showMessage(owner, MessageFor(outcome));
    StopCommunication(owner);
    return 0;
}

int StopCommunication(OwnerHandle owner)
{
    ActivePump = nullptr;
    // What was seen of the slave stays; nothing is supervised on a closed bus.
    PauseNodeMonitor();
    if (commState.active != 0)
        SendNmtCommand(static_cast<std::uint32_t>(appSettings.CurrAdr), kNmtEnterPreOperational);
    SleepMs(kStopPauseMs);
    // Withdrawn a second time on purpose: the close must never pass messages on,
    // whatever set the slot in between.
    ActivePump = nullptr;
    CAN_Close();
    UnloadDriver();
    commState.active = 0;
    // The indicator, the lists and the menu are the main window's, whichever window the
    // stop came from (Read All's failure rule, the node monitor's commands).
    OwnerHandle main = Operator().ownerWindow() != nullptr ? Operator().ownerWindow() : owner;
    Operator().showCommActive(main, false);
    ClearProcessImage();
    OutputTable = EntryList{};
    // Both lists rebuilt, now empty: inputs first, then outputs.
    Operator().showPdoLists(main, true);
    Operator().refreshCommControls(main);
    return 1;
}

int RestartCommunication(OwnerHandle owner)
{
    for (;;) {
        // The result is left alone on purpose: a bus that did not open has shown why,
        // and the reading then fails like a silent slave, so the operator is asked again.
        OpenBus(owner, appSettings.Baud);
        const ConfigOutcome outcome = ReadSlaveConfiguration();
        // The reading's object reads run idle cycles: a Cancel answered to a question
        // asked there, or a deferred stop carried out there, has stopped communication
        // and closed the bus. Nothing is left to restart, and nothing to ask again.
        if (commState.active == 0)
            return 0;
        if (outcome == ConfigOk)
            return 1;
        if (Operator().askQuestion(owner, FormRetryCancelWarning, MessageFor(outcome), nullptr) != AnswerRetry) {
            StopCommunication(owner);
            return 0;
        }
    }
}

int CheckCommFailure(OwnerHandle owner, SdoResult result)
{
    if (result.failed == 0)
        return 1;
    if (Operator().askQuestion(owner, FormRetryCancelWarning, IDS_COMM_FAILURE, nullptr) == AnswerRetry)
        return RestartCommunication(owner);
    StopCommunication(owner);
    return 0;
}
