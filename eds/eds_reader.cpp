#include "eds_reader.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ascii_text.h"
#include "byte_order.h"
#include "ini_file.h"

namespace eds {

namespace {

// Size by data type index; kVariableSize for strings and domains, 0 for types without a
// value of their own (0x0E, 0x17 are unused).
constexpr std::array<std::uint8_t, 0x1C> kTypeSizes = {
    0,
    1,
    1,
    2,
    4,
    1,
    2,
    4,  // 0x00-0x07
    4,
    kVariableSize,
    kVariableSize,
    kVariableSize,
    6,
    6,
    0,
    kVariableSize,  // 0x08-0x0F
    3,
    8,
    5,
    6,
    7,
    8,
    3,
    0,  // 0x10-0x17
    5,
    6,
    7,
    8,  // 0x18-0x1B
};
static_assert(kTypeSizes.size() == kTypeUnsigned64 + 1);

constexpr std::array<const char*, 0x1C> kTypeNames = {
    nullptr,      "BOOLEAN",    "INTEGER8",       "INTEGER16",    "INTEGER32",      "UNSIGNED8",   "UNSIGNED16",
    "UNSIGNED32", "REAL32",     "VISIBLE_STRING", "OCTET_STRING", "UNICODE_STRING", "TIME_OF_DAY", "TIME_DIFFERENCE",
    nullptr,      "DOMAIN",     "INTEGER24",      "REAL64",       "INTEGER40",      "INTEGER48",   "INTEGER56",
    "INTEGER64",  "UNSIGNED24", nullptr,          "UNSIGNED40",   "UNSIGNED48",     "UNSIGNED56",  "UNSIGNED64",
};
static_assert(kTypeNames.size() == kTypeSizes.size());

constexpr std::uint8_t kObjectDomain = 0x2;
constexpr std::uint8_t kObjectDefType = 0x5;
constexpr std::uint8_t kObjectDefStruct = 0x6;
constexpr std::uint8_t kObjectVar = 0x7;
constexpr std::uint8_t kObjectArray = 0x8;
constexpr std::uint8_t kObjectRecord = 0x9;

// Longest piece of a section name or value quoted in an error line.
constexpr std::size_t kQuoteBytes = 40;

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
        const int digit = ascii::HexDigit(c);
        if (digit < 0 || digit >= static_cast<int>(base))
            return false;
        if (value > (UINT64_MAX - static_cast<unsigned>(digit)) / base)
            return false;
        value = value * base + static_cast<unsigned>(digit);
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
        {"ro", Access::ReadOnly},        {"wo", Access::WriteOnly},        {"rw", Access::ReadWrite},
        {"rwr", Access::ReadWriteInput}, {"rww", Access::ReadWriteOutput}, {"const", Access::Const},
    };
    for (const Name& name : kNames) {
        if (ascii::EqualsNoCase(text, name.text)) {
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
        const int digit = ascii::HexDigit(c);
        if (digit < 0)
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
    // "1e999" or "1e39" for a REAL32 would silently become infinity.
    if (!std::isfinite(number) || (size == 4 && !std::isfinite(static_cast<float>(number))))
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

double LoadReal(const std::uint8_t* bytes, std::size_t available, std::uint32_t size)
{
    std::uint8_t copy[8] = {};
    if (available > 0)
        std::memcpy(copy, bytes, std::min<std::size_t>(available, size));
    if (size == 4) {
        float single = 0;
        std::memcpy(&single, copy, 4);
        return single;
    }
    double number = 0;
    std::memcpy(&number, copy, 8);
    return number;
}

// The quoted part of an error line: bounded, so a hostile 64 KiB name makes a short line.
std::string Quote(std::string_view text)
{
    if (text.size() <= kQuoteBytes)
        return std::string(text);
    return std::string(text.substr(0, kQuoteBytes)).append("...");
}

bool Fail(std::string& error, std::string_view section, std::string_view what)
{
    error = Quote(section);
    error.insert(error.begin(), '[');
    error += "]: ";
    error += what;
    return false;
}

// One number in a fixed text (std::string's operator+ chains draw a false -Wrestrict
// from MinGW's GCC 12).
std::string Say(const char* format, unsigned long long number)
{
    char text[96];
    std::snprintf(text, sizeof text, format, number);
    return text;
}

// A section name that belongs to an object: "1018", "1018sub2", "1003Name", "1003Value".
// The same order as SectionPart: RefLess sorts an object's sections by it.
enum class Part : std::uint8_t { Object, Sub, Names, Values };
static_assert(static_cast<int>(Part::Values) == static_cast<int>(SectionPart::Values));

struct SectionRef {
    std::uint16_t index;
    Part part;
    int subIndex;  // Part::Sub: 0-255, or -1 for a sub-index that is no hex number 0-FF
    std::size_t section;
};

bool StartsWithNoCase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() && ascii::EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

bool ClassifySection(std::string_view name, std::size_t position, SectionRef& ref)
{
    SectionName section;
    if (!ClassifySectionName(name, section))
        return false;
    ref = SectionRef{section.index, static_cast<Part>(section.part), section.subIndex, position};
    return true;
}

bool RefLess(const SectionRef& a, const SectionRef& b)
{
    if (a.index != b.index)
        return a.index < b.index;
    if (a.part != b.part)
        return a.part < b.part;
    return a.subIndex < b.subIndex;
}

// The keys the reader interprets; every other key of an entry's section goes to
// Entry::otherKeys.
struct EntryKeys {
    const std::string* parameterName = nullptr;
    const std::string* objectType = nullptr;
    const std::string* dataType = nullptr;
    const std::string* accessType = nullptr;
    const std::string* defaultValue = nullptr;
    const std::string* parameterValue = nullptr;
    const std::string* lowLimit = nullptr;
    const std::string* highLimit = nullptr;
    const std::string* pdoMapping = nullptr;
    const std::string* compactSubObj = nullptr;
};

void SortKeys(const ini::Section& section, EntryKeys& keys, std::vector<OtherKey>* others)
{
    struct Known {
        const char* name;
        const std::string* EntryKeys::*slot;
    };
    static constexpr Known kKnown[] = {
        {"ParameterName", &EntryKeys::parameterName},
        {"ObjectType", &EntryKeys::objectType},
        {"DataType", &EntryKeys::dataType},
        {"AccessType", &EntryKeys::accessType},
        {"DefaultValue", &EntryKeys::defaultValue},
        {"ParameterValue", &EntryKeys::parameterValue},
        {"LowLimit", &EntryKeys::lowLimit},
        {"HighLimit", &EntryKeys::highLimit},
        {"PDOMapping", &EntryKeys::pdoMapping},
        {"CompactSubObj", &EntryKeys::compactSubObj},
        {"SubNumber", nullptr},
    };
    for (const ini::Entry& key : section.entries) {
        bool known = false;
        for (const Known& k : kKnown) {
            if (!ascii::EqualsNoCase(key.key, k.name))
                continue;
            known = true;
            if (k.slot != nullptr && keys.*k.slot == nullptr)
                keys.*k.slot = &key.value;  // of repeated keys the first counts
            break;
        }
        if (!known && others != nullptr)
            others->push_back(OtherKey{key.key, key.value});
    }
}

bool ParseSmall(const std::string* text, std::uint64_t max, std::uint64_t& value)
{
    bool negative = false;
    return ParseNumber(*text, 0, negative, value) && !negative && value <= max;
}

// The value texts of an entry: ParameterValue (a DCF's configured value) before
// DefaultValue; blank numbers count as no value.
bool EncodeEntryValue(const std::string* text, bool isParameterValue, std::string_view section, std::uint8_t nodeId,
                      Entry& entry, std::string& error)
{
    entry.defaultText = text == nullptr ? std::string() : *text;
    entry.fromParameterValue = isParameterValue;
    entry.defaultValue.clear();
    entry.hasDefault = false;
    const std::uint32_t size = DataTypeSize(entry.dataType);
    if (text == nullptr || size == 0 || (size != kVariableSize && ascii::Trim(*text).empty()))
        return true;
    if (!EncodeValue(*text, entry.dataType, nodeId, entry.defaultValue))
        return Fail(error, section,
                    isParameterValue ? "ParameterValue does not fit the DataType"
                                     : "DefaultValue does not fit the DataType");
    entry.hasDefault = true;
    return true;
}

bool EncodeLimit(const std::string* text, const char* key, std::string_view section, std::uint8_t nodeId,
                 const Entry& entry, std::vector<std::uint8_t>& limit, std::string& error)
{
    limit.clear();
    const std::uint32_t size = DataTypeSize(entry.dataType);
    if (text == nullptr || size == 0 || size == kVariableSize || ascii::Trim(*text).empty())
        return true;
    if (!EncodeValue(*text, entry.dataType, nodeId, limit))
        return Fail(error, section, std::string(key) + " does not fit the DataType");
    return true;
}

// One entry from its section; `object` is the ObjectType of the object it belongs to.
bool ReadEntry(const ini::Section& section, std::uint16_t index, std::uint8_t subIndex, std::uint8_t object,
               std::uint8_t nodeId, Entry& entry, std::string& error)
{
    entry = Entry{};
    entry.index = index;
    entry.subIndex = subIndex;
    entry.objectType = object;
    EntryKeys keys;
    SortKeys(section, keys, &entry.otherKeys);
    if (keys.parameterName != nullptr)
        entry.name = *keys.parameterName;
    std::uint64_t number = 0;
    if (keys.dataType != nullptr && !ascii::Trim(*keys.dataType).empty()) {
        if (!ParseSmall(keys.dataType, 0xFFFF, number))
            return Fail(error, section.name, "DataType is not a type number");
        entry.dataType = static_cast<std::uint16_t>(number);
    } else if (object == kObjectDomain) {
        entry.dataType = kTypeDomain;  // a DOMAIN object needs no DataType
    } else {
        return Fail(error, section.name, "DataType missing");
    }
    if (keys.accessType != nullptr && !ascii::Trim(*keys.accessType).empty()) {
        if (!ParseAccess(ascii::Trim(*keys.accessType), entry.access))
            return Fail(error, section.name, "AccessType is none of ro, wo, rw, rwr, rww, const");
    } else if (object == kObjectDomain) {
        entry.access = Access::ReadWrite;
    } else {
        return Fail(error, section.name, "AccessType missing");
    }
    if (keys.pdoMapping != nullptr && !ascii::Trim(*keys.pdoMapping).empty()) {
        if (!ParseSmall(keys.pdoMapping, 1, number))
            return Fail(error, section.name, "PDOMapping is not 0 or 1");
        entry.pdoMappable = number == 1;
    }
    const bool parameter = keys.parameterValue != nullptr && !ascii::Trim(*keys.parameterValue).empty();
    return EncodeEntryValue(parameter ? keys.parameterValue : keys.defaultValue, parameter, section.name, nodeId, entry,
                            error) &&
           EncodeLimit(keys.lowLimit, "LowLimit", section.name, nodeId, entry, entry.lowLimit, error) &&
           EncodeLimit(keys.highLimit, "HighLimit", section.name, nodeId, entry, entry.highLimit, error);
}

std::size_t EntryBytes(const Entry& entry)
{
    std::size_t bytes = entry.objectName.size() + entry.name.size() + entry.defaultText.size() +
                        entry.defaultValue.size() + entry.lowLimit.size() + entry.highLimit.size();
    for (const OtherKey& key : entry.otherKeys)
        bytes += key.name.size() + key.value.size();
    return bytes;
}

// The entries of one file and what their texts cost so far.
struct Collected {
    Device& device;
    std::size_t bytes;
};

bool AddEntry(Collected& collected, Entry&& entry, std::string_view section, std::string& error)
{
    if (collected.device.entries.size() >= kMaxEntries)
        return Fail(error, section, Say("more than %llu entries in the file", kMaxEntries));
    collected.bytes += EntryBytes(entry);
    if (collected.bytes > kMaxEntryBytes)
        return Fail(error, section, Say("the entries' names and values exceed %llu bytes", kMaxEntryBytes));
    collected.device.entries.push_back(std::move(entry));
    return true;
}

// The texts of a CompactSubObj object's [XXXXName] or [XXXXValue] section by sub-index
// 1..count; the keys are sub-indices, NrOfEntries only repeats the count.
bool ReadCompactTexts(const ini::Section* section, unsigned count, std::vector<const std::string*>& texts,
                      std::string& error)
{
    texts.assign(count + 1, nullptr);
    if (section == nullptr)
        return true;
    for (const ini::Entry& key : section->entries) {
        if (ascii::EqualsNoCase(key.key, "NrOfEntries"))
            continue;
        bool negative = false;
        std::uint64_t sub = 0;
        if (!ParseNumber(key.key, 0, negative, sub) || negative || sub == 0 || sub > count)
            return Fail(error, section->name, Quote(key.key).append(Say(" is not a sub-index 1-%llu", count)));
        if (texts[static_cast<std::size_t>(sub)] == nullptr)
            texts[static_cast<std::size_t>(sub)] = &key.value;
    }
    return true;
}

// Subs 0..count of a CompactSubObj object: sub 0 holds the count, the others share the
// object's type, access, mapping and limits.
bool ReadCompactObject(const ini::Section& object, const SectionRef* begin, const SectionRef* end, const ini::File& ini,
                       unsigned count, std::uint16_t index, std::uint8_t objectType, std::uint8_t nodeId,
                       Collected& collected, std::string& error)
{
    const ini::Section* names = nullptr;
    const ini::Section* values = nullptr;
    for (const SectionRef* ref = begin; ref != end; ++ref) {
        if (ref->part == Part::Names && names == nullptr)
            names = &ini.sections[ref->section];
        if (ref->part == Part::Values && values == nullptr)
            values = &ini.sections[ref->section];
    }
    Entry shared;
    if (!ReadEntry(object, index, 1, objectType, nodeId, shared, error))
        return false;
    const std::string objectName = shared.name;
    shared.otherKeys.clear();

    Entry first;
    first.index = index;
    first.subIndex = 0;
    first.objectType = objectType;
    first.objectName = objectName;
    first.name = "NrOfEntries";
    first.dataType = kTypeUnsigned8;
    first.access = Access::ReadOnly;
    first.defaultText = std::to_string(count);
    first.defaultValue = {static_cast<std::uint8_t>(count)};
    first.hasDefault = true;
    if (!AddEntry(collected, std::move(first), object.name, error))
        return false;

    // In a DCF the [XXXXValue] section holds the configured values, as ParameterValue
    // does for the other entries.
    const bool configured = ini::FindSection(ini, kCommissioningSection) != nullptr;
    std::vector<const std::string*> nameTexts;
    std::vector<const std::string*> valueTexts;
    if (!ReadCompactTexts(names, count, nameTexts, error) || !ReadCompactTexts(values, count, valueTexts, error))
        return false;
    for (unsigned sub = 1; sub <= count; ++sub) {
        Entry entry = shared;
        entry.subIndex = static_cast<std::uint8_t>(sub);
        entry.objectName = objectName;
        entry.name = nameTexts[sub] != nullptr ? *nameTexts[sub] : objectName + std::to_string(sub);
        if (valueTexts[sub] != nullptr &&
            !EncodeEntryValue(valueTexts[sub], configured, values->name, nodeId, entry, error))
            return Fail(error, values->name, Say("value of sub-index %llu does not fit the DataType", sub));
        if (!AddEntry(collected, std::move(entry), object.name, error))
            return false;
    }
    return true;
}

// One listed object: its refs [begin, end) are every section of its index, sorted.
bool ReadObject(const ini::File& ini, std::uint16_t index, const SectionRef* begin, const SectionRef* end,
                std::uint8_t nodeId, Collected& collected, std::string& error)
{
    if (begin == end || begin->part != Part::Object)
        return Fail(error, Say("%04llX", index), "listed object has no section");
    if (begin + 1 != end && begin[1].part == Part::Object)
        return Fail(error, ini.sections[begin[1].section].name, "a second section for the same object");
    const ini::Section& object = ini.sections[begin->section];
    EntryKeys keys;
    SortKeys(object, keys, nullptr);
    std::uint64_t objectType = kObjectVar;
    if (keys.objectType != nullptr && !ascii::Trim(*keys.objectType).empty() &&
        !ParseSmall(keys.objectType, 0xFF, objectType))
        return Fail(error, object.name, "ObjectType is not a number");
    const std::uint8_t type = static_cast<std::uint8_t>(objectType);
    const std::string objectName = keys.parameterName == nullptr ? std::string() : *keys.parameterName;
    switch (type) {
    case kObjectDomain:
    case kObjectVar: {
        Entry entry;
        if (!ReadEntry(object, index, 0, type, nodeId, entry, error))
            return false;
        entry.objectName = objectName;
        return AddEntry(collected, std::move(entry), object.name, error);
    }
    case kObjectArray:
    case kObjectRecord: {
        std::uint64_t compact = 0;
        if (keys.compactSubObj != nullptr && !ascii::Trim(*keys.compactSubObj).empty() &&
            !ParseSmall(keys.compactSubObj, 0xFF, compact))
            return Fail(error, object.name, "CompactSubObj is not a number 0-255");
        if (compact != 0)
            return ReadCompactObject(object, begin, end, ini, static_cast<unsigned>(compact), index, type, nodeId,
                                     collected, error);
        int previous = -1;
        for (const SectionRef* ref = begin + 1; ref != end && ref->part == Part::Sub; ++ref) {
            const ini::Section& section = ini.sections[ref->section];
            if (ref->subIndex < 0)
                return Fail(error, section.name, "sub-index is not a hexadecimal number 0-FF");
            if (ref->subIndex == previous)
                return Fail(error, section.name,
                            Say("a second section for sub-index 0x%02llX", static_cast<unsigned long long>(previous)));
            previous = ref->subIndex;
            Entry entry;
            if (!ReadEntry(section, index, static_cast<std::uint8_t>(ref->subIndex), type, nodeId, entry, error))
                return false;
            entry.objectName = objectName;
            if (!AddEntry(collected, std::move(entry), section.name, error))
                return false;
        }
        return true;
    }
    case kObjectDefType:  // DEFTYPE and DEFSTRUCT describe types, not values
    case kObjectDefStruct:
        return true;
    default:
        return Fail(error, object.name, Say("ObjectType 0x%llX is not supported", type));
    }
}

bool ReadDeviceInfo(const ini::File& ini, DeviceInfo& info, std::string& error)
{
    info = DeviceInfo{};
    const ini::Section* section = ini::FindSection(ini, "DeviceInfo");
    if (section == nullptr)
        return true;
    if (const std::string* text = ini::FindValue(section, "VendorName"))
        info.vendorName = *text;
    if (const std::string* text = ini::FindValue(section, "ProductName"))
        info.productName = *text;
    struct Number {
        const char* key;
        std::uint32_t DeviceInfo::*value;
        bool DeviceInfo::*has;
    };
    static constexpr Number kNumbers[] = {
        {"VendorNumber", &DeviceInfo::vendorNumber, &DeviceInfo::hasVendorNumber},
        {"ProductNumber", &DeviceInfo::productNumber, &DeviceInfo::hasProductNumber},
        {"RevisionNumber", &DeviceInfo::revisionNumber, &DeviceInfo::hasRevisionNumber},
    };
    for (const Number& number : kNumbers) {
        const std::string* text = ini::FindValue(section, number.key);
        if (text == nullptr || ascii::Trim(*text).empty())
            continue;
        std::uint64_t value = 0;
        if (!ParseSmall(text, UINT32_MAX, value))
            return Fail(error, section->name, std::string(number.key) + " is not a 32-bit number");
        info.*number.value = static_cast<std::uint32_t>(value);
        info.*number.has = true;
    }
    return true;
}

// The listed indices, sorted; an index listed twice is an error.
bool ReadObjectLists(const ini::File& ini, std::vector<std::uint16_t>& indices, std::string& error)
{
    struct Listed {
        std::uint16_t index;
        const ini::Section* list;
    };
    std::vector<Listed> listed;
    for (const char* name : {"MandatoryObjects", "OptionalObjects", "ManufacturerObjects"}) {
        const ini::Section* section = ini::FindSection(ini, name);
        if (section == nullptr)
            continue;
        for (const ini::Entry& entry : section->entries) {
            if (ascii::EqualsNoCase(entry.key, "SupportedObjects"))
                continue;
            std::uint64_t index = 0;
            if (!ParseSmall(&entry.value, 0xFFFF, index) || index == 0)
                return Fail(error, section->name, Quote(entry.key + "=" + entry.value) + " is not an object index");
            listed.push_back(Listed{static_cast<std::uint16_t>(index), section});
        }
    }
    if (listed.empty())
        return Fail(error, "MandatoryObjects", "no objects listed");
    std::stable_sort(listed.begin(), listed.end(), [](const Listed& a, const Listed& b) { return a.index < b.index; });
    indices.clear();
    for (std::size_t i = 0; i < listed.size(); ++i) {
        if (i > 0 && listed[i].index == listed[i - 1].index)
            return Fail(error, listed[i].list->name, Say("object 0x%04llX is listed twice", listed[i].index));
        indices.push_back(listed[i].index);
    }
    return true;
}

}  // namespace

std::uint32_t DataTypeSize(std::uint16_t dataType)
{
    return dataType < kTypeSizes.size() ? kTypeSizes[dataType] : 0;
}

bool IsVariableLength(std::uint16_t dataType)
{
    return DataTypeSize(dataType) == kVariableSize;
}

bool IsSignedType(std::uint16_t dataType)
{
    switch (dataType) {
    case kTypeInteger8:
    case kTypeInteger16:
    case kTypeInteger32:
    case kTypeInteger24:
    case 0x0012:
    case 0x0013:
    case 0x0014:
    case kTypeInteger64:
        return true;
    default:
        return false;
    }
}

bool IsRealType(std::uint16_t dataType)
{
    return dataType == kTypeReal32 || dataType == kTypeReal64;
}

bool IsStringType(std::uint16_t dataType)
{
    return dataType == kTypeVisibleString || dataType == kTypeUnicodeString;
}

const char* DataTypeName(std::uint16_t dataType)
{
    return dataType < kTypeNames.size() ? kTypeNames[dataType] : nullptr;
}

bool IsReadable(Access access)
{
    return access != Access::WriteOnly;
}

bool IsWritable(Access access)
{
    return access != Access::ReadOnly && access != Access::Const;
}

const char* AccessName(Access access)
{
    switch (access) {
    case Access::ReadOnly:
        return "ro";
    case Access::WriteOnly:
        return "wo";
    case Access::ReadWrite:
        return "rw";
    case Access::ReadWriteInput:
        return "rwr";
    case Access::ReadWriteOutput:
        return "rww";
    case Access::Const:
        return "const";
    }
    return "";
}

bool ParseNumber(std::string_view text, std::uint8_t nodeId, bool& negative, std::uint64_t& magnitude)
{
    text = ascii::Trim(text);
    negative = false;
    magnitude = 0;
    if (!text.empty() && text.front() == '-') {
        negative = true;
        text = ascii::Trim(text.substr(1));
        return ParseUnsigned(text, magnitude);
    }
    if (text.empty())
        return false;
    while (true) {
        const std::size_t plus = text.find('+');
        const std::string_view term = ascii::Trim(text.substr(0, plus));
        std::uint64_t value = 0;
        if (ascii::EqualsNoCase(term, "$NODEID"))
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

bool EncodeValue(std::string_view text, std::uint16_t dataType, std::uint8_t nodeId, std::vector<std::uint8_t>& bytes)
{
    const std::uint32_t size = DataTypeSize(dataType);
    if (size == 0)
        return false;
    if (IsStringType(dataType)) {
        bytes.assign(text.begin(), text.end());
        return true;
    }
    if (size == kVariableSize)
        return EncodeHexBytes(text, bytes);
    text = ascii::Trim(text);
    if (text.empty()) {
        bytes.assign(size, 0);
        return true;
    }
    const bool isHex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    if (IsRealType(dataType) && !isHex)
        return EncodeReal(text, size, bytes);

    bool negative = false;
    std::uint64_t magnitude = 0;
    if (!ParseNumber(text, nodeId, negative, magnitude))
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

namespace {

bool ReadDeviceText(std::string_view text, std::uint8_t nodeId, Device& device, std::string& error)
{
    if (text.size() > kMaxFileBytes) {
        error = Say("file larger than %llu bytes", kMaxFileBytes);
        return false;
    }
    ini::File ini;
    std::vector<std::uint16_t> indices;
    if (!ini::Parse(text, ini::Limits{kMaxLineBytes, kMaxSections, kMaxKeys}, ini, error) ||
        !ReadDeviceInfo(ini, device.info, error) || !ReadObjectLists(ini, indices, error))
        return false;

    // Every section once, sorted by index and kind, instead of looking up 256 possible
    // sub-section names per object.
    std::vector<SectionRef> refs;
    for (std::size_t i = 0; i < ini.sections.size(); ++i) {
        SectionRef ref{};
        if (ClassifySection(ini.sections[i].name, i, ref))
            refs.push_back(ref);
    }
    std::stable_sort(refs.begin(), refs.end(), RefLess);  // a second section of a kind stays second
    Collected collected{device, 0};
    const SectionRef* at = refs.data();
    const SectionRef* const last = refs.data() + refs.size();
    for (const std::uint16_t index : indices) {
        while (at != last && at->index < index)
            ++at;
        const SectionRef* end = at;
        while (end != last && end->index == index)
            ++end;
        if (!ReadObject(ini, index, at, end, nodeId, collected, error))
            return false;
        at = end;
    }
    for (const Entry& entry : device.entries) {
        if (entry.index == 0x1000 && entry.subIndex == 0 && entry.hasDefault && entry.defaultValue.size() == 4) {
            device.deviceType = LoadLe32(entry.defaultValue.data());
            device.hasDeviceType = true;
        }
    }
    return true;
}

}  // namespace

bool ReadDevice(std::string_view text, std::uint8_t nodeId, Device& device, std::string& error)
{
    device = Device{};
    error.clear();
    if (ReadDeviceText(text, nodeId, device, error))
        return true;
    device = Device{};  // nothing half-read
    return false;
}

bool ClassifySectionName(std::string_view name, SectionName& section)
{
    std::size_t digits = 0;
    while (digits < name.size() && digits <= 4 && ascii::HexDigit(name[digits]) >= 0)
        ++digits;
    if (digits == 0 || digits > 4)
        return false;
    unsigned index = 0;
    for (std::size_t i = 0; i < digits; ++i)
        index = index * 16 + static_cast<unsigned>(ascii::HexDigit(name[i]));
    section = SectionName{static_cast<std::uint16_t>(index), SectionPart::Object, 0};
    const std::string_view rest = name.substr(digits);
    if (rest.empty())
        return true;
    if (ascii::EqualsNoCase(rest, "Name")) {
        section.part = SectionPart::Names;
        return true;
    }
    if (ascii::EqualsNoCase(rest, "Value")) {
        section.part = SectionPart::Values;
        return true;
    }
    if (!StartsWithNoCase(rest, "sub"))
        return false;
    section.part = SectionPart::Sub;
    const std::string_view sub = rest.substr(3);
    int value = sub.empty() ? -1 : 0;
    for (const char c : sub) {
        const int digit = ascii::HexDigit(c);
        if (digit < 0 || value * 16 + digit > 0xFF) {
            value = -1;
            break;
        }
        value = value * 16 + digit;
    }
    section.subIndex = value;
    return true;
}

int CompareWithLimits(const Entry& entry, const std::uint8_t* value, std::size_t length)
{
    const std::uint32_t size = DataTypeSize(entry.dataType);
    if (size == 0 || size == kVariableSize || (entry.lowLimit.empty() && entry.highLimit.empty()))
        return 0;
    if (value == nullptr)
        length = 0;
    const bool hasLow = !entry.lowLimit.empty();
    const bool hasHigh = !entry.highLimit.empty();
    if (IsRealType(entry.dataType)) {
        const double number = LoadReal(value, length, size);
        if (std::isnan(number))
            return 1;  // no order: never take it as within the limits
        if (hasLow && number < LoadReal(entry.lowLimit.data(), entry.lowLimit.size(), size))
            return -1;
        if (hasHigh && number > LoadReal(entry.highLimit.data(), entry.highLimit.size(), size))
            return 1;
        return 0;
    }
    // A value or bound shorter than its type lacks its high bytes: they count as 0.
    const std::uint64_t raw = LoadLeUnsigned(value, std::min<std::size_t>(length, size));
    const std::uint64_t low = LoadLeUnsigned(entry.lowLimit.data(), std::min<std::size_t>(entry.lowLimit.size(), size));
    const std::uint64_t high =
        LoadLeUnsigned(entry.highLimit.data(), std::min<std::size_t>(entry.highLimit.size(), size));
    if (IsSignedType(entry.dataType)) {
        if (hasLow && SignExtend(raw, size) < SignExtend(low, size))
            return -1;
        if (hasHigh && SignExtend(raw, size) > SignExtend(high, size))
            return 1;
        return 0;
    }
    if (hasLow && raw < low)
        return -1;
    if (hasHigh && raw > high)
        return 1;
    return 0;
}

}  // namespace eds
