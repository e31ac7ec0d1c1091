// Help and the About box, as the main window reaches them.
//
// The HTML Help viewer and the About dialog are not part of the program yet: these
// entry points are in place and do nothing.
#pragma once

#include <windows.h>

// Opens the table of contents of "tovral.chm" for `window` (menu Help > Contents, F1).
int ShowHelpContents(HWND window);

// Closes every help window the program opened (the main window is going away).
int CloseHelpWindows();

// Shows the About box (dialog 108) modally over `owner`.
int ShowAboutBox(HWND owner);
