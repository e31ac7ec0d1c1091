// The main window as the operator works it: the address field, the output byte editors,
// the Freeze box, the port and bit-rate lists, the deferred commands, the enabling by
// communication state, and the layout of both languages.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app.h"
#include "comm_state.h"
#include "driver.h"
#include "main_window.h"
#include "pdo_lists.h"
#include "process_image.h"
#include "resource.h"
#include "settings.h"
#include "win_test_support.h"

namespace {

// Communication on or off as the master sets it: its flag, then the indicator.
void SetActive(HWND window, bool on)
{
    commState.active = on ? 1 : 0;
    ShowCommIndicator(window, on);
}

const std::wstring kPlainSeparator(57, L'-');

class MainWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        window_ = StartProgram("");
        ASSERT_NE(window_, nullptr);
    }
    void TearDown() override { EndProgram(); }

    HWND Control(int id) const { return GetDlgItem(window_, id); }
    std::wstring Text(int id) const { return ControlText(window_, id); }
    bool Enabled(int id) const { return IsWindowEnabled(Control(id)) != 0; }
    bool Checked(int id) const { return IsDlgButtonChecked(window_, id) == BST_CHECKED; }

    std::wstring CheckedBits() const
    {
        std::wstring bits;
        for (int bit = 7; bit >= 0; --bit)
            bits += Checked(IDC_BIT0 + bit) ? L'1' : L'0';
        return bits;
    }

    // Two output PDOs as the configuration reading lays them out: PDO 1 with one byte,
    // PDO 2 with two, all Data; the output list shows them.
    void LayOutOutputs(std::uint32_t first, std::uint32_t second, std::uint32_t third)
    {
        const std::uint32_t values[] = {first, second, third};
        const int indexes[] = {0, 8, 9};
        for (int i = 0; i < 8; ++i)
            OutputTable[static_cast<std::size_t>(i)].kind = EntryAbsent;
        for (int n = 0; n < 3; ++n) {
            PdoEntry& entry = OutputTable[static_cast<std::size_t>(indexes[n])];
            entry.kind = EntryData;
            entry.pdoNumber = n == 0 ? 1 : 2;
            entry.byteIndex = static_cast<std::uint8_t>(n == 0 ? 0 : n - 1);
            entry.value = values[n];
        }
        RefreshPdoLists(window_, processImage->inputs, false);
    }
    // Output list lines: 0 separator, 1 PDO1 [0], 2 separator, 3 PDO2 [0], 4 PDO2 [1].

    // Types `text` into field 1004 and presses Enter there.
    void EnterOutputByte(const wchar_t* text)
    {
        SetFocus(Control(IDC_OUTPUT_BYTE));
        SetDlgItemTextW(window_, IDC_OUTPUT_BYTE, text);
        PressKey(Control(IDC_OUTPUT_BYTE), VK_RETURN);
    }

    HWND window_ = nullptr;
};

// --- Current slave address ------------------------------------------------------------

struct AddressCase {
    const wchar_t* typed;
    std::int32_t currAdr;
    const wchar_t* shown;
};

TEST_F(MainWindow, AddressFieldTakesOnly1To127WhenLeft)
{
    const AddressCase cases[] = {
        {L"0", 3, L"3"},       {L"128", 3, L"3"},  {L"", 3, L"3"},
        {L"-5", 3, L"3"},      {L"x7", 3, L"3"},   {L"1", 1, L"1"},
        {L"127", 127, L"127"}, {L"64", 64, L"64"}, {L"99999999999", 64, L"64"},
    };
    for (const AddressCase& c : cases) {
        SetFocus(Control(IDC_ADDRESS));
        SetDlgItemTextW(window_, IDC_ADDRESS, c.typed);
        SetFocus(Control(IDC_OUTPUT_LIST));  // leaving the field

        EXPECT_EQ(appSettings.CurrAdr, c.currAdr) << "typed " << testing::PrintToString(std::wstring(c.typed));
        EXPECT_EQ(Text(IDC_ADDRESS), c.shown) << "typed " << testing::PrintToString(std::wstring(c.typed));
    }
}

