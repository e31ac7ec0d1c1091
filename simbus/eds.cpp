#include "eds.h"

#include <algorithm>
#include <cstdio>

#include "ascii_text.h"
#include "emergency_producer.h"

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

// "<index>sub<subindex>" (hex, any case).
bool ParseEntryName(const std::string& text, std::uint16_t& index, std::uint8_t& subIndex)
{
    const std::string lower = ascii::LowerCase(text);
    const std::size_t sub = lower.find("sub");
    std::uint32_t objectIndex = 0;
    std::uint32_t objectSub = 0;
    if (sub == std::string::npos || !ParseHex(std::string_view(lower).substr(0, sub), objectIndex) ||
        objectIndex > 0xFFFF || !ParseHex(std::string_view(lower).substr(sub + 3), objectSub) || objectSub > 0xFF)
        return false;
    index = static_cast<std::uint16_t>(objectIndex);
    subIndex = static_cast<std::uint8_t>(objectSub);
    return true;
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
        if (!ParseEntryName(*mirror, entry.linkedIndex, entry.linkedSubIndex))
            return Fail(error, source, "SimMirror needs <index>sub<subindex>");
        entry.behaviour = Behaviour::Mirror;
        entry.linked = true;
    } else if (const std::string* emergency = FindKey(source, "SimEmergency")) {
        const std::string_view named = ascii::Trim(*emergency);
        if (IsVariableLength(source.dataType) ||
            (!named.empty() && !ParseEntryName(std::string(named), entry.linkedIndex, entry.linkedSubIndex)))
            return Fail(error, source, "SimEmergency needs a number entry and [<index>sub<subindex>]");
        entry.behaviour = Behaviour::Emergency;
        entry.linked = !named.empty();
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
    // "$NODEID+0x180": the value follows the node-ID when LSS changes it. Only numbers add
    // it in; a string keeps the text as written.
    if (source.hasDefault && !IsVariableLength(source.dataType)) {
        const std::string text = ascii::LowerCase(source.defaultText);
        for (std::size_t at = text.find("$nodeid"); at != std::string::npos; at = text.find("$nodeid", at + 1))
            ++entry.nodeIdTerms;
    }
    return ParseBehaviour(source, entry, error);
}

std::uint32_t Key(std::uint16_t index, std::uint8_t subIndex)
{
    return (std::uint32_t{index} << 8) | subIndex;
}

// The entry, or end(); entries are sorted by index and subindex.
std::vector<EdsEntry>::iterator FindIn(EdsDevice& device, std::uint16_t index, std::uint8_t subIndex)
{
    const auto found =
        std::lower_bound(device.entries.begin(), device.entries.end(), Key(index, subIndex),
                         [](const EdsEntry& e, std::uint32_t k) { return Key(e.index, e.subIndex) < k; });
    return found != device.entries.end() && Key(found->index, found->subIndex) == Key(index, subIndex)
               ? found
               : device.entries.end();
}

// A 0x1003 with its count only: the codes' entries after it.
void AddErrorHistory(EdsDevice& device)
{
    const auto count = FindIn(device, kPredefinedErrorField, 0);
    if (count == device.entries.end() || FindIn(device, kPredefinedErrorField, 1) != device.entries.end())
        return;
    std::vector<EdsEntry> codes(kDefaultErrorHistory);
    for (std::uint8_t sub = 1; sub <= kDefaultErrorHistory; ++sub) {
        EdsEntry& code = codes[sub - 1];
        code = EdsEntry{};
        code.index = kPredefinedErrorField;
        code.subIndex = sub;
        code.dataType = eds::kTypeUnsigned32;
        code.access = Access::ReadOnly;
        code.value.assign(4, 0);
    }
    device.entries.insert(count + 1, codes.begin(), codes.end());
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
        if (entry.linked && FindIn(device, entry.linkedIndex, entry.linkedSubIndex) == device.entries.end()) {
            Fail(error, source.entries[i],
                 entry.behaviour == Behaviour::Mirror ? "SimMirror names no entry" : "SimEmergency names no entry");
            device.entries.clear();
            return false;
        }
    }
    AddErrorHistory(device);
    return true;
}

bool ParseEds(std::string_view text, std::uint8_t nodeId, EdsDevice& device, std::string& error)
{
    device.entries.clear();
    eds::Device source;
    return eds::ReadDevice(text, nodeId, source, error) && MakeSlaveDevice(source, device, error);
}

}  // namespace simbus
