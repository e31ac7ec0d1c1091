// The node monitor against the simulated slaves on the manual clock: the heartbeat read
// and supervised from Start, its loss and return, emergencies kept across a stop, the
// NMT commands and their rules, the error history, guarding.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "comm_state.h"
#include "communication.h"
#include "emergency.h"
#include "error_control.h"
#include "driver.h"
#include "exchange.h"
#include "frame_routing.h"
#include "master_start.h"
#include "master_test_support.h"
#include "message_texts.h"
#include "node_monitor.h"
#include "resource.h"
#include "settings_values.h"
#include "slave_search.h"
#include "tick.h"

namespace {

constexpr std::uint32_t kNode = 3;

class NodeMonitorTest : public MasterTest {
protected:
    void SetUp() override
    {
        MasterTest::SetUp();
        monitorSettings = kDefaultMonitorSettings;
        SyncSimClock();
    }

    void TearDown() override
    {
        bus.setClock(0, 0);
        MasterTest::TearDown();
    }

    // The slaves' clock follows the test's.
    void SyncSimClock() { bus.setClock(1, TickMs()); }

    void SetProducerTime(std::uint32_t node, std::uint16_t ms)
    {
        const std::uint8_t bytes[2] = {static_cast<std::uint8_t>(ms), static_cast<std::uint8_t>(ms >> 8)};
        ASSERT_EQ(bus.setObject(node, 0x1017, 0, bytes, 2), 0u);
    }

    // Idle cycles every `stepMs` for `ms`; stops early once `until` holds and returns
    // the tick at which it did (0 when it never did).
    template <typename Condition>
    std::uint32_t RunUntil(std::uint32_t ms, std::uint32_t stepMs, Condition until)
    {
        const std::uint32_t start = TickMs();
        while (TickMs() - start < ms) {
            AdvanceManualTick(stepMs);
            SyncSimClock();
            RunIdleCycle();
            if (until())
                return TickMs();
        }
        return 0;
    }

    void RunFor(std::uint32_t ms, std::uint32_t stepMs = 10)
    {
        RunUntil(ms, stepMs, [] { return false; });
    }

