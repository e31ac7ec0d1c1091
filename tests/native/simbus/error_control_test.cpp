// NMT error control and emergencies of the virtual slaves: heartbeats by 0x1017 on the
// bus's clock, node-guarding answers with their toggle bit, EMCY frames with the error
// register 0x1001 and the history 0x1003, raised by the test control or by the I/O
// module's "Simulated error" object.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "eds.h"
#include "emergency_producer.h"
#include "object_dictionary.h"
#include "sim_support.h"

namespace {

using simbus_test::Frame;
using simbus_test::Remote;
using simbus_test::SimBusTest;

using NodeGuarding = SimBusTest;

const char kEmergencyReset3[] = "083 8: 00 00 00 00 00 00 00 00";

class ErrorControlTest : public SimBusTest {
protected:
    // What the slaves sent by `tick`, texts joined by "|".
    std::string At(std::uint32_t tick)
    {
        now = tick;
        std::string joined;
        for (const std::string& text : ReadAll())
            joined += (joined.empty() ? "" : "|") + text;
        return joined;
    }

    // An expedited SDO download of a 16-bit value, the response checked.
    void WriteU16(std::uint8_t node, std::uint16_t index, std::uint8_t sub, std::uint16_t value)
    {
        char expected[64];
        std::snprintf(expected, sizeof expected, "%03X 8: 60 %02X %02X %02X 00 00 00 00", 0x580u + node, index & 0xFFu,
                      index >> 8, sub);
        EXPECT_EQ(Sdo(node, {0x2B, static_cast<std::uint8_t>(index), static_cast<std::uint8_t>(index >> 8), sub,
                             static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8)}),
                  expected);
    }

    std::uint32_t Number(std::uint8_t node, std::uint16_t index, std::uint8_t sub)
    {
        const simbus::ObjectEntry* entry = simbus::FindEntry(*world, node, index, sub);
        if (entry == nullptr) {
            ADD_FAILURE() << std::hex << index << "sub" << int{sub} << " missing";
            return 0xDEADBEEF;
        }
        const std::uint8_t* value = simbus::EntryValue(*world, *entry);
        std::uint32_t number = 0;
        for (std::uint32_t i = std::min<std::uint32_t>(entry->length, 4); i-- > 0;)
            number = number << 8 | value[i];
        return number;
    }

    std::uint32_t Raise(std::uint8_t node, std::uint32_t code, std::uint32_t errorRegister = kSimAutoErrorRegister,
                        const std::uint8_t* manufacturer = nullptr)
    {
        return simbus::SimulateEmergency(*world, node, code, errorRegister, manufacturer, now);
    }

    // 0x1003 of node 3: the count, then the codes in subs 1 to 8.
    std::vector<std::uint32_t> History()
    {
        std::vector<std::uint32_t> values;
        for (std::uint8_t sub = 0; sub <= 8; ++sub)
            values.push_back(Number(3, 0x1003, sub));
        return values;
    }
};

using HeartbeatProducer = ErrorControlTest;
using EmergencyProducer = ErrorControlTest;

TEST_F(HeartbeatProducer, PeriodFromTheObjectAndTheStateItCarries)
{
    struct Step {
        std::uint32_t tick;
        std::uint8_t nmtCommand;  // sent at the tick after reading; 0: none
        const char* frames;       // what arrived by the tick
    };
    EXPECT_EQ(At(60000), "") << "0x1017 is 0 by default: no heartbeat";
    now = 1000;
    WriteU16(3, 0x1017, 0, 100);
    const Step steps[] = {
        {1099, 0, ""},
        {1100, 0x01, "703 1: 7F"},
        {1150, 0, ""},
        {1200, 0x02, "703 1: 05"},
        {1300, 0x80, "703 1: 04"},
        {1400, 0, "703 1: 7F"},
        {1700, 0, "703 1: 7F|703 1: 7F|703 1: 7F"},  // a late reader gets every one
    };
    for (const Step& step : steps) {
        EXPECT_EQ(At(step.tick), step.frames) << step.tick;
        if (step.nmtCommand != 0)
            EXPECT_EQ(Nmt(step.nmtCommand, 3), "") << step.tick;
    }
    // A new time takes effect at once, counted from the write; 0 ends the heartbeat.
    now = 1710;
    WriteU16(3, 0x1017, 0, 30);
    EXPECT_EQ(At(1739), "");
    EXPECT_EQ(At(1740), "703 1: 7F");
    WriteU16(3, 0x1017, 0, 0);
    EXPECT_EQ(At(5000), "");
}

