// The main window (dialog 101): the operator's console.
#pragma once

#include <windows.h>

INT_PTR CALLBACK MainDlgProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Sets CommState's active flag and the indicator 1023.
int SetCommActive(HWND window, bool on);

// Sets CommState's freezeOutputs flag and box 1029.
int SetFreezeOutputs(HWND window, bool on);

// Takes field 1000 into CurrAdr when it holds 1 to 127, else shows CurrAdr again.
int ValidateSlaveAddress(HWND window);

// Enables menu items and controls by the communication state.
int UpdateCommControls(HWND window);
