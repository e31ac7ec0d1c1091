// Drives the engine as the bus pump does, with frames captured at the send hook and time
// taken from the manual clock.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "node_table.h"
#include "pdo_slots.h"
#include "sdo_client.h"
#include "tick.h"

inline std::vector<CanFrame> sentFrames;  // everything the engine handed to the hook

inline int CaptureFrame(const CanFrame& frame)
{
    sentFrames.push_back(frame);
    return 1;
}

inline CanFrame Frame(std::uint32_t id, std::initializer_list<std::uint8_t> bytes)
{
    CanFrame frame{};
    frame.id = id;
    frame.length = static_cast<std::uint8_t>(bytes.size());
    std::size_t i = 0;
    for (std::uint8_t b : bytes)
        if (i < 8)
            frame.data[i++] = b;
    return frame;
}

inline std::vector<std::uint8_t> Bytes(const CanFrame& frame)
{
    return {frame.data.begin(), frame.data.begin() + frame.length};
}

class EngineTest : public ::testing::Test {
public:
    static NodeTable& Table()
    {
        static NodeTable table;  // 256 KiB: static, like the program's own
        return table;
    }

protected:
    void SetUp() override
    {
        ClearNodeTable(Table());
        SetSendHook(CaptureFrame);
        sentFrames.clear();
        UseManualClock(1000);
    }

    void TearDown() override
    {
        ClearSendHook();
        UseSystemClock();
    }

    // One run of the pump: a cycle with the frame (if any), then one without.
    static void Pump(const CanFrame* frame = nullptr)
    {
        if (frame != nullptr)
            RunEngineCycle(Table(), frame);
        RunEngineCycle(Table(), nullptr);
    }

    static void Pump(const CanFrame& frame) { Pump(&frame); }

    // Takes the frames sent since the last call.
    static std::vector<CanFrame> TakeSent()
    {
        std::vector<CanFrame> frames;
        frames.swap(sentFrames);
        return frames;
    }

    // Expects exactly one frame sent since the last call, and returns its bytes.
    static std::vector<std::uint8_t> TakeOne(std::uint32_t expectedId)
    {
        std::vector<CanFrame> frames = TakeSent();
        EXPECT_EQ(frames.size(), 1u);
        if (frames.size() != 1)
            return {};
        EXPECT_EQ(frames[0].id, expectedId);
        EXPECT_EQ(frames[0].remote, 0);
        EXPECT_EQ(frames[0].length, 8);
        return Bytes(frames[0]);
    }

    struct Result {
        int ready;
        std::uint32_t length;
        std::uint8_t status;
        std::uint32_t abortCode;
        std::vector<std::uint8_t> data;
    };

    static Result Fetch(std::uint32_t node, std::uint32_t capacity = 1000)
    {
        Result r{};
        r.data.assign(capacity, 0xEE);
        r.ready = FetchSdoResult(node, Table(), r.data.data(), capacity, r.length, r.status, r.abortCode);
        r.data.resize(r.length);
        return r;
    }
};