TEST_F(HeartbeatProducer, NodesInterleaveAndLongGapsAreNotFilled)
{
    WriteU16(3, 0x1017, 0, 100);
    WriteU16(5, 0x1017, 0, 150);
    EXPECT_EQ(At(1300), "703 1: 7F|705 1: 7F|703 1: 7F|703 1: 7F|705 1: 7F");
    // An hour later: one each, then the periods run on from there.
    EXPECT_EQ(At(3601300), "703 1: 7F|705 1: 7F");
    EXPECT_EQ(At(3601400), "703 1: 7F");
    EXPECT_EQ(At(3601450), "705 1: 7F");
    // A clock set back does not hold the heartbeat up until it has caught up again.
    EXPECT_EQ(At(2000), "");
    EXPECT_EQ(At(2100), "703 1: 7F");
}

TEST_F(HeartbeatProducer, SilentNodesClosedAdapterAndResets)
{
    WriteU16(3, 0x1017, 0, 100);
    ASSERT_EQ(simbus::SetNodeMode(*world, 3, kSimNodeSilent, 0), kSimOk);
    EXPECT_EQ(At(1500), "");
    ASSERT_EQ(simbus::SetNodeMode(*world, 3, kSimNodeNormal, 0), kSimOk);
    EXPECT_EQ(At(1600), "703 1: 7F");
    // Heartbeats that fell due while the adapter was closed are not delivered late.
    simbus::AdapterClose(*world);
    now = 9050;
    ASSERT_EQ(simbus::AdapterInit(*world, 0x672F, 0, now), 0u);
    EXPECT_EQ(At(9149), "");
    EXPECT_EQ(At(9150), "703 1: 7F");
    // Reset communication brings back the default of 0; a value set past the SDO server
    // (a test control) starts from the next look at the clock.
    EXPECT_EQ(Nmt(0x82, 3), "703 1: 00");
    EXPECT_EQ(At(20000), "");
    const std::uint8_t period[] = {0xF4, 0x01};
    ASSERT_EQ(simbus::SetValueDirect(*world, 3, 0x1017, 0, period, 2), 0u);
    EXPECT_EQ(At(20100), "");
    EXPECT_EQ(At(20600), "703 1: 7F");
}

TEST_F(NodeGuarding, ToggleAlternatesAndRestartsAtBootUp)
{
    struct Step {
        std::uint8_t nmtCommand;  // sent first; 0: none
        const char* answer;       // to a remote frame on 0x703
    };
    const Step steps[] = {
        {0, "703 1: 7F"},    {0, "703 1: FF"},    {0x01, "703 1: 05"},
        {0, "703 1: 85"},    {0x02, "703 1: 04"}, {0, "703 1: 84"},  // a stopped slave still answers
        {0x80, "703 1: 7F"}, {0x82, "703 1: 7F"},                    // reset communication: toggle 0 again
        {0, "703 1: FF"},    {0x81, "703 1: 7F"},
    };
    for (std::size_t i = 0; i < std::size(steps); ++i) {
        if (steps[i].nmtCommand != 0)
            Nmt(steps[i].nmtCommand, 3);
        EXPECT_EQ(Exchange(Remote(0x703, 1)), steps[i].answer) << "step " << i;
    }
    ASSERT_EQ(simbus::BootNode(*world, 3, now), kSimOk);
    EXPECT_EQ(ReadAll(), std::vector<std::string>{"703 1: 00"});
    EXPECT_EQ(Exchange(Remote(0x703, 1)), "703 1: 7F");
    // Each node keeps its own toggle; a data frame on the identifier is no request; a
    // silent node does not answer.
    EXPECT_EQ(Exchange(Remote(0x705, 1)), "705 1: 7F");
    EXPECT_EQ(Exchange(Frame(0x703, {0x00})), "");
    ASSERT_EQ(simbus::SetNodeMode(*world, 5, kSimNodeSilent, 0), kSimOk);
    EXPECT_EQ(Exchange(Remote(0x705, 1)), "");
}

