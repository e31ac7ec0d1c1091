// Slaves that misbehave: silent, late, aborting everything, answering malformed frames,
// flooding the bus with PDOs, resetting themselves. Each ends in a bounded time with the
// outcome the operator is told, and the master's abort frame where it owes one.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "app.h"
#include "bus_pump.h"
#include "comm_state.h"
#include "node_monitor.h"
#include "driver.h"
#include "exchange.h"
#include "fault_fixture.h"
#include "node_table.h"
#include "process_image.h"
#include "resource.h"
#include "settings.h"
#include "tick.h"

namespace {

constexpr wchar_t kCommFailure[] = L"Communication failure!";

// --- One object transfer while communication is stopped ---------------------------------

struct SlaveFault {
    const char* name;
    std::uint32_t node;
    std::uint32_t mode;  // kSimNode*
    std::uint32_t param;
    std::uint32_t direction;  // 0 read, 1 write
    std::uint16_t index;
    std::uint8_t subindex;
    std::uint32_t writeLength;  // bytes written, for a write
    const wchar_t* message;     // the one box the operator sees
    std::uint32_t masterAbort;  // code of the master's abort frame; 0: it sends none
    std::uint32_t limitMs;      // the whole request, bus open and close included
};

class SlaveFaultWhileStopped : public FaultTest, public ::testing::WithParamInterface<SlaveFault> {};

TEST_P(SlaveFaultWhileStopped, EndsInTimeWithTheRightOutcomeAndAbortFrame)
{
    const SlaveFault& c = GetParam();
    appSettings.CurrAdr = static_cast<std::int32_t>(c.node);
    ASSERT_EQ(bus.setNodeMode(c.node, c.mode, c.param), kSimOk);
    std::vector<std::uint8_t> data(c.writeLength);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>('a' + i);

    ManualTime time(bus);
    const std::vector<SeenMessageBox> boxes = TransferObject(c.direction, c.index, c.subindex, data);
    const std::uint32_t elapsedMs = time.ElapsedMs();

    EXPECT_EQ(Texts(boxes), std::vector<std::wstring>{c.message});
    EXPECT_LT(elapsedMs, c.limitMs);
    const std::vector<std::string> sent = Sent();
    ASSERT_FALSE(sent.empty());
    if (c.masterAbort != 0)
        EXPECT_EQ(sent.back(), AbortFrame(c.node, c.index, c.subindex, c.masterAbort));
    else
        EXPECT_EQ(std::count_if(sent.begin(), sent.end(),
                                [](const std::string& f) { return f.find(" 8: 80 ") != std::string::npos; }),
                  0)
            << "no abort frame in reply to the slave's abort";
    EXPECT_EQ(DriverLoaded(), 0) << "the bus is closed again";
    EXPECT_EQ(processImage->request.pending, 0u);

    // The slave behaves again, and what it sent late has arrived: the next read delivers
    // the right value, nothing stale.
    ASSERT_EQ(bus.setNodeMode(c.node, kSimNodeNormal, 0), kSimOk);
    time.AdvanceSlaves(2000);
    EXPECT_TRUE(TransferObject(0, 0x1000, 0).empty());
    ASSERT_EQ(processImage->request.length, 4u);
    const std::uint32_t deviceType = processImage->request.data[0] | (processImage->request.data[1] << 8) |
                                     (processImage->request.data[2] << 16) |
                                     (static_cast<std::uint32_t>(processImage->request.data[3]) << 24);
    EXPECT_EQ(deviceType, bus.ObjectU32(c.node, 0x1000, 0));
}

INSTANTIATE_TEST_SUITE_P(
    Table, SlaveFaultWhileStopped,
    ::testing::Values(
        SlaveFault{"Silent", 3, kSimNodeSilent, 0, 0, 0x1000, 0, 0, kCommFailure, 0x05040000, 2000},
        SlaveFault{"AnswersAfterTheTimeOut", 3, kSimNodeDelayed, 700, 0, 0x1000, 0, 0, kCommFailure, 0x05040000, 2000},
        SlaveFault{"AbortsEverything", 3, kSimNodeAbortAll, 0x06020000, 0, 0x1000, 0, 0,
                   L"Unable to access object!\nAbort Code: 06020000h", 0, 1500},
        SlaveFault{"AnswersWithLength7", 3, kSimNodeSdoLength7, 0, 0, 0x1000, 0, 0, kCommFailure, 0x08000000, 1500},
        SlaveFault{"EchoesTheWrongIndex", 3, kSimNodeWrongIndex, 0, 0, 0x1018, 1, 0, kCommFailure, 0x08000000, 1500},
        SlaveFault{"TogglesWronglyInAnUpload", 3, kSimNodeBadToggle, 0, 0, 0x1008, 0, 0, kCommFailure, 0x05030000,
                   1500},
        SlaveFault{"TogglesWronglyInADownload", 5, kSimNodeBadToggle, 0, 1, 0x2000, 0, 20, kCommFailure, 0x05030000,
                   1500},
        SlaveFault{"AnnouncesMoreThan1000Bytes", 3, kSimNodeAnnounce1001, 0, 0, 0x1000, 0, 0, kCommFailure, 0x05040005,
                   1500},
        SlaveFault{"EndsShortOfTheAnnouncedSize", 3, kSimNodeSizeMismatch, 0, 0, 0x1008, 0, 0, kCommFailure, 0x06040043,
                   1500},
        SlaveFault{"SendsSegmentsWithoutEnd", 3, kSimNodeEndlessSegments, 0, 0, 0x1008, 0, 0, kCommFailure, 0x05040005,
                   1500}),
    CaseName());

// --- While communication runs, or at its start ---------------------------------------

TEST_F(FaultTest, MalformedAnswerWhileCommunicatingAsksRetryOrCancel)
{
    ASSERT_TRUE(StartCommunication().empty());
    ASSERT_EQ(commState.active, 1u);
    Sent();
    bus.setNodeMode(3, kSimNodeSdoLength7, 0);
    ManualTime time(bus);
    const std::vector<SeenMessageBox> boxes = TransferObject(0, 0x1018, 1, {}, {IDCANCEL});
    EXPECT_LT(time.ElapsedMs(), 1500u);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, kCommFailure);
    EXPECT_EQ(boxes[0].buttons, (std::vector<int>{IDCANCEL, IDRETRY}));
    const std::vector<std::string> sent = Sent();
    EXPECT_NE(std::find(sent.begin(), sent.end(), AbortFrame(3, 0x1018, 1, 0x08000000)), sent.end());
    EXPECT_EQ(sent.back(), "000 2: 80 03") << "Cancel stops with the NMT frame";
    EXPECT_EQ(commState.active, 0u);
}

