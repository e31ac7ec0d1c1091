// The DCF writer: every file it writes reads back through our own reader to the same
// entries, with the values given as configured values; what a file cannot hold is left
// out with a note; the source's keys, $NODEID and line ends stay.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "dcf_writer.h"
#include "eds_reader.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

std::string ReadFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    EXPECT_TRUE(file.good()) << path;
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// A value of the entry's type that differs from its default, so the round trip shows the
// value written and not the default read back.
Bytes OtherValue(const eds::Entry& entry, std::size_t salt)
{
    const std::uint32_t size = eds::DataTypeSize(entry.dataType);
    if (eds::IsStringType(entry.dataType))
        return Bytes{'V', 'a', 'l', ';', '=', static_cast<std::uint8_t>('0' + salt % 10)};
    if (size == eds::kVariableSize)
        return Bytes{0x00, 0xA5, static_cast<std::uint8_t>(salt)};
    if (entry.dataType == eds::kTypeBoolean)
        return Bytes{static_cast<std::uint8_t>(entry.hasDefault && entry.defaultValue == Bytes{1} ? 0 : 1)};
    if (eds::IsRealType(entry.dataType)) {
        Bytes bytes(size);
        if (size == 4) {
            const float value = -1.0f / 3.0f + static_cast<float>(salt);
            std::memcpy(bytes.data(), &value, 4);
        } else {
            const double value = 2.0 / 3.0 + static_cast<double>(salt);
            std::memcpy(bytes.data(), &value, 8);
        }
        return bytes;
    }
    Bytes bytes(size, 0);
    for (std::uint32_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>(0x81 + salt + i);  // negative for a signed type
    return bytes;
}

struct Written {
    std::string text;
    eds::DcfReport report;
    eds::Device back;
};

Written WriteWith(const std::string& source, const eds::Device& device, const std::vector<Bytes>& values,
                  std::uint8_t nodeId)
{
    std::vector<const Bytes*> pointers;
    for (const Bytes& value : values)
        pointers.push_back(&value);
    eds::Commissioning commissioning;
    commissioning.nodeId = nodeId;
    commissioning.baudrateKbit = 500;
    commissioning.nodeName = "Unit 7";
    commissioning.fileName = "unit7.dcf";
    commissioning.edsName = "device.eds";
    Written written;
    std::string error;
    EXPECT_TRUE(eds::WriteDcf(source, device, pointers, commissioning, written.text, written.report, error)) << error;
    EXPECT_TRUE(eds::ReadDevice(written.text, nodeId, written.back, error)) << error << "\n" << written.text;
    return written;
}

class RoundTrip : public ::testing::TestWithParam<const char*> {};

TEST_P(RoundTrip, EveryValueReadsBackAsAConfiguredValueOfTheSameEntry)
{
    const std::string path = GetParam();
    const std::string source = ReadFile(path);
    constexpr std::uint8_t kNode = 12;
    eds::Device device;
    std::string error;
    ASSERT_TRUE(eds::ReadDevice(source, kNode, device, error)) << error;
    std::vector<Bytes> values;
    for (std::size_t i = 0; i < device.entries.size(); ++i)
        values.push_back(OtherValue(device.entries[i], i));

    const Written written = WriteWith(source, device, values, kNode);
    ASSERT_EQ(written.back.entries.size(), device.entries.size());
    std::size_t domains = 0;
    std::size_t counts = 0;  // sub 0 of a CompactSubObj object: the number the file gives
    for (std::size_t i = 0; i < device.entries.size(); ++i) {
        const eds::Entry& before = device.entries[i];
        const eds::Entry& after = written.back.entries[i];
        SCOPED_TRACE(testing::Message() << std::hex << before.index << "sub" << int{before.subIndex});
        EXPECT_EQ(after.index, before.index);
        EXPECT_EQ(after.subIndex, before.subIndex);
        EXPECT_EQ(after.name, before.name);
        EXPECT_EQ(after.dataType, before.dataType);
        EXPECT_EQ(after.access, before.access);
        // DOMAINs and types the reader does not know cannot be written in a file.
        if (before.dataType == eds::kTypeDomain || eds::DataTypeSize(before.dataType) == 0) {
            ++domains;
            continue;
        }
        if (before.subIndex == 0 && before.name == "NrOfEntries" && before.objectType != 0x7) {
            ++counts;
            EXPECT_EQ(after.defaultValue, before.defaultValue);
            continue;
        }
        EXPECT_TRUE(after.fromParameterValue);
        EXPECT_EQ(after.defaultValue, values[i]);
    }
    EXPECT_EQ(written.report.notRepresentable.size(), domains);
    EXPECT_EQ(written.report.values + domains + counts, device.entries.size());
    EXPECT_EQ(written.back.info.productName, device.info.productName);
}

INSTANTIATE_TEST_SUITE_P(Files, RoundTrip,
                         ::testing::Values(EDS_DEFAULT_NETWORK "/io_module.eds", EDS_DEFAULT_NETWORK "/drive.eds",
                                           EDS_TEST_FILES "/valve_terminal.eds", EDS_TEST_FILES "/valve_node12.dcf",
                                           EDS_TEST_FILES "/encoder_crlf.eds"));

// A file of our own with the cases the writer must take care of.
constexpr char kSource[] =
    "[FileInfo]\r\nFileName=device.eds\r\nCreatedBy=Test\r\n\r\n"
    "[DeviceInfo]\r\nProductName=Unit\r\n\r\n"
    "[MandatoryObjects]\r\nSupportedObjects=1\r\n1=0x1000\r\n\r\n"
    "[OptionalObjects]\r\nSupportedObjects=4\r\n1=0x1400\r\n2=0x2000\r\n3=0x2001\r\n4=0x2002\r\n\r\n"
    "[1000]\r\nParameterName=Device "
    "type\r\nObjectType=0x7\r\nDataType=0x0007\r\nAccessType=ro\r\nDefaultValue=0x191\r\n"
    "\r\n"
    "[1400]\r\nParameterName=RPDO1\r\nObjectType=0x9\r\nSubNumber=2\r\n\r\n"
    "[1400sub0]\r\nParameterName=Count\r\nObjectType=0x7\r\nDataType=0x0005\r\nAccessType=const\r\nDefaultValue=1\r\n"
    "\r\n"
    "[1400sub1]\r\nParameterName=COB-ID\r\nObjectType=0x7\r\nDataType=0x0007\r\nAccessType=rw\r\n"
    "DefaultValue=$NODEID+0x200\r\n; a comment that stays at the section's end\r\n\r\n"
    "[2000]\r\nParameterName=Gains\r\nObjectType=0x8\r\nDataType=0x0006\r\nAccessType=rw\r\nCompactSubObj=3\r\n"
    "DefaultValue=7\r\n\r\n"
    "[2000Name]\r\nNrOfEntries=1\r\n2=Middle gain\r\n\r\n"
    "[2001]\r\nParameterName=Label\r\nObjectType=0x7\r\nDataType=0x0009\r\nAccessType=rw\r\nDefaultValue=none\r\n"
    "ParameterValue=old\r\n\r\n"
    "[2002]\r\nParameterName=Program\r\nObjectType=0x2\r\n\r\n"
    "[DeviceComissioning]\r\nNodeID=99\r\nBaudrate=10\r\n";

TEST(DcfWriter, KeepsTheSourcesKeysExpressionsAndLineEndsAndNotesWhatAFileCannotHold)
{
    constexpr std::uint8_t kNode = 5;
    eds::Device device;
    std::string error;
    ASSERT_TRUE(eds::ReadDevice(kSource, kNode, device, error)) << error;
    ASSERT_EQ(device.entries.size(), 9u);  // 1000, 1400 0-1, 2000 0-3, 2001, 2002
    std::vector<Bytes> values = {
        {0x91, 0x01, 0, 0},     // 1000
        {1},                    // 1400sub0
        {0x05, 0x02, 0, 0},     // 1400sub1: $NODEID+0x200 for node 5
        {3},                    // 2000sub0
        {0x34, 0x12},           // 2000sub1
        {0x07, 0x00},           // 2000sub2
        {0xFF, 0xFF},           // 2000sub3
        {'a', ' ', 'b', '\n'},  // 2001: a line end cannot stand in a file
        {0xDE, 0xAD},           // 2002: DOMAIN
    };
    const Written written = WriteWith(kSource, device, values, kNode);
    const std::string& text = written.text;

    EXPECT_EQ(text.find("\n\n"), std::string::npos) << "no LF-only line end in a CR LF file:\n" << text;
    EXPECT_NE(text.find("CreatedBy=Test\r\nFileName=unit7.dcf\r\nLastEDS=device.eds\r\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("FileName=device.eds"), std::string::npos);
    EXPECT_NE(text.find("DefaultValue=$NODEID+0x200\r\nParameterValue=$NODEID+0x200\r\n"
                        "; a comment that stays at the section's end\r\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("[2000Value]\r\nNrOfEntries=3\r\n1=0x1234\r\n2=0x0007\r\n3=0xFFFF\r\n"), std::string::npos)
        << text;
    EXPECT_NE(text.find("ParameterValue=old\r\n; ParameterValue not saved"), std::string::npos)
        << "the file's own value stays where the device's cannot be written\n"
        << text;
    EXPECT_NE(text.find("; ParameterValue not saved: DOMAIN"), std::string::npos);
    EXPECT_EQ(text.find("NodeID=99"), std::string::npos) << "the old commissioning is replaced";
    EXPECT_NE(text.find("[DeviceComissioning]\r\nNodeID=5\r\nNodeName=Unit 7\r\nBaudrate=500\r\n"), std::string::npos);
    EXPECT_EQ(written.report.notRepresentable, (std::vector<std::size_t>{7, 8}));

    // Read for another node, the expression gives that node's COB-ID.
    eds::Device other;
    ASSERT_TRUE(eds::ReadDevice(text, 9, other, error)) << error;
    EXPECT_EQ(other.entries[2].defaultValue, (Bytes{0x09, 0x02, 0, 0}));
    EXPECT_TRUE(other.entries[5].fromParameterValue) << "[XXXXValue] of a DCF holds configured values";
    EXPECT_EQ(other.entries[7].defaultValue, (Bytes{'o', 'l', 'd'}));
}

TEST(DcfWriter, EntriesWithoutAValueKeepTheirSectionsAsTheyWere)
{
    eds::Device device;
    std::string error;
    ASSERT_TRUE(eds::ReadDevice(kSource, 5, device, error)) << error;
    std::vector<const Bytes*> none(device.entries.size(), nullptr);
    std::string text;
    eds::DcfReport report;
    ASSERT_TRUE(eds::WriteDcf(kSource, device, none, eds::Commissioning{}, text, report, error));
    EXPECT_EQ(report.values, 0u);
    const std::string source(kSource);
    const std::string kept = source.substr(0, source.find("[DeviceComissioning]"));
    EXPECT_EQ(text.substr(0, kept.size()), kept) << "with nothing to add, every line up to the commissioning stays";
    EXPECT_EQ(text.find("[2000Value]"), std::string::npos) << "no values of a CompactSubObj object, no section";

    std::vector<const Bytes*> tooFew(2, nullptr);
    EXPECT_FALSE(eds::WriteDcf(kSource, device, tooFew, eds::Commissioning{}, text, report, error));
}

TEST(DcfWriter, ValueTextsReadBackToTheSameBits)
{
    const auto text = [](std::uint16_t type, Bytes bytes) {
        eds::Entry entry;
        entry.dataType = type;
        std::string out;
        return eds::ValueText(entry, bytes.data(), bytes.size(), out) ? out : std::string("(none)");
    };
    EXPECT_EQ(text(eds::kTypeUnsigned24, {0x01, 0x00, 0x80}), "0x800001");
    EXPECT_EQ(text(eds::kTypeInteger16, {0xFE, 0xFF}), "-2");
    EXPECT_EQ(text(eds::kTypeInteger8, {0x80}), "-128");
    EXPECT_EQ(text(eds::kTypeBoolean, {0x01}), "1");
    EXPECT_EQ(text(eds::kTypeOctetString, {0x00, 0x0A, 0xFF}), "000AFF");
    EXPECT_EQ(text(eds::kTypeVisibleString, {}), "");
    EXPECT_EQ(text(eds::kTypeVisibleString, {' ', 'x'}), "(none)") << "the reader would trim the blank";
    EXPECT_EQ(text(eds::kTypeUnsigned32, {1, 2}), "(none)") << "a value of the wrong length";
    EXPECT_EQ(text(eds::kTypeReal32, {0x00, 0x00, 0xC0, 0x7F}), "(none)") << "NaN";
    for (const float value : {0.1f, -3.4028235e38f, 1.17549435e-38f, 16777217.0f}) {
        Bytes bytes(4);
        std::memcpy(bytes.data(), &value, 4);
        Bytes back;
        ASSERT_TRUE(eds::EncodeValue(text(eds::kTypeReal32, bytes), eds::kTypeReal32, 0, back));
        EXPECT_EQ(back, bytes) << value;
    }
}

}  // namespace
