#include "dictionary_window.h"

#include <commctrl.h>
#include <commdlg.h>

#include <cstdio>
#include <cwchar>
#include <iterator>
#include <string>

#include "app.h"
#include "config_windows.h"
#include "object_dialogs.h"
#include "slave_dictionary.h"
#include "resource.h"
#include "resource_language.h"
#include "settings_values.h"

namespace {

constexpr int kColumnCount = 7;
constexpr int kColumnWidths[kColumnCount] = {48, 40, 205, 110, 56, 90, 150};  // pixels
constexpr int kTextSize = 1025;              // wsprintfW writes at most 1024 characters
constexpr std::size_t kArgumentChars = 300;  // of a name filled into a window text

enum Column { ColumnIndex, ColumnSub, ColumnName, ColumnType, ColumnAccess, ColumnDefault, ColumnValue };

bool readAllRunning = false;     // Read All runs in this window's command handler
bool closeAfterReading = false;  // Close was asked for while it ran

std::wstring Wide(const std::string& utf8)
{
    const std::string cut = utf8.substr(0, kArgumentChars);
    wchar_t wide[kArgumentChars + 1];
    if (MultiByteToWideChar(CP_UTF8, 0, cut.c_str(), -1, wide, static_cast<int>(std::size(wide))) == 0)
        return std::wstring();
    return wide;
}

std::string Utf8(const wchar_t* wide)
{
    char text[kTextSize * 3];
    if (WideCharToMultiByte(CP_UTF8, 0, wide, -1, text, sizeof text, nullptr, nullptr) == 0)
        return std::string();
    return text;
}

std::wstring LoadText(UINT stringId)
{
    wchar_t text[256];
    LoadStringInLanguage(stringId, text, static_cast<int>(std::size(text)));
    return text;
}

HWND List(HWND dialog)
{
    return GetDlgItem(dialog, IDC_DICT_LIST);
}

// The entry a row shows (its item data), or -1.
int EntryOfRow(HWND list, int row)
{
    LVITEMW item{};
    item.mask = LVIF_PARAM;
    item.iItem = row;
    if (row < 0 || !SendMessageW(list, LVM_GETITEMW, 0, PointerToLParam(&item)))
        return -1;
    if (item.lParam < 0 || static_cast<std::size_t>(item.lParam) >= objectDictionary.device.entries.size())
        return -1;
    return static_cast<int>(item.lParam);
}

int RowOfEntry(HWND list, std::uint32_t entry)
{
    LVFINDINFOW find{};
    find.flags = LVFI_PARAM;
    find.lParam = static_cast<LPARAM>(entry);
    return static_cast<int>(SendMessageW(list, LVM_FINDITEMW, static_cast<WPARAM>(-1), PointerToLParam(&find)));
}

int SelectedEntry(HWND dialog)
{
    HWND list = List(dialog);
    const int row = static_cast<int>(SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
    return EntryOfRow(list, row);
}

void SetCell(HWND list, int row, int column, const std::wstring& text)
{
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = const_cast<wchar_t*>(text.c_str());
    SendMessageW(list, LVM_SETITEMTEXTW, static_cast<WPARAM>(row), PointerToLParam(&item));
}

// A variable is named by its object; a sub-object of an array or record by both.
std::wstring NameText(const eds::Entry& entry)
{
    const bool single = entry.objectType != 0x8 && entry.objectType != 0x9;
    if (single || entry.name.empty())
        return Wide(entry.objectName.empty() ? entry.name : entry.objectName);
    return Wide(entry.objectName + ": " + entry.name);
}

std::wstring ValueText(std::uint32_t position)
{
    const eds::Entry& entry = objectDictionary.device.entries[position];
    const EntryValue& value = objectDictionary.values[position];
    wchar_t text[kTextSize];
    switch (value.state) {
    case ValueState::Read:
        return Wide(FormatEntryData(entry, value.data.data(), value.data.size()));
    case ValueState::Aborted:
        wsprintfW(text, LoadText(IDS_ENTRY_ABORT).c_str(), static_cast<unsigned>(value.abortCode));
        return text;
    case ValueState::NoAnswer:
        return LoadText(IDS_NO_ANSWER);
    case ValueState::NotRead:
        break;
    }
    return std::wstring();
}

void AddRow(HWND list, int row, std::uint32_t position)
{
    const eds::Entry& entry = objectDictionary.device.entries[position];
    wchar_t text[16];
    std::swprintf(text, std::size(text), L"%04X", static_cast<unsigned>(entry.index));
    LVITEMW item{};
    item.mask = LVIF_TEXT | LVIF_PARAM;
    item.iItem = row;
    item.pszText = text;
    item.lParam = static_cast<LPARAM>(position);
    const int added = static_cast<int>(SendMessageW(list, LVM_INSERTITEMW, 0, PointerToLParam(&item)));
    if (added < 0)
        return;
    std::swprintf(text, std::size(text), L"%02X", static_cast<unsigned>(entry.subIndex));
    SetCell(list, added, ColumnSub, text);
    SetCell(list, added, ColumnName, NameText(entry));
    const char* typeName = eds::DataTypeName(entry.dataType);
    if (typeName != nullptr) {
        SetCell(list, added, ColumnType, Wide(typeName));
    } else {
        std::swprintf(text, std::size(text), L"0x%04X", static_cast<unsigned>(entry.dataType));
        SetCell(list, added, ColumnType, text);
    }
    SetCell(list, added, ColumnAccess, Wide(eds::AccessName(entry.access)));
    SetCell(list, added, ColumnDefault, Wide(entry.defaultText));
    SetCell(list, added, ColumnValue, ValueText(position));
}

// The rows of the entries the filter takes, the first one selected.
void FillList(HWND dialog)
{
    HWND list = List(dialog);
    wchar_t filter[256] = L"";
    GetDlgItemTextW(dialog, IDC_DICT_FILTER, filter, static_cast<int>(std::size(filter)));
    const std::string wanted = Utf8(filter);
    SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    SendMessageW(list, LVM_DELETEALLITEMS, 0, 0);
    int row = 0;
    const std::vector<eds::Entry>& entries = objectDictionary.device.entries;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (EntryMatchesFilter(entries[i], wanted))
            AddRow(list, row++, static_cast<std::uint32_t>(i));
    }
    if (row > 0) {
        LVITEMW state{};
        state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        state.state = LVIS_SELECTED | LVIS_FOCUSED;
        SendMessageW(list, LVM_SETITEMSTATE, 0, PointerToLParam(&state));
    }
    SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, nullptr, TRUE);
}

