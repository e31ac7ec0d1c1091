// Help > Contents, F1 and Help > About through the real main window: the About box as the
// operator sees it in both languages, the help viewer's window, and the lookup of the
// HTML Help control, which happens once per run whether the control is there or not.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

#include "app.h"
#include "exchange.h"
#include "help.h"
#include "modal_operator.h"
#include "resource.h"
#include "win_test_support.h"

namespace {

constexpr char kGermanSettings[] = "[Language]\r\nPrimaryLanguage=7\r\nSubLanguage=1\r\n";

// --- About ----------------------------------------------------------------------------

enum class CloseBy { OkButton, CloseBox, Escape };

struct AboutCase {
    std::string name;
    std::string settings;
    const wchar_t* title;
    CloseBy closeBy;
};

struct AboutView {
    std::wstring title, program, maker, version, notice;
    bool iconFrameVisible = true;
    RECT frame{};
};

class AboutBox : public ::testing::TestWithParam<AboutCase> {
protected:
    void TearDown() override { EndProgram(); }
};

TEST_P(AboutBox, ShowsTitleVersionMakerAndNotice)
{
    const AboutCase& c = GetParam();
    HWND window = StartProgram(c.settings);
    ASSERT_NE(window, nullptr);
    AboutView seen;
    ModalOperator op({[&seen, &c](HWND dialog) {
        seen = {WindowText(dialog),
                ControlText(dialog, IDC_ABOUT_TITLE),
                ControlText(dialog, IDC_ABOUT_MAKER),
                ControlText(dialog, IDC_ABOUT_VERSION),
                ControlText(dialog, IDC_ABOUT_NOTICE),
                IsWindowVisible(GetDlgItem(dialog, IDC_ABOUT_ICON)) != 0,
                {}};
        GetWindowRect(dialog, &seen.frame);
        switch (c.closeBy) {
        case CloseBy::OkButton:
            PostMessageW(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
            break;
        case CloseBy::CloseBox:
            PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
            break;
        case CloseBy::Escape:
            PostMessageW(GetFocus(), WM_KEYDOWN, VK_ESCAPE, 1);
            break;
        }
        return true;
    }});
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDM_ABOUT, 0), 0);

    EXPECT_EQ(op.StepsLeft(), 0);
    EXPECT_EQ(op.StaleCancels(), 0) << "the box ended at the first request";
    EXPECT_EQ(seen.title, c.title);
    EXPECT_EQ(seen.program, L"Velomar");
    EXPECT_EQ(seen.maker, MakerLine);
    EXPECT_EQ(seen.version, L"V1.2.2");
    EXPECT_FALSE(seen.notice.empty());
    EXPECT_FALSE(seen.iconFrameVisible) << "the icon is drawn over a hidden frame";
    RECT main{};
    GetWindowRect(window, &main);
    EXPECT_LE(std::abs((main.left + main.right) - (seen.frame.left + seen.frame.right)), 1);
    EXPECT_LE(std::abs((main.top + main.bottom) - (seen.frame.top + seen.frame.bottom)), 1);
    EXPECT_TRUE(IsWindowEnabled(window)) << "the main window works again";
}

INSTANTIATE_TEST_SUITE_P(Languages, AboutBox,
                         ::testing::Values(AboutCase{"EnglishClosedWithOk", "", L"Info", CloseBy::OkButton},
                                           AboutCase{"GermanClosedWithTheCloseBox", kGermanSettings, L"About",
                                                     CloseBy::CloseBox},
                                           AboutCase{"EnglishClosedWithEscape", "", L"Info", CloseBy::Escape}),
                         CaseName());

// --- Help -----------------------------------------------------------------------------

BOOL CALLBACK NoteHelpWindow(HWND window, LPARAM list)
{
    wchar_t className[32] = L"";
    GetClassNameW(window, className, 32);
    if (std::wcscmp(className, L"HH Parent") == 0)
        LParamToPointer<std::vector<HWND>>(list)->push_back(window);
    return TRUE;
}

// The help viewer's top-level windows on this thread.
std::vector<HWND> HelpWindows()
{
    std::vector<HWND> found;
    EnumThreadWindows(GetCurrentThreadId(), NoteHelpWindow, PointerToLParam(&found));
    return found;
}

