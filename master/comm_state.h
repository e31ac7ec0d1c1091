// The values through which the window side and the master side see each other:
// communication state, the deferred-command mailbox, and the two message-pump slots.
#pragma once

#include <cstdint>

#include "operator_side.h"

// Codes of the one-place mailbox DeferredCommand; a new code replaces a waiting one.
enum DeferredCode : std::uint32_t {
    DeferredNone = 0,
    DeferredClose = 1,
    DeferredStop = 2,
    DeferredOpenRead = 3,
    DeferredOpenWrite = 4,
    DeferredOpenDictionary = 5,
};

struct CommState {
    std::uint32_t active;           // communication with the current slave is active
    std::uint32_t freezeOutputs;    // the exchange does not copy output edits into the sent outputs
    std::uint32_t DeferredCommand;  // DeferredCode left for the idle cycle by a window handler
    std::uint32_t windowReady;      // the main window is initialised and not yet destroyed
};

extern CommState commState;

// What a front end asks of the communication state; the master keeps the flags.
// Leaves `code` for the next idle cycle; a new code replaces a waiting one.
void PostDeferredCommand(DeferredCode code);
// The main window is initialised (true) or destroyed (false); idle cycles run between.
void SetWindowReady(bool ready);
// The operator's freeze-outputs choice: frozen, the exchange keeps sending the outputs
// of the moment it was frozen.
void FreezeOutputs(bool on);

// The message routing (PumpMessage), set at start-up and withdrawn at clean-up.
extern MessagePumpSlot MessageHook;

// Set while a master service passes window messages on (slave search, active
// communication); none otherwise.
extern MessagePumpSlot ActivePump;

// The pass-on rule at the fixed points of the long services: if ActivePump is set and a
// message is waiting, remove exactly that one and hand it to ActivePump. Returns 1 when a
// message was passed on.
int PassOneMessage();
