// The EDS reader on real files: the default network's (simbus/eds) and a set of our own
// writing in the style devices ship (files/).
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "eds_reader.h"

namespace {

using eds::Access;
using Bytes = std::vector<std::uint8_t>;

std::string ReadFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    EXPECT_TRUE(file.good()) << path;
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

const eds::Entry* Find(const eds::Device& device, std::uint16_t index, std::uint8_t subIndex)
{
    for (const eds::Entry& entry : device.entries) {
        if (entry.index == index && entry.subIndex == subIndex)
            return &entry;
    }
    return nullptr;
}

Bytes Le32(std::uint32_t value)
{
    return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
            static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
}

// What a plain reading of the file says the entries are: every [XXXX] or [XXXXsubN]
// header with the first ParameterName after it; an object with sub sections is not an
// entry itself. (The default files list every object they describe and use no
// CompactSubObj.)
std::map<std::pair<unsigned, unsigned>, std::string> EntriesByHeaders(const std::string& text)
{
    std::map<std::pair<unsigned, unsigned>, std::string> objects;
    std::map<std::pair<unsigned, unsigned>, std::string> subs;
    std::istringstream lines(text);
    std::string line;
    std::string* name = nullptr;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        unsigned index = 0;
        unsigned sub = 0;
        char close = 0;
        int used = 0;
        if (std::sscanf(line.c_str(), "[%4Xsub%X%c%n", &index, &sub, &close, &used) == 3 && close == ']') {
            name = &subs[{index, sub}];
        } else if (std::sscanf(line.c_str(), "[%4X%c%n", &index, &close, &used) == 2 && close == ']') {
            name = &objects[{index, 0}];
        } else if (line.rfind("[", 0) == 0) {
            name = nullptr;
        } else if (name != nullptr && line.rfind("ParameterName=", 0) == 0) {
            *name = line.substr(std::strlen("ParameterName="));
            name = nullptr;
        }
    }
    for (const auto& [key, objectName] : objects) {
        bool hasSubs = false;
        for (const auto& entry : subs)
            hasSubs = hasSubs || entry.first.first == key.first;
        if (!hasSubs)
            subs[key] = objectName;
    }
    return subs;
}

TEST(EdsFiles, DefaultNetworkFilesAreReadCompletely)
{
    struct Expected {
        const char* file;
        std::uint8_t nodeId;
        std::size_t entries;
        const char* productName;
        std::uint32_t productNumber;
        std::uint32_t deviceType;
    };
    const Expected files[] = {
        {"io_module.eds", 3, 146, "SimIO 8DI 8DO 2AI 2AO I/O module", 0x401, 0x000F0191},
        {"drive.eds", 5, 0, "SimDrive 402 positioning drive", 0x402, 0x00020192},
    };
    for (const Expected& expected : files) {
        SCOPED_TRACE(expected.file);
        const std::string text = ReadFile(std::string(EDS_DEFAULT_NETWORK) + "/" + expected.file);
        eds::Device device;
        std::string error;
        ASSERT_TRUE(eds::ReadDevice(text, expected.nodeId, device, error)) << error;
        if (expected.entries != 0)
            EXPECT_EQ(device.entries.size(), expected.entries);

        const auto headers = EntriesByHeaders(text);
        ASSERT_EQ(device.entries.size(), headers.size());
        for (const eds::Entry& entry : device.entries) {
            const auto found = headers.find({entry.index, entry.subIndex});
            ASSERT_NE(found, headers.end()) << std::hex << entry.index << "sub" << int{entry.subIndex};
            EXPECT_EQ(entry.name, found->second) << std::hex << entry.index << "sub" << int{entry.subIndex};
            EXPECT_NE(eds::DataTypeName(entry.dataType), nullptr) << std::hex << entry.index;
            EXPECT_TRUE(entry.hasDefault) << std::hex << entry.index;
        }
        for (std::size_t i = 1; i < device.entries.size(); ++i) {
            const eds::Entry& a = device.entries[i - 1];
            const eds::Entry& b = device.entries[i];
            EXPECT_TRUE(a.index < b.index || (a.index == b.index && a.subIndex < b.subIndex)) << i;
        }

        EXPECT_EQ(device.info.vendorName, "Velomar");
        EXPECT_EQ(device.info.productName, expected.productName);
        EXPECT_TRUE(device.info.hasVendorNumber && device.info.hasProductNumber && device.info.hasRevisionNumber);
        EXPECT_EQ(device.info.vendorNumber, 0xF0Au);
        EXPECT_EQ(device.info.productNumber, expected.productNumber);
        EXPECT_EQ(device.info.revisionNumber, 0x10000u);
        ASSERT_TRUE(device.hasDeviceType);
        EXPECT_EQ(device.deviceType, expected.deviceType);
        // The identity object says the same as [DeviceInfo].
        const eds::Entry* vendor = Find(device, 0x1018, 1);
        const eds::Entry* product = Find(device, 0x1018, 2);
        ASSERT_TRUE(vendor != nullptr && product != nullptr);
        EXPECT_EQ(vendor->defaultValue, Le32(0xF0A));
        EXPECT_EQ(product->defaultValue, Le32(expected.productNumber));
        // The node's own PDO identifiers.
        const eds::Entry* tpdo1 = Find(device, 0x1800, 1);
        ASSERT_NE(tpdo1, nullptr);
        EXPECT_EQ(tpdo1->defaultValue, Le32(0x180u + expected.nodeId));
        EXPECT_EQ(tpdo1->defaultText, "$NODEID+0x180");
    }
}