TEST(Help, ControlIsLoadedOnceAndItsWindowGoesWithTheMainWindow)
{
    if (!FileExists(ExecutableFolder() + L"tovral.chm"))
        GTEST_SKIP() << "this build has no tovral.chm (chmcmd missing)";
    HWND window = StartProgram("");
    ASSERT_NE(window, nullptr);
    PressKey(window, VK_F1);
    PressKey(window, VK_F1);
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDM_HELP_CONTENTS, 0), 0);
    RouteQueuedMessages();
    EXPECT_EQ(HelpControlLookups(), 1);
    const std::vector<HWND> open = HelpWindows();
    EXPECT_EQ(open.size(), 1u) << "the same table of contents each time";

    // The close sequence of the program destroys the main window.
    SendMessageW(window, WM_CLOSE, 0, 0);
    RunIdleCycle();
    RouteQueuedMessages();
    EXPECT_EQ(MainWindow(), nullptr);
    for (HWND w : open)
        EXPECT_FALSE(IsWindow(w)) << "help windows close with the main window";
    EXPECT_EQ(HelpControlLookups(), 1);
    EndProgram();
}

// Runs in a child copy of this test executable for which Wine has the control switched
// off (see below); never on its own.
TEST(HelpMissing, DISABLED_IsLookedUpOnceAndShowsNothing)
{
    ASSERT_EQ(LoadLibraryExW(L"hhctrl.ocx", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32), nullptr)
        << "the control is there: this run cannot show what happens without it";
    HWND window = StartProgram("");
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(HelpControlLookups(), 0);
    PressKey(window, VK_F1);
    PressKey(window, VK_F1);
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDM_HELP_CONTENTS, 0), 0);
    EXPECT_EQ(CallHtmlHelp(window, nullptr, kHelpDisplayToc, 0), nullptr);
    EXPECT_TRUE(HelpWindows().empty());
    EXPECT_EQ(HelpControlLookups(), 1);
    EndProgram();  // closing all help windows looks for nothing again
    EXPECT_EQ(HelpControlLookups(), 1);
}

bool RunningOnWine()
{
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

// Wine switches a library off for one program by the program's file name: the child is a
// copy of this executable under a name of its own, with hhctrl.ocx disabled for it.
TEST(Help, MissingControlIsLookedUpOnce)
{
    if (!RunningOnWine())
        GTEST_SKIP() << "the control is switched off through Wine's per-program settings";
    constexpr wchar_t kChildName[] = L"dialogs_tests_without_help.exe";
    const std::wstring folder = ExecutableFolder() + L"without_help\\";
    const std::wstring child = folder + kChildName;
    const std::wstring programKey = std::wstring(L"Software\\Wine\\AppDefaults\\") + kChildName;
    const std::wstring overridesKey = programKey + L"\\DllOverrides";
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    CreateDirectoryW(folder.c_str(), nullptr);
    ASSERT_TRUE(CopyFileW(self, child.c_str(), FALSE));
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, overridesKey.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                              nullptr),
              ERROR_SUCCESS);
    const wchar_t disabled[] = L"";
    RegSetValueExW(key, L"hhctrl.ocx", 0, REG_SZ, reinterpret_cast<const BYTE*>(disabled), sizeof disabled);
    RegCloseKey(key);

    std::wstring command = L"\"" + child + L"\" --gtest_also_run_disabled_tests --gtest_filter=HelpMissing.*";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    const BOOL started =
        CreateProcessW(child.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process);
    DWORD exitCode = 1;
    if (started) {
        WaitForSingleObject(process.hProcess, 60000);
        GetExitCodeProcess(process.hProcess, &exitCode);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    RegDeleteKeyW(HKEY_CURRENT_USER, overridesKey.c_str());
    RegDeleteKeyW(HKEY_CURRENT_USER, programKey.c_str());
    DeleteFileW(child.c_str());
    DeleteFileW((folder + L"tovral.ini").c_str());
    RemoveDirectoryW(folder.c_str());
    ASSERT_TRUE(started);
    EXPECT_EQ(exitCode, 0u) << "the child's test failed: see its output above";
}

}  // namespace
