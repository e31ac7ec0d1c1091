#include "config_windows.h"

#include <commctrl.h>
#include <commdlg.h>

#include <cwchar>
#include <iterator>
#include <string>

#include "abort_codes.h"
#include "app.h"
#include "comm_state.h"
#include "configuration.h"
#include "resource.h"
#include "resource_language.h"
#include "slave_dictionary.h"

namespace {

constexpr int kTextSize = 1025;  // wsprintfW writes at most 1024 characters
constexpr int kColumnCount = 5;
constexpr int kColumnWidths[kColumnCount] = {48, 40, 230, 140, 250};  // pixels
// Index, Sub and Name share the Object Dictionary window's heads; Value and Result follow.
constexpr UINT kColumnHeads[kColumnCount] = {IDS_COLUMN_INDEX, IDS_COLUMN_INDEX + 1, IDS_COLUMN_INDEX + 2,
                                             IDS_COLUMN_VALUE, IDS_COLUMN_RESULT};
enum Column { ColumnIndex, ColumnSub, ColumnName, ColumnValue, ColumnResult };

HWND downloadWindow = nullptr;  // while it is open: the rows' reports go to it
bool running = false;           // a download, compare or verify runs in its handler
bool closeAfterRun = false;     // Close was asked for while it ran

std::wstring LoadText(UINT stringId)
{
    wchar_t text[512];
    LoadStringInLanguage(stringId, text, static_cast<int>(std::size(text)));
    return text;
}

std::wstring Wide(const std::string& utf8)
{
    wchar_t wide[kTextSize];
    if (MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, wide, static_cast<int>(std::size(wide))) == 0)
        return std::wstring();
    return wide;
}

std::wstring Formatted(UINT stringId, const wchar_t* text)
{
    wchar_t line[kTextSize];
    wsprintfW(line, LoadText(stringId).c_str(), text);
    return line;
}

std::wstring Formatted(UINT stringId, std::uint32_t a, std::uint32_t b = 0)
{
    wchar_t line[kTextSize];
    wsprintfW(line, LoadText(stringId).c_str(), static_cast<unsigned>(a), static_cast<unsigned>(b));
    return line;
}

// "Abort 06010002h: Attempt to write a read-only object".
std::wstring AbortWords(std::uint32_t code)
{
    const std::wstring meaning = LoadText(AbortCodeTextId(code));
    wchar_t line[kTextSize];
    wsprintfW(line, LoadText(IDS_ABORT_IN_WORDS).c_str(), static_cast<unsigned>(code), meaning.c_str());
    return line;
}

void SetCell(HWND list, int row, int column, const std::wstring& text)
{
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = const_cast<wchar_t*>(text.c_str());
    SendMessageW(list, LVM_SETITEMTEXTW, static_cast<WPARAM>(row), PointerToLParam(&item));
}

std::wstring ValueOf(const DownloadRow& row, const std::vector<std::uint8_t>& value)
{
    const eds::Entry& entry = configDownload.file.entries[row.entry];
    return Wide(FormatEntryData(entry, value.data(), value.size()));
}

std::wstring ResultText(const DownloadRow& row)
{
    switch (row.state) {
    case RowState::Pending:
        break;
    case RowState::Same:
        return LoadText(IDS_DCF_STATE_SAME);
    case RowState::Written:
        return LoadText(IDS_DCF_STATE_WRITTEN);
    case RowState::Failed:
        return AbortWords(row.abortCode);
    case RowState::NoAnswer:
        return LoadText(IDS_DCF_STATE_NO_ANSWER);
    case RowState::NotWritten:
        return LoadText(IDS_DCF_NOT_WRITTEN);
    case RowState::Matches:
        return LoadText(IDS_DCF_STATE_MATCHES);
    case RowState::Differs:
        if (row.abortCode != 0)
            return AbortWords(row.abortCode);
        return Formatted(IDS_DCF_STATE_DIFFERS, ValueOf(row, row.readBack).c_str());
    }
    return std::wstring();
}

HWND RowList(HWND dialog)
{
    return GetDlgItem(dialog, IDC_DCF_LIST);
}

