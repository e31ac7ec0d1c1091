// Electronic data sheets (CiA 306, EDS) and device configuration files (DCF): one reader
// for the program's Object Dictionary window and for the simulated slaves.
//
// Read: [DeviceInfo]; the object lists [MandatoryObjects], [OptionalObjects],
// [ManufacturerObjects]; for each listed object its section [XXXX] (ObjectType 0x7 VAR,
// 0x2 DOMAIN, 0x8 ARRAY, 0x9 RECORD) and, for arrays and records, the sub-object sections
// [XXXXsubN] (N in hex), or CompactSubObj with [XXXXName] and [XXXXValue]. Per entry:
// ParameterName, DataType, AccessType, DefaultValue (in a DCF, ParameterValue when
// present), LowLimit, HighLimit, PDOMapping. Numbers: decimal, 0x hexadecimal,
// 0-prefixed octal, negative numbers, sums with $NODEID ("$NODEID+0x180").
//
// CompactSubObj=N: sub 0 "NrOfEntries" (UNSIGNED8, ro, value N); subs 1..N take the
// object's DataType, AccessType, PDOMapping, limits and value, their names from
// [XXXXName] (else "<object name><n>") and values from [XXXXValue] (in a file with
// [DeviceComissioning], a DCF, they count as ParameterValues). A DOMAIN object
// without DataType or AccessType is DOMAIN, rw. Sections are found whatever the case and
// the leading zeros of their names.
//
// Refused with one error line: a malformed number or access type, a value that does not
// fit its data type, a missing DataType or AccessType, a listed object without a section
// or listed twice, a sub-object section that is no sub-index, an unknown ObjectType.
// Unknown data types and keys are kept.
//
// Bounded: a text larger than kMaxFileBytes, more than kMaxSections sections or kMaxKeys
// keys, an over-long line or value, more than kMaxEntries entries or kMaxEntryBytes of
// their texts is refused with one error line; the work is linear in the text's size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace eds {

// A DCF's section with the node's commissioning (NodeID, Baudrate, ...), in the spelling
// the files use.
constexpr const char* kCommissioningSection = "DeviceComissioning";

// CiA 301 basic data types.
constexpr std::uint16_t kTypeBoolean = 0x0001;
constexpr std::uint16_t kTypeInteger8 = 0x0002;
constexpr std::uint16_t kTypeInteger16 = 0x0003;
constexpr std::uint16_t kTypeInteger32 = 0x0004;
constexpr std::uint16_t kTypeUnsigned8 = 0x0005;
constexpr std::uint16_t kTypeUnsigned16 = 0x0006;
constexpr std::uint16_t kTypeUnsigned32 = 0x0007;
constexpr std::uint16_t kTypeReal32 = 0x0008;
constexpr std::uint16_t kTypeVisibleString = 0x0009;
constexpr std::uint16_t kTypeOctetString = 0x000A;
constexpr std::uint16_t kTypeUnicodeString = 0x000B;
constexpr std::uint16_t kTypeDomain = 0x000F;
constexpr std::uint16_t kTypeInteger24 = 0x0010;
constexpr std::uint16_t kTypeReal64 = 0x0011;
constexpr std::uint16_t kTypeUnsigned24 = 0x0016;
constexpr std::uint16_t kTypeInteger64 = 0x0015;
constexpr std::uint16_t kTypeUnsigned64 = 0x001B;

constexpr std::size_t kMaxFileBytes = 8u * 1024u * 1024u;
constexpr std::size_t kMaxSections = 65536;
constexpr std::size_t kMaxLineBytes = 64u * 1024u;  // one line without its line end
// key=value lines, far more than any device file holds: 8 MiB of "k=" lines would
// otherwise make millions of records, too many for a 32-bit program's memory.
constexpr std::size_t kMaxKeys = 1024u * 1024u;
// Entries of one device, far more than a real device has: CompactSubObj lets 30 bytes
// of text make 256 entries, so a small file could otherwise make millions.
constexpr std::size_t kMaxEntries = 65536;
// Bytes of the entries' texts and values together: an object's name is copied into each
// of its entries, so a 60 KiB name over 255 short sub-sections would otherwise cost
// gigabytes.
constexpr std::size_t kMaxEntryBytes = 32u * 1024u * 1024u;

