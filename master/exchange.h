// The cyclic process-data exchange and the idle cycle that drives it.
#pragma once

#include "operator_side.h"

// One exchange step with the main window as owner: serves a pending object request and,
// while communication is active, polls inputs and sends outputs every 300 ms.
int RunExchangeCycle(OwnerHandle owner);

// Carries out the deferred command, then runs one exchange step. 0 while the main
// window is not ready.
int RunIdleCycle();
