// The virtual devices' LSS slaves frame by frame, the devices without a node-ID that the
// network file declares, node-IDs and bit rates taken up at resets and switches, and the
// engine's LSS master (Fastscan included) against them on the simulated bus.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "byte_order.h"
#include "lss_master.h"
#include "lss_slave.h"
#include "object_dictionary.h"
#include "sim_support.h"

namespace {

using simbus_test::Frame;
using simbus_test::SimBusTest;

// The default devices' identities (object 0x1018 of their EDS files).
constexpr LssIdentity kIoModule{0x0F0A, 0x0401, 0x00010000, 0x00001003};  // node 3
constexpr LssIdentity kDrive{0x0F0A, 0x0402, 0x00010000, 0x00002005};     // node 5

DriverMsg LssFrame(std::initializer_list<std::uint8_t> bytes)
{
    DriverMsg msg = Frame(simbus::kLssRequestId, bytes);
    msg.length = 8;
    return msg;
}

std::string Answer(std::uint8_t specifier, std::uint32_t value = 0, std::uint8_t byte5 = 0)
{
    char text[64];
    std::snprintf(text, sizeof text, "7E4 8: %02X %02X %02X %02X %02X %02X 00 00", specifier, value & 0xFF,
                  (value >> 8) & 0xFF, (value >> 16) & 0xFF, (value >> 24) & 0xFF, byte5);
    return text;
}

DriverMsg WithValue(std::uint8_t specifier, std::uint32_t value)
{
    return LssFrame({specifier, static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                     static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)});
}

std::uint32_t ObjectValue(simbus::World& world, std::uint8_t node, std::uint16_t index, std::uint8_t sub)
{
    const simbus::ObjectEntry* entry = simbus::FindEntry(world, node, index, sub);
    return entry == nullptr ? 0xDEADBEEF : LoadLe32(simbus::EntryValue(world, *entry));
}

class LssSlaves : public SimBusTest {
protected:
    // A network of the text's on a fresh World, opened at 10 kbit/s; the boot-ups it sent.
    std::vector<std::string> Load(const char* text)
    {
        simbus::ResetSimulation(*world);
        std::string errors;
        const simbus::NetworkDescription network = simbus::ParseNetwork(text, errors);
        EXPECT_TRUE(simbus::BuildNetwork(*world, network, simbus_test::ReadEmbedded, nullptr, errors)) << errors;
        EXPECT_EQ(simbus::AdapterInit(*world, 0x672F, 0, now), 0u);
        return ReadAll();
    }

    std::string Select(const LssIdentity& id)
    {
        Exchange(WithValue(0x40, id.vendor));
        Exchange(WithValue(0x41, id.product));
        Exchange(WithValue(0x42, id.revision));
        return Exchange(WithValue(0x43, id.serial));
    }

    std::string Sdo3(std::uint8_t node) { return Sdo(node, {0x40, 0x00, 0x10, 0x00}); }
};

