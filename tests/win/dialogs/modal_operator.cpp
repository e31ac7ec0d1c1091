#include "modal_operator.h"

#include <utility>

#include "app.h"

namespace {

// A message box of the platform (Wine's layout): its text and its icon control. The text's
// identifier alone is that of any control without one.
constexpr int kMessageTextId = 0xFFFF;
constexpr int kMessageIconId = 0x0440;
constexpr UINT kLookEveryMs = 50;
constexpr int kStaleLooks = 30000 / kLookEveryMs;

bool IsMessageBox(HWND window)
{
    return GetDlgItem(window, kMessageTextId) != nullptr && GetDlgItem(window, kMessageIconId) != nullptr;
}

struct OperatorState {
    std::deque<ModalOperator::Step> steps;
    HWND lastSeen = nullptr;
    int looksAtLastSeen = 0;
    int staleCancels = 0;
};
OperatorState* operatorState = nullptr;

// The modal dialog the operator can work in now: the main window's last active pop-up,
// unless a message box of its own has disabled it.
HWND OpenModalDialog()
{
    HWND main = MainWindow();
    if (main == nullptr)
        return nullptr;
    HWND popup = GetLastActivePopup(main);
    if (popup == nullptr || popup == main || !IsWindowEnabled(popup) || IsMessageBox(popup))
        return nullptr;
    return popup;
}

void CALLBACK Look(HWND, UINT, UINT_PTR, DWORD)
{
    OperatorState& s = *operatorState;
    HWND dialog = OpenModalDialog();
    if (dialog == nullptr)
        return;
    if (!s.steps.empty()) {
        // A step may run a nested loop of its own; take it off the list first.
        ModalOperator::Step step = std::move(s.steps.front());
        s.steps.pop_front();
        if (!step(dialog))
            s.steps.push_front(std::move(step));
        s.looksAtLastSeen = 0;
        return;
    }
    if (dialog != s.lastSeen) {
        s.lastSeen = dialog;
        s.looksAtLastSeen = 0;
    }
    if (++s.looksAtLastSeen == kStaleLooks) {
        ++s.staleCancels;
        PostCommand(dialog, IDCANCEL);
    }
}

std::function<void(HWND)>* fillWatcher = nullptr;

LRESULT CALLBACK WatchFills(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HC_ACTION && fillWatcher != nullptr) {
        const CWPSTRUCT& sent = *LParamToPointer<CWPSTRUCT>(lParam);
        if (sent.message == WM_SETREDRAW && sent.wParam != FALSE) {
            wchar_t className[16] = L"";
            GetClassNameW(sent.hwnd, className, 16);
            if (lstrcmpiW(className, L"ListBox") == 0)
                (*fillWatcher)(sent.hwnd);
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

std::function<void(HWND)>* boxWatcher = nullptr;

LRESULT CALLBACK WatchBoxes(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_ACTIVATE && boxWatcher != nullptr) {
        HWND box = reinterpret_cast<HWND>(wParam);
        if (IsMessageBox(box))
            (*boxWatcher)(GetWindow(box, GW_OWNER));
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

ModalOperator::ModalOperator(std::deque<Step> steps)
{
    operatorState = new OperatorState{std::move(steps)};
    timer_ = SetTimer(nullptr, 0, kLookEveryMs, Look);
}

ModalOperator::~ModalOperator()
{
    KillTimer(nullptr, timer_);
    delete operatorState;
    operatorState = nullptr;
}

int ModalOperator::StepsLeft() const
{
    return static_cast<int>(operatorState->steps.size());
}

int ModalOperator::StaleCancels() const
{
    return operatorState->staleCancels;
}

ListFillWatcher::ListFillWatcher(std::function<void(HWND list)> watcher)
{
    fillWatcher = new std::function<void(HWND)>(std::move(watcher));
    hook_ = SetWindowsHookExW(WH_CALLWNDPROC, WatchFills, nullptr, GetCurrentThreadId());
}

ListFillWatcher::~ListFillWatcher()
{
    UnhookWindowsHookEx(hook_);
    delete fillWatcher;
    fillWatcher = nullptr;
}

MessageBoxWatcher::MessageBoxWatcher(std::function<void(HWND owner)> watcher)
{
    boxWatcher = new std::function<void(HWND)>(std::move(watcher));
    hook_ = SetWindowsHookExW(WH_CBT, WatchBoxes, nullptr, GetCurrentThreadId());
}

MessageBoxWatcher::~MessageBoxWatcher()
{
    UnhookWindowsHookEx(hook_);
    delete boxWatcher;
    boxWatcher = nullptr;
}

void PostCommand(HWND dialog, int id, WORD notification)
{
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, notification), PointerToLParam(GetDlgItem(dialog, id)));
}

void DoubleClickListLine(HWND list, int index)
{
    RECT line{};
    SendMessageW(list, LB_GETITEMRECT, static_cast<WPARAM>(index), PointerToLParam(&line));
    const LPARAM point = MAKELPARAM((line.left + line.right) / 2, (line.top + line.bottom) / 2);
    SendMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, point);
    SendMessageW(list, WM_LBUTTONUP, 0, point);
    SendMessageW(list, WM_LBUTTONDBLCLK, MK_LBUTTON, point);
    SendMessageW(list, WM_LBUTTONUP, 0, point);
}
