#include "velomar_exe.h"

#include <gtest/gtest.h>

namespace {

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

}  // namespace

VelomarRun RunVelomarIn(const std::wstring& folder, const std::wstring& arguments, const std::string& input)
{
    VelomarRun result;
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
    const std::wstring program = folder + L"velomar.exe";
    const std::wstring line = L"\"" + program + L"\" " + arguments;
    PROCESS_INFORMATION process{};
    // Under load Wine now and then fails to start a process at all (ERROR_INTERNAL_ERROR):
    // that is the platform's, not the program's, so the start is tried up to three times.
    BOOL started = FALSE;
    DWORD startError = 0;
    for (int attempt = 0; attempt < 3 && started == 0; ++attempt) {
        std::wstring command = line;  // CreateProcessW may write into its command line
        started = CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                                 folder.c_str(), &startup, &process);
        startError = started != 0 ? 0 : GetLastError();
        if (started == 0 && startError != ERROR_INTERNAL_ERROR)
            break;
    }
    CloseHandle(in);
    CloseHandle(out);
    CloseHandle(err);
    EXPECT_NE(started, 0) << "CreateProcessW failed: " << startError;
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
