// The commands in-process against the simulated slaves (default network: node 3 the I/O
// module, node 5 the drive): what they print, plain and as JSON Lines, what they leave in
// the slaves, and the exit status of each way they can end.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "cli_test_support.h"
#include "cli_texts.h"
#include "driver_api.h"
#include "os_services.h"
#include "simbus_control.h"
#include "tick.h"

using nlohmann::json;

namespace {

std::size_t Count(const std::string& text, const std::string& part)
{
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

std::string TempFile(const std::string& name, const std::string& text)
{
    const std::string path = ::testing::TempDir() + name;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    EXPECT_NE(file, nullptr);
    if (file != nullptr) {
        std::fwrite(text.data(), 1, text.size(), file);
        std::fclose(file);
    }
    return path;
}

// ---------------------------------------------------------------------------------------

using ReadWriteTest = CliTest;

TEST_F(ReadWriteTest, ReadsInTheTypeAskedFor)
{
    EXPECT_EQ(Run({"read", "3", "0x1000", "0", "hex4"}), ExitOk);
    EXPECT_EQ(out, "0x000F0191\n");
    EXPECT_EQ(err, "");
    Clear();
    EXPECT_EQ(Run({"read", "3", "1000", "0", "u32"}), ExitOk);  // the index is hex without 0x too
    EXPECT_EQ(out, "983441\n");
    Clear();
    EXPECT_EQ(Run({"read", "3", "0x1008", "0", "str"}), ExitOk);
    EXPECT_EQ(out, "SimIO 8DI 8DO 2AI 2AO\n");
    Clear();
    EXPECT_EQ(Run({"read", "3", "0x1000", "0"}), ExitOk);  // no EDS known: raw
    EXPECT_EQ(out, "91 01 0F 00\n");
}

TEST_F(ReadWriteTest, JsonReadCarriesNumbersAsNumbersAndTextAsStrings)
{
    ASSERT_EQ(Run({"--json", "read", "3", "0x1000", "0", "u32"}), ExitOk);
    std::vector<json> lines = JsonLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0]["command"], "read");
    EXPECT_EQ(lines[0]["node"], 3);
    EXPECT_EQ(lines[0]["index"], "0x1000");
    EXPECT_EQ(lines[0]["sub"], 0);
    EXPECT_EQ(lines[0]["type"], "u32");
    EXPECT_TRUE(lines[0]["value"].is_number_unsigned());
    EXPECT_EQ(lines[0]["value"], 0x000F0191);
    Clear();
    ASSERT_EQ(Run({"--json", "read", "3", "0x1018", "1", "hex4"}), ExitOk);
    lines = JsonLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0]["value"], "0x00000F0A");
    Clear();
    ASSERT_EQ(Run({"--json", "read", "3", "0x1008", "0", "str"}), ExitOk);
    lines = JsonLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0]["value"], "SimIO 8DI 8DO 2AI 2AO");
}

TEST_F(ReadWriteTest, WritesReachTheSlaveAndReadBack)
{
    EXPECT_EQ(Run({"write", "3", "0x6200", "1", "hex1", "0x5A"}), ExitOk);
    EXPECT_EQ(bus.ObjectU32(3, 0x6200, 1), 0x5Au);
    EXPECT_EQ(Run({"write", "3", "0x6200", "1", "u8", "91"}), ExitOk);
    EXPECT_EQ(bus.ObjectU32(3, 0x6200, 1), 91u);
    // As in Write Object, the unsigned format is decimal: a hex prefix does not convert.
    EXPECT_EQ(Run({"write", "3", "0x6200", "1", "u8", "0x5A"}), ExitUsage);
    EXPECT_EQ(bus.ObjectU32(3, 0x6200, 1), 91u);
    // Signed values below zero, in their two's complement, and back.
    EXPECT_EQ(Run({"write", "3", "0x6411", "1", "i16", "-200"}), ExitOk);
    EXPECT_EQ(bus.ObjectU32(3, 0x6411, 1) & 0xFFFF, 0xFF38u);
    Clear();
    EXPECT_EQ(Run({"--json", "read", "3", "0x6411", "1", "i16"}), ExitOk);
    const std::vector<json> lines = JsonLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0]["value"], -200);
    // A text, segmented both ways.
    const std::string text = "a text longer than one segment";
    EXPECT_EQ(Run({"write", "5", "0x2000", "0", "str", text}), ExitOk);
    Clear();
    EXPECT_EQ(Run({"read", "5", "0x2000", "0", "str"}), ExitOk);
    EXPECT_EQ(out, text + "\n");
}

