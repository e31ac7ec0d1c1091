// The master started through its one start-up call, with the test operator and no
// windows: what the call refuses, and a whole session on the simulated bus with the
// master keeping its own communication flag.
#include <gtest/gtest.h>

#include <cstring>

#include "bus_open.h"
#include "comm_state.h"
#include "communication.h"
#include "driver.h"
#include "exchange.h"
#include "master_start.h"
#include "master_test_support.h"
#include "process_image.h"
#include "resource.h"
#include "settings_values.h"
#include "slave_search.h"

namespace {

using StartTest = MasterTest;

MasterSetup CompleteSetup(TestOperator& side)
{
    MasterSetup setup{};
    setup.operations = side.Operations();
    setup.messageHook = TestPump;
    setup.node = 3;
    setup.bitRate = 0;
    setup.port = kPortUsb;
    setup.driverLibrary = kSimulatedDriver;
    return setup;
}

TEST_F(StartTest, RefusesAnIncompleteSetupAndInstallsNothing)
{
    EndMaster();
    ASSERT_EQ(processImage, nullptr);

    // Each slot left out in turn: the record holds function pointers only.
    constexpr std::size_t kSlots = sizeof(OperatorOps) / sizeof(void (*)());
    for (std::size_t slot = 0; slot < kSlots; ++slot) {
        MasterSetup setup = CompleteSetup(side);
        unsigned char* bytes = reinterpret_cast<unsigned char*>(&setup.operations);
        std::memset(bytes + slot * sizeof(void (*)()), 0, sizeof(void (*)()));
        EXPECT_EQ(StartMaster(setup), MasterMissingOperation) << "slot " << slot;
    }
    struct Case {
        const char* name;
        void (*spoil)(MasterSetup&);
        MasterStartOutcome outcome;
    } const cases[] = {
        {"node 0 addresses every node", [](MasterSetup& s) { s.node = 0; }, MasterBadNode},
        {"node 128", [](MasterSetup& s) { s.node = 128; }, MasterBadNode},
        {"no driver", [](MasterSetup& s) { s.driverLibrary = nullptr; }, MasterNoDriver},
        {"empty driver name", [](MasterSetup& s) { s.driverLibrary = ""; }, MasterNoDriver},
    };
    for (const Case& c : cases) {
        MasterSetup setup = CompleteSetup(side);
        c.spoil(setup);
        EXPECT_EQ(StartMaster(setup), c.outcome) << c.name;
    }
    EXPECT_EQ(processImage, nullptr);
    EXPECT_EQ(MessageHook, nullptr);
    side.events.clear();
    Operator().showMessage(TestOwner(), IDS_COMM_FAILURE);
    EXPECT_TRUE(side.events.empty()) << "the inert operations are still in force";
    EXPECT_STREQ(DriverLibraryPath(), "");

    // A bit rate outside the table is kept, as the settings file may hold one.
    MasterSetup setup = CompleteSetup(side);
    setup.bitRate = 9;
    ASSERT_EQ(StartMaster(setup), MasterStarted);
    EXPECT_EQ(appSettings.Baud, 9);
    EXPECT_NE(processImage, nullptr);
    EXPECT_STREQ(DriverLibraryPath(), kSimulatedDriver);
}

TEST_F(StartTest, ASessionOnTheSimulatedBusWithTheMasterKeepingItsFlags)
{
    side.messagesWaiting = 1000;
    ASSERT_EQ(ScanSlaves(TestOwner()), 1);
    EXPECT_EQ(SlaveScanTable[3], ScanAnswered);
    EXPECT_EQ(SlaveScanTable[5], ScanAnswered);
    EXPECT_EQ(UseSlave(5), 1);
    EXPECT_EQ(UseSlave(0), 0);
    EXPECT_EQ(UseSlave(128), 0);
    EXPECT_EQ(appSettings.CurrAdr, 5);
    ASSERT_EQ(UseSlave(3), 1);

    side.answers = {AnswerOk};
    ASSERT_EQ(StartCommunication(TestOwner()), 1);
    EXPECT_EQ(commState.active, 1u);  // and it was set before it was shown (the test operator checks)
    EXPECT_EQ(side.Count("comm on"), 1u);
    EXPECT_EQ(ActivePump, MessageHook);
    bus.TakeSent();

    Cycle(400);  // a refresh is due: remote frames for the inputs, data frames for the outputs
    const std::vector<std::string> sent = Sent();
    EXPECT_FALSE(sent.empty());

    PostObjectRequest(0x1000, 0, nullptr, 0, 0);
    RunIdleCycle();
    EXPECT_EQ(processImage->request.pending, 0u);
    ASSERT_EQ(side.readResult.size(), 4u);
    const std::uint32_t deviceType = side.readResult[0] | side.readResult[1] << 8 | side.readResult[2] << 16 |
                                     static_cast<std::uint32_t>(side.readResult[3]) << 24;
    EXPECT_EQ(deviceType, bus.ObjectU32(3, 0x1000, 0));

    FreezeOutputs(true);
    EXPECT_EQ(commState.freezeOutputs, 1u);
    PostDeferredCommand(DeferredStop);
    RunIdleCycle();
    EXPECT_EQ(commState.active, 0u);
    EXPECT_EQ(side.Count("comm off"), 1u);
    EXPECT_EQ(DriverLoaded(), 0);
}

// A bus is never reported open without a driver behind it.
TEST_F(StartTest, ABusWithoutTheDriverLibraryIsNeverReportedOpen)
{
    UsePort(0);
    EXPECT_EQ(OpenBus(TestOwner(), 0), 0);
    EXPECT_EQ(DriverLoaded(), 0);
    EXPECT_EQ(side.Count("message 1001"), 1u);
    UsePort(kPortUsb);

    EndMaster();
    MasterSetup setup = CompleteSetup(side);
    setup.driverLibrary = "no_such_driver.so";
    ASSERT_EQ(StartMaster(setup), MasterStarted);
    side.events.clear();
    EXPECT_EQ(OpenBus(TestOwner(), 0), 0);
    EXPECT_EQ(DriverLoaded(), 0);
    EXPECT_EQ(side.Count("message 1037"), 1u);
}

}  // namespace
