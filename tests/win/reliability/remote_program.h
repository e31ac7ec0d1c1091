// The real tovral.exe in a process of its own, driven from outside as an operator would:
// menu commands posted to its main window, its message boxes read and answered, its
// controls looked at. Used by the planted-library test and by the benchmark sessions
// that measure the program's CPU time and memory from outside.
#pragma once

#include <windows.h>

#include <string>

class RemoteProgram {
public:
    RemoteProgram() = default;
    ~RemoteProgram();
    RemoteProgram(const RemoteProgram&) = delete;
    RemoteProgram& operator=(const RemoteProgram&) = delete;

    // Starts `program` in `currentDirectory` and waits up to 20 s for its main window.
    bool Launch(const std::wstring& program, const std::wstring& currentDirectory);

    // Waits up to `timeoutMs` for a message box of the program, reads its text and
    // presses `button`; false (and no text) when none came.
    bool AnswerBox(int button, std::wstring& text, DWORD timeoutMs);

    // A menu command, as the menu sends it.
    void Command(WORD id);

    // The Communication Active indicator of the main window.
    bool CommActive();

    // Asks the program to close (WM_CLOSE) and waits up to `timeoutMs` for it to end;
    // returns its exit code, or 0xFFFFFFFF when it did not end (it is then terminated).
    DWORD Close(DWORD timeoutMs);

    HANDLE Process() const { return process_.hProcess; }
    DWORD ProcessId() const { return process_.dwProcessId; }
    HWND Window() const { return window_; }

private:
    PROCESS_INFORMATION process_{};
    HWND window_ = nullptr;
    DWORD thread_ = 0;
    HWND lastBox_ = nullptr;
};
