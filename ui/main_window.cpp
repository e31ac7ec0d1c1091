#include "main_window.h"

#include <cstdint>
#include <cstdio>
#include <cwchar>

#include "app.h"
#include "bus_open.h"
#include "comm_state.h"
#include "communication.h"
#include "dictionary_window.h"
#include "help.h"
#include "master_start.h"
#include "lss_window.h"
#include "node_monitor_window.h"
#include "pdo_lists.h"
#include "process_image.h"
#include "resource.h"
#include "resource_language.h"
#include "search_dialog.h"
#include "slave_dictionary.h"
#include "settings.h"

namespace {

constexpr int kBitCount = 8;     // bit box i is IDC_BIT0 + i, labelled by string IDS_BIT0 + i
constexpr int kTitleSize = 100;  // the caption holds at most 99 characters
constexpr wchar_t kFallbackTitle[] = L"Velomar";
constexpr int kOutputByteTextSize = 100;  // field 1004 is read up to 99 characters
constexpr std::uint32_t kLargestByte = 0xFF;
constexpr wchar_t kUsbPortName[] = L"USB";

// The inputs the input list shows; an empty table while there is no process image.
const EntryList& InputEntries()
{
    static const EntryList noEntries{};
    return processImage != nullptr ? processImage->inputs : noEntries;
}

// The OutputTable index that the selected line of the output list shows, or -1 when no
// line is selected or the line is a separator.
int SelectedOutputIndex(HWND window)
{
    HWND list = GetDlgItem(window, IDC_OUTPUT_LIST);
    const LRESULT line = SendMessageW(list, LB_GETCURSEL, 0, 0);
    if (line == LB_ERR)
        return -1;
    const LRESULT data = SendMessageW(list, LB_GETITEMDATA, static_cast<WPARAM>(line), 0);
    if (data < 0 || data >= static_cast<LRESULT>(kEntryCount))
        return -1;
    return static_cast<int>(data);
}

bool FocusIsOn(HWND window, int controlId)
{
    HWND focus = GetFocus();
    return focus != nullptr && focus == GetDlgItem(window, controlId);
}

void MoveFocusTo(HWND window, int controlId)
{
    SendMessageW(window, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(window, controlId)), TRUE);
}

void CheckBox(HWND window, int controlId, bool on)
{
    CheckDlgButton(window, controlId, on ? BST_CHECKED : BST_UNCHECKED);
}

// The modal Search Slaves dialog (109); it may change CurrAdr.
void RunSearchSlavesDialog(HWND owner)
{
    RunDialogInLanguage(IDD_SEARCH_SLAVES, owner, SearchSlavesDlgProc, 0);
}

// Field 1004 reports losing the focus while ApplyOutputByteText itself moves the focus
// away (UpdateOutputEditors); the text must not be applied again from inside.
bool applyingOutputByte = false;

// --- Window operations ----------------------------------------------------------------

void SetMainTitle(HWND window)
{
    wchar_t title[kTitleSize];
    if (LoadStringInLanguage(IDS_TITLE, title, kTitleSize) == 0)
        std::swprintf(title, kTitleSize, L"%ls", kFallbackTitle);
    // What the node monitor saw and the operator has not: a lost heartbeat, a new
    // emergency, in the title, where it shows whichever window is open.
    const std::wstring alerts = MonitorAlertText();
    std::wcsncat(title, alerts.c_str(), kTitleSize - std::wcslen(title) - 1);
    SetWindowTextW(window, title);
}

void UpdateOutputEditors(HWND window)
{
    // The editors serve only a selected line that shows an output data byte.
    const int index = SelectedOutputIndex(window);
    const bool editable = index >= 0 && OutputTable[static_cast<std::size_t>(index)].kind == EntryData;
    // A control disabled while it has the focus leaves the keyboard nowhere: the focus
    // goes to the output list first.
    if (!editable) {
        bool focusInEditors = FocusIsOn(window, IDC_OUTPUT_BYTE);
        for (int i = 0; i < kBitCount && !focusInEditors; ++i)
            focusInEditors = FocusIsOn(window, IDC_BIT0 + i);
        if (focusInEditors)
            MoveFocusTo(window, IDC_OUTPUT_LIST);
    }
    EnableWindow(GetDlgItem(window, IDC_OUTPUT_BYTE), editable);
    for (int i = 0; i < kBitCount; ++i)
        EnableWindow(GetDlgItem(window, IDC_BIT0 + i), editable);
}