std::wstring FileName(const std::string& path)
{
    const std::size_t slash = path.find_last_of("\\/");
    return Wide(slash == std::string::npos ? path : path.substr(slash + 1));
}

void ShowFileLine(HWND dialog)
{
    wchar_t text[kTextSize];
    const unsigned node =
        objectDictionary.node != 0 ? objectDictionary.node : static_cast<unsigned>(appSettings.CurrAdr);
    if (objectDictionary.path.empty()) {
        wsprintfW(text, LoadText(IDS_DICT_NO_FILE).c_str(), node);
    } else {
        const std::wstring name = FileName(objectDictionary.path);
        const std::wstring product = Wide(objectDictionary.device.info.productName);
        wsprintfW(text, LoadText(IDS_DICT_FILE_LINE).c_str(), node, name.c_str(), product.c_str());
    }
    SetDlgItemTextW(dialog, IDC_DICT_FILE, text);
}

void ShowProgress(HWND dialog, UINT stringId, std::uint32_t done, std::uint32_t total)
{
    wchar_t text[kTextSize];
    wsprintfW(text, LoadText(stringId).c_str(), static_cast<unsigned>(done), static_cast<unsigned>(total));
    SetDlgItemTextW(dialog, IDC_DICT_PROGRESS, text);
}

void ShowEverything(HWND dialog)
{
    ShowFileLine(dialog);
    SetDlgItemTextW(dialog, IDC_DICT_PROGRESS, L"");
    FillList(dialog);
    const BOOL haveFile = objectDictionary.path.empty() ? FALSE : TRUE;
    EnableWindow(GetDlgItem(dialog, IDC_DICT_READ_ALL), haveFile);
    EnableWindow(GetDlgItem(dialog, IDC_DICT_SAVE_DCF), haveFile);
}

void InitColumns(HWND dialog)
{
    HWND list = List(dialog);
    SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES,
                 LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
    for (int column = 0; column < kColumnCount; ++column) {
        std::wstring head = LoadText(static_cast<UINT>(IDS_COLUMN_INDEX + column));
        LVCOLUMNW item{};
        item.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        item.cx = kColumnWidths[column];
        item.pszText = head.data();
        item.iSubItem = column;
        SendMessageW(list, LVM_INSERTCOLUMNW, static_cast<WPARAM>(column), PointerToLParam(&item));
    }
}

