#include "app.h"

#include <commctrl.h>

#include <cstdio>
#include <cwchar>
#include <new>
#include <type_traits>

#include "bus_pump.h"
#include "bus_trace.h"
#include "comm_state.h"
#include "config_windows.h"
#include "dictionary_window.h"
#include "exchange.h"
#include "master_start.h"
#include "master_state.h"
#include "messages.h"
#include "node_table.h"
#include "operator_side.h"
#include "process_image.h"
#include "registered_windows.h"
#include "resource.h"
#include "resource_language.h"
#include "slave_dictionary.h"
#include "settings.h"
#include "tick.h"

// The master's opaque owner and message are the platform's own types, so handles and
// messages pass between the two sides unchanged.
static_assert(std::is_same_v<OwnerHandle, HWND>);
static_assert(std::is_same_v<tagMSG, MSG>);
static_assert(AnswerOk == IDOK && AnswerCancel == IDCANCEL && AnswerRetry == IDRETRY);

namespace {

constexpr wchar_t kDialogClassName[] = L"#32770";  // the platform's predefined dialog class
constexpr wchar_t kSettingsFileName[] = L"tovral.ini";
constexpr wchar_t kTraceFileName[] = L"tovral.log";
constexpr wchar_t kHelpFileName[] = L"tovral.chm";
constexpr wchar_t kEdsFolderName[] = L"eds";
constexpr char kDriverLibraryName[] = "pcan_usb.dll";  // the vendor's name, loaded beside the program
constexpr wchar_t kErrorCaption[] = L"Error";

// Application handles, one set per process. The instance is the executable's until
// start-up remembers the one it was given.
HINSTANCE appInstance = GetModuleHandleW(nullptr);
HWND mainWindow = nullptr;            // from InitApplication; cleared by the window's destruction
HWND readObjectDialog = nullptr;      // dialog 110 while open
HWND writeObjectDialog = nullptr;     // dialog 111 while open
HWND dictionaryWindow = nullptr;      // dialog 112 while open
HWND nodeMonitorWindow = nullptr;     // dialog 113 while open
char edsFolder[4 * MAX_PATH] = "";    // "eds" beside the executable, UTF-8
HACCEL editAccelerators = nullptr;    // table 105: Enter in the output byte field
HACCEL globalAccelerators = nullptr;  // table 106: F1 to F7
HICON appIcon = nullptr;              // icon 103; drawn by the About box

wchar_t tracePath[MAX_PATH] = L"";
wchar_t helpPath[MAX_PATH] = L"";

enum class PathLength { Whole, CutToFit };

// `fileName` in the directory of the executable, at most MAX_PATH - 1 characters. With
// Whole, a path that does not fit fails like an unknown executable path: a cut path
// would name another file. Returns 1 when built.
int BuildPathBeside(wchar_t (&path)[MAX_PATH], const wchar_t* fileName, PathLength rule)
{
    wchar_t executable[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, executable, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return 0;
    const wchar_t* lastBackslash = std::wcsrchr(executable, L'\\');
    const std::size_t directory =
        lastBackslash != nullptr ? static_cast<std::size_t>(lastBackslash - executable) + 1 : 0;
    const std::size_t needed = directory + std::wcslen(fileName);
    if (needed >= MAX_PATH && rule == PathLength::Whole)
        return 0;
    std::swprintf(path, MAX_PATH, L"%.*ls%ls", static_cast<int>(directory), executable, fileName);
    return 1;
}

// The modeless Read Object (110) or Write Object (111) dialog, shown.
HWND CreateObjectDialog(UINT templateId, HWND parent)
{
    const DLGPROC procedure = templateId == IDD_READ_OBJECT ? ReadObjectDlgProc : WriteObjectDlgProc;
    HWND dialog = CreateDialogInLanguage(templateId, parent, procedure, 0);
    if (dialog != nullptr)
        ShowWindow(dialog, SW_SHOW);
    return dialog;
}

int FailStartup()
{
    ShowStringMessage(nullptr, IDS_OUT_OF_MEMORY);
    CleanupApplication();
    return 0;
}

// Sets every handle to none and every flag and table of the master services, the CAN
// interface and the user interface to zero; each owner resets its own.
void ResetApplicationState()
{
    mainWindow = nullptr;
    readObjectDialog = nullptr;
    writeObjectDialog = nullptr;
    dictionaryWindow = nullptr;
    nodeMonitorWindow = nullptr;
    edsFolder[0] = '\0';
    editAccelerators = nullptr;
    globalAccelerators = nullptr;
    appIcon = nullptr;
    tracePath[0] = L'\0';
    helpPath[0] = L'\0';
    ResetMasterState();
    ResetBusTicks();
    ResetWindowState();
    ForgetChosenEdsFiles();
}

// The list view class for the Object Dictionary. The common controls library is loaded
// (from the system folder) when the window first opens, not at start-up: loaded, it
// changes how the standard controls of every window draw, and a run that never opens the
// window keeps working as it always did. True when the class is there.
bool RegisterListViewClass()
{
    static bool registered = false;
    if (registered)
        return true;
    HMODULE library = LoadLibraryExW(L"comctl32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (library == nullptr)
        return false;
    using InitControls = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
    const auto init =
        reinterpret_cast<InitControls>(reinterpret_cast<void*>(GetProcAddress(library, "InitCommonControlsEx")));
    const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_LISTVIEW_CLASSES};
    registered = init != nullptr && init(&controls) != FALSE;
    return registered;
}

// The master's questions in the platform's box styles.
int ShowMasterMessage(HWND owner, MessageForm form, std::uint32_t stringId, const wchar_t* argument)
{
    UINT style = MB_OK;
    if (form == FormOkWarning)
        style = MB_OK | MB_ICONEXCLAMATION;
    else if (form == FormOkCancelWarning)
        style = MB_OKCANCEL | MB_ICONEXCLAMATION;
    else if (form == FormRetryCancelWarning)
        style = MB_RETRYCANCEL | MB_ICONEXCLAMATION;
    return ShowFormatMessage(owner, style, stringId, argument, nullptr, nullptr);
}

int EndMainWindow(HWND window)
{
    DestroyWindow(window);
    return 1;
}

int PassMessageOn(MessagePumpSlot pump)
{
    MSG message;
    if (!PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
        return 0;
    if (message.message == WM_QUIT) {
        // The quit message belongs to the main loop: taken here it would be lost and the
        // program would never end. Put it back for the loop to find.
        PostQuitMessage(static_cast<int>(message.wParam));
        return 0;
    }
    pump(&message);
    return 1;
}

void WaitForWindowInput(std::uint32_t timeoutMs)
{
    constexpr DWORD kWakeOnAnyInput = 0xFF;  // QS_ALLINPUT of the oldest headers
    MsgWaitForMultipleObjects(0, nullptr, FALSE, timeoutMs, kWakeOnAnyInput);
}

void* ShowWaitCursor()
{
    return SetCursor(LoadCursorW(nullptr, IDC_WAIT));
}

void RestoreCursor(void* previous)
{
    SetCursor(static_cast<HCURSOR>(previous));
}

// The operator's side of the master: the shell's operations and the windows' own.
OperatorOps ProgramOperations()
{
    return OperatorOps{
        .showMessage = ShowStringMessage,
        .askQuestion = ShowMasterMessage,
        .showCommActive = ShowCommIndicator,
        .showFreezeOutputs = ShowFreezeBox,
        .takeSlaveAddress = ValidateSlaveAddress,
        .refreshCommControls = UpdateCommControls,
        .showPdoLists = ShowBothPdoLists,
        .handOverReadResult = DeliverReadResult,
        .showSearchProgress = ShowSearchList,
        .ownerWindow = MainWindow,
        .openReadObject = OpenReadObjectDialog,
        .openWriteObject = OpenWriteObjectDialog,
        .closeObjectWindows = CloseObjectDialogs,
        .saveSettings = WriteSettings,
        .closeMainWindow = EndMainWindow,
        .passMessage = PassMessageOn,
        .restUntilInput = WaitForWindowInput,
        .beginWait = ShowWaitCursor,
        .endWait = RestoreCursor,
        .openDictionary = OpenDictionaryWindow,
        .showEntryRead = ShowDictionaryEntry,
        .lookUpEdsChoice = RecallEdsFile,
        .keepEdsChoice = RememberEdsFile,
        .askForEdsFile = PickEdsFile,
        .showNodeStatus = ShowNodeStatus,
        .showLssProgress = ShowLssProgress,
        .showDownloadRow = ShowDownloadRow,
    };
}

void OpenTraceFileAt(const wchar_t* path)
{
    char utf8[4 * MAX_PATH];
    if (WideCharToMultiByte(CP_UTF8, 0, path, -1, utf8, sizeof utf8, nullptr, nullptr) == 0)
        return;
    OpenTraceFile(utf8);
}

// The platform's text for the last error, under the caption "Error".
void ShowLastError()
{
    const DWORD error = GetLastError();
    wchar_t text[512] = L"";
    FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                   MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL), text, sizeof text / sizeof text[0], nullptr);
    MessageBoxW(nullptr, text, kErrorCaption, MB_OK | MB_ICONINFORMATION);
}

}  // namespace

