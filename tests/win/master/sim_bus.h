// The simulated bus as the master tests see it: the control exports of the pcan_usb.dll
// beside the test, held loaded for the whole test so its slaves and counters can be
// read while the program loads and unloads the library at every bus open.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "driver_api.h"
#include "simbus_control.h"

struct SimBus {
    HMODULE module = nullptr;
    SimResetEntry reset = nullptr;
    SimGetCountersEntry counters = nullptr;
    SimReadSentEntry readSent = nullptr;
    SimClearSentEntry clearSent = nullptr;
    SimSetStatusEntry setStatus = nullptr;
    SimSetNodeModeEntry setNodeMode = nullptr;
    SimGetObjectEntry getObject = nullptr;
    SimSetObjectEntry setObject = nullptr;
    SimGetNodeStateEntry nodeState = nullptr;
    SimSetAnimationEntry setAnimation = nullptr;

    bool Load();
    void Unload();

    // Frames the master sent since the last call, oldest first.
    std::vector<DriverMsg> TakeSent();
    SimCounters Counters();
    std::uint32_t ObjectU32(std::uint32_t node, std::uint32_t index, std::uint32_t subIndex);
};

// "603 8: 40 00 18 01 00 00 00 00" or "183 RTR 2".
std::string Describe(const DriverMsg& msg);
