// Reads what the program's windows show, from outside, for the end-to-end test:
//
//   probe windows                      top-level windows of the program: class, title
//   probe text   WINDOW ID             text of control ID
//   probe list   WINDOW ID             lines of list box ID, one per line
//   probe selected WINDOW ID           selected line index of list box ID (-1 for none)
//   probe checked WINDOW ID            1 when check box / radio button ID is checked
//   probe enabled WINDOW ID            1 when control ID is enabled
//   probe menu   COMMAND               "enabled" or "grayed" for a main-menu command (exit
//                                      code 2 where menus cannot be read from outside, as on Wine)
//   probe title  WINDOW                the window's caption
//   probe rect   WINDOW                the window's screen rectangle: "x y width height"
//   probe center WINDOW ID             screen position of the middle of control ID: "x y"
//   probe message                      caption and text of an open message box
//   probe lvtext WINDOW ID             rows of list view ID, one per line, cells separated
//                                      by tabs (read through a buffer in the program's
//                                      process: a list view's text cannot be sent across)
//   probe lvselected WINDOW ID         selected row index of list view ID (-1 for none)
//   probe lvrow  WINDOW ID ROW         screen position inside row ROW of list view ID, in
//                                      its first column: "x y" (for a double-click)
//
//   probe serve                        answers the commands above, one a line on its input
//                                      (arguments separated by tabs, UTF-8), for as long
//                                      as its input stays open: each answer ends with a
//                                      line of the record separator (1Eh) and the exit
//                                      code. One process for a whole scenario, where
//                                      starting one under Wine for every look costs a
//                                      second or more.
//
// WINDOW is "main" (the window of class Tovral) or the caption of one of the program's
// dialogs. Output is UTF-8; the exit code is 1 when the window or control is missing.
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <string>
#include <cwchar>
#include <cstdlib>
#include <vector>

namespace {

void Print(const wchar_t* text)
{
    char utf8[16384];
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, nullptr, nullptr);
    if (n > 0) {
        std::fwrite(utf8, 1, static_cast<std::size_t>(n - 1), stdout);
        std::fputc('\n', stdout);
    }
}

HWND MainWindow()
{
    return FindWindowW(L"Tovral", nullptr);
}

DWORD ProgramProcess()
{
    DWORD process = 0;
    HWND main = MainWindow();
    if (main != nullptr)
        GetWindowThreadProcessId(main, &process);
    return process;
}

struct Search {
    const wchar_t* title;
    HWND found;
};

BOOL CALLBACK MatchTitle(HWND window, LPARAM lParam)
{
    Search* search = reinterpret_cast<Search*>(lParam);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    wchar_t title[256];
    if (process == ProgramProcess() && IsWindowVisible(window) && GetWindowTextW(window, title, 256) > 0 &&
        std::wcscmp(title, search->title) == 0) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK ListWindow(HWND window, LPARAM)
{
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != ProgramProcess() || !IsWindowVisible(window))
        return TRUE;
    wchar_t title[256] = {}, className[256] = {}, line[600];
    GetWindowTextW(window, title, 256);
    GetClassNameW(window, className, 256);
    std::swprintf(line, 600, L"%ls\t%ls", className, title);
    Print(line);
    return TRUE;
}

