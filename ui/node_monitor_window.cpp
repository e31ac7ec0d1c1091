#include "node_monitor_window.h"

#include <commctrl.h>

#include <cstdio>
#include <ctime>
#include <cwchar>
#include <iterator>

#include "app.h"
#include "comm_state.h"
#include "emergency.h"
#include "main_window.h"
#include "error_control.h"
#include "node_monitor.h"
#include "resource.h"
#include "resource_language.h"
#include "settings_values.h"

namespace {

constexpr UINT_PTR kRefreshTimer = 1;
constexpr UINT kRefreshPeriodMs = 250;  // the time lines move on while nothing else happens
constexpr int kStateFontHeight = 28;    // pixels
constexpr int kEmergencyColumns = 5;
constexpr int kEmergencyWidths[kEmergencyColumns] = {80, 48, 285, 150, 100};
constexpr int kHistoryColumns = 4;
constexpr int kHistoryWidths[kHistoryColumns] = {40, 50, 350, 150};
constexpr int kTextSize = 1025;  // wsprintfW writes at most 1024 characters

HFONT stateFont = nullptr;
std::uint32_t shownEmergencies = ~0u;  // the log's count the list was built for
ErrorHistory history{};
bool historyRead = false;
bool historyCleared = false;
bool busy = false;  // a command or the history runs in this window's handler

std::wstring LoadText(UINT stringId)
{
    wchar_t text[kTextSize];
    if (LoadStringInLanguage(stringId, text, static_cast<int>(std::size(text))) == 0)
        return std::wstring();
    return text;
}

// The wall-clock time of a tick, as the operator's clock shows it, to the millisecond.
std::wstring TimeText(std::uint32_t tick)
{
    const std::int64_t ms = WallTimeOfTick(tick);
    const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    std::tm local{};
    if (const std::tm* converted = std::localtime(&seconds))
        local = *converted;
    wchar_t text[32];
    std::swprintf(text, std::size(text), L"%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<int>(ms % 1000));
    return text;
}

void InsertColumns(HWND list, UINT firstHead, const int* widths, int count)
{
    SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES,
                 LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
    for (int column = 0; column < count; ++column) {
        std::wstring head = LoadText(firstHead + static_cast<UINT>(column));
        LVCOLUMNW item{};
        item.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        item.cx = widths[column];
        item.pszText = head.data();
        item.iSubItem = column;
        SendMessageW(list, LVM_INSERTCOLUMNW, static_cast<WPARAM>(column), PointerToLParam(&item));
    }
}

void AddRow(HWND list, int row, const std::wstring* cells, int count)
{
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.pszText = const_cast<wchar_t*>(cells[0].c_str());
    const int at = static_cast<int>(SendMessageW(list, LVM_INSERTITEMW, 0, PointerToLParam(&item)));
    for (int column = 1; column < count; ++column) {
        LVITEMW cell{};
        cell.iSubItem = column;
        cell.pszText = const_cast<wchar_t*>(cells[column].c_str());
        SendMessageW(list, LVM_SETITEMTEXTW, static_cast<WPARAM>(at), PointerToLParam(&cell));
    }
}

std::wstring Hex(std::uint32_t value, int digits)
{
    wchar_t text[16];
    std::swprintf(text, std::size(text), L"%0*Xh", digits, value);
    return text;
}

void FillEmergencies(HWND dialog)
{
    const EmergencyLog& log = MasterEmergencyLog();
    if (log.received == shownEmergencies)
        return;
    shownEmergencies = log.received;
    HWND list = GetDlgItem(dialog, IDC_MON_EMCY_LIST);
    SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    SendMessageW(list, LVM_DELETEALLITEMS, 0, 0);
    const std::uint32_t held = HeldEmergencies(log);
    for (std::uint32_t age = 0; age < held; ++age) {
        const Emergency& emergency = NewestEmergency(log, age);
        wchar_t bytes[24];
        std::swprintf(bytes, std::size(bytes), L"%02X %02X %02X %02X %02X", emergency.manufacturer[0],
                      emergency.manufacturer[1], emergency.manufacturer[2], emergency.manufacturer[3],
                      emergency.manufacturer[4]);
        const std::wstring cells[kEmergencyColumns] = {
            TimeText(emergency.tick),
            Hex(emergency.errorCode, 4),
            EmergencyMeaningText(emergency.errorCode),
            ErrorRegisterText(emergency.errorRegister),
            bytes,
        };
        AddRow(list, static_cast<int>(age), cells, kEmergencyColumns);
    }
    SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, nullptr, TRUE);
    wchar_t count[kTextSize];
    wsprintfW(count, LoadText(IDS_MON_EMCY_COUNT).c_str(), static_cast<unsigned>(held));
    SetDlgItemTextW(dialog, IDC_MON_EMCY_COUNT, count);
}

void FillHistory(HWND dialog)
{
    HWND list = GetDlgItem(dialog, IDC_MON_HISTORY_LIST);
    SendMessageW(list, LVM_DELETEALLITEMS, 0, 0);
    wchar_t line[kTextSize];
    if (historyCleared) {
        std::swprintf(line, std::size(line), L"%ls", LoadText(IDS_MON_HISTORY_CLEARED).c_str());
    } else if (!historyRead) {
        std::swprintf(line, std::size(line), L"%ls", LoadText(IDS_MON_NO_HISTORY).c_str());
    } else {
        for (std::uint32_t i = 0; i < history.read; ++i) {
            const std::uint32_t entry = history.entries[i];
            const std::wstring cells[kHistoryColumns] = {
                std::to_wstring(i + 1),
                Hex(entry & 0xFFFFu, 4),
                EmergencyMeaningText(static_cast<std::uint16_t>(entry & 0xFFFFu)),
                Hex(entry >> 16, 4),
            };
            AddRow(list, static_cast<int>(i), cells, kHistoryColumns);
        }
        wsprintfW(line, LoadText(IDS_MON_HISTORY_COUNT).c_str(), static_cast<unsigned>(history.count),
                  static_cast<unsigned>(history.read));
    }
    if (historyRead && history.result.aborted != 0) {
        wchar_t failure[kTextSize];
        wsprintfW(failure, LoadText(IDS_MON_HISTORY_ABORT).c_str(), static_cast<unsigned>(history.result.abortCode));
        std::wcscat(line, L"; ");
        std::wcsncat(line, failure, std::size(line) - std::wcslen(line) - 1);
    } else if (historyRead && history.result.failed != 0) {
        std::wcscat(line, L"; ");
        std::wcsncat(line, LoadText(IDS_MON_HISTORY_FAILED).c_str(), std::size(line) - std::wcslen(line) - 1);
    }
    SetDlgItemTextW(dialog, IDC_MON_HISTORY_LINE, line);
}

// The supervision line: what the consumers expect of the slave and when it last spoke.
std::wstring SupervisionText()
{
    const ErrorControl& watch = MasterErrorControl();
    wchar_t text[kTextSize];
    if (nodeMonitor.watching == 0 || commState.active == 0)
        return LoadText(IDS_MON_NOT_WATCHED);
    if (nodeMonitor.guardTimeMs != 0) {
        if (nodeMonitor.lost != 0) {
            wsprintfW(text, LoadText(IDS_MON_GUARD_LOST).c_str(),
                      static_cast<unsigned>(nodeMonitor.guardTimeMs * kGuardLifeFactor));
            return text;
        }
        const std::wstring last = watch.seen != 0 ? TimeText(watch.seenTick) : std::wstring(L"-");
        wsprintfW(text, LoadText(IDS_MON_GUARDING).c_str(), static_cast<unsigned>(nodeMonitor.guardTimeMs),
                  last.c_str());
        return text;
    }
    if (nodeMonitor.consumerTimeMs == 0)
        return LoadText(IDS_MON_STATE_ONLY);
    if (nodeMonitor.lost != 0) {
        wsprintfW(text, LoadText(IDS_MON_LOST).c_str(), static_cast<unsigned>(nodeMonitor.consumerTimeMs));
        return text;
    }
    if (watch.seen == 0) {
        wsprintfW(text, LoadText(IDS_MON_WAITING).c_str(), static_cast<unsigned>(nodeMonitor.producerTimeMs));
        return text;
    }
    wsprintfW(text, LoadText(IDS_MON_HEARTBEAT).c_str(), TimeText(watch.seenTick).c_str(),
              static_cast<unsigned>(nodeMonitor.producerTimeMs), static_cast<unsigned>(nodeMonitor.consumerTimeMs));
    return text;
}

void ShowLines(HWND dialog)
{
    wchar_t text[kTextSize];
    const std::uint32_t node =
        nodeMonitor.node != 0 ? nodeMonitor.node : static_cast<std::uint32_t>(appSettings.CurrAdr);
    wsprintfW(text, LoadText(IDS_MON_NODE).c_str(), static_cast<unsigned>(node));
    SetDlgItemTextW(dialog, IDC_MON_NODE, text);
    SetDlgItemTextW(dialog, IDC_MON_STATE, LoadText(StateTextId(nodeMonitor.state)).c_str());
    if (nodeMonitor.stateCommanded != 0)
        wsprintfW(text, LoadText(IDS_MON_COMMANDED).c_str(), TimeText(nodeMonitor.stateTick).c_str());
    else if (nodeMonitor.stateSeen != 0)
        wsprintfW(text, LoadText(IDS_MON_SEEN).c_str(), TimeText(nodeMonitor.stateTick).c_str());
    else
        text[0] = L'\0';
    SetDlgItemTextW(dialog, IDC_MON_SEEN, text);
    SetDlgItemTextW(dialog, IDC_MON_HEARTBEAT, SupervisionText().c_str());
    if (nodeMonitor.lastCommand != 0) {
        wsprintfW(text, LoadText(IDS_MON_LAST_COMMAND).c_str(),
                  LoadText(CommandTextId(nodeMonitor.lastCommand)).c_str(),
                  TimeText(nodeMonitor.lastCommandTick).c_str());
    } else {
        text[0] = L'\0';
    }
    SetDlgItemTextW(dialog, IDC_MON_COMMAND, text);
}

void ShowEverything(HWND dialog)
{
    ShowLines(dialog);
    FillEmergencies(dialog);
    // The window shows every emergency there is: none of them is new to the operator.
    if (GetForegroundWindow() == dialog && (nodeMonitor.alerts & AlertEmergency) != 0)
        AcknowledgeMonitorAlerts(MainWindow());
}

// The buttons that use the bus are out of reach while one of them runs; so is the main
// window (its Start, Stop, Search and Close would pull the bus from under it).
void SetBusy(HWND dialog, bool on)
{
    busy = on;
    for (int id = IDC_MON_START; id <= IDC_MON_RESET_COMM; ++id)
        EnableWindow(GetDlgItem(dialog, id), on ? FALSE : TRUE);
    EnableWindow(GetDlgItem(dialog, IDC_MON_READ_HISTORY), on ? FALSE : TRUE);
    EnableWindow(GetDlgItem(dialog, IDC_MON_CLEAR_HISTORY), on ? FALSE : TRUE);
    if (MainWindow() != nullptr)
        EnableWindow(MainWindow(), on ? FALSE : TRUE);
}

NodeCommand CommandOfButton(WORD id)
{
    switch (id) {
    case IDC_MON_START:
        return NodeStart;
    case IDC_MON_STOP:
        return NodeStop;
    case IDC_MON_PREOP:
        return NodePreOperational;
    case IDC_MON_RESET_NODE:
        return NodeResetNode;
    default:
        return NodeResetCommunication;
    }
}

void OnCommandButton(HWND dialog, WORD id)
{
    SetBusy(dialog, true);
    CommandNode(dialog, CommandOfButton(id));
    SetBusy(dialog, false);
    ShowEverything(dialog);
}

void OnReadHistory(HWND dialog)
{
    SetBusy(dialog, true);
    HCURSOR previous = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
    historyRead = ReadErrorHistory(dialog, history) != 0 || history.result.aborted != 0;
    historyCleared = false;
    SetCursor(previous);
    SetBusy(dialog, false);
    FillHistory(dialog);
}

void OnClearHistory(HWND dialog)
{
    SetBusy(dialog, true);
    SdoResult result{};
    const int cleared = ClearErrorHistory(dialog, result);
    SetBusy(dialog, false);
    if (cleared != 0) {
        historyCleared = true;
        historyRead = false;
    } else if (result.aborted != 0) {
        historyRead = true;
        historyCleared = false;
        history = ErrorHistory{};
        history.result = result;
    }
    FillHistory(dialog);
}

void ShowSettings(HWND dialog)
{
    SetDlgItemInt(dialog, IDC_MON_CONSUMER, monitorSettings.consumerTimeMs, FALSE);
    SetDlgItemInt(dialog, IDC_MON_GUARD, monitorSettings.guardTimeMs, FALSE);
}

void OnApply(HWND dialog)
{
    BOOL consumerOk = FALSE;
    BOOL guardOk = FALSE;
    const UINT consumer = GetDlgItemInt(dialog, IDC_MON_CONSUMER, &consumerOk, FALSE);
    const UINT guard = GetDlgItemInt(dialog, IDC_MON_GUARD, &guardOk, FALSE);
    // A field that holds no number keeps the setting it had.
    MonitorSettings settings = monitorSettings;
    if (consumerOk)
        settings.consumerTimeMs = consumer;
    if (guardOk)
        settings.guardTimeMs = guard;
    ApplyMonitorSettings(settings);
    ShowSettings(dialog);
    ShowEverything(dialog);
}

INT_PTR OnCommand(HWND dialog, WORD id)
{
    switch (id) {
    case IDC_MON_START:
    case IDC_MON_STOP:
    case IDC_MON_PREOP:
    case IDC_MON_RESET_NODE:
    case IDC_MON_RESET_COMM:
        if (!busy)
            OnCommandButton(dialog, id);
        return TRUE;
    case IDC_MON_READ_HISTORY:
        if (!busy)
            OnReadHistory(dialog);
        return TRUE;
    case IDC_MON_CLEAR_HISTORY:
        if (!busy)
            OnClearHistory(dialog);
        return TRUE;
    case IDC_MON_APPLY:
        OnApply(dialog);
        return TRUE;
    case IDCANCEL:  // Close, Esc, the caption's close button
        if (!busy)
            DestroyWindow(dialog);
        return TRUE;
    default:
        return FALSE;
    }
}

INT_PTR OnInitDialog(HWND dialog)
{
    shownEmergencies = ~0u;
    busy = false;
    InsertColumns(GetDlgItem(dialog, IDC_MON_EMCY_LIST), IDS_MON_EMCY_COLUMN_FIRST, kEmergencyWidths,
                  kEmergencyColumns);
    InsertColumns(GetDlgItem(dialog, IDC_MON_HISTORY_LIST), IDS_MON_HISTORY_COLUMN_FIRST, kHistoryWidths,
                  kHistoryColumns);
    if (stateFont == nullptr)
        stateFont =
            CreateFontW(-kStateFontHeight, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                        CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, L"MS Sans Serif");
    if (stateFont != nullptr)
        SendDlgItemMessageW(dialog, IDC_MON_STATE, WM_SETFONT, reinterpret_cast<WPARAM>(stateFont), FALSE);
    ShowSettings(dialog);
    FillHistory(dialog);
    ShowEverything(dialog);
    CenterOverWindow(MainWindow(), dialog);
    SetTimer(dialog, kRefreshTimer, kRefreshPeriodMs, nullptr);
    return TRUE;
}

INT_PTR OnDestroy(HWND dialog)
{
    KillTimer(dialog, kRefreshTimer);
    SetNodeMonitorWindow(nullptr);
    if (stateFont != nullptr) {
        DeleteObject(stateFont);
        stateFont = nullptr;
    }
    return TRUE;
}

}  // namespace

