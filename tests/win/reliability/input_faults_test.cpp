// Input the program cannot trust: a settings file with garbage, huge and negative values
// or missing sections; a trace file that cannot be opened; edit fields given 4000
// characters, non-ASCII text and boundary numbers; a Raw value of 1001 tokens.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdint>
#include <string>
#include <vector>

#include "app.h"
#include "comm_state.h"
#include "driver.h"
#include "exchange.h"
#include "fault_fixture.h"
#include "process_image.h"
#include "resource.h"
#include "settings.h"
#include "tick.h"

namespace {

// --- Settings file ------------------------------------------------------------------------

struct SettingsCase {
    const char* name;
    std::string file;
    const wchar_t* address;       // field 1000 as shown
    LRESULT baudLine;             // selected line of the bit-rate list, CB_ERR for none
    LRESULT portLine;             // selected line of the port list, CB_ERR for none
    const wchar_t* startOutcome;  // the box after the warning; nullptr: communication starts
    bool noDriverCall;            // the start calls no driver operation
};

class SettingsFile : public FaultTest, public ::testing::WithParamInterface<SettingsCase> {};

TEST_P(SettingsFile, StartsWithSafeValuesAndKeepsThemAtTheClose)
{
    const SettingsCase& c = GetParam();
    Restart(c.file);
    EXPECT_EQ(ControlText(window, IDC_ADDRESS), c.address);
    EXPECT_EQ(SendDlgItemMessageW(window, IDC_BAUD, CB_GETCURSEL, 0, 0), c.baudLine);
    EXPECT_EQ(SendDlgItemMessageW(window, IDC_PORT, CB_GETCURSEL, 0, 0), c.portLine);
    EXPECT_GE(appSettings.CurrAdr, 1);
    EXPECT_LE(appSettings.CurrAdr, 127);
    EXPECT_EQ(MenuBarText(GetMenu(window), 0), L"&File") << "an unknown language falls back to English";

    const std::uint32_t initsBefore = bus.Counters().inits;
    const std::vector<SeenMessageBox> boxes = StartCommunication();
    if (c.startOutcome == nullptr) {
        EXPECT_TRUE(boxes.empty());
        EXPECT_EQ(commState.active, 1u);
    } else {
        EXPECT_EQ(Texts(boxes), std::vector<std::wstring>{c.startOutcome});
        EXPECT_EQ(commState.active, 0u);
    }
    if (c.noDriverCall) {
        EXPECT_EQ(bus.Counters().inits, initsBefore);
    }

    // The close sequence writes back what was in force.
    const AppSettings held = appSettings;
    Command(IDM_EXIT);
    RunIdleCycle();
    EXPECT_EQ(MainWindow(), nullptr);
    const std::wstring file = SettingsFileBeside();
    EXPECT_EQ(static_cast<std::int32_t>(GetPrivateProfileIntW(L"Tovral", L"PrinterPort", 12345, file.c_str())),
              held.PrinterPort);
    EXPECT_EQ(static_cast<std::int32_t>(GetPrivateProfileIntW(L"Tovral", L"Baud", 12345, file.c_str())), held.Baud);
    EXPECT_EQ(static_cast<std::int32_t>(GetPrivateProfileIntW(L"Tovral", L"CurrAdr", 12345, file.c_str())),
              held.CurrAdr);
}

const wchar_t* const kCannotOpen = L"Unable to open CAN dongle!";

INSTANTIATE_TEST_SUITE_P(
    Table, SettingsFile,
    ::testing::Values(SettingsCase{"Garbage",
                                   std::string("\x01\x02\xff\xfe garbage\x00 = [[[ ]\r\n=\r\n[Tovral\r\nBaud\r\n", 41),
                                   L"3", 0, 0, nullptr, false},
                      SettingsCase{"HugeValues",
                                   "[Tovral]\r\nPrinterPort=99999999999\r\nBaud=99999999999\r\nCurrAdr=99999999999\r\n"
                                   "Logging=99999999999\r\n",
                                   L"3", CB_ERR, CB_ERR, kCannotOpen, true},
                      // A port other than the USB adapter has no driver to open: refused before any
                      // driver call, never taken for an open bus.
                      SettingsCase{"NegativeValues", "[Tovral]\r\nPrinterPort=-4096\r\nBaud=-1\r\nCurrAdr=-3\r\n", L"3",
                                   CB_ERR, CB_ERR, kCannotOpen, true},
                      SettingsCase{"BaudBeyondTheTable", "[Tovral]\r\nBaud=9\r\nCurrAdr=127\r\n", L"127", CB_ERR, 0,
                                   kCannotOpen, true},
                      SettingsCase{"MissingSections", "[Other]\r\nBaud=5\r\nCurrAdr=9\r\n", L"3", 0, 0, nullptr, false},
                      SettingsCase{"EmptyValues", "[Tovral]\r\nPrinterPort=\r\nBaud=\r\nCurrAdr=\r\nLogging=\r\n", L"3",
                                   0, 0, nullptr, false},
                      SettingsCase{"FiveThousandDigits", "[Tovral]\r\nCurrAdr=" + std::string(5000, '7') + "\r\n", L"3",
                                   0, 0, nullptr, false},
                      SettingsCase{"LanguageOutOfRange", "[Language]\r\nPrimaryLanguage=-1\r\nSubLanguage=99999\r\n",
                                   L"3", 0, 0, nullptr, false}),
    CaseName());

// --- Trace file ---------------------------------------------------------------------------

TEST_F(FaultTest, TraceFileThatCannotBeOpenedLeavesTheTraceOff)
{
    const std::wstring trace = ExecutableFolder() + L"tovral.log";
    DeleteFileW(trace.c_str());
    ASSERT_TRUE(CreateDirectoryW(trace.c_str(), nullptr));
    Restart("[Tovral]\r\nLogging=1\r\n");
    ManualTime time(bus);
    EXPECT_TRUE(StartCommunication().empty());
    EXPECT_EQ(commState.active, 1u);
    AdvanceManualTick(320);
    LoopPass();
    Command(IDM_STOP);
    RunIdleCycle();
    EXPECT_EQ(commState.active, 0u);
    EXPECT_EQ(GetFileAttributesW(trace.c_str()) & FILE_ATTRIBUTE_DIRECTORY,
              static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
    EndProgram();
    RemoveDirectoryW(trace.c_str());
}

// --- Edit fields of the main window -------------------------------------------------------

const std::wstring k4000Letters(4000, L'A');
const std::wstring k4000Nines(4000, L'9');
const std::wstring kLeadingZeros = std::wstring(3999, L'0') + L"5";

// Either accepted as `value` or refused; refused text is replaced by the value in force.
struct FieldCase {
    const char* name;
    std::wstring text;
    int accepted;  // the value taken; -1: refused; -2: the platform's conversion decides
};

class AddressField : public FaultTest, public ::testing::WithParamInterface<FieldCase> {};

TEST_P(AddressField, TakesOnlyANodeNumberAndOtherwiseShowsTheOneInForce)
{
    const FieldCase& c = GetParam();
    appSettings.CurrAdr = 42;
    SetDlgItemTextW(window, IDC_ADDRESS, c.text.c_str());
    Notify(window, IDC_ADDRESS, EN_KILLFOCUS);
    EXPECT_GE(appSettings.CurrAdr, 1);
    EXPECT_LE(appSettings.CurrAdr, 127);
    if (c.accepted >= 0) {
        EXPECT_EQ(appSettings.CurrAdr, c.accepted);
    }
    if (c.accepted == -1) {
        EXPECT_EQ(appSettings.CurrAdr, 42);
        EXPECT_EQ(ControlText(window, IDC_ADDRESS), L"42");
    }
    if (appSettings.CurrAdr == 42 && c.accepted != 42) {
        EXPECT_EQ(ControlText(window, IDC_ADDRESS), L"42");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, AddressField,
    ::testing::Values(FieldCase{"One", L"1", 1}, FieldCase{"Top", L"127", 127}, FieldCase{"Zero", L"0", -1},
                      FieldCase{"AboveTop", L"128", -1}, FieldCase{"MinusOne", L"-1", -1},
                      FieldCase{"TwoToThe32PlusThree", L"4294967299", -1}, FieldCase{"Empty", L"", -1},
                      FieldCase{"Letters4000", k4000Letters, -1}, FieldCase{"Nines4000", k4000Nines, -1},
                      FieldCase{"Umlauts", L"\u00e4\u00f6\u00fc\u20ac", -1},
                      FieldCase{"FullwidthDigits", L"\uff11\uff12", -2},
                      FieldCase{"LeadingZeros4000", kLeadingZeros, -2}, FieldCase{"Hex", L"0x10", -2}),
    CaseName());

class OutputByteField : public FaultTest, public ::testing::WithParamInterface<FieldCase> {};

TEST_P(OutputByteField, TakesOnlyAByteAndOtherwiseShowsTheOneInForce)
{
    const FieldCase& c = GetParam();
    UseManualClock(100000);  // nothing here waits for a slave: the warm-up takes no time
    ASSERT_TRUE(StartCommunication().empty());
    OutputTable[0].value = 0x42;
    ClickListLine(GetDlgItem(window, IDC_OUTPUT_LIST), 1);  // output PDO1 byte 0, shown as 42
    SetDlgItemTextW(window, IDC_OUTPUT_BYTE, c.text.c_str());
    Notify(window, IDC_OUTPUT_BYTE, EN_KILLFOCUS);
    EXPECT_LE(OutputTable[0].value, 0xFFu);
    if (c.accepted >= 0) {
        EXPECT_EQ(OutputTable[0].value, static_cast<std::uint32_t>(c.accepted));
    }
    if (c.accepted == -1) {
        EXPECT_EQ(OutputTable[0].value, 0x42u);
        EXPECT_EQ(ControlText(window, IDC_OUTPUT_BYTE), L"42");
    }
    EXPECT_EQ(OutputTable[1].value, 0u) << "nothing written past the byte";
}

INSTANTIATE_TEST_SUITE_P(
    Table, OutputByteField,
    ::testing::Values(FieldCase{"Zero", L"0", 0}, FieldCase{"Top", L"FF", 0xFF}, FieldCase{"Prefixed", L"0x1f", 0x1F},
                      FieldCase{"AboveTop", L"100", -1}, FieldCase{"MinusOne", L"-1", -1}, FieldCase{"Empty", L"", -1},
                      FieldCase{"Letters4000", std::wstring(4000, L'F'), -1}, FieldCase{"Nines4000", k4000Nines, -1},
                      FieldCase{"Umlauts", L"\u00e4\u00f6\u00fc", -1}, FieldCase{"NotHex", L"xyz", -1}),
    CaseName());

// --- Edit fields of the object dialogs ------------------------------------------------------

class ObjectDialogFields : public FaultTest {
protected:
    HWND OpenWriteDialog()
    {
        Command(IDM_WRITE_OBJECT);
        RunIdleCycle();
        return WriteObjectDialog();
    }

    HWND OpenReadDialog()
    {
        Command(IDM_READ_OBJECT);
        RunIdleCycle();
        return ReadObjectDialog();
    }

    static void Click(HWND dialog, int id) { SendDlgItemMessageW(dialog, id, BM_CLICK, 0, 0); }

    // The operator types `text` into the value field and leaves it.
    static void EnterValue(HWND dialog, const std::wstring& text)
    {
        SetDlgItemTextW(dialog, IDC_SEND_VALUE, text.c_str());
        Notify(dialog, IDC_SEND_VALUE, EN_KILLFOCUS);
    }
};

struct IndexCase {
    const char* name;
    std::wstring index;
    std::wstring subindex;
    const wchar_t* indexShown;
    const wchar_t* subindexShown;
    std::uint32_t requestIndex;
    std::uint32_t requestSubindex;
};

class IndexFields : public ObjectDialogFields, public ::testing::WithParamInterface<IndexCase> {};

TEST_P(IndexFields, OfBothDialogsTakeAHexNumberOrZero)
{
    const IndexCase& c = GetParam();
    for (const bool write : {false, true}) {
        HWND dialog = write ? OpenWriteDialog() : OpenReadDialog();
        ASSERT_NE(dialog, nullptr);
        SetDlgItemTextW(dialog, IDC_OBJECT_INDEX, c.index.c_str());
        SetDlgItemTextW(dialog, IDC_OBJECT_SUBINDEX, c.subindex.c_str());
        processImage->request.pending = 0;
        Click(dialog, IDOK);
        EXPECT_EQ(ControlText(dialog, IDC_OBJECT_INDEX), c.indexShown) << (write ? "write" : "read");
        EXPECT_EQ(ControlText(dialog, IDC_OBJECT_SUBINDEX), c.subindexShown) << (write ? "write" : "read");
        EXPECT_EQ(processImage->request.pending, 1u);
        EXPECT_EQ(processImage->request.index, c.requestIndex);
        EXPECT_EQ(processImage->request.subindex, c.requestSubindex);
        processImage->request.pending = 0;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, IndexFields,
    ::testing::Values(IndexCase{"Plain", L"1018", L"1", L"1018", L"01", 0x1018, 1},
                      IndexCase{"Boundaries", L"FFFF", L"FF", L"FFFF", L"FF", 0xFFFF, 0xFF},
                      IndexCase{"FiveDigitsAndSubindexAboveFF", L"12345", L"100", L"12345", L"00", 0x12345, 0},
                      IndexCase{"Letters4000", std::wstring(4000, L'F'), std::wstring(4000, L'F'), L"FFFFFFFF", L"00",
                                0xFFFFFFFF, 0},
                      IndexCase{"Zeros4000ThenDigits", std::wstring(4000, L'0') + L"7", std::wstring(4000, L'0'),
                                L"0000", L"00", 0, 0},
                      IndexCase{"NonAscii", L"\u00c4\u00d6\u00dc\u20ac", L"\u65e5\u672c", L"0000", L"00", 0, 0},
                      IndexCase{"MinusOne", L"-1", L"-1", L"FFFFFFFF", L"00", 0xFFFFFFFF, 0}),
    CaseName());

struct ValueCase {
    const char* name;
    int formatButton;
    std::wstring text;
    const wchar_t* shown;               // the value field after it is left
    std::vector<std::uint8_t> request;  // the bytes the Write requests
    const wchar_t* refusal;             // the message instead of a request, or nullptr
};

class ValueField : public ObjectDialogFields, public ::testing::WithParamInterface<ValueCase> {};

TEST_P(ValueField, TakesOnlyWhatConvertsAndFitsAndShowsWhatWillBeWritten)
{
    const ValueCase& c = GetParam();
    HWND dialog = OpenWriteDialog();
    ASSERT_NE(dialog, nullptr);
    Click(dialog, c.formatButton);
    EnterValue(dialog, c.text);
    const std::wstring shown = ControlText(dialog, IDC_SEND_VALUE);
    if (c.refusal == nullptr)
        EXPECT_EQ(shown, c.shown);
    else  // kept as typed, as far as the field holds it
        EXPECT_TRUE(!shown.empty() && c.text.compare(0, shown.size(), shown) == 0);
    processImage->request.pending = 0;
    MessageBoxAnswerer answers;
    Click(dialog, IDOK);
    if (c.refusal != nullptr) {
        EXPECT_EQ(processImage->request.pending, 0u) << "nothing requested";
        ASSERT_EQ(answers.Seen().size(), 1u);
        EXPECT_EQ(answers.Seen()[0].text, c.refusal);
        return;
    }
    EXPECT_TRUE(answers.Seen().empty());
    ASSERT_EQ(processImage->request.pending, 1u);
    EXPECT_EQ(processImage->request.length, c.request.size());
    EXPECT_TRUE(std::equal(c.request.begin(), c.request.end(), processImage->request.data.begin()));
    processImage->request.pending = 0;
}

constexpr const wchar_t* kInvalid = L"Invalid value!";
constexpr const wchar_t* kFourBytes = L"Value out of range!\nAllowed: 0 to 4294967295";

INSTANTIATE_TEST_SUITE_P(
    Table, ValueField,
    ::testing::Values(
        ValueCase{"HexTop", IDC_FORMAT_HEX, L"FFFFFFFF", L"FFFFFFFF", {0xFF, 0xFF, 0xFF, 0xFF}, nullptr},
        ValueCase{"HexNineDigitsIsTooLarge",
                  IDC_FORMAT_HEX,
                  L"100000000",
                  L"",
                  {},
                  L"Value out of range!\nAllowed: 0 to FFFFFFFF"},
        ValueCase{"Hex4000LettersIsTooLarge",
                  IDC_FORMAT_HEX,
                  std::wstring(4000, L'F'),
                  L"",
                  {},
                  L"Value out of range!\nAllowed: 0 to FFFFFFFF"},
        ValueCase{"HexNonAscii", IDC_FORMAT_HEX, L"\u00e4\u00f6", L"", {}, kInvalid},
        ValueCase{"UnsignedTop", IDC_FORMAT_UNSIGNED, L"4294967295", L"4294967295", {0xFF, 0xFF, 0xFF, 0xFF}, nullptr},
        ValueCase{"UnsignedOverTheTop", IDC_FORMAT_UNSIGNED, L"4294967296", L"", {}, kFourBytes},
        ValueCase{"Unsigned4000Nines", IDC_FORMAT_UNSIGNED, std::wstring(4000, L'9'), L"", {}, kFourBytes},
        ValueCase{"SignedBottom", IDC_FORMAT_SIGNED, L"-2147483648", L"-2147483648", {0x00, 0x00, 0x00, 0x80}, nullptr},
        ValueCase{"FloatOne", IDC_FORMAT_FLOAT, L"1.5", L"1.5", {0x00, 0x00, 0xC0, 0x3F}, nullptr},
        ValueCase{"FloatTooLarge",
                  IDC_FORMAT_FLOAT,
                  L"1e39",
                  L"",
                  {},
                  L"Value out of range!\nAllowed: -3.40282e+38 to 3.40282e+38"},
        ValueCase{"RawNonAscii", IDC_FORMAT_RAW, L"01 \u00e4 02", L"", {}, kInvalid},
        ValueCase{"RawSeparatorsOnly", IDC_FORMAT_RAW, std::wstring(4000, L','), L"", {}, kInvalid}),
    CaseName());

// Raw takes at most 1000 bytes: one token more is refused, not cut; 1000 are written.
TEST_F(ObjectDialogFields, RawValueOf1001TokensIsRefusedAndOf1000Written)
{
    appSettings.CurrAdr = 5;
    HWND dialog = OpenWriteDialog();
    ASSERT_NE(dialog, nullptr);
    Click(dialog, IDC_FORMAT_RAW);
    SetDlgItemTextW(dialog, IDC_OBJECT_INDEX, L"2000");
    SetDlgItemTextW(dialog, IDC_OBJECT_SUBINDEX, L"0");
    std::wstring text;
    std::vector<std::uint8_t> expected;
    for (int token = 0; token < 1000; ++token) {
        wchar_t piece[8];
        std::swprintf(piece, 8, L"%02X ", (token * 7 + 0x21) & 0xFF);
        text += piece;
        expected.push_back(static_cast<std::uint8_t>((token * 7 + 0x21) & 0xFF));
    }
    ASSERT_LE(text.size() + 3, 3999u) << "the field takes this much";
    processImage->request.pending = 0;
    EnterValue(dialog, text + L"7F ");
    {
        MessageBoxAnswerer answers;
        Click(dialog, IDOK);
        EXPECT_EQ(processImage->request.pending, 0u);
        ASSERT_EQ(answers.Seen().size(), 1u);
        EXPECT_EQ(answers.Seen()[0].text, L"Too many bytes!\nAt most 1000 bytes can be written.");
    }

    EnterValue(dialog, text);
    EXPECT_EQ(GetWindowTextLengthW(GetDlgItem(dialog, IDC_SEND_VALUE)), 3000) << "1000 bytes shown as \"XX \"";
    Click(dialog, IDOK);
    ASSERT_EQ(processImage->request.length, 1000u);
    {
        MessageBoxAnswerer answers;
        RunIdleCycle();
        EXPECT_TRUE(answers.Seen().empty());
    }
    std::vector<std::uint8_t> stored(1024);
    std::uint32_t length = 0;
    ASSERT_EQ(bus.getObject(5, 0x2000, 0, stored.data(), static_cast<std::uint32_t>(stored.size()), &length), kSimOk);
    stored.resize(length);
    EXPECT_EQ(stored, expected);
}

}  // namespace
