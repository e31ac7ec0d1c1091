// PDO receive slots: the newest data of every PDO function code 3 to 10 of every node.
//
// A caller holding a COB-ID finds the slot as node = COB-ID AND 0x7F and
// slot = ((COB-ID >> 7) AND 0x0F) - 3.
#pragma once

#include <cstdint>

#include "node_table.h"

// The PDO receipt step of the engine cycle for node n: stores a data frame of function
// code 3 to 10 addressed to n in its slot. Produces no frame.
void ReceivePdo(NodeTable& table, const CanFrame& frame, std::uint32_t node);

// Takes the newest data of one slot (slot AND 7, node AND 0x7F) into a destination of at
// least 8 bytes. Returns 1 with the length when fresh data were there, else 0 and
// length 0.
int FetchPdo(std::uint32_t node, std::uint32_t slot, NodeTable& table, std::uint8_t* destination,
             std::uint32_t& length);
