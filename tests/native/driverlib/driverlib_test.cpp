// The receive ring and the entry-point bodies the driver libraries share.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "driver_entries.h"
#include "frame_ring.h"

namespace {

DriverMsg Frame(std::uint32_t id)
{
    DriverMsg msg{};
    msg.id = id;
    msg.length = 1;
    msg.data[0] = static_cast<std::uint8_t>(id);
    return msg;
}

std::vector<std::uint32_t> Drain(driverlib::FrameRing<3>& ring)
{
    std::vector<std::uint32_t> ids;
    DriverMsg msg{};
    while (driverlib::RingPop(ring, msg))
        ids.push_back(msg.id);
    return ids;
}

TEST(FrameRing, KeepsItsOrderAcrossTheWrapAndRefusesWhenFull)
{
    driverlib::FrameRing<3> ring{};  // zero-filled: empty
    EXPECT_TRUE(Drain(ring).empty());
    for (std::uint32_t id = 1; id <= 3; ++id)
        ASSERT_TRUE(driverlib::RingPush(ring, Frame(id)));
    EXPECT_TRUE(driverlib::RingFull(ring));
    EXPECT_FALSE(driverlib::RingPush(ring, Frame(9)));  // refused, nothing overwritten
    DriverMsg oldest{};
    ASSERT_TRUE(driverlib::RingPop(ring, oldest));
    EXPECT_EQ(oldest.id, 1u);
    for (std::uint32_t id = 4; id <= 5; ++id) {  // 4 goes into the freed place, then full
        EXPECT_EQ(driverlib::RingPush(ring, Frame(id)), id == 4);
    }
    EXPECT_EQ(Drain(ring), (std::vector<std::uint32_t>{2, 3, 4}));
    for (std::uint32_t id = 6; id <= 7; ++id)
        ASSERT_TRUE(driverlib::RingPush(ring, Frame(id)));
    driverlib::RingClear(ring);
    EXPECT_FALSE(driverlib::RingFull(ring));
    EXPECT_TRUE(Drain(ring).empty());
}

// A stand-in library's link: what CAN_Read takes in, and whether it is open.
struct FakeLink {
    driverlib::FrameRing<3> ring;
    int takeIns;
    std::vector<DriverMsg> arriving;  // moved into the ring by the next take-in
    std::uint32_t trouble;
};
FakeLink fake;

void TakeIn()
{
    ++fake.takeIns;
    for (const DriverMsg& msg : fake.arriving)
        ASSERT_TRUE(driverlib::RingPush(fake.ring, msg));
    fake.arriving.clear();
}

std::uint32_t Trouble()
{
    return fake.trouble;
}

TEST(DriverEntries, ReadTakesInFirstAndTellsTroubleOnlyWithAnEmptyQueue)
{
    fake = FakeLink{};
    EXPECT_EQ(driverlib::ReadEntry(fake.ring, nullptr, TakeIn, Trouble), driverlib::kIllegalParameter);
    EXPECT_EQ(fake.takeIns, 0);  // nothing moves for a call that is refused

    DriverMsg msg{};
    fake.trouble = 0x1000;
    EXPECT_EQ(driverlib::ReadEntry(fake.ring, &msg, TakeIn, Trouble), driverlib::kReceiveEmpty | 0x1000u);
    // What arrives during the call is read in the same call, trouble or not.
    fake.arriving = {Frame(0x181), Frame(0x182)};
    EXPECT_EQ(driverlib::ReadEntry(fake.ring, &msg, TakeIn, Trouble), driverlib::kOk);
    EXPECT_EQ(msg.id, 0x181u);
    fake.trouble = 0;
    EXPECT_EQ(driverlib::ReadEntry(fake.ring, &msg, TakeIn, Trouble), driverlib::kOk);
    EXPECT_EQ(msg.id, 0x182u);
    EXPECT_EQ(driverlib::ReadEntry(fake.ring, &msg, TakeIn, Trouble), driverlib::kReceiveEmpty);
    EXPECT_EQ(fake.takeIns, 4);

    fake.arriving = {Frame(0x183)};
    TakeIn();
    EXPECT_EQ(driverlib::ResetClientEntry(fake.ring), driverlib::kOk);
    EXPECT_EQ(driverlib::ReadEntry(fake.ring, &msg, TakeIn, Trouble), driverlib::kReceiveEmpty);
}

TEST(DriverEntries, VersionTextNamesTheDeviceWhenThereIsOneAndKeepsToItsRoom)
{
    struct Case {
        std::string device;
        std::string expected;
    };
    const std::string longDevice(100, 'd');
    const Case cases[] = {
        {"", "Library 1.0"},
        {"V1013 NA123", "Library 1.0; device V1013 NA123"},
        {longDevice, "Library 1.0; device " + longDevice.substr(0, driverlib::kVersionTextSize - 21)},
    };
    for (const Case& c : cases) {
        char text[driverlib::kVersionTextSize + 16];
        std::memset(text, 'x', sizeof text);
        EXPECT_EQ(driverlib::VersionInfoEntry(text, "Library 1.0", c.device.c_str()), driverlib::kOk);
        EXPECT_EQ(std::string(text), c.expected);
        for (std::size_t i = driverlib::kVersionTextSize; i < sizeof text; ++i)
            ASSERT_EQ(text[i], 'x') << "written beyond the room at " << i;
    }
    EXPECT_EQ(driverlib::VersionInfoEntry(nullptr, "Library 1.0", ""), driverlib::kIllegalParameter);
}

}  // namespace