TEST_F(EmergencyProducer, FrameAndErrorRegisterByClass)
{
    struct Case {
        std::uint32_t code;
        std::uint32_t errorRegister;  // as asked
        const char* frame;
        std::uint32_t register1001;
    };
    const std::uint8_t manufacturer[5] = {0x11, 0x22, 0x33, 0x44, 0x55};
    const Case cases[] = {
        {0x1000, kSimAutoErrorRegister, "083 8: 00 10 01 11 22 33 44 55", 0x01},  // generic
        {0x2310, kSimAutoErrorRegister, "083 8: 10 23 03 11 22 33 44 55", 0x03},  // current
        {0x3120, kSimAutoErrorRegister, "083 8: 20 31 05 11 22 33 44 55", 0x05},  // voltage
        {0x4210, kSimAutoErrorRegister, "083 8: 10 42 09 11 22 33 44 55", 0x09},  // temperature
        {0x5000, kSimAutoErrorRegister, "083 8: 00 50 01 11 22 33 44 55", 0x01},  // hardware: generic only
        {0x8000, kSimAutoErrorRegister, "083 8: 00 80 01 11 22 33 44 55", 0x01},  // monitoring
        {0x8110, kSimAutoErrorRegister, "083 8: 10 81 11 11 22 33 44 55", 0x11},  // communication
        {0x8210, kSimAutoErrorRegister, "083 8: 10 82 11 11 22 33 44 55", 0x11},  // protocol
        {0xFF42, kSimAutoErrorRegister, "083 8: 42 FF 81 11 22 33 44 55", 0x81},  // device specific
        {0xF000, kSimAutoErrorRegister, "083 8: 00 F0 01 11 22 33 44 55", 0x01},  // additional functions
        {0x6100, 0x20, "083 8: 00 61 20 11 22 33 44 55", 0x20},                   // the register as asked
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        ASSERT_EQ(Raise(3, c.code, c.errorRegister, manufacturer), kSimOk);
        EXPECT_EQ(At(now), c.frame);
        EXPECT_EQ(Number(3, 0x1001, 0), c.register1001);
        EXPECT_EQ(Number(3, 0x1003, 1), c.code);
        ASSERT_EQ(Raise(3, 0, kSimAutoErrorRegister, manufacturer), kSimOk);
        EXPECT_EQ(At(now), kEmergencyReset3) << "the reset carries no manufacturer bytes";
        EXPECT_EQ(Number(3, 0x1001, 0), 0u);
    }
    EXPECT_EQ(Raise(3, 0), kSimOk);
    EXPECT_EQ(At(now), "") << "nothing to reset";
}