// --- Output byte editors ----------------------------------------------------------------

TEST_F(MainWindow, SelectingADataLineShowsItsByte)
{
    LayOutOutputs(0x00, 0xA5, 0x3C);

    ClickListLine(Control(IDC_OUTPUT_LIST), 3);

    EXPECT_EQ(Text(IDC_OUTPUT_BYTE), L"A5");
    EXPECT_EQ(CheckedBits(), L"10100101");
    EXPECT_TRUE(Enabled(IDC_OUTPUT_BYTE));
    for (int bit = 0; bit < 8; ++bit)
        EXPECT_TRUE(Enabled(IDC_BIT0 + bit));
}

struct ByteTextCase {
    const wchar_t* typed;
    std::uint32_t stored;
    const wchar_t* shown;
    const wchar_t* bits;
};

TEST_F(MainWindow, OutputByteFieldTakesHexUpToFF)
{
    const ByteTextCase cases[] = {
        {L"0x1f", 0x1F, L"1F", L"00011111"},
        {L"1FF", 0x1F, L"1F", L"00011111"},
        {L"", 0x1F, L"1F", L"00011111"},
        {L"zz", 0x1F, L"1F", L"00011111"},
        {L"-1", 0x1F, L"1F", L"00011111"},
        {L"  a5", 0xA5, L"A5", L"10100101"},
        {L"7", 0x07, L"07", L"00000111"},
        {L"80h", 0x80, L"80", L"10000000"},
        {L"0x80", 0x80, L"0x80", L"10000000"},  // the same byte: the text stays as typed
        {L"FFFFFFFFFFFFFFFFFFFF", 0x80, L"80", L"10000000"},
        {L"ff", 0xFF, L"FF", L"11111111"},
    };
    LayOutOutputs(0x00, 0x00, 0x00);
    ClickListLine(Control(IDC_OUTPUT_LIST), 3);

    for (const ByteTextCase& c : cases) {
        EnterOutputByte(c.typed);

        const std::string label = "typed " + testing::PrintToString(std::wstring(c.typed));
        EXPECT_EQ(OutputTable[8].value, c.stored) << label;
        EXPECT_EQ(Text(IDC_OUTPUT_BYTE), c.shown) << label;
        EXPECT_EQ(CheckedBits(), c.bits) << label;
    }
    EXPECT_EQ(ListLines(Control(IDC_OUTPUT_LIST))[3], L"PDO2   [0]:\tFFh\t11111111\t.");
    EXPECT_EQ(OutputTable[0].value, 0u);
    EXPECT_EQ(OutputTable[9].value, 0u);
}

TEST_F(MainWindow, OutputByteIsAppliedWhenTheFieldIsLeft)
{
    LayOutOutputs(0x00, 0x00, 0x00);
    ClickListLine(Control(IDC_OUTPUT_LIST), 4);
    SetFocus(Control(IDC_OUTPUT_BYTE));
    SetDlgItemTextW(window_, IDC_OUTPUT_BYTE, L"0x1f");

    SetFocus(Control(IDC_ADDRESS));

    EXPECT_EQ(OutputTable[9].value, 0x1Fu);
    EXPECT_EQ(Text(IDC_OUTPUT_BYTE), L"1F");
    EXPECT_EQ(CheckedBits(), L"00011111");
    EXPECT_EQ(ListLines(Control(IDC_OUTPUT_LIST))[4], L"PDO2   [1]:\t1Fh\t00011111\t.");
}

