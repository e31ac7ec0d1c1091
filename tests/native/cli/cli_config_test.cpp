// The configuration commands against the I/O module (node 3) of the simulated bus: a DCF
// saved, the device changed and the file downloaded back; a row the device refuses, in
// words and in both languages; store over the simulated power cycle and restore with and
// without the reset; silent nodes and the usage errors.
#include <algorithm>
#include <cstdio>
#include <string>

#include "cli_test_support.h"
#include "simbus_control.h"
#include "text_files.h"

using nlohmann::json;

namespace {

class ConfigCommandTest : public CliTest {
protected:
    std::string saved;
    std::string edited;

    void SetUp() override
    {
        CliTest::SetUp();
        saved = ::testing::TempDir() + "velomar_cli_saved.dcf";
        edited = ::testing::TempDir() + "velomar_cli_edited.dcf";
    }

    void TearDown() override
    {
        std::remove(saved.c_str());
        std::remove(edited.c_str());
        CliTest::TearDown();
    }

    std::uint32_t Heartbeat() { return bus.ObjectU32(3, 0x1017, 0) & 0xFFFF; }

    void SetHeartbeat(std::uint16_t value)
    {
        const std::uint8_t data[2] = {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8)};
        ASSERT_EQ(bus.setObject(3, 0x1017, 0, data, 2), 0u);
    }
};

std::string FileWithARefusedRow()
{
    return IoModuleWithARefusedRow(ReadTextFile(IoModuleEds()));
}

TEST_F(ConfigCommandTest, ASavedDcfDownloadedWithOnlyTheChangesBringsTheDeviceBack)
{
    SetHeartbeat(300);
    ASSERT_EQ(Run({"--json", "dcf", "save", "3", saved, "--eds", IoModuleEds()}), ExitOk) << err;
    std::vector<json> lines = JsonLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0]["action"], "save");
    EXPECT_EQ(lines[0]["node"], 3);
    EXPECT_GT(lines[0]["values"].get<int>(), 100);
    const std::string file = ReadTextFile(saved);
    EXPECT_NE(file.find("[DeviceComissioning]"), std::string::npos);
    EXPECT_NE(file.find("ParameterValue=0x012C"), std::string::npos) << "the heartbeat time as read";

    SetHeartbeat(777);
    Clear();
    ASSERT_EQ(Run({"--json", "dcf", "load", "3", saved, "--changed", "--verify"}), ExitOk) << err;
    EXPECT_EQ(Heartbeat(), 300u);
    lines = JsonLines();
    ASSERT_EQ(lines.size(), 3u) << out;
    // The one row that differs, as it was written, then as it was read back.
    EXPECT_EQ(lines[0]["action"], "row");
    EXPECT_EQ(lines[0]["index"], "0x1017");
    EXPECT_EQ(lines[0]["sub"], 0);
    EXPECT_EQ(lines[0]["state"], "written");
    EXPECT_EQ(lines[0]["name"], "Producer heartbeat time");
    EXPECT_EQ(lines[1]["state"], "matches");
    EXPECT_EQ(lines[2]["action"], "load");
    EXPECT_EQ(lines[2]["written"], 1);
    EXPECT_EQ(lines[2]["failed"], 0);
    EXPECT_EQ(lines[2]["matching"], 1);
    EXPECT_EQ(lines[2]["differing"], 0);
    EXPECT_EQ(lines[2]["failedRows"], json::array());
    EXPECT_EQ(lines[2]["completed"], true);
    // The master's confirmation was answered, and the log says so.
    EXPECT_EQ(err, "velomar: Write 1 entries into the device? Outputs may be modified! Yes.\n");

    // Nothing left to do is success; without --changed every row is written again.
    Clear();
    EXPECT_EQ(Run({"dcf", "load", "3", saved, "--changed"}), ExitOk);
    EXPECT_EQ(out, "Every value of the file is already in the device.\n");
    Clear();
    SetHeartbeat(999);
    ASSERT_EQ(Run({"dcf", "load", "3", saved}), ExitOk) << err;
    EXPECT_EQ(Heartbeat(), 300u);
    EXPECT_NE(out.find("1017 sub 0    Producer heartbeat time"), std::string::npos) << out;
    const std::size_t last = out.rfind('\n', out.size() - 2);
    const std::string summary = out.substr(last + 1);
    EXPECT_NE(summary.find(" written, 0 failed\n"), std::string::npos) << summary;
    EXPECT_GT(std::count(out.begin(), out.end(), '\n'), 50) << "a line for each row";
}

