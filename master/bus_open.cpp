#include "bus_open.h"

#include "bus_pump.h"
#include "comm_state.h"
#include "driver.h"
#include "messages.h"
#include "node_table.h"
#include "resource.h"
#include "settings.h"
#include "tick.h"

namespace {

constexpr const char* kDriverLibrary = "pcan_usb.dll";
constexpr int kWarmUpPumps = 50;
constexpr std::uint32_t kWarmUpSleepMs = 10;

}  // namespace

int OpenBus(HWND owner, std::int32_t baudIndex)
{
    ActivePump = nullptr;
    if (appSettings.PrinterPort == kPortUsb) {
        // A Baud value outside the table has no bus timing word: refuse before any
        // driver call rather than open the adapter at an invented bit rate.
        if (baudIndex < 0 || baudIndex >= static_cast<std::int32_t>(BitRateTable.size())) {
            ShowStringMessage(owner, IDS_CANNOT_OPEN_DONGLE);
            return 0;
        }
        if (LoadDriver(kDriverLibrary) == 0) {
            ShowStringMessage(owner, IDS_CANNOT_LOAD_DLL);
            return 0;
        }
        if (CAN_Init(BitRateTable[static_cast<std::size_t>(baudIndex)].btr0btr1, 0) != 0) {
            ShowStringMessage(owner, IDS_CANNOT_OPEN_DONGLE);
            return 0;
        }
    }
    ClearNodeTable(MasterNodeTable());
    HCURSOR previous = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
    for (int i = 0; i < kWarmUpPumps; ++i) {
        PumpBus();
        SleepMs(kWarmUpSleepMs);
    }
    SetCursor(previous);
    return 1;
}

int CloseBus()
{
    ActivePump = nullptr;
    CAN_Close();
    UnloadDriver();
    return 1;
}
