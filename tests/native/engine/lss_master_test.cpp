// The LSS master on the manual clock: every service's frames byte by byte, the answers' error
// codes, time-outs, answers that come late, twice or unasked, and Fastscan against small
// devices simulated here (CiA 305's slave side of Fastscan, with faults to order).
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <deque>
#include <vector>

#include "byte_order.h"
#include "engine_test_support.h"
#include "error_control.h"
#include "frame_routing.h"
#include "lss_master.h"

namespace {

using B = std::vector<std::uint8_t>;

CanFrame Answer(std::initializer_list<std::uint8_t> bytes)
{
    CanFrame frame = Frame(kLssAnswerCobId, bytes);
    frame.length = 8;  // the rest 0, as LSS frames are
    return frame;
}

B Bytes8(std::initializer_list<std::uint8_t> bytes)
{
    B data(bytes);
    data.resize(8, 0);
    return data;
}

class LssTest : public ::testing::Test {
protected:
    LssMaster lss{};

    void SetUp() override { UseManualClock(0xFFFFFF00u); }  // the tick wraps during the longer cases
    void TearDown() override { UseSystemClock(); }

    static std::uint32_t Now() { return TickMs(); }

    void Start(const LssRequest& request) { ASSERT_EQ(StartLssService(lss, request, Now()), 1); }

    // One step without a frame; the bytes of the request it sends, checked for identifier
    // and length, or empty.
    B Step()
    {
        const CanFrame* out = StepLss(lss, nullptr, Now());
        if (out == nullptr)
            return {};
        EXPECT_EQ(out->id, kLssRequestCobId);
        EXPECT_EQ(out->remote, 0);
        EXPECT_EQ(out->length, 8);
        return Bytes(*out);
    }

    void Receive(const CanFrame& frame) { EXPECT_EQ(StepLss(lss, &frame, Now()), nullptr) << "a frame only is taken"; }

    // Steps every millisecond until the service ends or `ms` have passed; the requests sent.
    int RunFor(std::uint32_t ms)
    {
        int sent = 0;
        for (std::uint32_t i = 0; i < ms && !LssDone(lss); ++i) {
            AdvanceManualTick(1);
            sent += Step().empty() ? 0 : 1;
        }
        return sent;
    }

