// Acting in the program's modal dialogs (About, Search Slaves), which run their own message
// loop inside the command that opens them, and watching them while they work.
#pragma once

#include <windows.h>

#include <deque>
#include <functional>

// An operator who looks at the open modal dialog every 50 ms (a thread timer, whose
// messages the dialog's loop handles, and so does the slave search when it passes
// messages on) and gives it to the next step. A step returns true when it has done its
// part, false to be asked again at the next look. With the steps done, a dialog that stays
// open for 30 s is cancelled, so that a test that expected it to end does not hang.
class ModalOperator {
public:
    using Step = std::function<bool(HWND dialog)>;

    explicit ModalOperator(std::deque<Step> steps);
    ~ModalOperator();
    ModalOperator(const ModalOperator&) = delete;
    ModalOperator& operator=(const ModalOperator&) = delete;

    int StepsLeft() const;
    int StaleCancels() const;  // dialogs cancelled because they stayed open

private:
    UINT_PTR timer_;
};

// Reports every refill of a dialog's list box (redrawing switched back on), all its lines
// in place. Every message the thread sends then goes through a hook, which costs a trip to
// the Wine server: not for runs whose time is measured.
class ListFillWatcher {
public:
    explicit ListFillWatcher(std::function<void(HWND list)> watcher);
    ~ListFillWatcher();
    ListFillWatcher(const ListFillWatcher&) = delete;
    ListFillWatcher& operator=(const ListFillWatcher&) = delete;

private:
    HHOOK hook_;
};

// Reports every message box with its owner as it appears, before the answer that
// MessageBoxAnswerer posts has reached it.
class MessageBoxWatcher {
public:
    explicit MessageBoxWatcher(std::function<void(HWND owner)> watcher);
    ~MessageBoxWatcher();
    MessageBoxWatcher(const MessageBoxWatcher&) = delete;
    MessageBoxWatcher& operator=(const MessageBoxWatcher&) = delete;

private:
    HHOOK hook_;
};

// Posts the command of control `id` to `dialog`, as a click on the control delivers it.
void PostCommand(HWND dialog, int id, WORD notification = BN_CLICKED);

// Double-clicks line `index` of a list box as the mouse would.
void DoubleClickListLine(HWND list, int index);
