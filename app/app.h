// The application shell: start-up and shutdown, the main loop, handles, message
// routing, the object dialogs' lifetime and window centring.
#pragma once

#include <windows.h>

// Class of the main window; a running copy of the program is found by it.
inline constexpr wchar_t MainClassName[] = L"Tovral";

// The maker's name line of the main window and the About box.
inline constexpr wchar_t MakerLine[] = L"Velomar Commissioning Tools";

HINSTANCE AppInstance();

// The main window, or nullptr before it is created and after it is destroyed.
HWND MainWindow();
void SetMainWindow(HWND window);

// The open Read Object and Write Object dialogs, or nullptr; each dialog clears its own
// handle when it is destroyed.
HWND ReadObjectDialog();
void SetReadObjectDialog(HWND dialog);
HWND WriteObjectDialog();
void SetWriteObjectDialog(HWND dialog);

// The open Object Dictionary window (dialog 112), or nullptr; cleared by its destruction.
HWND DictionaryWindow();
void SetDictionaryWindow(HWND dialog);

// The open Node Monitor window (dialog 113), or nullptr; cleared by its destruction.
HWND NodeMonitorWindow();
void SetNodeMonitorWindow(HWND dialog);

// The folder the Object Dictionary looks for EDS files in (UTF-8): "eds" beside the
// executable, built at start-up. SetEdsFolder points it elsewhere.
const char* EdsFolder();
void SetEdsFolder(const char* folder);

// Icon 103 as loaded at start-up (drawn by the About box); nullptr when it is missing.
HICON AppIcon();

// The files beside the executable, built at start-up: "tovral.log" and "tovral.chm".
const wchar_t* TracePath();
const wchar_t* HelpPath();

// The window class "Tovral": the platform's dialog class under our name, with icon 103.
// Non-zero when registered.
ATOM RegisterMainClass(HINSTANCE instance);

// Sets up the whole program and shows the main window. Non-zero on success; 0 when a
// step failed (it has reported and cleaned up).
int InitApplication(HINSTANCE instance, int showCommand);

// Runs until the quit message; returns its exit code.
int RunMainLoop();

// Releases what start-up acquired. Always 1.
int CleanupApplication();

// Accelerators, dialog navigation, else translate and dispatch. Always 1.
int RouteMessage(MSG* message);

// RouteMessage: the value of MessageHook.
int PumpMessage(MSG* message);

// At most one object dialog exists: opening one closes the other.
int OpenReadObjectDialog(HWND parent);
int OpenWriteObjectDialog(HWND parent);
// Closes both object dialogs, the Object Dictionary and the Node Monitor (the close
// sequence).
int CloseObjectDialogs();

// Brings the Object Dictionary window to the front, or opens it and fills it from the
// slave's EDS file (reading the slave's identity). The deferred command's operation.
int OpenDictionaryWindow(HWND parent);
// Brings the Node Monitor window to the front, or opens it.
int OpenNodeMonitorWindow(HWND parent);

int CenterOnScreen(HWND window);
int CenterOverWindow(HWND reference, HWND window);

// Casts between message parameters and pointers, kept in one place.
template <typename T>
LPARAM PointerToLParam(T* pointer)
{
    return reinterpret_cast<LPARAM>(pointer);
}
template <typename T>
T* LParamToPointer(LPARAM value)
{
    return reinterpret_cast<T*>(value);
}
