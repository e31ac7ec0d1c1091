// Help > Contents, F1 and Help > About through the real main window: the About box as the
// operator sees it in both languages, the help viewer's window, the lookup of the HTML
// Help control, which happens once per run whether the control is there or not, the page
// of the program's language handed to the browser where the viewer cannot show pages,
// and the viewer's contents call, in the program's language, made to a stand-in control.
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

// The pages handed to the browser in this run, and what the stand-in browser answers.
std::vector<std::wstring> browserPages;
int browserAnswer = 1;

int RecordBrowser(HWND, const wchar_t* page)
{
    browserPages.emplace_back(page);
    return browserAnswer;
}

int ViewerShowsPages()
{
    return 1;
}

int ViewerCannotShowPages()
{
    return 0;
}

// Plugs in the stand-in browser, with the viewer taken as able or unable to show pages,
// and puts the real routes back at the end.
class HelpRoutesInTest {
public:
    explicit HelpRoutesInTest(bool viewerUsable, int answer = 1)
    {
        browserPages.clear();
        browserAnswer = answer;
        SetHelpRoutes({viewerUsable ? ViewerShowsPages : ViewerCannotShowPages, RecordBrowser});
    }
    ~HelpRoutesInTest() { SetHelpRoutes(DefaultHelpRoutes()); }
    HelpRoutesInTest(const HelpRoutesInTest&) = delete;
    HelpRoutesInTest& operator=(const HelpRoutesInTest&) = delete;
};

bool RunningOnWine()
{
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

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
    // Wine's viewer opens its window even where it cannot draw the pages.
    HelpRoutesInTest routes(true);
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
    EXPECT_TRUE(browserPages.empty()) << "the viewer showed the help: no browser as well";
    EndProgram();
}

// Runs in a child copy of this test executable for which Wine has the control switched
// off (see below); never on its own.
TEST(HelpMissing, DISABLED_IsLookedUpOnceAndShowsNothing)
{
    ASSERT_EQ(LoadLibraryExW(L"hhctrl.ocx", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32), nullptr)
        << "the control is there: this run cannot show what happens without it";
    // The viewer would be used if it were there; the browser fails too: nothing works.
    HelpRoutesInTest routes(true, 0);
    HWND window = StartProgram("");
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(HelpControlLookups(), 0);
    PressKey(window, VK_F1);
    PressKey(window, VK_F1);
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDM_HELP_CONTENTS, 0), 0);
    EXPECT_EQ(CallHtmlHelp(window, nullptr, kHelpDisplayToc, 0), nullptr);
    EXPECT_TRUE(HelpWindows().empty());
    EXPECT_EQ(HelpControlLookups(), 1);
    // Without the control each request tried the browser with the page, once.
    EXPECT_EQ(browserPages, std::vector<std::wstring>(3, ExecutableFolder() + L"help\\en\\index.html"));
    EXPECT_EQ(MainWindow(), window) << "the program runs on";
    EndProgram();  // closing all help windows looks for nothing again
    EXPECT_EQ(HelpControlLookups(), 1);
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
    // The English index page beside the child, where the browser route looks for it.
    const std::wstring pages = folder + L"help\\";
    CreateDirectoryW(pages.c_str(), nullptr);
    CreateDirectoryW((pages + L"en").c_str(), nullptr);
    CopyFileW((ExecutableFolder() + L"help\\en\\index.html").c_str(), (pages + L"en\\index.html").c_str(), FALSE);
    ASSERT_TRUE(CopyFileW(self, child.c_str(), FALSE));
    HKEY key = nullptr;
    ASSERT_EQ(
        RegCreateKeyExW(HKEY_CURRENT_USER, overridesKey.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr),
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
    DeleteFileW((pages + L"en\\index.html").c_str());
    RemoveDirectoryW((pages + L"en").c_str());
    RemoveDirectoryW(pages.c_str());
    RemoveDirectoryW(folder.c_str());
    ASSERT_TRUE(started);
    EXPECT_EQ(exitCode, 0u) << "the child's test failed: see its output above";
}