    LssResult Take()
    {
        LssResult result{};
        EXPECT_EQ(TakeLssResult(lss, result), 1);
        EXPECT_EQ(TakeLssResult(lss, result), 0) << "a result is taken once";
        return result;
    }
};

TEST_F(LssTest, EveryServiceFrameByFrame)
{
    struct Case {
        const char* name;
        LssRequest request;
        std::vector<B> requests;  // in order, one per step
        B answer;                 // empty: none expected
        std::uint32_t value;      // inquire services
    };
    const LssIdentity id{0x00000F0A, 0x00000401, 0x00010002, 0x12345678};
    const Case cases[] = {
        {"switch global to configuration",
         {.service = LssService::SwitchGlobal, .mode = 1},
         {Bytes8({0x04, 0x01})},
         {},
         0},
        {"switch selective",
         {.service = LssService::SwitchSelective, .identity = id},
         {Bytes8({0x40, 0x0A, 0x0F, 0, 0}), Bytes8({0x41, 0x01, 0x04, 0, 0}), Bytes8({0x42, 0x02, 0x00, 0x01, 0x00}),
          Bytes8({0x43, 0x78, 0x56, 0x34, 0x12})},
         Bytes8({0x44}),
         0},
        {"configure node-ID 5",
         {.service = LssService::ConfigureNodeId, .nodeId = 5},
         {Bytes8({0x11, 0x05})},
         Bytes8({0x11, 0, 0}),
         0},
        {"configure node-ID none",
         {.service = LssService::ConfigureNodeId, .nodeId = kLssNoNodeId},
         {Bytes8({0x11, 0xFF})},
         Bytes8({0x11, 0, 0}),
         0},
        {"configure 125 kbit/s",
         {.service = LssService::ConfigureBitTiming, .tableSelector = 0, .tableIndex = 4},
         {Bytes8({0x13, 0x00, 0x04})},
         Bytes8({0x13, 0, 0}),
         0},
        {"store", {.service = LssService::StoreConfiguration}, {Bytes8({0x17})}, Bytes8({0x17, 0, 0}), 0},
        {"inquire vendor",
         {.service = LssService::InquireVendor},
         {Bytes8({0x5A})},
         Bytes8({0x5A, 0x0A, 0x0F, 0, 0}),
         0x0F0A},
        {"inquire product",
         {.service = LssService::InquireProduct},
         {Bytes8({0x5B})},
         Bytes8({0x5B, 0x01, 0x04, 0, 0}),
         0x0401},
        {"inquire revision",
         {.service = LssService::InquireRevision},
         {Bytes8({0x5C})},
         Bytes8({0x5C, 0x02, 0x00, 0x01, 0x00}),
         0x00010002},
        {"inquire serial",
         {.service = LssService::InquireSerial},
         {Bytes8({0x5D})},
         Bytes8({0x5D, 0x78, 0x56, 0x34, 0x12}),
         0x12345678},
        {"inquire node-ID", {.service = LssService::InquireNodeId}, {Bytes8({0x5E})}, Bytes8({0x5E, 0x7F}), 0x7F},
        {"identify remote slave",
         {.service = LssService::IdentifyRemote,
          .identity = {0x0F0A, 0x0401, 0x00010000, 0x1000},
          .revisionHigh = 0x0001FFFF,
          .serialHigh = 0x1FFFFFFF},
         {Bytes8({0x46, 0x0A, 0x0F, 0, 0}), Bytes8({0x47, 0x01, 0x04, 0, 0}), Bytes8({0x48, 0, 0, 0x01, 0}),
          Bytes8({0x49, 0xFF, 0xFF, 0x01, 0}), Bytes8({0x4A, 0x00, 0x10, 0, 0}),
          Bytes8({0x4B, 0xFF, 0xFF, 0xFF, 0x1F})},
         Bytes8({0x4F}),
         0},
        {"identify non-configured remote slave",
         {.service = LssService::IdentifyNonConfigured},
         {Bytes8({0x4C})},
         Bytes8({0x50}),
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        lss = LssMaster{};
        Start(c.request);
        EXPECT_TRUE(LssRunning(lss));
        for (const B& expected : c.requests)
            EXPECT_EQ(Step(), expected);
        if (!c.answer.empty()) {
            EXPECT_TRUE(Step().empty()) << "one request per step, then the wait";
            EXPECT_FALSE(LssDone(lss));
            CanFrame answer{};
            answer.id = kLssAnswerCobId;
            answer.length = 8;
            std::copy(c.answer.begin(), c.answer.end(), answer.data.begin());
            Receive(answer);
            EXPECT_FALSE(LssDone(lss)) << "the answer is handled at the next step";
            EXPECT_TRUE(Step().empty());
        }
        ASSERT_TRUE(LssDone(lss));
        EXPECT_FALSE(LssRunning(lss));
        const LssResult result = Take();
        EXPECT_EQ(result.service, c.request.service);
        EXPECT_EQ(result.outcome, LssOutcome::Success);
        EXPECT_EQ(result.errorCode, kLssErrorNone);
        EXPECT_EQ(result.value, c.value);
        EXPECT_EQ(result.steps, c.requests.size());
        EXPECT_EQ(lss.state, LssState::Idle);
    }
}

TEST_F(LssTest, ErrorCodesOfTheConfigureAndStoreAnswersAreReportedAsSent)
{
    struct Case {
        LssRequest request;
        std::uint8_t specifier;
        std::uint8_t errorCode;
        std::uint8_t specificError;
        LssOutcome outcome;
    } const cases[] = {
        {{.service = LssService::ConfigureNodeId, .nodeId = 1}, 0x11, 0, 0, LssOutcome::Success},
        {{.service = LssService::ConfigureNodeId, .nodeId = 127},
         0x11,
         kLssErrorNotSupported,
         0,
         LssOutcome::DeviceError},
        {{.service = LssService::ConfigureNodeId, .nodeId = 9}, 0x11, kLssErrorSpecific, 0x42, LssOutcome::DeviceError},
        {{.service = LssService::ConfigureBitTiming, .tableIndex = 5},
         0x13,
         kLssErrorNotSupported,
         0,
         LssOutcome::DeviceError},
        {{.service = LssService::ConfigureBitTiming, .tableSelector = 0x80, .tableIndex = 2},
         0x13,
         kLssErrorSpecific,
         0x07,
         LssOutcome::DeviceError},
        {{.service = LssService::StoreConfiguration}, 0x17, kLssErrorNotSupported, 0, LssOutcome::DeviceError},
        {{.service = LssService::StoreConfiguration}, 0x17, kLssErrorStorage, 0, LssOutcome::DeviceError},
        {{.service = LssService::StoreConfiguration}, 0x17, kLssErrorSpecific, 0xA5, LssOutcome::DeviceError},
        {{.service = LssService::StoreConfiguration}, 0x17, 0x03, 0x00, LssOutcome::DeviceError},  // a reserved code
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.specifier) * 1000 + c.errorCode);
        Start(c.request);
        ASSERT_FALSE(Step().empty());
        Receive(Answer({c.specifier, c.errorCode, c.specificError}));
        Step();
        const LssResult result = Take();
        EXPECT_EQ(result.outcome, c.outcome);
        EXPECT_EQ(result.errorCode, c.errorCode);
        EXPECT_EQ(result.specificError, c.specificError);
    }
}

