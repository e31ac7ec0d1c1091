// Shared helpers of the simulated bus tests: a World with the default network on an
// open adapter, raw frames, and frames written as text for byte-exact comparison.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "network.h"
#include "virtual_bus.h"
#include "world.h"

namespace simbus_test {

inline DriverMsg Frame(std::uint32_t id, std::initializer_list<std::uint8_t> bytes, std::uint8_t msgType = 0)
{
    DriverMsg msg{};
    msg.id = id;
    msg.msgType = msgType;
    msg.length = static_cast<std::uint8_t>(bytes.size());
    std::size_t i = 0;
    for (const std::uint8_t byte : bytes)
        msg.data[i++] = byte;
    return msg;
}

inline DriverMsg Remote(std::uint32_t id, std::uint8_t length)
{
    DriverMsg msg{};
    msg.id = id;
    msg.msgType = kMsgRemote;
    msg.length = length;
    return msg;
}

// "583 8: 43 00 10 00 91 01 0F 00"; a remote frame is marked "r", a status "s".
inline std::string Text(const DriverMsg& msg)
{
    char text[64];
    int used = std::snprintf(text, sizeof text, "%03X%s%s %u:", static_cast<unsigned>(msg.id),
                             (msg.msgType & kMsgRemote) ? "r" : "", (msg.msgType & kMsgStatus) ? "s" : "",
                             static_cast<unsigned>(msg.length));
    for (unsigned i = 0; i < msg.length && i < 8; ++i)
        used += std::snprintf(text + used, sizeof text - static_cast<std::size_t>(used), " %02X", msg.data[i]);
    return text;
}

inline bool ReadEmbedded(const std::string& name, void*, std::string& text)
{
    const std::string_view eds = simbus::FindEmbeddedEds(name);
    text.assign(eds.begin(), eds.end());
    return !eds.empty();
}

// The default network (node 3 I/O module, node 5 drive) on an adapter opened at
// 10 kbit/s, boot-ups read, clock at 1000 ms.
class SimBusTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        simbus::ResetSimulation(*world);
        std::string errors;
        ASSERT_TRUE(simbus::BuildNetwork(*world, simbus::DefaultNetwork(), ReadEmbedded, nullptr, errors)) << errors;
        ASSERT_EQ(simbus::AdapterInit(*world, 0x672F, 0, now), 0u);
        ReadAll();
    }

    std::uint32_t Write(const DriverMsg& msg) { return simbus::AdapterWrite(*world, &msg, now); }

    // Every message waiting in the receive queue, as text.
    std::vector<std::string> ReadAll()
    {
        std::vector<std::string> texts;
        DriverMsg msg{};
        while (simbus::AdapterRead(*world, &msg, now) == 0)
            texts.push_back(Text(msg));
        return texts;
    }

    // Writes one frame and returns what came back ("" for nothing, texts joined by "|").
    std::string Exchange(const DriverMsg& msg)
    {
        EXPECT_EQ(Write(msg), 0u);
        std::string joined;
        for (const std::string& text : ReadAll())
            joined += (joined.empty() ? "" : "|") + text;
        return joined;
    }

    // An SDO request of eight bytes to the node.
    std::string Sdo(std::uint8_t node, std::initializer_list<std::uint8_t> bytes)
    {
        DriverMsg msg = Frame(0x600u + node, bytes);
        msg.length = 8;
        return Exchange(msg);
    }

    std::string Nmt(std::uint8_t command, std::uint8_t node) { return Exchange(Frame(0x000, {command, node})); }

    std::unique_ptr<simbus::World> world = std::make_unique<simbus::World>();
    std::uint32_t now = 1000;
};

}  // namespace simbus_test