HWND FindProgramWindow(const wchar_t* name)
{
    if (std::wcscmp(name, L"main") == 0)
        return MainWindow();
    Search search{name, nullptr};
    EnumWindows(MatchTitle, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

BOOL CALLBACK FindMessageBox(HWND window, LPARAM lParam)
{
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    wchar_t className[64] = {};
    GetClassNameW(window, className, 64);
    if (process == ProgramProcess() && IsWindowVisible(window) && std::wcscmp(className, L"#32770") == 0 &&
        GetDlgItem(window, 0xFFFF) != nullptr) {
        *reinterpret_cast<HWND*>(lParam) = window;
        return FALSE;
    }
    return TRUE;
}

int Fail(const wchar_t* what)
{
    std::fwprintf(stderr, L"probe: %ls\n", what);
    return 1;
}

// `size` bytes in the process of `control`'s window, for the records that list-view
// messages take by address; `target` receives the process, to be closed by the caller
// after VirtualFreeEx. nullptr (after saying why) when either cannot be had.
void* ReserveInProgram(HWND control, SIZE_T size, HANDLE& target)
{
    DWORD process = 0;
    GetWindowThreadProcessId(control, &process);
    target = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE | PROCESS_QUERY_INFORMATION, FALSE,
                         process);
    if (target == nullptr) {
        Fail(L"cannot open the program's process");
        return nullptr;
    }
    void* remote = VirtualAllocEx(target, nullptr, size, MEM_COMMIT, PAGE_READWRITE);
    if (remote == nullptr) {
        CloseHandle(target);
        Fail(L"cannot reserve memory in the program's process");
    }
    return remote;
}

// Where to click row `row` of a list view of another process: a little inside its first
// column, half way down. LVM_GETITEMRECT, like the text, needs its record in the
// program's memory.
int PrintListViewRowPosition(HWND control, int row)
{
    HANDLE target = nullptr;
    auto* remote = static_cast<RECT*>(ReserveInProgram(control, sizeof(RECT), target));
    if (remote == nullptr)
        return 1;
    RECT bounds{};
    bounds.left = LVIR_BOUNDS;
    SIZE_T moved = 0;
    int status = 0;
    if (!WriteProcessMemory(target, remote, &bounds, sizeof bounds, &moved) ||
        SendMessageW(control, LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(remote)) == 0 ||
        !ReadProcessMemory(target, remote, &bounds, sizeof bounds, &moved)) {
        status = Fail(L"no such row");
    } else {
        POINT point{bounds.left + 12, (bounds.top + bounds.bottom) / 2};
        ClientToScreen(control, &point);
        wchar_t line[64];
        std::swprintf(line, 64, L"%ld %ld", point.x, point.y);
        Print(line);
    }
    VirtualFreeEx(target, remote, 0, MEM_RELEASE);
    CloseHandle(target);
    return status;
}

// Every row of a list view of another process. LVM_GETITEMTEXTW takes a record and a
// text buffer by address, so both live in the program's memory for the call.
int PrintListViewRows(HWND control)
{
    constexpr int kCellChars = 1024;
    HANDLE target = nullptr;
    const SIZE_T size = sizeof(LVITEMW) + kCellChars * sizeof(wchar_t);
    auto* remote = static_cast<unsigned char*>(ReserveInProgram(control, size, target));
    if (remote == nullptr)
        return 1;
    auto* remoteText = reinterpret_cast<wchar_t*>(remote + sizeof(LVITEMW));
    HWND header = reinterpret_cast<HWND>(SendMessageW(control, LVM_GETHEADER, 0, 0));
    const int columns = header != nullptr ? static_cast<int>(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0)) : 1;
    const int rows = static_cast<int>(SendMessageW(control, LVM_GETITEMCOUNT, 0, 0));
    int status = 0;
    for (int row = 0; row < rows && status == 0; ++row) {
        std::wstring line;
        for (int column = 0; column < columns; ++column) {
            LVITEMW item{};
            item.iSubItem = column;
            item.pszText = remoteText;
            item.cchTextMax = kCellChars;
            wchar_t cell[kCellChars] = {};
            SIZE_T moved = 0;
            if (!WriteProcessMemory(target, remote, &item, sizeof item, &moved)) {
                status = Fail(L"cannot write into the program's process");
                break;
            }
            const LRESULT length =
                SendMessageW(control, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(remote));
            if (length > 0 && !ReadProcessMemory(target, remoteText, cell, sizeof cell, &moved)) {
                status = Fail(L"cannot read from the program's process");
                break;
            }
            cell[kCellChars - 1] = L'\0';
            if (column > 0)
                line += L'\t';
            line += cell;
        }
        if (status == 0)
            Print(line.c_str());
    }
    VirtualFreeEx(target, remote, 0, MEM_RELEASE);
    CloseHandle(target);
    return status;
}