TEST_F(LssTest, AnUnansweredRequestTimesOutAfterItsTimeOutAndNotBefore)
{
    for (const std::uint32_t timeout : {1u, 20u, 1000u}) {
        Start({.service = LssService::InquireSerial, .timeoutMs = timeout});
        ASSERT_FALSE(Step().empty());
        EXPECT_EQ(RunFor(timeout), 0);
        EXPECT_FALSE(LssDone(lss)) << "equal to the time-out is not over: " << timeout;
        RunFor(1);
        ASSERT_TRUE(LssDone(lss)) << timeout;
        EXPECT_EQ(Take().outcome, LssOutcome::Timeout);
    }
    Start({.service = LssService::IdentifyNonConfigured});  // 0: the default time-out
    ASSERT_FALSE(Step().empty());
    RunFor(kLssDefaultTimeoutMs);
    EXPECT_FALSE(LssDone(lss));
    RunFor(1);
    EXPECT_EQ(Take().outcome, LssOutcome::Timeout) << "identify: no device has the identity";
}

TEST_F(LssTest, OnlyTheAwaitedAnswerCounts)
{
    // Stray frames before a request, and frames that are no answer to it, change nothing.
    Receive(Answer({0x5A, 1, 2, 3, 4}));  // while idle
    EXPECT_EQ(lss.state, LssState::Idle);
    Start({.service = LssService::InquireVendor, .timeoutMs = 30});
    Receive(Answer({0x5A, 1, 2, 3, 4}));  // before the request went out
    ASSERT_EQ(Step(), Bytes8({0x5A}));
    CanFrame remote = Answer({0x5A, 9});
    remote.remote = 1;
    CanFrame shortFrame = Answer({0x5A, 9});
    shortFrame.length = 5;
    CanFrame request = Answer({0x5A, 9});
    request.id = kLssRequestCobId;
    for (const CanFrame& frame : {remote, shortFrame, request, Answer({0x5B, 9}), Answer({0x4F})})
        Receive(frame);
    Step();
    EXPECT_FALSE(LssDone(lss)) << "none of them is the answer";
    AdvanceManualTick(10);
    Receive(Answer({0x5A, 0x0A, 0x0F, 0x00, 0x00}));
    Receive(Answer({0x5A, 0x11, 0x11, 0x11, 0x11}));  // a second copy does not replace the first
    Step();
    const LssResult result = Take();
    EXPECT_EQ(result.outcome, LssOutcome::Success);
    EXPECT_EQ(result.value, 0x0F0Au);
}