TEST_F(EmergencyProducer, ErrorsAddUpUntilCleared)
{
    ASSERT_EQ(Raise(3, 0x2310), kSimOk);
    ASSERT_EQ(Raise(3, 0x4210), kSimOk);
    ASSERT_EQ(Raise(5, 0x8130), kSimOk);
    EXPECT_EQ(At(now), "083 8: 10 23 03 00 00 00 00 00|083 8: 10 42 0B 00 00 00 00 00|085 8: 30 81 11 00 00 00 00 00");
    EXPECT_EQ(Number(3, 0x1001, 0), 0x0Bu);
    EXPECT_EQ(History(), (std::vector<std::uint32_t>{2, 0x4210, 0x2310, 0, 0, 0, 0, 0, 0}));
    // A stopped slave records the error but sends no emergency.
    Nmt(0x02, 3);
    ASSERT_EQ(Raise(3, 0x3110), kSimOk);
    EXPECT_EQ(At(now), "");
    EXPECT_EQ(Number(3, 0x1001, 0), 0x0Fu);
    EXPECT_EQ(Number(3, 0x1003, 1), 0x3110u);
    Nmt(0x01, 3);
    ASSERT_EQ(Raise(3, 0), kSimOk);
    EXPECT_EQ(At(now), kEmergencyReset3);
    EXPECT_EQ(Number(3, 0x1003, 0), 3u) << "clearing the error keeps its history";
    // After clearing, the register starts from the new error's bits alone.
    ASSERT_EQ(Raise(3, 0x1000), kSimOk);
    EXPECT_EQ(At(now), "083 8: 00 10 01 00 00 00 00 00");
    // A reset ends the error: 0x1001 and 0x1003 hold their defaults, nothing to reset.
    EXPECT_EQ(Nmt(0x82, 3), "703 1: 00");
    EXPECT_EQ(Number(3, 0x1001, 0), 0u);
    EXPECT_EQ(Number(3, 0x1003, 0), 0u);
    ASSERT_EQ(Raise(3, 0), kSimOk);
    EXPECT_EQ(At(now), "");
    struct Refused {
        std::uint32_t node;
        std::uint32_t code;
        std::uint32_t errorRegister;
    };
    for (const Refused& r :
         {Refused{4, 0x1000, 0xFF}, Refused{0, 0x1000, 0xFF}, Refused{3, 0x10000, 0xFF}, Refused{3, 0x1000, 0x100}}) {
        EXPECT_EQ(simbus::SimulateEmergency(*world, r.node, r.code, r.errorRegister, nullptr, now),
                  kSimIllegalParameter)
            << r.node << " " << r.code << " " << r.errorRegister;
    }
    EXPECT_EQ(At(now), "");
}