TEST_F(ReadWriteTest, AValueThatDoesNotFitIsRefusedAndNothingIsSent)
{
    const SimCounters before = bus.Counters();
    EXPECT_EQ(Run({"write", "3", "0x6200", "1", "u8", "256"}), ExitUsage);
    EXPECT_EQ(err, "velomar: Value out of range! Allowed: 0 to 255\n");
    EXPECT_EQ(Run({"write", "3", "0x6411", "1", "i16", "-32769"}), ExitUsage);
    EXPECT_NE(err.find("Allowed: -32768 to 32767"), std::string::npos);
    Clear();
    EXPECT_EQ(Run({"--lang", "de", "write", "3", "0x6200", "1", "u8", "12x"}), ExitUsage);
    EXPECT_EQ(err, "velomar: Ungültiger Wert!\n");
    EXPECT_EQ(Run({"write", "3", "0x6200", "1", "hex1", "1FF"}), ExitUsage);
    // The driver was not even opened for them.
    EXPECT_EQ(bus.Counters().inits, before.inits);
    EXPECT_EQ(bus.ObjectU32(3, 0x6200, 1), 0u);
}

TEST_F(ReadWriteTest, AnAbortIsExitStatusOneWithItsCode)
{
    EXPECT_EQ(Run({"read", "3", "0x6000", "9", "u8"}), ExitRefused);
    EXPECT_EQ(err, "velomar: Unable to access object! Abort Code: 06090011h (Sub-index does not exist)\n");
    Clear();
    EXPECT_EQ(Run({"--lang", "de", "write", "3", "0x1000", "0", "u32", "1"}), ExitRefused);
    EXPECT_EQ(err, "velomar: Kann auf Objekt nicht zugreifen! Abort Code: 06010002h (Schreiben eines nur lesbaren Objekts)\n");
    Clear();
    EXPECT_EQ(Run({"--json", "read", "3", "0x6000", "9", "u8"}), ExitRefused);
    const std::vector<json> lines = JsonLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0]["command"], "read");
    EXPECT_EQ(lines[0]["status"], 1);
    EXPECT_EQ(lines[0]["abortCode"], "0x06090011");
}

TEST_F(ReadWriteTest, ASilentNodeIsExitStatusThree)
{
    bus.setNodeMode(3, kSimNodeSilent, 0);
    EXPECT_EQ(Run({"read", "3", "0x1000", "0", "u32"}), ExitNoAnswer);
    EXPECT_EQ(err, "velomar: Communication failure!\n");
    Clear();
    EXPECT_EQ(Run({"--lang", "de", "write", "3", "0x6200", "1", "u8", "1"}), ExitNoAnswer);
    EXPECT_EQ(err, "velomar: Kommunikationsfehler!\n");
}

// ---------------------------------------------------------------------------------------

using ScanInfoTest = CliTest;

TEST_F(ScanInfoTest, ScanListsTheNodesWithDeviceTypeAndName)
{
    ASSERT_EQ(Run({"scan"}), ExitOk);
    EXPECT_EQ(out, "node  device type  name\n"
                   "   3  0x000F0191   SimIO 8DI 8DO 2AI 2AO\n"
                   "   5  0x00020192   SimDrive 402 positioning drive\n");
    Clear();
    ASSERT_EQ(Run({"--json", "scan"}), ExitOk);
    const std::vector<json> lines = JsonLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0]["node"], 3);
    EXPECT_EQ(lines[0]["deviceType"], "0x000F0191");
    EXPECT_EQ(lines[1]["node"], 5);
    EXPECT_EQ(lines[1]["name"], "SimDrive 402 positioning drive");
}

TEST_F(ScanInfoTest, AnEmptyBusFindsNothingInOneOpen)
{
    bus.setNodeMode(3, kSimNodeSilent, 0);
    bus.setNodeMode(5, kSimNodeSilent, 0);
    const SimCounters before = bus.Counters();
    EXPECT_EQ(Run({"--lang", "de", "scan"}), ExitNoAnswer);
    EXPECT_EQ(out, "");
    EXPECT_EQ(err, "velomar: Keinen Slave gefunden!\n");
    // Every node asked once (the request and the master's abort after its time-out), on
    // a bus opened once.
    const SimCounters after = bus.Counters();
    EXPECT_EQ(after.inits - before.inits, 1u);
    EXPECT_EQ(after.writes - before.writes, 2 * 127u);
}

