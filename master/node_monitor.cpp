#include "node_monitor.h"

#include <chrono>

#include "bus_open.h"
#include "bus_pump.h"
#include "byte_order.h"
#include "comm_state.h"
#include "communication.h"
#include "emergency.h"
#include "error_control.h"
#include "lss_service.h"
#include "operator_side.h"
#include "resource.h"
#include "settings_values.h"
#include "slave_dictionary.h"
#include "slave_search.h"
#include "tick.h"

static_assert(IDS_EMCY_CLASS_LAST - IDS_EMCY_CLASS_FIRST + 1 == kEmergencyClassCount, "a text for every class");
static_assert(IDS_EMCY_CODE_LAST - IDS_EMCY_CODE_FIRST + 1 == kNamedMonitoringCodes, "a text for every named code");
static_assert(IDS_ERROR_REG_LAST - IDS_ERROR_REG_FIRST + 1 == kErrorRegisterBits, "a text for every register bit");

MonitorSettings monitorSettings = kDefaultMonitorSettings;
NodeMonitor nodeMonitor{};
int monitorBusy = 0;

namespace {

constexpr std::uint16_t kErrorHistoryObject = 0x1003;
constexpr std::uint16_t kProducerHeartbeatObject = 0x1017;
constexpr std::uint32_t kCommandPumpSleepMs = 10;

// The consumer time for a producer time: the operator's, else half as long again, so
// that one late heartbeat is not taken for a lost one.
std::uint32_t ConsumerTimeFor(std::uint32_t producerMs, const MonitorSettings& settings)
{
    if (producerMs == 0)
        return 0;
    if (settings.consumerTimeMs != 0)
        return settings.consumerTimeMs;
    return producerMs + producerMs / 2;
}

// Heartbeat supervision where the slave produces one, else guarding when the operator
// chose a guard time, else the state alone.
void ArmConsumers(std::uint32_t node, const MonitorSettings& settings)
{
    ErrorControl& watch = MasterErrorControl();
    const std::uint32_t now = TickMs();
    nodeMonitor.consumerTimeMs = ConsumerTimeFor(nodeMonitor.producerTimeMs, settings);
    nodeMonitor.guardTimeMs = nodeMonitor.consumerTimeMs == 0 ? settings.guardTimeMs : 0;
    if (nodeMonitor.guardTimeMs != 0)
        GuardNode(watch, node, nodeMonitor.guardTimeMs, kGuardLifeFactor, now);
    else
        WatchHeartbeat(watch, node, nodeMonitor.consumerTimeMs, now);
    ResumeEmergencies(MasterEmergencyLog(), node);
    nodeMonitor.watching = 1;
}

// A new slave: nothing of the one before carries over.
void ForgetSlave(std::uint32_t node)
{
    nodeMonitor = NodeMonitor{};
    nodeMonitor.node = node;
    nodeMonitor.state = NmtUnknown;
    WatchEmergencies(MasterEmergencyLog(), node);
    PauseEmergencies(MasterEmergencyLog());
}

// The state a command leaves the slave in; a reset ends in pre-operational after its
// boot-up.
std::uint8_t TargetState(NodeCommand command)
{
    switch (command) {
    case NodeStart:
        return NmtOperational;
    case NodeStop:
        return NmtStopped;
    default:
        return NmtPreOperational;
    }
}

// Until the slave says otherwise, the state shown is the one the command asked for,
// marked as such.
void NoteCommand(NodeCommand command)
{
    nodeMonitor.lastCommand = command;
    nodeMonitor.lastCommandTick = TickMs();
    nodeMonitor.state = TargetState(command);
    nodeMonitor.stateTick = nodeMonitor.lastCommandTick;
    nodeMonitor.stateCommanded = 1;
}

// The rows of the state and command texts, in the order of the string table.
constexpr std::uint8_t kStatesInTextOrder[] = {NmtBootUp, NmtStopped, NmtOperational, NmtPreOperational};
constexpr std::uint8_t kCommandsInTextOrder[] = {NodeStart, NodeStop, NodePreOperational, NodeResetNode,
                                                 NodeResetCommunication};

// The text of `value` among `order`, else the last row (Unknown).
template <std::size_t N>
std::uint32_t RowOf(std::uint8_t value, const std::uint8_t (&order)[N], std::uint32_t first, std::uint32_t last)
{
    for (std::size_t i = 0; i < N; ++i)
        if (order[i] == value)
            return first + static_cast<std::uint32_t>(i);
    return last;
}

// After the monitor's own transfers: a failure reported as the other services report it
// (one message on a bus opened for them, the failure rule with communication active), and
// a bus opened for them closed again.
void EndTransfers(OwnerHandle owner, bool ownBus, const SdoResult& result)
{
    if (result.failed != 0) {
        if (ownBus)
            Operator().showMessage(owner, IDS_COMM_FAILURE);
        else
            CheckCommFailure(owner, result);
    }
    if (ownBus)
        CloseBus();
}

bool BusHeldElsewhere()
{
    // An LSS session keeps the bus open between its services, with devices in
    // configuration state: nothing of the monitor's goes out in the middle of it.
    return scanRunning != 0 || dictionaryBusy != 0 || monitorBusy != 0 || lssBusy != 0 || lssSession.busOpen != 0;
}

// Watches the slave on a bus opened for one service, pumping it for `ms`.
void PumpWatching(OwnerHandle owner, std::uint32_t ms)
{
    const std::uint32_t start = TickMs();
    while (TickMs() - start < ms) {
        PumpBus();
        ServeNodeMonitor(owner);
        SleepMs(kCommandPumpSleepMs);
    }
}

}  // namespace