// --- Where the viewer cannot show pages: the browser ---------------------------------

TEST(HelpRoute, TheViewerIsUsedOnlyWhereItCanShowPages)
{
    // The tests run under Wine with its HTML engine switched off, or on Windows.
    EXPECT_EQ(HelpViewerShowsPages(), RunningOnWine() ? 0 : 1);
    EXPECT_EQ(HelpViewerShowsPages(), HelpViewerShowsPages()) << "found out once, the same answer";
}

// Under Wine the viewer is used only with its HTML engine at hand: mshtml not switched
// off, and Wine Gecko installed where Wine finds it. This prefix never had Gecko (it is
// made with mshtml switched off); a registration in Wine Gecko's own key stands in for
// an installed one.
TEST(HelpRoute, UnderWineTheViewerNeedsItsHtmlEngine)
{
    if (!RunningOnWine())
        GTEST_SKIP() << "Windows' viewer brings its own engine";
    if (GetFileAttributesW(L"Z:\\usr\\share\\wine\\gecko") != INVALID_FILE_ATTRIBUTES ||
        GetFileAttributesW(L"Z:\\opt\\wine\\gecko") != INVALID_FILE_ATTRIBUTES)
        GTEST_SKIP() << "this machine offers Wine Gecko: it is never missing here";
    HMODULE engine = LoadLibraryExW(L"mshtml.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    const bool engineOn = engine != nullptr;
    if (engine != nullptr)
        FreeLibrary(engine);
    constexpr wchar_t kVersionKey[] = L"Software\\Wine\\MSHTML\\0.0-test";
    const std::wstring folder = ExecutableFolder();
    const std::wstring goneFolder = folder + L"no-such-gecko";
    struct EngineCase {
        const char* what;
        const std::wstring* geckoPath;  // registered, or none
        int gecko;
    } cases[] = {
        {"no Gecko", nullptr, 0},
        {"Gecko registered in a folder that is gone", &goneFolder, 0},
        {"Gecko registered", &folder, 1},
    };
    for (const EngineCase& c : cases) {
        if (c.geckoPath != nullptr) {
            HKEY key = nullptr;
            ASSERT_EQ(
                RegCreateKeyExW(HKEY_CURRENT_USER, kVersionKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr),
                ERROR_SUCCESS);
            RegSetValueExW(key, L"GeckoPath", 0, REG_SZ, reinterpret_cast<const BYTE*>(c.geckoPath->c_str()),
                           static_cast<DWORD>((c.geckoPath->size() + 1) * sizeof(wchar_t)));
            RegCloseKey(key);
        }
        const int gecko = WineGeckoInstalled();
        const int engineUsable = WineHtmlEngineUsable();
        RegDeleteKeyW(HKEY_CURRENT_USER, kVersionKey);
        EXPECT_EQ(gecko, c.gecko) << c.what;
        // The tests run with mshtml switched off (WINEDLLOVERRIDES): Gecko alone is not enough.
        EXPECT_EQ(engineUsable, engineOn ? c.gecko : 0) << c.what << (engineOn ? "" : ", mshtml switched off");
    }

    // Installed in the prefix by Gecko's own installer: system32\gecko\<version>\wine_gecko.
    // Wine's "plugin" folder beside it does not count.
    wchar_t system[MAX_PATH];
    GetSystemDirectoryW(system, MAX_PATH);
    const std::wstring version = std::wstring(system) + L"\\gecko\\0.0-test";
    ASSERT_TRUE(CreateDirectoryW((std::wstring(system) + L"\\gecko").c_str(), nullptr) ||
                GetLastError() == ERROR_ALREADY_EXISTS);
    ASSERT_TRUE(CreateDirectoryW(version.c_str(), nullptr));
    EXPECT_EQ(WineGeckoInstalled(), 0) << "a version folder without the engine";
    ASSERT_TRUE(CreateDirectoryW((version + L"\\wine_gecko").c_str(), nullptr));
    EXPECT_EQ(WineGeckoInstalled(), 1) << "installed in the prefix";
    RemoveDirectoryW((version + L"\\wine_gecko").c_str());
    RemoveDirectoryW(version.c_str());
    EXPECT_EQ(WineGeckoInstalled(), 0);
}

struct BrowserCase {
    std::string name;
    std::string settings;
    const wchar_t* folder;
    const char* topic;
};

class BrowserHelp : public ::testing::TestWithParam<BrowserCase> {
protected:
    void TearDown() override
    {
        EndProgram();
        // A page folder moved away by a test comes back.
        const std::wstring help = ExecutableFolder() + L"help";
        if (!FileExists(help + L"\\en\\index.html"))
            MoveFileW((help + L".away").c_str(), help.c_str());
    }
};

TEST_P(BrowserHelp, OpensTheIndexPageOfTheProgramsLanguage)
{
    const BrowserCase& c = GetParam();
    HelpRoutesInTest routes(false);
    HWND window = StartProgram(c.settings);
    ASSERT_NE(window, nullptr);
    const int lookups = HelpControlLookups();
    PressKey(window, VK_F1);
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDM_HELP_CONTENTS, 0), 0);
    RouteQueuedMessages();

    const std::wstring page = ExecutableFolder() + L"help\\" + c.folder + L"\\index.html";
    EXPECT_EQ(browserPages, std::vector<std::wstring>(2, page)) << "one page per request, none twice";
    EXPECT_TRUE(FileExists(page)) << "the page ships beside the program";
    EXPECT_STREQ(HelpTopic(), c.topic);
    EXPECT_EQ(HelpControlLookups(), lookups) << "the control is not looked for when it cannot show pages";
    EXPECT_TRUE(HelpWindows().empty());
    EXPECT_TRUE(IsWindowEnabled(window));
}