// What the simulated bus and the window take from the I/O module beyond names.
TEST(EdsFiles, IoModuleTypesAccessAndOwnKeys)
{
    const std::string text = ReadFile(std::string(EDS_DEFAULT_NETWORK) + "/io_module.eds");
    eds::Device device;
    std::string error;
    ASSERT_TRUE(eds::ReadDevice(text, 3, device, error)) << error;
    const eds::Entry* output = Find(device, 0x6411, 1);
    ASSERT_NE(output, nullptr);
    EXPECT_EQ(output->objectName, "Write analog output 16-bit");
    EXPECT_EQ(output->objectType, 0x8);
    EXPECT_EQ(output->dataType, eds::kTypeInteger16);
    EXPECT_EQ(output->access, Access::ReadWriteOutput);
    EXPECT_TRUE(output->pdoMappable);
    const eds::Entry* light = Find(device, 0x6000, 1);
    ASSERT_NE(light, nullptr);
    ASSERT_EQ(light->otherKeys.size(), 1u);  // the simulated bus's own key
    EXPECT_EQ(light->otherKeys[0].name, "SimRunningLight");
    EXPECT_EQ(light->otherKeys[0].value, "250");
}

TEST(EdsFiles, ValveTerminalWithCompactArraysAndMissingKeys)
{
    const std::string text = ReadFile(std::string(EDS_TEST_FILES) + "/valve_terminal.eds");
    ASSERT_EQ(text.find('\r'), std::string::npos);  // the Unix line ends are the point
    eds::Device device;
    std::string error;
    ASSERT_TRUE(eds::ReadDevice(text, 0x21, device, error)) << error;

    EXPECT_EQ(device.info.vendorName, "Hydral Test Devices");
    EXPECT_EQ(device.info.vendorNumber, 70000u);   // decimal
    EXPECT_EQ(device.info.productNumber, 0xA10u);  // hex
    EXPECT_EQ(device.info.revisionNumber, 0203u);  // octal
    EXPECT_EQ(device.deviceType, 0x000C0191u);

    struct Expected {
        std::uint16_t index;
        std::uint8_t subIndex;
        const char* name;
        std::uint16_t dataType;
        Access access;
        bool mappable;
        bool hasDefault;
        Bytes value;
    };
    const Expected expected[] = {
        // 0x0005 is a DEFTYPE: no entry.
        {0x1000, 0, "Device type", eds::kTypeUnsigned32, Access::ReadOnly, false, true, Le32(0x000C0191)},
        {0x1001, 0, "Error register", eds::kTypeUnsigned8, Access::ReadOnly, true, false, {}},
        {0x1003, 0, "NrOfEntries", eds::kTypeUnsigned8, Access::ReadOnly, false, true, {4}},
        {0x1003, 1, "Pre-defined error field1", eds::kTypeUnsigned32, Access::ReadOnly, false, false, {}},
        {0x1003, 2, "Pre-defined error field2", eds::kTypeUnsigned32, Access::ReadOnly, false, false, {}},
        {0x1003, 3, "Pre-defined error field3", eds::kTypeUnsigned32, Access::ReadOnly, false, false, {}},
        {0x1003, 4, "Pre-defined error field4", eds::kTypeUnsigned32, Access::ReadOnly, false, false, {}},
        {0x1005, 0, "COB-ID SYNC", eds::kTypeUnsigned32, Access::ReadWrite, false, true, Le32(0x80)},
        {0x1008, 0, "Manufacturer device name", eds::kTypeVisibleString, Access::Const, false, true,
         Bytes{'V', 'T', '-', '1', '6', ';', ' ', '1', '6', ' ', 'v', 'a', 'l', 'v', 'e', 's'}},
        {0x1017, 0, "", eds::kTypeUnsigned16, Access::ReadWrite, false, false, {}},  // no name, mapping, default
        {0x1018, 0, "Number of entries", eds::kTypeUnsigned8, Access::ReadOnly, false, true, {3}},
        {0x1018, 1, "Vendor-ID", eds::kTypeUnsigned32, Access::ReadOnly, false, true, Le32(70000)},
        {0x1018, 2, "Product code", eds::kTypeUnsigned32, Access::ReadOnly, false, true, Le32(0xA10)},
        {0x1018, 3, "Revision number", eds::kTypeUnsigned32, Access::ReadOnly, false, true, Le32(0203)},
        {0x1400, 0, "Highest sub-index supported", eds::kTypeUnsigned8, Access::ReadOnly, false, true, {2}},
        {0x1400, 1, "COB-ID used by RPDO", eds::kTypeUnsigned32, Access::ReadWrite, false, true, Le32(0x221)},
        {0x1400, 2, "Transmission type", eds::kTypeUnsigned8, Access::ReadWrite, false, true, {0xFF}},
        {0x1800, 0, "Highest sub-index supported", eds::kTypeUnsigned8, Access::ReadOnly, false, true, {5}},
        {0x1800, 1, "COB-ID used by TPDO", eds::kTypeUnsigned32, Access::ReadWrite, false, true, Le32(0x1A1)},
        {0x1800, 2, "Transmission type", eds::kTypeUnsigned8, Access::ReadWrite, false, true, {254}},
        {0x1800, 5, "Event timer", eds::kTypeUnsigned16, Access::ReadWrite, false, true, {0, 0}},
        {0x2000, 0, "Valve switching time", eds::kTypeInteger32, Access::ReadWrite, true, true, Le32(0xFFFFFF06)},
        {0x2001, 0, "Supply pressure", eds::kTypeReal32, Access::ReadOnly, true, true, {0x00, 0x00, 0xC8, 0x40}},
        {0x2100, 0, "Diagnostic block", 0x0040, Access::ReadOnly, false, false, {}},  // a type of its own
        {0x2200, 0, "Parameter set", eds::kTypeDomain, Access::WriteOnly, false, false, {}},
        {0x6000, 0, "NrOfEntries", eds::kTypeUnsigned8, Access::ReadOnly, false, true, {2}},
        {0x6000, 1, "Read input 8-bit1", eds::kTypeUnsigned8, Access::ReadOnly, true, true, {0}},
        {0x6000, 2, "Inputs 9-16", eds::kTypeUnsigned8, Access::ReadOnly, true, true, {0}},
        {0x6300, 0, "NrOfEntries", eds::kTypeUnsigned8, Access::ReadOnly, false, true, {3}},
        {0x6300, 1, "Valves 1-12", eds::kTypeUnsigned16, Access::ReadWriteOutput, true, true, {0x0F, 0x0F}},
        {0x6300, 2, "Valves 13-16", eds::kTypeUnsigned16, Access::ReadWriteOutput, true, true, {0x00, 0x00}},
        {0x6300, 3, "Spare", eds::kTypeUnsigned16, Access::ReadWriteOutput, true, true, {0x03, 0x00}},
    };
    ASSERT_EQ(device.entries.size(), std::size(expected));
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        const eds::Entry& entry = device.entries[i];
        const Expected& e = expected[i];
        SCOPED_TRACE(testing::Message() << std::hex << e.index << "sub" << int{e.subIndex});
        EXPECT_EQ(entry.index, e.index);
        EXPECT_EQ(entry.subIndex, e.subIndex);
        EXPECT_EQ(entry.name, e.name);
        EXPECT_EQ(entry.dataType, e.dataType);
        EXPECT_EQ(entry.access, e.access);
        EXPECT_EQ(entry.pdoMappable, e.mappable);
        EXPECT_EQ(entry.hasDefault, e.hasDefault);
        EXPECT_EQ(entry.defaultValue, e.value);
    }

    // Compact subs share the object's limits; the limits order the values.
    const eds::Entry* valves = Find(device, 0x6300, 2);
    ASSERT_NE(valves, nullptr);
    EXPECT_EQ(valves->objectName, "Write valves");
    EXPECT_EQ(valves->highLimit, (Bytes{0xFF, 0x0F}));
    const std::uint8_t tooHigh[] = {0x00, 0x10};
    EXPECT_EQ(eds::CompareWithLimits(*valves, tooHigh, 2), 1);
    const eds::Entry* unknown = Find(device, 0x2100, 0);
    ASSERT_NE(unknown, nullptr);
    EXPECT_EQ(unknown->defaultText, "0");
}

