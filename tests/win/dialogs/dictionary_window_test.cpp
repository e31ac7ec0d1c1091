// Communication > Object Dictionary (F5) through the real program against node 3 (the
// I/O module) of the simulated bus: the file found by the slave's identity, the list as
// the operator sees it, Read All with its progress, Abort, the abort code in a value cell,
// the way into Read Object and Write Object, the limit question, the filter, the German
// window, and the bus handling with communication off and on.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app.h"
#include "comm_state.h"
#include "driver.h"
#include "eds_reader.h"
#include "exchange.h"
#include "modal_operator.h"
#include "resource.h"
#include "sim_controls.h"
#include "tick.h"
#include "slave_dictionary.h"
#include "win_test_support.h"

namespace {

constexpr std::uint32_t kNode = 3;
constexpr char kGermanSettings[] = "[Language]\r\nPrimaryLanguage=7\r\nSubLanguage=1\r\n";

// The I/O module's file with two more things the slave does not know of: an object it
// does not have, and limits on its first analog output.
std::string ExtendedIoModule(const std::string& file)
{
    std::string text = file;
    std::erase(text, '\r');  // edited line by line; the reader takes either line end
    auto replace = [&text](const std::string& from, const std::string& to) {
        const std::size_t at = text.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        if (at != std::string::npos)
            text.replace(at, from.size(), to);
    };
    replace("SupportedObjects=27\n", "SupportedObjects=28\n");
    replace("27=0x6411\n", "27=0x6411\n28=0x2FFF\n");
    replace("ParameterName=Analog output 1\nObjectType=0x7\nDataType=0x0003\nAccessType=rww\nDefaultValue=0\n",
            "ParameterName=Analog output 1\nObjectType=0x7\nDataType=0x0003\nAccessType=rww\nDefaultValue=0\n"
            "LowLimit=-100\nHighLimit=100\n");
    text += "\n[2FFF]\nParameterName=Not on the slave\nObjectType=0x7\nDataType=0x0007\nAccessType=ro\n"
            "DefaultValue=0\nPDOMapping=0\n";
    return text;
}

std::vector<std::wstring> Row(HWND list, int row)
{
    std::vector<std::wstring> cells;
    for (int column = 0; column < 7; ++column)
        cells.push_back(CellText(list, row, column));
    return cells;
}

// Sees every message the thread takes from its queue: here, the marks a test posts to
// look at the window while Read All runs.
class QueueWatcher {
public:
    explicit QueueWatcher(std::function<void()> onMark)
    {
        watcher = std::move(onMark);
        hook_ = SetWindowsHookExW(WH_GETMESSAGE, Watch, nullptr, GetCurrentThreadId());
    }
    ~QueueWatcher()
    {
        UnhookWindowsHookEx(hook_);
        watcher = nullptr;
    }
    QueueWatcher(const QueueWatcher&) = delete;
    QueueWatcher& operator=(const QueueWatcher&) = delete;

    static constexpr UINT kMark = WM_APP + 16;

private:
    static LRESULT CALLBACK Watch(int code, WPARAM wParam, LPARAM lParam)
    {
        const MSG* message = reinterpret_cast<const MSG*>(lParam);
        if (code == HC_ACTION && wParam == PM_REMOVE && message->message == kMark && watcher)
            watcher();
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
    static inline std::function<void()> watcher;
    HHOOK hook_;
};

class ObjectDictionaryWindow : public ::testing::Test {
protected:
    SimControls bus;
    HWND window = nullptr;
    std::wstring testFolder;  // a folder of EDS files of this test's own
    std::string ioModule;     // the simulated slave's file, as the build put it beside the test

    void SetUp() override
    {
        ASSERT_TRUE(bus.Load());
        bus.reset();
        bus.setAnimation(0);
        ioModule = ReadFileBytes(ExecutableFolder() + L"eds\\io_module.eds");
        ASSERT_FALSE(ioModule.empty()) << "the build copies the simulated slaves' files beside the test";
        testFolder = ExecutableFolder() + L"eds_test";
        CreateDirectoryW(testFolder.c_str(), nullptr);
        WriteFileBytes(testFolder + L"\\io_module_extended.eds", ExtendedIoModule(ioModule));
        Start("");
    }

