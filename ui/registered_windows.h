// What the shell takes from the user interface: the dialog procedures it registers, the
// windows' part of the master's operations, and the windows' reset.
#pragma once

#include <windows.h>

#include <cstdint>

#include "dictionary_window.h"
#include "lss_window.h"
#include "main_window.h"
#include "node_monitor_window.h"
#include "object_dialogs.h"

INT_PTR CALLBACK MainDlgProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK ReadObjectDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK WriteObjectDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK DictionaryDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK NodeMonitorDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// The windows' part of the master's operations, beside the indicator, the freeze box,
// the address field, the menu state (main_window.h), the read result (object_dialogs.h),
// the dictionary's entries and its file dialog (dictionary_window.h): both process-data
// lists from the process image, and the Search Slaves list.
int ShowBothPdoLists(HWND window, bool force);
int ShowSearchList(HWND dialog);

// The windows' own state back to program start: the list shadows and the object
// dialogs' memory.
void ResetWindowState();
