// The real program on the socketcand path, against the slaves of an independent CANopen
// implementation: tests/interop/run-bed.sh starts its socketcand-protocol server and nodes
// 3 and 5 around this executable and hands over their ports (BED_PORT, BED_CONTROL_3).
// velomar reaches them with --driver socketcand:127.0.0.1:PORT:can0, its network library
// and settings file prepared as for a real SocketCAN machine; what it reads is compared
// with what the slave holds, asked on the slave's own control port.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli_child.h"

namespace {

using namespace std::chrono_literals;

std::uint16_t BedPort(const char* name)
{
    const char* text = std::getenv(name);
    const long value = text != nullptr ? std::strtol(text, nullptr, 10) : 0;
    return value > 0 && value < 65536 ? static_cast<std::uint16_t>(value) : 0;
}

// One command to a slave's control port and its one-line answer ("ok 91010F00"), or ""
// when the slave cannot be reached within a second.
std::string AskSlave(std::uint16_t controlPort, const std::string& command)
{
    std::string answer;
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    if (s < 0)
        return answer;
    timeval timeout{1, 0};
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(controlPort);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        const std::string line = command + "\n";
        if (send(s, line.data(), line.size(), 0) == static_cast<ssize_t>(line.size())) {
            char c = 0;
            for (int i = 0; i < 4096 && recv(s, &c, 1, 0) == 1 && c != '\n'; ++i)
                answer += c;
        }
    }
    close(s);
    return answer;
}

// The slave's raw value (hex bytes, little-endian, as its control port gives them) as a
// number, or as the text it holds.
std::uint64_t NumberOf(const std::string& hex)
{
    std::uint64_t value = 0;
    for (std::size_t i = hex.size(); i >= 2; i -= 2)
        value = (value << 8) | std::stoul(hex.substr(i - 2, 2), nullptr, 16);
    return value;
}

std::string TextOf(const std::string& hex)
{
    std::string text;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        text += static_cast<char>(std::stoul(hex.substr(i, 2), nullptr, 16));
    return text;
}

class SocketcandPathTest : public ::testing::Test {
protected:
    std::uint16_t server = 0;
    std::uint16_t node3 = 0;

    void SetUp() override
    {
        server = BedPort("BED_PORT");
        node3 = BedPort("BED_CONTROL_3");
        if (server == 0 || node3 == 0)
            GTEST_SKIP() << "not started by tests/interop/run-bed.sh (no BED_PORT or BED_CONTROL_3)";
    }

    // The raw value of the slave's entry from its own side; a test failure when it cannot
    // be asked.
    std::string SlaveHolds(const char* index, const char* sub)
    {
        const std::string answer = AskSlave(node3, std::string("get ") + index + " " + sub);
        EXPECT_EQ(answer.rfind("ok ", 0), 0u) << "get " << index << " " << sub << ": " << answer;
        return answer.size() > 3 ? answer.substr(3) : "";
    }

    Finished Run(const std::vector<std::string>& arguments)
    {
        std::vector<std::string> all = {VELOMAR_BINARY, "--driver",
                                        "socketcand:127.0.0.1:" + std::to_string(server) + ":can0"};
        all.insert(all.end(), arguments.begin(), arguments.end());
        Child child(VELOMAR_BINARY, all);
        EXPECT_TRUE(child.Started());
        return child.End(30s);
    }

    static nlohmann::json Parsed(const Finished& run)
    {
        nlohmann::json parsed = nlohmann::json::parse(run.out, nullptr, false);
        EXPECT_FALSE(parsed.is_discarded()) << run.out;
        return parsed;
    }
};

// Values of each kind of transfer agree with what the slave holds: the expedited upload
// without a size, the segmented one ending in the slave's extra empty segment, a 2-byte
// value; a value written reaches the slave's object and a later run reads it back; the
// slave's abort comes through with its code.
TEST_F(SocketcandPathTest, ReadAndWriteAgreeWithTheIndependentSlave)
{
    Finished run = Run({"read", "3", "0x1000", "0", "u32"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, std::to_string(NumberOf(SlaveHolds("1000", "0"))) + "\n");
    EXPECT_EQ(run.out, "983441\n");

    run = Run({"--json", "read", "3", "0x1008", "0", "str"});
    ASSERT_EQ(run.status, 0) << run.err;
    nlohmann::json read = Parsed(run);
    EXPECT_EQ(read["value"], TextOf(SlaveHolds("1008", "0")));
    EXPECT_EQ(read["value"], "Interop IO module");
    EXPECT_EQ(read["length"], 17);

    run = Run({"--json", "read", "3", "0x2002", "0", "u16"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Parsed(run)["value"], 0x1234);

    run = Run({"write", "3", "0x2002", "0", "u16", "4321"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(SlaveHolds("2002", "0"), "E110") << "4321 in the slave's object";
    run = Run({"read", "3", "0x2002", "0", "u16"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "4321\n");

    run = Run({"--json", "read", "3", "0x3000", "0", "u32"});
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(Parsed(run)["abortCode"], "0x06020000");
    EXPECT_EQ(run.err, "velomar: Unable to access object! Abort Code: 06020000h (Object does not exist in the object dictionary)\n");
}

// The search finds exactly the two independent slaves; info tells node 3's identity as
// the slave holds it. These slaves answer no remote frame, so no NMT state can be known
// from node guarding: info must not claim one.
TEST_F(SocketcandPathTest, ScanAndInfoSeeTheIndependentSlaves)
{
    Finished run = Run({"--json", "scan"});
    ASSERT_EQ(run.status, 0) << run.err;
    std::vector<nlohmann::json> found;
    std::size_t at = 0;
    for (std::size_t next = 0; (next = run.out.find('\n', at)) != std::string::npos; at = next + 1)
        found.push_back(nlohmann::json::parse(run.out.substr(at, next - at), nullptr, false));
    ASSERT_EQ(found.size(), 2u) << run.out;
    EXPECT_EQ(found[0]["node"], 3);
    EXPECT_EQ(found[0]["name"], "Interop IO module");
    EXPECT_EQ(found[1]["node"], 5);
    EXPECT_EQ(found[1]["name"], "Interop IO module B");
    for (const nlohmann::json& node : found)
        EXPECT_EQ(node["deviceType"], "0x000F0191");

    run = Run({"--json", "info", "3"});
    ASSERT_EQ(run.status, 0) << run.err;
    const nlohmann::json info = Parsed(run);
    EXPECT_EQ(info["node"], 3);
    EXPECT_EQ(info["deviceType"], "0x000F0191");
    EXPECT_EQ(info["name"], "Interop IO module");
    EXPECT_EQ(info["product"], "0x00000003");
    char serial[16];
    std::snprintf(serial, sizeof serial, "0x%08llX",
                  static_cast<unsigned long long>(NumberOf(SlaveHolds("1018", "4"))));
    EXPECT_EQ(info["serial"], serial);
    EXPECT_TRUE(!info.contains("stateCode") || info["stateCode"] == 255) << info.dump();
    EXPECT_EQ(AskSlave(node3, "state"), "ok 127") << "still pre-operational on its own side";
}

}  // namespace
