#include "eds.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ini_reader.h"

namespace simbus {

namespace {

// Size by data type index; kVariable for strings and domains, 0 for unknown types.
constexpr std::uint8_t kVariable = 0xFF;
constexpr std::array<std::uint8_t, 0x1C> kTypeSizes = {
    0,  1, 1, 2, 4, 1, 2, 4,                                   // 0x00-0x07
    4,  kVariable, kVariable, kVariable, 6, 6, 0, kVariable,  // 0x08-0x0F
    3,  8, 5, 6, 7, 8, 3, 0,                                   // 0x10-0x17
    5,  6, 7, 8,                                               // 0x18-0x1B
};
static_assert(kTypeSizes.size() == kTypeUnsigned64 + 1);

bool IsSignedType(std::uint16_t dataType)
{
    switch (dataType) {
    case kTypeInteger8: case kTypeInteger16: case kTypeInteger32: case 0x0010:
    case 0x0012: case 0x0013: case 0x0014: case kTypeInteger64:
        return true;
    default:
        return false;
    }
}

int DigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return 99;
}

bool ParseUnsigned(std::string_view text, std::uint64_t& value)
{
    unsigned base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    } else if (text.size() > 1 && text[0] == '0') {
        base = 8;
        text.remove_prefix(1);
    }
    if (text.empty())
        return false;
    value = 0;
    for (const char c : text) {
        const int digit = DigitValue(c);
        if (digit >= static_cast<int>(base))
            return false;
        if (value > (UINT64_MAX - static_cast<unsigned>(digit)) / base)
            return false;
        value = value * base + static_cast<unsigned>(digit);
    }
    return true;
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
        const int digit = DigitValue(c);
        if (digit > 15)
            return false;
        value = value * 16 + static_cast<std::uint32_t>(digit);
    }
    return true;
}

bool ParseAccess(std::string_view text, Access& access)
{
    struct Name {
        const char* text;
        Access access;
    };
    static constexpr Name kNames[] = {
        {"ro", Access::ReadOnly},         {"wo", Access::WriteOnly},
        {"rw", Access::ReadWrite},        {"rwr", Access::ReadWriteInput},
        {"rww", Access::ReadWriteOutput}, {"const", Access::Const},
    };
    for (const Name& name : kNames) {
        if (EqualsNoCase(text, name.text)) {
            access = name.access;
            return true;
        }
    }
    return false;
}

bool EncodeHexBytes(std::string_view text, std::vector<std::uint8_t>& bytes)
{
    bytes.clear();
    int high = -1;
    for (const char c : text) {
        if (c == ' ')
            continue;
        const int digit = DigitValue(c);
        if (digit > 15)
            return false;
        if (high < 0) {
            high = digit;
        } else {
            bytes.push_back(static_cast<std::uint8_t>(high * 16 + digit));
            high = -1;
        }
    }
    return high < 0;
}

bool EncodeReal(std::string_view text, std::uint32_t size, std::vector<std::uint8_t>& bytes)
{
    const std::string copy(text);
    char* end = nullptr;
    const double number = std::strtod(copy.c_str(), &end);
    if (copy.empty() || end != copy.c_str() + copy.size())
        return false;
    bytes.assign(size, 0);
    if (size == 4) {
        const float single = static_cast<float>(number);
        std::memcpy(bytes.data(), &single, 4);
    } else {
        std::memcpy(bytes.data(), &number, 8);
    }
    return true;
}

std::string SectionName(std::uint16_t index)
{
    char name[8];
    std::snprintf(name, sizeof name, "%X", static_cast<unsigned>(index));
    return name;
}

std::string SubSectionName(std::uint16_t index, unsigned subIndex)
{
    char name[16];
    std::snprintf(name, sizeof name, "%Xsub%X", static_cast<unsigned>(index), subIndex);
    return name;
}

bool Fail(std::string& error, std::string_view section, const char* what)
{
    error.assign("[").append(section).append("]: ").append(what);
    return false;
}

