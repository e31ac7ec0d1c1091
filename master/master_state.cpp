#include "master_state.h"

#include "bus_open.h"
#include "comm_state.h"
#include "emergency.h"
#include "error_control.h"
#include "exchange_internal.h"
#include "lss_master.h"
#include "lss_service.h"
#include "node_monitor.h"
#include "slave_dictionary.h"
#include "process_image.h"
#include "settings_values.h"
#include "slave_search.h"

// Settings file values (filled by the shell).
AppSettings appSettings = kDefaultSettings;

// The pause after the bus opens (set by StartMaster, changed by UseBusSettle).
std::uint32_t busSettleMs = kDefaultBusSettleMs;

// Communication state and the message-pump slots.
CommState commState{};
MessagePumpSlot MessageHook = nullptr;
MessagePumpSlot ActivePump = nullptr;

// The slave's PDOs and the process data.
PdoTable pdoTable{};
ProcessImage* processImage = nullptr;
EntryList OutputTable{};

// The slave search.
std::array<std::uint8_t, 128> SlaveScanTable{};
int scanRunning = 0;
int scanAbort = 0;
int slaveFound = 0;

// Idle cycles run from inside master services.
int nestedIdleDepth = 0;

void ResetMasterState()
{
    commState = CommState{};
    MessageHook = nullptr;
    ActivePump = nullptr;
    pdoTable = PdoTable{};
    OutputTable = EntryList{};
    SlaveScanTable.fill(ScanNotScanned);
    scanRunning = 0;
    scanAbort = 0;
    slaveFound = 0;
    nestedIdleDepth = 0;
    ResetObjectDictionary();
    nodeMonitor = NodeMonitor{};
    monitorBusy = 0;
    lssSession = LssSession{};
    lssBusy = 0;
    MasterLss() = LssMaster{};
    StopErrorControl(MasterErrorControl());
    WatchEmergencies(MasterEmergencyLog(), 0);
}