TEST_F(ConfigCommandTest, ARefusedRowIsExitStatusOneWithItsAbortInWords)
{
    WriteTextFile(edited, FileWithARefusedRow());
    EXPECT_EQ(Run({"--json", "dcf", "load", "3", edited}), ExitRefused);
    const std::vector<json> lines = JsonLines();
    ASSERT_EQ(lines.size(), 3u) << out;
    EXPECT_EQ(lines[0]["index"], "0x1008");
    EXPECT_EQ(lines[0]["state"], "failed");
    EXPECT_EQ(lines[0]["abortCode"], "0x06010002");
    EXPECT_EQ(lines[0]["result"], "Abort 06010002h: Attempt to write a read-only object");
    EXPECT_EQ(lines[1]["index"], "0x1017");
    EXPECT_EQ(lines[1]["state"], "written");
    EXPECT_EQ(lines[2]["status"], 1);
    EXPECT_EQ(lines[2]["written"], 1);
    EXPECT_EQ(lines[2]["failed"], 1);
    EXPECT_EQ(lines[2]["failedRows"], json::array({"1008sub0"}));
    EXPECT_EQ(lines[2]["error"], "1 written, 1 failed: 1008sub0");
    EXPECT_EQ(Heartbeat(), 350u) << "the refused row does not stop the others";
    EXPECT_NE(err.find("velomar: 1 written, 1 failed: 1008sub0\n"), std::string::npos) << err;

    Clear();
    EXPECT_EQ(Run({"--lang", "de", "dcf", "load", "3", edited}), ExitRefused);
    EXPECT_NE(out.find("Abbruch 06010002h: Schreiben eines nur lesbaren Objekts\n"), std::string::npos) << out;
    EXPECT_NE(err.find("Einträge in das Gerät schreiben? Ausgänge können sich ändern! Ja.\n"), std::string::npos)
        << err;
    EXPECT_NE(err.find("velomar: 1 geschrieben, 1 fehlgeschlagen: 1008sub0\n"), std::string::npos) << err;
}

TEST_F(ConfigCommandTest, StoredValuesOutliveAPowerCycleAndRestoreResetsOnlyWhenAsked)
{
    const std::uint32_t heartbeat = Heartbeat();
    SetHeartbeat(1234);
    ASSERT_EQ(Run({"store", "3"}), ExitOk) << err;
    EXPECT_EQ(out, "Stored: all parameters.\n");
    ASSERT_EQ(bus.bootNode(3), 0u);
    EXPECT_EQ(Heartbeat(), 1234u) << "kept over the power cycle";

    // Without --reset the defaults wait for the next reset, and the log says why.
    Clear();
    ASSERT_EQ(Run({"restore", "3"}), ExitOk) << err;
    EXPECT_EQ(out, "Defaults restored: all parameters. They take effect after the next reset of the node.\n");
    EXPECT_NE(err.find("Reset the node now? No.\n"), std::string::npos) << err;
    EXPECT_EQ(Heartbeat(), 1234u);
    ASSERT_EQ(bus.bootNode(3), 0u);
    EXPECT_EQ(Heartbeat(), heartbeat) << "the defaults after the power cycle";

    // Stored again, then restored with the reset: the defaults at once.
    SetHeartbeat(1234);
    ASSERT_EQ(Run({"store", "3", "comm"}), ExitOk);
    Clear();
    ASSERT_EQ(Run({"--json", "--lang", "de", "restore", "3", "all", "--reset"}), ExitOk) << err;
    const std::vector<json> lines = JsonLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0]["command"], "restore");
    EXPECT_EQ(lines[0]["area"], "all");
    EXPECT_EQ(lines[0]["reset"], true);
    EXPECT_EQ(lines[0]["result"], "Standardwerte hergestellt: alle Parameter. Knoten 3 wurde zurückgesetzt: sie "
                                  "gelten jetzt.");
    EXPECT_EQ(Heartbeat(), heartbeat);
    EXPECT_NE(err.find("Knoten jetzt zurücksetzen? Ja.\n"), std::string::npos) << err;
}

