// Store parameters (0x1010) and restore default parameters (0x1011) of the virtual
// slaves: what the resets and the power cycle load afterwards, area by area.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "byte_order.h"
#include "network.h"
#include "object_dictionary.h"
#include "sim_support.h"

namespace {

using simbus_test::Frame;
using simbus_test::Remote;
using simbus_test::SimBusTest;

// 0x2000 of the drive as its EDS gives it.
const char kDefaultDescription[] =
    "SimDrive virtual positioning drive on the simulated CAN bus; this text is long enough to need a segmented SDO "
    "transfer.";

constexpr std::uint8_t kSave[] = {0x73, 0x61, 0x76, 0x65};
constexpr std::uint8_t kLoad[] = {0x6C, 0x6F, 0x61, 0x64};

std::uint32_t U32(simbus::World& world, std::uint8_t node, std::uint16_t index, std::uint8_t sub)
{
    const simbus::ObjectEntry* entry = simbus::FindEntry(world, node, index, sub);
    if (entry == nullptr || entry->length == 0 || entry->length > 4)
        return 0xDEADBEEFu;
    return static_cast<std::uint32_t>(LoadLeUnsigned(simbus::EntryValue(world, *entry), entry->length));
}

std::string Text(simbus::World& world, std::uint8_t node, std::uint16_t index, std::uint8_t sub)
{
    const simbus::ObjectEntry* entry = simbus::FindEntry(world, node, index, sub);
    if (entry == nullptr)
        return "<none>";
    const auto* value = reinterpret_cast<const char*>(simbus::EntryValue(world, *entry));
    return std::string(value, entry->length);
}

class StoreAndReset : public SimBusTest {
protected:
    // An expedited download of four bytes; the response as text.
    std::string Command(std::uint8_t node, std::uint16_t index, std::uint8_t sub, const std::uint8_t (&bytes)[4])
    {
        return Sdo(node, {0x23, static_cast<std::uint8_t>(index), static_cast<std::uint8_t>(index >> 8), sub, bytes[0],
                          bytes[1], bytes[2], bytes[3]});
    }

    std::string Done(std::uint16_t index, std::uint8_t sub)
    {
        char text[40];
        std::snprintf(text, sizeof text, "585 8: 60 %02X %02X %02X 00 00 00 00", index & 0xFF, index >> 8, sub);
        return text;
    }

    // Node 5 with a heartbeat time (communication area), a controlword and a description
    // (application area) that differ from the defaults.
    void Change(std::uint16_t heartbeat, std::uint16_t controlword, const std::string& description)
    {
        ASSERT_EQ(Sdo(5, {0x2B, 0x17, 0x10, 0x00, static_cast<std::uint8_t>(heartbeat),
                          static_cast<std::uint8_t>(heartbeat >> 8)}),
                  Done(0x1017, 0));
        ASSERT_EQ(Sdo(5, {0x2B, 0x40, 0x60, 0x00, static_cast<std::uint8_t>(controlword),
                          static_cast<std::uint8_t>(controlword >> 8)}),
                  Done(0x6040, 0));
        ASSERT_EQ(simbus::SetValueDirect(*world, 5, 0x2000, 0,
                                         reinterpret_cast<const std::uint8_t*>(description.data()),
                                         static_cast<std::uint32_t>(description.size())),
                  0u);
    }

