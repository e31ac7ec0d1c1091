// The cyclic process-data exchange and the idle cycle that drives it.
#pragma once

#include <cstdint>

#include "operator_side.h"

// One exchange step with the main window as owner: serves a pending object request and,
// while communication is active, polls inputs and sends outputs every 300 ms.
int RunExchangeCycle(OwnerHandle owner);

// Hands an object request of the operator to the next exchange cycle: `direction` 1
// writes `length` bytes of `data` (nullptr: zeros), 0 reads; `pending` is set last.
void PostObjectRequest(std::uint32_t index, std::uint32_t subindex, const std::uint8_t* data, std::uint32_t length,
                       std::uint32_t direction);

// Carries out the deferred command, then runs one exchange step. 0 while the main
// window is not ready.
int RunIdleCycle();
