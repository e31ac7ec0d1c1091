// velomar.exe from beside this test, with its standard output and error in files of
// their own; each run is waited for with a deadline.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

namespace {

struct Finished {
    DWORD status = 0xFFFFFFFF;  // the exit status; all ones when it did not end in time
    std::string out;
    std::string err;
};

std::wstring Folder()
{
    wchar_t path[MAX_PATH * 4];
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
    std::wstring folder(path, n);
    return folder.substr(0, folder.rfind(L'\\') + 1);
}

// A file name of this run's own: a program that has just ended may still hold the files
// of the run before (Wine closes a finished process's handles a little later), so no
// name is used twice.
std::wstring TempName(const wchar_t* name)
{
    static unsigned runs = 0;
    wchar_t base[MAX_PATH + 1];
    GetTempPathW(MAX_PATH + 1, base);
    return std::wstring(base) + L"velomar_cli_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
           std::to_wstring(++runs) + L"_" + name;
}

HANDLE Inheritable(const std::wstring& path, DWORD access, DWORD creation)
{
    SECURITY_ATTRIBUTES attributes{sizeof attributes, nullptr, TRUE};
    return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &attributes, creation,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

std::string ReadBack(const std::wstring& path)
{
    std::string text;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return text;
    char buffer[4096];
    DWORD n = 0;
    while (ReadFile(file, buffer, sizeof buffer, &n, nullptr) != 0 && n > 0)
        text.append(buffer, n);
    CloseHandle(file);
    DeleteFileW(path.c_str());
    return text;
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

// Runs velomar.exe with `arguments` (and `input` on its standard input).
Finished RunVelomar(const std::wstring& arguments, const std::string& input = "")
{
    Finished result;
    const std::wstring inName = TempName(L"in.txt"), outName = TempName(L"out.txt"), errName = TempName(L"err.txt");
    {
        HANDLE in =
            CreateFileW(inName.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD written = 0;
        EXPECT_NE(in, INVALID_HANDLE_VALUE) << "the input file: " << GetLastError();
        WriteFile(in, input.data(), static_cast<DWORD>(input.size()), &written, nullptr);
        EXPECT_EQ(written, input.size());
        CloseHandle(in);
    }
    HANDLE in = Inheritable(inName, GENERIC_READ, OPEN_EXISTING);
    HANDLE out = Inheritable(outName, GENERIC_WRITE, CREATE_ALWAYS);
    HANDLE err = Inheritable(errName, GENERIC_WRITE, CREATE_ALWAYS);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in;
    startup.hStdOutput = out;
    startup.hStdError = err;
    const std::wstring program = Folder() + VELOMAR_EXE;
    std::wstring line = L"\"" + program + L"\" " + arguments;
    PROCESS_INFORMATION process{};
    const BOOL started = CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                                        Folder().c_str(), &startup, &process);
    CloseHandle(in);
    CloseHandle(out);
    CloseHandle(err);
    EXPECT_NE(started, 0) << "CreateProcessW failed: " << GetLastError();
    if (started != 0) {
        if (WaitForSingleObject(process.hProcess, 30000) == WAIT_OBJECT_0)
            GetExitCodeProcess(process.hProcess, &result.status);
        else
            TerminateProcess(process.hProcess, 99);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    DeleteFileW(inName.c_str());
    result.out = ReadBack(outName);
    result.err = ReadBack(errName);
    return result;
}

TEST(VelomarExeTest, ScanFindsTheSimulatedNodes)
{
    const Finished run = RunVelomar(L"scan");
    EXPECT_EQ(run.status, 0u) << run.err;
    EXPECT_EQ(run.out, Crlf("node  device type  name\n"
                            "   3  0x000F0191   SimIO 8DI 8DO 2AI 2AO\n"
                            "   5  0x00020192   SimDrive 402 positioning drive\n"));
}

TEST(VelomarExeTest, ReadAndWriteInOneBatch)
{
    const Finished run = RunVelomar(L"--json batch -", "write 3 0x6411 1 i16 -300\r\nread 3 0x6411 1 i16\r\n"
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
    Finished run = RunVelomar(L"--lang de write 3 0x6200 1 u8 300");
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
    const Finished run = RunVelomar(L"--json batch -", script);
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
