// The LSS services against simulated devices without a node-ID, on the manual clock: the
// find and what it lists, a node-ID and bit rate given and stored, the end of the session
// and the node that comes of it, the refusals, an abort, the results in words.
//
// The network files are written beside this test's own copy of the simulated library,
// where no other test executable reads them.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "bus_open.h"
#include "comm_state.h"
#include "communication.h"
#include "lss_service.h"
#include "master_test_support.h"
#include "message_texts.h"
#include "resource.h"
#include "sdo_services.h"
#include "settings_values.h"
#include "slave_search.h"
#include "tick.h"

namespace {

constexpr LssIdentity kSensor1{0x0F0A, 0x0401, 0x00010000, 0x00001001};
constexpr LssIdentity kSensor2{0x0F0A, 0x0401, 0x00010000, 0x00001002};

constexpr char kOneDevice[] = "[NonConfigured]\nsensor1=io_module.eds, 0x00001001\n";
constexpr char kTwoDevices[] =
    "[NonConfigured]\nsensor1=io_module.eds, 0x00001001\nsensor2=io_module.eds, 0x00001002\n";
constexpr char kNodeAndDevice[] = "[Nodes]\n3=io_module.eds\n[NonConfigured]\nsensor1=io_module.eds, 0x00001001\n";
constexpr char kConfiguredOnly[] = "[Nodes]\n7=io_module.eds, 0x00001007\n";

bool Same(const LssIdentity& a, const LssIdentity& b)
{
    return a.vendor == b.vendor && a.product == b.product && a.revision == b.revision && a.serial == b.serial;
}

class LssServiceTest : public MasterTest {
protected:
    std::string network = kOneDevice;

    void SetUp() override
    {
        lssSettings = kDefaultLssSettings;
        WriteNetworkFile(network);
        MasterTest::SetUp();
    }

    void TearDown() override
    {
        MasterTest::TearDown();
        RemoveNetworkFile();
    }

    // A network other than the fixture's: the slaves follow it from now on.
    void UseNetwork(const char* text)
    {
        WriteNetworkFile(text);
        bus.reset();
        bus.setAnimation(0);
    }

    // Whether `node` answers a read of its device type, on a bus opened at `baud` for it.
    bool Answers(std::uint32_t node, std::int32_t baud)
    {
        if (OpenBus(TestOwner(), baud) == 0)
            return false;
        std::uint8_t data[4] = {};
        std::uint32_t length = 0;
        const SdoResult result = ReadObject(node, 100, 0x1000, 0, data, sizeof data, length);
        CloseBus();
        return result.failed == 0 && result.aborted == 0 && length == 4;
    }

