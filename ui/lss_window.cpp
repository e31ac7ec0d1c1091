#include "lss_window.h"

#include <cstdint>
#include <cwchar>

#include "app.h"
#include "bus_open.h"
#include "resource.h"
#include "resource_language.h"
#include "settings.h"

namespace {

constexpr int kTextSize = 256;

LssFindResult listed{};
HWND openWindow = nullptr;  // the window while it is open: the find's reports go to it

// The object dialogs, the Object Dictionary and the Node Monitor are modeless windows the
// modal one leaves enabled; their services would meet the session on the bus.
void EnableObjectDialogs(BOOL enable)
{
    for (HWND window : {ReadObjectDialog(), WriteObjectDialog(), DictionaryWindow(), NodeMonitorWindow()})
        if (window != nullptr)
            EnableWindow(window, enable);
}

void SetControlText(HWND dialog, int id, UINT stringId)
{
    wchar_t text[kTextSize];
    if (LoadStringInLanguage(stringId, text, kTextSize) > 0)
        SetDlgItemTextW(dialog, id, text);
}

// The status line: string `stringId` with up to three numbers in its conversions.
void ShowStatus(HWND dialog, UINT stringId, std::uint32_t a = 0, std::uint32_t b = 0, std::uint32_t c = 0)
{
    wchar_t format[kTextSize];
    wchar_t text[kTextSize];
    if (LoadStringInLanguage(stringId, format, kTextSize) <= 0)
        return;
    wsprintfW(text, format, static_cast<unsigned>(a), static_cast<unsigned>(b), static_cast<unsigned>(c));
    SetDlgItemTextW(dialog, IDC_LSS_STATUS, text);
}

void ShowResult(HWND dialog, const LssResult& result, std::uint32_t value)
{
    const LssResultText text = DescribeLssResult(result, value);
    ShowStatus(dialog, text.stringId, text.number);
}

void FillDeviceList(HWND dialog)
{
    HWND list = GetDlgItem(dialog, IDC_LSS_LIST);
    const LRESULT selected = SendMessageW(list, LB_GETCURSEL, 0, 0);
    SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    SendMessageW(list, LB_RESETCONTENT, 0, 0);
    wchar_t nodeFormat[32] = L"";
    LoadStringInLanguage(IDS_LSS_DEVICE_NODE, nodeFormat, 32);
    for (std::uint32_t i = 0; i < listed.count; ++i) {
        const LssDevice& device = listed.devices[i];
        wchar_t line[96];
        int used =
            wsprintfW(line, L"%08X\t%08X\t%08X\t%08X", static_cast<unsigned>(device.identity.vendor),
                      static_cast<unsigned>(device.identity.product), static_cast<unsigned>(device.identity.revision),
                      static_cast<unsigned>(device.identity.serial));
        if (device.nodeId != kLssNoNodeId) {
            line[used++] = L'\t';
            wsprintfW(line + used, nodeFormat, static_cast<unsigned>(device.nodeId));
        }
        const LRESULT added = SendMessageW(list, LB_ADDSTRING, 0, PointerToLParam(line));
        if (added >= 0)
            SendMessageW(list, LB_SETITEMDATA, static_cast<WPARAM>(added), static_cast<LPARAM>(i));
    }
    SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(selected), 0);
    SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, nullptr, TRUE);
}

// The device of the selected line; nullptr (and a word in the status line) for none.
const LssDevice* SelectedDevice(HWND dialog)
{
    const LRESULT line = SendDlgItemMessageW(dialog, IDC_LSS_LIST, LB_GETCURSEL, 0, 0);
    const LRESULT index = line == LB_ERR
                              ? LB_ERR
                              : SendDlgItemMessageW(dialog, IDC_LSS_LIST, LB_GETITEMDATA, static_cast<WPARAM>(line), 0);
    if (index < 0 || static_cast<std::uint32_t>(index) >= listed.count) {
        ShowStatus(dialog, IDS_LSS_SELECT_DEVICE);
        return nullptr;
    }
    return &listed.devices[static_cast<std::size_t>(index)];
}

INT_PTR OnInitDialog(HWND dialog)
{
    openWindow = dialog;
    listed = LssFindResult{};
    EnableObjectDialogs(FALSE);
    // Four columns of eight hex digits (tab stops in dialog units).
    int stops[] = {48, 96, 144, 192};
    SendDlgItemMessageW(dialog, IDC_LSS_LIST, LB_SETTABSTOPS, 4, PointerToLParam(stops));
    // The bit rates as the main window lists them, the program's own selected.
    HWND rates = GetDlgItem(dialog, IDC_LSS_BIT_RATE);
    for (const BitRateRow& row : BitRateTable) {
        wchar_t text[16];
        wsprintfW(text, L"%u kBaud", static_cast<unsigned>(row.kBaud));
        SendMessageW(rates, CB_ADDSTRING, 0, PointerToLParam(text));
    }
    SendMessageW(rates, CB_SETCURSEL, static_cast<WPARAM>(appSettings.Baud), 0);
    SendDlgItemMessageW(dialog, IDC_LSS_NODE_ID, EM_LIMITTEXT, 3, 0);
    CenterOverWindow(MainWindow(), dialog);
    return TRUE;
}

