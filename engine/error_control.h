// NMT error control of the supervised slave as the master consumes it: boot-up messages,
// heartbeats and node-guarding answers, all on COB-ID 0x700 + node.
//
//     ErrorControl& watch = MasterErrorControl();
//     WatchHeartbeat(watch, 3, 1500, TickMs());      // consumer time; 0: state only
//     ...for every received frame:  ReceiveErrorControl(watch, frame, TickMs());
//     ...on every engine cycle:     const CanFrame* out = StepErrorControl(watch, TickMs());
//                                   if (out) send it (node guarding's remote frame)
//     const std::uint8_t events = TakeErrorControlEvents(watch);
//
// Static storage, no allocation, the tick passed in: the record is driven like the SDO
// client, and a test drives it on the manual clock.
#pragma once

#include <cstdint>

#include "node_table.h"

// The states an error-control message carries (bit 7 of a guarding answer aside).
enum NmtObservedState : std::uint8_t {
    NmtBootUp = 0,
    NmtStopped = 4,
    NmtOperational = 5,
    NmtPreOperational = 127,
    NmtUnknown = 0xFF,  // nothing seen yet, or a value no state has
};

enum class Supervision : std::uint8_t {
    None = 0,   // the state is kept, nothing is expected
    Heartbeat,  // a heartbeat is expected within the consumer time
    Guarding,   // the master asks every guard time and expects the toggling answer
};

// What happened since the events were last taken (bits).
enum ErrorControlEvent : std::uint8_t {
    EventBootUp = 0x01,          // the slave sent its boot-up message
    EventStateChanged = 0x02,    // the state seen differs from the one before
    EventSupervised = 0x04,      // the first heartbeat or guarding answer arrived
    EventLost = 0x08,            // no heartbeat within the consumer time, or guarding gave up
    EventBack = 0x10,            // a message arrived again after a loss
    EventToggleMismatch = 0x20,  // a guarding answer with the toggle bit of the previous one
};

struct ErrorControl {
    std::uint8_t node;            // the supervised slave, 1 to 127; 0: none
    Supervision supervision;      // from WatchHeartbeat or GuardNode
    std::uint32_t timeMs;         // heartbeat consumer time, or guard time; from the same
    std::uint8_t lifeFactor;      // guarding: unanswered requests before the slave is lost
    std::uint8_t state;           // NmtObservedState last seen
    std::uint8_t seen;            // 1 once any error-control message of the slave arrived
    std::uint32_t seenTick;       // when the last one arrived
    std::uint8_t lost;            // 1 from a loss until the next message
    std::uint8_t expectedToggle;  // guarding: toggle bit of the next answer
    std::uint8_t awaiting;        // guarding: the last request is unanswered
    std::uint32_t guardTick;      // guarding: when the last request went out
    std::uint8_t missed;          // guarding: requests unanswered in a row
    std::uint8_t events;          // ErrorControlEvent bits not yet taken
    CanFrame request;             // guarding's outgoing remote frame
};

// Watches `node` for heartbeats with `consumerTimeMs` (0: keep its state, expect nothing).
// Supervision starts with the first heartbeat, as a consumer's does.
void WatchHeartbeat(ErrorControl& watch, std::uint32_t node, std::uint32_t consumerTimeMs, std::uint32_t now);
// Guards `node`: a remote frame every `guardTimeMs` (at once for the first), an answer
// expected before the next; lost after `lifeFactor` (at least 1) unanswered in a row.
void GuardNode(ErrorControl& watch, std::uint32_t node, std::uint32_t guardTimeMs, std::uint8_t lifeFactor,
               std::uint32_t now);
// Nothing supervised any more.
void StopErrorControl(ErrorControl& watch);

// Takes a received frame: 1 when it was an error-control message of the watched node.
int ReceiveErrorControl(ErrorControl& watch, const CanFrame& frame, std::uint32_t now);
// Checks the deadlines; returns guarding's remote frame when one is due, else nullptr.
const CanFrame* StepErrorControl(ErrorControl& watch, std::uint32_t now);

// The events since the last call, cleared.
std::uint8_t TakeErrorControlEvents(ErrorControl& watch);

// The program's own record.
ErrorControl& MasterErrorControl();