TEST_F(LssTest, LateAndRepeatedAnswersDoNotCorruptTheNextRequest)
{
    // The vendor's answer comes after its time-out, while the product is asked.
    Start({.service = LssService::InquireVendor, .timeoutMs = 20});
    Step();
    RunFor(25);
    EXPECT_EQ(Take().outcome, LssOutcome::Timeout);
    Start({.service = LssService::InquireProduct, .timeoutMs = 20});
    ASSERT_EQ(Step(), Bytes8({0x5B}));
    Receive(Answer({0x5A, 0x0A, 0x0F, 0, 0}));  // late
    Step();
    EXPECT_FALSE(LssDone(lss));
    Receive(Answer({0x5B, 0x01, 0x04, 0, 0}));
    Step();
    LssResult result = Take();
    EXPECT_EQ(result.outcome, LssOutcome::Success);
    EXPECT_EQ(result.value, 0x0401u);

    // The node-ID's answer twice: the second copy comes while the bit timing waits.
    Start({.service = LssService::ConfigureNodeId, .nodeId = 7});
    Step();
    Receive(Answer({0x11, 0, 0}));
    Step();
    EXPECT_EQ(Take().outcome, LssOutcome::Success);
    Receive(Answer({0x11, 0, 0}));  // while idle
    Start({.service = LssService::ConfigureBitTiming, .tableIndex = 3});
    ASSERT_EQ(Step(), Bytes8({0x13, 0x00, 0x03}));
    Receive(Answer({0x11, 0, 0}));
    Step();
    EXPECT_FALSE(LssDone(lss));
    Receive(Answer({0x13, kLssErrorNotSupported, 0}));
    Step();
    result = Take();
    EXPECT_EQ(result.outcome, LssOutcome::DeviceError);
    EXPECT_EQ(result.errorCode, kLssErrorNotSupported);
}

TEST_F(LssTest, RequestsThatAreRefused)
{
    struct Case {
        LssRequest request;
        int accepted;
    } const cases[] = {
        {{.service = LssService::None}, 0},
        {{.service = static_cast<LssService>(99)}, 0},
        {{.service = LssService::SwitchGlobal, .mode = 2}, 0},
        {{.service = LssService::ConfigureNodeId, .nodeId = 0}, 0},
        {{.service = LssService::ConfigureNodeId, .nodeId = 128}, 0},
        {{.service = LssService::ConfigureNodeId, .nodeId = 0xFE}, 0},
        {{.service = LssService::ConfigureNodeId, .nodeId = 127}, 1},
        {{.service = LssService::ConfigureBitTiming, .tableSelector = 1, .tableIndex = 200}, 1},  // the device judges
    };
    for (const Case& c : cases) {
        lss = LssMaster{};
        EXPECT_EQ(StartLssService(lss, c.request, Now()), c.accepted) << static_cast<int>(c.request.service);
        EXPECT_EQ(LssRunning(lss), c.accepted == 1);
    }
    // One at a time: the running service is kept.
    EXPECT_EQ(StartLssService(lss, {.service = LssService::StoreConfiguration}, Now()), 0);
    EXPECT_EQ(lss.request.service, LssService::ConfigureBitTiming);
    // An aborted one ends at once, and a result left untaken does not block the next.
    AbortLss(lss);
    EXPECT_TRUE(LssDone(lss));
    EXPECT_TRUE(Step().empty());
    EXPECT_EQ(StartLssService(lss, {.service = LssService::StoreConfiguration}, Now()), 1);
    AbortLss(lss);
    EXPECT_EQ(Take().outcome, LssOutcome::Aborted);
    AbortLss(lss);
    EXPECT_FALSE(LssDone(lss)) << "nothing to abort";
}