int RunCommand(int argc, wchar_t** argv)
{
    if (argc < 2)
        return Fail(L"usage: probe windows|text|list|selected|checked|enabled|menu|title|message ...");
    const wchar_t* command = argv[1];
    if (std::wcscmp(command, L"windows") == 0) {
        if (ProgramProcess() == 0)
            return Fail(L"the program is not running");
        EnumWindows(ListWindow, 0);
        return 0;
    }
    if (std::wcscmp(command, L"message") == 0) {
        HWND box = nullptr;
        if (ProgramProcess() != 0)
            EnumWindows(FindMessageBox, reinterpret_cast<LPARAM>(&box));
        if (box == nullptr)
            return Fail(L"no message box");
        wchar_t caption[256] = {}, text[1024] = {};
        GetWindowTextW(box, caption, 256);
        GetDlgItemTextW(box, 0xFFFF, text, 1024);
        Print(caption);
        Print(text);
        return 0;
    }
    if (std::wcscmp(command, L"menu") == 0 && argc >= 3) {
        HMENU menu = GetMenu(MainWindow());
        const UINT state = GetMenuState(menu, static_cast<UINT>(std::wcstoul(argv[2], nullptr, 10)), MF_BYCOMMAND);
        if (menu == nullptr)
            return Fail(L"no menu");
        if (state == static_cast<UINT>(-1)) {
            // Wine keeps menus inside their process: another process cannot read them.
            std::fwprintf(stderr, L"probe: menu state not readable from another process\n");
            return 2;
        }
        Print((state & (MF_GRAYED | MF_DISABLED)) != 0 ? L"grayed" : L"enabled");
        return 0;
    }
    if (argc < 3)
        return Fail(L"missing window");
    HWND window = FindProgramWindow(argv[2]);
    if (window == nullptr)
        return Fail(L"no such window");
    if (std::wcscmp(command, L"title") == 0) {
        wchar_t title[256] = {};
        GetWindowTextW(window, title, 256);
        Print(title);
        return 0;
    }
    if (std::wcscmp(command, L"rect") == 0) {
        RECT r{};
        GetWindowRect(window, &r);
        wchar_t line[64];
        std::swprintf(line, 64, L"%ld %ld %ld %ld", r.left, r.top, r.right - r.left, r.bottom - r.top);
        Print(line);
        return 0;
    }
    if (argc < 4)
        return Fail(L"missing control");
    HWND control = GetDlgItem(window, static_cast<int>(std::wcstol(argv[3], nullptr, 10)));
    if (control == nullptr)
        return Fail(L"no such control");
    if (std::wcscmp(command, L"text") == 0) {
        // WM_GETTEXT, not GetWindowText: for a window of another process that returns the
        // caption the system keeps, which an edit control does not update.
        wchar_t text[4096] = {};
        DWORD_PTR ignored = 0;
        SendMessageTimeoutW(control, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 5000,
                            &ignored);
        Print(text);
    } else if (std::wcscmp(command, L"list") == 0) {
        const LRESULT count = SendMessageW(control, LB_GETCOUNT, 0, 0);
        for (LRESULT i = 0; i < count; ++i) {
            wchar_t line[1024] = {};
            if (SendMessageW(control, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0) < 1024)
                SendMessageW(control, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(line));
            Print(line);
        }
    } else if (std::wcscmp(command, L"lvtext") == 0) {
        return PrintListViewRows(control);
    } else if (std::wcscmp(command, L"lvrow") == 0) {
        if (argc < 5)
            return Fail(L"missing row");
        return PrintListViewRowPosition(control, static_cast<int>(std::wcstol(argv[4], nullptr, 10)));
    } else if (std::wcscmp(command, L"lvselected") == 0) {
        wchar_t line[32];
        const LRESULT row = SendMessageW(control, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED);
        std::swprintf(line, 32, L"%d", static_cast<int>(row));
        Print(line);
    } else if (std::wcscmp(command, L"selected") == 0) {
        wchar_t line[32];
        std::swprintf(line, 32, L"%d", static_cast<int>(SendMessageW(control, LB_GETCURSEL, 0, 0)));
        Print(line);
    } else if (std::wcscmp(command, L"checked") == 0) {
        Print(SendMessageW(control, BM_GETCHECK, 0, 0) == BST_CHECKED ? L"1" : L"0");
    } else if (std::wcscmp(command, L"center") == 0) {
        RECT r{};
        GetWindowRect(control, &r);
        wchar_t line[64];
        std::swprintf(line, 64, L"%ld %ld", (r.left + r.right) / 2, (r.top + r.bottom) / 2);
        Print(line);
    } else if (std::wcscmp(command, L"enabled") == 0) {
        Print(IsWindowEnabled(control) ? L"1" : L"0");
    } else {
        return Fail(L"unknown command");
    }
    return 0;
}

// The commands of one line of the input, until it ends.
int Serve()
{
    char line[8192];
    while (std::fgets(line, sizeof line, stdin) != nullptr) {
        std::string text(line);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
            text.pop_back();
        std::vector<std::wstring> words{L"probe"};
        std::size_t start = 0;
        for (;;) {
            const std::size_t tab = text.find('\t', start);
            const std::string word = text.substr(start, tab == std::string::npos ? std::string::npos : tab - start);
            wchar_t wide[4096] = {};
            MultiByteToWideChar(CP_UTF8, 0, word.c_str(), -1, wide, 4096);
            words.emplace_back(wide);
            if (tab == std::string::npos)
                break;
            start = tab + 1;
        }
        std::vector<wchar_t*> arguments;
        for (std::wstring& word : words)
            arguments.push_back(word.data());
        const int status = RunCommand(static_cast<int>(arguments.size()), arguments.data());
        std::fprintf(stdout, "\x1e%d\n", status);
        std::fflush(stdout);
    }
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc == 2 && std::wcscmp(argv[1], L"serve") == 0)
        return Serve();
    return RunCommand(argc, argv);
}