TEST_P(BrowserHelp, WithoutThePagesNothingOpensAndTheProgramRunsOn)
{
    const BrowserCase& c = GetParam();
    const std::wstring help = ExecutableFolder() + L"help";
    ASSERT_TRUE(MoveFileW(help.c_str(), (help + L".away").c_str()));
    HelpRoutesInTest routes(false);
    HWND window = StartProgram(c.settings);
    ASSERT_NE(window, nullptr);
    PressKey(window, VK_F1);
    RouteQueuedMessages();
    EXPECT_TRUE(browserPages.empty()) << "no browser for a page that is not there";
    EXPECT_EQ(MainWindow(), window);
    EXPECT_TRUE(IsWindowEnabled(window));
}

INSTANTIATE_TEST_SUITE_P(Languages, BrowserHelp,
                         ::testing::Values(BrowserCase{"English", "", L"en", "/en/index.html"},
                                           BrowserCase{"German", kGermanSettings, L"de", "/de/index.html"}),
                         CaseName());

// --- The viewer's contents call, seen by a stand-in control --------------------------

constexpr wchar_t kCallsVariable[] = L"FAKE_HHCTRL_CALLS";

std::wstring CallsFile()
{
    wchar_t path[MAX_PATH] = L"";
    GetEnvironmentVariableW(kCallsVariable, path, MAX_PATH);
    return path;
}

// The help file's full path in the narrow form the control is given.
std::string NarrowHelpFile()
{
    const std::wstring wide = ExecutableFolder() + L"tovral.chm";
    char narrow[2 * MAX_PATH];
    WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, narrow, sizeof narrow, nullptr, nullptr);
    return narrow;
}

