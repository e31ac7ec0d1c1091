// The Object Dictionary window (dialog 112): the current slave's EDS file as a list with
// the values last read, a filter, Read All, and the way into the object dialogs. Modeless,
// at most one; the shell creates it (OpenDictionaryWindow) and routes its messages.
#pragma once

#include <windows.h>

#include <cstdint>

INT_PTR CALLBACK DictionaryDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Finds the slave's file (reading its identity over the bus) and fills the window. 1 when
// a file is shown.
int LoadDictionary(HWND dialog);

// Read All's report of one entry: its value cell and the progress line. Always 1.
int ShowDictionaryEntry(HWND dialog, std::uint32_t entry, std::uint32_t done, std::uint32_t total);

// The standard file dialog for one EDS or DCF file, opened in the program's eds folder;
// `path` receives UTF-8. 1 when the operator chose a file.
int PickEdsFile(HWND owner, char* path, std::uint32_t size);

// A file of the program's eds folder, through the standard Open or Save As dialog.
struct FilePick {
    HWND owner = nullptr;
    const wchar_t* patterns = L"*.eds";         // "*.eds;*.dcf"
    const wchar_t* proposed = nullptr;          // the name the dialog starts with
    const wchar_t* defaultExtension = nullptr;  // added to a name typed without one
    bool save = false;                          // Save As: asks before replacing a file
};

// `path` receives the chosen file in UTF-8: 1 when the operator chose one.
int PickFileInEdsFolder(const FilePick& pick, char* path, std::uint32_t size);

// True while Read All runs in the window.
bool DictionaryReading();