// Bytes of a value of the type; kVariableSize for strings and domains; 0 for a type the
// reader does not know (its entries are kept, without a default value).
constexpr std::uint32_t kVariableSize = 0xFF;
std::uint32_t DataTypeSize(std::uint16_t dataType);
bool IsVariableLength(std::uint16_t dataType);
bool IsSignedType(std::uint16_t dataType);
bool IsRealType(std::uint16_t dataType);
bool IsStringType(std::uint16_t dataType);  // VISIBLE_STRING, UNICODE_STRING
// "UNSIGNED8", "VISIBLE_STRING", ...; nullptr for a type without a name here.
const char* DataTypeName(std::uint16_t dataType);

// CiA 306 access types; rwr and rww are read-write entries meant for input (transmit)
// and output (receive) PDOs.
enum class Access : std::uint8_t { ReadOnly, WriteOnly, ReadWrite, ReadWriteInput, ReadWriteOutput, Const };
bool IsReadable(Access access);
bool IsWritable(Access access);
const char* AccessName(Access access);  // "ro", "wo", "rw", "rwr", "rww", "const"

// A key of an entry's section that the reader itself does not interpret (the simulated
// slaves read their own keys from here).
struct OtherKey {
    std::string name;
    std::string value;
};

// One value of the dictionary: a VAR or DOMAIN object (subindex 0), or one sub-object of
// an ARRAY or RECORD.
struct Entry {
    std::uint16_t index = 0;
    std::uint8_t subIndex = 0;
    std::uint8_t objectType = 0x7;  // of the object the entry belongs to
    std::string objectName;         // the object's ParameterName
    std::string name;               // the entry's ParameterName (a VAR: the object's)
    std::uint16_t dataType = 0;
    Access access = Access::ReadOnly;
    bool pdoMappable = false;
    std::string defaultText;                 // as written: ParameterValue when given, else DefaultValue
    bool fromParameterValue = false;         // a DCF's ParameterValue gave the value
    std::vector<std::uint8_t> defaultValue;  // in the data type, little-endian, $NODEID resolved
    bool hasDefault = false;                 // defaultValue holds a value
    std::vector<std::uint8_t> lowLimit;      // in the data type; empty: no LowLimit
    std::vector<std::uint8_t> highLimit;     // empty: no HighLimit
    std::vector<OtherKey> otherKeys;
};

struct DeviceInfo {
    std::string vendorName;
    std::string productName;
    std::uint32_t vendorNumber = 0;
    std::uint32_t productNumber = 0;
    std::uint32_t revisionNumber = 0;
    bool hasVendorNumber = false;
    bool hasProductNumber = false;
    bool hasRevisionNumber = false;
};

struct Device {
    DeviceInfo info;
    std::vector<Entry> entries;  // sorted by index, then subindex
    // DefaultValue of 0x1000 sub 0, when the file gives one.
    std::uint32_t deviceType = 0;
    bool hasDeviceType = false;
};

// Reads an EDS or DCF text; `nodeId` replaces $NODEID. On failure returns false and
// `error` holds one line naming the section (or line) and what is wrong with it.
bool ReadDevice(std::string_view text, std::uint8_t nodeId, Device& device, std::string& error);

// One number as the files write them: decimal, 0x hex, 0-prefixed octal, a leading '-',
// or '+'-joined terms with $NODEID. False when it is none of these or overflows 64 bits.
bool ParseNumber(std::string_view text, std::uint8_t nodeId, bool& negative, std::uint64_t& magnitude);

// A value text as bytes of the data type; false when it does not fit.
bool EncodeValue(std::string_view text, std::uint16_t dataType, std::uint8_t nodeId, std::vector<std::uint8_t>& bytes);

// What a section name says: [1018] an object, [1018sub2] a sub-object (subIndex -1 when
// the part after "sub" is no hex number 0-FF), [1003Name] and [1003Value] the names and
// values of a CompactSubObj object. False for any other section ([DeviceInfo], ...).
enum class SectionPart : std::uint8_t { Object, Sub, Names, Values };
struct SectionName {
    std::uint16_t index = 0;
    SectionPart part = SectionPart::Object;
    int subIndex = 0;
};
bool ClassifySectionName(std::string_view name, SectionName& section);

// Where a value (little-endian bytes of the entry's data type, `length` of them) lies
// against the entry's limits: -1 below LowLimit, 1 above HighLimit, 0 within them or
// when the entry has none or the type has no order (strings, domains).
int CompareWithLimits(const Entry& entry, const std::uint8_t* value, std::size_t length);

}  // namespace eds
