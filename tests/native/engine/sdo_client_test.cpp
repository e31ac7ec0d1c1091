#include <algorithm>
#include <numeric>

#include "engine_test_support.h"

namespace {

using B = std::vector<std::uint8_t>;

constexpr std::uint32_t kNode = 3;
constexpr std::uint32_t kTx = 0x603;
constexpr std::uint32_t kRx = 0x583;

// Index 0x2345, subindex 0x06 in every exchange: il = 45, ih = 23, ss = 06.
constexpr std::uint16_t kIndex = 0x2345;
constexpr std::uint8_t kSub = 0x06;

B AbortBytes(std::uint32_t code)
{
    return {0x80,
            0x45,
            0x23,
            0x06,
            static_cast<std::uint8_t>(code),
            static_cast<std::uint8_t>(code >> 8),
            static_cast<std::uint8_t>(code >> 16),
            static_cast<std::uint8_t>(code >> 24)};
}

std::vector<std::uint8_t> Pattern(std::uint32_t length)
{
    std::vector<std::uint8_t> data;
    for (std::uint32_t i = 0; i < length; ++i)
        data.push_back(static_cast<std::uint8_t>(i * 7 + 1));
    return data;
}

class SdoClient : public EngineTest {};

TEST_F(SdoClient, SegmentedUploadOfTenBytes)
{
    RequestUpload(kNode, 500, Table(), kIndex, kSub);
    Pump();
    EXPECT_EQ(TakeOne(kTx), (B{0x40, 0x45, 0x23, 0x06, 0, 0, 0, 0}));

    Pump(Frame(kRx, {0x41, 0x45, 0x23, 0x06, 0x0A, 0, 0, 0}));
    EXPECT_EQ(TakeOne(kTx), (B{0x60, 0, 0, 0, 0, 0, 0, 0}));

    Pump(Frame(kRx, {0x00, 1, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(TakeOne(kTx), (B{0x70, 0, 0, 0, 0, 0, 0, 0}));

    Pump(Frame(kRx, {0x19, 8, 9, 10, 0, 0, 0, 0}));
    EXPECT_TRUE(TakeSent().empty());
    EXPECT_EQ(RecordOf(Table(), kNode).offset, 10u);

    Result r = Fetch(kNode);
    EXPECT_EQ(r.ready, 1);
    EXPECT_EQ(r.status, SdoCompleted);
    EXPECT_EQ(r.abortCode, 0u);
    EXPECT_EQ(r.data, (B{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    EXPECT_EQ(Fetch(kNode).ready, 0) << "the result is taken once";
}

TEST_F(SdoClient, ExpeditedDownloadOfTwoBytes)
{
    const std::uint8_t data[] = {0x34, 0x12};
    ASSERT_EQ(RequestDownload(kNode, 500, Table(), kIndex, kSub, data, 2), 1);
    Pump();
    EXPECT_EQ(TakeOne(kTx), (B{0x2B, 0x45, 0x23, 0x06, 0x34, 0x12, 0, 0}));
    Pump(Frame(kRx, {0x60, 0x45, 0x23, 0x06, 0, 0, 0, 0}));
    EXPECT_TRUE(TakeSent().empty());
    Result r = Fetch(kNode);
    EXPECT_EQ(r.ready, 1);
    EXPECT_EQ(r.status, SdoCompleted);
    EXPECT_EQ(r.length, 0u) << "a download delivers no data";
}

TEST_F(SdoClient, ExpeditedDownloadOfOneToFourBytes)
{
    const std::uint8_t specifiers[] = {0x2F, 0x2B, 0x27, 0x23};
    for (std::uint32_t n = 1; n <= 4; ++n) {
        SCOPED_TRACE(n);
        const B data = Pattern(n);
        ASSERT_EQ(RequestDownload(kNode, 500, Table(), kIndex, kSub, data.data(), n), 1);
        Pump();
        B expected = {specifiers[n - 1], 0x45, 0x23, 0x06, 0, 0, 0, 0};
        std::copy(data.begin(), data.end(), expected.begin() + 4);
        EXPECT_EQ(TakeOne(kTx), expected);
        Pump(Frame(kRx, {0x60, 0x45, 0x23, 0x06, 0, 0, 0, 0}));
        EXPECT_EQ(Fetch(kNode).status, SdoCompleted);
    }
}

// Runs a segmented download against a well-behaved slave and checks every frame.
void ExpectSegmentedDownload(std::uint32_t length)
{
    const B data = Pattern(length);
    ASSERT_EQ(RequestDownload(kNode, 500, EngineTest::Table(), kIndex, kSub, data.data(), length), 1);
    sentFrames.clear();
    RunEngineCycle(EngineTest::Table(), nullptr);
    ASSERT_EQ(sentFrames.size(), 1u);
    EXPECT_EQ(Bytes(sentFrames[0]), (B{0x21, 0x45, 0x23, 0x06, static_cast<std::uint8_t>(length),
                                       static_cast<std::uint8_t>(length >> 8), 0, 0}));
    sentFrames.clear();
    CanFrame reply = Frame(kRx, {0x60, 0x45, 0x23, 0x06, 0, 0, 0, 0});
    RunEngineCycle(EngineTest::Table(), &reply);
    RunEngineCycle(EngineTest::Table(), nullptr);

    B received;
    std::uint32_t toggle = 0;
    for (std::uint32_t segment = 0;; ++segment) {
        ASSERT_EQ(sentFrames.size(), 1u) << "segment " << segment;
        const CanFrame out = sentFrames[0];
        sentFrames.clear();
        const std::uint8_t specifier = out.data[0];
        const std::uint32_t count = 7 - ((specifier >> 1) & 7);
        const bool last = (specifier & 1) != 0;
        EXPECT_EQ((specifier >> 4) & 1, toggle);
        EXPECT_EQ(specifier & 0xE0, 0x00);
        received.insert(received.end(), out.data.begin() + 1, out.data.begin() + 1 + count);
        for (std::uint32_t i = 1 + count; i < 8; ++i)
            EXPECT_EQ(out.data[i], 0) << "unused bytes are zero";
        EXPECT_EQ(last, received.size() == length);
        reply = Frame(kRx, {static_cast<std::uint8_t>(0x20 | (toggle << 4)), 0, 0, 0, 0, 0, 0, 0});
        toggle ^= 1;
        RunEngineCycle(EngineTest::Table(), &reply);
        RunEngineCycle(EngineTest::Table(), nullptr);
        if (last)
            break;
        ASSERT_LT(received.size(), length);
    }
    EXPECT_TRUE(sentFrames.empty());
    EXPECT_EQ(received, data);
    std::uint8_t buffer[4];
    std::uint32_t got = 0, code = 0;
    std::uint8_t status = 9;
    ASSERT_EQ(FetchSdoResult(kNode, EngineTest::Table(), buffer, 4, got, status, code), 1);
    EXPECT_EQ(status, SdoCompleted);
}

TEST_F(SdoClient, SegmentedDownloads)
{
    for (std::uint32_t length : {5u, 7u, 14u, 15u, 1000u}) {
        SCOPED_TRACE(length);
        ExpectSegmentedDownload(length);
    }
}

TEST_F(SdoClient, SegmentedDownloadFirstBytesAsOnTheBus)
{
    // 5 bytes: one segment, toggle 0, two bytes unused, last: 0x05.
    // 14 bytes: 0x00 then 0x11 (toggle 1, last).
    struct Case {
        std::uint32_t length;
        B specifiers;
    };
    for (const Case& c : {Case{5, {0x05}}, Case{7, {0x01}}, Case{14, {0x00, 0x11}}, Case{8, {0x00, 0x1D}}}) {
        SCOPED_TRACE(c.length);
        const B data = Pattern(c.length);
        ASSERT_EQ(RequestDownload(kNode, 500, Table(), kIndex, kSub, data.data(), c.length), 1);
        Pump();
        TakeSent();
        Pump(Frame(kRx, {0x60, 0x45, 0x23, 0x06, 0, 0, 0, 0}));
        B seen;
        for (std::size_t i = 0; i < c.specifiers.size(); ++i) {
            std::vector<CanFrame> frames = TakeSent();
            ASSERT_EQ(frames.size(), 1u);
            seen.push_back(frames[0].data[0]);
            Pump(Frame(kRx, {static_cast<std::uint8_t>(0x20 | ((i & 1) << 4)), 0, 0, 0, 0, 0, 0, 0}));
        }
        EXPECT_EQ(seen, c.specifiers);
        EXPECT_EQ(Fetch(kNode).status, SdoCompleted);
    }
}

TEST_F(SdoClient, DownloadOfNothingCompletesWithoutAFrame)
{
    ASSERT_EQ(RequestDownload(kNode, 500, Table(), kIndex, kSub, nullptr, 0), 1);
    Pump();
    EXPECT_TRUE(TakeSent().empty());
    Result r = Fetch(kNode);
    EXPECT_EQ(r.ready, 1);
    EXPECT_EQ(r.status, SdoCompleted);
}

TEST_F(SdoClient, DownloadOverThousandBytesIsRefused)
{
    const B data(1001, 0x55);
    RequestUpload(kNode, 500, Table(), 0x1000, 0);
    EXPECT_EQ(RequestDownload(kNode, 500, Table(), kIndex, kSub, data.data(), 1001), 0);
    EXPECT_EQ(RecordOf(Table(), kNode).sdoState, SdoState::UploadInit) << "nothing changed";
}

TEST_F(SdoClient, SegmentedUploadOfExactlyThousandBytes)
{
    const B data = Pattern(1000);
    RequestUpload(kNode, 500, Table(), kIndex, kSub);
    Pump();
    TakeSent();
    Pump(Frame(kRx, {0x41, 0x45, 0x23, 0x06, 0xE8, 0x03, 0, 0}));
    std::uint32_t offset = 0;
    std::uint8_t toggle = 0;
    while (offset < 1000) {
        EXPECT_EQ(TakeOne(kTx), (B{static_cast<std::uint8_t>(0x60 | (toggle << 4)), 0, 0, 0, 0, 0, 0, 0}));
        const std::uint32_t count = std::min(7u, 1000 - offset);
        const bool last = offset + count == 1000;
        CanFrame segment = Frame(kRx, {0, 0, 0, 0, 0, 0, 0, 0});
        segment.data[0] = static_cast<std::uint8_t>((toggle << 4) | ((7 - count) << 1) | (last ? 1 : 0));
        std::copy(data.begin() + offset, data.begin() + offset + count, segment.data.begin() + 1);
        offset += count;
        toggle ^= 1;
        Pump(segment);
    }
    EXPECT_TRUE(TakeSent().empty());
    Result r = Fetch(kNode);
    EXPECT_EQ(r.status, SdoCompleted);
    EXPECT_EQ(r.data, data);
}

TEST_F(SdoClient, ExpeditedUploadTakesTheSizeFromTheSpecifier)
{
    struct Case {
        std::uint8_t specifier;
        B expected;
    };
    // 0x4F: one byte; 0x43: four; 0x42: expedited without size indication, four bytes.
    for (const Case& c : {Case{0x4F, {0xAA}}, Case{0x4B, {0xAA, 0xBB}}, Case{0x47, {0xAA, 0xBB, 0xCC}},
                          Case{0x43, {0xAA, 0xBB, 0xCC, 0xDD}}, Case{0x42, {0xAA, 0xBB, 0xCC, 0xDD}}}) {
        SCOPED_TRACE(c.specifier);
        RequestUpload(kNode, 500, Table(), kIndex, kSub);
        Pump();
        TakeSent();
        Pump(Frame(kRx, {c.specifier, 0x45, 0x23, 0x06, 0xAA, 0xBB, 0xCC, 0xDD}));
        EXPECT_TRUE(TakeSent().empty());
        Result r = Fetch(kNode);
        EXPECT_EQ(r.status, SdoCompleted);
        EXPECT_EQ(r.data, c.expected);
    }
}

TEST_F(SdoClient, FetchDeliversAtMostTheCapacity)
{
    RequestUpload(kNode, 500, Table(), kIndex, kSub);
    Pump();
    Pump(Frame(kRx, {0x41, 0x45, 0x23, 0x06, 0x0A, 0, 0, 0}));
    Pump(Frame(kRx, {0x00, 1, 2, 3, 4, 5, 6, 7}));
    Pump(Frame(kRx, {0x19, 8, 9, 10, 0, 0, 0, 0}));
    Result r = Fetch(kNode, 4);
    EXPECT_EQ(r.ready, 1);
    EXPECT_EQ(r.data, (B{1, 2, 3, 4}));
}

// Every abort code the master produces, with the scripted responses that cause it. The
// abort frame leaves at the node's next step, never in the step that found the fault.
TEST_F(SdoClient, MasterAbortsWithTheRightCode)
{
    struct Case {
        const char* what;
        bool upload;
        std::vector<CanFrame> responses;  // answered one per request
        std::uint32_t code;
    };
    const CanFrame initUpload = Frame(kRx, {0x41, 0x45, 0x23, 0x06, 0x0A, 0, 0, 0});
    const CanFrame initDownload = Frame(kRx, {0x60, 0x45, 0x23, 0x06, 0, 0, 0, 0});
    const std::vector<Case> cases = {
        {"length 7", true, {Frame(kRx, {0x43, 0x45, 0x23, 0x06, 1, 2, 3})}, kAbortGeneral},
        {"wrong index low byte", true, {Frame(kRx, {0x43, 0x46, 0x23, 0x06, 1, 2, 3, 4})}, kAbortGeneral},
        {"wrong index high byte", false, {Frame(kRx, {0x60, 0x45, 0x24, 0x06, 0, 0, 0, 0})}, kAbortGeneral},
        {"wrong subindex", true, {Frame(kRx, {0x43, 0x45, 0x23, 0x07, 1, 2, 3, 4})}, kAbortGeneral},
        {"download answer to an upload", true, {Frame(kRx, {0x60, 0x45, 0x23, 0x06, 0, 0, 0, 0})}, kAbortBadCommand},
        {"segment answer to initiate", false, {Frame(kRx, {0x20, 0, 0, 0, 0, 0, 0, 0})}, kAbortBadCommand},
        {"size 1001 announced", true, {Frame(kRx, {0x41, 0x45, 0x23, 0x06, 0xE9, 0x03, 0, 0})}, kAbortOutOfMemory},
        {"upload toggle", true, {initUpload, Frame(kRx, {0x10, 1, 2, 3, 4, 5, 6, 7})}, kAbortToggle},
        {"download toggle", false, {initDownload, Frame(kRx, {0x30, 0, 0, 0, 0, 0, 0, 0})}, kAbortToggle},
        {"size mismatch at the end",
         true,
         {initUpload, Frame(kRx, {0x00, 1, 2, 3, 4, 5, 6, 7}), Frame(kRx, {0x1B, 8, 9, 0, 0, 0, 0, 0})},
         kAbortLengthMismatch},
        {"upload segment answered with initiate",
         true,
         {initUpload, Frame(kRx, {0x41, 0x45, 0x23, 0x06, 0, 0, 0, 0})},
         kAbortBadCommand},
    };
    const B data = Pattern(20);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.upload)
            RequestUpload(kNode, 500, Table(), kIndex, kSub);
        else
            ASSERT_EQ(RequestDownload(kNode, 500, Table(), kIndex, kSub, data.data(), 20), 1);
        RunEngineCycle(Table(), nullptr);
        TakeSent();
        for (std::size_t i = 0; i < c.responses.size(); ++i) {
            RunEngineCycle(Table(), &c.responses[i]);
            EXPECT_TRUE(TakeSent().empty()) << "nothing goes out in the cycle that carries the response";
            RunEngineCycle(Table(), nullptr);
            if (i + 1 < c.responses.size())
                TakeSent();
        }
        EXPECT_EQ(TakeOne(kTx), AbortBytes(c.code));
        Result r = Fetch(kNode);
        EXPECT_EQ(r.ready, 1);
        EXPECT_EQ(r.status, SdoFailed);
        EXPECT_EQ(r.abortCode, c.code);
    }
}

TEST_F(SdoClient, SegmentBeyondThousandBytesIsRefused)
{
    RequestUpload(kNode, 500, Table(), kIndex, kSub);
    Pump();
    Pump(Frame(kRx, {0x41, 0x45, 0x23, 0x06, 0xE8, 0x03, 0, 0}));  // 1000 announced
    std::uint8_t toggle = 0;
    for (int i = 0; i < 142; ++i) {  // 994 bytes, never last
        Pump(Frame(kRx, {static_cast<std::uint8_t>(toggle << 4), 1, 2, 3, 4, 5, 6, 7}));
        toggle ^= 1;
    }
    TakeSent();
    Pump(Frame(kRx, {static_cast<std::uint8_t>(toggle << 4), 1, 2, 3, 4, 5, 6, 7}));  // 1001
    EXPECT_EQ(TakeOne(kTx), AbortBytes(kAbortOutOfMemory));
    EXPECT_EQ(Fetch(kNode).abortCode, kAbortOutOfMemory);
}

TEST_F(SdoClient, SlaveAbortEndsTheTransferWithoutReply)
{
    for (bool upload : {true, false}) {
        SCOPED_TRACE(upload);
        const B data = Pattern(10);
        if (upload)
            RequestUpload(kNode, 500, Table(), kIndex, kSub);
        else
            ASSERT_EQ(RequestDownload(kNode, 500, Table(), kIndex, kSub, data.data(), 10), 1);
        Pump();
        TakeSent();
        // Index and subindex of an abort are not compared.
        Pump(Frame(kRx, {0x80, 0x00, 0x10, 0x09, 0x11, 0x00, 0x09, 0x06}));
        EXPECT_TRUE(TakeSent().empty());
        Result r = Fetch(kNode);
        EXPECT_EQ(r.status, SdoAborted);
        EXPECT_EQ(r.abortCode, 0x06090011u);
    }
}

TEST_F(SdoClient, TimeOutBoundaryAcrossTheWrapOfTheTick)
{
    SetManualTick(0xFFFFFFF0u);
    RequestUpload(kNode, 50, Table(), kIndex, kSub);
    Pump();
    TakeSent();
    SetManualTick(0xFFFFFFF0u + 50u);  // wrapped to 0x22: exactly the limit
    Pump();
    EXPECT_TRUE(TakeSent().empty()) << "a difference equal to the limit is not yet a time-out";
    SetManualTick(0xFFFFFFF0u + 51u);
    Pump();
    EXPECT_TRUE(TakeSent().empty()) << "the step that finds the time-out sends nothing";
    Pump();
    EXPECT_EQ(TakeOne(kTx), AbortBytes(kAbortTimeout));
    EXPECT_EQ(Fetch(kNode).abortCode, kAbortTimeout);
}

TEST_F(SdoClient, EachRequestRestartsTheTimeOut)
{
    RequestUpload(kNode, 50, Table(), kIndex, kSub);
    Pump();
    AdvanceManualTick(40);
    Pump(Frame(kRx, {0x41, 0x45, 0x23, 0x06, 0x0A, 0, 0, 0}));  // segment request at t+40
    TakeSent();
    AdvanceManualTick(50);
    Pump();
    EXPECT_TRUE(TakeSent().empty());
    AdvanceManualTick(1);
    Pump();
    Pump();
    EXPECT_EQ(TakeOne(kTx), AbortBytes(kAbortTimeout));
}

TEST_F(SdoClient, FramesForOthersLeaveAWaitingClientUntouched)
{
    RequestUpload(kNode, 50, Table(), kIndex, kSub);
    Pump();
    TakeSent();
    AdvanceManualTick(100);  // long past the time-out
    for (const CanFrame& other :
         {Frame(0x584, {0x43, 0x45, 0x23, 0x06, 1, 2, 3, 4}), Frame(0x183, {1, 2}), Frame(0x000, {0x01, 0x03})}) {
        RunEngineCycle(Table(), &other);
        EXPECT_TRUE(TakeSent().empty());
        EXPECT_EQ(RecordOf(Table(), kNode).sdoState, SdoState::UploadInitWait);
    }
    CanFrame remote = Frame(kRx, {});
    remote.remote = 1;
    RunEngineCycle(Table(), &remote);
    EXPECT_EQ(RecordOf(Table(), kNode).sdoState, SdoState::UploadInitWait) << "remote frames are no response";
    RunEngineCycle(Table(), nullptr);
    RunEngineCycle(Table(), nullptr);
    EXPECT_EQ(TakeOne(kTx), AbortBytes(kAbortTimeout));
}

TEST_F(SdoClient, TransfersToDifferentNodesRunSideBySide)
{
    RequestUpload(3, 500, Table(), 0x1000, 0);
    RequestUpload(5, 500, Table(), 0x1000, 0);
    Pump();
    std::vector<CanFrame> frames = TakeSent();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].id, 0x603u);
    EXPECT_EQ(frames[1].id, 0x605u);
    Pump(Frame(0x585, {0x43, 0x00, 0x10, 0x00, 5, 0, 0, 0}));
    Pump(Frame(0x583, {0x43, 0x00, 0x10, 0x00, 3, 0, 0, 0}));
    EXPECT_EQ(Fetch(3).data, (B{3, 0, 0, 0}));
    EXPECT_EQ(Fetch(5).data, (B{5, 0, 0, 0}));
}

TEST_F(SdoClient, NodeNumbersUseTheirLowSevenBits)
{
    RequestUpload(128 + kNode, 500, Table(), kIndex, kSub);
    Pump();
    EXPECT_EQ(TakeOne(kTx)[0], 0x40);
    Pump(Frame(kRx, {0x4F, 0x45, 0x23, 0x06, 0x99, 0, 0, 0}));
    EXPECT_EQ(Fetch(256 + 128 + kNode).data, (B{0x99}));
}

TEST_F(SdoClient, ClearNodeTableEndsATransferSilently)
{
    RequestUpload(kNode, 50, Table(), kIndex, kSub);
    Pump();
    TakeSent();
    ClearNodeTable(Table());
    AdvanceManualTick(1000);
    Pump();
    Pump(Frame(kRx, {0x43, 0x45, 0x23, 0x06, 1, 2, 3, 4}));
    EXPECT_TRUE(TakeSent().empty());
    EXPECT_EQ(Fetch(kNode).ready, 0);
}

TEST_F(SdoClient, WithoutHookTheFrameIsLostAndTheClientTimesOut)
{
    ClearSendHook();
    RequestUpload(kNode, 50, Table(), kIndex, kSub);
    Pump();
    EXPECT_EQ(RecordOf(Table(), kNode).sdoState, SdoState::UploadInitWait);
    AdvanceManualTick(51);
    Pump();  // the abort frame is lost too
    Pump();
    EXPECT_TRUE(TakeSent().empty());
    Result r = Fetch(kNode);
    EXPECT_EQ(r.status, SdoFailed);
    EXPECT_EQ(r.abortCode, kAbortTimeout);
}

TEST_F(SdoClient, ResponsesOutsideATransferAreIgnored)
{
    Pump(Frame(kRx, {0x43, 0x00, 0x10, 0x00, 1, 2, 3, 4}));
    EXPECT_TRUE(TakeSent().empty());
    EXPECT_EQ(Fetch(kNode).ready, 0);
    // ... also in Done, waiting to be fetched.
    ASSERT_EQ(RequestDownload(kNode, 500, Table(), kIndex, kSub, nullptr, 0), 1);
    Pump();
    Pump(Frame(0x580 + kNode, {0x80, 0, 0, 0, 1, 2, 3, 4}));
    Result r = Fetch(kNode);
    EXPECT_EQ(r.status, SdoCompleted);
    EXPECT_EQ(r.abortCode, 0u);
}

TEST_F(SdoClient, RequestReplacesATransferWithoutAbort)
{
    RequestUpload(kNode, 500, Table(), kIndex, kSub);
    Pump();
    TakeSent();
    RequestUpload(kNode, 500, Table(), 0x1000, 0);
    Pump();
    EXPECT_EQ(TakeOne(kTx), (B{0x40, 0x00, 0x10, 0x00, 0, 0, 0, 0}));
}

// After a refused announcement of a huge size the announced length is still recorded; a
// fetch with a capacity above the buffer must not read past it.
TEST_F(SdoClient, FetchNeverReadsPastTheBuffer)
{
    RequestUpload(kNode, 500, Table(), kIndex, kSub);
    Pump();
    Pump(Frame(kRx, {0x41, 0x45, 0x23, 0x06, 0xFF, 0xFF, 0xFF, 0xFF}));
    Result r = Fetch(kNode, 4000);
    EXPECT_EQ(r.ready, 1);
    EXPECT_EQ(r.status, SdoFailed);
    EXPECT_LE(r.length, 1000u);
}

// --- Segmented uploads with and without the size indicated ------------------------------

// Serves one segmented upload of `data` after an initiate response with `specifier` and
// `announced` in bytes 4 to 7, checking every request the master sends, up to the end
// or the master's abort. Returns the master's abort code, or 0 when none was sent.
std::uint32_t ServeSegmentedUpload(std::uint8_t specifier, std::uint32_t announced, const B& data)
{
    RequestUpload(kNode, 500, EngineTest::Table(), kIndex, kSub);
    RunEngineCycle(EngineTest::Table(), nullptr);
    std::vector<CanFrame> sent;
    sent.swap(sentFrames);
    EXPECT_EQ(sent.size(), 1u);
    CanFrame init = Frame(kRx, {specifier, 0x45, 0x23, 0x06, static_cast<std::uint8_t>(announced),
                                static_cast<std::uint8_t>(announced >> 8), static_cast<std::uint8_t>(announced >> 16),
                                static_cast<std::uint8_t>(announced >> 24)});
    RunEngineCycle(EngineTest::Table(), &init);
    RunEngineCycle(EngineTest::Table(), nullptr);
    std::size_t offset = 0;
    std::uint8_t toggle = 0;
    for (;;) {
        sent.clear();
        sent.swap(sentFrames);
        if (sent.size() != 1)
            return 0;
        const B request = Bytes(sent[0]);
        if (request[0] == 0x80)
            return static_cast<std::uint32_t>(request[4] | request[5] << 8 | request[6] << 16 | request[7] << 24);
        EXPECT_EQ(request, (B{static_cast<std::uint8_t>(0x60 | (toggle << 4)), 0, 0, 0, 0, 0, 0, 0}));
        const std::size_t count = std::min<std::size_t>(7, data.size() - offset);
        const bool last = offset + count == data.size();
        CanFrame segment = Frame(kRx, {0, 0, 0, 0, 0, 0, 0, 0});
        segment.data[0] = static_cast<std::uint8_t>((toggle << 4) | ((7 - count) << 1) | (last ? 1 : 0));
        std::copy(data.begin() + static_cast<std::ptrdiff_t>(offset),
                  data.begin() + static_cast<std::ptrdiff_t>(offset + count), segment.data.begin() + 1);
        offset += count;
        toggle ^= 1;
        RunEngineCycle(EngineTest::Table(), &segment);
        RunEngineCycle(EngineTest::Table(), nullptr);
    }
}

TEST_F(SdoClient, UploadWithoutSizeTakesWhatTheSegmentsCarry)
{
    for (std::uint32_t length : {5u, 7u, 8u, 14u, 220u, 999u, 1000u}) {
        SCOPED_TRACE(length);
        const B data = Pattern(length);
        // 0x40: segmented, size not indicated; bytes 4 to 7 are then no size at all.
        for (std::uint32_t garbage : {0u, 0xFFFFFFFFu, 3u}) {
            EXPECT_EQ(ServeSegmentedUpload(0x40, garbage, data), 0u);
            Result r = Fetch(kNode);
            EXPECT_EQ(r.ready, 1);
            EXPECT_EQ(r.status, SdoCompleted);
            EXPECT_EQ(r.data, data);
        }
    }
}

TEST_F(SdoClient, UploadWithoutSizeStillStopsAtThousandBytes)
{
    EXPECT_EQ(ServeSegmentedUpload(0x40, 0, Pattern(1001)), kAbortOutOfMemory);
    Result r = Fetch(kNode);
    EXPECT_EQ(r.status, SdoFailed);
    EXPECT_EQ(r.abortCode, kAbortOutOfMemory);
}

TEST_F(SdoClient, AnnouncedSizeMustMatchWhatArrives)
{
    const B data = Pattern(14);
    EXPECT_EQ(ServeSegmentedUpload(0x41, 14, data), 0u) << "equal";
    EXPECT_EQ(Fetch(kNode).data, data);
    EXPECT_EQ(ServeSegmentedUpload(0x41, 15, data), kAbortLengthMismatch) << "announced more than arrives";
    EXPECT_EQ(Fetch(kNode).status, SdoFailed);
    EXPECT_EQ(ServeSegmentedUpload(0x41, 13, data), kAbortLengthMismatch) << "announced less than arrives";
    EXPECT_EQ(Fetch(kNode).status, SdoFailed);
    EXPECT_EQ(ServeSegmentedUpload(0x41, 1001, data), kAbortOutOfMemory) << "announced more than 1000";
}

}  // namespace