TEST_F(MainWindow, EnterAppliesTheByteOnlyInTheOutputByteField)
{
    LayOutOutputs(0x00, 0x00, 0x00);
    ClickListLine(Control(IDC_OUTPUT_LIST), 1);
    SetDlgItemTextW(window_, IDC_OUTPUT_BYTE, L"55");

    SetFocus(Control(IDC_OUTPUT_LIST));
    PressKey(Control(IDC_OUTPUT_LIST), VK_RETURN);
    EXPECT_EQ(OutputTable[0].value, 0u);

    SetFocus(Control(IDC_OUTPUT_BYTE));
    PressKey(Control(IDC_OUTPUT_BYTE), VK_RETURN);
    EXPECT_EQ(OutputTable[0].value, 0x55u);
}

TEST_F(MainWindow, BitBoxesWriteTheSelectedByte)
{
    LayOutOutputs(0x00, 0x00, 0x81);
    ClickListLine(Control(IDC_OUTPUT_LIST), 4);

    SendMessageW(Control(IDC_BIT0 + 3), BM_CLICK, 0, 0);
    EXPECT_EQ(OutputTable[9].value, 0x89u);
    EXPECT_EQ(Text(IDC_OUTPUT_BYTE), L"89");

    SendMessageW(Control(IDC_BIT7), BM_CLICK, 0, 0);
    EXPECT_EQ(OutputTable[9].value, 0x09u);
    EXPECT_EQ(Text(IDC_OUTPUT_BYTE), L"09");
    EXPECT_EQ(ListLines(Control(IDC_OUTPUT_LIST))[4], L"PDO2   [1]:\t09h\t00001001\t.");
    EXPECT_EQ(OutputTable[8].value, 0u);
}

TEST_F(MainWindow, SeparatorLineDisablesTheEditorsAndTakesTheirFocus)
{
    LayOutOutputs(0x00, 0xFF, 0x00);
    ClickListLine(Control(IDC_OUTPUT_LIST), 3);
    SetFocus(Control(IDC_BIT0 + 2));

    // The selection moves to the separator above PDO 2 (by keyboard, say).
    SendMessageW(Control(IDC_OUTPUT_LIST), LB_SETCURSEL, 2, 0);
    Notify(window_, IDC_OUTPUT_LIST, LBN_SELCHANGE);

    EXPECT_EQ(Text(IDC_OUTPUT_BYTE), L"00");
    EXPECT_EQ(CheckedBits(), L"00000000");
    EXPECT_FALSE(Enabled(IDC_OUTPUT_BYTE));
    for (int bit = 0; bit < 8; ++bit)
        EXPECT_FALSE(Enabled(IDC_BIT0 + bit));
    EXPECT_EQ(GetFocus(), Control(IDC_OUTPUT_LIST));
    EXPECT_EQ(OutputTable[8].value, 0xFFu);
}

TEST_F(MainWindow, EditorsAreDisabledWhileNothingIsSelected)
{
    EXPECT_FALSE(Enabled(IDC_OUTPUT_BYTE));
    EXPECT_EQ(Text(IDC_OUTPUT_BYTE), L"00");

    LayOutOutputs(0x12, 0x00, 0x00);

    EXPECT_FALSE(Enabled(IDC_OUTPUT_BYTE));
    EXPECT_FALSE(Enabled(IDC_BIT0));
    // Leaving the field with no line selected applies nothing.
    SetDlgItemTextW(window_, IDC_OUTPUT_BYTE, L"34");
    Notify(window_, IDC_OUTPUT_BYTE, EN_KILLFOCUS);
    EXPECT_EQ(OutputTable[0].value, 0x12u);
    EXPECT_EQ(Text(IDC_OUTPUT_BYTE), L"00");
}

TEST_F(MainWindow, FreezeBoxSetsTheFlag)
{
    SendMessageW(Control(IDC_FREEZE), BM_CLICK, 0, 0);
    EXPECT_EQ(commState.freezeOutputs, 1u);
    SendMessageW(Control(IDC_FREEZE), BM_CLICK, 0, 0);
    EXPECT_EQ(commState.freezeOutputs, 0u);
}

