// Resources in the language chosen at start-up.
//
// Every dialog, menu, accelerator table and string of the program is loaded here, by
// explicit language identifier. Windows since Vista picks resources by the user's UI
// language and ignores the thread locale, so the ordinary loaders (CreateDialog,
// LoadMenu, LoadAccelerators, LoadString) would not follow the settings file. A resource
// missing in the selected language is taken in English (United States).
#pragma once

#include <windows.h>

// The language the resources fall back to, and the default of the settings file.
constexpr LANGID kFallbackLanguage = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

// Chooses the resource language for `wanted`: the identifier itself when the program
// has resources in it, else the same primary language with its default sub-language,
// else English (United States). Returns the language chosen.
LANGID SetResourceLanguage(LANGID wanted);

// Modeless dialog from template `templateId`; nullptr when it cannot be created.
HWND CreateDialogInLanguage(UINT templateId, HWND parent, DLGPROC procedure, LPARAM parameter);

// Modal dialog from template `templateId`; -1 when it cannot be shown.
INT_PTR RunDialogInLanguage(UINT templateId, HWND owner, DLGPROC procedure, LPARAM parameter);

// Menu `menuId`; nullptr when missing.
HMENU LoadMenuInLanguage(UINT menuId);

// Gives `window` menu `menuId` and lets the window grow by the menu bar's height, so its
// client area keeps the size its template laid out. 1 when the menu is attached.
int AttachMenuInLanguage(HWND window, UINT menuId);

// Accelerator table `tableId`; nullptr when missing. Destroy with DestroyAcceleratorTable.
HACCEL LoadAcceleratorsInLanguage(UINT tableId);

// Copies string `stringId`, cut to size - 1 characters, into `buffer` and terminates it.
// Returns the number of characters copied; 0 when the string is missing or empty (the
// buffer then holds an empty string).
int LoadStringInLanguage(UINT stringId, wchar_t* buffer, int size);
