// The way out: the close request only leaves the close command; the next idle cycle
// stops communication, writes the settings and destroys the window; the main loop ends
// with exit code 0. And a second copy of the program only brings the first forward.
#include <gtest/gtest.h>

#include <string>

#include "app.h"
#include "comm_state.h"
#include "exchange.h"
#include "lss_service.h"
#include "resource.h"
#include "settings.h"
#include "win_test_support.h"

namespace {

constexpr UINT kDeadlineMs = 10000;
constexpr int kDeadlineExitCode = 99;

void CALLBACK EndAtDeadline(HWND, UINT, UINT_PTR, DWORD)
{
    PostQuitMessage(kDeadlineExitCode);
}

// The main loop as the program runs it, ended by a deadline should the close never come.
int RunLoopWithDeadline()
{
    const UINT_PTR timer = SetTimer(nullptr, 0, kDeadlineMs, EndAtDeadline);
    const int exitCode = RunMainLoop();
    KillTimer(nullptr, timer);
    return exitCode;
}

class Shutdown : public ::testing::Test {
protected:
    void TearDown() override { EndProgram(); }
};

struct CloseCase {
    const char* name;
    const wchar_t* typedAddress;  // typed into field 1000 before the close, or nullptr
    void (*close)(HWND window);
    const char* savedAddress;
};

void PressEscapeInAddressField(HWND window)
{
    HWND field = GetDlgItem(window, IDC_ADDRESS);
    SetFocus(field);
    PostMessageW(field, WM_KEYDOWN, VK_ESCAPE, 1);
    PostMessageW(field, WM_KEYUP, VK_ESCAPE, static_cast<LPARAM>(0xC0000001u));
}

void ChooseExit(HWND window)
{
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDM_EXIT, 0), 0);
}

void ClickCloseBox(HWND window)
{
    PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
}

class ShutdownPaths : public Shutdown, public ::testing::WithParamInterface<CloseCase> {};

TEST_P(ShutdownPaths, RunTheDeferredCloseAndWriteTheSettings)
{
    const CloseCase& c = GetParam();
    HWND window = StartProgram("");
    ASSERT_NE(window, nullptr);
    if (c.typedAddress != nullptr)
        SetDlgItemTextW(window, IDC_ADDRESS, c.typedAddress);

    c.close(window);
    const int exitCode = RunLoopWithDeadline();

    EXPECT_EQ(exitCode, 0);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(MainWindow(), nullptr);
    EXPECT_EQ(commState.windowReady, 0u);
    EXPECT_EQ(commState.DeferredCommand, 0u);
    EXPECT_EQ(ReadFileBytes(SettingsFileBeside()),
              std::string("[Tovral]\r\nPrinterPort=4096\r\nBaud=0\r\nCurrAdr=") + c.savedAddress + "\r\n");
}

INSTANTIATE_TEST_SUITE_P(Table, ShutdownPaths,
                         ::testing::Values(CloseCase{"Escape", nullptr, PressEscapeInAddressField, "3"},
                                           CloseCase{"EscapeTakesTheTypedAddress", L"45", PressEscapeInAddressField,
                                                     "45"},
                                           CloseCase{"EscapeRefusesAddressZero", L"0", PressEscapeInAddressField, "3"},
                                           CloseCase{"ExitMenu", nullptr, ChooseExit, "3"},
                                           CloseCase{"ExitMenuTakesTheTypedAddress", L"12", ChooseExit, "12"},
                                           CloseCase{"CloseBox", nullptr, ClickCloseBox, "3"},
                                           CloseCase{"CloseBoxRefusesAddress128", L"128", ClickCloseBox, "3"}),
                         CaseName());