TEST_F(FaultTest, SlaveThatAbortsEveryObjectStartsWithoutProcessData)
{
    bus.setNodeMode(3, kSimNodeAbortAll, 0x06020000);
    EXPECT_TRUE(StartCommunication().empty());
    EXPECT_EQ(commState.active, 1u);
    EXPECT_EQ(pdoTable.inputPdoCount, 0u);
    EXPECT_EQ(pdoTable.outputPdoCount, 0u);
    EXPECT_TRUE(ListLines(GetDlgItem(window, IDC_INPUT_LIST)).empty());
    EXPECT_TRUE(ListLines(GetDlgItem(window, IDC_OUTPUT_LIST)).empty());
    const std::vector<std::string> sent = Sent();
    ASSERT_GE(sent.size(), 2u);
    EXPECT_EQ(sent[sent.size() - 2], "000 2: 01 03") << "the node is started all the same";
    EXPECT_EQ(sent.back(), "603 8: 40 17 10 00 00 00 00 00") << "then the monitor asks for the heartbeat time";
    EXPECT_EQ(nodeMonitor.producerKnown, 0u) << "refused: the slave is watched for its state alone";
    EXPECT_EQ(nodeMonitor.watching, 1u);
}

TEST_F(FaultTest, StartAgainstALateSlaveFailsAfterOneTimeOut)
{
    bus.setNodeMode(3, kSimNodeDelayed, 1100);  // later than the 1000 ms of the first object
    ManualTime time(bus);
    EXPECT_EQ(Texts(StartCommunication()), std::vector<std::wstring>{kCommFailure});
    const std::uint32_t elapsedMs = time.ElapsedMs();
    EXPECT_GE(elapsedMs, 2000u) << "open 0.5 s, one time-out of 1 s, the stop's pause of 0.5 s";
    EXPECT_LT(elapsedMs, 3000u);
    const std::vector<std::string> sent = Sent();
    EXPECT_EQ(sent, (std::vector<std::string>{"603 8: 40 00 18 01 00 00 00 00", AbortFrame(3, 0x1800, 1, 0x05040000)}));
    EXPECT_EQ(commState.active, 0u);
}

// --- A node flooding the bus with PDOs while the operator works -------------------------

class PdoFlood : public FaultTest {
protected:
    void SetUp() override
    {
        FaultTest::SetUp();
        ASSERT_TRUE(StartCommunication().empty());
        ASSERT_EQ(commState.active, 1u);
        ClickListLine(GetDlgItem(window, IDC_OUTPUT_LIST), 1);  // output PDO1 byte 0
    }

    // The operator clicks bit box 0; the click waits in the queue like any input.
    void PostBitClick() { PostMessageW(GetDlgItem(window, IDC_BIT0), BM_CLICK, 0, 0); }
};

