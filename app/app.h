// The application shell: handles, message routing, the object dialogs' lifetime and
// window centring.
#pragma once

#include <windows.h>

HINSTANCE AppInstance();

// The main window, or nullptr before it is created and after it is destroyed.
HWND MainWindow();
void SetMainWindow(HWND window);

// Accelerators, dialog navigation, else translate and dispatch. Always 1.
int RouteMessage(MSG* message);

// RouteMessage: the value of MessageHook.
int PumpMessage(MSG* message);

// At most one object dialog exists: opening one closes the other.
int OpenReadObjectDialog(HWND parent);
int OpenWriteObjectDialog(HWND parent);
int CloseObjectDialogs();

int CenterOnScreen(HWND window);
int CenterOverWindow(HWND reference, HWND window);
