// The main window (dialog 101): the operator's console.
#pragma once

#include <windows.h>

INT_PTR CALLBACK MainDlgProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The indicator 1023 and the box 1029 show the master's active and freezeOutputs flags.
int ShowCommIndicator(HWND window, bool on);
int ShowFreezeBox(HWND window, bool on);

// Hands field 1000 to UseSlave when it holds 1 to 127, else shows CurrAdr again.
int ValidateSlaveAddress(HWND window);

// Enables menu items and controls by the communication state.
int UpdateCommControls(HWND window);

// The title again, with the node monitor's alerts the operator has not seen.
int ShowMonitorAlerts(HWND window);
