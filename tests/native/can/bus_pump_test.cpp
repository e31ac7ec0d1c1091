// The bus pump between a stand-in driver and the engine: what reaches the engine and the
// trace, what goes out to the driver, and how a full transmit queue is retried.
#include "bus_pump.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "bus_trace.h"
#include "driver.h"
#include "emergency.h"
#include "error_control.h"
#include "fake_driver.h"
#include "lss_master.h"
#include "pdo_slots.h"
#include "sdo_client.h"
#include "test_files.h"
#include "tick.h"

namespace {

constexpr std::uint32_t kStartTick = 50000;
constexpr std::uint32_t kQueueEmpty = 0x20;

DriverMsg Msg(std::uint32_t id, std::uint8_t msgType, std::uint8_t length,
              std::initializer_list<std::uint8_t> data = {})
{
    DriverMsg msg;
    std::memset(&msg, 0, sizeof msg);
    msg.id = id;
    msg.msgType = msgType;
    msg.length = length;
    std::size_t i = 0;
    for (const std::uint8_t byte : data)
        msg.data[i++] = byte;
    return msg;
}

CanFrame Frame(std::uint8_t remote, std::uint32_t id, std::uint8_t length,
               std::initializer_list<std::uint8_t> data = {})
{
    CanFrame frame{};
    frame.remote = remote;
    frame.id = id;
    frame.length = length;
    std::size_t i = 0;
    for (const std::uint8_t byte : data)
        frame.data[i++] = byte;
    return frame;
}

bool SameRecord(const DriverMsg& a, const DriverMsg& b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// The SDO upload request of object 0x1000 subindex 0, as node 5's client sends it.
const DriverMsg kUploadRequest = Msg(0x605, 0, 8, {0x40, 0x00, 0x10, 0x00, 0, 0, 0, 0});
const char* const kUploadRequestTrace = "     0: 605 - 40 00 10 00 00 00 00 00 \nID: 05h, Function: Ch (SDO (rx))\n";

class BusPump : public testing::Test {
protected:
    void SetUp() override
    {
        UnloadDriver();
        InstallFakeDriver().queueEmptyResult = kQueueEmpty;
        UseManualClock(kStartTick);
        ClearNodeTable(MasterNodeTable());
        SetSendHook(SendFrame);
        lastSendTick = 0;
        OpenTraceFile(tracePath_.c_str());
        previousTraceTick = kStartTick;
        ASSERT_EQ(LoadDriver(TestDriverFile("full").c_str()), 1);
        TheFakeDriver().events.clear();
    }
    void TearDown() override
    {
        UnloadDriver();
        CloseTraceFile();
        ClearSendHook();
        ClearNodeTable(MasterNodeTable());
        UseSystemClock();
        RemoveFakeDriver();
    }

    static void Receive(const DriverMsg& msg, std::uint32_t result = 0)
    {
        TheFakeDriver().receiveQueue.push_back({result, msg});
    }

    std::string Trace() const { return ReadWholeFile(tracePath_); }

    static void StartUploadOfNode5() { RequestUpload(5, 100, MasterNodeTable(), 0x1000, 0); }

private:
    ScratchFolder folder_;
    std::string tracePath_ = folder_.Utf8("tovral.log");
};

// Each call with nothing received runs exactly one cycle without a frame: the client's
// request goes out at the first call; after its time-out the failure is found at one
// call and the abort frame leaves at the next.
TEST_F(BusPump, EmptyQueueRunsOneCycleWithoutFrame)
{
    StartUploadOfNode5();

    PumpBus();
    ASSERT_EQ(WrittenMsgs().size(), 1u);
    EXPECT_TRUE(SameRecord(WrittenMsgs()[0], kUploadRequest));

    AdvanceManualTick(101);
    PumpBus();
    EXPECT_EQ(WrittenMsgs().size(), 1u);

    PumpBus();
    ASSERT_EQ(WrittenMsgs().size(), 2u);
    EXPECT_TRUE(SameRecord(WrittenMsgs()[1], Msg(0x605, 0, 8, {0x80, 0x00, 0x10, 0x00, 0x00, 0x00, 0x04, 0x05})));
    EXPECT_EQ(CountCalls(DriverCall::Read), 3);
}

// A data frame is traced, runs one cycle with it (the PDO of node 7 is stored) and then
// one without (node 5's request goes out), in this order.
TEST_F(BusPump, ReceivedDataFrameIsTracedThenCycledWithAndWithout)
{
    Receive(Msg(0x187, 0, 3, {0x01, 0x02, 0x03}));
    AdvanceManualTick(7);
    StartUploadOfNode5();

    PumpBus();

    std::uint8_t data[8] = {};
    std::uint32_t length = 0;
    EXPECT_EQ(FetchPdo(7, 0, MasterNodeTable(), data, length), 1);
    EXPECT_EQ(length, 3u);
    EXPECT_EQ(data[2], 0x03);
    ASSERT_EQ(WrittenMsgs().size(), 1u);
    EXPECT_EQ(Trace(), AsTextFile(std::string("     7: 187 - 01 02 03 \n"
                                              "ID: 07h, Function: 3h (PDO1 (tx))\n") +
                                  kUploadRequestTrace));
}

TEST_F(BusPump, SdoResponseReachesTheEngine)
{
    StartUploadOfNode5();
    PumpBus();
    Receive(Msg(0x585, 0, 8, {0x43, 0x00, 0x10, 0x00, 0x91, 0x01, 0x0F, 0x00}));
    PumpBus();

    std::uint8_t value[4] = {};
    std::uint32_t length = 0;
    std::uint8_t status = 0xFF;
    std::uint32_t abortCode = 1;
    ASSERT_EQ(FetchSdoResult(5, MasterNodeTable(), value, 4, length, status, abortCode), 1);
    EXPECT_EQ(status, SdoCompleted);
    EXPECT_EQ(length, 4u);
    EXPECT_EQ(value[0] | value[1] << 8 | value[2] << 16 | value[3] << 24, 0x000F0191);
}

// What waits in the queue when a transfer starts: every frame is traced in the order
// read and the inputs among them are kept, but a stale SDO response must not answer the
// request that has not even gone out yet; a status message is consumed untraced.
TEST_F(BusPump, DrainTracesEveryFrameAndKeepsInputsButNoSdoResponse)
{
    Receive(Msg(0x183, 0, 2, {0xA1, 0xA2}));
    AdvanceManualTick(3);
    Receive(Msg(0x585, 0, 8, {0x43, 0x00, 0x10, 0x00, 0x91, 0x01, 0x0F, 0x00}));
    Receive(Msg(0x000, 0x80, 0, {}));  // a driver status message
    Receive(Msg(0x283, 0, 4, {1, 2, 3, 4}));
    StartUploadOfNode5();

    DrainReceiveQueue();

    EXPECT_TRUE(TheFakeDriver().receiveQueue.empty());
    EXPECT_EQ(CountCalls(DriverCall::Read), 5) << "four messages and the empty queue";
    EXPECT_TRUE(WrittenMsgs().empty()) << "no engine cycle: the request has not gone out";
    EXPECT_EQ(Trace(), AsTextFile("     3: 183 - A1 A2 \nID: 03h, Function: 3h (PDO1 (tx))\n"
                                  "     0: 585 - 43 00 10 00 91 01 0F 00 \nID: 05h, Function: Bh (SDO (tx))\n"
                                  "     0: 283 - 01 02 03 04 \nID: 03h, Function: 5h (PDO2 (tx))\n"));

    std::uint8_t data[8] = {};
    std::uint32_t length = 0;
    EXPECT_EQ(FetchPdo(3, 0, MasterNodeTable(), data, length), 1);
    EXPECT_EQ(length, 2u);
    EXPECT_EQ(data[1], 0xA2);
    EXPECT_EQ(FetchPdo(3, 2, MasterNodeTable(), data, length), 1);
    EXPECT_EQ(length, 4u);

    PumpBus();
    ASSERT_EQ(WrittenMsgs().size(), 1u) << "the request leaves at the next pump";
    std::uint8_t value[4] = {};
    std::uint8_t status = 0;
    std::uint32_t abortCode = 0;
    EXPECT_EQ(FetchSdoResult(5, MasterNodeTable(), value, 4, length, status, abortCode), 0)
        << "the stale response did not complete the upload";
}

// Emergencies and error-control messages reach their consumers from the drain as they do
// from the pump: a boot-up or an emergency waiting before a transfer is not lost.
TEST_F(BusPump, DrainAndPumpOfferEveryFrameToTheConsumers)
{
    WatchHeartbeat(MasterErrorControl(), 3, 0, TickMs());
    WatchEmergencies(MasterEmergencyLog(), 3);
    Receive(Msg(0x703, 0, 1, {0x00}));
    Receive(Msg(0x083, 0, 8, {0x10, 0x81, 0x11, 1, 2, 3, 4, 5}));
    DrainReceiveQueue();
    EXPECT_EQ(TakeErrorControlEvents(MasterErrorControl()) & EventBootUp, EventBootUp);
    ASSERT_EQ(HeldEmergencies(MasterEmergencyLog()), 1u);
    EXPECT_EQ(NewestEmergency(MasterEmergencyLog(), 0).errorCode, 0x8110);

    Receive(Msg(0x703, 0, 1, {0x05}));
    PumpBus();
    EXPECT_EQ(MasterErrorControl().state, NmtOperational);

    // Guarding's requests leave through the pump's sender.
    GuardNode(MasterErrorControl(), 3, 100, 2, TickMs());
    PumpBus();
    ASSERT_EQ(WrittenMsgs().size(), 1u);
    EXPECT_EQ(WrittenMsgs()[0].id, 0x703u);
    EXPECT_EQ(WrittenMsgs()[0].msgType, kMsgRemote);
    StopErrorControl(MasterErrorControl());
    WatchEmergencies(MasterEmergencyLog(), 0);
}

// An LSS service runs through the pump: its request leaves through the pump's sender, its
// answer comes back through the pump's read.
TEST_F(BusPump, LssRequestsLeaveAndAnswersArriveThroughThePump)
{
    LssMaster& lss = MasterLss();
    ASSERT_EQ(StartLssService(lss, LssRequest{.service = LssService::InquireNodeId}, TickMs()), 1);
    PumpBus();
    ASSERT_EQ(WrittenMsgs().size(), 1u);
    EXPECT_TRUE(SameRecord(WrittenMsgs()[0], Msg(0x7E5, 0, 8, {0x5E})));
    Receive(Msg(0x7E4, 0, 8, {0x5E, 0x21}));
    PumpBus();
    LssResult result{};
    ASSERT_EQ(TakeLssResult(lss, result), 1);
    EXPECT_EQ(result.outcome, LssOutcome::Success);
    EXPECT_EQ(result.value, 0x21u);
    lss = LssMaster{};
}

// Reads that bring no frame: a driver status message (consumed, neither traced nor
// offered to the engine) and any non-zero read result, whatever the record holds. The
// cycle without a frame still runs.
struct NoFrameCase {
    const char* name;
    std::uint32_t result;
    std::uint8_t msgType;
};

class ReadWithoutFrame : public BusPump, public testing::WithParamInterface<NoFrameCase> {};

TEST_P(ReadWithoutFrame, NeitherTracedNorOfferedToTheEngine)
{
    const NoFrameCase& c = GetParam();
    Receive(Msg(0x185, c.msgType, 2, {0x11, 0x22}), c.result);
    StartUploadOfNode5();

    PumpBus();

    EXPECT_TRUE(TheFakeDriver().receiveQueue.empty());
    std::uint8_t data[8] = {};
    std::uint32_t length = 0;
    EXPECT_EQ(FetchPdo(5, 0, MasterNodeTable(), data, length), 0);
    EXPECT_EQ(WrittenMsgs().size(), 1u);
    EXPECT_EQ(Trace(), AsTextFile(kUploadRequestTrace));
}

INSTANTIATE_TEST_SUITE_P(Cases, ReadWithoutFrame,
                         testing::Values(NoFrameCase{"StatusMessage", 0, 0x80},
                                         NoFrameCase{"StatusMessageWithFrameBits", 0, 0x83},
                                         NoFrameCase{"QueueEmpty", kQueueEmpty, 0},
                                         NoFrameCase{"OtherError", 0x0100, 0}, NoFrameCase{"NotLoadedResult", 512, 0}),
                         [](const testing::TestParamInfo<NoFrameCase>& naming) {
                             return std::string(naming.param.name);
                         });

// A received remote frame reaches the engine as remote: it is neither taken as the SDO
// response it would otherwise be nor stored as PDO data.
TEST_F(BusPump, ReceivedRemoteFrameIsNeverTakenAsData)
{
    StartUploadOfNode5();
    PumpBus();
    Receive(Msg(0x585, kMsgRemote, 8, {0x43, 0x00, 0x10, 0x00, 0x91, 0x01, 0x0F, 0x00}));
    Receive(Msg(0x185, kMsgRemote, 8, {1, 2, 3, 4, 5, 6, 7, 8}));
    PumpBus();
    PumpBus();

    std::uint8_t data[8] = {};
    std::uint32_t length = 0;
    std::uint8_t status = 0;
    std::uint32_t abortCode = 0;
    EXPECT_EQ(FetchSdoResult(5, MasterNodeTable(), data, 8, length, status, abortCode), 0);
    EXPECT_EQ(FetchPdo(5, 0, MasterNodeTable(), data, length), 0);
    EXPECT_EQ(Trace(), AsTextFile(std::string(kUploadRequestTrace) +
                                  "     0: 585( RTR ) - L=8\nID: 05h, Function: Bh (SDO (tx))\n"
                                  "     0: 185( RTR ) - L=8\nID: 05h, Function: 3h (PDO1 (tx))\n"));
}

TEST_F(BusPump, RemoteFrameIsSentAsRemoteWithItsLength)
{
    EXPECT_EQ(SendFrame(Frame(1, 0x185, 2, {0xAA, 0xBB})), 1);

    ASSERT_EQ(WrittenMsgs().size(), 1u);
    EXPECT_TRUE(SameRecord(WrittenMsgs()[0], Msg(0x185, kMsgRemote, 2, {0xAA, 0xBB})));
    EXPECT_EQ(Trace(), AsTextFile("     0: 185( RTR ) - L=2\nID: 05h, Function: 3h (PDO1 (tx))\n"));
}

struct ToFrameCase {
    const char* name;
    DriverMsg msg;
    CanFrame frame;
};

class MsgToFrameConversion : public testing::TestWithParam<ToFrameCase> {};

TEST_P(MsgToFrameConversion, GivesTheEnginesFrame)
{
    const CanFrame frame = MsgToFrame(GetParam().msg);
    const CanFrame& expected = GetParam().frame;
    EXPECT_EQ(frame.remote, expected.remote);
    EXPECT_EQ(frame.id, expected.id);
    EXPECT_EQ(frame.length, expected.length);
    EXPECT_EQ(frame.data, expected.data);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MsgToFrameConversion,
    testing::Values(ToFrameCase{"DataFrame", Msg(0x181, 0, 2, {1, 2}), Frame(0, 0x181, 2, {1, 2})},
                    ToFrameCase{"RemoteFrame", Msg(0x181, kMsgRemote, 4), Frame(1, 0x181, 4)},
                    // The extended bit is dropped; the identifier stays whole.
                    ToFrameCase{"ExtendedFrame", Msg(0x18FF50E5, kMsgExtended, 1, {9}), Frame(0, 0x18FF50E5, 1, {9})},
                    ToFrameCase{"ExtendedRemoteFrame", Msg(0x1ABCD603, kMsgExtended | kMsgRemote, 0),
                                Frame(1, 0x1ABCD603, 0)},
                    // All eight bytes are copied whatever the length says.
                    ToFrameCase{"BytesBeyondTheLength", Msg(0x201, 0, 2, {1, 2, 3, 4, 5, 6, 7, 8}),
                                Frame(0, 0x201, 2, {1, 2, 3, 4, 5, 6, 7, 8})}),
    [](const testing::TestParamInfo<ToFrameCase>& naming) { return std::string(naming.param.name); });

struct ToMsgCase {
    const char* name;
    CanFrame frame;
    DriverMsg msg;
};

class FrameToMsgConversion : public testing::TestWithParam<ToMsgCase> {};

TEST_P(FrameToMsgConversion, GivesTheWholeDriverRecord)
{
    const DriverMsg msg = FrameToMsg(GetParam().frame);
    EXPECT_TRUE(SameRecord(msg, GetParam().msg));  // the two trailing bytes included
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FrameToMsgConversion,
    testing::Values(ToMsgCase{"DataFrame", Frame(0, 0x605, 8, {0x40, 0, 0x10, 0, 0, 0, 0, 0}),
                              Msg(0x605, 0, 8, {0x40, 0, 0x10, 0, 0, 0, 0, 0})},
                    ToMsgCase{"NmtCommand", Frame(0, 0x000, 2, {0x80, 0x05}), Msg(0x000, 0, 2, {0x80, 0x05})},
                    ToMsgCase{"RemoteFrame", Frame(1, 0x285, 8), Msg(0x285, kMsgRemote, 8)},
                    ToMsgCase{"AnyNonZeroRemote", Frame(0xFF, 0x285, 1), Msg(0x285, kMsgRemote, 1)},
                    ToMsgCase{"BytesBeyondTheLength", Frame(0, 0x301, 1, {1, 2, 3, 4, 5, 6, 7, 8}),
                              Msg(0x301, 0, 1, {1, 2, 3, 4, 5, 6, 7, 8})}),
    [](const testing::TestParamInfo<ToMsgCase>& naming) { return std::string(naming.param.name); });

// CAN_Write results in order, and how far the manual clock moves with every write.
struct RetryCase {
    const char* name;
    std::vector<std::uint32_t> results;  // then resultAfter for ever
    std::uint32_t resultAfter;
    std::uint32_t advanceMs;
    std::uint32_t startTick;
    std::size_t writes;  // CAN_Write calls expected
    int sent;            // SendFrame's result
};

class TransmitRetry : public BusPump, public testing::WithParamInterface<RetryCase> {};

TEST_P(TransmitRetry, RepeatsTheSameWhileFullForAtMostTheBound)
{
    const RetryCase& c = GetParam();
    FakeDriver& driver = TheFakeDriver();
    driver.writeResults.assign(c.results.begin(), c.results.end());
    driver.writeResultAfter = c.resultAfter;
    driver.writeAdvanceMs = c.advanceMs;
    SetManualTick(c.startTick);
    previousTraceTick = c.startTick;

    EXPECT_EQ(SendFrame(Frame(0, 0x205, 2, {0x12, 0x34})), c.sent);

    const std::vector<DriverMsg> written = WrittenMsgs();
    ASSERT_EQ(written.size(), c.writes);
    for (const DriverMsg& msg : written)
        EXPECT_TRUE(SameRecord(msg, Msg(0x205, 0, 2, {0x12, 0x34})));
    // The attempt is recorded whatever its outcome; only an accepted frame is traced.
    EXPECT_EQ(lastSendTick, c.startTick + static_cast<std::uint32_t>(c.writes) * c.advanceMs);
    char line[128];
    std::snprintf(line, sizeof line, "%6u: 205 - 12 34 \nID: 05h, Function: 4h (PDO1 (rx))\n",
                  static_cast<unsigned>(c.writes * c.advanceMs));
    EXPECT_EQ(Trace(), c.sent != 0 ? AsTextFile(line) : std::string());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TransmitRetry,
    testing::Values(RetryCase{"AcceptedAtOnce", {}, 0, 1, kStartTick, 1, 1},
                    RetryCase{"FullTwiceThenAccepted", {0x80, 0x80}, 0, 0, kStartTick, 3, 1},
                    RetryCase{"FullWithOtherBitsThenAccepted", {0x81, 0x180}, 0, 0, kStartTick, 3, 1},
                    RetryCase{"RefusedAtOnce", {}, 0x05, 1, kStartTick, 1, 0},
                    RetryCase{"FullThenRefused", {0x80}, 0x05, 0, kStartTick, 2, 0},
                    // Reaching the bound exactly is not yet too late.
                    RetryCase{"AcceptedAtTheBound", {0x80, 0x80}, 0, 50, kStartTick, 3, 1},
                    RetryCase{"FullForeverOneMsPerWrite", {}, 0x80, 1, kStartTick, 101, 0},
                    RetryCase{"FullForeverSlowWrites", {}, 0x80, 30, kStartTick, 4, 0},
                    RetryCase{"FullForeverAcrossTheTickWrap", {}, 0x80, 1, 0xFFFFFFC0u, 101, 0}),
    [](const testing::TestParamInfo<RetryCase>& naming) { return std::string(naming.param.name); });

// With no library loaded nothing is read or written; the frame-less cycle still runs, and
// its send attempt fails at once but is recorded.
TEST_F(BusPump, NothingLoaded)
{
    UnloadDriver();
    TheFakeDriver().events.clear();
    StartUploadOfNode5();
    AdvanceManualTick(25);

    PumpBus();

    EXPECT_EQ(lastSendTick, kStartTick + 25);
    EXPECT_EQ(SendFrame(Frame(0, 0x000, 2, {0x80, 0x05})), 0);
    EXPECT_TRUE(TheFakeDriver().events.empty());
    EXPECT_EQ(Trace(), "");
}

}  // namespace