void FillRows(HWND dialog)
{
    HWND list = RowList(dialog);
    SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    SendMessageW(list, LVM_DELETEALLITEMS, 0, 0);
    for (std::size_t i = 0; i < configDownload.rows.size(); ++i) {
        const DownloadRow& row = configDownload.rows[i];
        const eds::Entry& entry = configDownload.file.entries[row.entry];
        wchar_t text[16];
        std::swprintf(text, std::size(text), L"%04X", static_cast<unsigned>(row.index));
        LVITEMW item{};
        item.mask = LVIF_TEXT | LVIF_PARAM;
        item.iItem = static_cast<int>(i);
        item.pszText = text;
        item.lParam = static_cast<LPARAM>(i);
        const int added = static_cast<int>(SendMessageW(list, LVM_INSERTITEMW, 0, PointerToLParam(&item)));
        if (added < 0)
            continue;
        std::swprintf(text, std::size(text), L"%02X", static_cast<unsigned>(row.subIndex));
        SetCell(list, added, ColumnSub, text);
        const bool single = entry.objectType != 0x8 && entry.objectType != 0x9;
        SetCell(list, added, ColumnName,
                Wide(single || entry.name.empty() ? entry.objectName : entry.objectName + ": " + entry.name));
        SetCell(list, added, ColumnValue, ValueOf(row, row.value));
        SetCell(list, added, ColumnResult, ResultText(row));
    }
    SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, nullptr, TRUE);
}

std::uint32_t RowsToWrite()
{
    std::uint32_t count = 0;
    for (const DownloadRow& row : configDownload.rows)
        count += row.state != RowState::Same || !configDownload.onlyChanged ? 1 : 0;
    return count;
}

void ShowStatus(HWND dialog, const std::wstring& text)
{
    SetDlgItemTextW(dialog, IDC_DCF_STATUS, text.c_str());
}

// The PDO rule, said while communication is active and the file has PDO entries.
void ShowNote(HWND dialog)
{
    bool pdo = false;
    for (const DownloadRow& row : configDownload.rows)
        pdo = pdo || row.pdo;
    SetDlgItemTextW(dialog, IDC_DCF_NOTE, pdo && commState.active != 0 ? LoadText(IDS_DCF_PDO_NOTE).c_str() : L"");
}

// The buttons that would start another service are out of reach while one runs; the
// Download button becomes Abort.
void SetRunning(HWND dialog, bool on)
{
    running = on;
    SetDlgItemTextW(dialog, IDC_DCF_WRITE, LoadText(on ? IDS_BUTTON_ABORT : IDS_BUTTON_DOWNLOAD).c_str());
    for (int id : {IDC_DCF_VERIFY, IDC_DCF_ONLY_CHANGED})
        EnableWindow(GetDlgItem(dialog, id), on ? FALSE : TRUE);
}

void Compare(HWND dialog)
{
    SetRunning(dialog, true);
    CompareWithDevice(dialog);
    SetRunning(dialog, false);
    FillRows(dialog);
    ShowStatus(dialog, Formatted(IDS_DCF_TO_WRITE, RowsToWrite()));
}

void OnOnlyChanged(HWND dialog)
{
    configDownload.onlyChanged = IsDlgButtonChecked(dialog, IDC_DCF_ONLY_CHANGED) == BST_CHECKED;
    if (configDownload.onlyChanged && !configDownload.compared)
        Compare(dialog);
    else
        ShowStatus(dialog, Formatted(IDS_DCF_TO_WRITE, RowsToWrite()));
}

void OnDownload(HWND dialog)
{
    if (running) {
        AbortDownload();
        return;
    }
    closeAfterRun = false;
    SetRunning(dialog, true);
    const DownloadOutcome outcome = RunDownload(dialog);
    SetRunning(dialog, false);
    ShowNote(dialog);
    if (outcome.started) {
        FillRows(dialog);
        if (!outcome.completed)
            ShowStatus(dialog, Formatted(IDS_DCF_ABORTED, outcome.written, outcome.failed));
        else if (outcome.failed == 0)
            ShowStatus(dialog, Formatted(IDS_DCF_RESULT, outcome.written, 0));
        else {
            wchar_t line[kTextSize];
            const std::wstring failed = Wide(FailedRowList(8));
            wsprintfW(line, LoadText(IDS_DCF_RESULT_FAILED).c_str(), static_cast<unsigned>(outcome.written),
                      static_cast<unsigned>(outcome.failed), failed.c_str());
            ShowStatus(dialog, line);
        }
    }
    if (closeAfterRun)
        EndDialog(dialog, IDCANCEL);
}