TEST(LssNetworkFile, DevicesWithoutANodeIdAndSerialNumbers)
{
    struct Case {
        const char* text;
        std::vector<std::string> nonConfigured;  // "<name> <eds> <serial or ->"
        std::size_t nodes;
        bool errors;
    };
    const Case cases[] = {
        {"[NonConfigured]\na=io_module.eds, 0x2001\nb = drive.eds\n",
         {"a io_module.eds 2001", "b drive.eds -"},
         0,
         false},
        {"[Nodes]\n3=io_module.eds,4660\n[NonConfigured]\nx=drive.eds, 0x1\n", {"x drive.eds 1"}, 1, false},
        {"[NonConfigured]\na=io_module.eds, 0x1G\nb=, 5\nc=drive.eds, -1\nd=drive.eds, $NODEID\n", {}, 0, true},
        {"[NonConfigured]\n", {}, 0, true},  // nothing at all on the network
    };
    for (const Case& c : cases) {
        std::string errors;
        const simbus::NetworkDescription network = simbus::ParseNetwork(c.text, errors);
        std::vector<std::string> found;
        for (const simbus::NetworkNode& node : network.nonConfigured) {
            char serial[16] = "-";
            if (node.hasSerial)
                std::snprintf(serial, sizeof serial, "%X", node.serial);
            EXPECT_EQ(node.nodeId, simbus::kNoNodeId);
            found.push_back(node.name + " " + node.edsName + " " + serial);
        }
        EXPECT_EQ(found, c.nonConfigured) << c.text;
        EXPECT_EQ(network.nodes.size(), c.nodes) << c.text;
        EXPECT_EQ(!errors.empty(), c.errors) << c.text << errors;
    }
    // The serial number replaces the EDS's, value and default; an EDS without 0x1018 sub 4
    // cannot take one.
    auto world = std::make_unique<simbus::World>();
    std::string errors;
    simbus::NetworkDescription network =
        simbus::ParseNetwork("[Nodes]\n3=io_module.eds, 0x4660\n[NonConfigured]\nx=drive.eds, 7\n", errors);
    ASSERT_TRUE(simbus::BuildNetwork(*world, network, simbus_test::ReadEmbedded, nullptr, errors)) << errors;
    EXPECT_EQ(ObjectValue(*world, 3, 0x1018, 4), 0x4660u);
    simbus::ResetValues(*world, 3, false);
    EXPECT_EQ(ObjectValue(*world, 3, 0x1018, 4), 0x4660u);
    ASSERT_TRUE(world->unconfigured[0].present);
    EXPECT_EQ(world->unconfigured[0].lss.activeNodeId, simbus::kNoNodeId);
    const simbus::ObjectEntry* serial = simbus::FindDeviceEntry(*world, world->unconfigured[0], 0x1018, 4);
    ASSERT_NE(serial, nullptr);
    EXPECT_EQ(LoadLe32(simbus::EntryValue(*world, *serial)), 7u);
}

TEST_F(LssSlaves, ADeviceWithoutANodeIdAnswersLssOnly)
{
    EXPECT_EQ(Load("[Nodes]\n3=io_module.eds\n[NonConfigured]\nx=drive.eds, 0x77\n"),
              std::vector<std::string>{"703 1: 00"});
    EXPECT_EQ(Nmt(0x82, 0), "703 1: 00") << "it does not boot on a reset either";
    simbus::ObjectEntry* heartbeat = simbus::FindDeviceEntry(*world, world->unconfigured[0], 0x1017, 0);
    ASSERT_NE(heartbeat, nullptr);
    const std::uint8_t period[2] = {100, 0};
    simbus::StoreValue(*world, *heartbeat, period, 2);
    now += 1000;
    EXPECT_TRUE(ReadAll().empty()) << "no heartbeat";
    EXPECT_EQ(Exchange(LssFrame({0x4C})), Answer(0x50));
    EXPECT_EQ(Exchange(LssFrame({0x51, 0, 0, 0, 0, 0x80, 0, 0})), Answer(0x4F)) << "Fastscan's reset step";
    EXPECT_EQ(Exchange(LssFrame({0x04, 0x01})), "");
    EXPECT_EQ(Exchange(LssFrame({0x5D})), Answer(0x5D, kIoModule.serial) + "|" + Answer(0x5D, 0x77));
    EXPECT_EQ(Exchange(LssFrame({0x5E})), Answer(0x5E, 3) + "|" + Answer(0x5E, 0xFF));
    EXPECT_EQ(Exchange(LssFrame({0x51, 0, 0, 0, 0, 0x80, 0, 0})), "") << "Fastscan only in waiting state";
    EXPECT_EQ(Exchange(LssFrame({0x4C})), Answer(0x50)) << "identify non-configured in both states";
    DriverMsg shortRequest = LssFrame({0x5E});
    shortRequest.length = 7;
    EXPECT_EQ(Exchange(shortRequest), "");
}

