// What the shell takes from the user interface: the dialog procedures it registers, the
// windows' part of the master's operations, and the windows' reset.
#pragma once

#include <windows.h>

#include "operator_side.h"

INT_PTR CALLBACK MainDlgProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK ReadObjectDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK WriteObjectDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK DictionaryDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Fills the operations the windows carry out: the indicator and freeze box, the address
// field, the menu state, the process-data lists, the read result, the search's list.
void FillWindowOperations(OperatorOps& ops);

// The windows' own state back to program start: the list shadows and the object
// dialogs' memory.
void ResetWindowState();
