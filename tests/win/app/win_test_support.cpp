#include "win_test_support.h"

#include <commctrl.h>

#include <cstdio>
#include <cwchar>

#include "app.h"
#include "tick.h"

namespace {

std::deque<int>* pendingAnswers = nullptr;
std::vector<SeenMessageBox>* seenBoxes = nullptr;
HHOOK activeHook = nullptr;
HWND lastAnswered = nullptr;

constexpr int kMessageTextId = 0xFFFF;  // the text control of a platform message box

// The box is not shown yet when it is activated: a control is visible when its own
// style says so.
BOOL CALLBACK NoteVisibleIcon(HWND child, LPARAM result)
{
    wchar_t className[16] = L"";
    GetClassNameW(child, className, 16);
    const LONG style = GetWindowLongW(child, GWL_STYLE);
    if (_wcsicmp(className, L"Static") == 0 && (style & SS_TYPEMASK) == SS_ICON && (style & WS_VISIBLE) &&
        SendMessageW(child, STM_GETICON, 0, 0) != 0)
        *LParamToPointer<bool>(result) = true;
    return TRUE;
}

bool HasVisibleIcon(HWND box)
{
    bool found = false;
    EnumChildWindows(box, NoteVisibleIcon, PointerToLParam(&found));
    return found;
}

LRESULT CALLBACK AnswerBoxes(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_ACTIVATE) {
        HWND box = reinterpret_cast<HWND>(wParam);
        wchar_t className[16] = L"";
        GetClassNameW(box, className, 16);
        // The object dialogs and the Object Dictionary have unnumbered labels too (ID
        // 0xFFFF, as the box's text): they are the program's own windows, never a message
        // box to answer.
        const bool ownWindow =
            box == MainWindow() || box == ReadObjectDialog() || box == WriteObjectDialog() || box == DictionaryWindow();
        if (std::wcscmp(className, L"#32770") == 0 && GetDlgItem(box, kMessageTextId) != nullptr &&
            box != lastAnswered && !ownWindow) {
            lastAnswered = box;
            SeenMessageBox seen;
            seen.caption = WindowText(box);
            seen.text = ControlText(box, kMessageTextId);
            for (int id : {IDOK, IDCANCEL, IDABORT, IDRETRY, IDIGNORE, IDYES, IDNO}) {
                HWND button = GetDlgItem(box, id);
                if (button != nullptr && (GetWindowLongW(button, GWL_STYLE) & WS_VISIBLE))
                    seen.buttons.push_back(id);
            }
            seen.icon = HasVisibleIcon(box);
            seenBoxes->push_back(seen);
            int answer = IDOK;
            if (!pendingAnswers->empty()) {
                answer = pendingAnswers->front();
                pendingAnswers->pop_front();
            }
            PostMessageW(box, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), PointerToLParam(GetDlgItem(box, answer)));
        }
    }
    return CallNextHookEx(activeHook, code, wParam, lParam);
}

}  // namespace

MessageBoxAnswerer::MessageBoxAnswerer(std::deque<int> answers)
{
    pendingAnswers = new std::deque<int>(std::move(answers));
    seenBoxes = new std::vector<SeenMessageBox>();
    lastAnswered = nullptr;
    hook_ = SetWindowsHookExW(WH_CBT, AnswerBoxes, nullptr, GetCurrentThreadId());
    activeHook = hook_;
}

MessageBoxAnswerer::~MessageBoxAnswerer()
{
    UnhookWindowsHookEx(hook_);
    activeHook = nullptr;
    delete pendingAnswers;
    delete seenBoxes;
    pendingAnswers = nullptr;
    seenBoxes = nullptr;
}

const std::vector<SeenMessageBox>& MessageBoxAnswerer::Seen() const
{
    return *seenBoxes;
}

std::wstring ExecutableFolder()
{
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder = path;
    return folder.substr(0, folder.rfind(L'\\') + 1);
}

std::string ReadFileBytes(const std::wstring& path)
{
    std::FILE* file = _wfopen(path.c_str(), L"rb");
    if (file == nullptr)
        return "";
    std::string bytes;
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        bytes.append(buffer, got);
    std::fclose(file);
    return bytes;
}

void WriteFileBytes(const std::wstring& path, const std::string& bytes)
{
    std::FILE* file = _wfopen(path.c_str(), L"wb");
    if (file == nullptr)
        return;
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
}

bool FileExists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::wstring SettingsFileBeside()
{
    return ExecutableFolder() + L"tovral.ini";
}

bool RouteQueuedMessages()
{
    bool quit = false;
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            quit = true;
            continue;
        }
        RouteMessage(&message);
    }
    return quit;
}

void DiscardQueuedMessages()
{
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    }
}

std::wstring WindowText(HWND window)
{
    wchar_t text[1024] = L"";
    GetWindowTextW(window, text, 1024);
    return text;
}

