// Save DCF, Download DCF and Store in Device through the real program's Object Dictionary
// window against node 3 (the I/O module) of the simulated bus: a saved file brings a
// changed value back, the result column says what each entry did (in words when the device
// refused it), PDO objects wait for communication to stop, Abort ends the download between
// PDOs, the store window shows what the device can do and stores and restores, in both
// languages.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <string>
#include <vector>

#include "app.h"
#include "comm_state.h"
#include "config_windows.h"
#include "configuration.h"
#include "driver.h"
#include "exchange.h"
#include "modal_operator.h"
#include "resource.h"
#include "sim_controls.h"
#include "text_files.h"
#include "win_test_support.h"

namespace {

constexpr std::uint32_t kNode = 3;
constexpr char kGermanSettings[] = "[Language]\r\nPrimaryLanguage=7\r\nSubLanguage=1\r\n";
constexpr int kResultColumn = 4;

bool StartsWith(const std::wstring& text, const std::wstring& start)
{
    return text.compare(0, start.size(), start) == 0;
}

// Every result cell, top to bottom.
std::vector<std::wstring> Results(HWND dialog)
{
    HWND list = GetDlgItem(dialog, IDC_DCF_LIST);
    std::vector<std::wstring> results;
    for (int row = 0; row < RowCount(list); ++row)
        results.push_back(CellText(list, row, kResultColumn));
    return results;
}

// Calls `watcher` with the dialog each time a result cell is set to `text`, as the cell
// changes (a message sent to the list, so it is seen in the middle of a download).
class ResultWatcher {
public:
    ResultWatcher(std::wstring text, std::function<void(HWND dialog)> watcher)
    {
        watched = std::move(text);
        onResult = std::move(watcher);
        hook_ = SetWindowsHookExW(WH_CALLWNDPROC, Watch, nullptr, GetCurrentThreadId());
    }
    ~ResultWatcher()
    {
        UnhookWindowsHookEx(hook_);
        onResult = nullptr;
    }
    ResultWatcher(const ResultWatcher&) = delete;
    ResultWatcher& operator=(const ResultWatcher&) = delete;

private:
    static LRESULT CALLBACK Watch(int code, WPARAM wParam, LPARAM lParam)
    {
        if (code == HC_ACTION && onResult) {
            const CWPSTRUCT& sent = *reinterpret_cast<const CWPSTRUCT*>(lParam);
            if (sent.message == LVM_SETITEMTEXTW && GetDlgCtrlID(sent.hwnd) == IDC_DCF_LIST) {
                const LVITEMW& item = *reinterpret_cast<const LVITEMW*>(sent.lParam);
                if (item.iSubItem == kResultColumn && item.pszText != nullptr && watched == item.pszText)
                    onResult(GetParent(sent.hwnd));
            }
        }
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
    static inline std::wstring watched;
    static inline std::function<void(HWND)> onResult;
    HHOOK hook_;
};

// A step that waits for the window's status line to start with `status`, then does `then`.
ModalOperator::Step WhenStatus(int statusId, const std::wstring& status, std::function<void(HWND)> then)
{
    return [statusId, status, then](HWND dialog) {
        if (!StartsWith(ControlText(dialog, statusId), status))
            return false;
        then(dialog);
        return true;
    };
}

class ConfigurationWindows : public ::testing::Test {
protected:
    SimControls bus;
    HWND window = nullptr;
    HWND dictionary = nullptr;
    std::wstring folder;  // this test's files
    std::string ioModule;

    void SetUp() override
    {
        ASSERT_TRUE(bus.Load());
        bus.reset();
        bus.setAnimation(0);
        ioModule = ReadFileBytes(ExecutableFolder() + L"eds\\io_module.eds");
        ASSERT_FALSE(ioModule.empty());
        folder = ExecutableFolder() + L"dcf_test";
        CreateDirectoryW(folder.c_str(), nullptr);
        configDownload.onlyChanged = true;  // the window's default
    }

    void TearDown() override
    {
        EndProgram();
        for (const wchar_t* name : {L"\\node3.dcf", L"\\edited.dcf"})
            DeleteFileW((folder + name).c_str());
        RemoveDirectoryW(folder.c_str());
        bus.reset();  // what was stored in the slaves goes with the test
        bus.Unload();
    }

    void Start(const std::string& settings)
    {
        window = StartProgram(settings);
        ASSERT_NE(window, nullptr);
        PressKey(window, VK_F5);
        RunIdleCycle();
        RouteQueuedMessages();
        dictionary = DictionaryWindow();
        ASSERT_NE(dictionary, nullptr);
    }

