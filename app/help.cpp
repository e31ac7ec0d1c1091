#include "help.h"

#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <iterator>

#include "app.h"
#include "resource.h"
#include "resource_language.h"
#include "settings.h"

namespace {

constexpr wchar_t kHelpControlKey[] = L"CLSID\\{ADB880A6-D8FF-11CF-9377-00AA003B7A11}\\InprocServer32";
constexpr wchar_t kHelpControlName[] = L"hhctrl.ocx";
constexpr WORD kHtmlHelpOrdinal = 14;  // HtmlHelpA has no exported name

constexpr wchar_t kVersionText[] = L"V1.2.2";
constexpr wchar_t kNoticeLine[] = L"Provided as is, without warranty of any kind.";

using HtmlHelpEntry = HWND(WINAPI*)(HWND caller, LPCSTR file, UINT command, DWORD_PTR data);

HMODULE helpModule = nullptr;       // the control, once loaded; never released
HtmlHelpEntry helpEntry = nullptr;  // its HtmlHelpA, once resolved
int helpFailed = 0;                 // 1: the control cannot be had in this run
int helpLookups = 0;                // times the control was looked for
int viewerShowsPages = -1;          // HelpViewerShowsPages, once found out

HelpRoutes helpRoutes{HelpViewerShowsPages, OpenPageInBrowser};

// Where Wine's HTML Help viewer gets its HTML engine: Wine Gecko, registered by its
// installer under HKCU or HKLM "Software\Wine\MSHTML\<version>" (value "GeckoPath"),
// installed in the prefix under system32\gecko, or offered to the installer as a package
// in one of the Unix folders Wine looks in.
constexpr wchar_t kGeckoKey[] = L"Software\\Wine\\MSHTML";
constexpr wchar_t kGeckoPathValue[] = L"GeckoPath";
constexpr const char* kGeckoUnixFolders[] = {"/usr/share/wine/gecko", "/usr/local/share/wine/gecko", "/opt/wine/gecko"};

using UnixToDosPath = wchar_t*(CDECL*)(const char* unixPath);

bool IsFolder(const wchar_t* path)
{
    const DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// 1 when `pattern` (a folder and a wildcard) matches any file or folder but . and ..
bool AnyMatch(const wchar_t* pattern)
{
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW(pattern, &found);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    bool any = false;
    do {
        any = std::wcscmp(found.cFileName, L".") != 0 && std::wcscmp(found.cFileName, L"..") != 0;
    } while (!any && FindNextFileW(search, &found));
    FindClose(search);
    return any;
}

// A registered Gecko whose folder exists, under `root`.
bool GeckoRegistered(HKEY root)
{
    HKEY versions = nullptr;
    if (RegOpenKeyExW(root, kGeckoKey, 0, KEY_READ, &versions) != ERROR_SUCCESS)
        return false;
    bool found = false;
    wchar_t version[64];
    for (DWORD i = 0; !found; ++i) {
        DWORD length = static_cast<DWORD>(std::size(version));
        if (RegEnumKeyExW(versions, i, version, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        wchar_t folder[MAX_PATH];
        DWORD size = sizeof folder - sizeof folder[0];
        DWORD type = REG_NONE;
        if (RegGetValueW(versions, version, kGeckoPathValue, RRF_RT_REG_SZ | RRF_NOEXPAND, &type, folder, &size) ==
            ERROR_SUCCESS)
            found = IsFolder(folder);
    }
    RegCloseKey(versions);
    return found;
}

// A Gecko package or unpacked Gecko in one of the Unix folders Wine installs it from,
// which it does by itself when the engine is first used.
bool GeckoOfferedOnUnixSide()
{
    const auto toDos = reinterpret_cast<UnixToDosPath>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_dos_file_name")));
    if (toDos == nullptr)
        return false;
    // The folders of the Wine installation, then the user's download cache.
    char cache[MAX_PATH] = "";
    char base[MAX_PATH - 16];
    const DWORD xdg = GetEnvironmentVariableA("XDG_CACHE_HOME", base, sizeof base);
    if (xdg > 0 && xdg < sizeof base)
        std::snprintf(cache, sizeof cache, "%s/wine", base);
    else if (const DWORD home = GetEnvironmentVariableA("HOME", base, sizeof base); home > 0 && home < sizeof base)
        std::snprintf(cache, sizeof cache, "%s/.cache/wine", base);
    const char* folders[std::size(kGeckoUnixFolders) + 1];
    std::size_t count = 0;
    for (const char* unixFolder : kGeckoUnixFolders)
        folders[count++] = unixFolder;
    if (cache[0] == '/')
        folders[count++] = cache;
    for (std::size_t i = 0; i < count; ++i) {
        wchar_t* folder = toDos(folders[i]);
        if (folder == nullptr)
            continue;
        wchar_t pattern[MAX_PATH];
        const int written = std::swprintf(pattern, MAX_PATH, L"%ls\\wine*gecko*", folder);
        HeapFree(GetProcessHeap(), 0, folder);
        if (written > 0 && written < MAX_PATH && AnyMatch(pattern))
            return true;
    }
    return false;
}

// Wine Gecko's installer puts it in system32\gecko\<version>\wine_gecko; Wine itself
// keeps other things in system32\gecko (its "plugin" folder), which do not count.
bool GeckoInPrefix()
{
    wchar_t gecko[MAX_PATH];
    const UINT length = GetSystemDirectoryW(gecko, MAX_PATH);
    if (length == 0 || length + 8u >= static_cast<UINT>(MAX_PATH))
        return false;
    std::swprintf(gecko + length, MAX_PATH - length, L"\\gecko\\");
    wchar_t pattern[MAX_PATH];
    std::swprintf(pattern, MAX_PATH, L"%ls*", gecko);
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW(pattern, &found);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    bool any = false;
    do {
        wchar_t engine[MAX_PATH];
        const int written = std::swprintf(engine, MAX_PATH, L"%ls%ls\\wine_gecko", gecko, found.cFileName);
        any = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && found.cFileName[0] != L'.' && written > 0 &&
              written < MAX_PATH && IsFolder(engine);
    } while (!any && FindNextFileW(search, &found));
    FindClose(search);
    return any;
}

bool RunningOnWine()
{
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

bool GermanHelp()
{
    return PRIMARYLANGID(ResourceLanguage()) == LANG_GERMAN;
}

bool IsFullPath(const wchar_t* path)
{
    const wchar_t first = path[0];
    const bool letter = (first >= L'A' && first <= L'Z') || (first >= L'a' && first <= L'z');
    const bool drivePath = letter && path[1] == L':' && (path[2] == L'\\' || path[2] == L'/');
    const bool uncPath = path[0] == L'\\' && path[1] == L'\\';
    return drivePath || uncPath;
}

// The help file's path in the narrow form HtmlHelpA takes. A path the ANSI code page
// cannot spell is given in its short form, which can.
void NarrowHelpPath(char (&narrow)[2 * MAX_PATH])
{
    const wchar_t* path = HelpPath();
    BOOL lossy = FALSE;
    if (WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, path, -1, narrow, static_cast<int>(sizeof narrow), nullptr,
                            &lossy) != 0 &&
        !lossy)
        return;
    wchar_t shortPath[MAX_PATH];
    const DWORD length = GetShortPathNameW(path, shortPath, MAX_PATH);
    if (length == 0 || length >= MAX_PATH ||
        WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, shortPath, -1, narrow, static_cast<int>(sizeof narrow),
                            nullptr, nullptr) == 0)
        narrow[0] = '\0';
}

INT_PTR OnAboutInit(HWND dialog)
{
    SetDlgItemTextW(dialog, IDC_ABOUT_MAKER, MakerLine);
    SetDlgItemTextW(dialog, IDC_ABOUT_NOTICE, kNoticeLine);
    SetDlgItemTextW(dialog, IDC_ABOUT_VERSION, kVersionText);
    CenterOverWindow(MainWindow(), dialog);
    return TRUE;
}

// The icon at its normal size, its top-left corner on that of the hidden frame 1029.
INT_PTR OnAboutPaint(HWND dialog)
{
    PAINTSTRUCT paint{};
    HDC dc = BeginPaint(dialog, &paint);
    HICON icon = AppIcon();
    if (icon != nullptr) {
        RECT frame{};
        GetWindowRect(GetDlgItem(dialog, IDC_ABOUT_ICON), &frame);
        POINT corner{frame.left, frame.top};
        MapWindowPoints(nullptr, dialog, &corner, 1);
        DrawIcon(dc, corner.x, corner.y, icon);
    }
    EndPaint(dialog, &paint);
    return TRUE;
}

}  // namespace

int LocateHelpControl(wchar_t (&path)[MAX_PATH])
{
    path[0] = L'\0';
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, kHelpControlKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return 0;
    wchar_t value[MAX_PATH];
    DWORD type = REG_NONE;
    DWORD size = sizeof value - sizeof value[0];  // room for a terminator the value may lack
    const LSTATUS status = RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ))
        return 0;
    value[size / sizeof value[0]] = L'\0';