void ShowOutputByte(HWND window, std::uint32_t value, EntryKind kind)
{
    const bool data = kind == EntryData;
    // The bit boxes and the hex field; anything but a data byte shows as 0.
    for (int i = 0; i < kBitCount; ++i)
        CheckBox(window, IDC_BIT0 + i, data && ((value >> i) & 1u) != 0);
    wchar_t text[8];
    std::swprintf(text, sizeof text / sizeof text[0], L"%02lX",
                  data ? static_cast<unsigned long>(value & kLargestByte) : 0ul);
    SetDlgItemTextW(window, IDC_OUTPUT_BYTE, text);
    UpdateOutputEditors(window);
}

std::uint32_t ReadBitBoxes(HWND window, EntryKind kind)
{
    std::uint32_t value = 0;
    for (int i = 0; i < kBitCount; ++i)
        if (IsDlgButtonChecked(window, IDC_BIT0 + i) == BST_CHECKED)
            value |= 1u << i;
    ShowOutputByte(window, value, kind);
    return value;
}

int ApplyOutputByteText(HWND window)
{
    if (applyingOutputByte)
        return 0;
    applyingOutputByte = true;

    int applied = 0;
    // No output byte selected: nothing to apply, the editors are cleared.
    const int index = SelectedOutputIndex(window);
    if (index < 0 || OutputTable[static_cast<std::size_t>(index)].kind == EntryEnd) {
        ShowOutputByte(window, 0, EntryEnd);
    } else {
        // The "%lX" conversion: leading white space, an optional sign and 0x prefix,
        // hex digits up to the first other character.
        PdoEntry& entry = OutputTable[static_cast<std::size_t>(index)];
        const std::uint32_t old = entry.value;
        wchar_t text[kOutputByteTextSize] = L"";
        GetDlgItemTextW(window, IDC_OUTPUT_BYTE, text, kOutputByteTextSize);
        wchar_t* end = nullptr;
        const unsigned long number = std::wcstoul(text, &end, 16);
        if (end == text || entry.kind != EntryData || number > kLargestByte) {
            ShowOutputByte(window, old, entry.kind);
        } else {
            // An unchanged byte leaves the text as typed.
            if (number != old) {
                entry.value = static_cast<std::uint32_t>(number);
                ShowOutputByte(window, entry.value, EntryData);
            }
            // The output list shows the byte at once, whether or not the exchange runs.
            RefreshPdoLists(window, InputEntries(), false);
            UpdateOutputEditors(window);
            applied = 1;
        }
    }

    applyingOutputByte = false;
    return applied;
}

void InitMainControls(HWND window)
{
    // The USB adapter is the only port offered.
    HWND ports = GetDlgItem(window, IDC_PORT);
    SendMessageW(ports, CB_RESETCONTENT, 0, 0);
    const LRESULT usb = SendMessageW(ports, CB_ADDSTRING, 0, PointerToLParam(kUsbPortName));
    if (usb >= 0)
        SendMessageW(ports, CB_SETITEMDATA, static_cast<WPARAM>(usb), kPortUsb);
    SendMessageW(ports, CB_SETCURSEL,
                 appSettings.PrinterPort == kPortUsb ? static_cast<WPARAM>(usb) : static_cast<WPARAM>(-1), 0);

    // A Baud outside the table leaves the list without selection.
    HWND rates = GetDlgItem(window, IDC_BAUD);
    SendMessageW(rates, CB_RESETCONTENT, 0, 0);
    for (const BitRateRow& row : BitRateTable) {
        wchar_t text[16];
        std::swprintf(text, sizeof text / sizeof text[0], L"%u kBaud", static_cast<unsigned>(row.kBaud));
        SendMessageW(rates, CB_ADDSTRING, 0, PointerToLParam(text));
    }
    const bool knownRate = appSettings.Baud >= 0 && appSettings.Baud < static_cast<std::int32_t>(BitRateTable.size());
    SendMessageW(rates, CB_SETCURSEL, knownRate ? static_cast<WPARAM>(appSettings.Baud) : static_cast<WPARAM>(-1), 0);

    SetDlgItemInt(window, IDC_ADDRESS, static_cast<UINT>(appSettings.CurrAdr), FALSE);

    // Forced: a list may differ from its table while the shadow matches, as the empty
    // lists of a new window do.
    SyncPdoList(window, IDC_INPUT_LIST, InputEntries(), inputShadow, true);
    SyncPdoList(window, IDC_OUTPUT_LIST, OutputTable, outputShadow, true);

    UpdateOutputEditors(window);
    UpdateCommControls(window);
}

