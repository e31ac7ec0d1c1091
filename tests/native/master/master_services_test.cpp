// The master services natively, against the simulated slaves of the default network
// (node 3 an I/O module with two input and two output PDOs, node 5 a drive): the
// configuration reading, start, stop and restart, the exchange cycle, the idle cycle with
// its deferred commands and object requests, and the slave search. What the operator
// would see is what the test operator recorded.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "bus_pump.h"
#include "comm_state.h"
#include "communication.h"
#include "driver.h"
#include "exchange.h"
#include "exchange_internal.h"
#include "node_monitor.h"
#include "master_test_support.h"
#include "process_image.h"
#include "resource.h"
#include "settings_values.h"
#include "slave_search.h"
#include "tick.h"

namespace {

constexpr std::uint32_t kNode = 3;

using Events = std::vector<std::string>;

// The events without the wait cursor and the lists' refreshes.
Events Shown(const Events& events)
{
    Events shown;
    for (const std::string& event : events)
        if (event != "busy" && event != "not busy" && event != "lists")
            shown.push_back(event);
    return shown;
}

TEST_F(MasterTest, StartReadsTheConfigurationLaysOutTheImageAndStartsTheNode)
{
    side.answers.push_back(AnswerOk);
    ASSERT_EQ(StartCommunication(TestOwner()), 1);

    // The last list refresh comes from the exchange cycle inside the node monitor's read.
    EXPECT_EQ(side.events, (Events{"ask ok-cancel 1010", "busy", "not busy", "freeze off", "comm on", "lists"}));
    EXPECT_EQ(commState.active, 1u);
    EXPECT_EQ(ActivePump, MessageHook) << "the exchange passes messages on";
    EXPECT_EQ(bus.nodeState(kNode), kSimStateOperational);

    ASSERT_EQ(pdoTable.inputPdoCount, 2u);
    ASSERT_EQ(pdoTable.outputPdoCount, 2u);
    EXPECT_EQ(pdoTable.rows[0].inputCobId, 0x183u);
    EXPECT_EQ(pdoTable.rows[0].inputLength, 2u);
    EXPECT_EQ(pdoTable.rows[1].inputCobId, 0x283u);
    EXPECT_EQ(pdoTable.rows[1].inputLength, 4u);
    EXPECT_EQ(pdoTable.rows[1].inputPdoNumber, 2u);
    EXPECT_EQ(pdoTable.rows[0].outputCobId, 0x203u);
    EXPECT_EQ(pdoTable.rows[0].outputLength, 1u);
    EXPECT_EQ(pdoTable.rows[1].outputCobId, 0x303u);
    EXPECT_EQ(pdoTable.rows[1].outputLength, 4u);

    // Transmission type 255 written beside each input PDO found.
    EXPECT_EQ(bus.ObjectU32(kNode, 0x1400, 2) & 0xFF, 0xFFu);
    EXPECT_EQ(bus.ObjectU32(kNode, 0x1401, 2) & 0xFF, 0xFFu);

    // Inputs: two bytes of PDO 1 at 0 and 1, four of PDO 2 at 8 to 11, the end at 12.
    const EntryList& inputs = processImage->inputs;
    EXPECT_EQ(inputs[1].kind, EntryNoData);
    EXPECT_EQ(inputs[1].byteIndex, 1u);
    EXPECT_EQ(inputs[2].kind, EntryAbsent);
    EXPECT_EQ(inputs[11].kind, EntryNoData);
    EXPECT_EQ(inputs[11].pdoNumber, 2u);
    EXPECT_EQ(inputs[12].kind, EntryEnd);
    EXPECT_EQ(OutputTable[0].kind, EntryData);
    EXPECT_EQ(OutputTable[1].kind, EntryAbsent);
    EXPECT_EQ(OutputTable[12].kind, EntryEnd);

    // The last frame of the start: NMT start remote node 3; after it, only the node
    // monitor's read of the heartbeat producer time.
    const std::vector<std::string> sent = Sent();
    ASSERT_GE(sent.size(), 2u);
    EXPECT_EQ(sent[sent.size() - 2], "000 2: 01 03");
    EXPECT_EQ(sent.back(), "603 8: 40 17 10 00 00 00 00 00");
    EXPECT_GT(sent.size(), 1030u) << "every PDO number 0 to 511 of both directions is asked";
}

TEST_F(MasterTest, StartRefusedOrImpossibleLeavesCommunicationOff)
{
    // Cancel at the warning: no driver, no frame.
    side.answers.push_back(AnswerCancel);
    EXPECT_EQ(StartCommunication(TestOwner()), 0);
    EXPECT_EQ(bus.Counters().inits, 0u);
    EXPECT_TRUE(Sent().empty());

    // A bit rate outside the table: refused before any driver call.
    side.events.clear();
    appSettings.Baud = 9;
    side.answers.push_back(AnswerOk);
    EXPECT_EQ(StartCommunication(TestOwner()), 0);
    EXPECT_EQ(side.events, (Events{"ask ok-cancel 1010", "message 1001"}));
    EXPECT_EQ(bus.Counters().inits, 0u);
    EXPECT_EQ(DriverLoaded(), 0);
    EXPECT_EQ(commState.active, 0u);
}

TEST_F(MasterTest, ASilentSlaveFailsTheStartAfterItsTimeOutOnTheManualClock)
{
    bus.setNodeMode(kNode, kSimNodeSilent, 0);
    const std::uint32_t before = TickMs();
    side.answers.push_back(AnswerOk);
    EXPECT_EQ(StartCommunication(TestOwner()), 0);
    const std::uint32_t elapsed = TickMs() - before;

    EXPECT_EQ(Shown(side.events),
              (Events{"ask ok-cancel 1010", "message 1008", "comm off", "lists forced", "controls"}));
    EXPECT_EQ(commState.active, 0u);
    EXPECT_EQ(DriverLoaded(), 0);
    // The first read (0x1800/1) waits one second; the stop pauses half a second.
    EXPECT_GE(elapsed, 1000u + 500u);
    EXPECT_LT(elapsed, 5000u) << "one failed read ends the reading";
    for (const std::string& frame : Sent())
        EXPECT_NE(frame.substr(0, 3), "000") << "neither NMT start nor stop: " << frame;
}

TEST_F(MasterTest, AnUnusablePdoIsReportedAsABadConfiguration)
{
    // TPDO 1 on function code 1 (an emergency COB-ID): not a PDO this master can exchange.
    const std::uint8_t cobId[4] = {0x83, 0x00, 0x00, 0x00};
    bus.setObject(kNode, 0x1800, 1, cobId, 4);
    side.answers.push_back(AnswerOk);
    EXPECT_EQ(StartCommunication(TestOwner()), 0);
    EXPECT_EQ(Shown(side.events)[1], "message 1009");
    EXPECT_EQ(bus.nodeState(kNode), kSimStatePreOperational);
}

TEST_F(MasterTest, StopReturnsTheNodeToPreOperationalAndEmptiesTheProcessData)
{
    StartConfirmed();
    OutputTable[0].value = 0x55;
    const std::uint32_t before = TickMs();
    EXPECT_EQ(StopCommunication(TestOwner()), 1);

    EXPECT_GE(TickMs() - before, 500u) << "the pause before the close";
    EXPECT_EQ(Sent(), (std::vector<std::string>{"000 2: 80 03"}));
    EXPECT_EQ(bus.nodeState(kNode), kSimStatePreOperational);
    EXPECT_EQ(side.events, (Events{"comm off", "lists forced", "controls"}));
    EXPECT_EQ(DriverLoaded(), 0);
    EXPECT_EQ(ActivePump, nullptr);
    EXPECT_EQ(OutputTable[0].kind, EntryEnd);
    EXPECT_EQ(OutputTable[0].value, 0u);
    EXPECT_EQ(processImage->inputs[0].kind, EntryEnd);
}

TEST_F(MasterTest, AFailureOffersRetryWhichRestartsOrCancelWhichStops)
{
    StartConfirmed();
    OutputTable[0].value = 0x12;

    side.answers.push_back(AnswerRetry);
    EXPECT_EQ(CheckCommFailure(TestOwner(), SdoResult{1, 0, 0}), 1);
    EXPECT_EQ(Shown(side.events), (Events{"ask retry 1008"}));
    EXPECT_EQ(commState.active, 1u);
    const std::vector<std::string> restart = Sent();
    ASSERT_FALSE(restart.empty());
    EXPECT_NE(std::find(restart.begin(), restart.end(), "603 8: 40 00 18 01 00 00 00 00"), restart.end())
        << "the configuration is read again";
    EXPECT_EQ(restart.back(), "000 2: 01 03");
    EXPECT_EQ(OutputTable[0].value, 0x12u) << "a restart keeps the outputs";

    // The slave falls silent: the restart asks again, then Cancel stops.
    side.events.clear();
    bus.setNodeMode(kNode, kSimNodeSilent, 0);
    side.answers = {AnswerRetry, AnswerRetry, AnswerCancel};
    EXPECT_EQ(CheckCommFailure(TestOwner(), SdoResult{1, 0, 0}), 0);
    EXPECT_EQ(side.Count("ask retry 1008"), 3u);
    EXPECT_EQ(commState.active, 0u);
    EXPECT_EQ(DriverLoaded(), 0);

    // A transfer that did not fail asks nothing.
    side.events.clear();
    EXPECT_EQ(CheckCommFailure(TestOwner(), SdoResult{0, 1, 0x06020000}), 1);
    EXPECT_TRUE(side.events.empty());
}

TEST_F(MasterTest, TheExchangeRefreshesAfterThreeHundredMillisecondsAndRestsBetween)
{
    StartConfirmed();
    Cycle(100);
    EXPECT_TRUE(Sent().empty()) << "100 ms after the last send: no refresh";
    EXPECT_EQ(side.events, (Events{"lists", "wait 40"})) << "the node monitor watches: a short rest";
    // Without the monitor, the exchange rests for its 200 ms.
    PauseNodeMonitor();
    side.events.clear();
    Cycle(10);
    EXPECT_EQ(side.events, (Events{"lists", "wait 200"}));
    StartNodeMonitor(kNode);
    Sent();

    side.events.clear();
    side.messagesWaiting = 10;
    Cycle(400);
    EXPECT_EQ(Sent(), (std::vector<std::string>{"183 RTR 2", "283 RTR 4", "203 1: 00", "303 4: 00 00 00 00"}));
    EXPECT_EQ(side.events, (Events{"lists"})) << "a refresh does not rest";
    EXPECT_EQ(side.messagesPassed, 4) << "one message after each remote and each output frame";

    // The answers arrive and are taken into the inputs with their time.
    const std::uint8_t input = 0x41;
    bus.setObject(kNode, 0x6000, 1, &input, 1);
    Cycle(400);
    Cycle(1);
    EXPECT_EQ(processImage->inputs[0].kind, EntryData);
    EXPECT_EQ(processImage->inputs[0].value, 0x41u);
    EXPECT_NE(processImage->inputs[0].rxTime, 0u);
}

TEST_F(MasterTest, OutputsReachTheSlaveUnlessFrozen)
{
    StartConfirmed();
    OutputTable[0].value = 0x1F;
    Cycle(400);
    EXPECT_EQ(bus.ObjectU32(kNode, 0x6200, 1), 0x1Fu);
    EXPECT_EQ(processImage->sentOutputs[0].value, 0x1Fu);

    commState.freezeOutputs = 1;
    OutputTable[0].value = 0x22;
    Cycle(400);
    EXPECT_EQ(bus.ObjectU32(kNode, 0x6200, 1), 0x1Fu) << "frozen: the slave keeps the last value";

    commState.freezeOutputs = 0;
    Cycle(400);
    EXPECT_EQ(bus.ObjectU32(kNode, 0x6200, 1), 0x22u);
}

TEST_F(MasterTest, ABusFaultDuringTheExchangeAsksAndStops)
{
    StartConfirmed();
    bus.setStatus(0x0008);
    side.answers.push_back(AnswerCancel);
    EXPECT_EQ(RunExchangeCycle(TestOwner()), 0);
    EXPECT_EQ(side.events.front(), "ask retry 1008");
    EXPECT_EQ(commState.active, 0u);
    bus.setStatus(0);
}

TEST_F(MasterTest, TheIdleCycleCarriesOutDeferredCommandsOnce)
{
    commState.windowReady = 0;
    EXPECT_EQ(RunIdleCycle(), 0);
    EXPECT_TRUE(side.events.empty()) << "nothing before the main window is ready";

    commState.windowReady = 1;
    commState.DeferredCommand = DeferredOpenRead;
    EXPECT_EQ(RunIdleCycle(), 1);
    commState.DeferredCommand = DeferredOpenWrite;
    EXPECT_EQ(RunIdleCycle(), 1);
    EXPECT_EQ(RunIdleCycle(), 1);
    EXPECT_EQ(side.events, (Events{"open read", "open write"}));
    EXPECT_EQ(commState.DeferredCommand, DeferredNone);

    StartConfirmed();
    commState.DeferredCommand = DeferredStop;
    RunIdleCycle();
    EXPECT_EQ(side.events, (Events{"validate", "busy", "comm off", "lists forced", "controls", "not busy"}));
    EXPECT_EQ(bus.nodeState(kNode), kSimStatePreOperational);

    StartConfirmed();
    commState.DeferredCommand = DeferredClose;
    RunIdleCycle();
    EXPECT_EQ(side.events, (Events{"close dialogs", "comm off", "lists forced", "controls", "settings", "destroy"}));
    EXPECT_EQ(commState.DeferredCommand, DeferredNone);
}

TEST_F(MasterTest, AnObjectRequestWhileStoppedOpensReadsAndClosesTheBus)
{
    ObjectRequest& request = processImage->request;
    request.index = 0x1000;
    request.subindex = 0;
    request.direction = 0;
    request.pending = 1;
    RunIdleCycle();
    EXPECT_EQ(request.pending, 0u);
    ASSERT_EQ(side.readResult.size(), 4u);
    const std::uint32_t deviceType = bus.ObjectU32(kNode, 0x1000, 0);
    EXPECT_EQ(side.readResult[0] | side.readResult[1] << 8 | side.readResult[2] << 16 |
                  static_cast<std::uint32_t>(side.readResult[3]) << 24,
              deviceType);
    EXPECT_EQ(DriverLoaded(), 0) << "the bus is closed again";

    // A missing object: the abort code is shown, nothing handed over.
    side.events.clear();
    side.readResult.clear();
    request.index = 0x2FFF;
    request.pending = 1;
    RunIdleCycle();
    EXPECT_EQ(Shown(side.events), (Events{"notice 1017"}));
    EXPECT_EQ(side.arguments.back(), L"06020000h");
    EXPECT_TRUE(side.readResult.empty());

    // A write that the slave takes.
    side.events.clear();
    request.index = 0x6200;
    request.subindex = 1;
    request.direction = 1;
    request.data[0] = 0x5A;
    request.length = 1;
    request.pending = 1;
    RunIdleCycle();
    EXPECT_TRUE(Shown(side.events).empty());
    EXPECT_EQ(bus.ObjectU32(kNode, 0x6200, 1), 0x5Au);

    // A silent slave: the failure is reported.
    bus.setNodeMode(kNode, kSimNodeSilent, 0);
    request.direction = 0;
    request.pending = 1;
    RunIdleCycle();
    EXPECT_EQ(Shown(side.events), (Events{"message 1008"}));
    EXPECT_EQ(DriverLoaded(), 0);
}

TEST_F(MasterTest, AnObjectReadInsideTheExchangeDoesNotRestInTheNestedCycle)
{
    StartConfirmed();
    // The read runs a nested idle cycle first; its exchange must not wait for input.
    std::uint8_t data[4] = {};
    std::uint32_t length = 0;
    const SdoResult result = ReadObjectDefault(kNode, 0x1000, 0, data, length);
    EXPECT_EQ(result.failed, 0u);
    EXPECT_EQ(length, 4u);
    EXPECT_EQ(side.Count("wait"), 0u);
    EXPECT_EQ(nestedIdleDepth, 0) << "the depth is back after the nested cycle";
}

TEST_F(MasterTest, TheSearchFindsTheTwoSlavesAndReportsEveryNode)
{
    side.messagesWaiting = 1000;
    const std::uint32_t before = TickMs();
    EXPECT_EQ(ScanSlaves(TestOwner()), 1);
    const std::uint32_t elapsed = TickMs() - before;

    EXPECT_EQ(SlaveScanTable[0], ScanNotScanned);
    for (std::uint32_t node = 1; node <= 127; ++node)
        EXPECT_EQ(SlaveScanTable[node], node == 3 || node == 5 ? ScanAnswered : ScanNoAnswer) << node;
    EXPECT_EQ(side.Count("search list"), 127u);
    EXPECT_EQ(side.messagesPassed, 127) << "one message passed on per node";
    EXPECT_EQ(slaveFound, 1);
    EXPECT_EQ(scanRunning, 0);
    EXPECT_EQ(DriverLoaded(), 0) << "the search closes the bus";
    EXPECT_GE(elapsed, 125u * kScanTimeoutMs) << "each silent node waited for its time-out";
}

TEST_F(MasterTest, AnAbortedSearchStopsBeforeTheNextNode)
{
    int reports = 0;
    side.onSearchProgress = [&reports] {
        if (++reports == 4)
            scanAbort = 1;
    };
    EXPECT_EQ(ScanSlaves(TestOwner()), 1);
    EXPECT_EQ(reports, 4);
    EXPECT_EQ(SlaveScanTable[3], ScanAnswered);
    EXPECT_EQ(SlaveScanTable[4], ScanNoAnswer);
    EXPECT_EQ(SlaveScanTable[5], ScanNotScanned);
    EXPECT_EQ(scanRunning, 0);
    EXPECT_EQ(DriverLoaded(), 0);

    // No slave at all: nothing found.
    side.onSearchProgress = nullptr;
    bus.setNodeMode(3, kSimNodeSilent, 0);
    bus.setNodeMode(5, kSimNodeSilent, 0);
    EXPECT_EQ(ScanSlaves(TestOwner()), 1);
    EXPECT_EQ(slaveFound, 0);
}

TEST_F(MasterTest, AnObjectRequestWaitsWhileASearchHoldsTheBus)
{
    ObjectRequest& request = processImage->request;
    request.index = 0x1000;
    request.pending = 1;
    // Every object read of the search runs a nested idle cycle, which sees the request.
    side.onSearchProgress = [this] {
        if (side.Count("search list") == 3)
            scanAbort = 1;
    };
    ScanSlaves(TestOwner());
    EXPECT_EQ(request.pending, 1u) << "served only after the search";
    RunIdleCycle();
    EXPECT_EQ(request.pending, 0u);
    EXPECT_EQ(side.readResult.size(), 4u);
}

}  // namespace