TEST_F(LssTest, ActivateBitTimingKeepsTheBusQuietForTwiceTheDelay)
{
    Start({.service = LssService::ActivateBitTiming, .switchDelayMs = 300});
    EXPECT_EQ(Step(), Bytes8({0x15, 0x2C, 0x01}));
    EXPECT_TRUE(LssHoldsBus(lss, Now()));
    EXPECT_EQ(RunFor(600), 0);
    EXPECT_TRUE(LssHoldsBus(lss, Now())) << "600 ms are not over yet";
    EXPECT_FALSE(LssDone(lss));
    EXPECT_EQ(StartLssService(lss, {.service = LssService::StoreConfiguration}, Now()), 0);
    RunFor(1);
    EXPECT_FALSE(LssHoldsBus(lss, Now()));
    const LssResult result = Take();
    EXPECT_EQ(result.outcome, LssOutcome::Success);
    EXPECT_EQ(result.steps, 1u);

    // Aborted, the devices still switch: the bus stays held, and no service starts.
    Start({.service = LssService::ActivateBitTiming, .switchDelayMs = 50});
    Step();
    AdvanceManualTick(10);
    AbortLss(lss);
    EXPECT_EQ(Take().outcome, LssOutcome::Aborted);
    EXPECT_TRUE(LssHoldsBus(lss, Now()));
    EXPECT_EQ(StartLssService(lss, {.service = LssService::StoreConfiguration}, Now()), 0);
    AdvanceManualTick(91);
    Step();
    EXPECT_FALSE(LssHoldsBus(lss, Now()));
    EXPECT_EQ(StartLssService(lss, {.service = LssService::StoreConfiguration}, Now()), 1);
}

TEST(LssBitTiming, TheStandardTable)
{
    const std::uint32_t kbit[] = {1000, 800, 500, 250, 125, 0, 50, 20, 10, 0, 0};
    for (std::uint8_t index = 0; index < 11; ++index) {
        EXPECT_EQ(LssBitTimingKbit(index), kbit[index]) << int{index};
        if (kbit[index] != 0) {
            EXPECT_EQ(LssBitTimingIndex(kbit[index]), index);
        }
    }
    EXPECT_EQ(LssBitTimingKbit(0xFF), 0u);
    for (const std::uint32_t rate : {0u, 100u, 125000u})
        EXPECT_EQ(LssBitTimingIndex(rate), 0xFF) << rate;
}

// The program's own master through the frame routing, beside node guarding, as the bus pump
// drives them.
class LssRoutingTest : public ::testing::Test {
protected:
    LssMaster& lss = MasterLss();
    std::uint32_t now = 5000;

    void SetUp() override
    {
        lss = LssMaster{};
        StopErrorControl(MasterErrorControl());
    }
    void TearDown() override
    {
        lss = LssMaster{};
        StopErrorControl(MasterErrorControl());
    }
};

TEST_F(LssRoutingTest, AnswersReachTheMasterOnlyWhileAServiceRuns)
{
    EXPECT_FALSE(ConsumersWatching()) << "an idle master costs the pump nothing";
    ASSERT_EQ(StartLssService(lss, {.service = LssService::InquireNodeId}, now), 1);
    EXPECT_TRUE(ConsumersWatching());
    const CanFrame* out = StepConsumers(now);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->id, kLssRequestCobId);
    EXPECT_EQ(RouteToConsumers(Answer({0x5E, 0x20}), now), 1);
    EXPECT_EQ(RouteToConsumers(Frame(0x7E5, {0x5E, 0x21, 0, 0, 0, 0, 0, 0}), now), 0) << "another master's request";
    EXPECT_EQ(RouteToConsumers(Frame(0x7E3, {0x5E, 0x21, 0, 0, 0, 0, 0, 0}), now), 0);
    EXPECT_EQ(StepConsumers(now), nullptr);
    EXPECT_FALSE(ConsumersWatching()) << "a result that waits needs no steps";
    LssResult result{};
    ASSERT_EQ(TakeLssResult(lss, result), 1);
    EXPECT_EQ(result.value, 0x20u);
}

TEST_F(LssRoutingTest, NodeGuardingWaitsForTheLssRequestAndThroughTheBitRateSwitch)
{
    GuardNode(MasterErrorControl(), 3, 100, 3, now);
    ASSERT_EQ(StartLssService(lss, {.service = LssService::ActivateBitTiming, .switchDelayMs = 100}, now), 1);
    const CanFrame* first = StepConsumers(now);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->id, kLssRequestCobId) << "the LSS request first";
    int frames = 0;
    for (int ms = 0; ms < 200; ++ms)
        frames += StepConsumers(++now) != nullptr ? 1 : 0;
    EXPECT_EQ(frames, 0) << "nothing during both switch delays";
    const CanFrame* guarding = StepConsumers(++now);
    ASSERT_NE(guarding, nullptr);
    EXPECT_EQ(guarding->id, 0x703u);
    EXPECT_EQ(guarding->remote, 1);
}