    bool SentContains(const std::vector<std::string>& sent, const std::string& frame)
    {
        for (const std::string& text : sent)
            if (text == frame)
                return true;
        return false;
    }
};

TEST_F(NodeMonitorTest, StartSupervisesTheHeartbeatItsLossAtTheConsumerTimeAndItsReturn)
{
    SetProducerTime(kNode, 200);
    StartConfirmed();
    EXPECT_EQ(nodeMonitor.node, kNode);
    EXPECT_EQ(nodeMonitor.watching, 1u);
    EXPECT_EQ(nodeMonitor.producerTimeMs, 200u);
    EXPECT_EQ(nodeMonitor.consumerTimeMs, 300u) << "producer time x 1.5";
    EXPECT_TRUE(ConsumersWatching());

    ASSERT_NE(RunUntil(1000, 10, [] { return nodeMonitor.stateSeen != 0; }), 0u);
    EXPECT_EQ(nodeMonitor.state, NmtOperational);
    RunFor(500);
    EXPECT_EQ(nodeMonitor.lost, 0u) << "heartbeats every 200 ms keep a 300 ms consumer content";
    EXPECT_EQ(nodeMonitor.alerts, 0u);

    // Unplugged: lost once the consumer time has passed since the last heartbeat.
    ASSERT_EQ(bus.setNodeMode(kNode, kSimNodeSilent, 0), 0u);
    const std::uint32_t last = MasterErrorControl().seenTick;
    const int shownBefore = side.nodeStatusShown;
    const std::uint32_t lostAt = RunUntil(1000, 5, [] { return nodeMonitor.lost != 0; });
    ASSERT_NE(lostAt, 0u);
    EXPECT_GE(lostAt - last, 300u);
    EXPECT_LE(lostAt - last, 300u + 10u) << "noticed within the cycle of its deadline";
    EXPECT_NE(nodeMonitor.alerts & AlertHeartbeatLost, 0u);
    EXPECT_GT(side.nodeStatusShown, shownBefore) << "the windows are told";

    // Plugged in again: the next heartbeat ends the loss and its alert.
    ASSERT_EQ(bus.setNodeMode(kNode, kSimNodeNormal, 0), 0u);
    ASSERT_NE(RunUntil(1000, 10, [] { return nodeMonitor.lost == 0; }), 0u);
    EXPECT_EQ(nodeMonitor.alerts & AlertHeartbeatLost, 0u);

    // A new producer time written by the operator is supervised from then on.
    const std::uint8_t faster[2] = {100, 0};
    PostObjectRequest(0x1017, 0, faster, 2, 1);
    RunFor(20);
    EXPECT_EQ(nodeMonitor.producerTimeMs, 100u);
    EXPECT_EQ(nodeMonitor.consumerTimeMs, 150u);

    // The operator's consumer time replaces the derived one at once.
    ApplyMonitorSettings(MonitorSettings{800, 0});
    EXPECT_EQ(nodeMonitor.consumerTimeMs, 800u);
    EXPECT_EQ(MasterErrorControl().timeMs, 800u);

    // Stopped: nothing is watched any more, the state seen stays.
    StopCommunication(TestOwner());
    EXPECT_EQ(nodeMonitor.watching, 0u);
    EXPECT_FALSE(ConsumersWatching()) << "a closed bus costs the pump nothing";
    EXPECT_EQ(nodeMonitor.state, NmtOperational);
}

TEST_F(NodeMonitorTest, ASlaveWithoutHeartbeatIsWatchedForItsStateAndGuardedWhenTheOperatorAsks)
{
    StartConfirmed();
    EXPECT_EQ(nodeMonitor.producerTimeMs, 0u);
    EXPECT_EQ(nodeMonitor.consumerTimeMs, 0u);
    EXPECT_EQ(nodeMonitor.guardTimeMs, 0u) << "guarding is off by default";
    RunFor(300);
    for (const std::string& frame : Sent())
        EXPECT_NE(frame.rfind("703 RTR", 0), 0u) << "no guarding request unless chosen";

    ApplyMonitorSettings(MonitorSettings{0, 100});
    EXPECT_EQ(nodeMonitor.guardTimeMs, 100u);
    ASSERT_NE(RunUntil(500, 10, [] { return nodeMonitor.stateSeen != 0; }), 0u);
    EXPECT_EQ(nodeMonitor.state, NmtOperational) << "from the guarding answer, toggle bit aside";
    EXPECT_TRUE(SentContains(Sent(), "703 RTR 1"));
    EXPECT_EQ(nodeMonitor.lost, 0u);

    // Three unanswered requests in a row: lost.
    ASSERT_EQ(bus.setNodeMode(kNode, kSimNodeSilent, 0), 0u);
    ASSERT_NE(RunUntil(1000, 10, [] { return nodeMonitor.lost != 0; }), 0u);
    EXPECT_NE(nodeMonitor.alerts & AlertHeartbeatLost, 0u);
    ASSERT_EQ(bus.setNodeMode(kNode, kSimNodeNormal, 0), 0u);
    ASSERT_NE(RunUntil(1000, 10, [] { return nodeMonitor.lost == 0; }), 0u);
    EXPECT_EQ(nodeMonitor.toggleMismatches, 0u);
}

TEST_F(NodeMonitorTest, EmergenciesAreDecodedAlertedAndKeptAcrossAStopOfTheSameSlave)
{
    StartConfirmed();
    const std::uint8_t bytes[5] = {0x11, 0x22, 0x33, 0x44, 0x55};
    ASSERT_EQ(bus.raiseEmergency(kNode, 0x8130, kSimAutoErrorRegister, bytes), 0u);
    ASSERT_NE(RunUntil(100, 10, [] { return HeldEmergencies(MasterEmergencyLog()) != 0; }), 0u);

    const Emergency& newest = NewestEmergency(MasterEmergencyLog(), 0);
    EXPECT_EQ(newest.errorCode, 0x8130);
    EXPECT_NE(newest.errorRegister & 0x10, 0) << "communication bit";
    EXPECT_EQ(newest.manufacturer[0], 0x11);
    EXPECT_EQ(newest.manufacturer[4], 0x55);
    EXPECT_NE(nodeMonitor.alerts & AlertEmergency, 0u);
    EXPECT_EQ(nodeMonitor.newEmergencies, 1u);
    EXPECT_STREQ(MessageText(EmergencyClassTextId(newest.errorCode), TextLanguage::English), "Communication");
    EXPECT_STREQ(MessageText(EmergencyCodeTextId(newest.errorCode), TextLanguage::English),
                 "Life guard error or heartbeat error");
    EXPECT_STREQ(MessageText(EmergencyCodeTextId(newest.errorCode), TextLanguage::German),
                 "Life-Guarding- oder Heartbeat-Fehler");

    // Writing 0 to the simulated error object clears the error with an error reset.
    const std::uint8_t zero[2] = {0, 0};
    ASSERT_EQ(bus.setObject(kNode, 0x2100, 1, zero, 2), 0u);
    const std::uint8_t none[5] = {};
    ASSERT_EQ(bus.raiseEmergency(kNode, 0x0000, 0, none), 0u);
    ASSERT_NE(RunUntil(100, 10, [] { return HeldEmergencies(MasterEmergencyLog()) == 2; }), 0u);
    EXPECT_EQ(ClassOfEmergency(NewestEmergency(MasterEmergencyLog(), 0).errorCode), EmergencyClass::ErrorReset);
    EXPECT_EQ(NewestEmergency(MasterEmergencyLog(), 1).errorCode, 0x8130) << "newest first";
    EXPECT_EQ(nodeMonitor.newEmergencies, 2u);

    AcknowledgeMonitorAlerts(TestOwner());
    EXPECT_EQ(nodeMonitor.alerts & AlertEmergency, 0u);
    EXPECT_EQ(nodeMonitor.newEmergencies, 0u);

    // A stop and a new start of the same slave keep what was received.
    StopCommunication(TestOwner());
    EXPECT_EQ(HeldEmergencies(MasterEmergencyLog()), 2u);
    StartConfirmed();
    EXPECT_EQ(HeldEmergencies(MasterEmergencyLog()), 2u);
    StopCommunication(TestOwner());

    // Another slave starts empty.
    ASSERT_EQ(UseSlave(5), 1);
    StartConfirmed();
    EXPECT_EQ(nodeMonitor.node, 5u);
    EXPECT_EQ(HeldEmergencies(MasterEmergencyLog()), 0u);
    StopCommunication(TestOwner());
}

TEST_F(NodeMonitorTest, CommandsWithTheBusClosedOpenItForTheirFrameAndWatchTheAnswer)
{
    const SimCounters before = bus.Counters();
    ASSERT_EQ(CommandNode(TestOwner(), NodeStop), 1);
    EXPECT_EQ(side.Count("ask"), 0u) << "Stop asks nothing with communication off";
    EXPECT_TRUE(SentContains(Sent(), "000 2: 02 03"));
    EXPECT_EQ(bus.nodeState(kNode), kSimStateStopped);
    EXPECT_EQ(bus.Counters().inits, before.inits + 1);
    EXPECT_EQ(DriverLoaded(), 0) << "closed again after the command";
    EXPECT_EQ(nodeMonitor.lastCommand, NodeStop);
    EXPECT_EQ(nodeMonitor.state, NmtStopped);
    EXPECT_EQ(nodeMonitor.stateCommanded, 1u) << "no heartbeat confirmed it: shown as commanded";
    EXPECT_FALSE(ConsumersWatching());

    // Start asks as the program's Start does; Cancel sends nothing.
    side.answers.push_back(AnswerCancel);
    EXPECT_EQ(CommandNode(TestOwner(), NodeStart), 0);
    EXPECT_EQ(side.events.back(), "ask ok-cancel 1010");
    EXPECT_TRUE(Sent().empty());
    EXPECT_EQ(bus.nodeState(kNode), kSimStateStopped);

    // Reset Node asks too; the boot-up that follows is seen while the bus is open.
    side.answers.push_back(AnswerOk);
    ASSERT_EQ(CommandNode(TestOwner(), NodeResetNode), 1);
    EXPECT_TRUE(SentContains(Sent(), "000 2: 81 03"));
    EXPECT_EQ(nodeMonitor.bootUps, 1u);
    EXPECT_EQ(nodeMonitor.stateSeen, 1u);
    EXPECT_EQ(nodeMonitor.state, NmtBootUp);
    EXPECT_EQ(nodeMonitor.stateCommanded, 0u) << "the slave's boot-up is what was seen";
    EXPECT_EQ(bus.nodeState(kNode), kSimStatePreOperational);

    // Refused while a search holds the bus.
    scanRunning = 1;
    EXPECT_EQ(CommandNode(TestOwner(), NodeStop), 0);
    scanRunning = 0;
    EXPECT_TRUE(Sent().empty());
}

TEST_F(NodeMonitorTest, WithCommunicationActiveACommandLeavingOperationalStopsTheExchangeFirst)
{
    StartConfirmed();

    // Start keeps the slave operational: asked, sent on the exchange's bus.
    side.answers.push_back(AnswerOk);
    ASSERT_EQ(CommandNode(TestOwner(), NodeStart), 1);
    EXPECT_EQ(side.events.back(), "ask ok-cancel 1010");
    EXPECT_TRUE(SentContains(Sent(), "000 2: 01 03"));
    EXPECT_EQ(commState.active, 1u);

    // Stop asks whether communication may be stopped; Cancel leaves everything running.
    side.answers.push_back(AnswerCancel);
    EXPECT_EQ(CommandNode(TestOwner(), NodeStop), 0);
    EXPECT_EQ(side.events.back(), "ask ok-cancel " + std::to_string(IDS_NMT_STOPS_COMM));
    EXPECT_EQ(commState.active, 1u);
    EXPECT_EQ(bus.nodeState(kNode), kSimStateOperational);
    EXPECT_FALSE(SentContains(Sent(), "000 2: 02 03"));

    // OK: the exchange ends (pre-operational, as Stop sends), then the slave is stopped.
    side.answers.push_back(AnswerOk);
    ASSERT_EQ(CommandNode(TestOwner(), NodeStop), 1);
    EXPECT_EQ(commState.active, 0u);
    EXPECT_EQ(side.Count("comm off"), 1u);
    const std::vector<std::string> sent = Sent();
    std::size_t preOp = sent.size();
    std::size_t stop = sent.size();
    for (std::size_t i = 0; i < sent.size(); ++i) {
        if (sent[i] == "000 2: 80 03" && preOp == sent.size())
            preOp = i;
        if (sent[i] == "000 2: 02 03")
            stop = i;
    }
    ASSERT_LT(preOp, sent.size());
    ASSERT_LT(stop, sent.size());
    EXPECT_LT(preOp, stop) << "the exchange is stopped before the command";
    EXPECT_EQ(bus.nodeState(kNode), kSimStateStopped);
}

TEST_F(NodeMonitorTest, TheErrorHistoryIsReadEntryByEntryAndClearedAfterTheQuestion)
{
    const std::uint8_t none[5] = {};
    ASSERT_EQ(bus.raiseEmergency(kNode, 0x3210, kSimAutoErrorRegister, none), 0u);
    ASSERT_EQ(bus.raiseEmergency(kNode, 0x8120, kSimAutoErrorRegister, none), 0u);

    ErrorHistory history{};
    ASSERT_EQ(ReadErrorHistory(TestOwner(), history), 1);
    ASSERT_GE(history.count, 2u);
    ASSERT_EQ(history.read, history.count);
    EXPECT_EQ(history.entries[0] & 0xFFFFu, 0x8120u) << "sub 1 is the newest";
    EXPECT_EQ(history.entries[1] & 0xFFFFu, 0x3210u);
    EXPECT_EQ(history.result.failed, 0u);

    SdoResult result{};
    side.answers.push_back(AnswerCancel);
    EXPECT_EQ(ClearErrorHistory(TestOwner(), result), 0);
    EXPECT_EQ(side.events.back(), "ask ok-cancel " + std::to_string(IDS_CLEAR_HISTORY_QUESTION));
    EXPECT_NE(bus.ObjectU32(kNode, 0x1003, 0), 0u);

    side.answers.push_back(AnswerOk);
    ASSERT_EQ(ClearErrorHistory(TestOwner(), result), 1);
    EXPECT_EQ(bus.ObjectU32(kNode, 0x1003, 0), 0u);
    ASSERT_EQ(ReadErrorHistory(TestOwner(), history), 1);
    EXPECT_EQ(history.count, 0u);
    EXPECT_EQ(history.read, 0u);
}

}  // namespace