HINSTANCE AppInstance()
{
    return appInstance;
}

HWND MainWindow()
{
    return mainWindow;
}

void SetMainWindow(HWND window)
{
    mainWindow = window;
}

HWND ReadObjectDialog()
{
    return readObjectDialog;
}

void SetReadObjectDialog(HWND dialog)
{
    readObjectDialog = dialog;
}

HWND WriteObjectDialog()
{
    return writeObjectDialog;
}

void SetWriteObjectDialog(HWND dialog)
{
    writeObjectDialog = dialog;
}

HWND DictionaryWindow()
{
    return dictionaryWindow;
}

void SetDictionaryWindow(HWND dialog)
{
    dictionaryWindow = dialog;
}

HWND NodeMonitorWindow()
{
    return nodeMonitorWindow;
}

void SetNodeMonitorWindow(HWND dialog)
{
    nodeMonitorWindow = dialog;
}

const char* EdsFolder()
{
    return edsFolder;
}

void SetEdsFolder(const char* folder)
{
    std::snprintf(edsFolder, sizeof edsFolder, "%s", folder);
}

HICON AppIcon()
{
    return appIcon;
}

const wchar_t* TracePath()
{
    return tracePath;
}

const wchar_t* HelpPath()
{
    return helpPath;
}

ATOM RegisterMainClass(HINSTANCE instance)
{
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    if (!GetClassInfoExW(nullptr, kDialogClassName, &windowClass))
        return 0;
    windowClass.style &= ~static_cast<UINT>(CS_GLOBALCLASS);
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_APP));
    windowClass.lpszClassName = MainClassName;
    return RegisterClassExW(&windowClass);
}

