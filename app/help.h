// Help and the About box, as the main window reaches them.
//
// The help file "tovral.chm" beside the program is shown by the platform's HTML Help
// control (hhctrl.ocx), loaded when help is first used and never released. A control
// that cannot be found or used is remembered: every later request returns 0 at once.
//
// The file holds the pages in English (en/) and German (de/); help opens at the index
// page of the language the program runs in. Where the control is missing, or cannot show
// pages (Wine without its HTML engine), the same pages open as plain HTML from the folder
// help\<language>\ beside the program in the desktop's web browser.
#pragma once

#include <windows.h>

// HTML Help commands (the platform's values).
constexpr UINT kHelpDisplayToc = 1;  // HH_DISPLAY_TOC: the table of contents of a file
constexpr UINT kHelpCloseAll = 18;   // HH_CLOSE_ALL: every help window of the process

// HtmlHelpA of the control: the window it returns, or nullptr. nullptr also when the
// control is unavailable (not found, not loadable, or without HtmlHelpA).
HWND CallHtmlHelp(HWND caller, const char* file, UINT command, DWORD_PTR data);

// The control's registered location: the default value of
// HKCR\CLSID\{ADB880A6-D8FF-11CF-9377-00AA003B7A11}\InprocServer32, environment
// references expanded. 1 when it names a full path (drive or UNC) that is now in `path`;
// 0 when the key or value is missing, too long, or not a full path.
int LocateHelpControl(wchar_t (&path)[MAX_PATH]);

// Opens the table of contents of "tovral.chm" at the index page of the program's language
// for `window` (menu Help > Contents, F1); where the viewer cannot show it, that page from
// the help folder in the browser. Always 1: when neither way works nothing is shown.
int ShowHelpContents(HWND window);

// The ways help reaches the operator besides the control itself. Tests plug in their own.
struct HelpRoutes {
    int (*viewerShowsPages)();                               // 1: use the HTML Help control
    int (*openInBrowser)(HWND caller, const wchar_t* page);  // 1: the page went to a browser
};

// The routes of a real run: HelpViewerShowsPages and OpenPageInBrowser.
HelpRoutes DefaultHelpRoutes();
void SetHelpRoutes(const HelpRoutes& routes);

// 1 where the HTML Help control can display pages: always on Windows; under Wine only
// when its HTML engine (mshtml with Wine Gecko) is installed and not switched off. Found
// out once per run.
int HelpViewerShowsPages();

// The two conditions of Wine's viewer, looked at afresh on every call (for tests; the
// program asks HelpViewerShowsPages). WineGeckoInstalled: Wine Gecko is registered in a
// folder that exists, installed in the prefix, or offered as a package where Wine
// installs it from. WineHtmlEngineUsable: that, and mshtml loads (it is not switched off).
int WineGeckoInstalled();
int WineHtmlEngineUsable();

// Hands `page` (a full path) to the program the desktop opens HTML files with, without
// any message of the shell's own. 1 when that program was started.
int OpenPageInBrowser(HWND caller, const wchar_t* page);

// The help's index page in the program's language: the folder of the executable, then
// "help\en\index.html" or "help\de\index.html". 0 when the path would not fit.
int HelpPagePath(wchar_t (&path)[MAX_PATH]);

// The topic inside "tovral.chm" help opens at: "/en/index.html" or "/de/index.html".
const char* HelpTopic();

// Closes every help window the program opened (the main window is going away). Always 1.
int CloseHelpWindows();

// Dialog 108: title, version, the maker and notice lines and the application icon.
INT_PTR CALLBACK AboutDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Shows the About box modally over `owner`. Always 1.
int ShowAboutBox(HWND owner);

// How often the control has been looked for in this run: 0 before help was first used,
// 1 ever after, whether it was found or not.
int HelpControlLookups();