TEST_F(ScanInfoTest, InfoTellsIdentityNameVersionsAndState)
{
    ASSERT_EQ(Run({"--json", "info", "3"}), ExitOk);
    const std::vector<json> lines = JsonLines();
    ASSERT_EQ(lines.size(), 1u);
    const json& info = lines[0];
    EXPECT_EQ(info["deviceType"], "0x000F0191");
    EXPECT_EQ(info["vendor"], "0x00000F0A");
    EXPECT_EQ(info["product"], "0x00000401");
    EXPECT_EQ(info["serial"], "0x00001003");
    EXPECT_EQ(info["name"], "SimIO 8DI 8DO 2AI 2AO");
    EXPECT_EQ(info["softwareVersion"], "1.0.0");
    EXPECT_EQ(info["state"], "Pre-operational");
    EXPECT_EQ(info["stateCode"], 127);
    Clear();
    ASSERT_EQ(Run({"--lang", "de", "info", "5"}), ExitOk);
    EXPECT_NE(out.find("device name       SimDrive 402 positioning drive\n"), std::string::npos);
    EXPECT_NE(out.find("NMT state         Pre-Operational\n"), std::string::npos) << out;
}

TEST_F(ScanInfoTest, InfoOfAnAbsentNodeIsExitStatusThree)
{
    EXPECT_EQ(Run({"info", "9"}), ExitNoAnswer);
    EXPECT_EQ(err, "velomar: Node 9 does not answer.\n");
}

// ---------------------------------------------------------------------------------------

using NmtTest = CliTest;

TEST_F(NmtTest, CommandsChangeTheStateAndSayWhatItIsNow)
{
    ASSERT_EQ(Run({"--json", "nmt", "3", "start"}), ExitOk);
    EXPECT_EQ(bus.nodeState(3), kSimStateOperational);
    std::vector<json> lines = JsonLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0]["action"], "start");
    EXPECT_EQ(lines[0]["stateCode"], 5);
    Clear();
    ASSERT_EQ(Run({"nmt", "3", "stop"}), ExitOk);
    EXPECT_EQ(bus.nodeState(3), kSimStateStopped);
    EXPECT_EQ(out, "3: Stop -> Stopped\n");
    Clear();
    ASSERT_EQ(Run({"--json", "nmt", "3", "reset"}), ExitOk);
    EXPECT_EQ(bus.nodeState(3), kSimStatePreOperational);
    lines = JsonLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0]["bootUp"], true);
    EXPECT_EQ(lines[0]["state"], "Pre-operational");
    // Node 5 was left alone.
    EXPECT_EQ(bus.nodeState(5), kSimStatePreOperational);
}

TEST_F(NmtTest, ASilentNodeAndAnUnknownCommand)
{
    bus.setNodeMode(3, kSimNodeSilent, 0);
    EXPECT_EQ(Run({"nmt", "3", "start"}), ExitNoAnswer);
    EXPECT_EQ(err, "velomar: Node 3 does not answer.\n");
    Clear();
    EXPECT_EQ(Run({"nmt", "3", "go"}), ExitUsage);
    EXPECT_NE(err.find("Invalid start|stop|preop|reset|resetcomm: go"), std::string::npos);
}

// ---------------------------------------------------------------------------------------

using PdoDictTest = CliTest;

TEST_F(PdoDictTest, PdoListsWhatStartReadsAndLeavesTheNodePreOperational)
{
    ASSERT_EQ(Run({"--json", "pdo", "3"}), ExitOk);
    const std::vector<json> lines = JsonLines();
    ASSERT_EQ(lines.size(), 4u);
    const std::vector<std::tuple<std::string, int, std::string, int>> expected = {
        {"input", 1, "0x183", 2}, {"input", 2, "0x283", 4}, {"output", 1, "0x203", 1}, {"output", 2, "0x303", 4}};
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(lines[i]["direction"], std::get<0>(expected[i]));
        EXPECT_EQ(lines[i]["pdo"], std::get<1>(expected[i]));
        EXPECT_EQ(lines[i]["cobId"], std::get<2>(expected[i]));
        EXPECT_EQ(lines[i]["length"], std::get<3>(expected[i]));
    }
    EXPECT_EQ(bus.nodeState(3), kSimStatePreOperational);
    Clear();
    ASSERT_EQ(Run({"pdo", "5"}), ExitOk);
    EXPECT_EQ(out, "direction  pdo  cob-id  length\n"
                   "input        1  0x185   6\n"
                   "output       1  0x205   3\n");
}