    void TearDown() override
    {
        EndProgram();
        DeleteFileW((testFolder + L"\\io_module_extended.eds").c_str());
        RemoveDirectoryW(testFolder.c_str());
        bus.Unload();
    }

    void Start(const std::string& settings)
    {
        window = StartProgram(settings);
        ASSERT_NE(window, nullptr);
    }

    void UseTestFolder() { SetEdsFolder(Utf8(testFolder).c_str()); }

    // F5 in the main window, then the idle cycle that opens the window.
    HWND Open()
    {
        PressKey(window, VK_F5);
        RunIdleCycle();
        RouteQueuedMessages();
        return DictionaryWindow();
    }

    static HWND List(HWND dialog) { return GetDlgItem(dialog, IDC_DICT_LIST); }

    static void Click(HWND dialog, int id) { SendDlgItemMessageW(dialog, id, BM_CLICK, 0, 0); }

    static void Filter(HWND dialog, const wchar_t* text)
    {
        SetDlgItemTextW(dialog, IDC_DICT_FILTER, text);
        RouteQueuedMessages();
    }

    std::vector<std::uint8_t> SlaveObject(std::uint32_t index, std::uint32_t subindex)
    {
        std::vector<std::uint8_t> bytes(1024);
        std::uint32_t length = 0;
        EXPECT_EQ(bus.getObject(kNode, index, subindex, bytes.data(), 1024, &length), kSimOk);
        bytes.resize(length);
        return bytes;
    }
};

TEST_F(ObjectDictionaryWindow, F5FindsTheSlavesFileByItsIdentityAndListsEveryEntry)
{
    const SimCounters before = bus.Counters();
    HWND dialog = Open();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(WindowText(dialog), L"<F5> Object Dictionary");
    EXPECT_EQ(ControlText(dialog, IDC_DICT_FILE), L"Node 3: io_module.eds, SimIO 8DI 8DO 2AI 2AO I/O module");
    EXPECT_EQ(bus.Counters().inits, before.inits + 1) << "the identity is read over a bus opened for it";
    EXPECT_EQ(DriverLoaded(), 0) << "and closed again";

    eds::Device device;
    std::string error;
    ASSERT_TRUE(eds::ReadDevice(ioModule, kNode, device, error)) << error;
    HWND list = List(dialog);
    ASSERT_EQ(RowCount(list), static_cast<int>(device.entries.size()));
    EXPECT_EQ(ColumnHeads(list, 7),
              (std::vector<std::wstring>{L"Index", L"Sub", L"Name", L"Data Type", L"Access", L"Default", L"Value"}));
    EXPECT_EQ(Row(list, 0),
              (std::vector<std::wstring>{L"1000", L"00", L"Device type", L"UNSIGNED32", L"ro", L"0x000F0191", L""}));
    const int vendor = FindRow(list, L"1018", L"01");
    ASSERT_GE(vendor, 0);
    EXPECT_EQ(CellText(list, vendor, 2), L"Identity object: Vendor-ID");
    for (std::size_t i = 0; i < device.entries.size(); ++i) {
        wchar_t index[8], sub[4];
        std::swprintf(index, 8, L"%04X", device.entries[i].index);
        std::swprintf(sub, 4, L"%02X", device.entries[i].subIndex);
        EXPECT_EQ(CellText(list, static_cast<int>(i), 0) + L"sub" + CellText(list, static_cast<int>(i), 1),
                  std::wstring(index) + L"sub" + sub);
    }
    EXPECT_EQ(ControlText(dialog, IDC_DICT_READ_ALL), L"Read &All");

    // F5 again, and the menu item: the same window, nothing read again.
    const std::uint32_t inits = bus.Counters().inits;
    EXPECT_EQ(Open(), dialog);
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDM_OBJECT_DICTIONARY, 0), 0);
    RunIdleCycle();
    EXPECT_EQ(DictionaryWindow(), dialog);
    EXPECT_EQ(bus.Counters().inits, inits);