TEST_F(LssSlaves, ServicesFrameByFrameOnTheDefaultNetwork)
{
    struct Step {
        DriverMsg request;
        std::string answers;
    };
    const Step steps[] = {
        {LssFrame({0x5A}), ""},  // inquire: configuration state only
        {LssFrame({0x11, 9}), ""},
        // Switch state selective: the four in order, the one device with all four.
        {WithValue(0x41, kDrive.product), ""},
        {WithValue(0x40, kDrive.vendor), ""},
        {WithValue(0x41, kDrive.product), ""},
        {WithValue(0x43, kDrive.serial), ""},  // the revision left out
        {WithValue(0x43, kDrive.serial), ""},
        {WithValue(0x40, kDrive.vendor), ""},
        {WithValue(0x41, kDrive.product), ""},
        {WithValue(0x42, kDrive.revision), ""},
        {WithValue(0x43, kDrive.serial + 1), ""},
        {WithValue(0x40, kDrive.vendor), ""},
        {WithValue(0x41, kDrive.product), ""},
        {WithValue(0x42, kDrive.revision), ""},
        {WithValue(0x43, kDrive.serial), Answer(0x44)},
        {LssFrame({0x5A}), Answer(0x5A, kDrive.vendor)},
        {LssFrame({0x5B}), Answer(0x5B, kDrive.product)},
        {LssFrame({0x5C}), Answer(0x5C, kDrive.revision)},
        {LssFrame({0x5D}), Answer(0x5D, kDrive.serial)},
        {LssFrame({0x5E}), Answer(0x5E, 5)},
        {LssFrame({0x11, 0}), Answer(0x11, 1)},
        {LssFrame({0x11, 128}), Answer(0x11, 1)},
        {LssFrame({0x11, 0xFE}), Answer(0x11, 1)},
        {LssFrame({0x11, 127}), Answer(0x11, 0)},
        {LssFrame({0x13, 0, 5}), Answer(0x13, 1)},
        {LssFrame({0x13, 0, 9}), Answer(0x13, 1)},
        {LssFrame({0x13, 1, 2}), Answer(0x13, 1)},
        {LssFrame({0x13, 0, 2}), Answer(0x13, 0)},
        {LssFrame({0x17}), Answer(0x17, 0)},
        {LssFrame({0x40, 0x0A, 0x0F}), ""},   // selective in configuration state
        {LssFrame({0x5E}), Answer(0x5E, 5)},  // still 5 until a reset
        // Both devices: the same vendor is one frame on the bus, the products two.
        {LssFrame({0x04, 0x01}), ""},
        {LssFrame({0x5A}), Answer(0x5A, 0x0F0A)},
        {LssFrame({0x5B}), Answer(0x5B, kIoModule.product) + "|" + Answer(0x5B, kDrive.product)},
        {LssFrame({0x04, 0x00}), ""},
        {LssFrame({0x5A}), ""},
        {LssFrame({0x04, 0x02}), ""},  // no such state
        {LssFrame({0x5A}), ""},
        {LssFrame({0x33}), ""},  // no such service
    };
    for (const Step& step : steps)
        EXPECT_EQ(Exchange(step.request), step.answers) << simbus_test::Text(step.request);
}

TEST_F(LssSlaves, IdentifyRemoteSlaveByRanges)
{
    struct Case {
        std::uint32_t values[6];  // vendor, product, revision low, high, serial low, high
        std::string answers;
    } const cases[] = {
        {{0x0F0A, 0x0401, 0x00010000, 0x00010000, 0x1003, 0x1003}, Answer(0x4F)},
        {{0x0F0A, 0x0402, 0, 0xFFFFFFFF, 0, 0xFFFFFFFF}, Answer(0x4F)},
        {{0x0F0A, 0x0401, 0x00010001, 0xFFFFFFFF, 0, 0xFFFFFFFF}, ""},  // revision below the range
        {{0x0F0A, 0x0401, 0, 0xFFFFFFFF, 0x1004, 0xFFFFFFFF}, ""},      // serial below the range
        {{0x0F0A, 0x0401, 0, 0xFFFFFFFF, 0, 0x1002}, ""},               // serial above the range
        {{0x0F0B, 0x0401, 0, 0xFFFFFFFF, 0, 0xFFFFFFFF}, ""},
        {{0x0F0A, 0x0401, 0x00020000, 0x00010000, 0, 0xFFFFFFFF}, ""},  // an empty range
    };
    // In waiting state, then in configuration state: the service answers in both.
    for (const std::uint8_t mode : {std::uint8_t{0}, std::uint8_t{1}}) {
        Exchange(LssFrame({0x04, mode}));
        for (const Case& c : cases) {
            std::string answers;
            for (std::uint8_t i = 0; i < 6; ++i)
                answers += Exchange(WithValue(static_cast<std::uint8_t>(0x46 + i), c.values[i]));
            EXPECT_EQ(answers, c.answers) << int{mode} << std::hex << " " << c.values[1] << " " << c.values[2];
        }
    }
    // Out of order: the serial's high end without the rest.
    EXPECT_EQ(Exchange(WithValue(0x4B, 0xFFFFFFFF)), "");
}