TEST_F(PdoDictTest, DictReadsEveryEntryByName)
{
    ASSERT_EQ(Run({"--json", "dict", "3", "--eds", IoModuleEds()}), ExitOk);
    const std::vector<json> lines = JsonLines();
    ASSERT_GT(lines.size(), 20u);
    const auto name = std::find_if(lines.begin(), lines.end(),
                                   [](const json& line) { return line["index"] == "0x1008" && line["sub"] == 0; });
    ASSERT_NE(name, lines.end());
    EXPECT_EQ((*name)["name"], "Manufacturer device name");
    EXPECT_EQ((*name)["state"], "read");
    EXPECT_EQ((*name)["value"], "SimIO 8DI 8DO 2AI 2AO");
    for (const json& line : lines) {
        EXPECT_EQ(line["command"], "dict");
        EXPECT_NE(line["state"], "no answer") << line.dump();
    }
    Clear();
    ASSERT_EQ(Run({"dict", "3", "--eds", IoModuleEds()}), ExitOk);
    EXPECT_NE(out.find("1018 sub 1    Identity object / Vendor-ID"), std::string::npos);
    EXPECT_EQ(Count(out, "\n"), lines.size());
}

TEST_F(PdoDictTest, DictWithoutAFileAndWithAnUnreadableOne)
{
    EXPECT_EQ(Run({"dict", "5"}), ExitUsage);
    EXPECT_EQ(err, "velomar: No EDS file for node 5: give one with --eds FILE.\n");
    Clear();
    EXPECT_EQ(Run({"--lang", "de", "dict", "5"}), ExitUsage);
    EXPECT_EQ(err, "velomar: Keine EDS-Datei für Knoten 5: mit --eds DATEI angeben.\n");
    Clear();
    EXPECT_EQ(Run({"dict", "3", "--eds", "/nonexistent/x.eds"}), ExitUsage);
    EXPECT_NE(err.find("The EDS file cannot be read:"), std::string::npos) << err;
}

// ---------------------------------------------------------------------------------------

using BatchTest = CliTest;

TEST_F(BatchTest, OneBusForAllItsCommandsAndTheirResultsInOrder)
{
    const std::string file = TempFile("cli_batch_ok.txt", "# outputs\n"
                                                          "write 3 0x6200 1 hex1 0x33   # digital outputs\n"
                                                          "\n"
                                                          "read 3 0x6000 2 hex1\n"
                                                          "write 5 0x2000 0 str \"two words\"\n"
                                                          "read 5 0x2000 0 str\r\n"
                                                          "nmt 3 start\n");
    const SimCounters before = bus.Counters();
    ASSERT_EQ(Run({"batch", file}), ExitOk) << err;
    EXPECT_EQ(out, "3 0x6200 1 <- 0x33\n0x33\n5 0x2000 0 <- two words\ntwo words\n3: Start -> Operational\n");
    EXPECT_EQ(bus.Counters().inits - before.inits, 1u);
    EXPECT_EQ(bus.Counters().loads - before.loads, 0u);  // the test holds the library: loads stay
}

TEST_F(BatchTest, StopsAtTheFirstFailureUnlessToldToKeepGoing)
{
    const std::string file = TempFile("cli_batch_fail.txt", "write 3 0x6200 1 u8 1\n"
                                                            "read 3 0x6000 9 u8\n"
                                                            "write 3 0x6200 1 u8 300\n"
                                                            "write 3 0x6200 1 u8 2\n");
    EXPECT_EQ(Run({"batch", file}), ExitRefused);
    EXPECT_EQ(bus.ObjectU32(3, 0x6200, 1), 1u);
    EXPECT_NE(err.find(file + ":2: read 3 0x6000 9 u8"), std::string::npos) << err;
    Clear();
    EXPECT_EQ(Run({"--json", "batch", file, "--keep-going"}), ExitRefused);  // the first failure's status
    EXPECT_EQ(bus.ObjectU32(3, 0x6200, 1), 2u);
    const std::vector<json> lines = JsonLines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[1]["status"], 1);
    EXPECT_EQ(lines[2]["status"], 2);
    EXPECT_EQ(lines[3]["value"], 2);
}

