// The program's entry point.
#include <windows.h>

#include "app.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPWSTR /*commandLine*/, int showCommand)
{
    // 1. Only one copy runs: bring the running one, and its open pop-up, to the front.
    HWND running = FindWindowW(MainClassName, nullptr);
    if (running != nullptr) {
        HWND popup = GetLastActivePopup(running);
        SetForegroundWindow(running);
        if (popup != running)
            BringWindowToTop(popup);
        return 0;
    }
    // 2, 3
    if (!RegisterMainClass(instance))
        return 0;
    if (!InitApplication(instance, showCommand))
        return 0;
    // 4, 5
    const int exitCode = RunMainLoop();
    CleanupApplication();
    return exitCode;
}