void StartNodeMonitor(std::uint32_t node)
{
    if (node != nodeMonitor.node)
        ForgetSlave(node);
    nodeMonitor.lost = 0;
    nodeMonitor.alerts &= ~static_cast<std::uint32_t>(AlertHeartbeatLost);

    // The producer time as the slave has it now; a slave without the object, or one
    // that does not answer, is watched for its state alone.
    std::uint8_t data[2] = {};
    std::uint32_t length = 0;
    const SdoResult result =
        ReadObject(node, kDefaultSdoTimeoutMs, kProducerHeartbeatObject, 0, data, sizeof data, length);
    nodeMonitor.producerKnown = result.failed == 0 && result.aborted == 0 && length > 0 ? 1 : 0;
    nodeMonitor.producerTimeMs =
        nodeMonitor.producerKnown != 0 ? static_cast<std::uint32_t>(LoadLeUnsigned(data, length < 2 ? length : 2)) : 0;
    // The read runs an idle cycle: a stop carried out there has closed the bus, and
    // there is nothing to watch.
    if (commState.active == 0)
        return;
    ArmConsumers(node, monitorSettings);
}

void PauseNodeMonitor()
{
    ServeNodeMonitor(Operator().ownerWindow());
    StopErrorControl(MasterErrorControl());
    PauseEmergencies(MasterEmergencyLog());
    nodeMonitor.watching = 0;
    // Nothing is supervised now: a loss can no longer be told from a stopped bus.
    nodeMonitor.lost = 0;
    nodeMonitor.alerts &= ~static_cast<std::uint32_t>(AlertHeartbeatLost);
    Operator().showNodeStatus(Operator().ownerWindow());
}

void ApplyMonitorSettings(const MonitorSettings& settings)
{
    monitorSettings = settings;
    if (nodeMonitor.watching == 0)
        return;
    // The state seen so far stays in nodeMonitor; supervision restarts with the next
    // message.
    ServeNodeMonitor(Operator().ownerWindow());
    ArmConsumers(nodeMonitor.node, settings);
    nodeMonitor.lost = 0;
    nodeMonitor.alerts &= ~static_cast<std::uint32_t>(AlertHeartbeatLost);
    Operator().showNodeStatus(Operator().ownerWindow());
}

void NoteObjectWritten(std::uint32_t node, std::uint16_t index, std::uint8_t subIndex, const std::uint8_t* data,
                       std::uint32_t length)
{
    if (nodeMonitor.watching == 0 || node != nodeMonitor.node || index != kProducerHeartbeatObject || subIndex != 0 ||
        length == 0)
        return;
    ServeNodeMonitor(Operator().ownerWindow());
    nodeMonitor.producerTimeMs = static_cast<std::uint32_t>(LoadLeUnsigned(data, length < 2 ? length : 2));
    nodeMonitor.producerKnown = 1;
    ArmConsumers(node, monitorSettings);
    nodeMonitor.lost = 0;
    nodeMonitor.alerts &= ~static_cast<std::uint32_t>(AlertHeartbeatLost);
    Operator().showNodeStatus(Operator().ownerWindow());
}