// The Object Dictionary window to the front, or opened by the idle cycle: its reads of
// the slave's identity run outside this handler. A window that shows another slave than
// the current one is filled anew the same way.
void OnObjectDictionary(HWND window)
{
    ValidateSlaveAddress(window);
    if (DictionaryWindow() != nullptr && objectDictionary.node == static_cast<std::uint32_t>(appSettings.CurrAdr))
        OpenDictionaryWindow(window);
    else
        PostDeferredCommand(DeferredOpenDictionary);
}

// The Node Monitor to the front, or opened: it reads nothing from the slave to open.
void OnNodeMonitor(HWND window)
{
    ValidateSlaveAddress(window);
    OpenNodeMonitorWindow(window);
}

// The modal Configure Node (LSS) window, unless the master refuses its services now (it
// says why). Its Close may have made the configured node the current slave, and a bit
// rate set there is the program's own from then on.
void OnConfigureNode(HWND window)
{
    ValidateSlaveAddress(window);
    if (LssAllowed(window) == 0)
        return;
    RunDialogInLanguage(IDD_CONFIGURE_NODE, window, ConfigureNodeDlgProc, 0);
    SetDlgItemInt(window, IDC_ADDRESS, static_cast<UINT>(appSettings.CurrAdr), FALSE);
    const bool knownRate = appSettings.Baud >= 0 && appSettings.Baud < static_cast<std::int32_t>(BitRateTable.size());
    SendDlgItemMessageW(window, IDC_BAUD, CB_SETCURSEL,
                        knownRate ? static_cast<WPARAM>(appSettings.Baud) : static_cast<WPARAM>(-1), 0);
}

// Accelerator commands: 1 when handled.
int HandleAccelerator(HWND window, WORD command)
{
    switch (command) {
    case IDM_APPLY_OUTPUT_BYTE:  // Enter in field 1004
        ApplyOutputByteText(window);
        return 1;
    case IDM_HELP_KEY:  // F1
        ShowHelpContents(window);
        return 1;
    case IDM_FOCUS_MAIN:  // F2
        SetFocus(window);
        return 1;
    case IDM_FOCUS_READ:  // F3
        if (ReadObjectDialog() != nullptr)
            SetFocus(ReadObjectDialog());
        return 1;
    case IDM_FOCUS_WRITE:  // F4
        if (WriteObjectDialog() != nullptr)
            SetFocus(WriteObjectDialog());
        return 1;
    case IDM_OBJECT_DICTIONARY:  // F5
        OnObjectDictionary(window);
        return 1;
    case IDM_NODE_MONITOR:  // F6
        OnNodeMonitor(window);
        return 1;
    case IDM_CONFIGURE_NODE:  // F7
        OnConfigureNode(window);
        return 1;
    default:
        return 0;
    }
}

// --- Menu commands and control notifications -----------------------------------------

void OnExit(HWND window)
{
    SendMessageW(window, WM_CLOSE, 0, 0);
}

void OnReadObject(HWND)
{
    PostDeferredCommand(DeferredOpenRead);
}

void OnWriteObject(HWND)
{
    PostDeferredCommand(DeferredOpenWrite);
}

void OnStop(HWND)
{
    PostDeferredCommand(DeferredStop);
}

void OnSearchSlaves(HWND window)
{
    ValidateSlaveAddress(window);
    if (commState.active != 0)
        return;
    RunSearchSlavesDialog(window);
    SetDlgItemInt(window, IDC_ADDRESS, static_cast<UINT>(appSettings.CurrAdr), FALSE);
}

void OnStart(HWND window)
{
    ValidateSlaveAddress(window);
    HCURSOR previous = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
    StartCommunication(window);
    SetCursor(previous);
    RefreshPdoLists(window, InputEntries(), true);
    UpdateCommControls(window);
}

void OnHelpContents(HWND window)
{
    ShowHelpContents(window);
}

void OnAbout(HWND window)
{
    ShowAboutBox(window);
}

void OnAddressLeft(HWND window)
{
    ValidateSlaveAddress(window);
}

void OnOutputByteLeft(HWND window)
{
    ApplyOutputByteText(window);
}

void OnPortSelected(HWND window)
{
    HWND list = GetDlgItem(window, IDC_PORT);
    const LRESULT item = SendMessageW(list, CB_GETCURSEL, 0, 0);
    const LRESULT value = item == CB_ERR ? CB_ERR : SendMessageW(list, CB_GETITEMDATA, static_cast<WPARAM>(item), 0);
    if (value == CB_ERR) {
        InitMainControls(window);
        return;
    }
    UsePort(static_cast<std::int32_t>(value));
}

