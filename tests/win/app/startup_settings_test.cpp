// Start-up as the settings file steers it: language, port, bit rate and slave address,
// the trace switch, and the values a normal close writes back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app.h"
#include "comm_state.h"
#include "messages.h"
#include "resource.h"
#include "win_test_support.h"

namespace {

class StartUp : public ::testing::Test {
protected:
    void TearDown() override { EndProgram(); }
};

// --- Values from section "Tovral" -------------------------------------------------

struct SettingsCase {
    const char* name;
    std::string file;
    const wchar_t* address;  // what field 1000 shows
    int portSelection;       // -1: none
    int baudSelection;       // -1: none
};

class StartUpSettings : public StartUp, public ::testing::WithParamInterface<SettingsCase> {};

TEST_P(StartUpSettings, ShowTheValuesInForce)
{
    const SettingsCase& c = GetParam();
    HWND window = StartProgram(c.file);
    ASSERT_NE(window, nullptr);

    EXPECT_EQ(ControlText(window, IDC_ADDRESS), c.address);
    EXPECT_EQ(SendDlgItemMessageW(window, IDC_PORT, CB_GETCURSEL, 0, 0), c.portSelection);
    EXPECT_EQ(SendDlgItemMessageW(window, IDC_BAUD, CB_GETCURSEL, 0, 0), c.baudSelection);
}

INSTANTIATE_TEST_SUITE_P(
    Table, StartUpSettings,
    ::testing::Values(SettingsCase{"NoFile", "", L"3", 0, 0},
                      SettingsCase{"AllGiven", "[Tovral]\r\nPrinterPort=4096\r\nBaud=6\r\nCurrAdr=42\r\n", L"42", 0, 6},
                      SettingsCase{"LowestAddress", "[Tovral]\r\nCurrAdr=1\r\n", L"1", 0, 0},
                      SettingsCase{"HighestAddress", "[Tovral]\r\nCurrAdr=127\r\n", L"127", 0, 0},
                      SettingsCase{"AddressZeroBecomes3", "[Tovral]\r\nCurrAdr=0\r\n", L"3", 0, 0},
                      SettingsCase{"Address128Becomes3", "[Tovral]\r\nCurrAdr=128\r\n", L"3", 0, 0},
                      SettingsCase{"NegativeAddressBecomes3", "[Tovral]\r\nCurrAdr=-5\r\n", L"3", 0, 0},
                      SettingsCase{"GarbageAddressBecomes3", "[Tovral]\r\nCurrAdr=abc\r\n", L"3", 0, 0},
                      SettingsCase{"LeadingNumberCounts", "[Tovral]\r\nCurrAdr=12abc\r\n", L"12", 0, 0},
                      SettingsCase{"FastestBitRate", "[Tovral]\r\nBaud=8\r\n", L"3", 0, 8},
                      SettingsCase{"Baud9NoSelection", "[Tovral]\r\nBaud=9\r\n", L"3", 0, -1},
                      SettingsCase{"NegativeBaudNoSelection", "[Tovral]\r\nBaud=-1\r\n", L"3", 0, -1},
                      SettingsCase{"OtherPortNoSelection", "[Tovral]\r\nPrinterPort=4097\r\n", L"3", -1, 0}),
    CaseName());

TEST_F(StartUp, OffersUsbAndTheNineBitRates)
{
    HWND window = StartProgram("");
    ASSERT_NE(window, nullptr);

    std::vector<std::wstring> ports;
    HWND portList = GetDlgItem(window, IDC_PORT);
    for (LRESULT i = 0; i < SendMessageW(portList, CB_GETCOUNT, 0, 0); ++i) {
        wchar_t text[32] = L"";
        SendMessageW(portList, CB_GETLBTEXT, static_cast<WPARAM>(i), PointerToLParam(text));
        ports.push_back(text);
        EXPECT_EQ(SendMessageW(portList, CB_GETITEMDATA, static_cast<WPARAM>(i), 0), 4096);
    }
    EXPECT_EQ(ports, std::vector<std::wstring>{L"USB"});

    std::vector<std::wstring> rates;
    HWND rateList = GetDlgItem(window, IDC_BAUD);
    for (LRESULT i = 0; i < SendMessageW(rateList, CB_GETCOUNT, 0, 0); ++i) {
        wchar_t text[32] = L"";
        SendMessageW(rateList, CB_GETLBTEXT, static_cast<WPARAM>(i), PointerToLParam(text));
        rates.push_back(text);
    }
    EXPECT_EQ(rates, (std::vector<std::wstring>{L"10 kBaud", L"20 kBaud", L"50 kBaud", L"100 kBaud", L"125 kBaud",
                                                L"250 kBaud", L"500 kBaud", L"800 kBaud", L"1000 kBaud"}));
}

TEST_F(StartUp, ShowsTheWindowCentredAndReady)
{
    HWND window = StartProgram("");
    ASSERT_NE(window, nullptr);

    EXPECT_TRUE(IsWindowVisible(window));
    EXPECT_EQ(WindowText(window), L"Velomar");
    EXPECT_EQ(ControlText(window, IDC_MAKER), L"Velomar Commissioning Tools");
    for (int bit = 0; bit < 8; ++bit)
        EXPECT_EQ(ControlText(window, IDC_BIT0 + bit), L"&" + std::to_wstring(bit));
    EXPECT_EQ(commState.windowReady, 1u);
    EXPECT_EQ(commState.active, 0u);
    EXPECT_NE(GetClassLongPtrW(window, GCLP_HICON), 0);

    RECT frame{};
    GetWindowRect(window, &frame);
    EXPECT_EQ(frame.left, (GetSystemMetrics(SM_CXSCREEN) - (frame.right - frame.left)) / 2);
    EXPECT_EQ(frame.top, (GetSystemMetrics(SM_CYSCREEN) - (frame.bottom - frame.top)) / 2);
}

TEST_F(StartUp, OpensTheTraceFileOnlyWhenLoggingIsSet)
{
    const std::wstring trace = ExecutableFolder() + L"tovral.log";

    ASSERT_NE(StartProgram("[Tovral]\r\nLogging=0\r\n"), nullptr);
    EXPECT_FALSE(FileExists(trace));
    EndProgram();

    ASSERT_NE(StartProgram("[Tovral]\r\nLogging=1\r\n"), nullptr);
    EXPECT_TRUE(FileExists(trace));
}

// --- Language --------------------------------------------------------------------------

struct LanguageCase {
    const char* name;
    std::string file;
    bool german;
    LANGID threadLanguage;
};

class StartUpLanguage : public StartUp, public ::testing::WithParamInterface<LanguageCase> {};

TEST_P(StartUpLanguage, ShowsMenuDialogAndMessagesInIt)
{
    const LanguageCase& c = GetParam();
    HWND window = StartProgram(c.file);
    ASSERT_NE(window, nullptr);
    HMENU bar = GetMenu(window);
    ASSERT_NE(bar, nullptr);

    EXPECT_EQ(LANGIDFROMLCID(GetThreadLocale()), c.threadLanguage);
    std::vector<std::wstring> menuBar;
    for (int i = 0; i < GetMenuItemCount(bar); ++i)
        menuBar.push_back(MenuBarText(bar, i));
    MessageBoxAnswerer answerer;
    ShowStringMessage(window, IDS_OUT_OF_MEMORY);
    ASSERT_EQ(answerer.Seen().size(), 1u);

    if (c.german) {
        EXPECT_EQ(menuBar, (std::vector<std::wstring>{L"&Datei", L"&Adresse", L"&Kommunikation", L"&Hilfe"}));
        EXPECT_EQ(MenuItemTexts(bar, 0), std::vector<std::wstring>{L"&Beenden"});
        EXPECT_EQ(MenuItemTexts(bar, 1),
                  (std::vector<std::wstring>{L"&Suche Slaves", L"&Knoten konfigurieren (LSS) ..."}));
        EXPECT_EQ(MenuItemTexts(bar, 2),
                  (std::vector<std::wstring>{L"&Start", L"Sto&pp", L"", L"&Lese Objekt ...", L"Sch&reibe Objekt ...",
                                             L"Objekt&verzeichnis ...", L"&Knotenmonitor ..."}));
        EXPECT_EQ(MenuItemTexts(bar, 3), (std::vector<std::wstring>{L"&Inhalt", L"In&fo ..."}));
        EXPECT_EQ(ControlText(window, IDC_FREEZE), L"Ausg\u00e4nge ein&frieren");
        EXPECT_EQ(ControlText(window, IDC_ADDRESS_LABEL), L"Ak&tuelle Slave Addresse");
        EXPECT_EQ(ControlText(window, IDC_EDIT_LABEL), L"&Bearbeiten");
        EXPECT_EQ(ControlText(window, IDC_COMM_ACTIVE), L"Kommunikation aktiv");
        EXPECT_EQ(answerer.Seen()[0].text, L"Kein freier Speicher verf\u00fcgbar!");
    } else {
        EXPECT_EQ(menuBar, (std::vector<std::wstring>{L"&File", L"&Address", L"&Communication", L"&Help"}));
        EXPECT_EQ(MenuItemTexts(bar, 0), std::vector<std::wstring>{L"E&xit"});
        EXPECT_EQ(MenuItemTexts(bar, 1), (std::vector<std::wstring>{L"&Search Slaves", L"&Configure Node (LSS) ..."}));
        EXPECT_EQ(MenuItemTexts(bar, 2),
                  (std::vector<std::wstring>{L"&Start", L"Sto&p", L"", L"&Read Object ...", L"&Write Object ...",
                                             L"Object &Dictionary ...", L"Node &Monitor ..."}));
        EXPECT_EQ(MenuItemTexts(bar, 3), (std::vector<std::wstring>{L"&Contents", L"&About ..."}));
        EXPECT_EQ(ControlText(window, IDC_FREEZE), L"F&reeze Outputs");
        EXPECT_EQ(ControlText(window, IDC_ADDRESS_LABEL), L"Curren&t Slave Address");
        EXPECT_EQ(ControlText(window, IDC_EDIT_LABEL), L"&Edit");
        EXPECT_EQ(ControlText(window, IDC_COMM_ACTIVE), L"Communication Active");
        EXPECT_EQ(answerer.Seen()[0].text, L"Out of memory!");
    }
    EXPECT_EQ(WindowText(window), L"Velomar");
}

INSTANTIATE_TEST_SUITE_P(
    Table, StartUpLanguage,
    ::testing::Values(
        LanguageCase{"NoFileIsEnglish", "", false, 0x0409},
        LanguageCase{"German", "[Language]\r\nPrimaryLanguage=7\r\nSubLanguage=1\r\n", true, 0x0407},
        LanguageCase{"SubLanguage65IsLike1", "[Language]\r\nPrimaryLanguage=7\r\nSubLanguage=65\r\n", true, 0x0407},
        LanguageCase{"EnglishGiven", "[Language]\r\nPrimaryLanguage=9\r\nSubLanguage=65\r\n", false, 0x0409},
        LanguageCase{"PrimaryAbove1023SetsSubLanguageBits", "[Language]\r\nPrimaryLanguage=1031\r\nSubLanguage=0\r\n",
                     true, 0x0407},
        LanguageCase{"OtherGermanVariantIsGerman", "[Language]\r\nPrimaryLanguage=7\r\nSubLanguage=2\r\n", true,
                     0x0807},
        LanguageCase{"UnknownLanguageIsEnglish", "[Language]\r\nPrimaryLanguage=12\r\nSubLanguage=1\r\n", false,
                     0x040C}),
    CaseName());

}  // namespace