int InitApplication(HINSTANCE instance, int showCommand)
{
    // Everything starts from none and zero.
    appInstance = instance;
    ResetApplicationState();

    // The settings and trace files beside the executable.
    wchar_t settingsPath[MAX_PATH];
    if (!BuildPathBeside(settingsPath, kSettingsFileName, PathLength::Whole))
        return 0;
    SetSettingsPath(settingsPath);
    if (!BuildPathBeside(tracePath, kTraceFileName, PathLength::Whole))
        return 0;

    // From here on every resource comes in the selected language.
    SelectLanguage();
    ReadSettings();

    // A trace file that cannot be opened leaves the trace off, unreported.
    if (appSettings.Logging != 0)
        OpenTraceFileAt(tracePath);

    // The master, with the windows as its operator and the driver library beside the
    // program: it reaches the windows through the operations, routes the messages it
    // passes on through PumpMessage, and sends the engine's frames to the driver.
    MasterSetup setup{};
    setup.operations = ProgramOperations();
    setup.messageHook = PumpMessage;
    setup.node = appSettings.CurrAdr;
    setup.bitRate = appSettings.Baud;
    setup.port = appSettings.PrinterPort;
    setup.driverLibrary = kDriverLibraryName;
    if (StartMaster(setup) != MasterStarted)
        return FailStartup();

    // The help path may be cut: it only names the file to show.
    if (!BuildPathBeside(helpPath, kHelpFileName, PathLength::CutToFit))
        return FailStartup();
    // The EDS folder: without it the Object Dictionary only offers the file dialog.
    wchar_t folder[MAX_PATH];
    if (BuildPathBeside(folder, kEdsFolderName, PathLength::Whole) &&
        WideCharToMultiByte(CP_UTF8, 0, folder, -1, edsFolder, sizeof edsFolder, nullptr, nullptr) == 0)
        edsFolder[0] = '\0';

    editAccelerators = LoadAcceleratorsInLanguage(IDR_ACCEL_EDIT);
    globalAccelerators = LoadAcceleratorsInLanguage(IDR_ACCEL_GLOBAL);
    if (editAccelerators == nullptr || globalAccelerators == nullptr)
        return FailStartup();

    // Without the icon the About box just draws none.
    appIcon = static_cast<HICON>(LoadImageW(appInstance, MAKEINTRESOURCEW(IDI_APP), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE));

    mainWindow = CreateDialogInLanguage(IDD_MAIN, nullptr, MainDlgProc, 0);
    if (mainWindow != nullptr) {
        ShowWindow(mainWindow, showCommand);
        return 1;
    }

    // The window could not be made: the platform says why.
    ShowLastError();
    return FailStartup();
}

