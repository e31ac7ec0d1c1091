// What the master services need from the operator's side, as one record of operations.
//
// The master shows no window itself: message boxes, the communication indicator, the
// process-data lists, the object dialogs and the message queue belong to the windows.
// app/ fills this record in at start-up (the way the engine takes its SendHook); until
// then, and in the host build's tests unless they set their own, every operation is
// inert: nothing is shown, no box is answered, no message is waiting.
#pragma once

#include <cstdint>

// The window a service shows its messages over. Opaque here: the master only hands it
// back to the operations below. On Windows it is the platform's window handle type
// itself (an incomplete structure there too), so windows pass their handles unchanged.
struct HWND__;
using OwnerHandle = HWND__*;

// One window message already removed from the queue, opaque in the same way (the
// platform's MSG on Windows).
struct tagMSG;

// Takes one window message already removed from the queue; the result is unused.
using MessagePumpSlot = int (*)(tagMSG* message);

// The kinds of box the master services show.
enum MessageForm : std::uint32_t {
    FormOkCancelWarning = 0,     // OK and Cancel, exclamation icon
    FormRetryCancelWarning = 1,  // Retry and Cancel, exclamation icon
    FormOkPlain = 2,             // OK only, no icon
    FormOkWarning = 3,           // OK only, exclamation icon
};

// The button pressed, with the platform's numbers; AnswerNone when no box was shown.
enum MessageAnswer : int {
    AnswerNone = 0,
    AnswerOk = 1,
    AnswerCancel = 2,
    AnswerRetry = 4,
};

// Slots are named for what the master wants done, not after the functions a front end
// plugs in, so that a call through the record never reads as a call into the windows.
struct OperatorOps {
    // A warning with an OK button, text `stringId` of the string table. Always 1.
    int (*showMessage)(OwnerHandle owner, std::uint32_t stringId);
    // A box of `form` with text `stringId`, its "%s" filled with `argument` (nullptr:
    // empty); returns the MessageAnswer pressed.
    int (*askQuestion)(OwnerHandle owner, MessageForm form, std::uint32_t stringId, const wchar_t* argument);

    // The communication-active indicator and the freeze-outputs box show the master's
    // flags, which the master has already set.
    int (*showCommActive)(OwnerHandle window, bool on);
    int (*showFreezeOutputs)(OwnerHandle window, bool on);
    // Hands the address field to UseSlave, or shows the current slave again.
    int (*takeSlaveAddress)(OwnerHandle window);
    // Menu items and controls enabled by the communication state.
    int (*refreshCommControls)(OwnerHandle window);
    // The shadow rule for both process-data lists, input list first, then output list:
    // each rebuilt when its table changed, or both when forced.
    int (*showPdoLists)(OwnerHandle window, bool force);

    // Hands a completed object read to the Read Object dialog. 1 when it was shown.
    int (*handOverReadResult)(const std::uint8_t* data, std::uint32_t length);
    // The search's progress: the Search Slaves list rebuilt from SlaveScanTable.
    int (*showSearchProgress)(OwnerHandle dialog);

    // The window the master's messages belong over, or nullptr when there is none.
    OwnerHandle (*ownerWindow)();
    int (*openReadObject)(OwnerHandle parent);
    int (*openWriteObject)(OwnerHandle parent);
    int (*closeObjectWindows)();
    // Writes the settings file.
    int (*saveSettings)();
    // Ends the front end's main window (the end of the close sequence).
    int (*closeMainWindow)(OwnerHandle window);

    // Removes one waiting window message, if any, and hands it to `pump`; a quit message
    // is left for the main loop. 1 when a message was passed on.
    int (*passMessage)(MessagePumpSlot pump);
    // Rests until window input arrives or `timeoutMs` has passed.
    void (*restUntilInput)(std::uint32_t timeoutMs);
    // The wait cursor while a long step runs: beginWait returns what endWait restores.
    void* (*beginWait)();
    void (*endWait)(void* previous);

    // The Object Dictionary window: opened (or brought to the front) by the deferred
    // command; told of each entry Read All has read (`entry` indexes the dictionary's
    // entries; `done` of `total` read so far).
    int (*openDictionary)(OwnerHandle parent);
    int (*showEntryRead)(OwnerHandle window, std::uint32_t entry, std::uint32_t done, std::uint32_t total);
    // The EDS file the operator chose before for `node` (UTF-8, at most `size` bytes with
    // the terminator): 1 when there is one. keepEdsChoice remembers a new choice.
    int (*lookUpEdsChoice)(std::uint32_t node, char* path, std::uint32_t size);
    int (*keepEdsChoice)(std::uint32_t node, const char* path);
    // Lets the operator choose one EDS or DCF file: 1 when one was chosen.
    int (*askForEdsFile)(OwnerHandle owner, char* path, std::uint32_t size);

    // The node monitor's record changed (node_monitor.h): the state, a heartbeat, an
    // emergency, an alert. The main window shows the alerts, the monitor window the rest.
    int (*showNodeStatus)(OwnerHandle window);

    // The LSS find's progress (lss_service.h): a device found, or the running Fastscan's
    // steps moved on. The Configure Node window shows the devices and the step.
    int (*showLssProgress)(OwnerHandle dialog);

    // A DCF download's row changed (configuration.h): written, failed, compared or
    // verified. The Download DCF window shows it in its result column.
    int (*showDownloadRow)(OwnerHandle window, std::uint32_t row);
};

// True when every operation of `ops` is set.
bool OperationsComplete(const OperatorOps& ops);

// Installs the operator's side (StartMaster does, after checking it is complete).
void SetOperatorOps(const OperatorOps& ops);

// Back to the inert operations.
void ClearOperatorOps();

// The operations in force.
const OperatorOps& Operator();
