// Every received frame, whether the bus pump reads it or a drain before a transfer does,
// is offered by its function code to the consumers beside the SDO clients and the PDO
// slots: emergencies (function code 1), NMT error control (function code 14) and the LSS
// master's answers (0x7E4, function code 15).
#pragma once

#include <cstdint>

#include "node_table.h"

constexpr std::uint32_t kEmergencyFunction = 1;
constexpr std::uint32_t kErrorControlFunction = 14;
constexpr std::uint32_t kLssFunction = 15;

// True while any consumer watches a node or an LSS service runs (or holds the bus quiet).
// The bus pump reads the tick for them only then, so a bus with nothing watched costs no
// more than before.
bool ConsumersWatching();

// Offers `frame` to the program's own consumers. 1 when one of them took it.
int RouteToConsumers(const CanFrame& frame, std::uint32_t now);

// The consumers' deadlines: returns a frame to send (an LSS request, node guarding's
// request) or nullptr. One frame per call: the LSS master goes first, node guarding takes
// the next call; while LSS holds the bus quiet, node guarding waits.
const CanFrame* StepConsumers(std::uint32_t now);
