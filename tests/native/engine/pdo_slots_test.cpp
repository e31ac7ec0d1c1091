#include "engine_test_support.h"

namespace {

using B = std::vector<std::uint8_t>;

class PdoSlots : public EngineTest {
protected:
    static B Take(std::uint32_t node, std::uint32_t slot, int expectedResult)
    {
        std::uint8_t buffer[8] = {};
        std::uint32_t length = 99;
        EXPECT_EQ(FetchPdo(node, slot, Table(), buffer, length), expectedResult);
        return B(buffer, buffer + length);
    }
};

TEST_F(PdoSlots, NewestFrameOfEachSlotIsFetchedOnce)
{
    Pump(Frame(0x181, {1, 2, 3}));
    EXPECT_EQ(Take(1, 0, 1), (B{1, 2, 3}));
    EXPECT_EQ(Take(1, 0, 0), B{}) << "nothing new: length 0";

    Pump(Frame(0x181, {4, 5}));
    Pump(Frame(0x181, {6}));
    EXPECT_EQ(Take(1, 0, 1), (B{6}));
    EXPECT_TRUE(TakeSent().empty());
}

TEST_F(PdoSlots, FunctionCodesThreeToTenOnly)
{
    for (std::uint32_t function = 0; function < 16; ++function) {
        SCOPED_TRACE(function);
        ClearNodeTable(Table());
        const std::uint32_t id = function * 0x80 + 7;
        Pump(Frame(id, {static_cast<std::uint8_t>(function)}));
        int filled = 0;
        for (std::uint32_t slot = 0; slot < 8; ++slot) {
            std::uint8_t buffer[8];
            std::uint32_t length = 0;
            if (FetchPdo(7, slot, Table(), buffer, length) != 0) {
                ++filled;
                EXPECT_EQ(slot, function - 3);
                EXPECT_EQ(buffer[0], function);
            }
        }
        EXPECT_EQ(filled, function >= 3 && function <= 10 ? 1 : 0);
    }
}

TEST_F(PdoSlots, OnlyTheAddressedNodeStoresTheFrame)
{
    Pump(Frame(0x285, {9}));
    for (std::uint32_t node = 0; node < 128; ++node)
        if (node != 5)
            EXPECT_EQ(Take(node, 2, 0), B{}) << node;
    EXPECT_EQ(Take(5 + 256, 2 + 8, 1), (B{9})) << "node and slot are masked";
}

TEST_F(PdoSlots, RemoteFramesAreIgnored)
{
    CanFrame remote = Frame(0x181, {});
    remote.remote = 1;
    remote.length = 2;
    Pump(remote);
    EXPECT_EQ(Take(1, 0, 0), B{});
}

TEST_F(PdoSlots, LengthAboveEightIsClamped)
{
    CanFrame frame = Frame(0x501, {1, 2, 3, 4, 5, 6, 7, 8});
    frame.length = 12;
    Pump(frame);
    EXPECT_EQ(Take(1, 7, 1), (B{1, 2, 3, 4, 5, 6, 7, 8}));
}

TEST_F(PdoSlots, ClearNodeTableEmptiesTheSlots)
{
    Pump(Frame(0x183, {1}));
    ClearNodeTable(Table());
    EXPECT_EQ(Take(3, 0, 0), B{});
}

}  // namespace
