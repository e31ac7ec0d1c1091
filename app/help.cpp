#include "help.h"

#include <cwchar>
#include <iterator>

#include "app.h"
#include "resource.h"
#include "resource_language.h"

namespace {

constexpr wchar_t kHelpControlKey[] = L"CLSID\\{ADB880A6-D8FF-11CF-9377-00AA003B7A11}\\InprocServer32";
constexpr wchar_t kHelpControlName[] = L"hhctrl.ocx";
constexpr WORD kHtmlHelpOrdinal = 14;  // HtmlHelpA has no exported name

constexpr wchar_t kVersionText[] = L"V1.2.2";
constexpr wchar_t kNoticeLine[] = L"Provided as is, without warranty of any kind.";

using HtmlHelpEntry = HWND(WINAPI*)(HWND caller, LPCSTR file, UINT command, DWORD_PTR data);

HMODULE helpModule = nullptr;      // the control, once loaded; never released
HtmlHelpEntry helpEntry = nullptr;  // its HtmlHelpA, once resolved
int helpFailed = 0;                 // 1: the control cannot be had in this run
int helpLookups = 0;                // times the control was looked for

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
    if (WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, path, -1, narrow, static_cast<int>(sizeof narrow),
                            nullptr, &lossy) != 0 &&
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
    // 1. Load the control: from its registered full path, else from the system folder.
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
    // 2. Resolve HtmlHelpA.
    if (helpEntry == nullptr) {
        if (helpModule != nullptr)
            helpEntry = reinterpret_cast<HtmlHelpEntry>(
                reinterpret_cast<void*>(GetProcAddress(helpModule, MAKEINTRESOURCEA(kHtmlHelpOrdinal))));
        if (helpEntry == nullptr) {
            helpFailed = 1;
            return nullptr;
        }
    }
    // 3
    return helpEntry(caller, file, command, data);
}

int ShowHelpContents(HWND window)
{
    char file[2 * MAX_PATH];
    NarrowHelpPath(file);
    CallHtmlHelp(window, file, kHelpDisplayToc, 0);
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
