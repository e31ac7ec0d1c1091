// A stand-in for the HTML Help control: HtmlHelpA (ordinal 14) writes each call, as
// "<command>|<file>", to the file named by the environment variable FAKE_HHCTRL_CALLS and
// answers a table-of-contents request with a window, as the real control does.
#include <windows.h>

#include <cstdio>

extern "C" __declspec(dllexport) HWND WINAPI HtmlHelpA(HWND caller, LPCSTR file, UINT command, DWORD_PTR)
{
    char record[MAX_PATH];
    if (GetEnvironmentVariableA("FAKE_HHCTRL_CALLS", record, MAX_PATH) - 1u < MAX_PATH - 1u) {
        if (FILE* out = std::fopen(record, "ab")) {
            std::fprintf(out, "%u|%s\n", command, file != nullptr ? file : "");
            std::fclose(out);
        }
    }
    return command == 1 ? GetDesktopWindow() : caller;
}