std::wstring ControlText(HWND dialog, int id)
{
    wchar_t text[1024] = L"";
    GetDlgItemTextW(dialog, id, text, 1024);
    return text;
}

std::vector<std::wstring> ListLines(HWND list)
{
    std::vector<std::wstring> lines;
    const LRESULT count = SendMessageW(list, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        wchar_t line[256] = L"";
        if (SendMessageW(list, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0) < 256)
            SendMessageW(list, LB_GETTEXT, static_cast<WPARAM>(i), PointerToLParam(line));
        lines.push_back(line);
    }
    return lines;
}

std::vector<LPARAM> ListItemData(HWND list)
{
    std::vector<LPARAM> data;
    const LRESULT count = SendMessageW(list, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i)
        data.push_back(SendMessageW(list, LB_GETITEMDATA, static_cast<WPARAM>(i), 0));
    return data;
}

std::vector<std::wstring> MenuItemTexts(HMENU bar, int position)
{
    std::vector<std::wstring> texts;
    HMENU popup = GetSubMenu(bar, position);
    const int count = GetMenuItemCount(popup);
    for (int i = 0; i < count; ++i) {
        wchar_t text[128] = L"";
        GetMenuStringW(popup, static_cast<UINT>(i), text, 128, MF_BYPOSITION);
        texts.push_back(text);
    }
    return texts;
}

std::wstring MenuBarText(HMENU bar, int position)
{
    wchar_t text[128] = L"";
    GetMenuStringW(bar, static_cast<UINT>(position), text, 128, MF_BYPOSITION);
    return text;
}

void Notify(HWND dialog, int controlId, WORD notification)
{
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(controlId, notification),
                 PointerToLParam(GetDlgItem(dialog, controlId)));
}

void PressKey(HWND window, WPARAM virtualKey)
{
    const UINT scan = MapVirtualKeyW(static_cast<UINT>(virtualKey), MAPVK_VK_TO_VSC);
    PostMessageW(window, WM_KEYDOWN, virtualKey, static_cast<LPARAM>(1 | (scan << 16)));
    PostMessageW(window, WM_KEYUP, virtualKey, static_cast<LPARAM>(1 | (scan << 16) | 0xC0000000u));
    RouteQueuedMessages();
}

HWND StartProgram(const std::string& settings)
{
    static const ATOM registered = RegisterMainClass(GetModuleHandleW(nullptr));
    (void)registered;
    const std::wstring settingsFile = SettingsFileBeside();
    DeleteFileW(settingsFile.c_str());
    DeleteFileW((ExecutableFolder() + L"tovral.log").c_str());
    if (!settings.empty())
        WriteFileBytes(settingsFile, settings);
    UseManualClock(100000);
    if (!InitApplication(GetModuleHandleW(nullptr), SW_SHOWNORMAL))
        return nullptr;
    RouteQueuedMessages();
    return MainWindow();
}

void EndProgram()
{
    if (MainWindow() != nullptr)
        DestroyWindow(MainWindow());
    DiscardQueuedMessages();
    CleanupApplication();
    UseSystemClock();
    SetThreadLocale(MAKELCID(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), SORT_DEFAULT));
}

void ClickListLine(HWND list, int index)
{
    SendMessageW(list, LB_SETTOPINDEX, static_cast<WPARAM>(index), 0);
    RECT line{};
    SendMessageW(list, LB_GETITEMRECT, static_cast<WPARAM>(index), PointerToLParam(&line));
    const LPARAM point = MAKELPARAM((line.left + line.right) / 2, (line.top + line.bottom) / 2);
    SendMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, point);
    SendMessageW(list, WM_LBUTTONUP, 0, point);
    RouteQueuedMessages();
}

std::wstring CellText(HWND list, int row, int column)
{
    wchar_t text[512] = L"";
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = 512;
    SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    return text;
}

int RowCount(HWND list)
{
    return static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
}

std::vector<std::wstring> ColumnHeads(HWND list, int columns)
{
    std::vector<std::wstring> heads;
    for (int column = 0; column < columns; ++column) {
        wchar_t text[64] = L"";
        LVCOLUMNW item{};
        item.mask = LVCF_TEXT;
        item.pszText = text;
        item.cchTextMax = 64;
        SendMessageW(list, LVM_GETCOLUMNW, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&item));
        heads.push_back(text);
    }
    return heads;
}

int FindRow(HWND list, const wchar_t* index, const wchar_t* sub)
{
    for (int row = 0; row < RowCount(list); ++row)
        if (CellText(list, row, 0) == index && CellText(list, row, 1) == sub)
            return row;
    return -1;
}

std::string Utf8(const std::wstring& wide)
{
    std::string text(4 * wide.size() + 1, '\0');
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, text.data(), static_cast<int>(text.size()), nullptr, nullptr);
    if (length == 0)
        return std::string();
    text.resize(static_cast<std::size_t>(length - 1));
    return text;
}
