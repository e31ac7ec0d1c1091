#include "bus_open.h"

#include "bus_pump.h"
#include "comm_state.h"
#include "driver.h"
#include "node_table.h"
#include "operator_side.h"
#include "resource.h"
#include "settings_values.h"
#include "tick.h"

namespace {

// The vendor's library on Windows; the host build's simulated bus has the same stem.
#if defined(_WIN32)
constexpr const char* kDriverLibrary = "pcan_usb.dll";
#else
constexpr const char* kDriverLibrary = "pcan_usb.so";
#endif
constexpr int kWarmUpPumps = 50;
constexpr std::uint32_t kWarmUpSleepMs = 10;

}  // namespace

int OpenBus(OwnerHandle owner, std::int32_t baudIndex)
{
    ActivePump = nullptr;
    if (appSettings.PrinterPort == kPortUsb) {
        // A Baud value outside the table has no bus timing word: refuse before any
        // driver call rather than open the adapter at an invented bit rate.
        if (baudIndex < 0 || baudIndex >= static_cast<std::int32_t>(BitRateTable.size())) {
            Operator().ShowStringMessage(owner, IDS_CANNOT_OPEN_DONGLE);
            return 0;
        }
        if (LoadDriver(kDriverLibrary) == 0) {
            Operator().ShowStringMessage(owner, IDS_CANNOT_LOAD_DLL);
            return 0;
        }
        if (CAN_Init(BitRateTable[static_cast<std::size_t>(baudIndex)].btr0btr1, 0) != 0) {
            Operator().ShowStringMessage(owner, IDS_CANNOT_OPEN_DONGLE);
            return 0;
        }
    }
    ClearNodeTable(MasterNodeTable());
    void* previous = Operator().BeginBusy();
    for (int i = 0; i < kWarmUpPumps; ++i) {
        PumpBus();
        SleepMs(kWarmUpSleepMs);
    }
    Operator().EndBusy(previous);
    return 1;
}

int CloseBus()
{
    ActivePump = nullptr;
    CAN_Close();
    UnloadDriver();
    return 1;
}
