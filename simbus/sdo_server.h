// The SDO server of a virtual slave: requests on 0x600 + node, responses on 0x580 + node.
//
// Expedited and segmented upload and download with toggle checking and size indication;
// block transfers are refused with 0x05040001. A request of a length other than 8 is
// ignored, as CANopen devices do with a frame that cannot be an SDO request. A new
// initiate request replaces a segmented transfer in progress; an abort from the client
// ends it without a response. The node's test mode (kSimNode*) bends the responses.
#pragma once

#include <cstdint>

#include "world.h"

namespace simbus {

void HandleSdoRequest(World& world, std::uint8_t nodeId, const DriverMsg& request, std::uint32_t now);

}  // namespace simbus
