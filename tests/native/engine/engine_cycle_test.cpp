#include <cstring>

#include "engine_test_support.h"

namespace {

class EngineCycle : public EngineTest {};

TEST_F(EngineCycle, IdleCycleSendsNothingAndChangesNothing)
{
    static NodeTable before;
    std::memcpy(&before, &Table(), sizeof before);
    EXPECT_EQ(RunEngineCycle(Table(), nullptr), 128);
    EXPECT_TRUE(TakeSent().empty());
    // Only the clients' scratch frames may differ; compare the protocol state.
    for (std::size_t n = 0; n < kNodeCount; ++n) {
        EXPECT_EQ(Table().nodes[n].sdoState, SdoState::Idle);
        EXPECT_EQ(std::memcmp(&Table().nodes[n].pdoSlots, &before.nodes[n].pdoSlots, sizeof before.nodes[n].pdoSlots),
                  0);
    }
}

TEST_F(EngineCycle, NodeZeroTakesPartLikeEveryOther)
{
    RequestUpload(0, 500, Table(), 0x1000, 0);
    RequestUpload(127, 500, Table(), 0x1000, 0);
    RunEngineCycle(Table(), nullptr);
    std::vector<CanFrame> frames = TakeSent();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].id, 0x600u) << "ascending node order";
    EXPECT_EQ(frames[1].id, 0x67Fu);
}

TEST_F(EngineCycle, AFrameStepsOnlyTheClientItAnswers)
{
    RequestUpload(2, 500, Table(), 0x1000, 0);
    RequestUpload(3, 500, Table(), 0x1000, 0);
    RunEngineCycle(Table(), nullptr);
    TakeSent();
    RequestUpload(2, 500, Table(), 0x1001, 0);  // due, but must wait for a frame-less cycle
    const CanFrame reply = Frame(0x583, {0x4F, 0x00, 0x10, 0x00, 1, 0, 0, 0});
    RunEngineCycle(Table(), &reply);
    EXPECT_TRUE(TakeSent().empty());
    RunEngineCycle(Table(), nullptr);
    std::vector<CanFrame> frames = TakeSent();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].id, 0x602u);
}

}  // namespace
