#include "master_start.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "bus_open.h"
#include "bus_pump.h"
#include "bus_ticks.h"
#include "comm_state.h"
#include "master_state.h"
#include "node_table.h"
#include "process_image.h"
#include "settings_values.h"
#include "tick.h"

namespace {

char driverPath[kDriverPathBytes] = "";

bool ValidNode(std::int32_t node)
{
    return node >= 1 && node <= 127;
}

}  // namespace

MasterStartOutcome StartMaster(const MasterSetup& setup)
{
    if (!OperationsComplete(setup.operations))
        return MasterMissingOperation;
    if (!ValidNode(setup.node))
        return MasterBadNode;
    if (setup.driverLibrary == nullptr || setup.driverLibrary[0] == '\0' ||
        std::strlen(setup.driverLibrary) >= sizeof driverPath)
        return MasterNoDriver;
    auto* image = new (std::nothrow) ProcessImage{};
    if (image == nullptr)
        return MasterOutOfMemory;

    ResetMasterState();
    ResetBusTicks();
    SetOperatorOps(setup.operations);
    MessageHook = setup.messageHook;
    appSettings.CurrAdr = setup.node;
    appSettings.Baud = setup.bitRate;
    appSettings.PrinterPort = setup.port;
    busSettleMs = kDefaultBusSettleMs;
    std::snprintf(driverPath, sizeof driverPath, "%s", setup.driverLibrary);
    delete processImage;
    processImage = image;
    // The engine's frames go to the driver from now on.
    ClearSendHook();
    SetSendHook(SendFrame);
    lastSendTick = TickMs();
    return MasterStarted;
}

void EndMaster()
{
    delete processImage;
    processImage = nullptr;
    MessageHook = nullptr;
    ActivePump = nullptr;
    ClearOperatorOps();
    ClearSendHook();
    driverPath[0] = '\0';
}

const char* DriverLibraryPath()
{
    return driverPath;
}

int UseSlave(std::int32_t node)
{
    if (!ValidNode(node))
        return 0;
    appSettings.CurrAdr = node;
    return 1;
}

void UseBitRate(std::int32_t baudIndex)
{
    appSettings.Baud = baudIndex;
}

void UsePort(std::int32_t port)
{
    appSettings.PrinterPort = port;
}