// The buttons that would start something on the bus or change the file are out of reach
// while Read All runs; Read All itself becomes Abort.
void SetReading(HWND dialog, bool reading)
{
    readAllRunning = reading;
    SetDlgItemTextW(dialog, IDC_DICT_READ_ALL, LoadText(reading ? IDS_BUTTON_ABORT : IDS_BUTTON_READ_ALL).c_str());
    for (int id : {IDOK, IDC_DICT_WRITE, IDC_DICT_OPEN, IDC_DICT_SAVE_DCF, IDC_DICT_DOWNLOAD, IDC_DICT_STORE})
        EnableWindow(GetDlgItem(dialog, id), reading ? FALSE : TRUE);
    // Start, Stop, Search and Close of the main window would pull the bus from under
    // the reads.
    if (MainWindow() != nullptr)
        EnableWindow(MainWindow(), reading ? FALSE : TRUE);
}

void OnReadAll(HWND dialog)
{
    if (readAllRunning) {
        AbortReadAll();
        return;
    }
    if (objectDictionary.path.empty())
        return;
    for (EntryValue& value : objectDictionary.values)
        value = EntryValue{};
    FillList(dialog);
    closeAfterReading = false;
    SetReading(dialog, true);
    ShowProgress(dialog, IDS_READ_PROGRESS, 0, ReadableEntryCount());
    const ReadAllOutcome outcome = ReadAllEntries(dialog);
    SetReading(dialog, false);
    ShowProgress(dialog, outcome.completed ? IDS_READ_DONE : IDS_READ_ABORTED, outcome.read, outcome.total);
    if (closeAfterReading)
        DestroyWindow(dialog);
}

// Opens Read Object (or Write Object) for the selected entry, format and count from its
// data type; Read Object reads at once.
void OpenEntry(HWND dialog, bool write)
{
    const int position = SelectedEntry(dialog);
    if (position < 0)
        return;
    const eds::Entry& entry = objectDictionary.device.entries[static_cast<std::size_t>(position)];
    const EntryValue& last = objectDictionary.values[static_cast<std::size_t>(position)];
    const bool writeOnly = !eds::IsReadable(entry.access);
    write = write || writeOnly;
    EntryPreset preset = PresetForType(entry.dataType);
    // A value wider than four bytes (REAL64, 64-bit numbers) goes as raw bytes.
    const std::uint32_t size = eds::DataTypeSize(entry.dataType);
    if (size > 4 && size != eds::kVariableSize)
        preset = EntryPreset{FormatRaw, 0};
    // Write Object starts from the value last read, else from the file's default.
    const std::vector<std::uint8_t>& value = last.state == ValueState::Read ? last.data
                                             : entry.hasDefault             ? entry.defaultValue
                                                                            : last.data;
    PresetObjectDialogs(entry.index, entry.subIndex, preset.format, preset.count,
                        value.empty() ? nullptr : value.data(), static_cast<std::uint32_t>(value.size()),
                        write ? &entry : nullptr);
    if (write) {
        OpenWriteObjectDialog(MainWindow());
        if (WriteObjectDialog() != nullptr)
            SetFocus(GetDlgItem(WriteObjectDialog(), IDC_SEND_VALUE));
        return;
    }
    OpenReadObjectDialog(MainWindow());
    if (HWND read = ReadObjectDialog())
        SendMessageW(read, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
}

void OnOpenFile(HWND dialog)
{
    if (PickSlaveDictionary(dialog) != 0)
        ShowEverything(dialog);
}

// Save DCF: the values not read yet are read first, with Read All's progress and Abort.
void OnSaveDcf(HWND dialog)
{
    char path[4 * MAX_PATH];
    if (objectDictionary.path.empty() || PickDcfSaveFile(dialog, objectDictionary.node, path, sizeof path) == 0)
        return;
    closeAfterReading = false;
    SetReading(dialog, true);
    SaveDcfFromWindow(dialog, path);
    SetReading(dialog, false);
    if (closeAfterReading)
        DestroyWindow(dialog);
}

void OnDownloadDcf(HWND dialog)
{
    char path[4 * MAX_PATH];
    if (PickEdsFile(dialog, path, sizeof path) == 0)
        return;
    RunDownloadWindow(dialog, path);
    // The entries written show again as not read.
    FillList(dialog);
}

void OnClose(HWND dialog)
{
    if (readAllRunning) {
        AbortReadAll();
        closeAfterReading = true;
        return;
    }
    DestroyWindow(dialog);
}

INT_PTR OnCommand(HWND dialog, WORD id, WORD notification)
{
    switch (id) {
    case IDOK:  // Read ..., also Enter; Shift+Enter: Write ...
        if (!readAllRunning)
            OpenEntry(dialog, GetKeyState(VK_SHIFT) < 0);
        return TRUE;
    case IDC_DICT_WRITE:
        if (!readAllRunning)
            OpenEntry(dialog, true);
        return TRUE;
    case IDC_DICT_READ_ALL:
        OnReadAll(dialog);
        return TRUE;
    case IDC_DICT_OPEN:
        if (!readAllRunning)
            OnOpenFile(dialog);
        return TRUE;
    case IDC_DICT_SAVE_DCF:
        if (!readAllRunning)
            OnSaveDcf(dialog);
        return TRUE;
    case IDC_DICT_DOWNLOAD:
        if (!readAllRunning)
            OnDownloadDcf(dialog);
        return TRUE;
    case IDC_DICT_STORE:
        if (!readAllRunning)
            RunStoreWindow(dialog);
        return TRUE;
    case IDCANCEL:  // Close, Esc, the caption's close button
        OnClose(dialog);
        return TRUE;
    case IDC_DICT_FILTER:
        if (notification != EN_CHANGE)
            return FALSE;
        FillList(dialog);
        return TRUE;
    default:
        return FALSE;
    }
}

INT_PTR OnNotify(HWND dialog, const NMHDR* header)
{
    if (header->idFrom != IDC_DICT_LIST || header->code != NM_DBLCLK || readAllRunning)
        return FALSE;
    OpenEntry(dialog, GetKeyState(VK_SHIFT) < 0);
    return TRUE;
}

INT_PTR OnInitDialog(HWND dialog)
{
    readAllRunning = false;
    closeAfterReading = false;
    InitColumns(dialog);
    SetDlgItemTextW(dialog, IDC_DICT_READ_ALL, LoadText(IDS_BUTTON_READ_ALL).c_str());
    ShowEverything(dialog);
    CenterOverWindow(MainWindow(), dialog);
    return TRUE;
}

}  // namespace

