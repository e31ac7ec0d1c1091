#include "slave_search.h"

#include "bus_open.h"
#include "comm_state.h"
#include "operator_side.h"
#include "sdo_services.h"
#include "settings_values.h"

namespace {

constexpr std::uint32_t kLastNode = 127;
constexpr std::uint16_t kDeviceType = 0x1000;

}  // namespace

void PrepareSlaveSearch()
{
    SlaveScanTable.fill(ScanNotScanned);
    scanAbort = 0;
    slaveFound = 0;
}

void AbortSlaveSearch()
{
    scanAbort = 1;
}

int ScanSlaves(OwnerHandle owner)
{
    if (OpenBus(owner, appSettings.Baud) == 0)
        return 0;
    ActivePump = MessageHook;
    SlaveScanTable.fill(ScanNotScanned);
    slaveFound = 0;
    scanRunning = 1;
    scanAbort = 0;
    for (std::uint32_t node = 1; node <= kLastNode && scanAbort == 0; ++node) {
        std::uint8_t deviceType[4] = {};
        std::uint32_t length = 0;
        const SdoResult result =
            ReadObject(node, kScanTimeoutMs, kDeviceType, 0, deviceType, sizeof deviceType, length);
        if (result.failed == 0 && result.aborted == 0) {
            SlaveScanTable[node] = ScanAnswered;
            slaveFound = 1;
        } else {
            SlaveScanTable[node] = ScanNoAnswer;
        }
        PassOneMessage();
        Operator().showSearchProgress(owner);
    }
    CloseBus();
    scanRunning = 0;
    return 1;
}