TEST_F(BatchTest, ADictEdsGivesLaterReadsTheirTypes)
{
    const std::string file =
        TempFile("cli_batch_eds.txt", "dict 3 --eds \"" + IoModuleEds() + "\"\nread 3 0x1017 0\nread 3 0x1008 0\n");
    ASSERT_EQ(Run({"batch", file}), ExitOk) << err;
    const std::size_t lastTwo = out.rfind('\n', out.rfind('\n', out.size() - 2) - 1);
    EXPECT_EQ(out.substr(lastTwo + 1), "0\nSimIO 8DI 8DO 2AI 2AO\n");
}

TEST_F(BatchTest, BadLinesAndFiles)
{
    EXPECT_EQ(Run({"batch", TempFile("cli_batch_quote.txt", "read 3 \"0x1000 0\n")}), ExitUsage);
    Clear();
    EXPECT_EQ(Run({"batch", TempFile("cli_batch_nested.txt", "batch other.txt\n")}), ExitUsage);
    EXPECT_NE(err.find("Unknown command: batch"), std::string::npos);
    Clear();
    EXPECT_EQ(Run({"batch", "/nonexistent/batch.txt"}), ExitUsage);
    EXPECT_NE(err.find("Cannot open /nonexistent/batch.txt."), std::string::npos);
}

// ---------------------------------------------------------------------------------------

using UsageTest = CliTest;

TEST_F(UsageTest, ErrorsOfTheCommandLineAreExitStatusTwo)
{
    const std::vector<Words> wrong = {
        {},
        {"bogus"},
        {"--bogus", "scan"},
        {"--bitrate", "300k", "scan"},
        {"--lang", "fr", "scan"},
        {"--settle"},
        {"read", "3", "0x1000"},
        {"read", "0", "0x1000", "0"},
        {"read", "128", "0x1000", "0"},
        {"read", "3", "0x10000", "0"},
        {"read", "3", "0x1000", "256"},
        {"read", "3", "0x1000", "0", "u64"},
        {"read", "3", "0x1000", "0", "u8", "extra"},
        {"scan", "--bogus"},
        {"trace", "--count", "x"},
        {"monitor", "--for"},
        {"run", "3", "--out", "1.8=00"},
        {"lss", "set-id"},
        {"lss", "set-id", "128"},
        {"lss", "set-bitrate", "33k"},
        {"lss", "jump"},
    };
    const SimCounters before = bus.Counters();
    for (const Words& words : wrong) {
        Clear();
        std::string line;
        for (const std::string& word : words)
            line += word + " ";
        EXPECT_EQ(Run(words), ExitUsage) << line;
        EXPECT_NE(err.find("See velomar --help."), std::string::npos) << line << ": " << err;
        EXPECT_EQ(out, "") << line;
    }
    EXPECT_EQ(bus.Counters().inits, before.inits);
}

TEST_F(UsageTest, UsageErrorsInGerman)
{
    EXPECT_EQ(Run({"--lang", "de", "lesen"}), ExitUsage);
    EXPECT_EQ(err, "velomar: Unbekannter Befehl: lesen Siehe velomar --help.\n");
    Clear();
    EXPECT_EQ(Run({"--lang", "de", "read", "3", "x", "0"}), ExitUsage);
    EXPECT_EQ(err, "velomar: Ungültige Angabe für INDEX: x Siehe velomar --help.\n");
}

TEST_F(UsageTest, HelpForTheProgramAndEveryCommand)
{
    EXPECT_EQ(Run({"--help"}), ExitOk);
    for (const char* command : {"scan", "info", "read", "write", "nmt", "pdo", "run", "monitor", "trace", "dict", "lss",
                                "batch", "dcf", "store", "restore"}) {
        EXPECT_NE(out.find(std::string("\n  ") + command), std::string::npos) << command;
    }
    for (const char* command : {"scan", "info", "read", "write", "nmt", "pdo", "run", "monitor", "trace", "dict", "lss",
                                "batch", "dcf", "store", "restore"}) {
        Clear();
        EXPECT_EQ(Run({command, "--help"}), ExitOk) << command;
        EXPECT_EQ(out.rfind(std::string("usage: velomar [options] ") + command, 0), 0u) << out;
        EXPECT_EQ(err, "");
    }
}