    void Boot()
    {
        ASSERT_EQ(simbus::BootNode(*world, 5, now), kSimOk);
        ReadAll();  // the boot-up
    }
};

TEST_F(StoreAndReset, ReadsGiveWhatTheDeviceCanDo)
{
    for (const std::uint8_t node : {std::uint8_t{3}, std::uint8_t{5}}) {
        SCOPED_TRACE(int{node});
        const auto response = [node](const char* bytes) {
            char text[64];
            std::snprintf(text, sizeof text, "%03X 8: %s", 0x580u + node, bytes);
            return std::string(text);
        };
        EXPECT_EQ(Sdo(node, {0x40, 0x10, 0x10, 0x00}), response("4F 10 10 00 03 00 00 00"));
        EXPECT_EQ(Sdo(node, {0x40, 0x11, 0x10, 0x00}), response("4F 11 10 00 03 00 00 00"));
        for (std::uint8_t sub = 1; sub <= 3; ++sub) {
            // Stores and restores on command only, also after the command was given.
            ASSERT_EQ(Command(node, 0x1010, sub, kSave).substr(7, 2), "60");
            ASSERT_EQ(Command(node, 0x1011, sub, kLoad).substr(7, 2), "60");
            EXPECT_EQ(U32(*world, node, 0x1010, sub), 1u);
            EXPECT_EQ(U32(*world, node, 0x1011, sub), 1u);
        }
        EXPECT_EQ(Sdo(node, {0x40, 0x10, 0x10, 0x02}), response("43 10 10 02 01 00 00 00"));
        EXPECT_EQ(Sdo(node, {0x40, 0x11, 0x10, 0x03}), response("43 11 10 03 01 00 00 00"));
        EXPECT_EQ(Sdo(node, {0x2F, 0x10, 0x10, 0x00, 0x04}), response("80 10 10 00 02 00 01 06"));
        EXPECT_EQ(Sdo(node, {0x40, 0x10, 0x10, 0x04}), response("80 10 10 04 11 00 09 06"));
    }
}

TEST_F(StoreAndReset, WrongSignaturesAbortAndChangeNothing)
{
    const std::uint8_t saveBackwards[] = {0x65, 0x76, 0x61, 0x73};
    Change(0x2710, 0x000F, "changed");
    const auto abort = [](std::uint16_t index, std::uint8_t sub) {
        char text[40];
        std::snprintf(text, sizeof text, "585 8: 80 %02X 10 %02X 20 00 00 08", index & 0xFF, sub);
        return std::string(text);
    };
    for (std::uint8_t sub = 1; sub <= 3; ++sub) {
        EXPECT_EQ(Command(5, 0x1010, sub, saveBackwards), abort(0x1010, sub));
        EXPECT_EQ(Command(5, 0x1010, sub, kLoad), abort(0x1010, sub));
        EXPECT_EQ(Command(5, 0x1011, sub, kSave), abort(0x1011, sub));
    }
    // A two-byte signature is a length error before it is a command.
    EXPECT_EQ(Sdo(5, {0x2B, 0x10, 0x10, 0x01, 0x73, 0x61}), "585 8: 80 10 10 01 13 00 07 06");
    Boot();
    EXPECT_EQ(U32(*world, 5, 0x1017, 0), 0u) << "nothing was stored";
    EXPECT_EQ(U32(*world, 5, 0x6040, 0), 0u);

    // And a wrong restore keeps what was stored.
    Change(0x2710, 0x000F, "changed");
    ASSERT_EQ(Command(5, 0x1010, 1, kSave), Done(0x1010, 1));
    EXPECT_EQ(Command(5, 0x1011, 1, saveBackwards), "585 8: 80 11 10 01 20 00 00 08");
    Boot();
    EXPECT_EQ(U32(*world, 5, 0x1017, 0), 0x2710u);
    EXPECT_EQ(U32(*world, 5, 0x6040, 0), 0x000Fu);
}

TEST_F(StoreAndReset, APowerCycleLoadsTheStoredAreas)
{
    struct Case {
        std::uint8_t sub;
        bool communicationKept;
        bool applicationKept;
    };
    const Case cases[] = {{1, true, true}, {2, true, false}, {3, false, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(int{c.sub});
        now = 1000;
        SetUp();
        Change(0x2710, 0x000F, "stored text");
        ASSERT_EQ(Command(5, 0x1010, c.sub, kSave), Done(0x1010, c.sub));
        // Changes after the store are not kept.
        Change(0x1388, 0x0006, "changed after the store, and longer");
        Boot();
        EXPECT_EQ(U32(*world, 5, 0x1017, 0), c.communicationKept ? 0x2710u : 0u);
        EXPECT_EQ(U32(*world, 5, 0x6040, 0), c.applicationKept ? 0x000Fu : 0u);
        EXPECT_EQ(Text(*world, 5, 0x2000, 0), c.applicationKept ? "stored text" : kDefaultDescription);
        // What the device works out itself goes on as before: the statusword follows the
        // controlword, the position counts the milliseconds.
        now += 7;
        EXPECT_EQ(Sdo(5, {0x40, 0x41, 0x60, 0x00}),
                  c.applicationKept ? "585 8: 4B 41 60 00 0F 00 00 00" : "585 8: 4B 41 60 00 00 00 00 00");
        EXPECT_EQ(Sdo(5, {0x40, 0x64, 0x60, 0x00}), "585 8: 43 64 60 00 EF 03 00 00");
        // Again: the stored values stay for every later power cycle and NMT reset.
        Change(0x1388, 0x0006, "changed again");
        Boot();
        EXPECT_EQ(Nmt(0x81, 5), "705 1: 00");
        EXPECT_EQ(U32(*world, 5, 0x1017, 0), c.communicationKept ? 0x2710u : 0u);
        EXPECT_EQ(U32(*world, 5, 0x6040, 0), c.applicationKept ? 0x000Fu : 0u);
        // The other node stored nothing.
        EXPECT_EQ(U32(*world, 3, 0x1017, 0), 0u);
    }
}

TEST_F(StoreAndReset, RestoreBringsTheDefaultsAtTheNextReset)
{
    Change(0x2710, 0x000F, "stored text");
    ASSERT_EQ(Command(5, 0x1010, 1, kSave), Done(0x1010, 1));
    ASSERT_EQ(Command(5, 0x1011, 3, kLoad), Done(0x1011, 3));
    // Until the reset the values stay as they are.
    EXPECT_EQ(U32(*world, 5, 0x6040, 0), 0x000Fu);
    EXPECT_EQ(Text(*world, 5, 0x2000, 0), "stored text");
    EXPECT_EQ(Nmt(0x81, 5), "705 1: 00");
    EXPECT_EQ(U32(*world, 5, 0x1017, 0), 0x2710u) << "communication area still stored";
    EXPECT_EQ(U32(*world, 5, 0x6040, 0), 0u);
    EXPECT_EQ(Text(*world, 5, 0x2000, 0), kDefaultDescription);

    ASSERT_EQ(Command(5, 0x1011, 1, kLoad), Done(0x1011, 1));
    EXPECT_EQ(U32(*world, 5, 0x1017, 0), 0x2710u);
    Boot();
    EXPECT_EQ(U32(*world, 5, 0x1017, 0), 0u);

    // A store after a restore is kept again.
    Change(0x0BB8, 0x0007, "stored again");
    ASSERT_EQ(Command(5, 0x1011, 1, kLoad), Done(0x1011, 1));
    ASSERT_EQ(Command(5, 0x1010, 1, kSave), Done(0x1010, 1));
    Boot();
    EXPECT_EQ(U32(*world, 5, 0x1017, 0), 0x0BB8u);
    EXPECT_EQ(Text(*world, 5, 0x2000, 0), "stored again");
}

TEST_F(StoreAndReset, ResetCommunicationLoadsTheStoredCommunicationArea)
{
    Change(0x2710, 0x000F, "stored text");
    ASSERT_EQ(Command(5, 0x1010, 1, kSave), Done(0x1010, 1));
    Change(0x1388, 0x0006, "changed");
    EXPECT_EQ(Nmt(0x82, 5), "705 1: 00");
    EXPECT_EQ(U32(*world, 5, 0x1017, 0), 0x2710u);
    EXPECT_EQ(U32(*world, 5, 0x6040, 0), 0x0006u) << "reset communication leaves the application alone";

    // A restore of the application area waits for a reset that covers it.
    ASSERT_EQ(Command(5, 0x1011, 3, kLoad), Done(0x1011, 3));
    ASSERT_EQ(Command(5, 0x1011, 2, kLoad), Done(0x1011, 2));
    EXPECT_EQ(Nmt(0x82, 5), "705 1: 00");
    EXPECT_EQ(U32(*world, 5, 0x1017, 0), 0u);
    EXPECT_EQ(U32(*world, 5, 0x6040, 0), 0x0006u);
    EXPECT_EQ(Nmt(0x81, 5), "705 1: 00");
    EXPECT_EQ(U32(*world, 5, 0x6040, 0), 0u);
}

TEST_F(StoreAndReset, AStoredMappingBuildsTheTransmitPdoAfterAPowerCycle)
{
    // Node 3, TPDO1 remapped to the analog input 6401sub1 by the CiA 301 procedure.
    const std::vector<std::vector<std::uint8_t>> procedure = {
        {0x23, 0x00, 0x18, 0x01, 0x83, 0x01, 0x00, 0x80}, {0x2F, 0x00, 0x1A, 0x00, 0x00},
        {0x23, 0x00, 0x1A, 0x01, 0x10, 0x01, 0x01, 0x64}, {0x2F, 0x00, 0x1A, 0x00, 0x01},
        {0x23, 0x00, 0x18, 0x01, 0x83, 0x01, 0x00, 0x00},
    };
    for (const std::vector<std::uint8_t>& bytes : procedure) {
        DriverMsg request = Frame(0x603, {});
        request.length = 8;
        std::copy(bytes.begin(), bytes.end(), request.data);
        ASSERT_EQ(Exchange(request).substr(0, 9), "583 8: 60");
    }
    ASSERT_EQ(Sdo(3, {0x23, 0x10, 0x10, 0x02, 0x73, 0x61, 0x76, 0x65}), "583 8: 60 10 10 02 00 00 00 00");
    ASSERT_EQ(simbus::BootNode(*world, 3, now), kSimOk);
    EXPECT_EQ(ReadAll(), std::vector<std::string>{"703 1: 00"});
    EXPECT_EQ(U32(*world, 3, 0x1A00, 0), 1u);
    Nmt(0x01, 3);
    EXPECT_EQ(Exchange(Remote(0x183, 2)), "183 2: F4 01");  // the ramp at 500

    // Restored, the next power cycle brings the EDS's mapping back.
    ASSERT_EQ(Sdo(3, {0x23, 0x11, 0x10, 0x01, 0x6C, 0x6F, 0x61, 0x64}), "583 8: 60 11 10 01 00 00 00 00");
    EXPECT_EQ(Exchange(Remote(0x183, 2)), "183 2: F4 01");
    ASSERT_EQ(simbus::BootNode(*world, 3, now), kSimOk);
    ReadAll();
    Nmt(0x01, 3);
    EXPECT_EQ(Exchange(Remote(0x183, 2)), "183 2: 10 00");
}

TEST_F(StoreAndReset, ASimulationResetForgetsWhatWasStored)
{
    Change(0x2710, 0x000F, "stored text");
    ASSERT_EQ(Command(5, 0x1010, 1, kSave), Done(0x1010, 1));
    SetUp();  // what SimReset does: the network built afresh
    Boot();
    EXPECT_EQ(U32(*world, 5, 0x1017, 0), 0u);
    EXPECT_EQ(Text(*world, 5, 0x2000, 0), kDefaultDescription);
}

// Every entry keeps room for a stored copy: the largest networks of the default devices
// still fit the World.
TEST(StoreCapacity, FullNetworksOfTheDefaultDevicesFit)
{
    auto world = std::make_unique<simbus::World>();
    struct Case {
        const char* file;
        std::uint32_t nodes;  // all node-IDs, or as many as the entry table holds
    };
    for (const Case& c : {Case{"drive.eds", simbus::kMaxNodeId}, Case{"io_module.eds", 112}}) {
        SCOPED_TRACE(c.file);
        std::string text = "[Nodes]\n";
        for (std::uint32_t node = 1; node <= c.nodes; ++node)
            text += std::to_string(node) + "=" + c.file + "\n";
        std::string errors;
        const simbus::NetworkDescription network = simbus::ParseNetwork(text, errors);
        ASSERT_TRUE(errors.empty()) << errors;
        simbus::ResetSimulation(*world);
        ASSERT_TRUE(simbus::BuildNetwork(*world, network, simbus_test::ReadEmbedded, nullptr, errors)) << errors;
        EXPECT_TRUE(world->nodes[c.nodes].present);
    }
}

}  // namespace
