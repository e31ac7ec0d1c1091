// Message boxes: every text comes from the string table in the selected language, under
// the caption of string 1000.
#pragma once

#include <windows.h>

// Warning with an OK button and the exclamation icon. Always 1.
int ShowStringMessage(HWND owner, UINT stringId);

// A message in the caller's style with up to three "%s" arguments (nullptr counts as
// empty); returns the button pressed, 0 when no box could be shown.
int ShowFormatMessage(HWND owner, UINT style, UINT stringId, const wchar_t* argument1, const wchar_t* argument2,
                      const wchar_t* argument3);