TEST_F(UsageTest, ADriverThatCannotBeLoadedIsExitStatusFour)
{
    EXPECT_EQ(Run({"--driver", "/nonexistent/pcan_usb.so", "read", "3", "0x1000", "0"}), ExitNoDriver);
    EXPECT_EQ(err, "velomar: Unable to load CAN DLL!\n");
    Clear();
    EXPECT_EQ(Run({"--lang", "de", "--json", "--driver", "/nonexistent/pcan_usb.so", "scan"}), ExitNoDriver);
    EXPECT_EQ(err, "velomar: Kann CAN DLL nicht laden!\n");
    const std::vector<json> lines = JsonLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0]["status"], 4);
    Clear();
    // A serial adapter's library configured for a port that is not there: loaded from a
    // private copy, then the adapter does not open.
    const int status = Run({"--driver", "serial:/nonexistent/ttyACM9", "read", "3", "0x1000", "0"});
    EXPECT_EQ(status, ExitNoDriver);
}

// The short forms of --driver find our libraries in the release's folders beside the
// program (simulated, serial, network) and in the build's (slcan, netcan).
TEST(DriverChoiceTest, ShortFormsFindTheReleaseAndTheBuildFolders)
{
    const std::string folder = ProgramFolder();
    ASSERT_FALSE(folder.empty());
    std::string path, privateFolder, error;
    ASSERT_TRUE(PrepareDriver("sim", path, privateFolder, error));
    EXPECT_EQ(path, "pcan_usb.so") << "the build's, beside the program";

    auto readText = [](const std::string& file) {
        std::string text;
        if (std::FILE* in = std::fopen(file.c_str(), "rb")) {
            int c = 0;
            while ((c = std::fgetc(in)) != EOF)
                text += static_cast<char>(c);
            std::fclose(in);
        }
        return text;
    };
    struct Case {
        const char* folder;
        const char* driver;
        const char* settingsFile;
        const char* settings;
    };
    const Case cases[] = {
        {"serial", "serial:/dev/ttyUSB7", "slcan.ini", "[Serial]\nPort=/dev/ttyUSB7\n"},
        {"netcan", "socketcand:192.0.2.5:29536:can1", "netcan.ini",
         "[Connection]\nHost=192.0.2.5\nPort=29536\nInterface=can1\n"},
        {"simulated", "sim", nullptr, nullptr},
    };
    for (const Case& c : cases) {
        const std::string libraryFolder = folder + c.folder;
        ASSERT_EQ(mkdir(libraryFolder.c_str(), 0755), 0) << libraryFolder;
        ASSERT_TRUE(CopyOneFile(folder + "pcan_usb.so", libraryFolder + "/pcan_usb.so"));
        path.clear();
        privateFolder.clear();
        EXPECT_TRUE(PrepareDriver(c.driver, path, privateFolder, error)) << c.driver << ": " << error;
        if (c.settingsFile == nullptr) {
            EXPECT_EQ(path, libraryFolder + "/pcan_usb.so");
        } else {
            EXPECT_EQ(path, privateFolder + "pcan_usb.so") << "a private copy";
            EXPECT_EQ(readText(path), readText(libraryFolder + "/pcan_usb.so"));
            EXPECT_EQ(readText(privateFolder + c.settingsFile), c.settings);
            RemovePrivateFolder(privateFolder, {"pcan_usb.so", c.settingsFile});
        }
        std::remove((libraryFolder + "/pcan_usb.so").c_str());
        rmdir(libraryFolder.c_str());
    }
    // A port or host that a settings file cannot hold, and a library that is not there.
    EXPECT_FALSE(PrepareDriver("serial:COM1;x", path, privateFolder, error));
    EXPECT_FALSE(PrepareDriver("socketcand:host", path, privateFolder, error));
    EXPECT_FALSE(PrepareDriver("serial:/dev/ttyUSB7", path, privateFolder, error));
    EXPECT_EQ(error, folder + "serial/pcan_usb.so");
}