    // The menu shows the item after Write Object; the close sequence closes the window.
    const std::vector<std::wstring> items = MenuItemTexts(GetMenu(window), 2);
    ASSERT_GE(items.size(), 6u);
    EXPECT_EQ(items[4], L"&Write Object ...");
    EXPECT_EQ(items[5], L"Object &Dictionary ...");
    SendMessageW(window, WM_CLOSE, 0, 0);
    RunIdleCycle();
    EXPECT_EQ(DictionaryWindow(), nullptr);
    EXPECT_FALSE(IsWindow(dialog));
}

TEST_F(ObjectDictionaryWindow, ReadAllFillsTheValuesAndShowsAnAbortInItsCell)
{
    UseTestFolder();
    HWND dialog = Open();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(ControlText(dialog, IDC_DICT_FILE), L"Node 3: io_module_extended.eds, SimIO 8DI 8DO 2AI 2AO I/O module");
    const std::uint32_t total = ReadableEntryCount();
    const std::uint32_t inits = bus.Counters().inits;

    // What the operator sees after the first entry.
    std::wstring button, progress;
    BOOL mainEnabled = TRUE;
    QueueWatcher watcher([&] {
        button = ControlText(dialog, IDC_DICT_READ_ALL);
        progress = ControlText(dialog, IDC_DICT_PROGRESS);
        mainEnabled = IsWindowEnabled(window);
    });
    PostThreadMessageW(GetCurrentThreadId(), QueueWatcher::kMark, 0, 0);
    MessageBoxAnswerer answers;
    Click(dialog, IDC_DICT_READ_ALL);
    EXPECT_EQ(button, L"&Abort");
    EXPECT_EQ(progress, L"Reading 1 of " + std::to_wstring(total) + L" ...");
    EXPECT_FALSE(mainEnabled) << "Start, Stop, Search and Close are out of reach meanwhile";

    EXPECT_TRUE(answers.Seen().empty()) << "no message box, not even for the abort";
    EXPECT_EQ(ControlText(dialog, IDC_DICT_PROGRESS),
              std::to_wstring(total) + L" of " + std::to_wstring(total) + L" read");
    EXPECT_EQ(ControlText(dialog, IDC_DICT_READ_ALL), L"Read &All");
    EXPECT_TRUE(IsWindowEnabled(window));
    EXPECT_EQ(bus.Counters().inits, inits + 1) << "one bus open for the whole reading";
    EXPECT_EQ(DriverLoaded(), 0);

    HWND list = List(dialog);
    EXPECT_EQ(CellText(list, FindRow(list, L"1008", L"00"), 6), L"SimIO 8DI 8DO 2AI 2AO");
    EXPECT_EQ(CellText(list, FindRow(list, L"1000", L"00"), 6), L"0x000F0191 (983441)");
    EXPECT_EQ(CellText(list, FindRow(list, L"1018", L"02"), 6), L"0x00000401 (1025)");
    EXPECT_EQ(CellText(list, FindRow(list, L"2FFF", L"00"), 6), L"Abort 06020000h");
    int empty = 0;
    for (int row = 0; row < RowCount(list); ++row)
        empty += CellText(list, row, 6).empty() ? 1 : 0;
    EXPECT_EQ(empty, RowCount(list) - static_cast<int>(total)) << "every readable entry has a value";

    // The values stay while the filter narrows and widens the list.
    Filter(dialog, L"2fff");
    ASSERT_EQ(RowCount(list), 1);
    EXPECT_EQ(CellText(list, 0, 6), L"Abort 06020000h");
    Filter(dialog, L"");
    EXPECT_EQ(CellText(list, FindRow(list, L"1008", L"00"), 6), L"SimIO 8DI 8DO 2AI 2AO");
}