// --- Fastscan ------------------------------------------------------------------------------

// A device's side of Fastscan as CiA 305 gives it, with faults to order.
struct Device {
    LssIdentity identity;
    bool configuration = false;  // LSS configuration state (else waiting)
    std::uint8_t position = 0;   // the part its scan has reached
    std::uint32_t heard = 0;     // requests heard so far
    // Faults: the answer to request number `lateRequest` comes `lateMs` late; the one to
    // `twiceRequest` comes twice; confirmations are never answered.
    std::uint32_t lateRequest = 0;
    std::uint32_t lateMs = 0;
    std::uint32_t twiceRequest = 0;
    bool refusesConfirmations = false;

    std::uint32_t Part(std::uint8_t part) const
    {
        const std::uint32_t parts[] = {identity.vendor, identity.product, identity.revision, identity.serial};
        return parts[part & 3];
    }

    // Whether the device answers the request.
    bool Hear(const CanFrame& request)
    {
        ++heard;
        if (request.data[0] != 0x51 || configuration)
            return false;
        const std::uint32_t idNumber = LoadLe32(&request.data[1]);
        const std::uint8_t bitChecked = request.data[5];
        const std::uint8_t sub = request.data[6];
        const std::uint8_t next = request.data[7];
        if (bitChecked == 0x80) {
            position = 0;
            return true;
        }
        if (bitChecked > 31 || sub > 3 || next > 3 || sub != position)
            return false;
        const std::uint32_t mask = 0xFFFFFFFFu << bitChecked;
        if (((idNumber ^ Part(sub)) & mask) != 0)
            return false;
        if (bitChecked == 0 && refusesConfirmations)
            return false;
        position = next;
        if (bitChecked == 0 && next < sub)
            configuration = true;
        return true;
    }
};

class FastscanTest : public LssTest {
protected:
    std::vector<Device> devices;
    std::uint32_t busMs = 0;  // milliseconds the scans took
    std::vector<B> requests;

    struct InFlight {
        std::uint32_t due;
        CanFrame frame;
    };
    std::deque<InFlight> inFlight;

    // Runs a Fastscan to its end, as the bus pump would: answers that are due are offered
    // first, then a step without a frame; time moves on only while nothing happens.
    LssResult Scan(LssRequest request)
    {
        request.service = LssService::Fastscan;
        if (request.timeoutMs == 0)
            request.timeoutMs = 10;
        requests.clear();
        Start(request);
        for (int guard = 0; guard < 100000 && !LssDone(lss); ++guard) {
            bool busy = false;
            while (!inFlight.empty() && static_cast<std::int32_t>(Now() - inFlight.front().due) >= 0) {
                Receive(inFlight.front().frame);
                inFlight.pop_front();
                busy = true;
            }
            if (const CanFrame* out = StepLss(lss, nullptr, Now())) {
                requests.push_back(Bytes(*out));
                Deliver(*out);
                busy = true;
            }
            if (!busy && !LssDone(lss)) {
                AdvanceManualTick(1);
                ++busMs;
            }
        }
        EXPECT_TRUE(LssDone(lss));
        return Take();
    }

    // Every device hears the request; identical answers sent at once are one frame on the
    // bus, as CAN makes of them.
    void Deliver(const CanFrame& request)
    {
        bool answeredNow = false;
        for (Device& device : devices) {
            if (!device.Hear(request))
                continue;
            const CanFrame answer = Answer({0x4F});
            const bool late = device.heard == device.lateRequest;
            if (!late && !answeredNow) {
                Queue(Now(), answer);
                answeredNow = true;
            }
            if (late)
                Queue(Now() + device.lateMs, answer);
            if (device.heard == device.twiceRequest)
                Queue(Now() + 1, answer);
        }
    }