void OnBaudSelected(HWND window)
{
    const LRESULT item = SendDlgItemMessageW(window, IDC_BAUD, CB_GETCURSEL, 0, 0);
    if (item == CB_ERR) {
        InitMainControls(window);
        return;
    }
    UseBitRate(static_cast<std::int32_t>(item));
}

void OnOutputSelected(HWND window)
{
    HWND list = GetDlgItem(window, IDC_OUTPUT_LIST);
    const LRESULT line = SendMessageW(list, LB_GETCURSEL, 0, 0);
    if (line == LB_ERR)
        return;
    const LRESULT data = SendMessageW(list, LB_GETITEMDATA, static_cast<WPARAM>(line), 0);
    if (data == LB_ERR)
        return;
    if (data >= 0 && data < static_cast<LRESULT>(kEntryCount))
        ShowOutputByte(window, OutputTable[static_cast<std::size_t>(data)].value,
                       OutputTable[static_cast<std::size_t>(data)].kind);
    else
        ShowOutputByte(window, 0, EntryEnd);  // a separator line
}

void OnBitBox(HWND window)
{
    const int index = SelectedOutputIndex(window);
    if (index < 0 || OutputTable[static_cast<std::size_t>(index)].kind != EntryData)
        return;
    OutputTable[static_cast<std::size_t>(index)].value = ReadBitBoxes(window, EntryData);
    RefreshPdoLists(window, InputEntries(), false);
    UpdateOutputEditors(window);
}

void OnFreeze(HWND window)
{
    FreezeOutputs(IsDlgButtonChecked(window, IDC_FREEZE) == BST_CHECKED);
}

// --- Command dispatch ---------------------------------------------------------------

constexpr WORD kAnyNotification = 0xFFFF;

using CommandHandler = void (*)(HWND window);

// One command ID, or a range of control IDs, and the notification it reacts to.
struct CommandRow {
    WORD firstId;
    WORD lastId;
    WORD notification;  // kAnyNotification: every notification
    CommandHandler handler;
};

constexpr CommandRow kCommandTable[] = {
    {IDCANCEL, IDCANCEL, kAnyNotification, OnExit},  // Esc
    {IDM_EXIT, IDM_EXIT, kAnyNotification, OnExit},
    {IDM_READ_OBJECT, IDM_READ_OBJECT, kAnyNotification, OnReadObject},
    {IDM_WRITE_OBJECT, IDM_WRITE_OBJECT, kAnyNotification, OnWriteObject},
    {IDM_OBJECT_DICTIONARY, IDM_OBJECT_DICTIONARY, kAnyNotification, OnObjectDictionary},
    {IDM_NODE_MONITOR, IDM_NODE_MONITOR, kAnyNotification, OnNodeMonitor},
    {IDM_CONFIGURE_NODE, IDM_CONFIGURE_NODE, kAnyNotification, OnConfigureNode},
    {IDM_STOP, IDM_STOP, kAnyNotification, OnStop},
    {IDM_SEARCH_SLAVES, IDM_SEARCH_SLAVES, kAnyNotification, OnSearchSlaves},
    {IDM_START, IDM_START, kAnyNotification, OnStart},
    {IDM_HELP_CONTENTS, IDM_HELP_CONTENTS, kAnyNotification, OnHelpContents},
    {IDM_ABOUT, IDM_ABOUT, kAnyNotification, OnAbout},
    {IDC_ADDRESS, IDC_ADDRESS, EN_KILLFOCUS, OnAddressLeft},
    {IDC_OUTPUT_BYTE, IDC_OUTPUT_BYTE, EN_KILLFOCUS, OnOutputByteLeft},
    {IDC_PORT, IDC_PORT, CBN_SELCHANGE, OnPortSelected},
    {IDC_BAUD, IDC_BAUD, CBN_SELCHANGE, OnBaudSelected},
    {IDC_OUTPUT_LIST, IDC_OUTPUT_LIST, LBN_SELCHANGE, OnOutputSelected},
    {IDC_BIT0, IDC_BIT7, kAnyNotification, OnBitBox},
    {IDC_FREEZE, IDC_FREEZE, kAnyNotification, OnFreeze},
};