INT_PTR CALLBACK NodeMonitorDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog(dialog);
    case WM_COMMAND:
        return OnCommand(dialog, LOWORD(wParam));
    case WM_TIMER:
        if (wParam == kRefreshTimer)
            ShowLines(dialog);
        return TRUE;
    case WM_ACTIVATE:
        // Looked at: the emergencies are no longer new.
        if (LOWORD(wParam) != WA_INACTIVE)
            AcknowledgeMonitorAlerts(MainWindow());
        return FALSE;
    case WM_DESTROY:
        return OnDestroy(dialog);
    default:
        return FALSE;
    }
}

int ShowNodeStatus(HWND)
{
    if (HWND dialog = NodeMonitorWindow())
        ShowEverything(dialog);
    if (HWND main = MainWindow())
        ShowMonitorAlerts(main);
    return 1;
}

std::wstring MonitorAlertText()
{
    wchar_t text[kTextSize];
    std::wstring suffix;
    if ((nodeMonitor.alerts & AlertHeartbeatLost) != 0) {
        wsprintfW(text, LoadText(IDS_TITLE_LOST).c_str(), static_cast<unsigned>(nodeMonitor.node));
        suffix += L" - ";
        suffix += text;
    }
    const EmergencyLog& log = MasterEmergencyLog();
    if ((nodeMonitor.alerts & AlertEmergency) != 0 && HeldEmergencies(log) != 0) {
        wsprintfW(text, LoadText(IDS_TITLE_EMERGENCY).c_str(), static_cast<unsigned>(nodeMonitor.node),
                  static_cast<unsigned>(NewestEmergency(log, 0).errorCode),
                  static_cast<unsigned>(nodeMonitor.newEmergencies));
        suffix += L" - ";
        suffix += text;
    }
    return suffix;
}

std::wstring EmergencyMeaningText(std::uint16_t errorCode)
{
    std::wstring text = LoadText(EmergencyClassTextId(errorCode));
    if (const std::uint32_t named = EmergencyCodeTextId(errorCode)) {
        text += L": ";
        text += LoadText(named);
    }
    return text;
}

std::wstring ErrorRegisterText(std::uint8_t errorRegister)
{
    std::wstring text = Hex(errorRegister, 2);
    text += L": ";
    if (errorRegister == 0)
        return text + LoadText(IDS_MON_NO_REGISTER_BITS);
    bool first = true;
    for (std::uint32_t bit = 0; bit < kErrorRegisterBits; ++bit) {
        if ((errorRegister & (1u << bit)) == 0)
            continue;
        if (!first)
            text += L", ";
        text += LoadText(IDS_ERROR_REG_FIRST + bit);
        first = false;
    }
    return text;
}