TEST_F(UsageTest, SettleTimeOnlyWhenAskedFor)
{
    // The manual clock moves only by the readings and sleeps of the run.
    const std::uint32_t start = TickMs();
    ASSERT_EQ(Run({"read", "3", "0x1000", "0", "u32"}), ExitOk);
    const std::uint32_t without = TickMs() - start;
    const std::uint32_t second = TickMs();
    ASSERT_EQ(Run({"--settle", "500", "read", "3", "0x1000", "0", "u32"}), ExitOk);
    const std::uint32_t with = TickMs() - second;
    EXPECT_LT(without, 100u);
    EXPECT_GE(with, 500u);
}

// ---------------------------------------------------------------------------------------
// Monitor and trace take frames as the bus brings them: the test puts them into the
// receive queue of the open bus.

DriverMsg Frame(std::uint32_t id, std::initializer_list<std::uint8_t> data)
{
    DriverMsg msg{};
    msg.id = id;
    msg.length = static_cast<std::uint8_t>(data.size());
    std::copy(data.begin(), data.end(), msg.data);
    return msg;
}

using WatchTest = CliSessionTest;

TEST_F(WatchTest, MonitorDecodesStatesAndEmergenciesOfItsNode)
{
    TheConsole().json = true;
    for (const DriverMsg& msg : {Frame(0x703, {0x00}), Frame(0x705, {0x05}), Frame(0x703, {0x05}),
                                 Frame(0x83, {0x30, 0x81, 0x11, 0x01, 0x02, 0x03, 0x04, 0x05}), Frame(0x703, {0x85})})
        bus.injectFrame(&msg);
    ASSERT_EQ(Command({"monitor", "3", "--for", "1"}), ExitOk);
    const std::vector<json> lines = JsonLines();
    ASSERT_EQ(lines.size(), 4u) << out;
    EXPECT_EQ(lines[0]["event"], "boot-up");
    EXPECT_EQ(lines[1]["event"], "state");
    EXPECT_EQ(lines[1]["state"], "Operational");
    EXPECT_EQ(lines[2]["event"], "emergency");
    EXPECT_EQ(lines[2]["code"], "0x8130");
    EXPECT_EQ(lines[2]["register"], "0x11");
    EXPECT_EQ(lines[2]["data"], "01 02 03 04 05");
    EXPECT_EQ(lines[2]["class"], "Communication");
    EXPECT_EQ(lines[2]["meaning"], "Life guard error or heartbeat error");
    EXPECT_EQ(lines[3]["stateCode"], 5);  // a guarding answer: the toggle bit is not the state
    for (const json& line : lines)
        EXPECT_EQ(line["node"], 3);
}

TEST_F(WatchTest, MonitorOfEveryNodeInWords)
{
    TheConsole().language = TextLanguage::German;
    for (const DriverMsg& msg : {Frame(0x705, {0x04}), Frame(0x85, {0x00, 0x00, 0x00})})
        bus.injectFrame(&msg);
    ASSERT_EQ(Command({"monitor", "--for", "1"}), ExitOk);
    EXPECT_NE(out.find("5    state  Gestoppt\n"), std::string::npos) << out;
    EXPECT_NE(out.find("5    EMCY 0000  "), std::string::npos) << out;
}

TEST_F(WatchTest, TraceWritesTheTraceFilesLines)
{
    for (const DriverMsg& msg : {Frame(0x183, {0x01, 0x02}), Frame(0x703, {0x7F}), Frame(0x283, {0x09})})
        bus.injectFrame(&msg);
    ASSERT_EQ(Command({"trace", "--count", "2"}), ExitOk);
    // Two lines a frame; the time since the last frame first.
    ASSERT_EQ(Count(out, "\n"), 4u) << out;
    EXPECT_NE(out.find(": 183 - 01 02 \n"), std::string::npos) << out;
    EXPECT_NE(out.find("ID: 03h, Function: 3h (PDO1 (tx))\n"), std::string::npos) << out;
    EXPECT_NE(out.find(": 703 - 7F \n"), std::string::npos) << out;
    EXPECT_EQ(out.find("283"), std::string::npos) << out;
    Clear();
    TheConsole().json = true;
    ASSERT_EQ(Command({"trace", "--count", "1"}), ExitOk);
    const std::vector<json> lines = JsonLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0]["id"], "0x283");
    EXPECT_NE(lines[0]["line"].get<std::string>().find("283 - 09"), std::string::npos);
}