void OnVerify(HWND dialog)
{
    if (running)
        return;
    SetRunning(dialog, true);
    const VerifyOutcome outcome = VerifyDownload(dialog);
    SetRunning(dialog, false);
    FillRows(dialog);
    ShowStatus(dialog, Formatted(IDS_DCF_VERIFIED, outcome.matching, outcome.differing));
}

INT_PTR OnDownloadInit(HWND dialog)
{
    downloadWindow = dialog;
    running = false;
    closeAfterRun = false;
    HWND list = RowList(dialog);
    SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES,
                 LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
    for (int column = 0; column < kColumnCount; ++column) {
        std::wstring head = LoadText(kColumnHeads[column]);
        LVCOLUMNW item{};
        item.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        item.cx = kColumnWidths[column];
        item.pszText = head.data();
        item.iSubItem = column;
        SendMessageW(list, LVM_INSERTCOLUMNW, static_cast<WPARAM>(column), PointerToLParam(&item));
    }
    wchar_t line[kTextSize];
    const std::string& path = configDownload.path;
    const std::size_t slash = path.find_last_of("\\/");
    const std::wstring name = Wide(slash == std::string::npos ? path : path.substr(slash + 1));
    wsprintfW(line, LoadText(IDS_DICT_FILE_LINE).c_str(), static_cast<unsigned>(configDownload.node), name.c_str(),
              Wide(configDownload.file.info.productName).c_str());
    SetDlgItemTextW(dialog, IDC_DCF_FILE, line);
    CheckDlgButton(dialog, IDC_DCF_ONLY_CHANGED, configDownload.onlyChanged ? BST_CHECKED : BST_UNCHECKED);
    SetDlgItemTextW(dialog, IDC_DCF_WRITE, LoadText(IDS_BUTTON_DOWNLOAD).c_str());
    ShowNote(dialog);
    FillRows(dialog);
    CenterOverWindow(GetParent(dialog), dialog);
    // The comparison reads the device; it runs once the window shows, so the rows are seen
    // filling in.
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_DCF_ONLY_CHANGED, BN_CLICKED), 0);
    return TRUE;
}

INT_PTR CALLBACK DownloadDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        return OnDownloadInit(dialog);
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_DCF_WRITE:
            OnDownload(dialog);
            return TRUE;
        case IDC_DCF_VERIFY:
            OnVerify(dialog);
            return TRUE;
        case IDC_DCF_ONLY_CHANGED:
            if (!running)
                OnOnlyChanged(dialog);
            return TRUE;
        case IDCANCEL:
            if (running) {
                AbortDownload();
                closeAfterRun = true;
                return TRUE;
            }
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        default:
            return FALSE;
        }
    case WM_DESTROY:
        downloadWindow = nullptr;
        return FALSE;
    default:
        return FALSE;
    }
}

// --- Store in Device -------------------------------------------------------------------

constexpr int kAreaButtons[3] = {IDC_STORE_ALL, IDC_STORE_COMM, IDC_STORE_APP};
constexpr int kAreaCaps[3] = {IDC_STORE_CAPS_ALL, IDC_STORE_CAPS_COMM, IDC_STORE_CAPS_APP};
constexpr ConfigArea kAreas[3] = {ConfigArea::All, ConfigArea::Communication, ConfigArea::Application};

StoreAbilities abilities;

UINT StoreTextId(const AreaAbility& area)
{
    if (!area.storeOffered)
        return IDS_STORE_NOT_OFFERED;
    switch (area.storeBits & 3u) {
    case 1:
        return IDS_STORE_ON_COMMAND;
    case 2:
        return IDS_STORE_AUTONOMOUS;
    case 3:
        return IDS_STORE_CAN_BOTH;
    default:
        return IDS_STORE_CANNOT;
    }
}

