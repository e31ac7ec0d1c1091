// The slaves' side of the EDS files: what the reader (eds/, tested in tests/native/eds)
// gives, turned into a slave's entries: the simulated bus's own behaviour keys, the types
// a slave can answer for, and the default network's embedded files.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "eds.h"
#include "network.h"

namespace {

using simbus::Access;

TEST(EdsReader, BehaviourKeysAndRefusedFiles)
{
    const std::string head = "[MandatoryObjects]\nSupportedObjects=1\n1=0x2000\n[2000]\n";
    struct Case {
        std::string body;
        bool ok;
        simbus::Behaviour behaviour;
    };
    const Case cases[] = {
        {"DataType=0x0005\nAccessType=ro\nSimMirror=2001sub0\n", false, simbus::Behaviour::None},
        {"DataType=0x0005\nAccessType=ro\nSimRamp=0\n", false, simbus::Behaviour::None},
        {"DataType=0x0005\nAccessType=ro\nSimRamp=2,x\n", false, simbus::Behaviour::None},
        {"DataType=0x0005\nAccessType=ro\nSimRunningLight=0\n", false, simbus::Behaviour::None},
        {"DataType=0x0005\nAccessType=ro\nSimMirror=2000sub0\n", true, simbus::Behaviour::Mirror},
        {"DataType=0x0005\nAccessType=ro\nsimramp=2,16\n", true, simbus::Behaviour::Ramp},
        {"DataType=0x0005\nAccessType=ro\nSimRunningLight=250\n", true, simbus::Behaviour::RunningLight},
        // A data type the reader keeps but a slave cannot answer for.
        {"DataType=0x0040\nAccessType=ro\n", false, simbus::Behaviour::None},
        {"ObjectType=0x9\nCompactSubObj=3\n", false, simbus::Behaviour::None},
        {"ObjectType=0x4\n", false, simbus::Behaviour::None},
    };
    for (const Case& c : cases) {
        simbus::EdsDevice device;
        std::string error;
        EXPECT_EQ(simbus::ParseEds(head + c.body, 1, device, error), c.ok) << c.body;
        if (c.ok) {
            ASSERT_EQ(device.entries.size(), 1u);
            EXPECT_EQ(device.entries[0].behaviour, c.behaviour) << c.body;
        } else {
            EXPECT_EQ(error.rfind("[2000]: ", 0), 0u) << error;
        }
    }
}

// Entries without a DefaultValue start at zero (strings empty); a CompactSubObj array
// becomes one entry per sub-index.
TEST(EdsReader, SlaveValuesWithoutDefaultsAndCompactArrays)
{
    const std::string text =
        "[OptionalObjects]\n1=0x2000\n2=0x2001\n3=0x2002\n"
        "[2000]\nDataType=0x0007\nAccessType=rw\n"
        "[2001]\nDataType=0x0009\nAccessType=rw\n"
        "[2002]\nObjectType=0x8\nDataType=0x0006\nAccessType=rww\nPDOMapping=1\nDefaultValue=0x1234\n"
        "CompactSubObj=2\n[2002Value]\n2=$NODEID\n";
    simbus::EdsDevice device;
    std::string error;
    ASSERT_TRUE(simbus::ParseEds(text, 9, device, error)) << error;
    struct Expected {
        std::uint16_t index;
        std::uint8_t subIndex;
        Access access;
        std::vector<std::uint8_t> value;
    };
    const Expected expected[] = {
        {0x2000, 0, Access::ReadWrite, {0, 0, 0, 0}}, {0x2001, 0, Access::ReadWrite, {}},
        {0x2002, 0, Access::ReadOnly, {2}},           {0x2002, 1, Access::ReadWriteOutput, {0x34, 0x12}},
        {0x2002, 2, Access::ReadWriteOutput, {9, 0}},
    };
    ASSERT_EQ(device.entries.size(), std::size(expected));
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(device.entries[i].index, expected[i].index);
        EXPECT_EQ(device.entries[i].subIndex, expected[i].subIndex);
        EXPECT_EQ(device.entries[i].access, expected[i].access);
        EXPECT_EQ(device.entries[i].value, expected[i].value);
    }
    EXPECT_TRUE(device.entries[3].pdoMappable);
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
