// NMT states and boot-up, and PDOs of the virtual slaves: sent on remote request and
// received only while operational, mapped as the mapping objects say, remapped only by
// the CiA 301 procedure.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "object_dictionary.h"
#include "pdo.h"
#include "sim_support.h"

namespace {

using simbus_test::Frame;
using simbus_test::Remote;
using simbus_test::SimBusTest;

using NmtStates = SimBusTest;
using Pdos = SimBusTest;

const char kDeviceType3[] = "583 8: 43 00 10 00 91 01 0F 00";

std::vector<std::uint8_t> Value(simbus::World& world, std::uint8_t node, std::uint16_t index, std::uint8_t sub)
{
    const simbus::ObjectEntry* entry = simbus::FindEntry(world, node, index, sub);
    if (entry == nullptr)
        return {};
    const std::uint8_t* value = simbus::EntryValue(world, *entry);
    return std::vector<std::uint8_t>(value, value + entry->length);
}

TEST_F(NmtStates, BootUpAtTheFirstInitOnly)
{
    simbus::ResetSimulation(*world);
    std::string errors;
    ASSERT_TRUE(simbus::BuildNetwork(*world, simbus::DefaultNetwork(), simbus_test::ReadEmbedded, nullptr, errors));
    EXPECT_EQ(simbus::NodeState(*world, 3), kSimStatePreOperational);
    ASSERT_EQ(simbus::AdapterInit(*world, 0x011C, 0, now), 0u);
    EXPECT_EQ(ReadAll(), (std::vector<std::string>{"703 1: 00", "705 1: 00"}));
    simbus::AdapterClose(*world);
    ASSERT_EQ(simbus::AdapterInit(*world, 0x011C, 0, now), 0u);
    EXPECT_TRUE(ReadAll().empty());
}

TEST_F(NmtStates, StateTransitions)
{
    struct Step {
        std::uint8_t command;
        std::uint8_t node;
        std::uint32_t state3;
        std::uint32_t state5;
        const char* frames;  // what the slaves sent in reply
    };
    const Step steps[] = {
        {0x01, 3, kSimStateOperational, kSimStatePreOperational, ""},
        {0x02, 0, kSimStateStopped, kSimStateStopped, ""},
        {0x80, 5, kSimStateStopped, kSimStatePreOperational, ""},
        {0x01, 0, kSimStateOperational, kSimStateOperational, ""},
        {0x82, 3, kSimStatePreOperational, kSimStateOperational, "703 1: 00"},
        {0x81, 0, kSimStatePreOperational, kSimStatePreOperational, "703 1: 00|705 1: 00"},
        {0x02, 7, kSimStatePreOperational, kSimStatePreOperational, ""},  // another node
        {0x05, 3, kSimStatePreOperational, kSimStatePreOperational, ""},  // no such command
    };
    for (const Step& step : steps) {
        EXPECT_EQ(Nmt(step.command, step.node), step.frames) << int{step.command};
        EXPECT_EQ(simbus::NodeState(*world, 3), step.state3) << int{step.command};
        EXPECT_EQ(simbus::NodeState(*world, 5), step.state5) << int{step.command};
    }
    EXPECT_EQ(Exchange(Frame(0x000, {0x01, 3, 0})), "");  // NMT frames have two bytes
    EXPECT_EQ(simbus::NodeState(*world, 3), kSimStatePreOperational);
    EXPECT_EQ(simbus::NodeState(*world, 4), kSimStateAbsent);
}

TEST_F(NmtStates, StoppedSlaveAnswersNoSdo)
{
    Nmt(0x02, 3);
    EXPECT_EQ(Sdo(3, {0x40, 0x00, 0x10, 0x00}), "");
    Nmt(0x80, 3);
    EXPECT_EQ(Sdo(3, {0x40, 0x00, 0x10, 0x00}), kDeviceType3);
    Nmt(0x01, 3);
    EXPECT_EQ(Sdo(3, {0x40, 0x00, 0x10, 0x00}), kDeviceType3);
}

TEST_F(NmtStates, ResetsRestoreTheirArea)
{
    // Heartbeat time (communication area) and controlword (application area) changed.
    ASSERT_EQ(Sdo(5, {0x2B, 0x17, 0x10, 0x00, 0x10, 0x27}), "585 8: 60 17 10 00 00 00 00 00");
    ASSERT_EQ(Sdo(5, {0x2B, 0x40, 0x60, 0x00, 0x0F, 0x00}), "585 8: 60 40 60 00 00 00 00 00");
    EXPECT_EQ(Nmt(0x82, 5), "705 1: 00");
    EXPECT_EQ(Value(*world, 5, 0x1017, 0), (std::vector<std::uint8_t>{0, 0}));
    EXPECT_EQ(Value(*world, 5, 0x6040, 0), (std::vector<std::uint8_t>{0x0F, 0}));
    EXPECT_EQ(Nmt(0x81, 5), "705 1: 00");
    EXPECT_EQ(Value(*world, 5, 0x6040, 0), (std::vector<std::uint8_t>{0, 0}));
}

TEST_F(Pdos, OnlyWhileOperational)
{
    // At 1000 ms the running light is on bit 4 (250 ms a step), the ramp at 500.
    EXPECT_EQ(Exchange(Remote(0x183, 2)), "");
    EXPECT_EQ(Exchange(Frame(0x203, {0xA5})), "");
    EXPECT_EQ(Value(*world, 3, 0x6200, 1), std::vector<std::uint8_t>{0});
    Nmt(0x01, 3);
    EXPECT_EQ(Exchange(Remote(0x183, 2)), "183 2: 10 00");
    EXPECT_EQ(Exchange(Frame(0x203, {0xA5})), "");
    EXPECT_EQ(Exchange(Remote(0x183, 2)), "183 2: 10 A5");
    EXPECT_EQ(Exchange(Frame(0x303, {0x34, 0x12, 0x78, 0x56})), "");
    EXPECT_EQ(Exchange(Remote(0x283, 4)), "283 4: F4 01 34 12");
    EXPECT_EQ(Value(*world, 3, 0x6411, 2), (std::vector<std::uint8_t>{0x78, 0x56}));
    now += 250;
    EXPECT_EQ(Exchange(Remote(0x183, 2)), "183 2: 20 A5");
    Nmt(0x02, 3);
    EXPECT_EQ(Exchange(Remote(0x183, 2)), "");
    Nmt(0x80, 3);
    EXPECT_EQ(Exchange(Remote(0x183, 2)), "");
    EXPECT_EQ(Exchange(Frame(0x203, {0x5A})), "");
    EXPECT_EQ(Value(*world, 3, 0x6200, 1), std::vector<std::uint8_t>{0xA5});
}

TEST_F(Pdos, DriveLayoutAndShortFrames)
{
    Nmt(0x01, 0);
    EXPECT_EQ(Exchange(Frame(0x205, {0x0F, 0x00, 0x01})), "");
    EXPECT_EQ(Exchange(Remote(0x185, 6)), "185 6: 0F 00 E8 03 00 00");  // statusword, position 1000
    EXPECT_EQ(Value(*world, 5, 0x6060, 0), std::vector<std::uint8_t>{0x01});
    // Shorter than the mapping: not used. Longer: the mapped part is.
    EXPECT_EQ(Exchange(Frame(0x205, {0x06, 0x00})), "");
    EXPECT_EQ(Value(*world, 5, 0x6040, 0), (std::vector<std::uint8_t>{0x0F, 0x00}));
    EXPECT_EQ(Exchange(Frame(0x205, {0x07, 0x00, 0x03, 0xEE})), "");
    EXPECT_EQ(Value(*world, 5, 0x6040, 0), (std::vector<std::uint8_t>{0x07, 0x00}));
    // Node 3's PDO identifiers mean nothing to node 5; remote frames of other lengths
    // still get the PDO.
    EXPECT_EQ(Exchange(Remote(0x186, 6)), "");
    EXPECT_EQ(Exchange(Remote(0x185, 0)), "185 6: 07 00 E8 03 00 00");
}

TEST_F(Pdos, RemappingFollowsTheProcedure)
{
    struct Step {
        std::vector<std::uint8_t> request;
        const char* response;
    };
    // Node 3, TPDO1 (0x1800/0x1A00).
    const Step steps[] = {
        {{0x23, 0x00, 0x1A, 0x01, 0x08, 0x02, 0x00, 0x60}, "583 8: 80 00 1A 01 22 00 00 08"},  // PDO valid
        {{0x2F, 0x00, 0x1A, 0x00, 0x00}, "583 8: 80 00 1A 00 22 00 00 08"},                    // PDO valid
        {{0x23, 0x00, 0x1A, 0x01, 0x08, 0x01, 0x00, 0x60}, "583 8: 60 00 1A 01 00 00 00 00"},  // unchanged
        {{0x2F, 0x00, 0x1A, 0x00, 0x02}, "583 8: 60 00 1A 00 00 00 00 00"},                    // unchanged
        {{0x23, 0x00, 0x18, 0x01, 0x84, 0x01, 0x00, 0x00}, "583 8: 80 00 18 01 30 00 09 06"},  // new id while valid
        {{0x23, 0x00, 0x18, 0x01, 0x83, 0x01, 0x00, 0x20}, "583 8: 80 00 18 01 30 00 09 06"},  // 29-bit
        {{0x2F, 0x00, 0x18, 0x02, 0xF5}, "583 8: 80 00 18 02 30 00 09 06"},                    // reserved type
        {{0x2F, 0x00, 0x18, 0x02, 0xFC}, "583 8: 60 00 18 02 00 00 00 00"},                    // 252: on RTR
        {{0x23, 0x00, 0x18, 0x01, 0x83, 0x01, 0x00, 0x80}, "583 8: 60 00 18 01 00 00 00 00"},  // invalid
        {{0x23, 0x00, 0x1A, 0x01, 0x08, 0x02, 0x00, 0x60}, "583 8: 80 00 1A 01 00 00 01 06"},  // sub0 != 0
        {{0x2F, 0x00, 0x1A, 0x00, 0x00}, "583 8: 60 00 1A 00 00 00 00 00"},
        {{0x23, 0x00, 0x1A, 0x01, 0x08, 0x00, 0x00, 0x10}, "583 8: 80 00 1A 01 41 00 04 06"},  // 0x1000: not mappable
        {{0x23, 0x00, 0x1A, 0x01, 0x08, 0x00, 0x00, 0x50}, "583 8: 80 00 1A 01 00 00 02 06"},  // no object
        {{0x23, 0x00, 0x1A, 0x01, 0x10, 0x01, 0x00, 0x60}, "583 8: 80 00 1A 01 41 00 04 06"},  // 16 bits of U8
        {{0x23, 0x00, 0x1A, 0x01, 0x08, 0x01, 0x00, 0x62}, "583 8: 80 00 1A 01 41 00 04 06"},  // output in TPDO
        {{0x23, 0x00, 0x1A, 0x01, 0x10, 0x01, 0x01, 0x64}, "583 8: 60 00 1A 01 00 00 00 00"},
        {{0x23, 0x00, 0x1A, 0x02, 0x10, 0x01, 0x01, 0x64}, "583 8: 60 00 1A 02 00 00 00 00"},
        {{0x23, 0x00, 0x1A, 0x03, 0x10, 0x01, 0x01, 0x64}, "583 8: 60 00 1A 03 00 00 00 00"},
        {{0x23, 0x00, 0x1A, 0x04, 0x10, 0x01, 0x01, 0x64}, "583 8: 60 00 1A 04 00 00 00 00"},
        {{0x23, 0x00, 0x1A, 0x05, 0x10, 0x01, 0x01, 0x64}, "583 8: 60 00 1A 05 00 00 00 00"},
        {{0x2F, 0x00, 0x1A, 0x00, 0x05}, "583 8: 80 00 1A 00 42 00 04 06"},  // 80 bits
        {{0x2F, 0x00, 0x1A, 0x00, 0x09}, "583 8: 80 00 1A 00 42 00 04 06"},  // no sub 9
        {{0x2F, 0x00, 0x1A, 0x00, 0x41}, "583 8: 80 00 1A 00 31 00 09 06"},
        {{0x2F, 0x00, 0x1A, 0x00, 0x03}, "583 8: 60 00 1A 00 00 00 00 00"},                    // 48 bits
        {{0x23, 0x00, 0x18, 0x01, 0x83, 0x01, 0x00, 0x00}, "583 8: 60 00 18 01 00 00 00 00"},  // valid again
    };
    for (std::size_t i = 0; i < std::size(steps); ++i) {
        DriverMsg request = Frame(0x603, {});
        request.length = 8;
        std::copy(steps[i].request.begin(), steps[i].request.end(), request.data);
        EXPECT_EQ(Exchange(request), steps[i].response) << "step " << i;
    }
    Nmt(0x01, 3);
    EXPECT_EQ(Exchange(Remote(0x183, 6)), "183 6: F4 01 F4 01 F4 01");
    // An RTR-less PDO is not answered on a remote frame.
    Nmt(0x80, 3);
    ASSERT_EQ(Sdo(3, {0x23, 0x00, 0x18, 0x01, 0x83, 0x01, 0x00, 0xC0}), "583 8: 60 00 18 01 00 00 00 00");
    ASSERT_EQ(Sdo(3, {0x23, 0x00, 0x18, 0x01, 0x83, 0x01, 0x00, 0x40}), "583 8: 60 00 18 01 00 00 00 00");
    Nmt(0x01, 3);
    EXPECT_EQ(Exchange(Remote(0x183, 6)), "");
}

TEST_F(Pdos, AValidPdoKeepsItsMappingInEveryState)
{
    // Node 3, RPDO1 (0x1400/0x1600): valid with an empty mapping, the entries still wait
    // for the PDO to be made invalid.
    ASSERT_EQ(Sdo(3, {0x23, 0x00, 0x14, 0x01, 0x03, 0x02, 0x00, 0x80}), "583 8: 60 00 14 01 00 00 00 00");
    ASSERT_EQ(Sdo(3, {0x2F, 0x00, 0x16, 0x00, 0x00}), "583 8: 60 00 16 00 00 00 00 00");
    ASSERT_EQ(Sdo(3, {0x23, 0x00, 0x14, 0x01, 0x03, 0x02, 0x00, 0x00}), "583 8: 60 00 14 01 00 00 00 00");
    EXPECT_EQ(Sdo(3, {0x23, 0x00, 0x16, 0x01, 0x04, 0x01, 0x00, 0x62}), "583 8: 80 00 16 01 22 00 00 08");
    EXPECT_EQ(Sdo(3, {0x2F, 0x00, 0x16, 0x00, 0x01}), "583 8: 80 00 16 00 22 00 00 08");
    EXPECT_EQ(Value(*world, 3, 0x1600, 0), std::vector<std::uint8_t>{0});

    // Operational, the procedure works as before an NMT start, and the PDO is used at once.
    Nmt(0x01, 3);
    EXPECT_EQ(Sdo(3, {0x23, 0x00, 0x14, 0x01, 0x03, 0x02, 0x00, 0x80}), "583 8: 60 00 14 01 00 00 00 00");
    EXPECT_EQ(Sdo(3, {0x23, 0x00, 0x16, 0x01, 0x04, 0x01, 0x00, 0x62}), "583 8: 60 00 16 01 00 00 00 00");
    EXPECT_EQ(Sdo(3, {0x2F, 0x00, 0x16, 0x00, 0x01}), "583 8: 60 00 16 00 00 00 00 00");
    EXPECT_EQ(Sdo(3, {0x23, 0x00, 0x14, 0x01, 0x03, 0x02, 0x00, 0x00}), "583 8: 60 00 14 01 00 00 00 00");
    EXPECT_EQ(Sdo(3, {0x23, 0x00, 0x16, 0x01, 0x08, 0x01, 0x00, 0x62}), "583 8: 80 00 16 01 22 00 00 08");
    EXPECT_EQ(Exchange(Frame(0x203, {0x3C})), "");
    EXPECT_EQ(Value(*world, 3, 0x6200, 1), std::vector<std::uint8_t>{0x0C});  // four bits mapped
}

TEST(PdoBits, CopyBitsAtAnyOffset)
{
    struct Case {
        std::uint32_t sourceBit;
        std::uint32_t destinationBit;
        std::uint32_t count;
        std::uint64_t expected;  // destination, starting from all ones
    };
    const std::uint8_t source[8] = {0xA5, 0x0F, 0, 0, 0, 0, 0, 0};
    const Case cases[] = {
        {0, 0, 8, 0xFFFFFFFFFFFFFFA5ull},  {0, 4, 8, 0xFFFFFFFFFFFFFA5Full}, {4, 0, 8, 0xFFFFFFFFFFFFFFFAull},
        {0, 60, 4, 0x5FFFFFFFFFFFFFFFull}, {0, 0, 1, 0xFFFFFFFFFFFFFFFFull}, {1, 0, 1, 0xFFFFFFFFFFFFFFFEull},
        {0, 0, 0, 0xFFFFFFFFFFFFFFFFull},
    };
    for (const Case& c : cases) {
        std::uint8_t destination[8];
        std::memset(destination, 0xFF, sizeof destination);
        simbus::CopyBits(source, c.sourceBit, destination, c.destinationBit, c.count);
        std::uint64_t value = 0;
        for (int i = 7; i >= 0; --i)
            value = (value << 8) | destination[i];
        EXPECT_EQ(value, c.expected) << c.sourceBit << "/" << c.destinationBit << "/" << c.count;
    }
}

}  // namespace