int SelectedArea(HWND dialog)
{
    for (int i = 0; i < 3; ++i)
        if (IsDlgButtonChecked(dialog, kAreaButtons[i]) == BST_CHECKED)
            return i;
    return -1;
}

void ShowStoreButtons(HWND dialog)
{
    const int area = SelectedArea(dialog);
    const AreaAbility* ability = area >= 0 ? &abilities.areas[area] : nullptr;
    EnableWindow(GetDlgItem(dialog, IDC_STORE_SAVE), ability != nullptr && ability->storeOffered ? TRUE : FALSE);
    EnableWindow(GetDlgItem(dialog, IDC_STORE_RESTORE), ability != nullptr && ability->restoreOffered ? TRUE : FALSE);
}

INT_PTR OnStoreInit(HWND dialog)
{
    CenterOverWindow(GetParent(dialog), dialog);
    abilities = ReadStoreAbilities(dialog);
    int first = -1;
    for (int i = 0; i < 3; ++i) {
        const AreaAbility& area = abilities.areas[i];
        const std::wstring store = LoadText(StoreTextId(area));
        const std::wstring restore = LoadText(!area.restoreOffered           ? IDS_STORE_NOT_OFFERED
                                              : (area.restoreBits & 1u) != 0 ? IDS_RESTORE_CAN
                                                                             : IDS_RESTORE_CANNOT);
        wchar_t line[kTextSize];
        wsprintfW(line, LoadText(IDS_STORE_CAPABILITY).c_str(), store.c_str(), restore.c_str());
        SetDlgItemTextW(dialog, kAreaCaps[i], abilities.read ? line : L"");
        const bool offered = area.storeOffered || area.restoreOffered;
        EnableWindow(GetDlgItem(dialog, kAreaButtons[i]), offered ? TRUE : FALSE);
        if (offered && first < 0)
            first = i;
    }
    if (first >= 0)
        CheckRadioButton(dialog, IDC_STORE_ALL, IDC_STORE_APP, kAreaButtons[first]);
    else if (abilities.read)
        SetDlgItemTextW(dialog, IDC_STORE_STATUS, LoadText(IDS_STORE_NOTHING).c_str());
    ShowStoreButtons(dialog);
    return TRUE;
}

void ShowStoreResult(HWND dialog, const SdoResult& result, UINT doneId, const std::wstring& areaName)
{
    if (result.failed != 0)
        SetDlgItemTextW(dialog, IDC_STORE_STATUS, LoadText(IDS_DCF_STATE_NO_ANSWER).c_str());
    else if (result.aborted != 0)
        SetDlgItemTextW(dialog, IDC_STORE_STATUS,
                        Formatted(IDS_STORE_REFUSED, AbortWords(result.abortCode).c_str()).c_str());
    else
        SetDlgItemTextW(dialog, IDC_STORE_STATUS, Formatted(doneId, areaName.c_str()).c_str());
}

void OnStoreCommand(HWND dialog, int id)
{
    const int area = SelectedArea(dialog);
    if (area < 0)
        return;
    const std::wstring name = LoadText(AreaTextId(kAreas[area]));
    if (id == IDC_STORE_SAVE) {
        ShowStoreResult(dialog, StoreConfiguration(dialog, kAreas[area]), IDS_STORED, name);
        return;
    }
    bool asked = false;
    const SdoResult result = RestoreConfiguration(dialog, kAreas[area], name.c_str(), asked);
    if (asked)
        ShowStoreResult(dialog, result, IDS_RESTORED, name);
}

INT_PTR CALLBACK StoreDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        return OnStoreInit(dialog);
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_STORE_ALL:
        case IDC_STORE_COMM:
        case IDC_STORE_APP:
            ShowStoreButtons(dialog);
            return TRUE;
        case IDC_STORE_SAVE:
        case IDC_STORE_RESTORE:
            OnStoreCommand(dialog, LOWORD(wParam));
            return TRUE;
        case IDCANCEL:
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        default:
            return FALSE;
        }
    default:
        return FALSE;
    }
}