TEST_F(LssSlaves, ANewNodeIdAtTheNextResetAndAtPowerOnOnlyWhenStored)
{
    ASSERT_EQ(Select(kIoModule), Answer(0x44));
    ASSERT_EQ(Exchange(LssFrame({0x11, 10})), Answer(0x11, 0));
    EXPECT_EQ(Sdo3(3), "583 8: 43 00 10 00 91 01 0F 00") << "still node 3";
    EXPECT_EQ(Sdo3(10), "");
    EXPECT_EQ(Nmt(0x82, 3), "70A 1: 00") << "reset communication: the device boots at 10";
    EXPECT_EQ(Sdo3(10), "58A 8: 43 00 10 00 91 01 0F 00");
    EXPECT_EQ(Sdo3(3), "");
    EXPECT_EQ(simbus::NodeState(*world, 3), kSimStateAbsent);
    EXPECT_EQ(ObjectValue(*world, 10, 0x1800, 1), 0x18Au) << "$NODEID+0x180 moved with it";
    EXPECT_EQ(ObjectValue(*world, 10, 0x1400, 1), 0x20Au);
    EXPECT_EQ(Exchange(LssFrame({0x5E})), "") << "back in waiting state";

    // Not stored: powered again, it is node 3.
    ASSERT_EQ(simbus::BootNode(*world, 10, now), 0u);
    EXPECT_EQ(ReadAll(), std::vector<std::string>{"703 1: 00"});
    EXPECT_EQ(ObjectValue(*world, 3, 0x1800, 1), 0x183u);

    // Stored: at power-on it is 12, as a reset application makes it before.
    ASSERT_EQ(Select(kIoModule), Answer(0x44));
    Exchange(LssFrame({0x11, 12}));
    ASSERT_EQ(Exchange(LssFrame({0x17})), Answer(0x17, 0));
    EXPECT_EQ(Nmt(0x81, 0), "705 1: 00|70C 1: 00");
    ASSERT_EQ(simbus::BootNode(*world, 12, now), 0u);
    EXPECT_EQ(ReadAll(), std::vector<std::string>{"70C 1: 00"});

    // A node-ID that another device has is not taken up.
    ASSERT_EQ(Select(kIoModule), Answer(0x44));
    Exchange(LssFrame({0x11, 5}));
    EXPECT_EQ(Nmt(0x82, 12), "70C 1: 00");
    EXPECT_EQ(Sdo3(5), "585 8: 43 00 10 00 92 01 02 00") << "the drive alone";
}

TEST_F(LssSlaves, TakingANodeIdAwayLeavesADeviceWithoutOne)
{
    ASSERT_EQ(Select(kDrive), Answer(0x44));
    ASSERT_EQ(Exchange(LssFrame({0x11, 0xFF})), Answer(0x11, 0));
    EXPECT_EQ(Nmt(0x81, 5), "") << "no boot-up without a node-ID";
    EXPECT_EQ(simbus::NodeState(*world, 5), kSimStateAbsent);
    EXPECT_EQ(Sdo3(5), "");
    EXPECT_EQ(Exchange(LssFrame({0x4C})), Answer(0x50));
    // Given one and switched to waiting, it boots there at once.
    ASSERT_EQ(Select(kDrive), Answer(0x44));
    ASSERT_EQ(Exchange(LssFrame({0x5E})), Answer(0x5E, 0xFF));
    ASSERT_EQ(Exchange(LssFrame({0x11, 6})), Answer(0x11, 0));
    EXPECT_EQ(Exchange(LssFrame({0x4C})), "") << "a configured node-ID makes it configured";
    EXPECT_EQ(Exchange(LssFrame({0x04, 0x00})), "706 1: 00");
    EXPECT_EQ(Sdo3(6), "586 8: 43 00 10 00 92 01 02 00");
    EXPECT_EQ(ObjectValue(*world, 6, 0x1800, 1), 0x186u);
}

