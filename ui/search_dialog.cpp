#include "search_dialog.h"

#include <cstdint>
#include <cwchar>
#include <iterator>

#include "app.h"
#include "messages.h"
#include "resource.h"
#include "resource_language.h"
#include "master_start.h"
#include "settings.h"
#include "slave_search.h"

static_assert(kSlaveListId == IDC_SLAVE_LIST, "ScanSlaves refreshes the dialog's list");

namespace {

constexpr int kColumnWidthPixels = 40;
constexpr int kButtonTextSize = 30;  // button 1 takes at most 29 characters

void SetButtonText(HWND dialog, UINT stringId)
{
    wchar_t text[kButtonTextSize];
    if (LoadStringInLanguage(stringId, text, kButtonTextSize) > 0)
        SetDlgItemTextW(dialog, IDOK, text);
}

// The object dialogs and the Object Dictionary are modeless windows of their own, which
// a modal dialog over the main window leaves enabled. A Read, Write or Read All pressed
// during the search would open the bus a second time in the middle of it: they stay out
// of reach while this dialog is open (the master refuses such reads as well).
void EnableObjectDialogs(BOOL enable)
{
    for (HWND window : {ReadObjectDialog(), WriteObjectDialog(), DictionaryWindow(), NodeMonitorWindow()})
        if (window != nullptr)
            EnableWindow(window, enable);
}

INT_PTR OnInitDialog(HWND dialog)
{
    EnableObjectDialogs(FALSE);
    // Nothing scanned yet, so the list starts empty; button 1 reads Abort until the
    // search ends.
    PrepareSlaveSearch();
    FillSlaveList(dialog, kSlaveListId);
    CenterOverWindow(MainWindow(), dialog);
    SetButtonText(dialog, IDS_BUTTON_ABORT);
    // No timer is created: the search starts with this message, once the dialog is up.
    PostMessageW(dialog, WM_TIMER, 0, 0);
    return TRUE;
}

// The line of the lowest node that answered is selected; none when no node answered.
void SelectFirstAnsweringNode(HWND dialog)
{
    WPARAM line = 0;
    for (std::size_t node = 1; node < SlaveScanTable.size(); ++node) {
        if (SlaveScanTable[node] == ScanAnswered) {
            SendDlgItemMessageW(dialog, kSlaveListId, LB_SETCURSEL, line, 0);
            return;
        }
        if (SlaveScanTable[node] != ScanNotScanned)
            ++line;
    }
}

INT_PTR OnTimer(HWND dialog)
{
    if (scanRunning == 1)
        return FALSE;
    // The whole search runs here, passing messages on between nodes (hence the guard
    // above); the list grows node by node.
    ScanSlaves(dialog);
    // No slave found and the operator did not abort: the dialog says so and closes.
    if (slaveFound == 0 && scanAbort == 0) {
        ShowStringMessage(dialog, IDS_NO_SLAVE_FOUND);
        EndDialog(dialog, 1);
        return TRUE;
    }
    // Button 1 now takes the selection.
    SetButtonText(dialog, IDS_BUTTON_OK);
    SelectFirstAnsweringNode(dialog);
    return TRUE;
}

// Button 1 reads Abort during the search and OK afterwards; Cancel (2) is Escape and
// the close box. During the search both only ask it to stop.
INT_PTR OnCommand(HWND dialog, WORD id, WORD notification)
{
    switch (id) {
    case IDOK:
        AbortSlaveSearch();
        if (scanRunning == 1)
            return FALSE;
        TakeSelectedSlave(dialog);
        EndDialog(dialog, 1);
        return TRUE;
    case IDCANCEL:
        AbortSlaveSearch();
        if (scanRunning == 1)
            return FALSE;
        EndDialog(dialog, 0);
        return TRUE;
    case kSlaveListId:
        if (notification != LBN_DBLCLK)
            return TRUE;
        if (scanRunning == 1)
            return FALSE;
        TakeSelectedSlave(dialog);
        EndDialog(dialog, 1);
        return TRUE;
    default:
        return FALSE;
    }
}

}  // namespace

INT_PTR CALLBACK SearchSlavesDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog(dialog);
    case WM_TIMER:
        return OnTimer(dialog);
    case WM_COMMAND:
        return OnCommand(dialog, LOWORD(wParam), HIWORD(wParam));
    case WM_DESTROY:
        EnableObjectDialogs(TRUE);
        return FALSE;
    default:
        return FALSE;
    }
}

int FillSlaveList(HWND dialog, int listId)
{
    HWND list = GetDlgItem(dialog, listId);
    // No repainting while the list is rebuilt; its selection and scroll position are put
    // back afterwards.
    SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    const LRESULT selected = SendMessageW(list, LB_GETCURSEL, 0, 0);
    const LRESULT top = SendMessageW(list, LB_GETTOPINDEX, 0, 0);
    SendMessageW(list, LB_RESETCONTENT, 0, 0);
    SendMessageW(list, LB_SETCOLUMNWIDTH, kColumnWidthPixels, 0);
    // Only the nodes scanned so far have a line.
    for (std::size_t node = 0; node < SlaveScanTable.size(); ++node) {
        const std::uint8_t result = SlaveScanTable[node];
        if (result != ScanAnswered && result != ScanNoAnswer)
            continue;
        wchar_t line[8];
        std::swprintf(line, std::size(line), result == ScanAnswered ? L"%u" : L"(%u)", static_cast<unsigned>(node));
        const LRESULT added = SendMessageW(list, LB_ADDSTRING, 0, PointerToLParam(line));
        if (added >= 0)
            SendMessageW(list, LB_SETITEMDATA, static_cast<WPARAM>(added), static_cast<LPARAM>(node));
    }
    // By position: the same line index, whichever node it now shows.
    SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(selected), 0);
    SendMessageW(list, LB_SETTOPINDEX, static_cast<WPARAM>(top), 0);
    // The list does not repaint by itself when redrawing comes back on.
    SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, nullptr, TRUE);
    return 1;
}

int TakeSelectedSlave(HWND dialog)
{
    const LRESULT line = SendDlgItemMessageW(dialog, kSlaveListId, LB_GETCURSEL, 0, 0);
    if (line == LB_ERR)
        return 0;
    const LRESULT node = SendDlgItemMessageW(dialog, kSlaveListId, LB_GETITEMDATA, static_cast<WPARAM>(line), 0);
    if (node < 1 || node > 127)
        return 0;
    return UseSlave(static_cast<std::int32_t>(node));
}