// While a configuration window is open, the main window and the other modeless windows
// are out of reach: Start, Stop, Search and the object dialogs would meet its transfers.
class OthersDisabled {
public:
    OthersDisabled()
    {
        for (HWND window : {MainWindow(), ReadObjectDialog(), WriteObjectDialog(), NodeMonitorWindow()}) {
            if (window != nullptr && IsWindowEnabled(window)) {
                EnableWindow(window, FALSE);
                disabled_[count_++] = window;
            }
        }
    }
    ~OthersDisabled()
    {
        for (int i = 0; i < count_; ++i)
            EnableWindow(disabled_[i], TRUE);
    }
    OthersDisabled(const OthersDisabled&) = delete;
    OthersDisabled& operator=(const OthersDisabled&) = delete;

private:
    HWND disabled_[4] = {};
    int count_ = 0;
};

}  // namespace

int SaveDcfFromWindow(HWND dictionary, const char* path)
{
    const SaveOutcome outcome = SaveSlaveDcf(dictionary, path);
    if (!outcome.saved) {
        if (!outcome.readsCompleted)
            SetDlgItemTextW(dictionary, IDC_DICT_PROGRESS, LoadText(IDS_DCF_READ_FAILED).c_str());
        return 0;
    }
    const std::string text(path);
    const std::size_t slash = text.find_last_of("\\/");
    const std::wstring name = Wide(slash == std::string::npos ? text : text.substr(slash + 1));
    wchar_t line[kTextSize];
    wsprintfW(line, LoadText(IDS_DCF_SAVED).c_str(), static_cast<unsigned>(outcome.values), name.c_str());
    SetDlgItemTextW(dictionary, IDC_DICT_PROGRESS, line);
    return 1;
}

void RunDownloadWindow(HWND owner, const char* path)
{
    if (LoadDownloadFile(owner, path) == 0)
        return;
    const OthersDisabled others;
    RunDialogInLanguage(IDD_DOWNLOAD_DCF, owner, DownloadDlgProc, 0);
}

void RunStoreWindow(HWND owner)
{
    const OthersDisabled others;
    RunDialogInLanguage(IDD_STORE_CONFIG, owner, StoreDlgProc, 0);
}

int ShowDownloadRow(HWND window, std::uint32_t row)
{
    if (window == nullptr || window != downloadWindow || row >= configDownload.rows.size())
        return 1;
    HWND list = RowList(window);
    SetCell(list, static_cast<int>(row), ColumnResult, ResultText(configDownload.rows[row]));
    SendMessageW(list, LVM_ENSUREVISIBLE, static_cast<WPARAM>(row), FALSE);
    UpdateWindow(list);
    if (running)
        ShowStatus(window, Formatted(IDS_DCF_WRITING, row + 1, static_cast<std::uint32_t>(configDownload.rows.size())));
    return 1;
}

int PickDcfSaveFile(HWND owner, std::uint32_t node, char* path, std::uint32_t size)
{
    wchar_t filter[160] = L"";
    const int nameLength = LoadStringInLanguage(IDS_EDS_FILE_FILTER, filter, 100);
    const wchar_t patterns[] = L"*.dcf";
    std::wmemcpy(filter + nameLength + 1, patterns, std::size(patterns));
    filter[nameLength + 1 + std::size(patterns)] = L'\0';

    wchar_t chosen[MAX_PATH * 2] = L"";
    std::swprintf(chosen, std::size(chosen), L"node%u.dcf", static_cast<unsigned>(node));
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
    dialog.lpstrDefExt = L"dcf";
    dialog.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
    static HMODULE dialogs = LoadLibraryExW(L"comdlg32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    using SaveFileName = BOOL(WINAPI*)(OPENFILENAMEW*);
    const auto save =
        dialogs != nullptr
            ? reinterpret_cast<SaveFileName>(reinterpret_cast<void*>(GetProcAddress(dialogs, "GetSaveFileNameW")))
            : nullptr;
    if (save == nullptr || !save(&dialog))
        return 0;
    return WideCharToMultiByte(CP_UTF8, 0, chosen, -1, path, static_cast<int>(size), nullptr, nullptr) != 0 ? 1 : 0;
}
