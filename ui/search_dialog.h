// The Search Slaves dialog (109): runs the slave search and lets the operator pick a node.
#pragma once

#include <windows.h>

constexpr int kSlaveListId = 1032;

INT_PTR CALLBACK SearchSlavesDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Rebuilds the list from SlaveScanTable: "%u" for a node that answered, "(%u)" for one
// that did not, item data the node ID.
int FillSlaveList(HWND dialog, int listId);

// Stores the node of the selected line in CurrAdr; 0 when no line is selected.
int TakeSelectedSlave(HWND dialog);