    void Queue(std::uint32_t due, const CanFrame& frame)
    {
        auto at = inFlight.begin();
        while (at != inFlight.end() && static_cast<std::int32_t>(due - at->due) >= 0)
            ++at;
        inFlight.insert(at, InFlight{due, frame});
    }
};

bool SameIdentity(const LssIdentity& a, const LssIdentity& b)
{
    return a.vendor == b.vendor && a.product == b.product && a.revision == b.revision && a.serial == b.serial;
}

int OneBits(const LssIdentity& id)
{
    return std::popcount(id.vendor) + std::popcount(id.product) + std::popcount(id.revision) + std::popcount(id.serial);
}

TEST_F(FastscanTest, NoDeviceEndsAfterTheResetStep)
{
    const LssResult result = Scan({.timeoutMs = 40});
    EXPECT_EQ(result.outcome, LssOutcome::NotFound);
    EXPECT_EQ(result.steps, 1u);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0], (B{0x51, 0, 0, 0, 0, 0x80, 0, 0}));
    EXPECT_EQ(busMs, 41u) << "one time-out";
}

TEST_F(FastscanTest, OneDeviceFrameByFrameAndOnlyUnansweredStepsCostTime)
{
    const LssIdentity id{0x00000F0A, 0x00000401, 0x00010002, 0x80000001};
    devices.push_back(Device{id});
    const LssResult result = Scan({.timeoutMs = 10});
    ASSERT_EQ(result.outcome, LssOutcome::Success);
    EXPECT_TRUE(SameIdentity(result.identity, id));
    EXPECT_TRUE(devices[0].configuration) << "found means in configuration state";
    EXPECT_EQ(result.steps, kFastscanSteps);
    EXPECT_EQ(busMs, static_cast<std::uint32_t>(OneBits(id)) * 11u) << "a one bit is a step without an answer";

    ASSERT_EQ(requests.size(), kFastscanSteps);
    EXPECT_EQ(requests[0], (B{0x51, 0, 0, 0, 0, 0x80, 0, 0}));
    EXPECT_EQ(requests[1], (B{0x51, 0, 0, 0, 0, 31, 0, 0})) << "the vendor's bit 31";
    EXPECT_EQ(requests[32], (B{0x51, 0x0A, 0x0F, 0, 0, 0, 0, 0})) << "its bit 0, the other bits found";
    EXPECT_EQ(requests[33], (B{0x51, 0x0A, 0x0F, 0, 0, 0, 0, 1})) << "the vendor confirmed, on to the product";
    EXPECT_EQ(requests[34], (B{0x51, 0, 0, 0, 0, 31, 1, 1}));
    EXPECT_EQ(requests[66], (B{0x51, 0x01, 0x04, 0, 0, 0, 1, 2}));
    EXPECT_EQ(requests[100], (B{0x51, 0, 0, 0, 0, 31, 3, 3}));
    EXPECT_EQ(requests[101], (B{0x51, 0x00, 0x00, 0x00, 0x80, 30, 3, 3})) << "the serial's bit 31 is 1";
    EXPECT_EQ(requests[132], (B{0x51, 0x01, 0x00, 0x00, 0x80, 0, 3, 0})) << "the serial confirmed: back to 0";

    // Found, the device takes no part any more.
    EXPECT_EQ(Scan({}).outcome, LssOutcome::NotFound);
}

TEST_F(FastscanTest, TwoDevicesAreFoundOneAfterTheOther)
{
    // The same vendor and product: they part at the revision, then again at nothing.
    const LssIdentity a{0x0F0A, 0x0401, 0x00010002, 0x00001234};
    const LssIdentity b{0x0F0A, 0x0401, 0x00010001, 0x00001235};
    devices = {Device{a}, Device{b}};
    const LssResult first = Scan({});
    ASSERT_EQ(first.outcome, LssOutcome::Success);
    EXPECT_TRUE(SameIdentity(first.identity, b)) << "the lower revision first: 0 bits answer first";
    EXPECT_EQ(first.steps, kFastscanSteps);
    EXPECT_TRUE(devices[1].configuration);
    EXPECT_FALSE(devices[0].configuration);

    const LssResult second = Scan({});
    ASSERT_EQ(second.outcome, LssOutcome::Success);
    EXPECT_TRUE(SameIdentity(second.identity, a));
    EXPECT_TRUE(devices[0].configuration);

    const LssResult third = Scan({});
    EXPECT_EQ(third.outcome, LssOutcome::NotFound);
    EXPECT_EQ(third.steps, 1u);
}

