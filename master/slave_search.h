// The slave search: asks every node ID 1 to 127 for its device type (object 0x1000).
#pragma once

#include <array>
#include <cstdint>

#include "operator_side.h"

enum ScanResult : std::uint8_t {
    ScanNotScanned = 0,
    ScanAnswered = 1,
    ScanNoAnswer = 2,
};

// One ScanResult per node ID; entry 0 is never written.
extern std::array<std::uint8_t, 128> SlaveScanTable;

extern int scanRunning;  // 1 while ScanSlaves runs
extern int scanAbort;    // set by AbortSlaveSearch; tested before each node
extern int slaveFound;   // 1 as soon as one node answered in this search

constexpr std::uint32_t kScanTimeoutMs = 50;

// Before the search: no node scanned, nothing found, no abort.
void PrepareSlaveSearch();
// The operator's Abort (or Cancel, or OK during the search): the search ends before the
// next node.
void AbortSlaveSearch();

// Runs the search with the Search Slaves dialog as owner (its list 1032 grows node by
// node). 1 when it ran (to the end or until aborted); 0 when the bus did not open.
int ScanSlaves(OwnerHandle owner);