    std::string File(const wchar_t* name) const { return Utf8(folder + name); }

    std::string SaveDcf()
    {
        const std::string path = File(L"\\node3.dcf");
        EXPECT_EQ(SaveDcfFromWindow(dictionary, path.c_str()), 1);
        return path;
    }

    void SetU16(std::uint32_t index, std::uint32_t sub, std::uint16_t value)
    {
        const std::uint8_t bytes[2] = {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8)};
        ASSERT_EQ(bus.setObject(kNode, index, sub, bytes, 2), kSimOk);
    }

    void StartCommunication()
    {
        MessageBoxAnswerer answers({IDOK});
        SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDM_START, 0), 0);
        ASSERT_EQ(commState.active, 1u);
    }
};

TEST_F(ConfigurationWindows, ASavedDcfBringsAChangedValueBackAndVerifyReadsItBack)
{
    Start("");
    const std::uint32_t heartbeat = bus.ObjectU32(kNode, 0x1017, 0);
    const std::string path = SaveDcf();
    const std::wstring progress = ControlText(dictionary, IDC_DICT_PROGRESS);
    EXPECT_TRUE(progress.ends_with(L" values saved in node3.dcf.")) << Utf8(progress);
    EXPECT_GT(std::stoi(progress), 100) << "every readable entry of the I/O module";
    SetU16(0x1017, 0, static_cast<std::uint16_t>(heartbeat + 500));

    std::wstring title, file, checkbox, toWrite, written, verified;
    std::vector<std::wstring> heads, heartbeatRow, compared;
    int heartbeatLine = -1;
    BOOL mainEnabled = TRUE;
    ModalOperator steps({
        WhenStatus(IDC_DCF_STATUS, L"1 entries to write",
                   [&](HWND dialog) {
                       HWND list = GetDlgItem(dialog, IDC_DCF_LIST);
                       title = WindowText(dialog);
                       file = ControlText(dialog, IDC_DCF_FILE);
                       checkbox = ControlText(dialog, IDC_DCF_ONLY_CHANGED);
                       heads = ColumnHeads(list, 5);
                       heartbeatLine = FindRow(list, L"1017", L"00");
                       for (int column = 0; column < 5; ++column)
                           heartbeatRow.push_back(CellText(list, heartbeatLine, column));
                       compared = Results(dialog);
                       mainEnabled = IsWindowEnabled(window);
                       PostCommand(dialog, IDC_DCF_WRITE);
                   }),
        WhenStatus(IDC_DCF_STATUS, L"1 written",
                   [&](HWND dialog) {
                       written = ControlText(dialog, IDC_DCF_STATUS);
                       toWrite = CellText(GetDlgItem(dialog, IDC_DCF_LIST), heartbeatLine, kResultColumn);
                       PostCommand(dialog, IDC_DCF_VERIFY);
                   }),
        WhenStatus(IDC_DCF_STATUS, L"Verified",
                   [&](HWND dialog) {
                       verified = ControlText(dialog, IDC_DCF_STATUS) + L" / " +
                                  CellText(GetDlgItem(dialog, IDC_DCF_LIST), heartbeatLine, kResultColumn);
                       PostCommand(dialog, IDCANCEL);
                   }),
    });
    MessageBoxAnswerer answers;
    RunDownloadWindow(dictionary, path.c_str());

    EXPECT_EQ(steps.StepsLeft(), 0);
    EXPECT_EQ(steps.StaleCancels(), 0);
    EXPECT_EQ(title, L"Download DCF");
    EXPECT_EQ(file, L"Node 3: node3.dcf, SimIO 8DI 8DO 2AI 2AO I/O module");
    EXPECT_EQ(checkbox, L"&Only values that differ from the device");
    EXPECT_EQ(heads, (std::vector<std::wstring>{L"Index", L"Sub", L"Name", L"Value", L"Result"}));
    ASSERT_GE(heartbeatLine, 0);
    EXPECT_EQ(heartbeatRow[2], L"Producer heartbeat time");
    EXPECT_EQ(heartbeatRow[4], L"") << "to be written";
    std::size_t same = 0;
    for (const std::wstring& result : compared)
        same += result == L"same as in the device" ? 1 : 0;
    EXPECT_EQ(same, compared.size() - 1) << "the comparison found only the heartbeat time changed";
    EXPECT_FALSE(mainEnabled) << "the main window waits while the window is open";
    EXPECT_TRUE(IsWindowEnabled(window));

    ASSERT_EQ(answers.Seen().size(), 1u);
    EXPECT_EQ(answers.Seen()[0].text, L"Write 1 entries into the device?\nOutputs may be modified!");
    EXPECT_EQ(written, L"1 written, 0 failed");
    EXPECT_EQ(toWrite, L"written");
    EXPECT_EQ(verified, L"Verified: 1 match, 0 differ / written, read back");
    EXPECT_EQ(bus.ObjectU32(kNode, 0x1017, 0), heartbeat) << "the file's value is back";
    EXPECT_EQ(DriverLoaded(), 0) << "the bus opened for each pass is closed again";
}

