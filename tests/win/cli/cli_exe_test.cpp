// velomar.exe from beside this test, with its standard output and error in files of
// their own; each run is waited for with a deadline.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "velomar_exe.h"

namespace {

std::wstring Folder()
{
    wchar_t path[MAX_PATH * 4];
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
    std::wstring folder(path, n);
    return folder.substr(0, folder.rfind(L'\\') + 1);
}

// The lines as the program writes them on Windows: its standard streams are in text
// mode, so each line ends in CR LF, as other console programs' lines do.
std::string Crlf(const std::string& lines)
{
    std::string text;
    for (const char c : lines) {
        if (c == '\n')
            text += '\r';
        text += c;
    }
    return text;
}

// Runs velomar.exe beside the test with `arguments` (and `input` on its standard input).
VelomarRun RunVelomar(const std::wstring& arguments, const std::string& input = "")
{
    return RunVelomarIn(Folder(), arguments, input);
}

TEST(VelomarExeTest, ScanFindsTheSimulatedNodes)
{
    const VelomarRun run = RunVelomar(L"scan");
    EXPECT_EQ(run.status, 0u) << run.err;
    EXPECT_EQ(run.out, Crlf("node  device type  name\n"
                            "   3  0x000F0191   SimIO 8DI 8DO 2AI 2AO\n"
                            "   5  0x00020192   SimDrive 402 positioning drive\n"));
}

TEST(VelomarExeTest, ReadAndWriteInOneBatch)
{
    const VelomarRun run = RunVelomar(L"--json batch -", "write 3 0x6411 1 i16 -300\r\nread 3 0x6411 1 i16\r\n"
                                                         "read 3 0x1008 0 str\r\n");
    EXPECT_EQ(run.status, 0u) << run.err;
    EXPECT_EQ(run.out,
              Crlf("{\"command\":\"write\",\"node\":3,\"index\":\"0x6411\",\"sub\":1,\"type\":\"i16\",\"value\":-300,"
                   "\"length\":2}\n"
                   "{\"command\":\"read\",\"node\":3,\"index\":\"0x6411\",\"sub\":1,\"type\":\"i16\",\"value\":-300,"
                   "\"length\":2}\n"
                   "{\"command\":\"read\",\"node\":3,\"index\":\"0x1008\",\"sub\":0,\"type\":\"str\",\"value\":"
                   "\"SimIO 8DI 8DO 2AI 2AO\",\"length\":21}\n"));
}

TEST(VelomarExeTest, ARefusedValueAndTheExitStatuses)
{
    VelomarRun run = RunVelomar(L"--lang de write 3 0x6200 1 u8 300");
    EXPECT_EQ(run.status, 2u);
    EXPECT_EQ(run.err, Crlf("velomar: Wert au\xC3\x9F"
                            "erhalb des Bereichs! Erlaubt: 0 bis 255\n"));
    EXPECT_EQ(run.out, "");

    run = RunVelomar(L"read 3 0x6000 9 u8");
    EXPECT_EQ(run.status, 1u);
    EXPECT_EQ(run.err, Crlf("velomar: Unable to access object! Abort Code: 06090011h (Sub-index does not exist)\n"));

    run = RunVelomar(L"read 99 0x1000 0 u32");
    EXPECT_EQ(run.status, 3u);
    EXPECT_EQ(run.err, Crlf("velomar: Communication failure!\n"));

    run = RunVelomar(L"--driver missing_driver.dll scan");
    EXPECT_EQ(run.status, 4u);
    EXPECT_EQ(run.err, Crlf("velomar: Unable to load CAN DLL!\n"));

    run = RunVelomar(L"read 3");
    EXPECT_EQ(run.status, 2u);
}

TEST(VelomarExeTest, DcfSaveAndLoadInOneBatch)
{
    // The source tree through Wine's drive Z:, the saved file in the temporary folder.
    std::string eds = "Z:" VELOMAR_SOURCE_DIR "/simbus/eds/io_module.eds";
    for (char& c : eds)
        c = c == '/' ? '\\' : c;
    wchar_t base[MAX_PATH + 1];
    const DWORD n = GetTempPathW(MAX_PATH + 1, base);
    std::string dcf;
    for (DWORD i = 0; i < n; ++i)
        dcf += static_cast<char>(base[i]);  // the prefix's temporary folder: ASCII
    dcf += "velomar_cli_" + std::to_string(GetCurrentProcessId()) + ".dcf";
    std::string script = "write 3 0x1017 0 u16 300\r\n";
    script += "dcf save 3 \"" + dcf + "\" --eds \"" + eds + "\"\r\n";
    script += "write 3 0x1017 0 u16 777\r\n";
    script += "dcf load 3 \"" + dcf + "\" --changed\r\n";
    script += "store 3 comm\r\nread 3 0x1017 0 u16\r\n";
    const VelomarRun run = RunVelomar(L"--json batch -", script);
    DeleteFileA(dcf.c_str());
    EXPECT_EQ(run.status, 0u) << run.err;
    EXPECT_NE(run.out.find("\"action\":\"save\",\"node\":3"), std::string::npos) << run.out << run.err;
    EXPECT_NE(run.out.find("\"action\":\"row\",\"node\":3,\"index\":\"0x1017\""), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\"written\":1,\"failed\":0"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("{\"command\":\"store\",\"node\":3,\"area\":\"comm\""), std::string::npos) << run.out;
    const std::string last =
        "{\"command\":\"read\",\"node\":3,\"index\":\"0x1017\",\"sub\":0,\"type\":\"u16\",\"value\":300,"
        "\"length\":2}\r\n";
    ASSERT_GE(run.out.size(), last.size());
    EXPECT_EQ(run.out.substr(run.out.size() - last.size()), last);
}

}  // namespace
