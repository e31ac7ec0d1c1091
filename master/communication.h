// Switching communication with the current slave on and off.
#pragma once

#include "operator_side.h"

#include "sdo_services.h"

// Confirmation, bus open, configuration; 1 when communication is active afterwards.
int StartCommunication(OwnerHandle owner);

// NMT pre-operational when active, 500 ms pause, driver closed, process data cleared.
int StopCommunication(OwnerHandle owner);

// Re-opens the bus and re-reads the configuration as long as the operator retries.
int RestartCommunication(OwnerHandle owner);

// The exchange's reaction to a failed transfer: 1 go on, 0 communication was stopped.
int CheckCommFailure(OwnerHandle owner, SdoResult result);