TEST_F(Shutdown, CloseRequestOnlyLeavesTheCommandForTheIdleCycle)
{
    HWND window = StartProgram("");
    ASSERT_NE(window, nullptr);

    SendMessageW(window, WM_CLOSE, 0, 0);

    EXPECT_TRUE(IsWindow(window));
    EXPECT_EQ(commState.DeferredCommand, 1u);
    EXPECT_FALSE(FileExists(SettingsFileBeside()));

    RunIdleCycle();

    EXPECT_FALSE(IsWindow(window));
    EXPECT_TRUE(FileExists(SettingsFileBeside()));
    MSG quit{};
    ASSERT_TRUE(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(quit.wParam, 0u);
}

TEST_F(Shutdown, QuitWhileCommunicatingEndsTheLoopAfterTheQueuedMessages)
{
    HWND window = StartProgram("");
    ASSERT_NE(window, nullptr);
    // An idle cycle now would find no adapter and ask Retry or Cancel: the answerer
    // would see that question.
    MessageBoxAnswerer answerer({IDCANCEL});
    commState.active = 1;

    PostMessageW(window, WM_NULL, 0, 0);
    PostMessageW(window, WM_NULL, 0, 0);
    PostQuitMessage(7);
    const int exitCode = RunLoopWithDeadline();
    commState.active = 0;

    EXPECT_EQ(exitCode, 7);
    EXPECT_TRUE(answerer.Seen().empty());
    EXPECT_TRUE(IsWindow(window));
}

TEST_F(Shutdown, KeepsStoredValuesItDoesNotCorrect)
{
    ASSERT_NE(StartProgram("[Language]\r\nPrimaryLanguage=9\r\n[Tovral]\r\nBaud=9\r\nCurrAdr=0\r\nLogging=0\r\n"),
              nullptr);

    ChooseExit(MainWindow());
    ASSERT_EQ(RunLoopWithDeadline(), 0);

    const std::wstring file = SettingsFileBeside();
    EXPECT_EQ(GetPrivateProfileIntW(L"Tovral", L"Baud", -100, file.c_str()), 9u);
    EXPECT_EQ(GetPrivateProfileIntW(L"Tovral", L"CurrAdr", -100, file.c_str()), 3u);
    EXPECT_EQ(GetPrivateProfileIntW(L"Tovral", L"PrinterPort", -100, file.c_str()), 4096u);
    // Keys the program only reads stay as they were.
    EXPECT_EQ(GetPrivateProfileIntW(L"Language", L"PrimaryLanguage", -100, file.c_str()), 9u);
    EXPECT_EQ(GetPrivateProfileIntW(L"Tovral", L"Logging", -100, file.c_str()), 0u);
}

// The LSS time-out: taken from [LSS] when it is a sensible number of milliseconds, else
// the default; written back at the close only when it was changed.
TEST_F(Shutdown, LssTimeoutIsReadAndWrittenBackOnlyWhenChanged)
{
    struct Case {
        const char* file;
        std::uint32_t timeoutMs;
    };
    const Case cases[] = {
        {"", 50},
        {"[LSS]\r\nTimeoutMs=80\r\n", 80},
        {"[LSS]\r\nTimeoutMs=10000\r\n", 10000},
        {"[LSS]\r\nTimeoutMs=0\r\n", 50},
        {"[LSS]\r\nTimeoutMs=-5\r\n", 50},
        {"[LSS]\r\nTimeoutMs=10001\r\n", 50},
    };
    for (const Case& c : cases) {
        ASSERT_NE(StartProgram(c.file), nullptr);
        EXPECT_EQ(lssSettings.timeoutMs, c.timeoutMs) << c.file;
        EndProgram();
    }

    const std::wstring file = SettingsFileBeside();
    ASSERT_NE(StartProgram("[Tovral]\r\nCurrAdr=3\r\n"), nullptr);
    ChooseExit(MainWindow());
    ASSERT_EQ(RunLoopWithDeadline(), 0);
    EXPECT_EQ(ReadFileBytes(file).find("[LSS]"), std::string::npos) << "unchanged: no section written";

    ASSERT_NE(StartProgram("[LSS]\r\nTimeoutMs=80\r\n"), nullptr);
    lssSettings.timeoutMs = 120;
    ChooseExit(MainWindow());
    ASSERT_EQ(RunLoopWithDeadline(), 0);
    EXPECT_EQ(GetPrivateProfileIntW(L"LSS", L"TimeoutMs", 0, file.c_str()), 120u);
}

// An EDS file chosen for a node is remembered at once for the rest of the run, but the
// settings file is written only at the close; a run that ends otherwise leaves it alone.
TEST_F(Shutdown, ChosenEdsFilesAreWrittenOnlyAtTheClose)
{
    const std::string before = "[Tovral]\r\nCurrAdr=3\r\n[ObjectDictionary]\r\nNode5=C:\\eds\\drive.eds\r\n";
    ASSERT_NE(StartProgram(before), nullptr);
    const std::wstring file = SettingsFileBeside();

    ASSERT_EQ(RememberEdsFile(3, "C:\\eds\\Gerät 3.eds"), 1);
    char path[MAX_PATH * 4] = "";
    ASSERT_EQ(RecallEdsFile(3, path, sizeof path), 1);
    EXPECT_STREQ(path, "C:\\eds\\Gerät 3.eds");
    ASSERT_EQ(RecallEdsFile(5, path, sizeof path), 1);
    EXPECT_STREQ(path, "C:\\eds\\drive.eds");
    EXPECT_EQ(ReadFileBytes(file), before) << "nothing written before the close";

    EndProgram();  // a run that does not end through the close
    EXPECT_EQ(ReadFileBytes(file), before);

    ASSERT_NE(StartProgram(before), nullptr);
    EXPECT_EQ(RecallEdsFile(3, path, sizeof path), 0) << "the last run's choice was not kept";
    ASSERT_EQ(RememberEdsFile(3, "C:\\eds\\Gerät 3.eds"), 1);
    ChooseExit(MainWindow());
    ASSERT_EQ(RunLoopWithDeadline(), 0);
    wchar_t value[MAX_PATH] = L"";
    GetPrivateProfileStringW(L"ObjectDictionary", L"Node3", L"", value, MAX_PATH, file.c_str());
    EXPECT_STREQ(value, L"C:\\eds\\Ger\u00e4t 3.eds");
    GetPrivateProfileStringW(L"ObjectDictionary", L"Node5", L"", value, MAX_PATH, file.c_str());
    EXPECT_STREQ(value, L"C:\\eds\\drive.eds");
}

// --- A second copy ----------------------------------------------------------------------

struct TovralWindows {
    int count = 0;
    HWND last = nullptr;
};

BOOL CALLBACK CountTovralWindow(HWND window, LPARAM result)
{
    wchar_t className[32] = L"";
    GetClassNameW(window, className, 32);
    if (_wcsicmp(className, MainClassName) == 0) {
        auto* windows = LParamToPointer<TovralWindows>(result);
        ++windows->count;
        windows->last = window;
    }
    return TRUE;
}

TovralWindows FindTovralWindows()
{
    TovralWindows found;
    EnumWindows(CountTovralWindow, PointerToLParam(&found));
    return found;
}

bool Launch(const std::wstring& program, PROCESS_INFORMATION& process)
{
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    std::wstring commandLine = L"\"" + program + L"\"";
    const std::wstring folder = program.substr(0, program.rfind(L'\\'));
    return CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                          &startup, &process) != 0;
}

