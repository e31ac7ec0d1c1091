// The real program on the serial-line path: the host build's slcan_device holds a
// pseudo-terminal with the simulated slaves behind it, and velomar reaches them with
// --driver serial:/dev/pts/N, its serial library and settings file prepared as for a USB
// adapter. The device records every frame that passes, so the frames on the adapter's
// CAN side are checked too.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "cli_child.h"

namespace {

using namespace std::chrono_literals;

class SerialPathTest : public ::testing::Test {
protected:
    std::string folder;
    std::string record;
    std::string muteFile;
    std::string terminal;
    Child* device = nullptr;

    void SetUp() override
    {
        if (access(SLCAN_DEVICE_PATH, X_OK) != 0)
            GTEST_SKIP() << "no serial-line test device at " SLCAN_DEVICE_PATH;
        char name[] = "/tmp/velomar-serial-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        folder = name;
        record = folder + "/frames.txt";
        muteFile = folder + "/mute";
        device = new Child(SLCAN_DEVICE_PATH, {"slcan_device", "--record", record, "--mute-file", muteFile});
        ASSERT_TRUE(device->Started());
        // The device names its terminal on the first line once it answers there.
        ASSERT_TRUE(device->WaitFor([this] { return device->Out().find('\n') != std::string::npos; }, 10s))
            << device->Err();
        terminal = device->Out().substr(0, device->Out().find('\n'));
        ASSERT_EQ(terminal.rfind("/dev/", 0), 0u) << terminal;
    }

    void TearDown() override
    {
        if (device != nullptr) {
            device->Signal(SIGTERM);
            device->End(5s);
            delete device;
        }
        std::remove(record.c_str());
        std::remove(muteFile.c_str());
        if (!folder.empty())
            rmdir(folder.c_str());
    }

    std::vector<std::string> Words(const std::vector<std::string>& arguments) const
    {
        std::vector<std::string> all = {VELOMAR_BINARY, "--driver", "serial:" + terminal};
        all.insert(all.end(), arguments.begin(), arguments.end());
        return all;
    }

    Finished Run(const std::vector<std::string>& arguments)
    {
        Child child(VELOMAR_BINARY, Words(arguments));
        EXPECT_TRUE(child.Started());
        return child.End(20s);
    }

    std::string Frames() const
    {
        std::ifstream in(record);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
};

// Objects of each kind of transfer read through the adapter, a value written by one run
// and read by the next (the device's slaves keep it), and the identity with the NMT state
// asked by a remote frame.
TEST_F(SerialPathTest, ReadWriteAndInfoReachTheSlavesBehindTheAdapter)
{
    Finished run = Run({"read", "3", "0x1000", "0", "u32"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "983441\n");
    EXPECT_EQ(run.err, "");

    // 21 bytes: a segmented upload, three segments over the serial line.
    run = Run({"--json", "read", "3", "0x1008", "0", "str"});
    ASSERT_EQ(run.status, 0) << run.err;
    nlohmann::json read = nlohmann::json::parse(run.out, nullptr, false);
    EXPECT_EQ(read["value"], "SimIO 8DI 8DO 2AI 2AO");
    EXPECT_EQ(read["length"], 21);

    run = Run({"write", "3", "0x6411", "1", "i16", "-1234"});
    EXPECT_EQ(run.status, 0) << run.err;
    run = Run({"read", "3", "0x6411", "1", "i16"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "-1234\n");

    run = Run({"--json", "info", "3"});
    ASSERT_EQ(run.status, 0) << run.err;
    const nlohmann::json info = nlohmann::json::parse(run.out, nullptr, false);
    ASSERT_FALSE(info.is_discarded()) << run.out;
    EXPECT_EQ(info["deviceType"], "0x000F0191");
    EXPECT_EQ(info["name"], "SimIO 8DI 8DO 2AI 2AO");
    EXPECT_EQ(info["vendor"], "0x00000F0A");
    EXPECT_EQ(info["state"], "Pre-operational");
    EXPECT_EQ(info["stateCode"], 0x7F);

    // On the CAN side of the adapter: the request for 0x1000, the expedited answer, the
    // written value in a 2-byte download (0xFB2E is -1234), and the guarding request.
    const std::string frames = Frames();
    EXPECT_NE(frames.find("tx 603 8 40 00 10 00 00 00 00 00\n"), std::string::npos) << frames;
    EXPECT_NE(frames.find("rx 583 8 43 00 10 00 91 01 0F 00\n"), std::string::npos) << frames;
    EXPECT_NE(frames.find("tx 603 8 2B 11 64 01 2E FB 00 00\n"), std::string::npos) << frames;
    EXPECT_NE(frames.find("tx 703 r 1\nrx 703 1 7F\n"), std::string::npos) << frames;
}

// A node that is not on the bus, and a device that falls silent in the middle of a batch,
// are "no answer" (3); an adapter that never answers is one that cannot be opened (4).
TEST_F(SerialPathTest, NoAnswerAndASilentAdapter)
{
    Finished run = Run({"read", "99", "0x1000", "0", "u32"});
    EXPECT_EQ(run.status, 3) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "velomar: Communication failure!\n");
    EXPECT_NE(Frames().find("tx 663 8 40 00 10 00 00 00 00 00\n"), std::string::npos) << "the request went out";

    {
        Child batch(VELOMAR_BINARY, Words({"batch", "-"}));
        ASSERT_TRUE(batch.Started());
        batch.Send("read 3 0x1000 0 u32\n");
        ASSERT_TRUE(batch.WaitFor([&batch] { return batch.Out() == "983441\n"; }, 10s)) << batch.Err();
        std::ofstream(muteFile) << "\n";
        batch.Write("read 3 0x1018 1 hex4\n");
        run = batch.End(20s);
        EXPECT_EQ(run.status, 3) << run.err;
        EXPECT_EQ(run.out, "983441\n");
        EXPECT_NE(run.err.find("velomar: Communication failure!\n"), std::string::npos) << run.err;
    }

    run = Run({"read", "3", "0x1000", "0", "u32"});
    EXPECT_EQ(run.status, 4) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "velomar: Unable to open CAN dongle!\n");
}

}  // namespace