TEST(EdsFiles, WindowsLineEndsAndByteOrderMark)
{
    const std::string text = ReadFile(std::string(EDS_TEST_FILES) + "/encoder_crlf.eds");
    ASSERT_EQ(text.substr(0, 3), "\xEF\xBB\xBF");
    ASSERT_NE(text.find("\r\n"), std::string::npos);
    eds::Device device;
    std::string error;
    ASSERT_TRUE(eds::ReadDevice(text, 7, device, error)) << error;
    // The first section counts although the mark stands before it; no value keeps a CR.
    EXPECT_EQ(device.info.vendorName, "Bergmann Sensorik");
    EXPECT_EQ(device.info.vendorNumber, 0x12Cu);
    EXPECT_EQ(device.info.productNumber, 0x00240001u);
    EXPECT_EQ(device.deviceType, 0x00020196u);
    ASSERT_EQ(device.entries.size(), 10u);
    for (const eds::Entry& entry : device.entries) {
        EXPECT_EQ(entry.name.find('\r'), std::string::npos) << entry.name;
        EXPECT_EQ(entry.defaultText.find('\r'), std::string::npos) << entry.defaultText;
    }
    const eds::Entry* name = Find(device, 0x1008, 0);
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(name->access, Access::Const);
    EXPECT_EQ(std::string(name->defaultValue.begin(), name->defaultValue.end()),
              "AE-24 Drehgeber \xC3\xA4\xC3\xB6\xC3\xBC");
    // Section names in any case.
    const eds::Entry* mapped = Find(device, 0x1A00, 1);
    ASSERT_NE(mapped, nullptr);
    EXPECT_EQ(mapped->defaultValue, Le32(0x60040020));
    // 24-bit types: three bytes, signed and unsigned limits.
    const eds::Entry* position = Find(device, 0x6004, 0);
    ASSERT_NE(position, nullptr);
    EXPECT_EQ(position->access, Access::ReadWriteInput);
    EXPECT_EQ(position->defaultValue, (Bytes{0xFF, 0xFF, 0xFF}));
    EXPECT_TRUE(position->lowLimit.empty());
    const eds::Entry* offset = Find(device, 0x2010, 0);
    ASSERT_NE(offset, nullptr);
    EXPECT_EQ(offset->defaultValue, (Bytes{0x00, 0x00, 0x80}));
    const std::uint8_t lowest[] = {0x00, 0x00, 0x80};
    const std::uint8_t highest[] = {0xFF, 0xFF, 0x7F};
    EXPECT_EQ(eds::CompareWithLimits(*offset, lowest, 3), 0);
    EXPECT_EQ(eds::CompareWithLimits(*offset, highest, 3), 0);
}

