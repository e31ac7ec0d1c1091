// velomar.exe read and the program's Read Object dialog tell the same value for the same
// object: a 4-byte device type, the device name (segmented), a 2-byte unsigned and a
// 2-byte signed value, each read by both and compared in the matching format, and as
// bytes in Raw. Both read node 3 of one simulated network: a network file beside the
// simulated library gives node 3 an EDS of the I/O module with a heartbeat time and a
// negative analog output as defaults, so neither value is the 0 that a fault reading
// nothing would show too. velomar.exe lies beside the test and loads the library from
// there, so its slaves are built from the same file.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app.h"
#include "exchange.h"
#include "resource.h"
#include "sim_controls.h"
#include "velomar_exe.h"
#include "win_test_support.h"

namespace {

constexpr char kEdsName[] = "agreement_io.eds";

// The I/O module's EDS with `value` as the default of `section`.
bool SetDefault(std::string& eds, const std::string& section, const char* value)
{
    const std::size_t header = eds.find("[" + section + "]");
    if (header == std::string::npos)
        return false;
    const std::string key = "DefaultValue=";
    const std::size_t at = eds.find(key, header);
    const std::size_t next = eds.find("\n[", header + 1);
    if (at == std::string::npos || (next != std::string::npos && at > next))
        return false;
    const std::size_t end = eds.find_first_of("\r\n", at);
    eds.replace(at + key.size(), (end == std::string::npos ? eds.size() : end) - at - key.size(), value);
    return true;
}

// The lines velomar.exe wrote, without their CR LF.
std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t at = 0;
    for (std::size_t next = 0; (next = text.find('\n', at)) != std::string::npos; at = next + 1) {
        std::string line = text.substr(at, next - at);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

// velomar's hexN text ("0x000F0191") as the dialog's Hex format writes the same number
// ("F0191").
std::string AsDialogHex(const std::string& cli)
{
    std::string digits = cli.rfind("0x", 0) == 0 ? cli.substr(2) : cli;
    const std::size_t first = digits.find_first_not_of('0');
    return first == std::string::npos ? "0" : digits.substr(first);
}

// The dialog's Raw text ("53 69 6D ") as the characters those bytes are.
std::string RawAsText(const std::string& raw)
{
    std::string text;
    for (std::size_t i = 0; i + 2 <= raw.size(); i += 3)
        text += static_cast<char>(std::stoul(raw.substr(i, 2), nullptr, 16));
    return text;
}

std::string Trimmed(std::string text)
{
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    return text;
}

struct Agreement {
    const wchar_t* index;  // as typed into the dialog
    const wchar_t* subindex;
    const char* command;  // the same object for velomar
    int format;           // the dialog's format that shows what velomar's type does
    const char* value;    // what both must show, in velomar's words
};

constexpr Agreement kObjects[] = {
    {L"1000", L"0", "read 3 0x1000 0 u32", IDC_FORMAT_UNSIGNED, "983441"},
    {L"1000", L"0", "read 3 0x1000 0 hex4", IDC_FORMAT_HEX, "0x000F0191"},
    {L"1008", L"0", "read 3 0x1008 0 str", IDC_FORMAT_RAW, "SimIO 8DI 8DO 2AI 2AO"},
    {L"1017", L"0", "read 3 0x1017 0 u16", IDC_FORMAT_UNSIGNED, "1500"},
    {L"6411", L"1", "read 3 0x6411 1 i16", IDC_FORMAT_SIGNED, "-1234"},
    {L"6411", L"1", "read 3 0x6411 1 hex2", IDC_FORMAT_HEX, "0xFB2E"},
};

class CliReadAgreement : public ::testing::Test {
protected:
    SimControls bus;
    HWND window = nullptr;
    std::wstring edsPath;

    void SetUp() override
    {
        ASSERT_TRUE(bus.Load());
        std::string eds = ReadFileBytes(ExecutableFolder() + L"eds\\io_module.eds");
        ASSERT_FALSE(eds.empty()) << "eds\\io_module.eds beside the test";
        ASSERT_TRUE(SetDefault(eds, "1017", "1500"));
        ASSERT_TRUE(SetDefault(eds, "6411sub1", "-1234"));
        edsPath = ExecutableFolder() + L"agreement_io.eds";
        WriteFileBytes(edsPath, eds);
        WriteNetworkFile(std::string("[Nodes]\r\n3=") + kEdsName + "\r\n5=drive.eds\r\n");
        bus.reset();
        bus.setAnimation(0);
        window = StartProgram("[Tovral]\r\nCurrAdr=3\r\n");
        ASSERT_NE(window, nullptr);
    }

    void TearDown() override
    {
        EndProgram();
        // The tests after these find the default network.
        RemoveNetworkFile();
        DeleteFileW(edsPath.c_str());
        bus.reset();
        bus.Unload();
    }

    // Communication > Read Object, Read for the object, then the result in `format` and in
    // Raw; the dialog stays open for the next object.
    struct Shown {
        std::string value;
        std::string raw;
        std::string length;
    };
    Shown ReadInDialog(HWND dialog, const Agreement& object)
    {
        SetDlgItemTextW(dialog, IDC_OBJECT_INDEX, object.index);
        SetDlgItemTextW(dialog, IDC_OBJECT_SUBINDEX, object.subindex);
        SendDlgItemMessageW(dialog, IDOK, BM_CLICK, 0, 0);
        RunIdleCycle();
        Shown shown;
        SendDlgItemMessageW(dialog, IDC_FORMAT_RAW, BM_CLICK, 0, 0);
        shown.raw = Trimmed(Utf8(ControlText(dialog, IDC_RESULT_VALUE)));
        SendDlgItemMessageW(dialog, object.format, BM_CLICK, 0, 0);
        shown.value = Utf8(ControlText(dialog, IDC_RESULT_VALUE));
        shown.length = Utf8(ControlText(dialog, IDC_RESULT_LENGTH));
        return shown;
    }
};

TEST_F(CliReadAgreement, VelomarAndReadObjectShowTheSameValues)
{
    // One run of velomar.exe for all objects: each in its type, then as raw bytes.
    std::string script;
    for (const Agreement& object : kObjects) {
        const std::string command = object.command;
        script += command + "\r\n" + command.substr(0, command.rfind(' ')) + " raw\r\n";
    }
    const VelomarRun run = RunVelomarIn(ExecutableFolder(), L"batch -", script);
    ASSERT_EQ(run.status, 0u) << run.err;
    const std::vector<std::string> cli = Lines(run.out);
    ASSERT_EQ(cli.size(), 2 * std::size(kObjects)) << run.out;

    SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDM_READ_OBJECT, 0), 0);
    RunIdleCycle();
    HWND dialog = ReadObjectDialog();
    ASSERT_NE(dialog, nullptr);
    for (std::size_t i = 0; i < std::size(kObjects); ++i) {
        const Agreement& object = kObjects[i];
        SCOPED_TRACE(object.command);
        const std::string& cliValue = cli[2 * i];
        const std::string& cliRaw = cli[2 * i + 1];
        const Shown shown = ReadInDialog(dialog, object);

        EXPECT_EQ(cliValue, object.value);
        switch (object.format) {
        case IDC_FORMAT_HEX:
            EXPECT_EQ(shown.value, AsDialogHex(cliValue));
            break;
        case IDC_FORMAT_RAW:
            EXPECT_EQ(RawAsText(shown.raw), cliValue);
            break;
        default:
            EXPECT_EQ(shown.value, cliValue);
            break;
        }
        // The same bytes, and as many as the dialog counts.
        EXPECT_EQ(shown.raw, cliRaw);
        EXPECT_EQ(shown.length, std::to_string((cliRaw.size() + 1) / 3));
    }
}

}  // namespace
