#include "eds.h"

#include <algorithm>
#include <cstdio>

#include "ascii_text.h"

namespace simbus {

namespace {

bool ParseUnsigned(std::string_view text, std::uint64_t& value)
{
    bool negative = false;
    // Plain numbers only: a behaviour parameter has no $NODEID.
    return text.find('+') == std::string_view::npos && eds::ParseNumber(text, 0, negative, value) && !negative;
}

// Hex number as in section names ("1A00", "0x1A00").
bool ParseHex(std::string_view text, std::uint32_t& value)
{
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        text.remove_prefix(2);
    if (text.empty() || text.size() > 8)
        return false;
    value = 0;
    for (const char c : text) {
        const int digit = ascii::HexDigit(c);
        if (digit < 0)
            return false;
        value = value * 16 + static_cast<unsigned>(digit);
    }
    return true;
}

std::string EntryName(std::uint16_t index, std::uint8_t subIndex, std::uint8_t objectType)
{
    char name[16];
    if (objectType == 0x8 || objectType == 0x9)
        std::snprintf(name, sizeof name, "%Xsub%X", static_cast<unsigned>(index), static_cast<unsigned>(subIndex));
    else
        std::snprintf(name, sizeof name, "%X", static_cast<unsigned>(index));
    return name;
}

bool Fail(std::string& error, const eds::Entry& entry, const char* what)
{
    error = EntryName(entry.index, entry.subIndex, entry.objectType);
    error.insert(error.begin(), '[');
    error += "]: ";
    error += what;
    return false;
}

const std::string* FindKey(const eds::Entry& entry, std::string_view key)
{
    for (const eds::OtherKey& other : entry.otherKeys) {
        if (ascii::EqualsNoCase(other.name, key))
            return &other.value;
    }
    return nullptr;
}

bool ParseBehaviour(const eds::Entry& source, EdsEntry& entry, std::string& error)
{
    if (const std::string* light = FindKey(source, "SimRunningLight")) {
        std::uint64_t ms = 0;
        if (!ParseUnsigned(*light, ms) || ms == 0 || ms > UINT32_MAX)
            return Fail(error, source, "SimRunningLight needs a step in ms");
        entry.behaviour = Behaviour::RunningLight;
        entry.param1 = static_cast<std::uint32_t>(ms);
    } else if (const std::string* ramp = FindKey(source, "SimRamp")) {
        const std::string_view text = *ramp;
        const std::size_t comma = text.find(',');
        std::uint64_t ms = 0;
        std::uint64_t modulo = 0;
        if (!ParseUnsigned(ascii::Trim(text.substr(0, comma)), ms) || ms == 0 || ms > UINT32_MAX ||
            (comma != std::string_view::npos &&
             (!ParseUnsigned(ascii::Trim(text.substr(comma + 1)), modulo) || modulo > UINT32_MAX)))
            return Fail(error, source, "SimRamp needs <ms per count>[,<modulo>]");
        entry.behaviour = Behaviour::Ramp;
        entry.param1 = static_cast<std::uint32_t>(ms);
        entry.param2 = static_cast<std::uint32_t>(modulo);
    } else if (const std::string* mirror = FindKey(source, "SimMirror")) {
        const std::string lower = ascii::LowerCase(*mirror);
        const std::size_t sub = lower.find("sub");
        std::uint32_t index = 0;
        std::uint32_t subIndex = 0;
        if (sub == std::string::npos || !ParseHex(std::string_view(lower).substr(0, sub), index) || index > 0xFFFF ||
            !ParseHex(std::string_view(lower).substr(sub + 3), subIndex) || subIndex > 0xFF)
            return Fail(error, source, "SimMirror needs <index>sub<subindex>");
        entry.behaviour = Behaviour::Mirror;
        entry.mirrorIndex = static_cast<std::uint16_t>(index);
        entry.mirrorSubIndex = static_cast<std::uint8_t>(subIndex);
    }
    return true;
}

bool MakeEntry(const eds::Entry& source, EdsEntry& entry, std::string& error)
{
    entry = EdsEntry{};
    entry.index = source.index;
    entry.subIndex = source.subIndex;
    entry.dataType = source.dataType;
    entry.access = source.access;
    entry.pdoMappable = source.pdoMappable;
    const std::uint32_t size = DataTypeSize(source.dataType);
    if (size == 0)
        return Fail(error, source, "DataType not supported by the simulated slaves");
    if (source.hasDefault)
        entry.value = source.defaultValue;
    else if (!IsVariableLength(source.dataType))
        entry.value.assign(size, 0);  // no DefaultValue: zero, as the slaves always did
    if (entry.value.size() > kMaxValueBytes)
        return Fail(error, source, "DefaultValue is too long");
    return ParseBehaviour(source, entry, error);
}

}  // namespace

bool MakeSlaveDevice(const eds::Device& source, EdsDevice& device, std::string& error)
{
    device.entries.clear();
    device.entries.reserve(source.entries.size());
    for (const eds::Entry& from : source.entries) {
        EdsEntry entry;
        if (!MakeEntry(from, entry, error)) {
            device.entries.clear();
            return false;
        }
        device.entries.push_back(std::move(entry));
    }
    for (std::size_t i = 0; i < device.entries.size(); ++i) {
        const EdsEntry& entry = device.entries[i];
        if (entry.behaviour != Behaviour::Mirror)
            continue;
        // Entries are sorted by index and subindex.
        const auto key = [](std::uint16_t index, std::uint8_t subIndex) {
            return (std::uint32_t{index} << 8) | subIndex;
        };
        const auto found =
            std::lower_bound(device.entries.begin(), device.entries.end(), key(entry.mirrorIndex, entry.mirrorSubIndex),
                             [&](const EdsEntry& e, std::uint32_t k) { return key(e.index, e.subIndex) < k; });
        if (found == device.entries.end() ||
            key(found->index, found->subIndex) != key(entry.mirrorIndex, entry.mirrorSubIndex)) {
            Fail(error, source.entries[i], "SimMirror names no entry");
            device.entries.clear();
            return false;
        }
    }
    return true;
}

bool ParseEds(std::string_view text, std::uint8_t nodeId, EdsDevice& device, std::string& error)
{
    device.entries.clear();
    eds::Device source;
    return eds::ReadDevice(text, nodeId, source, error) && MakeSlaveDevice(source, device, error);
}

}  // namespace simbus