TEST(EdsFiles, DeviceConfigurationTakesTheParameterValue)
{
    const std::string text = ReadFile(std::string(EDS_TEST_FILES) + "/valve_node12.dcf");
    eds::Device device;
    std::string error;
    ASSERT_TRUE(eds::ReadDevice(text, 12, device, error)) << error;
    struct Expected {
        std::uint16_t index;
        std::uint8_t subIndex;
        bool fromParameterValue;
        const char* text;
        Bytes value;
    };
    const Expected expected[] = {
        {0x1001, 0, false, "0", {0}},
        {0x1017, 0, true, "500", {0xF4, 0x01}},
        {0x1800, 0, false, "5", {5}},
        {0x1800, 1, true, "0x000001A0", Le32(0x1A0)},  // not $NODEID+0x180 = 0x18C
        {0x6300, 1, true, "0x0101", {0x01, 0x01}},     // the object's ParameterValue
        {0x6300, 2, true, "0x0202", {0x02, 0x02}},     // [6300Value]: a DCF's configured values
    };
    for (const Expected& e : expected) {
        const eds::Entry* entry = Find(device, e.index, e.subIndex);
        ASSERT_NE(entry, nullptr) << std::hex << e.index << "sub" << int{e.subIndex};
        EXPECT_EQ(entry->fromParameterValue, e.fromParameterValue) << std::hex << e.index;
        EXPECT_EQ(entry->defaultText, e.text) << std::hex << e.index;
        EXPECT_EQ(entry->defaultValue, e.value) << std::hex << e.index;
    }
    const eds::Entry* heartbeat = Find(device, 0x1017, 0);
    ASSERT_NE(heartbeat, nullptr);
    ASSERT_EQ(heartbeat->otherKeys.size(), 1u);
    EXPECT_EQ(heartbeat->otherKeys[0].value, "Heartbeat to the line controller");
}

}  // namespace