DWORD WaitForExit(const PROCESS_INFORMATION& process)
{
    if (WaitForSingleObject(process.hProcess, 20000) != WAIT_OBJECT_0)
        return 0xFFFFFFFFu;
    DWORD exitCode = 0xFFFFFFFFu;
    GetExitCodeProcess(process.hProcess, &exitCode);
    return exitCode;
}

TEST(SecondCopy, BringsTheFirstToTheFrontAndEndsWithZero)
{
    const std::wstring folder = ExecutableFolder() + L"program\\";
    const std::wstring program = folder + L"tovral.exe";
    ASSERT_TRUE(FileExists(program));
    DeleteFileW((folder + L"tovral.ini").c_str());
    ASSERT_EQ(FindTovralWindows().count, 0);

    PROCESS_INFORMATION first{};
    ASSERT_TRUE(Launch(program, first));
    HWND firstWindow = nullptr;
    for (int i = 0; i < 200 && firstWindow == nullptr; ++i) {
        Sleep(50);
        firstWindow = FindTovralWindows().last;
    }
    ASSERT_NE(firstWindow, nullptr);

    // Another window in front of it.
    HWND other = CreateWindowExW(0, L"Static", L"in front", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100, nullptr,
                                 nullptr, GetModuleHandleW(nullptr), nullptr);
    SetForegroundWindow(other);
    RouteQueuedMessages();

    PROCESS_INFORMATION second{};
    ASSERT_TRUE(Launch(program, second));
    EXPECT_EQ(WaitForExit(second), 0u);

    const TovralWindows after = FindTovralWindows();
    EXPECT_EQ(after.count, 1);
    EXPECT_EQ(after.last, firstWindow);
    HWND front = nullptr;
    for (int i = 0; i < 60 && front != firstWindow; ++i) {
        Sleep(50);
        RouteQueuedMessages();
        front = GetForegroundWindow();
    }
    EXPECT_EQ(front, firstWindow);

    DestroyWindow(other);
    PostMessageW(firstWindow, WM_CLOSE, 0, 0);
    EXPECT_EQ(WaitForExit(first), 0u);
    EXPECT_EQ(ReadFileBytes(folder + L"tovral.ini"), "[Tovral]\r\nPrinterPort=4096\r\nBaud=0\r\nCurrAdr=3\r\n");
    for (PROCESS_INFORMATION* process : {&first, &second}) {
        CloseHandle(process->hThread);
        CloseHandle(process->hProcess);
    }
}

}  // namespace
