#include "slave_search.h"

#include "bus_open.h"
#include "comm_state.h"
#include "search_dialog.h"
#include "sdo_services.h"
#include "settings.h"

int ScanSlaves(HWND owner)
{
    if (OpenBus(owner, appSettings.Baud) == 0)
        return 0;
    ActivePump = MessageHook;
    SlaveScanTable.fill(ScanNotScanned);
    slaveFound = 0;
    scanRunning = 1;
    scanAbort = 0;
    for (std::uint32_t node = 1; node <= 127 && scanAbort == 0; ++node) {
        std::uint8_t deviceType[4] = {};
        std::uint32_t length = 0;
        const SdoResult result = ReadObject(node, kScanTimeoutMs, 0x1000, 0, deviceType, sizeof deviceType, length);
        if (result.failed == 0 && result.aborted == 0) {
            SlaveScanTable[node] = ScanAnswered;
            slaveFound = 1;
        } else {
            SlaveScanTable[node] = ScanNoAnswer;
        }
        PassOneMessage();
        FillSlaveList(owner, kSlaveListId);
    }
    CloseBus();
    scanRunning = 0;
    return 1;
}
