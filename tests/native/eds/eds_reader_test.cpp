// The EDS reader on texts written in the test: every kind of object and key, the files
// it refuses with their error line, and hostile texts that must end in an error line
// rather than a crash, a hang or unbounded memory.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "eds_reader.h"

namespace {

using eds::Access;
using Bytes = std::vector<std::uint8_t>;

const eds::Entry* Find(const eds::Device& device, std::uint16_t index, std::uint8_t subIndex)
{
    for (const eds::Entry& entry : device.entries) {
        if (entry.index == index && entry.subIndex == subIndex)
            return &entry;
    }
    return nullptr;
}

// A small device: one object of each kind the reader must handle.
const char kDevice[] =
    "[FileInfo]\r\nFileName=test.eds\r\n"
    "[MandatoryObjects]\r\nSupportedObjects=2\r\n1=0x1000\r\n2=0x1018\r\n"
    "[OptionalObjects]\r\nSupportedObjects=2\r\n1=0x1800\r\n2=0x2000\r\n"
    "[ManufacturerObjects]\r\nSupportedObjects=1\r\n1=0x2100\r\n"
    "[1000]\r\nParameterName=Device type\r\nDataType=0x0007\r\nAccessType=RO\r\nDefaultValue=0x00020192\r\n"
    "[1018]\r\nObjectType=0x9\r\nSubNumber=2\r\n"
    "[1018sub0]\r\nDataType=0x0005\r\nAccessType=const\r\nDefaultValue=1\r\n"
    "[1018SUB1]\r\nDataType=0x0007\r\nAccessType=ro\r\nDefaultValue=0x1234\r\n"
    "[1800]\r\nObjectType=0x9\r\n"
    "[1800sub1]\r\nDataType=0x0007\r\nAccessType=rw\r\nDefaultValue=$NODEID+0x180\r\n"
    "[2000]\r\nObjectType=0x8\r\nSubNumber=2\r\n"
    "[2000sub0]\r\nDataType=0x0005\r\nAccessType=const\r\nDefaultValue=0x1A\r\n"
    "[2000sub1A]\r\nDataType=0x0003\r\nAccessType=rww\r\nDefaultValue=-2\r\nPDOMapping=1\r\n"
    "[2100]\r\nObjectType=0x7\r\nDataType=0x0009\r\nAccessType=wo\r\nDefaultValue=text\r\n"
    "[2200]\r\nObjectType=0x7\r\nDataType=0x0005\r\nAccessType=rw\r\n";  // not listed: not there

TEST(EdsReader, ReadsListedObjectsWithSubEntries)
{
    eds::Device device;
    std::string error;
    ASSERT_TRUE(eds::ReadDevice(kDevice, 0x22, device, error)) << error;
    struct Expected {
        std::uint16_t index;
        std::uint8_t subIndex;
        Access access;
        bool mappable;
        Bytes value;
    };
    const Expected expected[] = {
        {0x1000, 0, Access::ReadOnly, false, {0x92, 0x01, 0x02, 0x00}},
        {0x1018, 0, Access::Const, false, {0x01}},
        {0x1018, 1, Access::ReadOnly, false, {0x34, 0x12, 0, 0}},
        {0x1800, 1, Access::ReadWrite, false, {0xA2, 0x01, 0, 0}},
        {0x2000, 0, Access::Const, false, {0x1A}},
        {0x2000, 0x1A, Access::ReadWriteOutput, true, {0xFE, 0xFF}},
        {0x2100, 0, Access::WriteOnly, false, {'t', 'e', 'x', 't'}},
    };
    ASSERT_EQ(device.entries.size(), std::size(expected));
    for (std::size_t i = 0; i < device.entries.size(); ++i) {
        const eds::Entry& entry = device.entries[i];
        SCOPED_TRACE(i);
        EXPECT_EQ(entry.index, expected[i].index);
        EXPECT_EQ(entry.subIndex, expected[i].subIndex);
        EXPECT_EQ(entry.access, expected[i].access);
        EXPECT_EQ(entry.pdoMappable, expected[i].mappable);
        EXPECT_EQ(entry.defaultValue, expected[i].value);
        EXPECT_TRUE(entry.hasDefault);
    }
    EXPECT_TRUE(device.hasDeviceType);
    EXPECT_EQ(device.deviceType, 0x00020192u);
    EXPECT_EQ(device.entries[0].name, "Device type");
    EXPECT_EQ(device.entries[3].defaultText, "$NODEID+0x180");
    EXPECT_FALSE(device.info.hasVendorNumber);  // no [DeviceInfo]
}

TEST(EdsReader, AccessTypesWhateverTheirCase)
{
    const std::string head = "[MandatoryObjects]\nSupportedObjects=1\n1=0x2000\n[2000]\nDataType=0x0007\n";
    struct Case {
        const char* accessType;
        Access access;
    };
    const Case cases[] = {
        {"ro", Access::ReadOnly},        {"wo", Access::WriteOnly},        {"rw", Access::ReadWrite},
        {"rwr", Access::ReadWriteInput}, {"RWW", Access::ReadWriteOutput}, {"const", Access::Const},
        {"Const", Access::Const},        {" rW ", Access::ReadWrite},
    };
    for (const Case& c : cases) {
        eds::Device device;
        std::string error;
        ASSERT_TRUE(eds::ReadDevice(head + "AccessType=" + c.accessType + "\n", 1, device, error)) << error;
        ASSERT_EQ(device.entries.size(), 1u);
        EXPECT_EQ(device.entries[0].access, c.access) << c.accessType;
    }
    // A DOMAIN object may leave out both DataType and AccessType.
    eds::Device device;
    std::string error;
    ASSERT_TRUE(eds::ReadDevice("[OptionalObjects]\n1=0x2000\n[2000]\nObjectType=0x2\n", 1, device, error)) << error;
    ASSERT_EQ(device.entries.size(), 1u);
    EXPECT_EQ(device.entries[0].dataType, eds::kTypeDomain);
    EXPECT_EQ(device.entries[0].access, Access::ReadWrite);
    EXPECT_FALSE(device.entries[0].hasDefault);
}

// Each refused text with the one error line the operator sees.
TEST(EdsReader, MalformedFilesGiveTheirErrorLine)
{
    const std::string list = "[MandatoryObjects]\nSupportedObjects=1\n1=0x2000\n";
    const std::string var = list + "[2000]\nObjectType=0x7\n";
    const std::string u8 = var + "DataType=0x0005\nAccessType=rw\n";
    const std::string compact = list + "[2000]\nObjectType=0x8\nDataType=0x0005\nAccessType=ro\nCompactSubObj=2\n";
    const std::string record = list + "[2000]\nObjectType=0x9\n[2000sub0]\nDataType=0x0005\nAccessType=ro\n";
    struct Case {
        std::string text;
        const char* error;
    };
    const Case cases[] = {
        {"[MandatoryObjects]\n1=0x3000\n", "[3000]: listed object has no section"},
        {"[FileInfo]\nFileName=x\n", "[MandatoryObjects]: no objects listed"},
        {"", "[MandatoryObjects]: no objects listed"},
        {"[MandatoryObjects]\n1=0x10000\n", "[MandatoryObjects]: 1=0x10000 is not an object index"},
        {"[MandatoryObjects]\n1=0\n", "[MandatoryObjects]: 1=0 is not an object index"},
        {list + "[OptionalObjects]\n1=0x2000\n[2000]\nDataType=7\nAccessType=ro\n",
         "[OptionalObjects]: object 0x2000 is listed twice"},
        {var + "AccessType=ro\n", "[2000]: DataType missing"},
        {var + "DataType=0x1G\nAccessType=ro\n", "[2000]: DataType is not a type number"},
        {var + "DataType=0x10000\nAccessType=ro\n", "[2000]: DataType is not a type number"},
        {var + "DataType=0x0007\n", "[2000]: AccessType missing"},
        {var + "DataType=0x0007\nAccessType=rx\n", "[2000]: AccessType is none of ro, wo, rw, rwr, rww, const"},
        {var + "DataType=0x0007\nAccessType=ro\nDefaultValue=0x100000000\n",
         "[2000]: DefaultValue does not fit the DataType"},
        {var + "DataType=0x0008\nAccessType=ro\nDefaultValue=1e39\n", "[2000]: DefaultValue does not fit the DataType"},
        {u8 + "ParameterValue=abc\n", "[2000]: ParameterValue does not fit the DataType"},
        {u8 + "LowLimit=-1\n", "[2000]: LowLimit does not fit the DataType"},
        {u8 + "HighLimit=300\n", "[2000]: HighLimit does not fit the DataType"},
        {u8 + "PDOMapping=2\n", "[2000]: PDOMapping is not 0 or 1"},
        {u8 + "PDOMapping=yes\n", "[2000]: PDOMapping is not 0 or 1"},
        {list + "[2000]\nObjectType=0x9\nCompactSubObj=3\n", "[2000]: DataType missing"},
        {list + "[2000]\nObjectType=0x4\n", "[2000]: ObjectType 0x4 is not supported"},
        {list + "[2000]\nObjectType=seven\n", "[2000]: ObjectType is not a number"},
        {list + "[2000]\nObjectType=0x8\nDataType=5\nAccessType=ro\nCompactSubObj=256\n",
         "[2000]: CompactSubObj is not a number 0-255"},
        {compact + "[2000Name]\nNrOfEntries=1\n3=Third\n", "[2000Name]: 3 is not a sub-index 1-2"},
        {compact + "[2000Name]\nfirst=First\n", "[2000Name]: first is not a sub-index 1-2"},
        {compact + "[2000Value]\nNrOfEntries=1\n1=0x100\n",
         "[2000Value]: value of sub-index 1 does not fit the DataType"},
        {record + "[2000subFFFFFFFFF]\nDataType=0x0005\nAccessType=ro\n",
         "[2000subFFFFFFFFF]: sub-index is not a hexadecimal number 0-FF"},
        {record + "[2000sub100]\nDataType=0x0005\nAccessType=ro\n",
         "[2000sub100]: sub-index is not a hexadecimal number 0-FF"},
        {record + "[2000sub]\n", "[2000sub]: sub-index is not a hexadecimal number 0-FF"},
        {record + "[2000sub00]\nDataType=0x0005\nAccessType=ro\n", "[2000sub00]: a second section for sub-index 0x00"},
        {record + "[2000sub1]\nAccessType=ro\n", "[2000sub1]: DataType missing"},
        {"[MandatoryObjects]\n1=0x200\n[200]\nDataType=5\nAccessType=ro\n[0200]\n",
         "[0200]: a second section for the same object"},
        {"[DeviceInfo]\nVendorNumber=0x100000000\n" + u8, "[DeviceInfo]: VendorNumber is not a 32-bit number"},
        {"[DeviceInfo]\nProductNumber=12abc\n" + u8, "[DeviceInfo]: ProductNumber is not a 32-bit number"},
        {"[DeviceInfo]\nRevisionNumber=-1\n" + u8, "[DeviceInfo]: RevisionNumber is not a 32-bit number"},
    };
    for (const Case& c : cases) {
        eds::Device device;
        std::string error;
        EXPECT_FALSE(eds::ReadDevice(c.text, 1, device, error)) << c.text;
        EXPECT_EQ(error, c.error) << c.text;
        EXPECT_TRUE(device.entries.empty()) << c.text;
    }
}

std::string Listed(unsigned count, unsigned first)
{
    std::string text = "[OptionalObjects]\n";
    char line[32];
    for (unsigned i = 0; i < count; ++i) {
        std::snprintf(line, sizeof line, "%u=0x%04X\n", i + 1, first + i);
        text += line;
    }
    return text;
}

// Hostile texts: each ends in one error line (bounded), or is read in full.
TEST(EdsReader, HostileTextsAreBounded)
{
    const std::string var = "[MandatoryObjects]\n1=0x2000\n[2000]\nDataType=0x0005\nAccessType=ro\n";
    struct Case {
        const char* what;
        std::string text;
        const char* error;
    };
    std::string manySections;
    for (unsigned i = 0; i < 70000; ++i)
        manySections += "[S" + std::to_string(i) + "]\n";
    std::string manyEntries = Listed(300, 0x2000);
    char section[96];
    for (unsigned i = 0; i < 300; ++i) {
        std::snprintf(section, sizeof section, "[%04X]\nObjectType=8\nDataType=5\nAccessType=ro\nCompactSubObj=255\n",
                      0x2000 + i);
        manyEntries += section;
    }
    std::string manyKeys = "[DeviceInfo]\n";
    for (unsigned i = 0; i < 1200000; ++i)
        manyKeys += "k=1\n";
    // An object's name goes into each of its entries: 60,000 bytes times 255 subs.
    std::string longNames = Listed(4, 0x2000);
    for (unsigned i = 0; i < 4; ++i)
        longNames += "[" + std::to_string(2000 + i) +
                     "]\nObjectType=8\nDataType=5\nAccessType=ro\nCompactSubObj=255\n" +
                     "ParameterName=" + std::string(60000, 'n') + "\n";
    std::string sum = var + "DefaultValue=1";
    for (unsigned i = 0; i < 20000; ++i)
        sum += "+1";
    const Case cases[] = {
        {"9 MiB", std::string(9u * 1024u * 1024u, ';'), "file larger than 8388608 bytes"},
        {"70000 sections", manySections, "line 65537: more than 65536 sections"},
        {"a line of 1 MiB", var + "ParameterName=" + std::string(1u << 20, 'x') + "\n",
         "line 6: longer than 65536 bytes"},
        {"a number of 5000 digits", var + "DefaultValue=" + std::string(5000, '9') + "\n",
         "[2000]: DefaultValue does not fit the DataType"},
        {"a sum of 20000 terms", sum + "\n", "[2000]: DefaultValue does not fit the DataType"},
        {"255 compact subs in 300 objects", manyEntries, "[2100]: more than 65536 entries in the file"},
        {"long names copied into 1020 entries", longNames,
         "[2001]: the entries' names and values exceed 33554432 bytes"},
        {"a long section name", var + "ObjectType=9\n[2000sub" + std::string(100, 'F') + "]\n",
         "[2000subFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF...]: sub-index is not a hexadecimal number 0-FF"},
    };
    for (const Case& c : cases) {
        eds::Device device;
        std::string error;
        EXPECT_FALSE(eds::ReadDevice(c.text, 1, device, error)) << c.what;
        EXPECT_EQ(error, c.error) << c.what;
        EXPECT_TRUE(device.entries.empty()) << c.what;
        EXPECT_FALSE(device.info.hasVendorNumber) << c.what;
    }
}

TEST(EdsReader, TenThousandSectionsAreRead)
{
    // 2000 records of 4 sub-objects: 10,000 object sections, with the lists and a CRLF.
    constexpr unsigned kObjects = 2000;
    std::string text = Listed(kObjects, 0x2000);
    char section[160];
    for (unsigned i = 0; i < kObjects; ++i) {
        std::snprintf(section, sizeof section, "[%04X]\r\nParameterName=Block %u\r\nObjectType=0x9\r\n", 0x2000 + i, i);
        text += section;
        for (unsigned sub = 0; sub < 4; ++sub) {
            std::snprintf(section, sizeof section,
                          "[%04Xsub%X]\r\nParameterName=Value %u\r\nDataType=0x0007\r\nAccessType=rw\r\n"
                          "DefaultValue=$NODEID+0x%X\r\nPDOMapping=%u\r\n",
                          0x2000 + i, sub, sub, i, sub & 1);
            text += section;
        }
    }
    eds::Device device;
    std::string error;
    ASSERT_TRUE(eds::ReadDevice(text, 0x10, device, error)) << error;
    ASSERT_EQ(device.entries.size(), kObjects * 4);
    for (std::size_t i = 0; i < device.entries.size(); ++i) {
        const eds::Entry& entry = device.entries[i];
        const auto object = static_cast<unsigned>(i / 4);
        ASSERT_EQ(entry.index, 0x2000 + object) << i;
        ASSERT_EQ(entry.subIndex, i % 4) << i;
        ASSERT_EQ(entry.objectName, "Block " + std::to_string(object)) << i;
        ASSERT_EQ(entry.pdoMappable, (i % 4) % 2 == 1) << i;
        const std::uint32_t value = 0x10 + object;
        ASSERT_EQ(entry.defaultValue,
                  (Bytes{static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8), 0, 0}))
            << i;
    }
    EXPECT_NE(Find(device, 0x27CF, 3), nullptr);
}

}  // namespace