TEST_F(PdoFlood, BelowTheQueueSizeTheWindowAndTheObjectReadsGoOn)
{
    ASSERT_EQ(bus.floodPdo(3, 4000), kSimOk);
    PostBitClick();
    {
        MessageBoxAnswerer answers;
        LoopPass();
        EXPECT_EQ(OutputTable[0].value, 1u) << "the click is handled in the first pass";
        for (int i = 0; i < 5; ++i)
            LoopPass();
        EXPECT_TRUE(answers.Seen().empty());
    }
    EXPECT_TRUE(TransferObject(0, 0x1018, 1).empty()) << "the read drains the queue and succeeds";
    EXPECT_EQ(processImage->request.length, 4u);
    EXPECT_EQ(commState.active, 1u);
}

TEST_F(PdoFlood, BeyondTheQueueSizeTheOverrunAsksRetryAndTheRestartGoesOn)
{
    const std::uint32_t readsBefore = bus.Counters().reads;
    ASSERT_EQ(bus.floodPdo(3, 10000), kSimOk);
    PostBitClick();
    ManualTime time(bus);
    {
        MessageBoxAnswerer answers({IDRETRY});
        LoopPass();
        EXPECT_EQ(OutputTable[0].value, 1u) << "the click is handled before the question";
        EXPECT_EQ(Texts(answers.Seen()), std::vector<std::wstring>{kCommFailure});
    }
    EXPECT_EQ(commState.active, 1u);
    EXPECT_LT(bus.Counters().reads - readsBefore, 4096u) << "the driver's queue held at most 4096 of the 10000";
    const std::vector<std::string> sent = Sent();
    EXPECT_EQ(
        std::count_if(sent.begin(), sent.end(), [](const std::string& f) { return f.rfind("603 8: 80", 0) == 0; }), 0)
        << "no transfer of the restart timed out or was aborted: the flood ends in bounded time";
    // The exchange goes on after the restart: the next refresh sends the edited output.
    AdvanceManualTick(320);
    LoopPass();
    EXPECT_EQ(bus.ObjectU32(3, 0x6200, 1), 1u);
}

// --- A slave that resets itself --------------------------------------------------------

TEST_F(FaultTest, SlaveResetDuringCommunicationGoesUnnoticedUntilTheNextStart)
{
    ManualTime time(bus);
    ASSERT_TRUE(StartCommunication().empty());
    ClickListLine(GetDlgItem(window, IDC_OUTPUT_LIST), 1);
    ASSERT_EQ(bus.bootNode(3), kSimOk);
    SendDlgItemMessageW(window, IDC_BIT0, BM_CLICK, 0, 0);
    {
        MessageBoxAnswerer answers;
        for (int i = 0; i < 3; ++i) {
            AdvanceManualTick(320);
            LoopPass();
        }
        EXPECT_TRUE(answers.Seen().empty()) << "no heartbeat or guarding: nothing tells the master";
    }
    EXPECT_EQ(commState.active, 1u);
    EXPECT_EQ(bus.nodeState(3), kSimStatePreOperational);
    EXPECT_EQ(bus.ObjectU32(3, 0x6200, 1), 0u) << "a pre-operational node ignores the outputs";
    const std::vector<std::string> sent = Sent();
    EXPECT_NE(std::find(sent.begin(), sent.end(), "203 1: 01"), sent.end()) << "the master keeps sending them";

    // Stop and start again: the node is configured and started anew.
    Command(IDM_STOP);
    RunIdleCycle();
    ASSERT_TRUE(StartCommunication().empty());
    EXPECT_EQ(bus.nodeState(3), kSimStateOperational);
    ClickListLine(GetDlgItem(window, IDC_OUTPUT_LIST), 1);
    SendDlgItemMessageW(window, IDC_BIT0, BM_CLICK, 0, 0);
    AdvanceManualTick(320);
    LoopPass();
    EXPECT_EQ(bus.ObjectU32(3, 0x6200, 1), 1u);
}

// The slave resets after it has answered the first segment of an upload.
SimBootNodeEntry bootNode = nullptr;
int segmentsBeforeReset = 0;

int SendAndResetTheSlave(const CanFrame& frame)
{
    const int sent = SendFrame(frame);
    if (frame.id == 0x603 && (frame.data[0] & 0xE0) == 0x60 && segmentsBeforeReset > 0 && --segmentsBeforeReset == 0)
        bootNode(3);
    return sent;
}

TEST_F(FaultTest, SlaveResetDuringASegmentedUploadEndsItWithTheSlavesAbort)
{
    bootNode = bus.bootNode;
    segmentsBeforeReset = 1;
    SetSendHook(SendAndResetTheSlave);
    const std::vector<SeenMessageBox> boxes = TransferObject(0, 0x1008, 0);
    SetSendHook(SendFrame);
    EXPECT_EQ(segmentsBeforeReset, 0);
    EXPECT_EQ(Texts(boxes), std::vector<std::wstring>{L"Unable to access object!\nAbort Code: 05040001h"});
    EXPECT_EQ(bus.nodeState(3), kSimStatePreOperational);
}

}  // namespace
