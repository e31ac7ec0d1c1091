#include "bus_open.h"

#include "bus_pump.h"
#include "comm_state.h"
#include "driver.h"
#include "master_start.h"
#include "node_table.h"
#include "operator_side.h"
#include "resource.h"
#include "settings_values.h"
#include "tick.h"

namespace {

constexpr std::uint32_t kWarmUpSleepMs = 10;

}  // namespace

int OpenBus(OwnerHandle owner, std::int32_t baudIndex)
{
    ActivePump = nullptr;
    // The USB adapter behind the driver library is the only connection there is: any
    // other port has no driver to open, and a bus that was never opened must not be
    // reported as open.
    if (appSettings.PrinterPort != kPortUsb) {
        Operator().showMessage(owner, IDS_CANNOT_OPEN_DONGLE);
        return 0;
    }
    // A Baud value outside the table has no bus timing word: refuse before any driver
    // call rather than open the adapter at an invented bit rate.
    if (baudIndex < 0 || baudIndex >= static_cast<std::int32_t>(BitRateTable.size())) {
        Operator().showMessage(owner, IDS_CANNOT_OPEN_DONGLE);
        return 0;
    }
    if (DriverLibraryPath()[0] == '\0' || LoadDriver(DriverLibraryPath()) == 0) {
        Operator().showMessage(owner, IDS_CANNOT_LOAD_DLL);
        return 0;
    }
    if (CAN_Init(BitRateTable[static_cast<std::size_t>(baudIndex)].btr0btr1, 0) != 0) {
        Operator().showMessage(owner, IDS_CANNOT_OPEN_DONGLE);
        return 0;
    }
    ClearNodeTable(MasterNodeTable());
    if (busSettleMs != 0) {
        void* previous = Operator().beginWait();
        for (std::uint32_t i = 0; i < busSettleMs / kWarmUpSleepMs; ++i) {
            PumpBus();
            SleepMs(kWarmUpSleepMs);
        }
        if (busSettleMs % kWarmUpSleepMs != 0) {
            PumpBus();
            SleepMs(busSettleMs % kWarmUpSleepMs);
        }
        Operator().endWait(previous);
    }
    return 1;
}

void UseBusSettle(std::uint32_t ms)
{
    busSettleMs = ms;
}

int CloseBus()
{
    ActivePump = nullptr;
    CAN_Close();
    UnloadDriver();
    return 1;
}