TEST_F(EmergencyProducer, HistoryKeepsTheNewestAndIsClearedOnlyByZero)
{
    for (std::uint32_t code = 0x1001; code <= 0x100A; ++code)
        ASSERT_EQ(Raise(3, code), kSimOk);
    ReadAll();
    EXPECT_EQ(History(),
              (std::vector<std::uint32_t>{8, 0x100A, 0x1009, 0x1008, 0x1007, 0x1006, 0x1005, 0x1004, 0x1003}));
    struct Step {
        std::vector<std::uint8_t> request;
        const char* response;
    };
    const Step steps[] = {
        {{0x40, 0x03, 0x10, 0x00}, "583 8: 4F 03 10 00 08 00 00 00"},
        {{0x40, 0x03, 0x10, 0x01}, "583 8: 43 03 10 01 0A 10 00 00"},
        {{0x2F, 0x03, 0x10, 0x00, 0x01}, "583 8: 80 03 10 00 30 00 09 06"},  // only 0
        {{0x2F, 0x03, 0x10, 0x00, 0x08}, "583 8: 80 03 10 00 30 00 09 06"},
        {{0x23, 0x03, 0x10, 0x01, 0x00, 0x00, 0x00, 0x00}, "583 8: 80 03 10 01 02 00 01 06"},  // read-only
        {{0x2B, 0x03, 0x10, 0x00, 0x00, 0x00}, "583 8: 80 03 10 00 12 00 07 06"},              // UNSIGNED8
        {{0x40, 0x03, 0x10, 0x09}, "583 8: 80 03 10 09 11 00 09 06"},                          // eight codes
        {{0x2F, 0x03, 0x10, 0x00, 0x00}, "583 8: 60 03 10 00 00 00 00 00"},
        {{0x40, 0x03, 0x10, 0x01}, "583 8: 43 03 10 01 00 00 00 00"},
    };
    for (std::size_t i = 0; i < std::size(steps); ++i) {
        DriverMsg request = Frame(0x603, {});
        request.length = 8;
        std::copy(steps[i].request.begin(), steps[i].request.end(), request.data);
        EXPECT_EQ(Exchange(request), steps[i].response) << "step " << i;
    }
    EXPECT_EQ(History(), (std::vector<std::uint32_t>{0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(Number(3, 0x1001, 0), 0x01u) << "clearing the history is no error reset";
    ASSERT_EQ(Raise(3, 0x2000), kSimOk);
    EXPECT_EQ(History(), (std::vector<std::uint32_t>{1, 0x2000, 0, 0, 0, 0, 0, 0, 0}));
}

// The I/O module's 0x2100: the operator's way to an emergency through Write Object.
TEST_F(EmergencyProducer, SimulatedErrorObjectOfTheIoModule)
{
    EXPECT_EQ(Sdo(3, {0x23, 0x00, 0x21, 0x02, 0xA1, 0xB2, 0xC3, 0xD4}), "583 8: 60 00 21 02 00 00 00 00");
    EXPECT_EQ(Sdo(3, {0x2B, 0x00, 0x21, 0x01, 0x10, 0xFF}),
              "083 8: 10 FF 81 A1 B2 C3 D4 00|583 8: 60 00 21 01 00 00 00 00");
    EXPECT_EQ(Sdo(3, {0x40, 0x01, 0x10, 0x00}), "583 8: 4F 01 10 00 81 00 00 00");
    EXPECT_EQ(Sdo(3, {0x40, 0x03, 0x10, 0x01}), "583 8: 43 03 10 01 10 FF 00 00");
    EXPECT_EQ(Sdo(3, {0x2B, 0x00, 0x21, 0x01, 0x00, 0x00}),
              std::string(kEmergencyReset3) + "|583 8: 60 00 21 01 00 00 00 00");
    EXPECT_EQ(Sdo(3, {0x40, 0x01, 0x10, 0x00}), "583 8: 4F 01 10 00 00 00 00 00");
    // A refused write raises nothing.
    EXPECT_EQ(Sdo(3, {0x2F, 0x00, 0x21, 0x01, 0x10}), "583 8: 80 00 21 01 13 00 07 06");
    // The drive has no such object.
    EXPECT_EQ(Sdo(5, {0x2B, 0x00, 0x21, 0x01, 0x10, 0xFF}), "585 8: 80 00 21 01 00 00 02 06");
}

// The SimEmergency key and the room an EDS's error history gets.
TEST(EmergencyEds, KeyNamesTheManufacturerBytesAndHistoryGetsItsRoom)
{
    const std::string head =
        "[OptionalObjects]\n1=0x1003\n2=0x2000\n3=0x2001\n"
        "[1003]\nObjectType=0x8\nSubNumber=1\n[1003sub0]\nDataType=0x0005\nAccessType=rw\nDefaultValue=0\n"
        "[2001]\nDataType=0x000A\nAccessType=rw\n[2000]\n";
    struct Case {
        std::string body;
        bool ok;
        bool linked;
    };
    const Case cases[] = {
        {"DataType=0x0006\nAccessType=rw\nSimEmergency=\n", true, false},
        {"DataType=0x0006\nAccessType=rw\nSimEmergency=2001sub0\n", true, true},
        {"DataType=0x0006\nAccessType=rw\nSimEmergency=2002sub0\n", false, false},  // no such entry
        {"DataType=0x0006\nAccessType=rw\nSimEmergency=2001\n", false, false},
        {"DataType=0x0009\nAccessType=rw\nSimEmergency=\n", false, false},  // a text holds no code
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body);
        simbus::EdsDevice device;
        std::string error;
        ASSERT_EQ(simbus::ParseEds(head + c.body, 1, device, error), c.ok) << error;
        if (!c.ok) {
            EXPECT_EQ(error.rfind("[2000]: SimEmergency", 0), 0u) << error;
            continue;
        }
        ASSERT_EQ(device.entries.size(), 11u);  // 1003sub0, eight codes added, 2000, 2001
        for (std::uint8_t sub = 0; sub <= 8; ++sub) {
            EXPECT_EQ(device.entries[sub].index, 0x1003);
            EXPECT_EQ(device.entries[sub].subIndex, sub);
        }
        EXPECT_EQ(device.entries[8].dataType, simbus::kTypeUnsigned32);
        EXPECT_EQ(device.entries[8].access, simbus::Access::ReadOnly);
        EXPECT_EQ(device.entries[9].behaviour, simbus::Behaviour::Emergency);
        EXPECT_EQ(device.entries[9].linked, c.linked);
    }
}

}  // namespace