TEST_F(MainWindow, CommunicationIndicatorCannotBeClicked)
{
    SendMessageW(Control(IDC_COMM_ACTIVE), BM_CLICK, 0, 0);
    EXPECT_FALSE(Checked(IDC_COMM_ACTIVE));
    EXPECT_EQ(commState.active, 0u);
}

// --- Port and bit rate ------------------------------------------------------------------

TEST_F(MainWindow, BitRateAndPortListsSetTheSettings)
{
    SendDlgItemMessageW(window_, IDC_BAUD, CB_SETCURSEL, 5, 0);
    Notify(window_, IDC_BAUD, CBN_SELCHANGE);
    EXPECT_EQ(appSettings.Baud, 5);

    appSettings.PrinterPort = 0;
    Notify(window_, IDC_PORT, CBN_SELCHANGE);
    EXPECT_EQ(appSettings.PrinterPort, 4096);

    // A list without selection is built anew from the settings.
    appSettings.Baud = 7;
    SendDlgItemMessageW(window_, IDC_BAUD, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
    Notify(window_, IDC_BAUD, CBN_SELCHANGE);
    EXPECT_EQ(SendDlgItemMessageW(window_, IDC_BAUD, CB_GETCURSEL, 0, 0), 7);
    EXPECT_EQ(appSettings.Baud, 7);
}

// --- Commands ---------------------------------------------------------------------------

TEST_F(MainWindow, MenuCommandsLeaveTheirDeferredCommand)
{
    struct {
        WORD command;
        std::uint32_t deferred;
    } const cases[] = {{IDM_STOP, 2}, {IDM_READ_OBJECT, 3}, {IDM_WRITE_OBJECT, 4}, {IDM_EXIT, 1}, {IDCANCEL, 1}};
    for (const auto& c : cases) {
        commState.DeferredCommand = 0;
        SendMessageW(window_, WM_COMMAND, MAKEWPARAM(c.command, 0), 0);
        EXPECT_EQ(commState.DeferredCommand, c.deferred) << "command " << c.command;
        EXPECT_TRUE(IsWindow(window_));
    }
    // A new code replaces one not yet carried out.
    SendMessageW(window_, WM_COMMAND, MAKEWPARAM(IDM_STOP, 0), 0);
    SendMessageW(window_, WM_COMMAND, MAKEWPARAM(IDM_READ_OBJECT, 0), 0);
    EXPECT_EQ(commState.DeferredCommand, 3u);
    commState.DeferredCommand = 0;
}

TEST_F(MainWindow, StartCancelledAtTheWarningLeavesCommunicationOff)
{
    MessageBoxAnswerer answerer({IDCANCEL});
    SetDlgItemTextW(window_, IDC_ADDRESS, L"0");

    SendMessageW(window_, WM_COMMAND, MAKEWPARAM(IDM_START, 0), 0);

    ASSERT_EQ(answerer.Seen().size(), 1u);
    EXPECT_EQ(answerer.Seen()[0].caption, L"Velomar");
    EXPECT_EQ(answerer.Seen()[0].text, L"Warning!\nOutputs may be modified!");
    EXPECT_EQ(answerer.Seen()[0].buttons, (std::vector<int>{IDOK, IDCANCEL}));
    EXPECT_EQ(commState.active, 0u);
    EXPECT_EQ(DriverLoaded(), 0);
    EXPECT_EQ(Text(IDC_ADDRESS), L"3");  // the address was taken over first
    EXPECT_EQ(GetMenuState(GetMenu(window_), IDM_STOP, MF_BYCOMMAND) & MF_GRAYED, static_cast<UINT>(MF_GRAYED));
}

TEST_F(MainWindow, SearchSlavesTakesTheAddressFirst)
{
    SetDlgItemTextW(window_, IDC_ADDRESS, L"77");
    {
        // No driver library lies beside this test: the search finds nothing and ends.
        MessageBoxAnswerer answers;
        SendMessageW(window_, WM_COMMAND, MAKEWPARAM(IDM_SEARCH_SLAVES, 0), 0);
        ASSERT_EQ(answers.Seen().size(), 2u);
        EXPECT_EQ(answers.Seen()[0].text, L"Unable to load CAN DLL!");
        EXPECT_EQ(answers.Seen()[1].text, L"No Slave found!");
    }
    EXPECT_EQ(appSettings.CurrAdr, 77);

    SetActive(window_, true);
    SetDlgItemTextW(window_, IDC_ADDRESS, L"200");
    SendMessageW(window_, WM_COMMAND, MAKEWPARAM(IDM_SEARCH_SLAVES, 0), 0);
    EXPECT_EQ(Text(IDC_ADDRESS), L"77");
    SetActive(window_, false);
}

// --- Enabling by communication state ------------------------------------------------------

TEST_F(MainWindow, MenuAndControlsFollowTheCommunicationState)
{
    HMENU menu = GetMenu(window_);
    auto grayed = [&](UINT command) { return (GetMenuState(menu, command, MF_BYCOMMAND) & MF_GRAYED) != 0; };
    const UINT alwaysEnabled[] = {IDM_EXIT, IDM_READ_OBJECT, IDM_WRITE_OBJECT, IDM_HELP_CONTENTS, IDM_ABOUT};

    for (bool active : {false, true, false}) {
        SetActive(window_, false);
        UpdateCommControls(window_);
        SetFocus(Control(IDC_BAUD));
        SetActive(window_, active);
        UpdateCommControls(window_);

        EXPECT_EQ(grayed(IDM_SEARCH_SLAVES), active);
        EXPECT_EQ(grayed(IDM_START), active);
        EXPECT_EQ(grayed(IDM_STOP), !active);
        for (UINT command : alwaysEnabled)
            EXPECT_FALSE(grayed(command)) << command;
        EXPECT_EQ(Enabled(IDC_PORT), !active);
        EXPECT_EQ(Enabled(IDC_BAUD), !active);
        EXPECT_EQ(Enabled(IDC_ADDRESS), !active);
        EXPECT_EQ(Checked(IDC_COMM_ACTIVE), active);
        EXPECT_EQ(GetFocus(), active ? Control(IDC_OUTPUT_LIST) : Control(IDC_BAUD));
        EXPECT_EQ(WindowText(window_), L"Velomar");
    }
}

// --- Layout ---------------------------------------------------------------------------------

struct Placement {
    int id;  // or IDC_STATIC with the text below
    const wchar_t* text;
    int x, y, width, height;  // dialog units; height 0: not checked (drop-down lists)
};

void ExpectLayout(HWND window, const std::vector<Placement>& placements)
{
    for (const Placement& p : placements) {
        // Position and size are converted to pixels each on its own, as the dialog
        // manager does.
        RECT expected{p.x, p.y, p.width, p.height};
        MapDialogRect(window, &expected);
        auto placeOf = [window](HWND control) {
            RECT place{};
            GetWindowRect(control, &place);
            MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&place), 2);
            return place;
        };

        HWND control = nullptr;
        if (p.id != IDC_STATIC) {
            control = GetDlgItem(window, p.id);
        } else {
            // Controls without an identifier are found by their text (the column head
            // is there twice: the one at the expected place, else the first).
            for (HWND child = GetWindow(window, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT))
                if (WindowText(child) == p.text && (control == nullptr || placeOf(child).left == expected.left))
                    control = child;
        }
        ASSERT_NE(control, nullptr) << p.id << " " << testing::PrintToString(std::wstring(p.text ? p.text : L""));
        if (p.text != nullptr) {
            EXPECT_EQ(WindowText(control), p.text) << p.id;
        }
        const RECT actual = placeOf(control);
        EXPECT_EQ(actual.left, expected.left) << p.id;
        EXPECT_EQ(actual.top, expected.top) << p.id;
        EXPECT_EQ(actual.right - actual.left, expected.right) << p.id;
        if (p.height != 0) {
            EXPECT_EQ(actual.bottom - actual.top, expected.bottom) << p.id;
        }
    }
}

