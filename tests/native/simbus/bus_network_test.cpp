// The adapter behind the driver names (queues, results, controls) and the network of
// slaves (network file, bit rate).
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "sim_support.h"

namespace {

using simbus_test::Frame;
using simbus_test::SimBusTest;

using Adapter = SimBusTest;

const DriverMsg kReadDeviceType3 = Frame(0x603, {0x40, 0x00, 0x10, 0x00, 0, 0, 0, 0});

TEST_F(Adapter, ClosedAdapterReadsNothingAndRefusesWrites)
{
    EXPECT_EQ(simbus::AdapterClose(*world), 0u);
    EXPECT_EQ(simbus::AdapterClose(*world), 0u);  // closing twice is harmless
    EXPECT_EQ(world->counters.closes, 2u);
    DriverMsg msg{};
    EXPECT_EQ(simbus::AdapterRead(*world, &msg, now), kSimReceiveEmpty);
    const std::uint32_t written = Write(kReadDeviceType3);
    EXPECT_NE(written, 0u);
    EXPECT_EQ(written & kSimTransmitFull, 0u);
    EXPECT_NE(simbus::AdapterStatus(*world, now), 0u);
    EXPECT_EQ(simbus::ReadSent(*world, &msg), kSimReceiveEmpty);
    // The answer to a request made before the close is gone with the queue.
    ASSERT_EQ(simbus::AdapterInit(*world, 0x672F, 0, now), 0u);
    ASSERT_EQ(Write(kReadDeviceType3), 0u);
    simbus::AdapterClose(*world);
    ASSERT_EQ(simbus::AdapterInit(*world, 0x672F, 0, now), 0u);
    EXPECT_TRUE(ReadAll().empty());
}

TEST_F(Adapter, OpensAtTheNineBitRatesOnly)
{
    const std::map<std::uint16_t, std::uint32_t> rates = {
        {0x672F, 10},  {0x532F, 20},  {0x472F, 50},  {0x432F, 100},  {0x031C, 125},
        {0x011C, 250}, {0x001C, 500}, {0x0016, 800}, {0x0014, 1000},
    };
    for (const auto& [word, kbit] : rates) {
        EXPECT_EQ(simbus::AdapterInit(*world, word, 0, now), 0u) << std::hex << word;
        EXPECT_EQ(world->adapter.kbit, kbit);
        EXPECT_EQ(Exchange(kReadDeviceType3), "583 8: 43 00 10 00 91 01 0F 00") << std::hex << word;
    }
    for (const std::uint16_t word : std::initializer_list<std::uint16_t>{0x0000, 0x1234, 0x672E, 0xFFFF}) {
        simbus::AdapterClose(*world);
        EXPECT_NE(simbus::AdapterInit(*world, word, 0, now), 0u) << std::hex << word;
        EXPECT_NE(Write(kReadDeviceType3), 0u);
    }
    EXPECT_NE(simbus::AdapterInit(*world, 0x672F, 2, now), 0u);  // frame type
}

TEST_F(Adapter, ReceiveQueueOverflowLosesNewFramesAndReportsOnce)
{
    const std::uint32_t readsBefore = world->counters.reads;
    EXPECT_EQ(simbus::FloodPdo(*world, 3, simbus::kReceiveQueueSize + 10, now), 0u);
    EXPECT_EQ(simbus::AdapterStatus(*world, now), kSimReceiveOverrun);
    EXPECT_EQ(simbus::AdapterStatus(*world, now), 0u);
    EXPECT_EQ(Write(kReadDeviceType3), 0u);  // its answer is lost as well
    const std::vector<std::string> frames = ReadAll();
    ASSERT_EQ(frames.size(), simbus::kReceiveQueueSize);
    EXPECT_EQ(frames.front(), "183 2: 10 00");
    EXPECT_EQ(frames.back(), "183 2: 10 00");
    EXPECT_EQ(simbus::AdapterStatus(*world, now), kSimReceiveOverrun);
    EXPECT_EQ(world->counters.reads - readsBefore, simbus::kReceiveQueueSize);
}

TEST_F(Adapter, WriteControlsAndTheSentLog)
{
    ASSERT_EQ(simbus::SetNodeMode(*world, 3, kSimNodeNormal, 0), 0u);
    world->controls.writeFull = 2;
    EXPECT_EQ(Write(kReadDeviceType3), kSimTransmitFull);
    EXPECT_EQ(Write(kReadDeviceType3), kSimTransmitFull);
    EXPECT_EQ(Exchange(kReadDeviceType3), "583 8: 43 00 10 00 91 01 0F 00");
    world->controls.writeRefuse = 1;
    EXPECT_EQ(Write(kReadDeviceType3), kSimWriteRefused);
    EXPECT_EQ(Write(Frame(0x000, {0x01, 0x05})), 0u);
    world->controls.writeRefuse = kSimAlways;
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(Write(kReadDeviceType3), kSimWriteRefused);
    EXPECT_EQ(simbus::NodeState(*world, 5), kSimStateOperational);
    EXPECT_TRUE(ReadAll().empty());

    std::vector<std::string> sent;
    DriverMsg msg{};
    while (simbus::ReadSent(*world, &msg) == 0)
        sent.push_back(simbus_test::Text(msg));
    EXPECT_EQ(sent, (std::vector<std::string>{"603 8: 40 00 10 00 00 00 00 00", "000 2: 01 05"}));
    EXPECT_EQ(world->counters.writes, 2u);

    world->controls.writeRefuse = 0;
    DriverMsg tooLong = kReadDeviceType3;
    tooLong.length = 9;
    EXPECT_EQ(Write(tooLong), kSimIllegalParameter);
    EXPECT_EQ(simbus::AdapterWrite(*world, nullptr, now), kSimIllegalParameter);
}

TEST_F(Adapter, StatusAndInjectedMessages)
{
    world->controls.status = 0x0008;
    EXPECT_EQ(simbus::AdapterStatus(*world, now), 0x0008u);
    EXPECT_EQ(simbus::AdapterStatus(*world, now), 0x0008u);
    world->controls.status = 0;
    EXPECT_EQ(simbus::AdapterStatus(*world, now), 0u);
    EXPECT_EQ(simbus::InjectStatus(*world, 0x00010004), 0u);
    const DriverMsg injected = Frame(0x181, {1, 2, 3}, kMsgExtended);
    EXPECT_EQ(simbus::InjectFrame(*world, &injected), 0u);
    EXPECT_EQ(ReadAll(), (std::vector<std::string>{"000s 4: 04 00 01 00", "181 3: 01 02 03"}));
    // Extended frames never reach a CANopen slave.
    EXPECT_EQ(Exchange(Frame(0x603, {0x40, 0x00, 0x10, 0x00, 0, 0, 0, 0}, kMsgExtended)), "");
}

// Network files, with EDS texts from a table instead of files.
struct EdsTable {
    std::map<std::string, std::string> files;
};

bool ReadFromTable(const std::string& name, void* context, std::string& text)
{
    const auto& files = static_cast<EdsTable*>(context)->files;
    const auto found = files.find(name);
    if (found != files.end()) {
        text = found->second;
        return true;
    }
    return simbus_test::ReadEmbedded(name, nullptr, text);
}

TEST(NetworkFile, ReadsBitRateAndNodes)
{
    struct Case {
        const char* text;
        std::uint32_t kbit;
        std::vector<std::uint8_t> nodes;
        bool errors;
    };
    const Case cases[] = {
        {"[Network]\nBitRate=125\n[Nodes]\n3=io_module.eds\n5=drive.eds\n", 125, {3, 5}, false},
        {"[nodes]\n0x10=drive.eds\n", 0, {16}, false},
        {"[Network]\nBitRate=0\n[Nodes]\n127=a.eds\n", 0, {127}, false},
        {"[Network]\nBitRate=123\n[Nodes]\n1=a.eds\n", 0, {1}, true},
        {"[Network]\nBitRate=4294967421\n[Nodes]\n1=a.eds\n", 0, {1}, true},  // 2^32 + 125
        {"[Nodes]\n0=a.eds\n128=a.eds\nx=a.eds\n4=\n2=b.eds\n", 0, {2}, true},
        {"[Network]\nBitRate=500\n", 500, {}, true},
        {"[Network]\nUnsizedUploads=5, 0x7\n[Nodes]\n5=a.eds\n", 0, {5}, false},
        {"[Network]\nUnsizedUploads=5 128\n[Nodes]\n5=a.eds\n", 0, {5}, true},
        {"[Network]\nBitRate=125   ; kbit/s, a note\n[Nodes]\n5=a.eds ; the drive\n", 125, {5}, false},
    };
    for (const Case& c : cases) {
        std::string errors;
        const simbus::NetworkDescription network = simbus::ParseNetwork(c.text, errors);
        EXPECT_EQ(network.bitRateKbit, c.kbit) << c.text;
        std::vector<std::uint8_t> nodes;
        for (const simbus::NetworkNode& node : network.nodes)
            nodes.push_back(node.nodeId);
        EXPECT_EQ(nodes, c.nodes) << c.text;
        EXPECT_EQ(!errors.empty(), c.errors) << c.text << errors;
    }
    // Notes beside the values, as the examples write them; a ';' inside a name stays.
    std::string errors;
    const simbus::NetworkDescription commented = simbus::ParseNetwork(
        "[Network]\nUnsizedUploads=5 ;x\n[Nodes]\n5=a;b.eds\t; the drive\n[NonConfigured]\nx=c.eds, 7 ; spare\n",
        errors);
    EXPECT_EQ(errors, "");
    EXPECT_EQ(commented.unsizedUploads, std::vector<std::uint8_t>{5});
    ASSERT_EQ(commented.nodes.size(), 1u);
    EXPECT_EQ(commented.nodes[0].edsName, "a;b.eds");
    ASSERT_EQ(commented.nonConfigured.size(), 1u);
    EXPECT_EQ(commented.nonConfigured[0].edsName, "c.eds");
    EXPECT_EQ(commented.nonConfigured[0].serial, 7u);
}

TEST(NetworkFile, WrongBitRateSilencesEverySlave)
{
    auto world = std::make_unique<simbus::World>();
    EdsTable table;
    table.files["small.eds"] =
        "[MandatoryObjects]\n1=0x1000\n[1000]\nDataType=0x0007\nAccessType=ro\nDefaultValue=0x12345678\n";
    table.files["broken.eds"] = "[MandatoryObjects]\n1=0x1000\n";
    std::string errors;
    const simbus::NetworkDescription network = simbus::ParseNetwork(
        "[Network]\nBitRate=125\n[Nodes]\n7=drive.eds\n9=small.eds\n10=broken.eds\n11=missing.eds\n", errors);
    EXPECT_FALSE(simbus::BuildNetwork(*world, network, ReadFromTable, &table, errors));
    EXPECT_NE(errors.find("node 10: broken.eds"), std::string::npos) << errors;
    EXPECT_NE(errors.find("node 11: missing.eds not found"), std::string::npos) << errors;
    EXPECT_EQ(std::string(world->lastError), errors);

    const DriverMsg request = Frame(0x609, {0x40, 0x00, 0x10, 0x00, 0, 0, 0, 0});
    DriverMsg msg{};
    // 10 kbit/s: the slaves neither boot nor answer.
    ASSERT_EQ(simbus::AdapterInit(*world, 0x672F, 0, 0), 0u);
    EXPECT_EQ(simbus::AdapterWrite(*world, &request, 0), 0u);
    EXPECT_EQ(simbus::AdapterRead(*world, &msg, 0), kSimReceiveEmpty);
    EXPECT_EQ(simbus::FloodPdo(*world, 7, 3, 0), 0u);
    EXPECT_EQ(simbus::AdapterRead(*world, &msg, 0), kSimReceiveEmpty);
    simbus::AdapterClose(*world);
    // 125 kbit/s: boot-ups, then answers.
    ASSERT_EQ(simbus::AdapterInit(*world, 0x031C, 0, 0), 0u);
    std::vector<std::string> frames;
    EXPECT_EQ(simbus::AdapterWrite(*world, &request, 0), 0u);
    while (simbus::AdapterRead(*world, &msg, 0) == 0)
        frames.push_back(simbus_test::Text(msg));
    EXPECT_EQ(frames, (std::vector<std::string>{"707 1: 00", "709 1: 00", "589 8: 43 00 10 00 78 56 34 12"}));
    EXPECT_EQ(simbus::NodeState(*world, 10), kSimStateAbsent);
    EXPECT_EQ(simbus::NodeState(*world, 3), kSimStateAbsent);
}

TEST(NetworkFile, UnsizedUploadsAreSetPerNode)
{
    auto world = std::make_unique<simbus::World>();
    EdsTable table;
    std::string errors;
    const simbus::NetworkDescription network =
        simbus::ParseNetwork("[Network]\nUnsizedUploads=5 9\n[Nodes]\n3=io_module.eds\n5=drive.eds\n", errors);
    EXPECT_EQ(network.unsizedUploads, (std::vector<std::uint8_t>{5, 9}));
    EXPECT_FALSE(simbus::BuildNetwork(*world, network, ReadFromTable, &table, errors));
    EXPECT_NE(errors.find("node 9 is not on the network"), std::string::npos) << errors;
    EXPECT_EQ(world->nodes[5].mode, kSimNodeUnsizedUploads);
    EXPECT_EQ(world->nodes[3].mode, kSimNodeNormal);
}

}  // namespace