INT_PTR OnCommand(HWND window, WPARAM wParam, LPARAM lParam)
{
    const WORD id = LOWORD(wParam);
    const WORD notification = HIWORD(wParam);
    // From an accelerator: notification 1 and no control.
    if (notification == 1 && lParam == 0)
        return HandleAccelerator(window, id) ? TRUE : FALSE;
    for (const CommandRow& row : kCommandTable) {
        if (id < row.firstId || id > row.lastId)
            continue;
        if (row.notification != kAnyNotification && row.notification != notification)
            return FALSE;
        row.handler(window);
        return TRUE;
    }
    return FALSE;
}

// --- Messages -------------------------------------------------------------------------

INT_PTR OnInitDialog(HWND window)
{
    // The template names no menu, so that menu 104 comes in the selected language too.
    AttachMenuInLanguage(window, IDR_MAIN_MENU);

    // The texts the template does not carry: the maker line and, in the selected
    // language, the bit labels.
    SetDlgItemTextW(window, IDC_MAKER, MakerLine);
    for (int i = 0; i < kBitCount; ++i) {
        wchar_t label[16];
        if (LoadStringInLanguage(IDS_BIT0 + i, label, sizeof label / sizeof label[0]) > 0)
            SetDlgItemTextW(window, IDC_BIT0 + i, label);
    }
    // Controls and indicators from the settings and the master's state; no output byte is
    // selected yet, so the byte editors start empty.
    InitMainControls(window);
    ShowCommIndicator(window, commState.active != 0);
    ShowFreezeBox(window, commState.freezeOutputs != 0);
    UpdateOutputEditors(window);
    ShowOutputByte(window, 0, EntryEnd);
    UpdateCommControls(window);
    CenterOnScreen(window);
    // Idle cycles may act on the window from here on.
    SetWindowReady(true);
    // TRUE: the dialog's default focus handling applies.
    return TRUE;
}

INT_PTR OnClose(HWND window)
{
    ValidateSlaveAddress(window);
    PostDeferredCommand(DeferredClose);
    return TRUE;
}

INT_PTR OnDestroy(HWND)
{
    SetMainWindow(nullptr);
    CloseHelpWindows();
    PostQuitMessage(0);
    SetWindowReady(false);
    return TRUE;
}

}  // namespace

INT_PTR CALLBACK MainDlgProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog(window);
    case WM_COMMAND:
        return OnCommand(window, wParam, lParam);
    case WM_CLOSE:
        return OnClose(window);
    case WM_DESTROY:
        return OnDestroy(window);
    default:
        return FALSE;
    }
}

int ShowCommIndicator(HWND window, bool on)
{
    CheckBox(window, IDC_COMM_ACTIVE, on);
    return 1;
}

int ShowFreezeBox(HWND window, bool on)
{
    CheckBox(window, IDC_FREEZE, on);
    return 1;
}

int ValidateSlaveAddress(HWND window)
{
    BOOL converted = FALSE;
    const UINT number = GetDlgItemInt(window, IDC_ADDRESS, &converted, FALSE);
    if (converted && number <= 127 && UseSlave(static_cast<std::int32_t>(number)) != 0)
        return 1;
    SetDlgItemInt(window, IDC_ADDRESS, static_cast<UINT>(appSettings.CurrAdr), FALSE);
    return 0;
}

int UpdateCommControls(HWND window)
{
    const bool active = commState.active != 0;
    // Port, rate and address stay fixed while communication is on; the focus leaves
    // them before they are disabled.
    if (active && (FocusIsOn(window, IDC_ADDRESS) || FocusIsOn(window, IDC_PORT) || FocusIsOn(window, IDC_BAUD)))
        MoveFocusTo(window, IDC_OUTPUT_LIST);
    // Search Slaves and Start only while stopped, Stop only while communication is on.
    HMENU menu = GetMenu(window);
    const UINT whileStopped = MF_BYCOMMAND | (active ? MF_GRAYED : MF_ENABLED);
    const UINT whileActive = MF_BYCOMMAND | (active ? MF_ENABLED : MF_GRAYED);
    EnableMenuItem(menu, IDM_SEARCH_SLAVES, whileStopped);
    EnableMenuItem(menu, IDM_START, whileStopped);
    EnableMenuItem(menu, IDM_STOP, whileActive);
    EnableWindow(GetDlgItem(window, IDC_PORT), !active);
    EnableWindow(GetDlgItem(window, IDC_BAUD), !active);
    EnableWindow(GetDlgItem(window, IDC_ADDRESS), !active);
    UpdateOutputEditors(window);
    SetMainTitle(window);
    return 1;
}

int ShowMonitorAlerts(HWND window)
{
    SetMainTitle(window);
    return 1;
}