void OnFind(HWND dialog)
{
    if (lssSession.finding != 0) {
        AbortLssFind();
        return;
    }
    SetControlText(dialog, IDC_LSS_FIND, IDS_BUTTON_ABORT);
    // The find passes messages on between its steps, this button's Abort among them.
    const int ran = LssFind(dialog, listed);
    SetControlText(dialog, IDC_LSS_FIND, IDS_BUTTON_FIND);
    FillDeviceList(dialog);
    if (ran == 0)
        return;
    if (listed.count > 0)
        SendDlgItemMessageW(dialog, IDC_LSS_LIST, LB_SETCURSEL, 0, 0);
    if (listed.aborted != 0)
        ShowStatus(dialog, IDS_LSS_FIND_ABORTED, listed.count);
    else if (listed.failed != 0)
        ShowStatus(dialog, IDS_LSS_FIND_FAILED, listed.count);
    else if (listed.inquired != 0)
        ShowStatus(dialog, IDS_LSS_INQUIRED);
    else if (listed.count == 0)
        ShowStatus(dialog, IDS_LSS_NONE_FOUND);
    else
        ShowStatus(dialog, IDS_LSS_FOUND, listed.count);
}

void OnSetNodeId(HWND dialog)
{
    const LssDevice* device = SelectedDevice(dialog);
    if (device == nullptr)
        return;
    BOOL converted = FALSE;
    const UINT node = GetDlgItemInt(dialog, IDC_LSS_NODE_ID, &converted, FALSE);
    if (!converted || node < 1 || node > 127) {
        ShowStatus(dialog, IDS_LSS_BAD_NODE_ID);
        return;
    }
    LssResult result{};
    if (LssSetNodeId(dialog, device->identity, static_cast<std::uint8_t>(node), result) != 0)
        ShowResult(dialog, result, node);
}

void OnSetBitRate(HWND dialog)
{
    const LssDevice* device = SelectedDevice(dialog);
    if (device == nullptr)
        return;
    const LRESULT item = SendDlgItemMessageW(dialog, IDC_LSS_BIT_RATE, CB_GETCURSEL, 0, 0);
    if (item < 0 || item >= static_cast<LRESULT>(BitRateTable.size()))
        return;
    const std::int32_t baud = static_cast<std::int32_t>(item);
    const std::uint32_t kbit = BitRateTable[static_cast<std::size_t>(baud)].kBaud;
    if (LssTableIndexOfBaud(baud) == 0xFF) {
        ShowStatus(dialog, IDS_LSS_RATE_NOT_IN_TABLE, kbit);
        return;
    }
    LssResult result{};
    if (LssSetBitRate(dialog, device->identity, baud, result) != 0)
        ShowResult(dialog, result, kbit);
}

void OnStore(HWND dialog)
{
    const LssDevice* device = SelectedDevice(dialog);
    if (device == nullptr)
        return;
    LssResult result{};
    if (LssStore(dialog, device->identity, result) != 0)
        ShowResult(dialog, result, 0);
}

INT_PTR OnCommand(HWND dialog, WORD id)
{
    // While a find runs, only its Abort (and Close, which asks for it) are taken: the
    // others would start a service in the middle of it.
    const bool finding = lssSession.finding != 0;
    switch (id) {
    case IDC_LSS_FIND:
        OnFind(dialog);
        return TRUE;
    case IDC_LSS_SET_NODE:
        if (!finding)
            OnSetNodeId(dialog);
        return TRUE;
    case IDC_LSS_SET_RATE:
        if (!finding)
            OnSetBitRate(dialog);
        return TRUE;
    case IDC_LSS_STORE:
        if (!finding)
            OnStore(dialog);
        return TRUE;
    case IDCANCEL:
        if (finding) {
            AbortLssFind();
            return TRUE;
        }
        EndDialog(dialog, LssFinish(dialog));
        return TRUE;
    default:
        return FALSE;
    }
}

}  // namespace

INT_PTR CALLBACK ConfigureNodeDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog(dialog);
    case WM_COMMAND:
        return OnCommand(dialog, LOWORD(wParam));
    case WM_DESTROY:
        openWindow = nullptr;
        EnableObjectDialogs(TRUE);
        return FALSE;
    default:
        return FALSE;
    }
}

int ShowLssProgress(HWND dialog)
{
    if (dialog == nullptr || dialog != openWindow)
        return 1;
    // The list changes only when a device is found; the step moves far more often.
    if (SendDlgItemMessageW(dialog, IDC_LSS_LIST, LB_GETCOUNT, 0, 0) != static_cast<LRESULT>(listed.count))
        FillDeviceList(dialog);
    if (lssSession.finding != 0)
        ShowStatus(dialog, IDS_LSS_FINDING, listed.count, listed.steps, kFastscanSteps);
    return 1;
}

const LssFindResult& LssDevicesListed()
{
    return listed;
}
