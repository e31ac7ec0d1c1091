// Starting the master: what a front end (the windows, or a console program) must give
// it before any service runs, in one call.
//
//     MasterSetup setup{};
//     setup.operations = MyOperations();     // every slot set
//     setup.messageHook = MyPump;            // or nullptr: no window messages to pass on
//     setup.node = 3;                        // the current slave, 1 to 127
//     setup.bitRate = 8;                     // row of BitRateTable (1000 kbit/s)
//     setup.driverLibrary = "pcan_usb.dll";  // beside the program, or a full path
//     if (StartMaster(setup) != MasterStarted) ...
//     ... ScanSlaves, StartCommunication, RunIdleCycle ...
//     EndMaster();
#pragma once

#include <cstddef>
#include <cstdint>

#include "operator_side.h"

struct MasterSetup {
    OperatorOps operations;       // the operator's side; every slot must be set
    MessagePumpSlot messageHook;  // the front end's message routing; nullptr for none
    std::int32_t node;            // the current slave, 1 to 127
    std::int32_t bitRate;         // row of BitRateTable; kept as given, OpenBus refuses one outside it
    std::int32_t port;            // the adapter connection; only kPortUsb opens a bus
    const char* driverLibrary;    // UTF-8 file name (loaded beside the program) or path of the driver library
};

enum MasterStartOutcome : std::uint32_t {
    MasterStarted = 0,
    MasterMissingOperation = 1,  // a slot of the operations is not set
    MasterBadNode = 2,           // the node is outside 1 to 127
    MasterNoDriver = 3,          // no driver library named, or its name does not fit
    MasterOutOfMemory = 4,       // the process image could not be allocated
};

// Largest driver library path kept, with the terminator.
constexpr std::size_t kDriverPathBytes = 1024;

// Resets the master's state, installs the operations and the message routing, takes the
// node, bit rate, port and driver library, allocates the process image and connects the
// engine to the driver. Nothing is installed unless everything is there.
[[nodiscard]] MasterStartOutcome StartMaster(const MasterSetup& setup);

// Frees the process image and withdraws the operations and the message routing.
void EndMaster();

// The driver library StartMaster was given ("" before).
const char* DriverLibraryPath();

// The operator's choices between runs of the services.
// The current slave: 1 when `node` is 1 to 127 and taken; 0 leaves CurrAdr as it is.
int UseSlave(std::int32_t node);
// The bit rate (a row of BitRateTable, kept even outside it) and the adapter port.
void UseBitRate(std::int32_t baudIndex);
void UsePort(std::int32_t port);
