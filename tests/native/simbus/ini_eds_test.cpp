// The INI reader and the EDS reader: what the slaves' dictionaries are made of.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "eds.h"
#include "ini_reader.h"
#include "network.h"

namespace {

using simbus::Access;

TEST(IniReader, FindsValuesWhateverTheCaseAndLineEnds)
{
    const simbus::IniFile ini = simbus::ParseIni(
        "\xEF\xBB\xBF; leading comment\r\n"
        "orphan=before any section\r\n"
        "[Network]\r\n"
        "  BitRate = 125  \r\n"
        "; BitRate=250\r\n"
        "[nodes]\n"
        "3=io module.eds\n"
        "Text=a;b = c\n"
        "3=second wins not\n"
        "no equals sign here\n"
        "[NETWORK]\n"
        "Extra=1\n");
    struct Case {
        const char* section;
        const char* key;
        const char* expected;  // nullptr: not found
    };
    const Case cases[] = {
        {"network", "bitrate", "125"},
        {"NODES", "3", "io module.eds"},
        {"Nodes", "text", "a;b = c"},
        {"Network", "Extra", "1"},  // a repeated section adds to the first
        {"Network", "orphan", nullptr},
        {"Missing", "3", nullptr},
    };
    for (const Case& c : cases) {
        const std::string* value = simbus::FindValue(ini, c.section, c.key);
        if (c.expected == nullptr) {
            EXPECT_EQ(value, nullptr) << c.section << "/" << c.key;
        } else {
            ASSERT_NE(value, nullptr) << c.section << "/" << c.key;
            EXPECT_EQ(*value, c.expected) << c.section << "/" << c.key;
        }
    }
    EXPECT_EQ(ini.sections.size(), 2u);
}

TEST(EdsValues, EncodeByDataType)
{
    struct Case {
        const char* text;
        std::uint16_t dataType;
        bool ok;
        std::vector<std::uint8_t> bytes;
    };
    const Case cases[] = {
        {"$NODEID+0x180", simbus::kTypeUnsigned32, true, {0x85, 0x01, 0, 0}},
        {"0x180 + $nodeid", simbus::kTypeUnsigned32, true, {0x85, 0x01, 0, 0}},
        {"$NODEID+0x80000380", simbus::kTypeUnsigned32, true, {0x85, 0x03, 0, 0x80}},
        {"$NODEID", simbus::kTypeUnsigned8, true, {0x05}},
        {"010", simbus::kTypeUnsigned8, true, {0x08}},  // octal, as CiA 306 reads it
        {"08", simbus::kTypeUnsigned8, false, {}},
        {"255", simbus::kTypeUnsigned8, true, {0xFF}},
        {"256", simbus::kTypeUnsigned8, false, {}},
        {"-1", simbus::kTypeUnsigned8, false, {}},
        {"-1", simbus::kTypeInteger16, true, {0xFF, 0xFF}},
        {"-32768", simbus::kTypeInteger16, true, {0x00, 0x80}},
        {"-32769", simbus::kTypeInteger16, false, {}},
        {"0xFFFF", simbus::kTypeInteger16, true, {0xFF, 0xFF}},
        {"0x123456789", simbus::kTypeUnsigned64, true, {0x89, 0x67, 0x45, 0x23, 0x01, 0, 0, 0}},
        {"", simbus::kTypeUnsigned16, true, {0, 0}},
        {"2", simbus::kTypeBoolean, false, {}},
        {"1.5", simbus::kTypeReal32, true, {0x00, 0x00, 0xC0, 0x3F}},
        {"1.5x", simbus::kTypeReal32, false, {}},
        {"12abc", simbus::kTypeUnsigned32, false, {}},
        {"Hi; there", simbus::kTypeVisibleString, true, {'H', 'i', ';', ' ', 't', 'h', 'e', 'r', 'e'}},
        {"0A 0b FF", simbus::kTypeOctetString, true, {0x0A, 0x0B, 0xFF}},
        {"0A0", simbus::kTypeOctetString, false, {}},
        {"1", 0x0030, false, {}},  // not a data type the slaves know
    };
    for (const Case& c : cases) {
        std::vector<std::uint8_t> bytes;
        EXPECT_EQ(simbus::EncodeEdsValue(c.text, c.dataType, 5, bytes), c.ok) << c.text;
        if (c.ok)
            EXPECT_EQ(bytes, c.bytes) << c.text;
    }
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
    simbus::EdsDevice device;
    std::string error;
    ASSERT_TRUE(simbus::ParseEds(kDevice, 0x22, device, error)) << error;
    struct Expected {
        std::uint16_t index;
        std::uint8_t subIndex;
        Access access;
        bool mappable;
        std::vector<std::uint8_t> value;
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
        const simbus::EdsEntry& entry = device.entries[i];
        SCOPED_TRACE(i);
        EXPECT_EQ(entry.index, expected[i].index);
        EXPECT_EQ(entry.subIndex, expected[i].subIndex);
        EXPECT_EQ(entry.access, expected[i].access);
        EXPECT_EQ(entry.pdoMappable, expected[i].mappable);
        EXPECT_EQ(entry.value, expected[i].value);
    }
}

TEST(EdsReader, AccessTypesAndRefusedFiles)
{
    const std::string head = "[MandatoryObjects]\nSupportedObjects=1\n1=0x2000\n[2000]\n";
    struct Case {
        std::string body;
        bool ok;
        Access access;
    };
    const Case cases[] = {
        {"DataType=0x0007\nAccessType=ro\n", true, Access::ReadOnly},
        {"DataType=0x0007\nAccessType=wo\n", true, Access::WriteOnly},
        {"DataType=0x0007\nAccessType=rw\n", true, Access::ReadWrite},
        {"DataType=0x0007\nAccessType=rwr\n", true, Access::ReadWriteInput},
        {"DataType=0x0007\nAccessType=RWW\n", true, Access::ReadWriteOutput},
        {"DataType=0x0007\nAccessType=const\n", true, Access::Const},
        {"DataType=0x0007\nAccessType=rx\n", false, Access::ReadOnly},
        {"DataType=0x0007\n", false, Access::ReadOnly},
        {"AccessType=ro\n", false, Access::ReadOnly},
        {"DataType=0x0007\nAccessType=ro\nDefaultValue=0x100000000\n", false, Access::ReadOnly},
        {"ObjectType=0x9\nCompactSubObj=3\n", false, Access::ReadOnly},
        {"ObjectType=0x4\n", false, Access::ReadOnly},
        {"DataType=0x0005\nAccessType=ro\nSimMirror=2001sub0\n", false, Access::ReadOnly},
        {"DataType=0x0005\nAccessType=ro\nSimRamp=0\n", false, Access::ReadOnly},
    };
    for (const Case& c : cases) {
        simbus::EdsDevice device;
        std::string error;
        EXPECT_EQ(simbus::ParseEds(head + c.body, 1, device, error), c.ok) << c.body;
        if (c.ok) {
            ASSERT_EQ(device.entries.size(), 1u);
            EXPECT_EQ(device.entries[0].access, c.access) << c.body;
        } else {
            EXPECT_NE(error.find("2000"), std::string::npos) << error;
        }
    }
    simbus::EdsDevice device;
    std::string error;
    EXPECT_FALSE(simbus::ParseEds("[MandatoryObjects]\n1=0x3000\n", 1, device, error));
    EXPECT_FALSE(simbus::ParseEds("[FileInfo]\nFileName=x\n", 1, device, error));
}

TEST(EdsReader, EmbeddedDefaultFilesAreComplete)
{
    for (const char* name : {"io_module.eds", "IO_MODULE.EDS", "drive.eds"}) {
        const std::string_view text = simbus::FindEmbeddedEds(name);
        ASSERT_FALSE(text.empty()) << name;
        simbus::EdsDevice device;
        std::string error;
        EXPECT_TRUE(simbus::ParseEds(text, 3, device, error)) << name << ": " << error;
    }
    EXPECT_TRUE(simbus::FindEmbeddedEds("other.eds").empty());
}

}  // namespace
