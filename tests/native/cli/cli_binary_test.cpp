// The real program as a script runs it: its exit statuses, what it writes to standard
// output and error, a batch on standard input, and Ctrl-C ending a run. Each run waits
// for the program's end with a deadline; none waits a fixed time.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli_child.h"
#include "os_services.h"
#include "sim_controls.h"
#include "text_files.h"

namespace {

// The program itself, on the simulated library beside this test.
std::vector<std::string> ProgramWords(const std::vector<std::string>& arguments)
{
    std::vector<std::string> all = {VELOMAR_BINARY, "--driver", ProgramFolder() + "pcan_usb.so"};
    all.insert(all.end(), arguments.begin(), arguments.end());
    return all;
}

Finished RunProgram(const std::vector<std::string>& arguments, const std::string& input = "")
{
    Child child(VELOMAR_BINARY, ProgramWords(arguments));
    EXPECT_TRUE(child.Started());
    if (!input.empty())
        child.Write(input);
    return child.End();
}

TEST(BinaryTest, ExitStatusesAndWhereTheWordsGo)
{
    Finished run = RunProgram({"read", "3", "0x1000", "0", "u32"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "983441\n");
    EXPECT_EQ(run.err, "");

    run = RunProgram({"--json", "read", "3", "0x6000", "9", "u8"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(nlohmann::json::parse(run.out)["abortCode"], "0x06090011");
    EXPECT_EQ(run.err, "velomar: Unable to access object! Abort Code: 06090011h (Sub-index does not exist)\n");

    run = RunProgram({"read", "3", "0x1000"});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");

    run = RunProgram({"--lang", "de", "read", "99", "0x1000", "0"});
    EXPECT_EQ(run.status, 3);
    EXPECT_EQ(run.err, "velomar: Kommunikationsfehler!\n");

    run = RunProgram({"--driver", "/nonexistent/pcan_usb.so", "scan"});
    EXPECT_EQ(run.status, 4);
    EXPECT_EQ(run.err, "velomar: Unable to load CAN DLL!\n");
}

// Without a type, a read takes the one of the node's file, which the eds folder beside the
// program holds for the identity the node reports.
TEST(BinaryTest, AReadWithoutATypeTakesTheOneOfTheNodesFile)
{
    Finished run = RunProgram({"--json", "read", "3", "0x1017", "0"});
    ASSERT_EQ(run.status, 0) << run.err;
    const nlohmann::json heartbeat = nlohmann::json::parse(run.out);
    EXPECT_EQ(heartbeat["type"], "u16");
    EXPECT_TRUE(heartbeat["value"].is_number());
    run = RunProgram({"read", "3", "0x1008", "0"});
    EXPECT_EQ(run.out, "SimIO 8DI 8DO 2AI 2AO\n");
    run = RunProgram({"read", "5", "0x6041", "0"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out.find(' '), std::string::npos) << "one number, not bytes: " << run.out;
}

TEST(BinaryTest, BatchOnStandardInputKeepsWhatWasWritten)
{
    const Finished run = RunProgram({"batch", "-"}, "write 3 0x6200 1 u8 9\nread 3 0x6200 1 u8\n");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "3 0x6200 1 <- 9\n9\n");
}

TEST(BinaryTest, CtrlCEndsARunAsStopDoes)
{
    Child child(VELOMAR_BINARY, ProgramWords({"run", "3"}));
    ASSERT_TRUE(child.Started());
    // The first inputs show that the exchange runs.
    ASSERT_TRUE(child.WaitFor([&child] { return child.Out().find("PDO1 0x183") != std::string::npos; },
                              std::chrono::milliseconds(10000)));
    child.Interrupt();
    const Finished run = child.End();
    EXPECT_EQ(run.status, 0) << run.err;
}

std::string ReadText(const std::string& path)
{
    std::string text = ReadTextFile(path);
    std::erase(text, '\r');
    return text;
}

// The guide's commissioning script, run by the shell as an operator would, on a device
// without a node-ID: every step's result from the JSON lines it prints.
TEST(BinaryTest, TheCommissioningScriptOfTheGuide)
{
    const std::string guide = ReadText(VELOMAR_SOURCE_DIR "/docs/command-line.md");
    const std::size_t start = guide.find("```sh\n#!/bin/sh\n# commission.sh");
    ASSERT_NE(start, std::string::npos) << "the script in docs/command-line.md";
    const std::size_t end = guide.find("```\n", start + 6);
    ASSERT_NE(end, std::string::npos);
    const std::string folder = ::testing::TempDir();
    const std::string script = folder + "velomar_commission.sh";
    WriteTextFile(script, guide.substr(start + 6, end - start - 6));

    // The DCF: the device's own file with a heartbeat time and a transmission type.
    std::string dcf = ReadText(VELOMAR_SOURCE_DIR "/simbus/eds/io_module.eds");
    for (const char* section : {"[1017]\nParameterName=Producer heartbeat time\nObjectType=0x7\nDataType=0x0006\n"
                                "AccessType=rw\n",
                                "[1800sub2]\nParameterName=Transmission type\nObjectType=0x7\nDataType=0x0005\n"
                                "AccessType=rw\n"}) {
        const std::size_t at = dcf.find(section);
        ASSERT_NE(at, std::string::npos) << section;
        dcf.insert(at + std::string(section).size(),
                   section[2] == '0' ? "ParameterValue=250\n" : "ParameterValue=254\n");
    }
    const std::string dcfPath = folder + "velomar commission sensor.dcf";  // a blank in the name
    WriteTextFile(dcfPath, dcf + "\n[DeviceComissioning]\nNodeID=10\n");

    WriteNetworkFile("[Nodes]\n3=io_module.eds\n[NonConfigured]\nsensor=io_module.eds, 0x00001001\n");
    // velomar by its name, as the script calls it.
    std::string binary = VELOMAR_BINARY;
    const char* path = std::getenv("PATH");
    std::string searchPath = binary.substr(0, binary.rfind('/')) + ":" + (path != nullptr ? path : "/usr/bin:/bin");
    setenv("PATH", searchPath.c_str(), 1);
    Child child("/bin/sh", {"sh", script, "10", dcfPath, "--driver", ProgramFolder() + "pcan_usb.so"});
    EXPECT_TRUE(child.Started());
    const Finished run = child.End(std::chrono::milliseconds(30000));
    setenv("PATH", path != nullptr ? path : "", 1);
    RemoveNetworkFile();
    std::remove(script.c_str());
    std::remove(dcfPath.c_str());

    EXPECT_EQ(run.status, 0) << run.err << run.out;
    std::vector<nlohmann::json> lines;
    std::size_t at = 0;
    for (std::size_t next = 0; (next = run.out.find('\n', at)) != std::string::npos; at = next + 1)
        lines.push_back(nlohmann::json::parse(run.out.substr(at, next - at), nullptr, false));
    ASSERT_GE(lines.size(), 5u) << run.out;
    EXPECT_EQ(lines[0]["action"], "set-id");
    EXPECT_EQ(lines[1]["action"], "store");
    auto one = [&lines](const char* command, const char* action) {
        for (const nlohmann::json& line : lines)
            if (line.value("command", "") == command && (action == nullptr || line.value("action", "") == action))
                return line;
        return nlohmann::json();
    };
    const nlohmann::json load = one("dcf", "load");
    EXPECT_EQ(load["node"], 10);
    EXPECT_EQ(load["written"], 2) << "the two configured values";
    EXPECT_EQ(load["failed"], 0);
    EXPECT_EQ(load["matching"], 2);
    EXPECT_EQ(load["differing"], 0);
    std::vector<std::string> written;
    for (const nlohmann::json& line : lines)
        if (line.value("action", "") == "row" && line.value("state", "") == "written")
            written.push_back(line["index"].get<std::string>() + "sub" + std::to_string(line["sub"].get<int>()));
    EXPECT_EQ(written, (std::vector<std::string>{"0x1800sub2", "0x1017sub0"})) << "the PDO first";
    EXPECT_EQ(one("store", nullptr)["area"], "all");
    EXPECT_EQ(one("nmt", nullptr)["bootUp"], true);
    const nlohmann::json info = lines.back();
    EXPECT_EQ(info["command"], "info");
    EXPECT_EQ(info["node"], 10);
    EXPECT_EQ(info["serial"], "0x00001001") << "the device that had no node-ID";
    // The script's confirmation, answered and told.
    EXPECT_NE(run.err.find("into the device? Outputs may be modified! Yes."), std::string::npos) << run.err;
}

}  // namespace
