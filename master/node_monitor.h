// The node monitor: what the master keeps of the current slave beside the process data:
// its NMT state as last seen, heartbeat supervision or node guarding, the emergencies it
// sent, its error history (0x1003), and the NMT commands the operator sends it.
//
// The consumers watch while communication is active: StartCommunication starts the
// monitor (reading the slave's heartbeat producer time, 0x1017), the exchange cycle
// serves it after every pump step, StopCommunication pauses it and keeps what was seen.
// With communication stopped, an NMT command opens the bus for its frame and watches
// the slave's answer (a boot-up, a heartbeat) until the bus closes again.
//
// The front ends read nodeMonitor and the engine's records (MasterErrorControl,
// MasterEmergencyLog) and are told of changes through showNodeStatus.
#pragma once

#include <array>
#include <cstdint>

#include "error_control.h"
#include "operator_side.h"
#include "sdo_services.h"

// The NMT commands, by their command specifier.
enum NodeCommand : std::uint8_t {
    NodeStart = 0x01,
    NodeStop = 0x02,
    NodePreOperational = 0x80,
    NodeResetNode = 0x81,
    NodeResetCommunication = 0x82,
};

// What the operator has not seen yet (bits), shown in the main window until then.
enum MonitorAlert : std::uint32_t {
    AlertEmergency = 0x01,      // an emergency arrived since the monitor window was last looked at
    AlertHeartbeatLost = 0x02,  // no heartbeat (or guarding answer) within its time; cleared when it is back
};

// The operator's choices, kept in the settings file ([NodeMonitor]).
struct MonitorSettings {
    std::uint32_t consumerTimeMs;  // heartbeat consumer time; 0: the producer time x 1.5
    std::uint32_t guardTimeMs;     // node guarding where the slave sends no heartbeat; 0: off
};
constexpr MonitorSettings kDefaultMonitorSettings{0, 0};
extern MonitorSettings monitorSettings;

// Node guarding gives the slave up after this many unanswered requests in a row.
constexpr std::uint8_t kGuardLifeFactor = 3;

struct NodeMonitor {
    std::uint32_t node;              // the slave the monitor was started for; 0: never started
    std::uint32_t watching;          // 1 while the consumers take the slave's frames
    std::uint32_t producerTimeMs;    // 0x1017 as read at the start (0: none, or unreadable)
    std::uint32_t producerKnown;     // 1: 0x1017 was read
    std::uint32_t consumerTimeMs;    // the heartbeat consumer time in force; 0: none
    std::uint32_t guardTimeMs;       // the guard time in force; 0: no guarding
    std::uint8_t state = NmtUnknown;  // NmtObservedState last seen (kept after the watch ends)
    std::uint32_t stateTick;         // when it was seen; valid while stateSeen
    std::uint32_t stateSeen;         // 1 once any state was seen
    std::uint32_t heardTick;         // when the slave's last error-control message arrived
    std::uint32_t stateCommanded;    // 1: `state` is what the last command asked for, not yet
                                     // confirmed by a message of the slave
    std::uint32_t lost;              // 1 from a loss until the slave is heard again
    std::uint32_t lostTick;          // when the loss was noticed
    std::uint32_t bootUps;           // boot-up messages seen since the start
    std::uint32_t toggleMismatches;  // guarding answers with the wrong toggle bit
    std::uint32_t emergenciesSeen;   // the emergency log's count the windows have been told of
    std::uint8_t lastCommand;        // NodeCommand last sent by the monitor; 0: none
    std::uint32_t lastCommandTick;   // when it was sent
    std::uint32_t alerts;            // MonitorAlert bits
    std::uint32_t newEmergencies;    // emergencies since the alert was last acknowledged
};
extern NodeMonitor nodeMonitor;

// 1 while a monitor service (an NMT command with its pause, the error history) holds
// the bus: the exchange's object requests and the deferred commands wait for its end.
extern int monitorBusy;

// Starts watching `node` on the open bus: reads 0x1017 (a blocking read), then heartbeat
// supervision at the consumer time, or node guarding, or the state alone. What was held
// of the same node stays; another node starts empty.
void StartNodeMonitor(std::uint32_t node);
// The consumers let go of the slave; what was seen stays.
void PauseNodeMonitor();
// Applies new settings at once while watching.
void ApplyMonitorSettings(const MonitorSettings& settings);

// The operator wrote `data` to the slave's `index`/`subIndex`: a new heartbeat producer
// time (0x1017) of the watched slave is supervised from now on.
void NoteObjectWritten(std::uint32_t node, std::uint16_t index, std::uint8_t subIndex, const std::uint8_t* data,
                       std::uint32_t length);

// Takes the consumers' events into nodeMonitor after a pump step; tells the operator's
// side (showNodeStatus) when anything changed. 1 when it did.
int ServeNodeMonitor(OwnerHandle owner);

// The operator has looked at the monitor: the emergency alert is cleared.
void AcknowledgeMonitorAlerts(OwnerHandle owner);

// Sends `command` to the current slave, by the rules that keep the exchange and the
// slave's state from contradicting each other:
//   - Start and the resets ask first, as Start does (outputs may change);
//   - with communication active, a command that takes the slave out of operational
//     asks, then stops communication first and sends the command on the bus opened
//     again for it;
//   - with the bus closed, the bus is opened for the command, the slave is watched for
//     kCommandWatchMs (a boot-up after a reset), and the bus is closed again.
// Refused (0, nothing sent) while a search, Read All or another monitor service holds
// the bus. 1 when the command went out.
int CommandNode(OwnerHandle owner, NodeCommand command);
constexpr std::uint32_t kCommandWatchMs = 500;

// The error history (0x1003): how many entries the slave holds and each as read
// (bits 0-15 the error code, 16-31 manufacturer-specific information).
constexpr std::uint32_t kMaxHistoryEntries = 254;
struct ErrorHistory {
    std::uint32_t count;  // sub 0 as read
    std::uint32_t read;   // entries read, from sub 1
    std::array<std::uint32_t, kMaxHistoryEntries> entries;
    SdoResult result;  // the first failed or aborted read, else all 0
};
// Reads the current slave's error history. 1 when sub 0 was read (entries may still be
// missing: see result). 0 when refused or the bus did not open.
int ReadErrorHistory(OwnerHandle owner, ErrorHistory& history);
// Writes 0 to 0x1003 sub 0 after the operator confirmed. 1 when the slave took it; an
// abort is reported in `result`.
int ClearErrorHistory(OwnerHandle owner, SdoResult& result);

// The wall-clock time of a tick, in milliseconds since 1970 (for display).
std::int64_t WallTimeOfTick(std::uint32_t tick);

// The string-table rows that name what the monitor shows, the same for both front ends.
std::uint32_t StateTextId(std::uint8_t state);
std::uint32_t EmergencyClassTextId(std::uint16_t errorCode);
// The row of a communication or protocol code with a name of its own; 0 for any other.
std::uint32_t EmergencyCodeTextId(std::uint16_t errorCode);
std::uint32_t CommandTextId(std::uint8_t command);