// Run in a child copy of this test executable for which the stand-in is the registered
// control (see below); never on their own.
void ExpectContentsCallsInLanguage(const std::string& settings, const char* topic)
{
    const std::wstring calls = CallsFile();
    ASSERT_FALSE(calls.empty());
    DeleteFileW(calls.c_str());
    HelpRoutesInTest routes(true);
    HWND window = StartProgram(settings);
    ASSERT_NE(window, nullptr);
    PressKey(window, VK_F1);
    RouteQueuedMessages();
    const std::string contents = "1|" + NarrowHelpFile() + "::" + topic + "\n";
    EXPECT_EQ(ReadFileBytes(calls), contents) << "one contents call, the full path and the language's topic";
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDM_HELP_CONTENTS, 0), 0);
    EXPECT_EQ(ReadFileBytes(calls), contents + contents);
    EXPECT_TRUE(browserPages.empty()) << "the viewer showed the help: no browser as well";

    SendMessageW(window, WM_CLOSE, 0, 0);
    RunIdleCycle();
    RouteQueuedMessages();
    EXPECT_EQ(MainWindow(), nullptr);
    EXPECT_EQ(ReadFileBytes(calls), contents + contents + "18|\n") << "the help windows close with the program";
    EndProgram();
}

TEST(HelpViewer, DISABLED_EnglishContents)
{
    ExpectContentsCallsInLanguage("", "/en/index.html");
}

TEST(HelpViewer, DISABLED_GermanContents)
{
    ExpectContentsCallsInLanguage(kGermanSettings, "/de/index.html");
}

// The control is found through its registration: for the child, the stand-in's full path
// is registered in its place, and the registration put back afterwards.
TEST(Help, ContentsCallReachesTheControlInTheProgramsLanguage)
{
    if (!RunningOnWine())
        GTEST_SKIP() << "the registration of the system's control is changed in Wine's prefix only";
    constexpr wchar_t kControlKey[] = L"CLSID\\{ADB880A6-D8FF-11CF-9377-00AA003B7A11}\\InprocServer32";
    constexpr wchar_t kChildName[] = L"dialogs_tests_fake_help.exe";
    const std::wstring folder = ExecutableFolder();
    const std::wstring fake = folder + L"fake_hhctrl.dll";
    const std::wstring child = folder + kChildName;
    const std::wstring calls = folder + L"hhctrl_calls.txt";
    ASSERT_TRUE(FileExists(fake));

    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, kControlKey, 0, nullptr, 0, KEY_READ | KEY_SET_VALUE, nullptr, &key,
                              nullptr),
              ERROR_SUCCESS);
    wchar_t saved[MAX_PATH] = L"";
    DWORD savedType = REG_NONE;
    DWORD savedSize = sizeof saved - sizeof saved[0];
    const bool hadValue = RegQueryValueExW(key, nullptr, nullptr, &savedType, reinterpret_cast<BYTE*>(saved),
                                           &savedSize) == ERROR_SUCCESS;
    RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(fake.c_str()),
                   static_cast<DWORD>((fake.size() + 1) * sizeof(wchar_t)));

    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    const bool copied = CopyFileW(self, child.c_str(), FALSE) != 0;
    SetEnvironmentVariableW(kCallsVariable, calls.c_str());
    std::wstring command = L"\"" + child + L"\" --gtest_also_run_disabled_tests --gtest_filter=HelpViewer.*";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    const BOOL started = copied && CreateProcessW(child.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                                  nullptr, &startup, &process);
    DWORD exitCode = 1;
    if (started) {
        WaitForSingleObject(process.hProcess, 60000);
        GetExitCodeProcess(process.hProcess, &exitCode);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    SetEnvironmentVariableW(kCallsVariable, nullptr);
    if (hadValue)
        RegSetValueExW(key, nullptr, 0, savedType, reinterpret_cast<const BYTE*>(saved), savedSize + sizeof saved[0]);
    else
        RegDeleteValueW(key, nullptr);
    RegCloseKey(key);
    DeleteFileW(child.c_str());
    const std::string seen = ReadFileBytes(calls);
    DeleteFileW(calls.c_str());

    ASSERT_TRUE(started);
    EXPECT_EQ(exitCode, 0u) << "the child's test failed: see its output above";
    EXPECT_NE(seen.find("::/de/index.html"), std::string::npos) << "the stand-in was called: " << seen;
}

}  // namespace