// ---------------------------------------------------------------------------------------

using RunTest = CliTest;

TEST_F(RunTest, RunsTheExchangeWithTheOutputsGivenAndStopsAsStopDoes)
{
    ASSERT_EQ(Run({"--json", "run", "3", "--out", "1.0=A5", "--out", "2.1=12", "--for", "2"}), ExitOk) << err;
    EXPECT_EQ(bus.ObjectU32(3, 0x6200, 1), 0xA5u);
    EXPECT_EQ(bus.ObjectU32(3, 0x6411, 1), 0x1200u);
    EXPECT_EQ(bus.nodeState(3), kSimStatePreOperational);  // Stop's pre-operational
    const std::vector<json> lines = JsonLines();
    ASSERT_GE(lines.size(), 2u);
    // The inputs as they changed: PDO1 byte 1 reads the digital outputs back.
    bool readBack = false;
    for (const json& line : lines) {
        EXPECT_EQ(line["command"], "run");
        if (line["pdo"] == 1 && line["data"].get<std::string>().substr(3) == "A5")
            readBack = true;
    }
    EXPECT_TRUE(readBack) << out;
}

TEST_F(RunTest, AnOutputPdoTheNodeDoesNotHave)
{
    EXPECT_EQ(Run({"run", "5", "--out", "2.0=01", "--for", "1"}), ExitUsage);
    EXPECT_EQ(err, "velomar: The node has no output PDO 2.\n");
    EXPECT_EQ(bus.nodeState(5), kSimStatePreOperational);
}

TEST_F(RunTest, RunOfASilentNode)
{
    bus.setNodeMode(3, kSimNodeSilent, 0);
    EXPECT_EQ(Run({"run", "3", "--for", "1"}), ExitNoAnswer);
    EXPECT_NE(err.find("Communication failure!"), std::string::npos) << err;
}

// ---------------------------------------------------------------------------------------
// LSS with a device without a node-ID beside node 3.

class LssTest : public CliTest {
protected:
    void SetUp() override
    {
        WriteNetworkFile("[Nodes]\n3=io_module.eds\n[NonConfigured]\nsensor=io_module.eds, 0x00001001\n");
        CliTest::SetUp();
    }
    void TearDown() override
    {
        CliTest::TearDown();
        RemoveNetworkFile();
        bus.Load();
        bus.reset();
        bus.Unload();
    }
};

TEST_F(LssTest, FindListsTheDeviceWithoutANodeId)
{
    ASSERT_EQ(Run({"--json", "lss", "find"}), ExitOk) << err;
    const std::vector<json> lines = JsonLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0]["vendor"], "0x00000F0A");
    EXPECT_EQ(lines[0]["serial"], "0x00001001");
    EXPECT_TRUE(lines[0]["nodeId"].is_null());
}

TEST_F(LssTest, CommissioningInOneBatch)
{
    const std::string file = TempFile(
        "cli_lss.txt", "lss set-id 10\nlss store\nlss inquire\nwrite 10 0x6200 1 u8 7\nread 10 0x1018 4 hex4\n");
    ASSERT_EQ(Run({"batch", file}), ExitOk) << err;
    EXPECT_EQ(out.rfind("Node-ID 10 set; it takes effect at the end of the LSS commands.\n"
                        "Node-ID and bit rate stored in the device.\n",
                        0),
              0u)
        << out;
    EXPECT_NE(out.find("0x00000F0A  0x00000401  0x00010000  0x00001001  10\n"), std::string::npos) << out;
    EXPECT_EQ(bus.ObjectU32(10, 0x6200, 1), 7u);
    EXPECT_EQ(out.substr(out.size() - 11), "0x00001001\n");
}

TEST_F(LssTest, NoDeviceAnswers)
{
    WriteNetworkFile("[Nodes]\n3=io_module.eds\n");
    bus.reset();
    bus.setNodeMode(3, kSimNodeSilent, 0);
    EXPECT_EQ(Run({"lss", "set-id", "10"}), ExitNoAnswer);
    EXPECT_EQ(err, "velomar: No device answered.\n");
    Clear();
    EXPECT_EQ(Run({"--json", "lss", "find"}), ExitNoAnswer);
    const std::vector<json> lines = JsonLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0]["status"], 3);
}

}  // namespace