int ServeNodeMonitor(OwnerHandle owner)
{
    if (nodeMonitor.watching == 0)
        return 0;
    ErrorControl& watch = MasterErrorControl();
    const std::uint8_t events = TakeErrorControlEvents(watch);
    const EmergencyLog& log = MasterEmergencyLog();
    const std::uint32_t arrived = log.received - nodeMonitor.emergenciesSeen;
    // Every message of the slave tells its state, and confirms or corrects the one a
    // command asked for.
    if (watch.seen != 0 && (nodeMonitor.stateSeen == 0 || watch.seenTick != nodeMonitor.heardTick || events != 0)) {
        nodeMonitor.state = watch.state;
        nodeMonitor.stateTick = watch.seenTick;
        nodeMonitor.heardTick = watch.seenTick;
        nodeMonitor.stateSeen = 1;
        nodeMonitor.stateCommanded = 0;
    }
    // Only the time of the last message moved: the windows read it when they draw.
    if (events == 0 && arrived == 0)
        return 0;
    if ((events & EventBootUp) != 0)
        ++nodeMonitor.bootUps;
    if ((events & EventToggleMismatch) != 0)
        ++nodeMonitor.toggleMismatches;
    if ((events & EventLost) != 0) {
        nodeMonitor.lost = 1;
        nodeMonitor.lostTick = TickMs();
        nodeMonitor.alerts |= AlertHeartbeatLost;
    }
    if ((events & EventBack) != 0 || (watch.lost == 0 && nodeMonitor.lost != 0)) {
        nodeMonitor.lost = 0;
        nodeMonitor.alerts &= ~static_cast<std::uint32_t>(AlertHeartbeatLost);
    }
    if (arrived != 0) {
        nodeMonitor.emergenciesSeen = log.received;
        nodeMonitor.newEmergencies += arrived;
        nodeMonitor.alerts |= AlertEmergency;
    }
    Operator().showNodeStatus(owner);
    return 1;
}

void AcknowledgeMonitorAlerts(OwnerHandle owner)
{
    if ((nodeMonitor.alerts & AlertEmergency) == 0)
        return;
    nodeMonitor.alerts &= ~static_cast<std::uint32_t>(AlertEmergency);
    nodeMonitor.newEmergencies = 0;
    Operator().showNodeStatus(owner);
}

int CommandNode(OwnerHandle owner, NodeCommand command)
{
    if (BusHeldElsewhere())
        return 0;
    const OperatorOps& side = Operator();
    const std::uint32_t node = static_cast<std::uint32_t>(appSettings.CurrAdr);
    const bool leavesOperational = command != NodeStart;

    // The questions come first: nothing is stopped or sent before the operator agrees.
    if (commState.active != 0 && leavesOperational) {
        if (side.askQuestion(owner, FormOkCancelWarning, IDS_NMT_STOPS_COMM, nullptr) != AnswerOk)
            return 0;
    } else if (command == NodeStart || command == NodeResetNode || command == NodeResetCommunication) {
        if (side.askQuestion(owner, FormOkCancelWarning, IDS_OUTPUTS_WARNING, nullptr) != AnswerOk)
            return 0;
    }

    // Communication active and the slave stays operational: the exchange's own bus.
    if (commState.active != 0 && !leavesOperational) {
        const int sent = SendNmtCommand(node, command);
        if (sent != 0)
            NoteCommand(command);
        side.showNodeStatus(owner);
        return sent;
    }
    // The exchange ends before the slave leaves operational, never after.
    if (commState.active != 0) {
        void* previous = side.beginWait();
        StopCommunication(owner);
        side.endWait(previous);
    }

    monitorBusy = 1;
    if (OpenBus(owner, appSettings.Baud) == 0) {
        monitorBusy = 0;
        return 0;
    }
    if (node != nodeMonitor.node)
        ForgetSlave(node);
    // The state alone: no producer time is known on a bus opened for one frame.
    nodeMonitor.producerTimeMs = 0;
    nodeMonitor.producerKnown = 0;
    const MonitorSettings stateOnly{};
    ArmConsumers(node, stateOnly);
    void* previous = side.beginWait();
    const int sent = SendNmtCommand(node, command);
    if (sent != 0)
        NoteCommand(command);
    side.showNodeStatus(owner);
    PumpWatching(owner, kCommandWatchMs);
    side.endWait(previous);
    ServeNodeMonitor(owner);
    StopErrorControl(MasterErrorControl());
    PauseEmergencies(MasterEmergencyLog());
    nodeMonitor.watching = 0;
    CloseBus();
    monitorBusy = 0;
    side.showNodeStatus(owner);
    return sent;
}