    if (type == REG_EXPAND_SZ) {
        // "%SystemRoot%\System32\hhctrl.ocx" and the like.
        const DWORD needed = ExpandEnvironmentStringsW(value, path, MAX_PATH);
        if (needed == 0 || needed > MAX_PATH) {
            path[0] = L'\0';
            return 0;
        }
    } else {
        std::swprintf(path, MAX_PATH, L"%ls", value);
    }
    // A bare name would be looked for along the search path, the current directory
    // included: only a full path is taken.
    if (!IsFullPath(path)) {
        path[0] = L'\0';
        return 0;
    }
    return 1;
}

HWND CallHtmlHelp(HWND caller, const char* file, UINT command, DWORD_PTR data)
{
    // Load the control: from its registered full path, else from the system folder. A
    // failure is final for the rest of the run.
    if (helpModule == nullptr && helpFailed == 0) {
        ++helpLookups;
        wchar_t path[MAX_PATH];
        if (LocateHelpControl(path))
            helpModule = LoadLibraryExW(path, nullptr, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (helpModule == nullptr)
            helpModule = LoadLibraryExW(kHelpControlName, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (helpModule == nullptr) {
            helpFailed = 1;
            return nullptr;
        }
    }
    // HtmlHelpA, looked up by its ordinal once.
    if (helpEntry == nullptr) {
        if (helpModule != nullptr)
            helpEntry = reinterpret_cast<HtmlHelpEntry>(
                reinterpret_cast<void*>(GetProcAddress(helpModule, MAKEINTRESOURCEA(kHtmlHelpOrdinal))));
        if (helpEntry == nullptr) {
            helpFailed = 1;
            return nullptr;
        }
    }
    return helpEntry(caller, file, command, data);
}

int WineGeckoInstalled()
{
    return GeckoRegistered(HKEY_CURRENT_USER) || GeckoRegistered(HKEY_LOCAL_MACHINE) || GeckoInPrefix() ||
                   GeckoOfferedOnUnixSide()
               ? 1
               : 0;
}

// Wine's viewer draws its pages with mshtml, which needs Wine Gecko: without it the
// contents tree shows beside an empty page.
int WineHtmlEngineUsable()
{
    // Switched off (WINEDLLOVERRIDES "mshtml=") or absent: no page can be drawn.
    HMODULE engine = LoadLibraryExW(L"mshtml.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (engine == nullptr)
        return 0;
    FreeLibrary(engine);
    return WineGeckoInstalled();
}

int HelpViewerShowsPages()
{
    if (viewerShowsPages < 0)
        viewerShowsPages = !RunningOnWine() || WineHtmlEngineUsable() ? 1 : 0;
    return viewerShowsPages;
}

int OpenPageInBrowser(HWND caller, const wchar_t* page)
{
    SHELLEXECUTEINFOW request{};
    request.cbSize = sizeof request;
    // No message box of the shell's own when nothing opens HTML files here; wait until
    // the browser is started, not until it ends.
    request.fMask = SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
    request.hwnd = caller;
    request.lpVerb = L"open";
    request.lpFile = page;
    request.nShow = SW_SHOWNORMAL;
    if (ShellExecuteExW(&request))
        return 1;
    if (!RunningOnWine())
        return 0;
    // A Wine prefix made without the HTML engine has no program for .html files; Wine's
    // bridge to the desktop's browser, which the engine would have registered, takes the
    // page all the same. From the system folder by its full path: a bare name would also
    // be looked for in the current directory.
    wchar_t bridge[MAX_PATH];
    const UINT folder = GetSystemDirectoryW(bridge, MAX_PATH);
    if (folder == 0 || folder >= static_cast<UINT>(MAX_PATH) ||
        std::swprintf(bridge + folder, MAX_PATH - folder, L"\\winebrowser.exe") < 0)
        return 0;
    wchar_t quoted[MAX_PATH + 2];
    const int written = std::swprintf(quoted, std::size(quoted), L"\"%ls\"", page);
    if (written <= 0 || written >= static_cast<int>(std::size(quoted)))
        return 0;
    request.lpFile = bridge;
    request.lpParameters = quoted;
    return ShellExecuteExW(&request) ? 1 : 0;
}

HelpRoutes DefaultHelpRoutes()
{
    return {HelpViewerShowsPages, OpenPageInBrowser};
}

void SetHelpRoutes(const HelpRoutes& routes)
{
    helpRoutes = routes;
}

const char* HelpTopic()
{
    return GermanHelp() ? "/de/index.html" : "/en/index.html";
}

int HelpPagePath(wchar_t (&path)[MAX_PATH])
{
    path[0] = L'\0';
    wchar_t executable[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, executable, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return 0;
    const wchar_t* lastBackslash = std::wcsrchr(executable, L'\\');
    const int folder = lastBackslash != nullptr ? static_cast<int>(lastBackslash - executable) + 1 : 0;
    const int written =
        std::swprintf(path, MAX_PATH, L"%.*lshelp\\%ls\\index.html", folder, executable, GermanHelp() ? L"de" : L"en");
    if (written <= 0 || written >= MAX_PATH) {
        path[0] = L'\0';
        return 0;
    }
    return 1;
}

int ShowHelpContents(HWND window)
{
    // The viewer, at the language's index page: "<full path>::/de/index.html".
    if (helpRoutes.viewerShowsPages()) {
        char file[2 * MAX_PATH + 32];
        char path[2 * MAX_PATH];
        NarrowHelpPath(path);
        if (path[0] != '\0') {
            std::snprintf(file, sizeof file, "%s::%s", path, HelpTopic());
            if (CallHtmlHelp(window, file, kHelpDisplayToc, 0) != nullptr)
                return 1;
        }
    }
    // No viewer that shows pages, or it failed: the same page in the browser, where it
    // exists.
    wchar_t page[MAX_PATH];
    if (HelpPagePath(page) && GetFileAttributesW(page) != INVALID_FILE_ATTRIBUTES)
        helpRoutes.openInBrowser(window, page);
    return 1;
}

int CloseHelpWindows()
{
    CallHtmlHelp(nullptr, nullptr, kHelpCloseAll, 0);
    return 1;
}

INT_PTR CALLBACK AboutDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        return OnAboutInit(dialog);
    case WM_PAINT:
        return OnAboutPaint(dialog);
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
        case IDCANCEL:  // Escape, the close box
            EndDialog(dialog, 1);
            return TRUE;
        default:
            return FALSE;
        }
    default:
        return FALSE;
    }
}

int ShowAboutBox(HWND owner)
{
    RunDialogInLanguage(IDD_ABOUT, owner, AboutDlgProc, 0);
    return 1;
}

int HelpControlLookups()
{
    return helpLookups;
}
