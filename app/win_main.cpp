// The program's entry point.
#include <windows.h>

#include "app.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPWSTR /*commandLine*/, int showCommand)
{
    // Only one copy runs: bring the running one, and its open pop-up, to the front.
    HWND running = FindWindowW(MainClassName, nullptr);
    if (running != nullptr) {
        HWND popup = GetLastActivePopup(running);
        SetForegroundWindow(running);
        if (popup != running)
            BringWindowToTop(popup);
        return 0;
    }
    if (!RegisterMainClass(instance))
        return 0;
    if (!InitApplication(instance, showCommand))
        return 0;
    // Runs until the quit message, whose code becomes the exit code.
    const int exitCode = RunMainLoop();
    CleanupApplication();
    return exitCode;
}
