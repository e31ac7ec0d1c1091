#include "network.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "bit_rates.h"
#include "eds.h"
#include "ini_file.h"
#include "object_dictionary.h"
#include "virtual_bus.h"

namespace simbus {

namespace {

void AddError(std::string& errors, const std::string& text)
{
    if (!errors.empty())
        errors += '\n';
    errors += text;
}

}  // namespace

NetworkDescription DefaultNetwork()
{
    return NetworkDescription{0, {{3, "io_module.eds"}, {5, "drive.eds"}}, {}};
}

NetworkDescription ParseNetwork(std::string_view text, std::string& errors)
{
    NetworkDescription network{0, {}, {}};
    const ini::File ini = ini::Parse(text);
    if (const std::string* rate = ini::FindValue(ini, "Network", "BitRate")) {
        bool negative = false;
        std::uint64_t kbit = 0;
        if (!rate->empty() &&
            (!eds::ParseNumber(*rate, 0, negative, kbit) || negative ||
             (kbit != 0 && (kbit > UINT32_MAX || FindBitRateKbit(static_cast<std::uint32_t>(kbit)) == nullptr))))
            AddError(errors, "[Network] BitRate=" + *rate + ": not a CANopen bit rate in kbit/s");
        else
            network.bitRateKbit = static_cast<std::uint32_t>(kbit);
    }
    if (const std::string* list = ini::FindValue(ini, "Network", "UnsizedUploads")) {
        // Node IDs separated by blanks or commas.
        std::size_t at = 0;
        while (at < list->size()) {
            const std::size_t start = list->find_first_not_of(" ,\t", at);
            if (start == std::string::npos)
                break;
            const std::size_t end = std::min(list->find_first_of(" ,\t", start), list->size());
            const std::string item = list->substr(start, end - start);
            bool negative = false;
            std::uint64_t nodeId = 0;
            if (!eds::ParseNumber(item, 0, negative, nodeId) || negative || nodeId < 1 || nodeId > kMaxNodeId)
                AddError(errors, "[Network] UnsizedUploads: " + item + " is no node ID 1-127");
            else
                network.unsizedUploads.push_back(static_cast<std::uint8_t>(nodeId));
            at = end;
        }
    }
    const ini::Section* nodes = ini::FindSection(ini, "Nodes");
    if (nodes == nullptr) {
        AddError(errors, "[Nodes] missing: the network has no slaves");
        return network;
    }
    for (const ini::Entry& entry : nodes->entries) {
        bool negative = false;
        std::uint64_t nodeId = 0;
        if (!eds::ParseNumber(entry.key, 0, negative, nodeId) || negative || nodeId < 1 || nodeId > kMaxNodeId ||
            entry.value.empty()) {
            AddError(errors, "[Nodes] " + entry.key + "=" + entry.value + ": needs a node ID 1-127 and an EDS");
            continue;
        }
        network.nodes.push_back(NetworkNode{static_cast<std::uint8_t>(nodeId), entry.value});
    }
    return network;
}

bool BuildNetwork(World& world, const NetworkDescription& network, EdsReader reader, void* context, std::string& errors)
{
    const std::size_t errorsBefore = errors.size();
    world.networkKbit = network.bitRateKbit;
    for (const NetworkNode& node : network.nodes) {
        std::string text;
        if (!reader(node.edsName, context, text)) {
            AddError(errors, "node " + std::to_string(node.nodeId) + ": " + node.edsName + " not found");
            continue;
        }
        EdsDevice device;
        std::string error;
        if (!ParseEds(text, node.nodeId, device, error) || !InstallNode(world, node.nodeId, device, error)) {
            AddError(errors, "node " + std::to_string(node.nodeId) + ": " + node.edsName + ": " + error);
            continue;
        }
    }
    for (const std::uint8_t nodeId : network.unsizedUploads) {
        if (SetNodeMode(world, nodeId, kSimNodeUnsizedUploads, 0) != kSimOk)
            AddError(errors, "[Network] UnsizedUploads: node " + std::to_string(nodeId) + " is not on the network");
    }
    std::snprintf(world.lastError, sizeof world.lastError, "%s", errors.c_str());
    world.networkLoaded = 1;
    return errors.size() == errorsBefore;
}

}  // namespace simbus
