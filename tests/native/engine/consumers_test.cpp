// The consumers beside the SDO clients and the PDO slots: NMT error control (boot-up,
// heartbeat, node guarding) and emergencies, driven on the manual clock as the bus pump
// drives them, through the frame routing.
#include <gtest/gtest.h>

#include <cstdint>

#include "emergency.h"
#include "engine_test_support.h"
#include "error_control.h"
#include "frame_routing.h"

namespace {

constexpr std::uint32_t kNode = 3;

class ConsumerTest : public ::testing::Test {
protected:
    ErrorControl& watch = MasterErrorControl();
    EmergencyLog& log = MasterEmergencyLog();
    std::uint32_t now = 0xFFFFF000u;  // the tick wraps during the longer cases

    void SetUp() override
    {
        StopErrorControl(watch);
        WatchEmergencies(log, kNode);
    }
    void TearDown() override
    {
        StopErrorControl(watch);
        WatchEmergencies(log, 0);
    }

    void Offer(const CanFrame& frame) { RouteToConsumers(frame, now); }
    // `ms` on, stepping every millisecond as the pump would; the guarding requests sent.
    int Run(std::uint32_t ms)
    {
        int requests = 0;
        for (std::uint32_t i = 0; i < ms; ++i) {
            ++now;
            requests += StepConsumers(now) != nullptr ? 1 : 0;
        }
        return requests;
    }
};

TEST_F(ConsumerTest, HeartbeatStartsIsLostAtExactlyTheConsumerTimeAndComesBack)
{
    WatchHeartbeat(watch, kNode, 150, now);
    Run(1000);
    EXPECT_EQ(TakeErrorControlEvents(watch), 0) << "nothing expected before the first heartbeat";
    EXPECT_EQ(watch.state, NmtUnknown);

    Offer(Frame(0x703, {0x7F}));
    EXPECT_EQ(TakeErrorControlEvents(watch), EventSupervised | EventStateChanged);
    EXPECT_EQ(watch.state, NmtPreOperational);
    Run(100);
    Offer(Frame(0x703, {0x7F}));
    Run(149);
    EXPECT_EQ(TakeErrorControlEvents(watch), 0) << "the same state again is no change";
    Run(1);
    EXPECT_EQ(TakeErrorControlEvents(watch), EventLost) << "lost at exactly 150 ms";
    Run(500);
    EXPECT_EQ(TakeErrorControlEvents(watch), 0) << "a loss is reported once";

    Offer(Frame(0x703, {0x05}));
    EXPECT_EQ(TakeErrorControlEvents(watch), EventBack | EventStateChanged);
    EXPECT_EQ(watch.state, NmtOperational);
    EXPECT_EQ(watch.seenTick, now);
}

TEST_F(ConsumerTest, BootUpAndStatesOfTheWatchedNodeOnly)
{
    WatchHeartbeat(watch, kNode, 0, now);  // state only
    struct Case {
        CanFrame frame;
        std::uint8_t state;
        std::uint8_t events;
    } const cases[] = {
        {Frame(0x703, {0x00}), NmtBootUp, EventBootUp | EventStateChanged},
        {Frame(0x703, {0x04}), NmtStopped, EventStateChanged},
        {Frame(0x704, {0x05}), NmtStopped, 0},                  // another node
        {Frame(0x183, {0x05}), NmtStopped, 0},                  // another function code
        {Frame(0x703, {}), NmtStopped, 0},                      // no data byte
        {Frame(0x703, {0x42}), NmtUnknown, EventStateChanged},  // no state has that value
        {Frame(0x703, {0x05, 0x99}), NmtOperational, EventStateChanged},
    };
    for (const Case& c : cases) {
        Offer(c.frame);
        EXPECT_EQ(watch.state, c.state) << std::hex << c.frame.id;
        EXPECT_EQ(TakeErrorControlEvents(watch), c.events) << std::hex << c.frame.id;
    }
    CanFrame remote = Frame(0x703, {});
    remote.remote = 1;
    remote.length = 1;
    EXPECT_EQ(RouteToConsumers(remote, now), 0) << "a guarding request is not an answer";
    Run(10000);
    EXPECT_EQ(TakeErrorControlEvents(watch), 0) << "no supervision without a consumer time";
}

TEST_F(ConsumerTest, GuardingAsksEveryGuardTimeAndChecksTheToggle)
{
    GuardNode(watch, kNode, 100, 3, now);
    const CanFrame* first = StepConsumers(++now);
    ASSERT_NE(first, nullptr) << "the first request at once";
    EXPECT_EQ(first->id, 0x703u);
    EXPECT_EQ(first->remote, 1);
    EXPECT_EQ(Run(99), 0);
    Offer(Frame(0x703, {0x7F}));  // toggle 0
    EXPECT_EQ(TakeErrorControlEvents(watch), EventSupervised | EventStateChanged);
    EXPECT_EQ(Run(1), 1);
    Offer(Frame(0x703, {0xFF}));  // toggle 1, pre-operational
    EXPECT_EQ(Run(100), 1);
    Offer(Frame(0x703, {0xFF}));  // toggle 1 again: a repeated answer
    EXPECT_EQ(TakeErrorControlEvents(watch), EventToggleMismatch);
    EXPECT_EQ(watch.awaiting, 1);

    // Unanswered: lost at the third request in a row that found the last unanswered.
    EXPECT_EQ(Run(200), 2);
    EXPECT_EQ(TakeErrorControlEvents(watch), 0);
    EXPECT_EQ(Run(100), 1);
    EXPECT_EQ(TakeErrorControlEvents(watch), EventLost);
    Offer(Frame(0x703, {0x05}));  // toggle 0, as expected still
    EXPECT_EQ(TakeErrorControlEvents(watch), EventBack | EventStateChanged);

    // A boot-up restarts the toggle.
    Offer(Frame(0x703, {0x00}));
    EXPECT_EQ(TakeErrorControlEvents(watch), EventBootUp | EventStateChanged);
    EXPECT_EQ(Run(100), 1);
    Offer(Frame(0x703, {0x7F}));
    EXPECT_EQ(TakeErrorControlEvents(watch), EventStateChanged);
    EXPECT_EQ(watch.state, NmtPreOperational);
}

TEST_F(ConsumerTest, EmergenciesAreKeptNewestFirstWithTheirBytes)
{
    Offer(Frame(0x083, {0x10, 0x81, 0x11, 1, 2, 3, 4, 5}));
    now += 7;
    Offer(Frame(0x083, {0x00, 0x00, 0x00}));                 // error reset, no manufacturer bytes
    Offer(Frame(0x084, {0x10, 0x81, 0x11, 0, 0, 0, 0, 0}));  // another node
    Offer(Frame(0x083, {0x10, 0x81}));                       // too short to carry the register
    CanFrame sync = Frame(0x080, {});
    EXPECT_EQ(RouteToConsumers(sync, now), 0);
    ASSERT_EQ(HeldEmergencies(log), 2u);
    EXPECT_EQ(NewestEmergency(log, 0).errorCode, 0x0000);
    EXPECT_EQ(NewestEmergency(log, 0).tick, now);
    const Emergency& first = NewestEmergency(log, 1);
    EXPECT_EQ(first.errorCode, 0x8110);
    EXPECT_EQ(first.errorRegister, 0x11);
    EXPECT_EQ(first.manufacturer, (std::array<std::uint8_t, 5>{1, 2, 3, 4, 5}));
    EXPECT_EQ(first.tick, now - 7);

    // The last 64 are kept.
    for (std::uint16_t i = 0; i < 100; ++i)
        Offer(Frame(0x083, {static_cast<std::uint8_t>(i), 0x50, 0x01}));
    ASSERT_EQ(HeldEmergencies(log), 64u);
    EXPECT_EQ(NewestEmergency(log, 0).errorCode, 0x5000 + 99);
    EXPECT_EQ(NewestEmergency(log, 63).errorCode, 0x5000 + 36);
    EXPECT_EQ(NewestEmergency(log, 64).errorCode, 0x5000 + 36) << "an age beyond the log gives the oldest";
}

TEST_F(ConsumerTest, APausedLogKeepsWhatItHoldsForItsNodeOnly)
{
    Offer(Frame(0x083, {0x10, 0x81, 0x11}));
    PauseEmergencies(log);
    EXPECT_EQ(log.node, 0u);
    Offer(Frame(0x083, {0x20, 0x81, 0x11}));
    ASSERT_EQ(HeldEmergencies(log), 1u) << "nothing is taken while paused";
    EXPECT_EQ(NewestEmergency(log, 0).errorCode, 0x8110) << "what was held stays readable";

    ResumeEmergencies(log, 3);
    Offer(Frame(0x083, {0x30, 0x81, 0x11}));
    ASSERT_EQ(HeldEmergencies(log), 2u) << "the same node goes on where it was";

    PauseEmergencies(log);
    ResumeEmergencies(log, 5);
    EXPECT_EQ(HeldEmergencies(log), 0u) << "another node starts empty";
    Offer(Frame(0x083, {0x30, 0x81, 0x11}));
    EXPECT_EQ(HeldEmergencies(log), 0u);
}

TEST(EmergencyDecoding, EveryClassAndTheNamedMonitoringCodes)
{
    struct Case {
        std::uint16_t code;
        EmergencyClass expected;
    } const cases[] = {
        {0x0000, EmergencyClass::ErrorReset},
        {0x00FF, EmergencyClass::ErrorReset},
        {0x1000, EmergencyClass::Generic},
        {0x2310, EmergencyClass::Current},
        {0x2400, EmergencyClass::Unassigned},
        {0x3120, EmergencyClass::Voltage},
        {0x3400, EmergencyClass::Unassigned},
        {0x4210, EmergencyClass::Temperature},
        {0x4300, EmergencyClass::Unassigned},
        {0x5000, EmergencyClass::Hardware},
        {0x5100, EmergencyClass::Unassigned},
        {0x6320, EmergencyClass::Software},
        {0x7000, EmergencyClass::AdditionalModules},
        {0x8000, EmergencyClass::Monitoring},
        {0x8130, EmergencyClass::Communication},
        {0x8250, EmergencyClass::Protocol},
        {0x8300, EmergencyClass::Unassigned},
        {0x9000, EmergencyClass::External},
        {0xF000, EmergencyClass::AdditionalFunctions},
        {0xFF42, EmergencyClass::DeviceSpecific},
        {0xA000, EmergencyClass::Unassigned},
        {0x0100, EmergencyClass::Unassigned},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ClassOfEmergency(c.code), c.expected) << std::hex << c.code;

    EXPECT_EQ(NamedMonitoringCode(0x8110), 1u);
    EXPECT_EQ(NamedMonitoringCode(0x8150), 5u);
    EXPECT_EQ(NamedMonitoringCode(0x8210), 6u);
    EXPECT_EQ(NamedMonitoringCode(0x8250), 10u);
    EXPECT_EQ(NamedMonitoringCode(0x8100), 0u);
    EXPECT_EQ(NamedMonitoringCode(0x8111), 0u);
}

}  // namespace