bool ParseBehaviour(const IniSection& section, EdsEntry& entry, std::string& error)
{
    if (const std::string* light = FindValue(&section, "SimRunningLight")) {
        std::uint64_t ms = 0;
        if (!ParseUnsigned(*light, ms) || ms == 0 || ms > UINT32_MAX)
            return Fail(error, section.name, "SimRunningLight needs a step in ms");
        entry.behaviour = Behaviour::RunningLight;
        entry.param1 = static_cast<std::uint32_t>(ms);
    } else if (const std::string* ramp = FindValue(&section, "SimRamp")) {
        const std::string_view text = *ramp;
        const std::size_t comma = text.find(',');
        std::uint64_t ms = 0;
        std::uint64_t modulo = 0;
        if (!ParseUnsigned(Trim(text.substr(0, comma)), ms) || ms == 0 || ms > UINT32_MAX ||
            (comma != std::string_view::npos &&
             (!ParseUnsigned(Trim(text.substr(comma + 1)), modulo) || modulo > UINT32_MAX)))
            return Fail(error, section.name, "SimRamp needs <ms per count>[,<modulo>]");
        entry.behaviour = Behaviour::Ramp;
        entry.param1 = static_cast<std::uint32_t>(ms);
        entry.param2 = static_cast<std::uint32_t>(modulo);
    } else if (const std::string* mirror = FindValue(&section, "SimMirror")) {
        const std::string lower = LowerCase(*mirror);
        const std::size_t sub = lower.find("sub");
        std::uint32_t index = 0;
        std::uint32_t subIndex = 0;
        if (sub == std::string::npos || !ParseHex(std::string_view(lower).substr(0, sub), index) ||
            index > 0xFFFF || !ParseHex(std::string_view(lower).substr(sub + 3), subIndex) ||
            subIndex > 0xFF)
            return Fail(error, section.name, "SimMirror needs <index>sub<subindex>");
        entry.behaviour = Behaviour::Mirror;
        entry.mirrorIndex = static_cast<std::uint16_t>(index);
        entry.mirrorSubIndex = static_cast<std::uint8_t>(subIndex);
    }
    return true;
}

bool ParseEntry(const IniSection& section, std::uint16_t index, std::uint8_t subIndex,
                std::uint8_t nodeId, EdsEntry& entry, std::string& error)
{
    entry = EdsEntry{};
    entry.index = index;
    entry.subIndex = subIndex;
    const std::string* dataType = FindValue(&section, "DataType");
    bool negative = false;
    std::uint64_t type = 0;
    if (dataType == nullptr || !ParseEdsNumber(*dataType, 0, negative, type) || negative ||
        type > 0xFFFF || DataTypeSize(static_cast<std::uint16_t>(type)) == 0)
        return Fail(error, section.name, "DataType missing or not supported");
    entry.dataType = static_cast<std::uint16_t>(type);
    const std::string* access = FindValue(&section, "AccessType");
    if (access == nullptr || !ParseAccess(*access, entry.access))
        return Fail(error, section.name, "AccessType missing or unknown");
    const std::string* mapping = FindValue(&section, "PDOMapping");
    entry.pdoMappable = mapping != nullptr && *mapping != "0" && !mapping->empty();
    const std::string* defaultValue = FindValue(&section, "DefaultValue");
    if (!EncodeEdsValue(defaultValue == nullptr ? std::string_view() : std::string_view(*defaultValue),
                        entry.dataType, nodeId, entry.value))
        return Fail(error, section.name, "DefaultValue does not fit the DataType");
    if (entry.value.size() > kMaxValueBytes)
        return Fail(error, section.name, "DefaultValue is too long");
    return ParseBehaviour(section, entry, error);
}

bool ParseObject(const IniFile& ini, std::uint16_t index, std::uint8_t nodeId, EdsDevice& device,
                 std::string& error)
{
    const std::string name = SectionName(index);
    const IniSection* section = FindSection(ini, name);
    if (section == nullptr)
        return Fail(error, name, "listed object has no section");
    std::uint64_t objectType = 7;
    bool negative = false;
    if (const std::string* text = FindValue(section, "ObjectType")) {
        if (!ParseEdsNumber(*text, 0, negative, objectType) || negative)
            return Fail(error, name, "ObjectType is not a number");
    }
    switch (objectType) {
    case 0x2:  // DOMAIN
    case 0x7: {  // VAR
        EdsEntry entry;
        if (!ParseEntry(*section, index, 0, nodeId, entry, error))
            return false;
        device.entries.push_back(std::move(entry));
        return true;
    }
    case 0x8:  // ARRAY
    case 0x9: {  // RECORD
        if (const std::string* compact = FindValue(section, "CompactSubObj")) {
            if (!compact->empty() && *compact != "0")
                return Fail(error, name, "CompactSubObj is not supported");
        }
        for (unsigned sub = 0; sub <= 0xFF; ++sub) {
            const IniSection* subSection = FindSection(ini, SubSectionName(index, sub));
            if (subSection == nullptr)
                continue;
            EdsEntry entry;
            if (!ParseEntry(*subSection, index, static_cast<std::uint8_t>(sub), nodeId, entry, error))
                return false;
            device.entries.push_back(std::move(entry));
        }
        return true;
    }
    case 0x5:  // DEFTYPE and DEFSTRUCT describe types, not values
    case 0x6:
        return true;
    default:
        return Fail(error, name, "ObjectType not supported");
    }
}

}  // namespace