TEST_F(ObjectDictionaryWindow, AbortStopsReadAllAfterTheEntryUnderWay)
{
    HWND dialog = Open();
    ASSERT_NE(dialog, nullptr);
    const std::uint32_t total = ReadableEntryCount();
    // The search passes one message on after each entry: Abort is the fifth.
    for (int i = 0; i < 4; ++i)
        PostMessageW(dialog, WM_NULL, 0, 0);
    PostCommand(dialog, IDC_DICT_READ_ALL);
    Click(dialog, IDC_DICT_READ_ALL);
    EXPECT_EQ(ControlText(dialog, IDC_DICT_PROGRESS), L"Aborted after 5 of " + std::to_wstring(total));
    HWND list = List(dialog);
    int filled = 0;
    for (int row = 0; row < RowCount(list); ++row)
        filled += CellText(list, row, 6).empty() ? 0 : 1;
    EXPECT_EQ(filled, 5);
    EXPECT_EQ(DriverLoaded(), 0);
    EXPECT_TRUE(IsWindowEnabled(window));

    // Close while it runs: it stops, then the window closes.
    PostCommand(dialog, IDCANCEL);
    Click(dialog, IDC_DICT_READ_ALL);
    EXPECT_FALSE(IsWindow(dialog));
    EXPECT_EQ(DictionaryWindow(), nullptr);
    EXPECT_TRUE(IsWindowEnabled(window));
    EXPECT_EQ(DriverLoaded(), 0);
}

TEST_F(ObjectDictionaryWindow, EnterOpensReadObjectWithTheEntrysFormatAndShowsTheValue)
{
    HWND dialog = Open();
    ASSERT_NE(dialog, nullptr);
    HWND list = List(dialog);
    struct Case {
        const wchar_t* filter;
        int format;
        const wchar_t* index;
        const wchar_t* sub;
        std::wstring value;
        const wchar_t* length;
    };
    const std::uint32_t heartbeat = bus.ObjectU32(kNode, 0x1017, 0);
    const Case cases[] = {
        {L"heartbeat", IDC_FORMAT_UNSIGNED, L"1017", L"00", std::to_wstring(heartbeat), L"2"},
        {L"1018sub1", IDC_FORMAT_UNSIGNED, L"1018", L"01", L"3850", L"4"},
        {L"1008", IDC_FORMAT_RAW, L"1008", L"00", L"53 69 6D 49 4F ", L"21"},
        {L"6401sub1", IDC_FORMAT_SIGNED, L"6401", L"01", L"0", L"2"},
    };
    for (const Case& c : cases) {
        Filter(dialog, c.filter);
        ASSERT_EQ(RowCount(list), 1) << Utf8(c.filter);
        SetFocus(list);
        PressKey(list, VK_RETURN);
        HWND read = ReadObjectDialog();
        ASSERT_NE(read, nullptr);
        EXPECT_EQ(ControlText(read, IDC_OBJECT_INDEX), c.index);
        EXPECT_EQ(ControlText(read, IDC_OBJECT_SUBINDEX), c.sub);
        EXPECT_EQ(IsDlgButtonChecked(read, c.format), BST_CHECKED) << Utf8(c.filter);
        // The read was posted with the opening: the next idle cycle shows the value.
        RunIdleCycle();
        EXPECT_EQ(ControlText(read, IDC_RESULT_LENGTH), c.length);
        EXPECT_EQ(ControlText(read, IDC_RESULT_VALUE).substr(0, c.value.size()), c.value) << Utf8(c.filter);
    }
    EXPECT_EQ(DriverLoaded(), 0);

    // A double click on a row does the same.
    Filter(dialog, L"1018sub2");
    RECT row{LVIR_BOUNDS, 0, 0, 0};
    ASSERT_TRUE(SendMessageW(list, LVM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&row)));
    const LPARAM point = MAKELPARAM((row.left + row.right) / 2, (row.top + row.bottom) / 2);
    // (The first click of the two selects the row, as the filter already has.)
    SendMessageW(list, WM_LBUTTONDBLCLK, MK_LBUTTON, point);
    SendMessageW(list, WM_LBUTTONUP, 0, point);
    RouteQueuedMessages();
    ASSERT_NE(ReadObjectDialog(), nullptr);
    EXPECT_EQ(ControlText(ReadObjectDialog(), IDC_OBJECT_SUBINDEX), L"02");
    RunIdleCycle();
    EXPECT_EQ(ControlText(ReadObjectDialog(), IDC_RESULT_VALUE), L"1025");
}