int ReadErrorHistory(OwnerHandle owner, ErrorHistory& history)
{
    history.count = 0;
    history.read = 0;
    history.result = SdoResult{};
    if (BusHeldElsewhere())
        return 0;
    const std::uint32_t node = static_cast<std::uint32_t>(appSettings.CurrAdr);
    const bool ownBus = commState.active == 0;
    if (ownBus && OpenBus(owner, appSettings.Baud) == 0)
        return 0;
    monitorBusy = 1;
    std::uint8_t data[4] = {};
    std::uint32_t length = 0;
    SdoResult result = ReadObject(node, kDefaultSdoTimeoutMs, kErrorHistoryObject, 0, data, sizeof data, length);
    int ok = 0;
    if (result.failed == 0 && result.aborted == 0 && length > 0) {
        ok = 1;
        history.count = data[0];
        const std::uint32_t count = history.count < kMaxHistoryEntries ? history.count : kMaxHistoryEntries;
        for (std::uint32_t sub = 1; sub <= count; ++sub) {
            // The failure rule may have stopped communication; the bus is gone then.
            if (!ownBus && commState.active == 0)
                break;
            length = 0;
            result = ReadObject(node, kDefaultSdoTimeoutMs, kErrorHistoryObject, static_cast<std::uint8_t>(sub), data,
                                sizeof data, length);
            if (result.failed != 0 || result.aborted != 0)
                break;
            history.entries[history.read++] = static_cast<std::uint32_t>(LoadLeUnsigned(data, length < 4 ? length : 4));
        }
    }
    history.result = result.failed != 0 || result.aborted != 0 ? result : SdoResult{};
    monitorBusy = 0;
    EndTransfers(owner, ownBus, result);
    return ok;
}

int ClearErrorHistory(OwnerHandle owner, SdoResult& result)
{
    result = SdoResult{};
    if (BusHeldElsewhere())
        return 0;
    if (Operator().askQuestion(owner, FormOkCancelWarning, IDS_CLEAR_HISTORY_QUESTION, nullptr) != AnswerOk)
        return 0;
    const std::uint32_t node = static_cast<std::uint32_t>(appSettings.CurrAdr);
    const bool ownBus = commState.active == 0;
    if (ownBus && OpenBus(owner, appSettings.Baud) == 0)
        return 0;
    monitorBusy = 1;
    const std::uint8_t zero = 0;
    result = WriteObject(node, kDefaultSdoTimeoutMs, kErrorHistoryObject, 0, &zero, 1);
    monitorBusy = 0;
    EndTransfers(owner, ownBus, result);
    return result.failed == 0 && result.aborted == 0 ? 1 : 0;
}

std::int64_t WallTimeOfTick(std::uint32_t tick)
{
    const std::uint32_t age = TickMs() - tick;
    const auto now =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch());
    return static_cast<std::int64_t>(now.count()) - static_cast<std::int64_t>(age);
}

std::uint32_t StateTextId(std::uint8_t state)
{
    return RowOf(state, kStatesInTextOrder, IDS_STATE_FIRST, IDS_STATE_LAST);
}

std::uint32_t EmergencyClassTextId(std::uint16_t errorCode)
{
    return IDS_EMCY_CLASS_FIRST + static_cast<std::uint32_t>(ClassOfEmergency(errorCode));
}

std::uint32_t EmergencyCodeTextId(std::uint16_t errorCode)
{
    const std::uint32_t named = NamedMonitoringCode(errorCode);
    return named == 0 ? 0 : IDS_EMCY_CODE_FIRST + named - 1;
}

std::uint32_t CommandTextId(std::uint8_t command)
{
    return RowOf(command, kCommandsInTextOrder, IDS_COMMAND_FIRST, IDS_COMMAND_LAST);
}
