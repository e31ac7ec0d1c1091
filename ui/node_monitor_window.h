// The Node Monitor window (dialog 113): the current slave's NMT state in large type, its
// heartbeat or guarding, the NMT commands, the emergencies it sent and its error history.
// Modeless, at most one; the shell creates it (OpenNodeMonitorWindow) and routes its
// messages. The master's record (node_monitor.h) is what it shows.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

INT_PTR CALLBACK NodeMonitorDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// The master's operation: the monitor's record changed. Shows it in the window, if open,
// and the alerts in the main window's title. Always 1.
int ShowNodeStatus(HWND window);

// The main window's title suffix for the alerts not yet seen ("" for none).
std::wstring MonitorAlertText();

// How an emergency reads in the window's cells (shared with the tests).
std::wstring EmergencyMeaningText(std::uint16_t errorCode);
std::wstring ErrorRegisterText(std::uint8_t errorRegister);