TEST_F(ObjectDictionaryWindow, ShiftEnterAndTheWriteButtonOpenWriteObjectWithTheTypesWidth)
{
    HWND dialog = Open();
    ASSERT_NE(dialog, nullptr);
    Click(dialog, IDC_DICT_READ_ALL);
    HWND list = List(dialog);
    Filter(dialog, L"heartbeat");
    ASSERT_EQ(RowCount(list), 1);
    SetFocus(list);
    BYTE keys[256];
    GetKeyboardState(keys);
    keys[VK_SHIFT] = 0x80;
    SetKeyboardState(keys);
    PressKey(list, VK_RETURN);
    keys[VK_SHIFT] = 0;
    SetKeyboardState(keys);
    HWND write = WriteObjectDialog();
    ASSERT_NE(write, nullptr);
    EXPECT_EQ(ReadObjectDialog(), nullptr);
    EXPECT_EQ(ControlText(write, IDC_OBJECT_INDEX), L"1017");
    EXPECT_EQ(IsDlgButtonChecked(write, IDC_FORMAT_UNSIGNED), BST_CHECKED);
    EXPECT_EQ(IsDlgButtonChecked(write, IDC_COUNT_2), BST_CHECKED) << "UNSIGNED16 is two bytes";
    EXPECT_EQ(ControlText(write, IDC_SEND_VALUE), std::to_wstring(bus.ObjectU32(kNode, 0x1017, 0)))
        << "the value last read";

    SetDlgItemTextW(write, IDC_SEND_VALUE, L"1500");
    bus.TakeSent();
    SendDlgItemMessageW(write, IDOK, BM_CLICK, 0, 0);
    RunIdleCycle();
    EXPECT_EQ(SlaveObject(0x1017, 0), (std::vector<std::uint8_t>{0xDC, 0x05}));

    // The Write button too; a Raw entry takes its value's own bytes.
    Filter(dialog, L"1008");
    Click(dialog, IDC_DICT_WRITE);
    ASSERT_NE(WriteObjectDialog(), nullptr);
    EXPECT_EQ(IsDlgButtonChecked(WriteObjectDialog(), IDC_FORMAT_RAW), BST_CHECKED);
    EXPECT_EQ(ControlText(WriteObjectDialog(), IDC_SEND_VALUE).substr(0, 6), L"53 69 ");
}

TEST_F(ObjectDictionaryWindow, AnotherSlaveGetsItsOwnFileAndAWriteOnlyEntryOpensWriteObject)
{
    HWND dialog = Open();
    ASSERT_NE(dialog, nullptr);
    SetDlgItemTextW(window, IDC_ADDRESS, L"5");
    EXPECT_EQ(Open(), dialog) << "the same window, filled anew";
    EXPECT_EQ(ControlText(dialog, IDC_DICT_FILE).substr(0, 20), L"Node 5: drive.eds, S");
    HWND list = List(dialog);
    Filter(dialog, L"2001");
    ASSERT_EQ(RowCount(list), 1);
    EXPECT_EQ(CellText(list, 0, 4), L"wo");
    SetFocus(list);
    PressKey(list, VK_RETURN);
    HWND write = WriteObjectDialog();
    ASSERT_NE(write, nullptr) << "an entry that cannot be read opens Write Object";
    EXPECT_EQ(ReadObjectDialog(), nullptr);
    EXPECT_EQ(ControlText(write, IDC_OBJECT_INDEX), L"2001");
    EXPECT_EQ(IsDlgButtonChecked(write, IDC_COUNT_4), BST_CHECKED);
    EXPECT_EQ(ControlText(write, IDC_SEND_VALUE), L"0") << "the file's default";

    // Read All leaves the write-only entry out.
    Filter(dialog, L"");
    Click(dialog, IDC_DICT_READ_ALL);
    EXPECT_EQ(CellText(list, FindRow(list, L"2001", L"00"), 6), L"");
    EXPECT_NE(CellText(list, FindRow(list, L"2000", L"00"), 6).find(L"SimDrive virtual positioning drive"),
              std::wstring::npos)
        << "a segmented string";
}