TEST_F(ConfigCommandTest, ASilentNodeIsExitStatusThree)
{
    bus.setNodeMode(3, kSimNodeSilent, 0);
    EXPECT_EQ(Run({"store", "3"}), ExitNoAnswer);
    EXPECT_EQ(err, "velomar: Communication failure!\n");
    Clear();
    EXPECT_EQ(Run({"--json", "restore", "3", "app"}), ExitNoAnswer);
    const std::vector<json> lines = JsonLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0]["status"], 3);
    Clear();
    EXPECT_EQ(Run({"dcf", "save", "3", saved, "--eds", IoModuleEds()}), ExitNoAnswer);
    EXPECT_EQ(ReadTextFile(saved), "") << "nothing saved";
    WriteTextFile(edited, FileWithARefusedRow());
    Clear();
    EXPECT_EQ(Run({"dcf", "load", "3", edited, "--changed"}), ExitNoAnswer);
}

TEST_F(ConfigCommandTest, UsageErrorsAreExitStatusTwoAndSendNothing)
{
    const std::vector<Words> wrong = {
        {"dcf"},
        {"dcf", "save", "3"},
        {"dcf", "copy", "3", "x.dcf"},
        {"dcf", "save", "3", "x.dcf", "--verify"},
        {"dcf", "load", "3", "x.dcf", "--eds", "x.eds"},
        {"dcf", "load", "0", "x.dcf"},
        {"dcf", "load", "3", "x.dcf", "--all"},
        {"store"},
        {"store", "3", "flash"},
        {"store", "128"},
        {"restore", "3", "all", "more"},
        {"restore", "3", "--now"},
    };
    for (const Words& words : wrong) {
        Clear();
        EXPECT_EQ(Run(words), ExitUsage) << words[0];
        EXPECT_NE(err.find("See velomar --help."), std::string::npos) << err;
    }
    EXPECT_TRUE(bus.TakeSent().empty());

    // A file that cannot be read, or that gives nothing to write.
    Clear();
    EXPECT_EQ(Run({"dcf", "load", "3", "/nonexistent/x.dcf"}), ExitUsage);
    EXPECT_EQ(err.rfind("velomar: The file cannot be used:", 0), 0u) << err;
    Clear();
    EXPECT_EQ(Run({"dcf", "load", "3", IoModuleEds()}), ExitUsage);
    EXPECT_EQ(err, "velomar: The file gives no value for a writable entry.\n");
    Clear();
    EXPECT_EQ(Run({"dcf", "save", "3", "/nonexistent/folder/x.dcf", "--eds", IoModuleEds()}), ExitUsage);
    EXPECT_EQ(err.rfind("velomar: The file could not be written:", 0), 0u) << err;
}

TEST_F(ConfigCommandTest, InABatchTheCommandsShareOneBus)
{
    const std::string script = ::testing::TempDir() + "velomar_cli_config.txt";
    WriteTextFile(script, "write 3 0x1017 0 u16 300\n"
                          "dcf save 3 \"" +
                              saved + "\" --eds \"" + IoModuleEds() +
                              "\"\n"
                              "write 3 0x1017 0 u16 500   # changed after the save\n"
                              "dcf load 3 \"" +
                              saved +
                              "\" --changed\n"
                              "store 3\n"
                              "read 3 0x1017 0 u16\n");
    EXPECT_EQ(Run({"--json", "batch", script}), ExitOk) << err;
    std::remove(script.c_str());
    const std::vector<json> lines = JsonLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back()["command"], "read");
    EXPECT_EQ(lines.back()["value"], 300);
    const auto store =
        std::find_if(lines.begin(), lines.end(), [](const json& line) { return line["command"] == "store"; });
    ASSERT_NE(store, lines.end());
    EXPECT_EQ((*store)["area"], "all");
}

}  // namespace