int RunMainLoop()
{
    MSG message{};
    for (;;) {
        if (commState.active == 0) {
            // Communication off: block for the next message, then one idle cycle.
            if (GetMessageW(&message, nullptr, 0, 0) != 1)
                break;
            RouteMessage(&message);
            RunIdleCycle();
        } else if (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            // Communication on: empty the queue first, never blocking.
            if (message.message == WM_QUIT)
                break;
            RouteMessage(&message);
        } else {
            RunIdleCycle();
        }
    }
    return message.message == WM_QUIT ? static_cast<int>(message.wParam) : 0;
}

int CleanupApplication()
{
    EndMaster();
    if (appIcon != nullptr) {
        DestroyIcon(appIcon);
        appIcon = nullptr;
    }
    CloseTraceFile();
    // The accelerator tables were built from the resources and are ours to free.
    if (editAccelerators != nullptr) {
        DestroyAcceleratorTable(editAccelerators);
        editAccelerators = nullptr;
    }
    if (globalAccelerators != nullptr) {
        DestroyAcceleratorTable(globalAccelerators);
        globalAccelerators = nullptr;
    }
    return 1;
}

int RouteMessage(MSG* message)
{
    // Enter applies the output byte, but only while the output byte field has the focus.
    if (mainWindow != nullptr) {
        HWND focus = GetFocus();
        if (focus != nullptr && focus == GetDlgItem(mainWindow, IDC_OUTPUT_BYTE) &&
            TranslateAcceleratorW(mainWindow, editAccelerators, message))
            return 1;
    }
    // F1 to F7 act from every window; their commands go to the main window.
    if (mainWindow != nullptr && TranslateAcceleratorW(mainWindow, globalAccelerators, message))
        return 1;
    // Keyboard navigation within whichever open dialog the message is for.
    if (readObjectDialog != nullptr && IsDialogMessageW(readObjectDialog, message))
        return 1;
    if (writeObjectDialog != nullptr && IsDialogMessageW(writeObjectDialog, message))
        return 1;
    if (dictionaryWindow != nullptr && IsDialogMessageW(dictionaryWindow, message))
        return 1;
    if (nodeMonitorWindow != nullptr && IsDialogMessageW(nodeMonitorWindow, message))
        return 1;
    if (mainWindow != nullptr && IsDialogMessageW(mainWindow, message))
        return 1;
    // Any other message: keys become characters, then it goes to its window.
    TranslateMessage(message);
    DispatchMessageW(message);
    return 1;
}

