#include "network.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "ascii_text.h"
#include "bit_rates.h"
#include "byte_order.h"
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

// A value without the comment a blank and ';' start after it ("125   ; kbit/s"): the network
// file is written by hand, as its examples are, with notes beside the values.
std::string WithoutComment(const std::string& value)
{
    std::size_t at = value.find(';');
    while (at != std::string::npos && at != 0 && value[at - 1] != ' ' && value[at - 1] != '\t')
        at = value.find(';', at + 1);
    return std::string(ascii::Trim(std::string_view(value).substr(0, at)));
}

// "<EDS file>[, <serial number>]": false when a serial number is given but is none.
bool ParseDevice(const std::string& value, NetworkNode& node)
{
    const std::size_t comma = value.rfind(',');
    node.edsName = value;
    if (comma == std::string::npos)
        return !value.empty();
    const std::string_view serial = ascii::Trim(std::string_view(value).substr(comma + 1));
    bool negative = false;
    std::uint64_t number = 0;
    if (!eds::ParseNumber(serial, 0, negative, number) || negative || number > UINT32_MAX ||
        serial.find('$') != std::string_view::npos)
        return false;
    node.edsName = std::string(ascii::Trim(std::string_view(value).substr(0, comma)));
    node.hasSerial = true;
    node.serial = static_cast<std::uint32_t>(number);
    return !node.edsName.empty();
}

// The device's 0x1018 sub 4, current value and default, from the network file.
bool SetSerialNumber(World& world, const SimNode& node, std::uint32_t serial)
{
    ObjectEntry* entry = FindDeviceEntry(world, node, 0x1018, 4);
    if (entry == nullptr || entry->capacity < 4 || entry->defaultLength < 4)
        return false;
    std::uint8_t bytes[4];
    StoreLe32(bytes, serial);
    StoreValue(world, *entry, bytes, 4);
    std::memcpy(world.pool + entry->defaultOffset, bytes, 4);
    return true;
}

NetworkNode ConfiguredNode(std::uint8_t nodeId, const char* edsName)
{
    NetworkNode node;
    node.nodeId = nodeId;
    node.edsName = edsName;
    return node;
}

}  // namespace

NetworkDescription DefaultNetwork()
{
    NetworkDescription network{0, {}, {}, {}};
    network.nodes.push_back(ConfiguredNode(3, "io_module.eds"));
    network.nodes.push_back(ConfiguredNode(5, "drive.eds"));
    return network;
}

NetworkDescription ParseNetwork(std::string_view text, std::string& errors)
{
    NetworkDescription network{0, {}, {}, {}};
    const ini::File ini = ini::Parse(text);
    if (const std::string* rateValue = ini::FindValue(ini, "Network", "BitRate")) {
        const std::string rateText = WithoutComment(*rateValue);
        const std::string* rate = &rateText;
        bool negative = false;
        std::uint64_t kbit = 0;
        if (!rate->empty() &&
            (!eds::ParseNumber(*rate, 0, negative, kbit) || negative ||
             (kbit != 0 && (kbit > UINT32_MAX || FindBitRateKbit(static_cast<std::uint32_t>(kbit)) == nullptr))))
            AddError(errors, "[Network] BitRate=" + *rate + ": not a CANopen bit rate in kbit/s");
        else
            network.bitRateKbit = static_cast<std::uint32_t>(kbit);
    }
    if (const std::string* listValue = ini::FindValue(ini, "Network", "UnsizedUploads")) {
        const std::string listText = WithoutComment(*listValue);
        const std::string* list = &listText;
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
    if (const ini::Section* unconfigured = ini::FindSection(ini, "NonConfigured")) {
        for (const ini::Entry& entry : unconfigured->entries) {
            NetworkNode node;
            node.nodeId = kNoNodeId;
            node.name = entry.key;
            if (!ParseDevice(WithoutComment(entry.value), node)) {
                AddError(errors, "[NonConfigured] " + entry.key + "=" + entry.value +
                                     ": needs an EDS and, after a comma, a serial number");
                continue;
            }
            network.nonConfigured.push_back(node);
        }
    }
    const ini::Section* nodes = ini::FindSection(ini, "Nodes");
    if (nodes == nullptr) {
        // Devices without a node-ID alone make a network.
        if (network.nonConfigured.empty())
            AddError(errors, "[Nodes] missing: the network has no slaves");
        return network;
    }
    for (const ini::Entry& entry : nodes->entries) {
        bool negative = false;
        std::uint64_t nodeId = 0;
        NetworkNode node;
        if (!eds::ParseNumber(entry.key, 0, negative, nodeId) || negative || nodeId < 1 || nodeId > kMaxNodeId ||
            !ParseDevice(WithoutComment(entry.value), node)) {
            AddError(errors, "[Nodes] " + entry.key + "=" + entry.value + ": needs a node ID 1-127 and an EDS");
            continue;
        }
        node.nodeId = static_cast<std::uint8_t>(nodeId);
        network.nodes.push_back(node);
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
        if (node.hasSerial && !SetSerialNumber(world, world.nodes[node.nodeId], node.serial))
            AddError(errors, "node " + std::to_string(node.nodeId) + ": " + node.edsName + " has no 0x1018 sub 4");
    }
    for (const NetworkNode& node : network.nonConfigured) {
        std::string text;
        if (!reader(node.edsName, context, text)) {
            AddError(errors, "[NonConfigured] " + node.name + ": " + node.edsName + " not found");
            continue;
        }
        // $NODEID is 0 for a device without one; its defaults follow the node-ID it gets.
        EdsDevice device;
        std::string error;
        SimNode* slot = nullptr;
        if (!ParseEds(text, 0, device, error) || (slot = InstallUnconfigured(world, device, error)) == nullptr) {
            AddError(errors, "[NonConfigured] " + node.name + ": " + node.edsName + ": " + error);
            continue;
        }
        if (node.hasSerial && !SetSerialNumber(world, *slot, node.serial))
            AddError(errors, "[NonConfigured] " + node.name + ": " + node.edsName + " has no 0x1018 sub 4");
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