TEST_F(ObjectDictionaryWindow, AValueOutsideTheEntrysLimitsIsWrittenOnlyWhenConfirmed)
{
    UseTestFolder();
    HWND dialog = Open();
    ASSERT_NE(dialog, nullptr);
    Filter(dialog, L"6411sub1");
    ASSERT_EQ(RowCount(List(dialog)), 1);
    Click(dialog, IDC_DICT_WRITE);
    HWND write = WriteObjectDialog();
    ASSERT_NE(write, nullptr);
    EXPECT_EQ(IsDlgButtonChecked(write, IDC_FORMAT_SIGNED), BST_CHECKED);
    EXPECT_EQ(IsDlgButtonChecked(write, IDC_COUNT_2), BST_CHECKED);
    const std::vector<std::uint8_t> before = SlaveObject(0x6411, 1);

    SetDlgItemTextW(write, IDC_SEND_VALUE, L"500");
    {
        MessageBoxAnswerer answers({IDCANCEL});
        bus.TakeSent();
        SendDlgItemMessageW(write, IDOK, BM_CLICK, 0, 0);
        RunIdleCycle();
        ASSERT_EQ(answers.Seen().size(), 1u);
        EXPECT_EQ(answers.Seen()[0].text,
                  L"The value is outside the limits of this object.\nAllowed: -100 to 100\nWrite it anyway?");
        EXPECT_EQ(answers.Seen()[0].buttons, (std::vector<int>{IDOK, IDCANCEL}));
        EXPECT_TRUE(bus.TakeSent().empty()) << "Cancel sends nothing";
        EXPECT_EQ(SlaveObject(0x6411, 1), before);
    }
    {
        MessageBoxAnswerer answers({IDOK});
        SendDlgItemMessageW(write, IDOK, BM_CLICK, 0, 0);
        RunIdleCycle();
        EXPECT_EQ(answers.Seen().size(), 1u);
        EXPECT_EQ(SlaveObject(0x6411, 1), (std::vector<std::uint8_t>{0xF4, 0x01}));
    }
    {
        // Within the limits, or another object typed in: no question.
        MessageBoxAnswerer answers;
        SetDlgItemTextW(write, IDC_SEND_VALUE, L"-100");
        SendDlgItemMessageW(write, IDOK, BM_CLICK, 0, 0);
        RunIdleCycle();
        EXPECT_EQ(SlaveObject(0x6411, 1), (std::vector<std::uint8_t>{0x9C, 0xFF}));
        SetDlgItemTextW(write, IDC_SEND_VALUE, L"500");
        SetDlgItemTextW(write, IDC_OBJECT_SUBINDEX, L"2");
        SendDlgItemMessageW(write, IDOK, BM_CLICK, 0, 0);
        RunIdleCycle();
        EXPECT_EQ(SlaveObject(0x6411, 2), (std::vector<std::uint8_t>{0xF4, 0x01}));
        EXPECT_TRUE(answers.Seen().empty());
    }
}

TEST_F(ObjectDictionaryWindow, TheFilterNarrowsTheListByNameOrIndexAsItIsTyped)
{
    HWND dialog = Open();
    ASSERT_NE(dialog, nullptr);
    HWND list = List(dialog);
    const int all = RowCount(list);
    struct Case {
        const wchar_t* filter;
        int rows;
        const wchar_t* first;  // index of the first row
    };
    const Case cases[] = {
        {L"1018", 5, L"1018"}, {L"0x1018", 5, L"1018"},      {L"1018sub2", 1, L"1018"}, {L"PRODUCT", 1, L"1018"},
        {L"64", 6, L"6401"},   {L"nothing like it", 0, L""}, {L"", all, L"1000"},
    };
    for (const Case& c : cases) {
        Filter(dialog, c.filter);
        EXPECT_EQ(RowCount(list), c.rows) << Utf8(c.filter);
        if (c.rows > 0) {
            EXPECT_EQ(CellText(list, 0, 0), c.first) << Utf8(c.filter);
        }
    }
}

