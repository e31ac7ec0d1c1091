#include "remote_program.h"

#include <cwchar>

#include "resource.h"

namespace {

constexpr int kMessageTextId = 0xFFFF;  // the text control of a platform message box

struct WindowSearch {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK FindMainWindow(HWND window, LPARAM parameter)
{
    auto* search = reinterpret_cast<WindowSearch*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wchar_t className[32] = L"";
    GetClassNameW(window, className, 32);
    if (owner == search->processId && _wcsicmp(className, L"Tovral") == 0) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

struct BoxSearch {
    HWND skip;
    HWND found;
};

BOOL CALLBACK FindMessageBox(HWND window, LPARAM parameter)
{
    auto* search = reinterpret_cast<BoxSearch*>(parameter);
    wchar_t className[16] = L"";
    GetClassNameW(window, className, 16);
    if (window != search->skip && std::wcscmp(className, L"#32770") == 0 &&
        GetDlgItem(window, kMessageTextId) != nullptr && IsWindowVisible(window)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

RemoteProgram::~RemoteProgram()
{
    if (process_.hProcess != nullptr) {
        if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT)
            TerminateProcess(process_.hProcess, 1);
        CloseHandle(process_.hThread);
        CloseHandle(process_.hProcess);
    }
}

bool RemoteProgram::Launch(const std::wstring& program, const std::wstring& currentDirectory)
{
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    std::wstring commandLine = L"\"" + program + L"\"";
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        currentDirectory.c_str(), &startup, &process_))
        return false;
    for (int i = 0; i < 400 && window_ == nullptr; ++i) {
        Sleep(50);
        WindowSearch search{process_.dwProcessId, nullptr};
        EnumWindows(FindMainWindow, reinterpret_cast<LPARAM>(&search));
        window_ = search.found;
        if (WaitForSingleObject(process_.hProcess, 0) == WAIT_OBJECT_0)
            return false;
    }
    if (window_ == nullptr)
        return false;
    thread_ = GetWindowThreadProcessId(window_, nullptr);
    return true;
}

bool RemoteProgram::AnswerBox(int button, std::wstring& text, DWORD timeoutMs)
{
    text.clear();
    const DWORD start = GetTickCount();
    HWND box = nullptr;
    while (box == nullptr) {
        BoxSearch search{lastBox_, nullptr};
        EnumThreadWindows(thread_, FindMessageBox, reinterpret_cast<LPARAM>(&search));
        box = search.found;
        if (box != nullptr)
            break;
        if (GetTickCount() - start > timeoutMs)
            return false;
        Sleep(20);
    }
    wchar_t buffer[512] = L"";
    GetDlgItemTextW(box, kMessageTextId, buffer, 512);
    text = buffer;
    lastBox_ = box;
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, button)));
    for (int i = 0; i < 250 && IsWindow(box); ++i)
        Sleep(20);
    return true;
}

void RemoteProgram::Command(WORD id)
{
    PostMessageW(window_, WM_COMMAND, MAKEWPARAM(id, 0), 0);
}

bool RemoteProgram::CommActive()
{
    DWORD_PTR state = BST_UNCHECKED;
    if (SendMessageTimeoutW(GetDlgItem(window_, IDC_COMM_ACTIVE), BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 5000, &state) ==
        0)
        return false;
    return state == BST_CHECKED;
}

DWORD RemoteProgram::Close(DWORD timeoutMs)
{
    PostMessageW(window_, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(process_.hProcess, timeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(process_.hProcess, 1);
        return 0xFFFFFFFFu;
    }
    DWORD exitCode = 0xFFFFFFFFu;
    GetExitCodeProcess(process_.hProcess, &exitCode);
    return exitCode;
}