int PumpMessage(MSG* message)
{
    RouteMessage(message);
    return 1;
}

int OpenReadObjectDialog(HWND parent)
{
    if (readObjectDialog != nullptr)
        return 1;
    if (writeObjectDialog != nullptr) {
        DestroyWindow(writeObjectDialog);
        writeObjectDialog = nullptr;
    }
    readObjectDialog = CreateObjectDialog(IDD_READ_OBJECT, parent);
    return readObjectDialog != nullptr;
}

int OpenWriteObjectDialog(HWND parent)
{
    if (writeObjectDialog != nullptr)
        return 1;
    if (readObjectDialog != nullptr) {
        DestroyWindow(readObjectDialog);
        readObjectDialog = nullptr;
    }
    writeObjectDialog = CreateObjectDialog(IDD_WRITE_OBJECT, parent);
    return writeObjectDialog != nullptr;
}

int CloseObjectDialogs()
{
    if (readObjectDialog != nullptr) {
        DestroyWindow(readObjectDialog);
        readObjectDialog = nullptr;
    }
    if (writeObjectDialog != nullptr) {
        DestroyWindow(writeObjectDialog);
        writeObjectDialog = nullptr;
    }
    if (dictionaryWindow != nullptr) {
        DestroyWindow(dictionaryWindow);
        dictionaryWindow = nullptr;
    }
    if (nodeMonitorWindow != nullptr) {
        DestroyWindow(nodeMonitorWindow);
        nodeMonitorWindow = nullptr;
    }
    return 1;
}

int OpenNodeMonitorWindow(HWND parent)
{
    if (nodeMonitorWindow != nullptr) {
        if (IsIconic(nodeMonitorWindow))
            ShowWindow(nodeMonitorWindow, SW_RESTORE);
        SetActiveWindow(nodeMonitorWindow);
        return 1;
    }
    if (!RegisterListViewClass())
        return 0;
    nodeMonitorWindow = CreateDialogInLanguage(IDD_NODE_MONITOR, parent, NodeMonitorDlgProc, 0);
    if (nodeMonitorWindow == nullptr)
        return 0;
    ShowWindow(nodeMonitorWindow, SW_SHOW);
    return 1;
}

int OpenDictionaryWindow(HWND parent)
{
    if (dictionaryWindow != nullptr) {
        if (IsIconic(dictionaryWindow))
            ShowWindow(dictionaryWindow, SW_RESTORE);
        // The current slave changed since the window was filled: its own file now.
        if (!DictionaryReading() && objectDictionary.node != static_cast<std::uint32_t>(appSettings.CurrAdr))
            LoadDictionary(dictionaryWindow);
        SetActiveWindow(dictionaryWindow);
        SetFocus(GetDlgItem(dictionaryWindow, IDC_DICT_LIST));
        return 1;
    }
    if (!RegisterListViewClass())
        return 0;
    dictionaryWindow = CreateDialogInLanguage(IDD_OBJECT_DICTIONARY, parent, DictionaryDlgProc, 0);
    if (dictionaryWindow == nullptr)
        return 0;
    ShowWindow(dictionaryWindow, SW_SHOW);
    UpdateWindow(dictionaryWindow);
    LoadDictionary(dictionaryWindow);
    if (dictionaryWindow != nullptr)
        SetFocus(GetDlgItem(dictionaryWindow, IDC_DICT_LIST));
    return 1;
}

int CenterOnScreen(HWND window)
{
    RECT frame{};
    GetWindowRect(window, &frame);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    const int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    const int y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    MoveWindow(window, x, y, width, height, TRUE);
    return 1;
}

int CenterOverWindow(HWND reference, HWND window)
{
    RECT area{};
    GetWindowRect(reference, &area);
    RECT frame{};
    GetWindowRect(window, &frame);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    const int x = (area.left + area.right - width) / 2;
    const int y = (area.top + area.bottom - height) / 2;
    MoveWindow(window, x, y, width, height, TRUE);
    return 1;
}
