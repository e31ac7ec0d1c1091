// The network of virtual slaves: which node IDs exist with which EDS, and the bus bit
// rate they run at.
//
// A network file (simbus.ini beside the library) replaces the default network:
//
//     [Network]
//     BitRate=125          ; kbit/s; missing or 0: the slaves follow any bit rate
//     UnsizedUploads=5     ; nodes whose segmented uploads do not indicate the size
//     [Nodes]
//     3=io_module.eds      ; node ID = EDS file, relative to the network file's folder
//     5=drive.eds          ; a name of an embedded EDS works without a file
//     7=io_module.eds, 0x1002  ; an EDS file and the device's serial number (0x1018 sub 4)
//     [NonConfigured]
//     a=io_module.eds, 0x1003  ; a name of one's own = devices without a node-ID (0xFF):
//     b=io_module.eds, 0x1004  ; no boot-up, SDO server or heartbeat until LSS gives one
//
// The serial number after a comma replaces the EDS's own, so that one EDS serves several
// devices that Fastscan and the identify services can tell apart.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "world.h"

namespace simbus {

struct NetworkNode {
    std::uint8_t nodeId = 0;  // kNoNodeId in nonConfigured
    std::string edsName;
    bool hasSerial = false;  // a serial number was given after the EDS file
    std::uint32_t serial = 0;
    std::string name;  // the key of a [NonConfigured] entry, for messages
};

struct NetworkDescription {
    std::uint32_t bitRateKbit;  // 0: any
    std::vector<NetworkNode> nodes;
    std::vector<std::uint8_t> unsizedUploads;  // node IDs
    std::vector<NetworkNode> nonConfigured;    // devices without a node-ID
};

// Nodes 3 (I/O module) and 5 (drive) from the embedded EDS files, at any bit rate.
NetworkDescription DefaultNetwork();

// Reads a network file; entries it cannot use are reported in `errors` (one per line)
// and left out.
NetworkDescription ParseNetwork(std::string_view text, std::string& errors);

// Supplies the text of an EDS by the name the network gives; false when not found.
using EdsReader = bool (*)(const std::string& name, void* context, std::string& text);

// Replaces the World's slaves with the network's (after ResetSimulation's clean-up).
// Nodes whose EDS cannot be read or used are left out and reported; true when none was.
bool BuildNetwork(World& world, const NetworkDescription& network, EdsReader reader, void* context,
                  std::string& errors);

// The EDS files compiled into the library: text by file name (any case), or empty.
std::string_view FindEmbeddedEds(std::string_view name);

}  // namespace simbus