TEST_F(ConfigurationWindows, AnEntryTheDeviceRefusesShowsItsAbortCodeInGermanWordsAndTheOthersAreWritten)
{
    Start(kGermanSettings);
    std::string text = ioModule;
    std::erase(text, '\r');
    // The file says the device name may be written; the device says it is constant.
    text = Replaced(text, "ParameterName=Manufacturer device name\nObjectType=0x7\nDataType=0x0009\nAccessType=const",
                    "ParameterName=Manufacturer device name\nObjectType=0x7\nDataType=0x0009\nAccessType=rw\n"
                    "ParameterValue=Umbenannt");
    text = Replaced(text, "ParameterName=Producer heartbeat time\nObjectType=0x7\nDataType=0x0006\nAccessType=rw\n",
                    "ParameterName=Producer heartbeat time\nObjectType=0x7\nDataType=0x0006\nAccessType=rw\n"
                    "ParameterValue=350\n");
    WriteFileBytes(folder + L"\\edited.dcf", text);

    std::wstring title, checkbox, button, result;
    std::vector<std::wstring> heads, results;
    ModalOperator steps({
        WhenStatus(IDC_DCF_STATUS, L"2 Einträge zu schreiben",
                   [&](HWND dialog) {
                       title = WindowText(dialog);
                       checkbox = ControlText(dialog, IDC_DCF_ONLY_CHANGED);
                       button = ControlText(dialog, IDC_DCF_WRITE);
                       heads = ColumnHeads(GetDlgItem(dialog, IDC_DCF_LIST), 5);
                       PostCommand(dialog, IDC_DCF_WRITE);
                   }),
        WhenStatus(IDC_DCF_STATUS, L"1 geschrieben",
                   [&](HWND dialog) {
                       result = ControlText(dialog, IDC_DCF_STATUS);
                       results = Results(dialog);
                       PostCommand(dialog, IDCANCEL);
                   }),
    });
    MessageBoxAnswerer answers;
    RunDownloadWindow(dictionary, File(L"\\edited.dcf").c_str());

    EXPECT_EQ(steps.StepsLeft(), 0);
    EXPECT_EQ(title, L"DCF übertragen");
    EXPECT_EQ(checkbox, L"&Nur Werte, die vom Gerät abweichen");
    EXPECT_EQ(button, L"Über&tragen");
    EXPECT_EQ(heads, (std::vector<std::wstring>{L"Index", L"Sub", L"Name", L"Wert", L"Ergebnis"}));
    ASSERT_EQ(answers.Seen().size(), 1u);
    EXPECT_EQ(answers.Seen()[0].text, L"2 Einträge in das Gerät schreiben?\nAusgänge können sich ändern!");
    EXPECT_EQ(result, L"1 geschrieben, 1 fehlgeschlagen: 1008sub0");
    EXPECT_EQ(results,
              (std::vector<std::wstring>{L"Abbruch 06010002h: Schreiben eines nur lesbaren Objekts", L"geschrieben"}))
        << "by index: the device name, then the heartbeat time";
    EXPECT_EQ(bus.ObjectU32(kNode, 0x1017, 0), 350u);
}