INT_PTR CALLBACK DictionaryDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog(dialog);
    case WM_COMMAND:
        return OnCommand(dialog, LOWORD(wParam), HIWORD(wParam));
    case WM_NOTIFY:
        return OnNotify(dialog, LParamToPointer<NMHDR>(lParam));
    case WM_DESTROY:
        SetDictionaryWindow(nullptr);
        return TRUE;
    default:
        return FALSE;
    }
}

int LoadDictionary(HWND dialog)
{
    HCURSOR previous = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
    const int shown = OpenSlaveDictionary(dialog, EdsFolder());
    SetCursor(previous);
    ShowEverything(dialog);
    return shown;
}

int ShowDictionaryEntry(HWND dialog, std::uint32_t entry, std::uint32_t done, std::uint32_t total)
{
    if (dialog == nullptr || !IsWindow(dialog) || entry >= objectDictionary.values.size())
        return 1;
    HWND list = List(dialog);
    const int row = RowOfEntry(list, entry);
    if (row >= 0) {
        SetCell(list, row, ColumnValue, ValueText(entry));
        SendMessageW(list, LVM_ENSUREVISIBLE, static_cast<WPARAM>(row), FALSE);
        UpdateWindow(list);
    }
    ShowProgress(dialog, IDS_READ_PROGRESS, done, total);
    return 1;
}

int PickEdsFile(HWND owner, char* path, std::uint32_t size)
{
    // The filter: its name from the string table, then the patterns, each ending in a
    // terminator, the whole list in two.
    wchar_t filter[160] = L"";
    const int nameLength = LoadStringInLanguage(IDS_EDS_FILE_FILTER, filter, 100);
    const wchar_t patterns[] = L"*.eds;*.dcf";
    std::wmemcpy(filter + nameLength + 1, patterns, std::size(patterns));
    filter[nameLength + 1 + std::size(patterns)] = L'\0';

    wchar_t chosen[MAX_PATH * 2] = L"";
    wchar_t folder[MAX_PATH * 2] = L"";
    MultiByteToWideChar(CP_UTF8, 0, EdsFolder(), -1, folder, static_cast<int>(std::size(folder)));
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = filter;
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = chosen;
    dialog.nMaxFile = static_cast<DWORD>(std::size(chosen));
    dialog.lpstrInitialDir = folder;
    dialog.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
    // The common dialogs' library only when asked for, from the system folder, like the
    // common controls (the shell loads those when the window first opens).
    static HMODULE dialogs = LoadLibraryExW(L"comdlg32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    using OpenFileName = BOOL(WINAPI*)(OPENFILENAMEW*);
    const auto open =
        dialogs != nullptr
            ? reinterpret_cast<OpenFileName>(reinterpret_cast<void*>(GetProcAddress(dialogs, "GetOpenFileNameW")))
            : nullptr;
    if (open == nullptr || !open(&dialog))
        return 0;
    return WideCharToMultiByte(CP_UTF8, 0, chosen, -1, path, static_cast<int>(size), nullptr, nullptr) != 0 ? 1 : 0;
}

bool DictionaryReading()
{
    return readAllRunning;
}