std::uint32_t DataTypeSize(std::uint16_t dataType)
{
    return dataType < kTypeSizes.size() ? kTypeSizes[dataType] : 0;
}

bool IsVariableLength(std::uint16_t dataType) { return DataTypeSize(dataType) == kVariable; }

bool ParseEdsNumber(std::string_view text, std::uint8_t nodeId, bool& negative, std::uint64_t& magnitude)
{
    text = Trim(text);
    negative = false;
    magnitude = 0;
    if (!text.empty() && text.front() == '-') {
        negative = true;
        text = Trim(text.substr(1));
        return ParseUnsigned(text, magnitude);
    }
    if (text.empty())
        return false;
    while (true) {
        const std::size_t plus = text.find('+');
        const std::string_view term = Trim(text.substr(0, plus));
        std::uint64_t value = 0;
        if (EqualsNoCase(term, "$NODEID"))
            value = nodeId;
        else if (!ParseUnsigned(term, value))
            return false;
        if (magnitude > UINT64_MAX - value)
            return false;
        magnitude += value;
        if (plus == std::string_view::npos)
            return true;
        text.remove_prefix(plus + 1);
    }
}

bool EncodeEdsValue(std::string_view text, std::uint16_t dataType, std::uint8_t nodeId,
                    std::vector<std::uint8_t>& bytes)
{
    const std::uint32_t size = DataTypeSize(dataType);
    if (size == 0)
        return false;
    if (dataType == kTypeVisibleString || dataType == kTypeUnicodeString) {
        bytes.assign(text.begin(), text.end());
        return true;
    }
    if (size == kVariable)
        return EncodeHexBytes(text, bytes);
    text = Trim(text);
    if (text.empty()) {
        bytes.assign(size, 0);
        return true;
    }
    const bool isHex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    if ((dataType == kTypeReal32 || dataType == kTypeReal64) && !isHex)
        return EncodeReal(text, size, bytes);

    bool negative = false;
    std::uint64_t magnitude = 0;
    if (!ParseEdsNumber(text, nodeId, negative, magnitude))
        return false;
    const unsigned bits = size * 8;
    const std::uint64_t allOnes = bits >= 64 ? UINT64_MAX : (std::uint64_t{1} << bits) - 1;
    std::uint64_t raw = magnitude;
    if (negative) {
        // Only signed types take a minus; the smallest is -2^(bits-1).
        if (!IsSignedType(dataType) || magnitude > (std::uint64_t{1} << (bits - 1)))
            return false;
        raw = (~magnitude + 1) & allOnes;
    } else if (magnitude > allOnes) {
        return false;  // signed types may be written as their two's complement in hex
    }
    if (dataType == kTypeBoolean && raw > 1)
        return false;
    bytes.assign(size, 0);
    for (unsigned i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>(raw >> (8 * i));
    return true;
}

bool ParseEds(std::string_view text, std::uint8_t nodeId, EdsDevice& device, std::string& error)
{
    device.entries.clear();
    const IniFile ini = ParseIni(text);
    std::vector<std::uint16_t> indices;
    for (const char* list : {"MandatoryObjects", "OptionalObjects", "ManufacturerObjects"}) {
        const IniSection* section = FindSection(ini, list);
        if (section == nullptr)
            continue;
        for (const IniEntry& entry : section->entries) {
            if (EqualsNoCase(entry.key, "SupportedObjects"))
                continue;
            bool negative = false;
            std::uint64_t index = 0;
            if (!ParseEdsNumber(entry.value, 0, negative, index) || negative || index == 0 || index > 0xFFFF)
                return Fail(error, section->name, "object list entry is not an index");
            indices.push_back(static_cast<std::uint16_t>(index));
        }
    }
    if (indices.empty())
        return Fail(error, "MandatoryObjects", "no objects listed");
    std::sort(indices.begin(), indices.end());
    if (std::adjacent_find(indices.begin(), indices.end()) != indices.end())
        return Fail(error, "MandatoryObjects", "an object is listed twice");
    for (const std::uint16_t index : indices) {
        if (!ParseObject(ini, index, nodeId, device, error))
            return false;
    }
    for (const EdsEntry& entry : device.entries) {
        if (entry.behaviour != Behaviour::Mirror)
            continue;
        const auto source = std::find_if(device.entries.begin(), device.entries.end(), [&](const EdsEntry& e) {
            return e.index == entry.mirrorIndex && e.subIndex == entry.mirrorSubIndex;
        });
        if (source == device.entries.end())
            return Fail(error, SubSectionName(entry.index, entry.subIndex), "SimMirror names no entry");
    }
    return true;
}

}  // namespace simbus