TEST_F(ConfigurationWindows, PdoObjectsAreWrittenOnlyOnceCommunicationIsStopped)
{
    Start("");
    StartCommunication();
    const std::string path = SaveDcf();
    EXPECT_EQ(commState.active, 1u) << "the save used the open bus";
    const std::uint32_t eventTimer = bus.ObjectU32(kNode, 0x1800, 5);
    SetU16(0x1800, 5, static_cast<std::uint16_t>(eventTimer + 250));

    std::wstring note, compared, noteAfter, statusAfterCancel, result;
    std::vector<std::wstring> resultsAfterCancel;
    std::uint32_t activeAfterCancel = 0;
    std::size_t questionsAfterCancel = 0;
    MessageBoxAnswerer answers({IDCANCEL, IDOK});
    ModalOperator steps({
        [&](HWND dialog) {
            // The comparison has ended: the event timer's PDO is to be written as a whole.
            compared = ControlText(dialog, IDC_DCF_STATUS);
            if (!compared.ends_with(L" entries to write"))
                return false;
            note = ControlText(dialog, IDC_DCF_NOTE);
            PostCommand(dialog, IDC_DCF_WRITE);
            return true;
        },
        [&](HWND dialog) {
            // Cancel to the question: nothing written, communication goes on.
            questionsAfterCancel = answers.Seen().size();
            activeAfterCancel = commState.active;
            statusAfterCancel = ControlText(dialog, IDC_DCF_STATUS);
            resultsAfterCancel = Results(dialog);
            PostCommand(dialog, IDC_DCF_WRITE);
            return true;
        },
        [&](HWND dialog) {
            result = ControlText(dialog, IDC_DCF_STATUS);
            if (result.find(L"written") == std::wstring::npos)
                return false;
            noteAfter = ControlText(dialog, IDC_DCF_NOTE);
            PostCommand(dialog, IDCANCEL);
            return true;
        },
    });
    RunDownloadWindow(dictionary, path.c_str());

    EXPECT_EQ(steps.StepsLeft(), 0);
    EXPECT_EQ(note, L"Communication is active: the PDO objects are written after it is stopped.");
    ASSERT_GE(answers.Seen().size(), 2u);
    const std::wstring question =
        L"PDO objects are written only while communication is stopped. Stop communication now?\n"
        L"Outputs may be modified!";
    EXPECT_EQ(answers.Seen()[0].text, question);
    EXPECT_EQ(questionsAfterCancel, 1u);
    EXPECT_EQ(activeAfterCancel, 1u);
    EXPECT_NE(compared, L"0 entries to write");
    EXPECT_EQ(statusAfterCancel, compared);
    for (const std::wstring& cell : resultsAfterCancel)
        EXPECT_NE(cell, L"written");
    EXPECT_EQ(answers.Seen()[1].text, question);

    EXPECT_EQ(commState.active, 0u) << "OK stopped communication";
    EXPECT_TRUE(result.ends_with(L" written, 0 failed")) << Utf8(result);
    EXPECT_EQ(noteAfter, L"");
    EXPECT_EQ(bus.ObjectU32(kNode, 0x1800, 5), eventTimer);
    EXPECT_EQ(bus.ObjectU32(kNode, 0x1800, 1) & 0x80000000u, 0u) << "the PDO is valid again";
}

TEST_F(ConfigurationWindows, AbortEndsTheDownloadAfterThePdoUnderWay)
{
    Start("");
    const std::string path = SaveDcf();

    std::wstring status;
    std::vector<std::wstring> results;
    int aborts = 0;
    ResultWatcher watcher(L"written", [&](HWND dialog) {
        if (aborts++ == 0)
            PostCommand(dialog, IDC_DCF_WRITE);  // the button reads Abort now
    });
    ModalOperator steps({
        [&](HWND dialog) {
            if (!StartsWith(ControlText(dialog, IDC_DCF_STATUS), L"0 entries"))
                return false;
            // Every entry, not only the ones that differ.
            CheckDlgButton(dialog, IDC_DCF_ONLY_CHANGED, BST_UNCHECKED);
            PostCommand(dialog, IDC_DCF_ONLY_CHANGED);
            return true;
        },
        [&](HWND dialog) {
            if (StartsWith(ControlText(dialog, IDC_DCF_STATUS), L"0 entries"))
                return false;
            PostCommand(dialog, IDC_DCF_WRITE);
            return true;
        },
        WhenStatus(IDC_DCF_STATUS, L"Aborted",
                   [&](HWND dialog) {
                       status = ControlText(dialog, IDC_DCF_STATUS);
                       results = Results(dialog);
                       PostCommand(dialog, IDCANCEL);
                   }),
    });
    MessageBoxAnswerer answers;
    RunDownloadWindow(dictionary, path.c_str());

    EXPECT_EQ(steps.StepsLeft(), 0);
    ASSERT_FALSE(results.empty());
    std::size_t written = 0;
    while (written < results.size() && results[written] == L"written")
        ++written;
    EXPECT_GT(written, 1u) << "the first PDO is written as a whole";
    EXPECT_LT(written, results.size());
    for (std::size_t row = written; row < results.size(); ++row)
        EXPECT_EQ(results[row], L"not written") << row;
    EXPECT_EQ(status, L"Aborted: " + std::to_wstring(written) + L" written, 0 failed");
    EXPECT_EQ(bus.ObjectU32(kNode, 0x1400, 1) & 0x80000000u, 0u) << "the first PDO is valid again";
}