    static std::size_t CountFrames(const std::vector<std::string>& sent, const std::string& prefix)
    {
        return static_cast<std::size_t>(std::count_if(sent.begin(), sent.end(), [&](const std::string& frame) {
            return frame.compare(0, prefix.size(), prefix) == 0;
        }));
    }
};

TEST_F(LssServiceTest, FindListsTheDeviceWithItsIdentityAndLeavesTheBusOpenUntilTheEnd)
{
    LssFindResult found{};
    ASSERT_EQ(LssFind(TestOwner(), found), 1);
    ASSERT_EQ(found.count, 1u);
    EXPECT_TRUE(Same(found.devices[0].identity, kSensor1));
    EXPECT_EQ(found.devices[0].nodeId, kLssNoNodeId);
    EXPECT_EQ(found.aborted, 0u);
    EXPECT_EQ(found.failed, 0u);
    EXPECT_EQ(found.inquired, 0u);
    EXPECT_GT(side.lssProgressShown, 2) << "the scan's steps are reported as they go";
    EXPECT_EQ(lssSession.busOpen, 1u);
    EXPECT_EQ(lssBusy, 0);

    // Nothing was configured: the end switches the device back and asks nothing.
    Sent();
    EXPECT_EQ(LssFinish(TestOwner()), 0);
    const std::vector<std::string> sent = Sent();
    EXPECT_EQ(CountFrames(sent, "7E5 8: 04 00"), 1u) << "switch state global, waiting";
    EXPECT_EQ(CountFrames(sent, "000 "), 0u) << "no NMT frame without a new node-ID";
    EXPECT_TRUE(side.arguments.empty());
    EXPECT_EQ(lssSession.busOpen, 0u);
}

TEST_F(LssServiceTest, FindListsEveryDeviceWithoutANodeId)
{
    UseNetwork(kTwoDevices);
    LssFindResult found{};
    ASSERT_EQ(LssFind(TestOwner(), found), 1);
    ASSERT_EQ(found.count, 2u);
    const LssIdentity& first = found.devices[0].identity;
    const LssIdentity& second = found.devices[1].identity;
    EXPECT_TRUE((Same(first, kSensor1) && Same(second, kSensor2)) || (Same(first, kSensor2) && Same(second, kSensor1)))
        << std::hex << first.serial << " " << second.serial;
    LssFinish(TestOwner());
}

TEST_F(LssServiceTest, WithoutADeviceToScanTheOneConfiguredDeviceIsInquired)
{
    UseNetwork(kConfiguredOnly);
    LssFindResult found{};
    ASSERT_EQ(LssFind(TestOwner(), found), 1);
    ASSERT_EQ(found.count, 1u);
    EXPECT_EQ(found.inquired, 1u);
    EXPECT_EQ(found.devices[0].nodeId, 7u);
    EXPECT_TRUE(Same(found.devices[0].identity, LssIdentity{0x0F0A, 0x0401, 0x00010000, 0x00001007}));
    LssFinish(TestOwner());
}

TEST_F(LssServiceTest, NodeIdSetAndStoredMakesANodeThatOutlivesPowerOn)
{
    LssFindResult found{};
    ASSERT_EQ(LssFind(TestOwner(), found), 1);
    ASSERT_EQ(found.count, 1u);
    Sent();

    LssResult result{};
    ASSERT_EQ(LssSetNodeId(TestOwner(), found.devices[0].identity, 10, result), 1);
    EXPECT_EQ(result.outcome, LssOutcome::Success);
    EXPECT_EQ(result.service, LssService::ConfigureNodeId);
    std::vector<std::string> sent = Sent();
    EXPECT_EQ(CountFrames(sent, "7E5 8: 40 0A 0F 00 00"), 1u) << "selected by its identity first";
    EXPECT_EQ(CountFrames(sent, "7E5 8: 11 0A"), 1u);

    ASSERT_EQ(LssStore(TestOwner(), found.devices[0].identity, result), 1);
    EXPECT_EQ(result.outcome, LssOutcome::Success);
    sent = Sent();
    EXPECT_EQ(CountFrames(sent, "7E5 8: 40"), 0u) << "still selected: no second selection";
    EXPECT_EQ(CountFrames(sent, "7E5 8: 17"), 1u);

    side.answers = {AnswerOk};
    EXPECT_EQ(LssFinish(TestOwner()), 10);
    sent = Sent();
    EXPECT_EQ(CountFrames(sent, "000 2: 82 0A"), 1u) << "reset communication at the new node-ID";
    ASSERT_EQ(side.arguments.size(), 1u);
    EXPECT_EQ(side.arguments[0], L"10");
    EXPECT_EQ(appSettings.CurrAdr, 10);
    EXPECT_TRUE(Answers(10, appSettings.Baud));

    // Powered again, it comes back at the stored node-ID.
    ASSERT_EQ(bus.bootNode(10), 0u);
    EXPECT_TRUE(Answers(10, appSettings.Baud));
}

TEST_F(LssServiceTest, NodeIdNotStoredIsLostAtPowerOnAndTheOperatorMayKeepTheSlave)
{
    LssFindResult found{};
    ASSERT_EQ(LssFind(TestOwner(), found), 1);
    ASSERT_EQ(found.count, 1u);
    LssResult result{};
    EXPECT_EQ(LssSetNodeId(TestOwner(), found.devices[0].identity, 0, result), 0) << "node-ID 0 is not one";
    EXPECT_EQ(LssSetNodeId(TestOwner(), found.devices[0].identity, 128, result), 0);
    ASSERT_EQ(LssSetNodeId(TestOwner(), found.devices[0].identity, 12, result), 1);
    ASSERT_EQ(result.outcome, LssOutcome::Success);

    side.answers = {AnswerCancel};
    EXPECT_EQ(LssFinish(TestOwner()), 0);
    EXPECT_EQ(appSettings.CurrAdr, 3) << "the current slave stays";
    EXPECT_TRUE(Answers(12, appSettings.Baud));
    ASSERT_EQ(bus.bootNode(12), 0u);
    EXPECT_FALSE(Answers(12, appSettings.Baud)) << "without a store the device has no node-ID again";
}

TEST_F(LssServiceTest, BitRateSetIsActivatedAndTheProgramFollows)
{
    bus.setClock(1, TickMs());
    LssFindResult found{};
    ASSERT_EQ(LssFind(TestOwner(), found), 1);
    ASSERT_EQ(found.count, 1u);
    const LssIdentity id = found.devices[0].identity;
    LssResult result{};
    ASSERT_EQ(LssSetNodeId(TestOwner(), id, 10, result), 1);
    ASSERT_EQ(result.outcome, LssOutcome::Success);

    // 100 kbit/s has no row in the table; the warning's Cancel sends nothing.
    EXPECT_EQ(LssSetBitRate(TestOwner(), id, 3, result), 0);
    Sent();
    side.answers = {AnswerCancel};
    EXPECT_EQ(LssSetBitRate(TestOwner(), id, 5, result), 0);
    EXPECT_TRUE(Sent().empty());
    EXPECT_EQ(appSettings.Baud, 0);

    const std::uint32_t initsBefore = bus.Counters().inits;
    side.answers = {AnswerOk};
    ASSERT_EQ(LssSetBitRate(TestOwner(), id, 5, result), 1);
    EXPECT_EQ(result.outcome, LssOutcome::Success);
    EXPECT_EQ(result.service, LssService::ActivateBitTiming);
    const std::vector<std::string> sent = Sent();
    ASSERT_GE(sent.size(), 2u);
    EXPECT_EQ(sent[sent.size() - 2], "7E5 8: 13 00 03 00 00 00 00 00") << "250 kbit/s is row 3 of the table";
    EXPECT_EQ(sent.back(), "7E5 8: 15 64 00 00 00 00 00 00") << "activated with 100 ms, and nothing after it";
    EXPECT_EQ(appSettings.Baud, 5);
    EXPECT_EQ(bus.Counters().inits, initsBefore + 1) << "the adapter reopened at the new rate";

    // The device has switched by now; the end reaches it at the new rate.
    bus.setClock(1, TickMs());
    side.answers = {AnswerOk};
    EXPECT_EQ(LssFinish(TestOwner()), 10);
    bus.setClock(1, TickMs() + 1000);
    EXPECT_TRUE(Answers(10, 5));
    EXPECT_FALSE(Answers(10, 0)) << "nothing is left at the old rate";
    bus.setClock(0, 0);
}

TEST_F(LssServiceTest, RefusedWhileCommunicationIsActiveOrTheBusIsHeld)
{
    UseNetwork(kNodeAndDevice);
    StartConfirmed();
    ASSERT_EQ(commState.active, 1u);
    Sent();
    side.events.clear();
    LssFindResult found{};
    LssResult result{};
    EXPECT_EQ(LssFind(TestOwner(), found), 0);
    EXPECT_EQ(LssSetNodeId(TestOwner(), kSensor1, 10, result), 0);
    EXPECT_EQ(LssStore(TestOwner(), kSensor1, result), 0);
    EXPECT_EQ(side.Count("message 1137"), 3u) << "stop communication first, each time";
    EXPECT_EQ(CountFrames(Sent(), "7E5"), 0u);
    EXPECT_EQ(lssSession.busOpen, 0u);

    StopCommunication(TestOwner());
    ASSERT_EQ(commState.active, 0u);
    side.events.clear();
    scanRunning = 1;
    EXPECT_EQ(LssFind(TestOwner(), found), 0);
    EXPECT_EQ(side.Count("message"), 0u) << "a search holding the bus is no operator's mistake";
    scanRunning = 0;
    ASSERT_EQ(LssFind(TestOwner(), found), 1);
    EXPECT_EQ(found.count, 1u) << "node 3 has a node-ID and takes no part in Fastscan";
    LssFinish(TestOwner());
}

TEST_F(LssServiceTest, AbortEndsTheFindAtItsNextStep)
{
    int reports = 0;
    side.onLssProgress = [&reports] {
        if (++reports == 3)
            AbortLssFind();
    };
    LssFindResult found{};
    ASSERT_EQ(LssFind(TestOwner(), found), 1);
    EXPECT_EQ(found.aborted, 1u);
    EXPECT_EQ(found.count, 0u);
    EXPECT_LT(CountFrames(Sent(), "7E5 8: 51"), 10u) << "a whole scan sends 133 steps";
    EXPECT_FALSE(LssRunning(MasterLss()));
    EXPECT_EQ(lssSession.finding, 0u);

    // The next find starts afresh and finds the device.
    side.onLssProgress = nullptr;
    ASSERT_EQ(LssFind(TestOwner(), found), 1);
    EXPECT_EQ(found.count, 1u);
    LssFinish(TestOwner());
}

TEST_F(LssServiceTest, ResultsInWords)
{
    struct Case {
        LssService service;
        LssOutcome outcome;
        std::uint8_t errorCode;
        std::uint8_t specific;
        std::uint32_t stringId;
        std::uint32_t number;
    };
    const Case cases[] = {
        {LssService::ConfigureNodeId, LssOutcome::Success, 0, 0, IDS_LSS_NODE_ID_SET, 10},
        {LssService::ActivateBitTiming, LssOutcome::Success, 0, 0, IDS_LSS_BIT_RATE_SET, 10},
        {LssService::StoreConfiguration, LssOutcome::Success, 0, 0, IDS_LSS_STORED, 0},
        {LssService::ConfigureNodeId, LssOutcome::DeviceError, 1, 0, IDS_LSS_NOT_SUPPORTED, 0},
        {LssService::StoreConfiguration, LssOutcome::DeviceError, 2, 0, IDS_LSS_STORAGE_ERROR, 0},
        {LssService::ConfigureBitTiming, LssOutcome::DeviceError, 0xFF, 0x5A, IDS_LSS_SPECIFIC_ERROR, 0x5A},
        {LssService::StoreConfiguration, LssOutcome::DeviceError, 7, 0, IDS_LSS_OTHER_ERROR, 7},
        {LssService::ConfigureNodeId, LssOutcome::Timeout, 0, 0, IDS_LSS_NO_ANSWER, 0},
    };
    for (const Case& c : cases) {
        LssResult result{};
        result.service = c.service;
        result.outcome = c.outcome;
        result.errorCode = c.errorCode;
        result.specificError = c.specific;
        const LssResultText text = DescribeLssResult(result, 10);
        EXPECT_EQ(text.stringId, c.stringId) << static_cast<int>(c.errorCode);
        EXPECT_EQ(text.number, c.number) << static_cast<int>(c.errorCode);
        EXPECT_NE(MessageText(text.stringId, TextLanguage::English), nullptr);
        EXPECT_NE(MessageText(text.stringId, TextLanguage::German), nullptr);
    }

    // A device nobody has: the selection gets no answer, and nothing is configured.
    LssResult result{};
    const LssIdentity nobody{0x0F0A, 0x0401, 0x00010000, 0x0000BEEF};
    Sent();
    ASSERT_EQ(LssSetNodeId(TestOwner(), nobody, 10, result), 1);
    EXPECT_EQ(result.outcome, LssOutcome::Timeout);
    EXPECT_EQ(DescribeLssResult(result, 10).stringId, static_cast<std::uint32_t>(IDS_LSS_NO_ANSWER));
    EXPECT_EQ(CountFrames(Sent(), "7E5 8: 11"), 0u);
    EXPECT_EQ(LssFinish(TestOwner()), 0);
}

TEST_F(LssServiceTest, TableRowsOfTheProgramsBitRates)
{
    const std::uint8_t expected[] = {8, 7, 6, 0xFF, 4, 3, 2, 1, 0};  // 10 ... 1000 kbit/s
    for (std::int32_t baud = 0; baud < 9; ++baud)
        EXPECT_EQ(LssTableIndexOfBaud(baud), expected[baud]) << baud;
    EXPECT_EQ(LssTableIndexOfBaud(-1), 0xFF);
    EXPECT_EQ(LssTableIndexOfBaud(9), 0xFF);
}

}  // namespace
