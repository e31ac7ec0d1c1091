// Every received frame, whether the bus pump reads it or a drain before a transfer does,
// is offered by its function code to the consumers beside the SDO clients and the PDO
// slots: emergencies (function code 1) and NMT error control (function code 14).
#pragma once

#include <cstdint>

#include "node_table.h"

constexpr std::uint32_t kEmergencyFunction = 1;
constexpr std::uint32_t kErrorControlFunction = 14;

// True while any consumer watches a node. The bus pump reads the tick for them only then,
// so a bus with nothing watched costs no more than before.
bool ConsumersWatching();

// Offers `frame` to the program's own consumers. 1 when one of them took it.
int RouteToConsumers(const CanFrame& frame, std::uint32_t now);

// The consumers' deadlines: returns a frame to send (node guarding's request) or nullptr.
const CanFrame* StepConsumers(std::uint32_t now);