TEST_F(LssSlaves, ABitRateSwitchSilencesTheDeviceAtTheOldRate)
{
    ASSERT_EQ(Select(kIoModule), Answer(0x44));
    Exchange(LssFrame({0x15, 100, 0}));  // nothing configured yet: no switch
    EXPECT_EQ(Sdo3(3), "583 8: 43 00 10 00 91 01 0F 00");
    ASSERT_EQ(Exchange(LssFrame({0x13, 0, 4})), Answer(0x13, 0));  // 125 kbit/s
    EXPECT_EQ(Exchange(LssFrame({0x15, 100, 0})), "");
    EXPECT_EQ(Exchange(LssFrame({0x5E})), "") << "quiet during the switch";
    now += 199;
    EXPECT_EQ(Sdo3(3), "");
    EXPECT_EQ(Sdo3(5), "585 8: 43 00 10 00 92 01 02 00") << "the drive takes no part";
    now += 1;
    EXPECT_EQ(Sdo3(3), "") << "10 kbit/s is not its rate any more";
    simbus::AdapterClose(*world);
    ASSERT_EQ(simbus::AdapterInit(*world, 0x031C, 0, now), 0u);  // 125 kbit/s
    EXPECT_EQ(Sdo3(3), "583 8: 43 00 10 00 91 01 0F 00");
    EXPECT_EQ(Sdo3(5), "585 8: 43 00 10 00 92 01 02 00") << "the network follows any rate";

    // Not stored: powered again, it follows any rate again; stored, it keeps 125 kbit/s and
    // announces its boot-up once the master opens the bus at that rate.
    simbus::AdapterClose(*world);
    ASSERT_EQ(simbus::AdapterInit(*world, 0x672F, 0, now), 0u);
    ASSERT_EQ(simbus::BootNode(*world, 3, now), 0u);
    EXPECT_EQ(ReadAll(), std::vector<std::string>{"703 1: 00"});
    ASSERT_EQ(Select(kIoModule), Answer(0x44));
    Exchange(LssFrame({0x13, 0, 4}));
    ASSERT_EQ(Exchange(LssFrame({0x17})), Answer(0x17, 0));
    ASSERT_EQ(simbus::BootNode(*world, 3, now), 0u);
    EXPECT_EQ(Sdo3(3), "");
    simbus::AdapterClose(*world);
    ASSERT_EQ(simbus::AdapterInit(*world, 0x031C, 0, now), 0u);
    EXPECT_EQ(ReadAll(), std::vector<std::string>{"703 1: 00"});
}

TEST_F(LssSlaves, IdenticalAnswersAreOneFrameButADelayedDevicesComesOnItsOwn)
{
    Load("[NonConfigured]\na=io_module.eds, 1\nb=io_module.eds, 2\n");
    EXPECT_EQ(Exchange(LssFrame({0x51, 0, 0, 0, 0, 0x80, 0, 0})), Answer(0x4F));
    EXPECT_EQ(Exchange(LssFrame({0x4C})), Answer(0x50));
    world->unconfigured[1].mode = kSimNodeDelayed;
    world->unconfigured[1].modeParam = 30;
    EXPECT_EQ(Exchange(LssFrame({0x4C})), Answer(0x50));
    now += 30;
    EXPECT_EQ(ReadAll(), std::vector<std::string>{Answer(0x50)});
}

// The engine's master against the simulated devices, driven as the bus pump drives it: a
// frame read is offered, then a step without one; time moves on only while nothing happens.
class LssMasterOnTheBus : public LssSlaves {
protected:
    LssMaster lss{};
    std::uint32_t busMs = 0;
    std::vector<std::string> others;  // frames other than LSS answers read during the runs

    LssResult Run(const LssRequest& request)
    {
        EXPECT_EQ(StartLssService(lss, request, now), 1);
        busMs = 0;
        for (int guard = 0; guard < 200000 && !LssDone(lss); ++guard) {
            bool busy = false;
            DriverMsg msg{};
            while (simbus::AdapterRead(*world, &msg, now) == 0) {
                CanFrame frame{};
                frame.id = msg.id;
                frame.length = msg.length;
                std::copy(std::begin(msg.data), std::end(msg.data), frame.data.begin());
                if (frame.id == kLssAnswerCobId)
                    StepLss(lss, &frame, now);
                else
                    others.push_back(simbus_test::Text(msg));
                busy = true;
            }
            if (const CanFrame* out = StepLss(lss, nullptr, now)) {
                DriverMsg sent{};
                sent.id = out->id;
                sent.length = out->length;
                std::copy(out->data.begin(), out->data.end(), std::begin(sent.data));
                EXPECT_EQ(Write(sent), 0u);
                busy = true;
            }
            if (!busy && !LssDone(lss)) {
                ++now;
                ++busMs;
            }
        }
        LssResult result{};
        EXPECT_EQ(TakeLssResult(lss, result), 1);
        return result;
    }