TEST_F(ConfigurationWindows, StoreShowsTheDevicesAbilitiesStoresOverAPowerCycleAndRestoresTheDefaults)
{
    Start("");
    const std::uint32_t heartbeat = bus.ObjectU32(kNode, 0x1017, 0);
    SetU16(0x1017, 0, 700);

    std::wstring title, caps, stored, restored;
    std::uint32_t afterPowerCycle = 0, afterRestore = 0;
    bool allChecked = false;
    MessageBoxAnswerer answers({IDOK, IDCANCEL});
    ModalOperator steps({
        [&](HWND dialog) {
            title = WindowText(dialog);
            caps = ControlText(dialog, IDC_STORE_CAPS_ALL) + L" / " + ControlText(dialog, IDC_STORE_CAPS_COMM) +
                   L" / " + ControlText(dialog, IDC_STORE_CAPS_APP);
            allChecked = IsDlgButtonChecked(dialog, IDC_STORE_ALL) == BST_CHECKED;
            PostCommand(dialog, IDC_STORE_SAVE);
            return true;
        },
        WhenStatus(IDC_STORE_STATUS, L"Stored",
                   [&](HWND dialog) {
                       stored = ControlText(dialog, IDC_STORE_STATUS);
                       bus.bootNode(kNode);
                       afterPowerCycle = bus.ObjectU32(kNode, 0x1017, 0);
                       PostCommand(dialog, IDC_STORE_RESTORE);
                   }),
        WhenStatus(IDC_STORE_STATUS, L"Defaults",
                   [&](HWND dialog) {
                       restored = ControlText(dialog, IDC_STORE_STATUS);
                       bus.bootNode(kNode);
                       afterRestore = bus.ObjectU32(kNode, 0x1017, 0);
                       PostCommand(dialog, IDCANCEL);
                   }),
    });
    SendDlgItemMessageW(dictionary, IDC_DICT_STORE, BM_CLICK, 0, 0);

    EXPECT_EQ(steps.StepsLeft(), 0);
    EXPECT_EQ(title, L"Store in Device");
    EXPECT_EQ(caps, L"stores on command; restores defaults / stores on command; restores defaults / "
                    L"stores on command; restores defaults");
    EXPECT_TRUE(allChecked);
    EXPECT_EQ(stored, L"Stored: all parameters.");
    EXPECT_EQ(afterPowerCycle, 700u) << "stored over the power cycle";
    ASSERT_EQ(answers.Seen().size(), 2u);
    EXPECT_EQ(answers.Seen()[0].text,
              L"Restore the defaults of all parameters?\nThey take effect after the next reset of the node.");
    EXPECT_EQ(answers.Seen()[1].text, L"The defaults of all parameters take effect after a reset. Reset the node now?");
    EXPECT_EQ(restored, L"Defaults restored: all parameters. They take effect after the next reset of the node.");
    EXPECT_EQ(afterRestore, heartbeat) << "the default is back after the reset";
    EXPECT_TRUE(IsWindowEnabled(window));
}

TEST_F(ConfigurationWindows, TheStoreWindowInGerman)
{
    Start(kGermanSettings);
    std::wstring title, caps, save, restore, communication;
    ModalOperator steps({
        [&](HWND dialog) {
            title = WindowText(dialog);
            caps = ControlText(dialog, IDC_STORE_CAPS_COMM);
            save = ControlText(dialog, IDC_STORE_SAVE);
            restore = ControlText(dialog, IDC_STORE_RESTORE);
            CheckRadioButton(dialog, IDC_STORE_ALL, IDC_STORE_APP, IDC_STORE_COMM);
            PostCommand(dialog, IDC_STORE_COMM);
            PostCommand(dialog, IDC_STORE_SAVE);
            return true;
        },
        WhenStatus(IDC_STORE_STATUS, L"Gespeichert",
                   [&](HWND dialog) {
                       communication = ControlText(dialog, IDC_STORE_STATUS);
                       PostCommand(dialog, IDCANCEL);
                   }),
    });
    SendDlgItemMessageW(dictionary, IDC_DICT_STORE, BM_CLICK, 0, 0);

    EXPECT_EQ(steps.StepsLeft(), 0);
    EXPECT_EQ(title, L"Im Gerät speichern");
    EXPECT_EQ(caps, L"speichert auf Befehl; stellt Standardwerte her");
    EXPECT_EQ(save, L"&Speichern");
    EXPECT_EQ(restore, L"Standard&werte herstellen ...");
    EXPECT_EQ(communication, L"Gespeichert: Kommunikationsparameter.");
}

}  // namespace
