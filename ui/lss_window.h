// The Configure Node (LSS) window (114): a modal dialog over the main window that finds
// the devices without a node-ID, gives the one selected a node-ID and a bit rate, stores
// them, and on Close hands the device over as a node (lss_service.h).
#pragma once

#include <windows.h>

#include "lss_service.h"

INT_PTR CALLBACK ConfigureNodeDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// The find's progress, for the master's showLssProgress: the list and the status line of
// the open window. Always 1.
int ShowLssProgress(HWND dialog);

// What the last find in the window listed.
const LssFindResult& LssDevicesListed();