const std::vector<Placement> kCommonPlacements = {
    {IDC_PORT_LABEL, L"CAN Dongle &Port", 5, 30, 95, 8},
    {IDC_PORT, nullptr, 125, 30, 70, 0},
    {IDC_BAUD, nullptr, 125, 50, 70, 0},
    {IDC_ADDRESS, nullptr, 125, 70, 70, 12},
    {IDC_OUTPUT_BYTE, nullptr, 50, 90, 50, 12},
    {IDC_BIT7, L"&7", 115, 90, 17, 8},
    {IDC_BIT0 + 6, L"&6", 135, 90, 15, 8},
    {IDC_BIT0 + 1, L"&1", 235, 90, 15, 8},
    {IDC_BIT0, L"&0", 255, 90, 15, 8},
    {IDC_OUTPUT_LIST, nullptr, 5, 145, 140, 85},
    {IDC_MAKER, nullptr, 80, 10, 148, 9},
    {IDC_STATIC, L"76543210", 70, 135, 61, 8},
    {IDC_STATIC, L"76543210", 220, 135, 61, 8},
};

TEST(MainWindowLayout, EnglishAndGermanControlsSitWhereTheyBelong)
{
    struct LanguageLayout {
        std::string settings;
        std::vector<Placement> placements;
    };
    const LanguageLayout layouts[] = {
        {"",
         {{IDC_BAUD_LABEL, L"&Baud Rate", 5, 50, 95, 8},
          {IDC_ADDRESS_LABEL, L"Curren&t Slave Address", 5, 70, 95, 8},
          {IDC_EDIT_LABEL, L"&Edit", 5, 90, 30, 8},
          {IDC_FREEZE, L"F&reeze Outputs", 5, 110, 95, 10},
          {IDC_STATIC, L"&Output Data", 5, 125, 70, 8},
          {IDC_STATIC, L"&Input Data", 160, 125, 70, 8},
          {IDC_INPUT_LIST, nullptr, 155, 145, 140, 85},
          {IDC_COMM_ACTIVE, L"Communication Active", 205, 110, 90, 10}}},
        {"[Language]\r\nPrimaryLanguage=7\r\nSubLanguage=1\r\n",
         {{IDC_BAUD_LABEL, L"&Baudrate", 5, 50, 95, 8},
          {IDC_ADDRESS_LABEL, L"Ak&tuelle Slave Addresse", 5, 70, 95, 8},
          {IDC_EDIT_LABEL, L"&Bearbeiten", 5, 90, 35, 8},
          {IDC_FREEZE, L"Ausg\u00e4nge ein&frieren", 5, 110, 95, 10},
          {IDC_STATIC, L"A&usgangsdaten", 5, 125, 70, 8},
          {IDC_STATIC, L"Eingangsdaten", 155, 125, 70, 8},
          {IDC_INPUT_LIST, nullptr, 155, 145, 139, 86},
          {IDC_COMM_ACTIVE, L"Kommunikation aktiv", 205, 110, 90, 10}}},
    };
    for (const LanguageLayout& layout : layouts) {
        HWND window = StartProgram(layout.settings);
        ASSERT_NE(window, nullptr);
        ExpectLayout(window, kCommonPlacements);
        ExpectLayout(window, layout.placements);
        // The menu bar does not take room from the controls.
        RECT client{};
        GetClientRect(window, &client);
        RECT expected{0, 0, 302, 242};
        MapDialogRect(window, &expected);
        EXPECT_EQ(client.right, expected.right);
        EXPECT_EQ(client.bottom, expected.bottom);
        EndProgram();
    }
}

}  // namespace