TEST_F(FastscanTest, KnownPartsAreConfirmedWithoutTheirBitSteps)
{
    const LssIdentity id{0x0F0A, 0x0401, 0x00010002, 0x00001234};
    devices = {Device{id}, Device{{0x0F0B, 0x0401, 0x00010002, 0x00001234}}};
    LssResult result = Scan({.identity = {0x0F0A, 0x0401, 0, 0}, .knownParts = FastscanVendor | FastscanProduct});
    ASSERT_EQ(result.outcome, LssOutcome::Success);
    EXPECT_TRUE(SameIdentity(result.identity, id));
    EXPECT_EQ(result.steps, 1u + 1u + 1u + 33u + 33u);
    EXPECT_EQ(requests[1], (B{0x51, 0x0A, 0x0F, 0, 0, 0, 0, 1}));
    EXPECT_EQ(requests[2], (B{0x51, 0x01, 0x04, 0, 0, 0, 1, 2}));

    // A known vendor nobody has: over at its confirmation.
    result = Scan({.identity = {0x0F0C, 0, 0, 0}, .knownParts = FastscanVendor});
    EXPECT_EQ(result.outcome, LssOutcome::NotFound);
    EXPECT_EQ(result.steps, 2u);
    EXPECT_FALSE(devices[1].configuration);
}

TEST_F(FastscanTest, ALateAnswerStartsTheScanAgainAndTheRightDeviceIsFound)
{
    // Request 13 is the vendor's bit 20, a 0 bit the device answers, but 15 ms late with a
    // 10 ms time-out: the master takes the bit for 1 and the late answer for bit 19's.
    const LssIdentity id{0x0F0A, 0x0401, 0x00010002, 0x00001234};
    devices.push_back(Device{id});
    devices[0].lateRequest = 13;
    devices[0].lateMs = 15;
    const LssResult result = Scan({.timeoutMs = 10});
    ASSERT_EQ(result.outcome, LssOutcome::Success);
    EXPECT_TRUE(SameIdentity(result.identity, id));
    EXPECT_EQ(lss.attempt, 2) << "the vendor's confirmation failed once";
    EXPECT_TRUE(devices[0].configuration);
}

TEST_F(FastscanTest, AnAnswerTwiceIsCaughtAtTheConfirmation)
{
    // A second copy of an answer comes 1 ms later, after the master moved on, and counts for
    // the next step without an answer: the reset step's for the vendor's bit 31 (a 1), the
    // vendor's bit 2 for its bit 1 (a 1), the revision's bit 15 for its bit 1; the serial's
    // confirmation's comes after the scan has ended.
    for (const std::uint32_t twice : {1u, 31u, 84u, 133u}) {
        SCOPED_TRACE(twice);
        const LssIdentity id{0x80000F0A, 0x0401, 0xFFFF0002, 0x00001234};
        devices = {Device{id}};
        devices[0].twiceRequest = twice;
        const LssResult result = Scan({.timeoutMs = 10});
        ASSERT_EQ(result.outcome, LssOutcome::Success);
        EXPECT_TRUE(SameIdentity(result.identity, id));
        EXPECT_TRUE(devices[0].configuration);
        inFlight.clear();
    }
}

TEST_F(FastscanTest, ConfirmationsNeverAnsweredFailAfterEveryAttempt)
{
    devices.push_back(Device{{0x0F0A, 0x0401, 0x00010002, 0x00001234}});
    devices[0].refusesConfirmations = true;
    const LssResult result = Scan({});
    EXPECT_EQ(result.outcome, LssOutcome::Failed);
    EXPECT_EQ(result.steps, kFastscanAttempts * (1u + 33u));
    EXPECT_FALSE(devices[0].configuration);
}

}  // namespace