    LssResult Fastscan(std::uint32_t timeoutMs = kLssDefaultTimeoutMs)
    {
        return Run({.service = LssService::Fastscan, .timeoutMs = timeoutMs});
    }
};

bool SameIdentity(const LssIdentity& a, const LssIdentity& b)
{
    return a.vendor == b.vendor && a.product == b.product && a.revision == b.revision && a.serial == b.serial;
}

TEST_F(LssMasterOnTheBus, FastscanFindsNoneOneAndTwoDevicesOneAfterTheOther)
{
    LssResult result = Fastscan();
    EXPECT_EQ(result.outcome, LssOutcome::NotFound) << "the default network has none";
    EXPECT_EQ(result.steps, 1u);
    EXPECT_EQ(busMs, kLssDefaultTimeoutMs + 1);

    Load("[Nodes]\n3=io_module.eds\n[NonConfigured]\na=drive.eds, 0x2002\nb=drive.eds, 0x2001\n");
    const LssIdentity second{kDrive.vendor, kDrive.product, kDrive.revision, 0x2002};
    const LssIdentity first{kDrive.vendor, kDrive.product, kDrive.revision, 0x2001};
    result = Fastscan();
    ASSERT_EQ(result.outcome, LssOutcome::Success);
    EXPECT_TRUE(SameIdentity(result.identity, first)) << std::hex << result.identity.serial;
    EXPECT_EQ(result.steps, kFastscanSteps);

    // Found, it is in configuration state: it takes its node-ID and boots when switched back.
    EXPECT_EQ(Run({.service = LssService::InquireSerial}).value, 0x2001u);
    EXPECT_EQ(Run({.service = LssService::ConfigureNodeId, .nodeId = 20}).outcome, LssOutcome::Success);
    EXPECT_EQ(Run({.service = LssService::StoreConfiguration}).outcome, LssOutcome::Success);
    EXPECT_EQ(Run({.service = LssService::SwitchGlobal, .mode = 0}).outcome, LssOutcome::Success);
    EXPECT_EQ(ReadAll(), std::vector<std::string>{"714 1: 00"});
    EXPECT_TRUE(others.empty()) << others.front();
    EXPECT_EQ(Sdo3(20), "594 8: 43 00 10 00 92 01 02 00");

    result = Fastscan();
    ASSERT_EQ(result.outcome, LssOutcome::Success);
    EXPECT_TRUE(SameIdentity(result.identity, second));
    // Left in configuration state, it no longer takes part either.
    result = Fastscan();
    EXPECT_EQ(result.outcome, LssOutcome::NotFound);
    EXPECT_EQ(result.steps, 1u);
}

TEST_F(LssMasterOnTheBus, FastscanWithKnownPartsAndADeviceThatAnswersLate)
{
    Load("[NonConfigured]\na=io_module.eds, 0x1234\n");
    LssResult result =
        Run({.service = LssService::Fastscan, .identity = kIoModule, .knownParts = FastscanVendor | FastscanProduct});
    ASSERT_EQ(result.outcome, LssOutcome::Success);
    EXPECT_EQ(result.identity.serial, 0x1234u);
    EXPECT_EQ(result.steps, 1u + 2u + 2u * 33u);
    EXPECT_EQ(Run({.service = LssService::SwitchGlobal, .mode = 0}).outcome, LssOutcome::Success);

    // Its answers come 20 ms late: with a 10 ms time-out the reset step goes unanswered, and
    // its answer after that counts for nothing.
    world->unconfigured[0].mode = kSimNodeDelayed;
    world->unconfigured[0].modeParam = 20;
    EXPECT_EQ(Fastscan(10).outcome, LssOutcome::NotFound);
    now += 20;
    result = Run({.service = LssService::IdentifyNonConfigured, .timeoutMs = 10});
    EXPECT_EQ(result.outcome, LssOutcome::Timeout) << "the late 0x4F is no 0x50";
    now += 20;
    // With 50 ms it is found, each answered step 20 ms long.
    result = Fastscan(50);
    ASSERT_EQ(result.outcome, LssOutcome::Success);
    EXPECT_TRUE(
        SameIdentity(result.identity, LssIdentity{kIoModule.vendor, kIoModule.product, kIoModule.revision, 0x1234}));
}

}  // namespace
