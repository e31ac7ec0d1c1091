// Every test control of the simulated driver library beside the executable (pcan_usb.dll,
// or pcan_usb.so in the host build), resolved once and held loaded, so that the slaves,
// queues and counters can be steered and read while the program loads and unloads the
// library at every bus open. Shared by the master's tests in both builds, the dialog and
// reliability tests, the soak run and the Windows benchmarks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "driver_api.h"
#include "dynlib.h"
#include "simbus_control.h"

// The simulated library's file name in this build.
#if defined(_WIN32)
constexpr const char kSimLibraryFile[] = "pcan_usb.dll";
#else
constexpr const char kSimLibraryFile[] = "pcan_usb.so";
#endif

struct SimControls {
    LibraryHandle module = nullptr;
    SimResetEntry reset = nullptr;
    SimGetLastErrorEntry lastError = nullptr;
    SimGetCountersEntry counters = nullptr;
    SimInjectFrameEntry injectFrame = nullptr;
    SimInjectStatusEntry injectStatus = nullptr;
    SimReadSentEntry readSent = nullptr;
    SimClearSentEntry clearSent = nullptr;
    SimWriteFullEntry writeFull = nullptr;
    SimWriteRefuseEntry writeRefuse = nullptr;
    SimSetStatusEntry setStatus = nullptr;
    SimSetNodeModeEntry setNodeMode = nullptr;
    SimBootNodeEntry bootNode = nullptr;
    SimFloodPdoEntry floodPdo = nullptr;
    SimGetNodeStateEntry nodeState = nullptr;
    SimRaiseEmergencyEntry raiseEmergency = nullptr;
    SimGetObjectEntry getObject = nullptr;
    SimSetObjectEntry setObject = nullptr;
    SimSetClockEntry setClock = nullptr;
    SimSetAnimationEntry setAnimation = nullptr;
    // The library's own driver names, for measuring the driver without the program.
    CanInitEntry canInit = nullptr;
    CanCloseEntry canClose = nullptr;
    CanWriteEntry canWrite = nullptr;
    CanReadEntry canRead = nullptr;

    // Loads the library from the executable's folder; false when it or a name is missing.
    bool Load();
    void Unload();

    // Frames the master sent since the last call, oldest first.
    std::vector<DriverMsg> TakeSent();
    SimCounters Counters();
    // An object value as a little-endian number (at most 4 bytes).
    std::uint32_t ObjectU32(std::uint32_t node, std::uint32_t index, std::uint32_t subIndex);
};

// "603 8: 40 00 18 01 00 00 00 00" or "183 RTR 2".
std::string FrameText(const DriverMsg& msg);

// The network file beside the library: written before SimReset makes the slaves follow
// it; RemoveNetworkFile brings the default network back at the next SimReset.
void WriteNetworkFile(const std::string& text);
void RemoveNetworkFile();