TEST_F(ObjectDictionaryWindow, TheGermanWindowSpeaksGerman)
{
    EndProgram();
    Start(kGermanSettings);
    UseTestFolder();
    HWND dialog = Open();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(WindowText(dialog), L"<F5> Objektverzeichnis");
    EXPECT_EQ(ColumnHeads(List(dialog), 7),
              (std::vector<std::wstring>{L"Index", L"Sub", L"Name", L"Datentyp", L"Zugriff", L"Vorgabe", L"Wert"}));
    EXPECT_EQ(ControlText(dialog, IDC_DICT_READ_ALL), L"&Alle lesen");
    EXPECT_EQ(ControlText(dialog, IDOK), L"&Lesen ...");
    EXPECT_EQ(ControlText(dialog, IDC_DICT_WRITE), L"Sch&reiben ...");
    EXPECT_EQ(ControlText(dialog, IDC_DICT_OPEN), L"&EDS öffnen ...");
    EXPECT_EQ(ControlText(dialog, IDCANCEL), L"&Schliessen");
    EXPECT_EQ(ControlText(dialog, IDC_DICT_FILE).substr(0, 10), L"Knoten 3: ");
    const std::vector<std::wstring> items = MenuItemTexts(GetMenu(window), 2);
    ASSERT_GE(items.size(), 6u);
    EXPECT_EQ(items[5], L"Objekt&verzeichnis ...");

    std::wstring button;
    QueueWatcher watcher([&] { button = ControlText(dialog, IDC_DICT_READ_ALL); });
    PostThreadMessageW(GetCurrentThreadId(), QueueWatcher::kMark, 0, 0);
    Click(dialog, IDC_DICT_READ_ALL);
    EXPECT_EQ(button, L"&Abbrechen");
    const std::wstring total = std::to_wstring(ReadableEntryCount());
    EXPECT_EQ(ControlText(dialog, IDC_DICT_PROGRESS), total + L" von " + total + L" gelesen");
    HWND list = List(dialog);
    EXPECT_EQ(CellText(list, FindRow(list, L"2FFF", L"00"), 6), L"Abbruch 06020000h");

    // A silent slave: the one message, and the entry's cell. Every reading of the clock
    // moves it on, so the time-out runs out in CPU time.
    SetManualTickStep(1);
    bus.setNodeMode(kNode, kSimNodeSilent, 0);
    MessageBoxAnswerer answers;
    Click(dialog, IDC_DICT_READ_ALL);
    ASSERT_EQ(answers.Seen().size(), 1u);
    EXPECT_EQ(answers.Seen()[0].text, L"Kommunikationsfehler!");
    EXPECT_EQ(CellText(list, 0, 6), L"keine Antwort");
    EXPECT_EQ(ControlText(dialog, IDC_DICT_PROGRESS), L"Abgebrochen nach 1 von " + total);
    SetManualTickStep(0);
}

TEST_F(ObjectDictionaryWindow, WithCommunicationOnReadAllUsesTheOpenBus)
{
    {
        MessageBoxAnswerer answers({IDOK});
        SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDM_START, 0), 0);
    }
    ASSERT_EQ(commState.active, 1u);
    const SimCounters before = bus.Counters();
    HWND dialog = Open();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(ControlText(dialog, IDC_DICT_FILE), L"Node 3: io_module.eds, SimIO 8DI 8DO 2AI 2AO I/O module");
    MessageBoxAnswerer answers;
    Click(dialog, IDC_DICT_READ_ALL);
    EXPECT_TRUE(answers.Seen().empty());
    const std::wstring total = std::to_wstring(ReadableEntryCount());
    EXPECT_EQ(ControlText(dialog, IDC_DICT_PROGRESS), total + L" of " + total + L" read");
    EXPECT_EQ(bus.Counters().inits, before.inits) << "no bus opened or closed for it";
    EXPECT_EQ(bus.Counters().closes, before.closes);
    EXPECT_EQ(commState.active, 1u);
    EXPECT_EQ(DriverLoaded(), 1);
    EXPECT_EQ(ActivePump, MessageHook) << "the exchange still passes messages on";
}

TEST_F(ObjectDictionaryWindow, WithoutAMatchingFileTheNodesRememberedFileIsShown)
{
    EndProgram();
    const std::wstring remembered = testFolder + L"\\io_module_extended.eds";
    Start("[ObjectDictionary]\r\nNode3=" + Utf8(remembered) + "\r\n");
    SetEdsFolder(Utf8(ExecutableFolder() + L"no_such_folder").c_str());
    HWND dialog = Open();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(objectDictionary.source, EdsSource::Remembered);
    EXPECT_EQ(ControlText(dialog, IDC_DICT_FILE), L"Node 3: io_module_extended.eds, SimIO 8DI 8DO 2AI 2AO I/O module");
    EXPECT_GE(FindRow(List(dialog), L"2FFF", L"00"), 0);
}

}  // namespace
