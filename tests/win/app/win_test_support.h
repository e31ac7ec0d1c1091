// Helpers for the Windows tests of the shell and the windows: the program's own windows
// on this thread, message boxes answered as an operator would, files beside the test.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

// One message box as the operator saw it.
struct SeenMessageBox {
    std::wstring caption;
    std::wstring text;
    std::vector<int> buttons;  // IDOK, IDCANCEL, IDRETRY, ... in that order of checking
    bool icon = false;         // an icon is shown
};

// While it lives, every message box of this thread is read and answered with the next
// button of `answers` (IDOK once they run out). The button press is posted from a CBT
// hook, so the code under test sees a real answer from a real box.
class MessageBoxAnswerer {
public:
    explicit MessageBoxAnswerer(std::deque<int> answers = {});
    ~MessageBoxAnswerer();
    MessageBoxAnswerer(const MessageBoxAnswerer&) = delete;
    MessageBoxAnswerer& operator=(const MessageBoxAnswerer&) = delete;

    const std::vector<SeenMessageBox>& Seen() const;

private:
    HHOOK hook_;
};

// Folder of the test executable, with a trailing backslash.
std::wstring ExecutableFolder();

// Whole file as bytes; "" when missing.
std::string ReadFileBytes(const std::wstring& path);
void WriteFileBytes(const std::wstring& path, const std::string& bytes);
bool FileExists(const std::wstring& path);

// "tovral.ini" beside the test executable: the file start-up reads.
std::wstring SettingsFileBeside();

// Routes every queued message as the main loop does (RouteMessage), without idle
// cycles, until the queue is empty. Returns true when a quit message was met (it is
// consumed).
bool RouteQueuedMessages();

// Removes every queued message of this thread, quit messages included.
void DiscardQueuedMessages();

std::wstring WindowText(HWND window);
std::wstring ControlText(HWND dialog, int id);

// The lines of a list box, and their item data.
std::vector<std::wstring> ListLines(HWND list);
std::vector<LPARAM> ListItemData(HWND list);

// A cell of a list view in report style, and its number of rows.
std::wstring CellText(HWND list, int row, int column);
int RowCount(HWND list);
// The heads of its first `columns` columns.
std::vector<std::wstring> ColumnHeads(HWND list, int columns);
// The row whose first two cells are `index` and `sub` ("1008", "00"), or -1.
int FindRow(HWND list, const wchar_t* index, const wchar_t* sub);

// UTF-8 of a wide text ("" when it does not convert).
std::string Utf8(const std::wstring& wide);

// Text of the items of a menu bar's pop-up `position`, separators as "".
std::vector<std::wstring> MenuItemTexts(HMENU bar, int position);
std::wstring MenuBarText(HMENU bar, int position);

// Sends the notification a control sends to its dialog.
void Notify(HWND dialog, int controlId, WORD notification);

// Presses a key in `window` as the keyboard would: the key-down and key-up messages are
// posted and routed through RouteMessage.
void PressKey(HWND window, WPARAM virtualKey);

// Starts the program on this thread as the entry point does (class, start-up, main
// window shown), with `settings` as the content of the settings file beside the test
// ("" for no file) and no trace file left from before. The manual clock runs, so the
// pauses of the stop sequence take no time. Returns the main window.
HWND StartProgram(const std::string& settings);

// Ends a program started by StartProgram without its close sequence, if it still runs,
// and cleans up: window destroyed, queue emptied, start-up's resources released, the
// system clock and the English thread locale back.
void EndProgram();

// Clicks line `index` of a list box as the mouse would (it notifies the selection).
void ClickListLine(HWND list, int index);

// Names the cases of a table by their `name` field.
struct CaseName {
    template <typename Case>
    std::string operator()(const ::testing::TestParamInfo<Case>& tested) const
    {
        return tested.param.name;
    }
};
