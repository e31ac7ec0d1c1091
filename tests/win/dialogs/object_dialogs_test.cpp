// Communication > Read Object and Write Object through the real dialogs, against node 5
// (the drive) of the simulated bus: what the fields show, the SDO frames the master
// sends, what the slave holds afterwards, and the messages of failed transfers.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app.h"
#include "comm_state.h"
#include "driver.h"
#include "exchange.h"
#include "resource.h"
#include "settings.h"
#include "sim_controls.h"
#include "tick.h"
#include "win_test_support.h"

namespace {

constexpr std::uint32_t kDrive = 5;
constexpr int kFormatButtons[] = {IDC_FORMAT_HEX, IDC_FORMAT_UNSIGNED, IDC_FORMAT_FLOAT, IDC_FORMAT_SIGNED,
                                  IDC_FORMAT_RAW};
constexpr int kCountButtons[] = {IDC_COUNT_1, IDC_COUNT_2, IDC_COUNT_3, IDC_COUNT_4};

std::vector<std::string> Described(const std::vector<DriverMsg>& frames)
{
    std::vector<std::string> lines;
    for (const DriverMsg& f : frames)
        lines.push_back(FrameText(f));
    return lines;
}

// "01 02 0A " for the bytes 01 02 0A, as the Raw format shows them.
std::wstring RawText(const std::vector<std::uint8_t>& bytes)
{
    std::wstring text;
    wchar_t byte[4];
    for (std::uint8_t b : bytes) {
        std::swprintf(byte, 4, L"%02X ", b);
        text += byte;
    }
    return text;
}

class ObjectDialogs : public ::testing::Test {
protected:
    SimControls bus;
    HWND window = nullptr;

    void SetUp() override
    {
        ASSERT_TRUE(bus.Load());
        bus.reset();
        bus.setAnimation(0);
        Start("[Tovral]\r\nCurrAdr=5\r\n");
    }

    void TearDown() override
    {
        EndProgram();
        bus.Unload();
    }

    void Start(const std::string& settings)
    {
        window = StartProgram(settings);
        ASSERT_NE(window, nullptr);
    }

    void Command(WORD id) { SendMessageW(window, WM_COMMAND, MAKEWPARAM(id, 0), 0); }

    // The menu command, then the idle cycle that carries it out.
    HWND OpenRead()
    {
        Command(IDM_READ_OBJECT);
        RunIdleCycle();
        return ReadObjectDialog();
    }
    HWND OpenWrite()
    {
        Command(IDM_WRITE_OBJECT);
        RunIdleCycle();
        return WriteObjectDialog();
    }

    static void Click(HWND dialog, int id) { SendDlgItemMessageW(dialog, id, BM_CLICK, 0, 0); }
    static bool Checked(HWND dialog, int id) { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }
    static bool Enabled(HWND dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)) != 0; }

    // Types `text` into the value field and leaves it, as the operator does.
    static void EnterValue(HWND dialog, const wchar_t* text)
    {
        SetFocus(GetDlgItem(dialog, IDC_SEND_VALUE));
        SetDlgItemTextW(dialog, IDC_SEND_VALUE, text);
        SetFocus(GetDlgItem(dialog, IDC_OBJECT_INDEX));
    }

    static void EnterObject(HWND dialog, const wchar_t* index, const wchar_t* subindex)
    {
        SetDlgItemTextW(dialog, IDC_OBJECT_INDEX, index);
        SetDlgItemTextW(dialog, IDC_OBJECT_SUBINDEX, subindex);
    }

    // Read or Write (button 1), then the idle cycle that performs the transfer; returns
    // the frames the master sent for it.
    std::vector<std::string> Transfer(HWND dialog)
    {
        bus.TakeSent();
        Click(dialog, IDOK);
        RunIdleCycle();
        return Described(bus.TakeSent());
    }

    std::vector<std::uint8_t> SlaveObject(std::uint32_t index, std::uint32_t subindex)
    {
        std::vector<std::uint8_t> bytes(1024);
        std::uint32_t length = 0;
        EXPECT_EQ(bus.getObject(kDrive, index, subindex, bytes.data(), 1024, &length), kSimOk);
        bytes.resize(length);
        return bytes;
    }
};

// --- Writing in the five formats -----------------------------------------------------

struct WriteCase {
    std::string name;
    int format;            // format button
    int count;             // count button, 0: left as it is (4 Bytes)
    const wchar_t* value;  // typed into the value field
    const wchar_t* index;
    const wchar_t* shown;  // the value field after it was left
    std::vector<std::string> frames;
    std::vector<std::uint8_t> object;  // the slave's object afterwards; empty: unchanged
};

class ObjectWrite : public ObjectDialogs, public ::testing::WithParamInterface<WriteCase> {};

TEST_P(ObjectWrite, SendsTheBytesTheFieldShows)
{
    const WriteCase& c = GetParam();
    const std::uint32_t index = std::wcstoul(c.index, nullptr, 16);
    const std::vector<std::uint8_t> before = SlaveObject(index, 0);
    HWND dialog = OpenWrite();
    ASSERT_NE(dialog, nullptr);
    EnterObject(dialog, c.index, L"0");
    Click(dialog, c.format);
    if (c.count != 0)
        Click(dialog, c.count);
    EnterValue(dialog, c.value);
    EXPECT_EQ(ControlText(dialog, IDC_SEND_VALUE), c.shown);

    MessageBoxAnswerer answers;
    EXPECT_EQ(Transfer(dialog), c.frames);
    EXPECT_TRUE(answers.Seen().empty());
    EXPECT_EQ(SlaveObject(index, 0), c.object.empty() ? before : c.object);
    EXPECT_EQ(ControlText(dialog, IDC_SEND_VALUE), c.shown);
}

INSTANTIATE_TEST_SUITE_P(Formats, ObjectWrite,
                         ::testing::Values(WriteCase{"Hex1234InTwoBytes",
                                                     IDC_FORMAT_HEX,
                                                     IDC_COUNT_2,
                                                     L"1234",
                                                     L"6040",
                                                     L"1234",
                                                     {"605 8: 2B 40 60 00 34 12 00 00"},
                                                     {0x34, 0x12}},
                                           WriteCase{"HexAllOnesInFourBytes",
                                                     IDC_FORMAT_HEX,
                                                     IDC_COUNT_4,
                                                     L"0xFFFFFFFF",
                                                     L"2001",
                                                     L"FFFFFFFF",
                                                     {"605 8: 23 01 20 00 FF FF FF FF"},
                                                     {0xFF, 0xFF, 0xFF, 0xFF}},
                                           WriteCase{"FloatOneAndAHalf",
                                                     IDC_FORMAT_FLOAT,
                                                     0,
                                                     L"1.5",
                                                     L"2001",
                                                     L"1.5",
                                                     {"605 8: 23 01 20 00 00 00 C0 3F"},
                                                     {0x00, 0x00, 0xC0, 0x3F}},
                                           WriteCase{"SignedMinusTwoInOneByte",
                                                     IDC_FORMAT_SIGNED,
                                                     IDC_COUNT_1,
                                                     L"-2",
                                                     L"6060",
                                                     L"-2",
                                                     {"605 8: 2F 60 60 00 FE 00 00 00"},
                                                     {0xFE}},
                                           WriteCase{"SignedLowestOfOneByte",
                                                     IDC_FORMAT_SIGNED,
                                                     IDC_COUNT_1,
                                                     L"-128",
                                                     L"6060",
                                                     L"-128",
                                                     {"605 8: 2F 60 60 00 80 00 00 00"},
                                                     {0x80}},
                                           WriteCase{"UnsignedHighestOfOneByte",
                                                     IDC_FORMAT_UNSIGNED,
                                                     IDC_COUNT_1,
                                                     L"255",
                                                     L"6060",
                                                     L"255",
                                                     {"605 8: 2F 60 60 00 FF 00 00 00"},
                                                     {0xFF}},
                                           WriteCase{"UnsignedThreeBytesWithBlanksAround",
                                                     IDC_FORMAT_UNSIGNED,
                                                     IDC_COUNT_3,
                                                     L" 4660 ",
                                                     L"2002",
                                                     L"4660",
                                                     {"605 8: 27 02 20 00 34 12 00 00"},
                                                     {0x34, 0x12, 0x00}},
                                           WriteCase{"RawWithEverySeparator",
                                                     IDC_FORMAT_RAW,
                                                     0,
                                                     L"01,02;03 0A",
                                                     L"2002",
                                                     L"01 02 03 0A ",
                                                     {"605 8: 23 02 20 00 01 02 03 0A"},
                                                     {0x01, 0x02, 0x03, 0x0A}},
                                           WriteCase{"RawLowestAndHighestByte",
                                                     IDC_FORMAT_RAW,
                                                     0,
                                                     L"00 FF",
                                                     L"2002",
                                                     L"00 FF ",
                                                     {"605 8: 2B 02 20 00 00 FF 00 00"},
                                                     {0x00, 0xFF}}),
                         CaseName());

// Values that do not convert completely or do not fit the chosen count: a message, no
// frame, the text left as typed and selected for typing over, nothing remembered.
struct RefusedCase {
    std::string name;
    int format;
    int count;  // 0: as it is
    const wchar_t* value;
    std::wstring message;
};

class ObjectWriteRefused : public ObjectDialogs, public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(ObjectWriteRefused, SendsNothingAndSaysWhy)
{
    const RefusedCase& c = GetParam();
    const std::vector<std::uint8_t> before = SlaveObject(0x2002, 0);
    HWND dialog = OpenWrite();
    ASSERT_NE(dialog, nullptr);
    EnterObject(dialog, L"2002", L"0");
    Click(dialog, c.format);
    if (c.count != 0)
        Click(dialog, c.count);
    EnterValue(dialog, c.value);
    EXPECT_EQ(ControlText(dialog, IDC_SEND_VALUE), c.value) << "leaving the field keeps a refused text";

    MessageBoxAnswerer answers;
    EXPECT_TRUE(Transfer(dialog).empty()) << "no frame";
    ASSERT_EQ(answers.Seen().size(), 1u);
    EXPECT_EQ(answers.Seen()[0].caption, L"Velomar");
    EXPECT_EQ(answers.Seen()[0].text, c.message);
    EXPECT_EQ(answers.Seen()[0].buttons, std::vector<int>{IDOK});
    EXPECT_EQ(SlaveObject(0x2002, 0), before);

    HWND field = GetDlgItem(dialog, IDC_SEND_VALUE);
    EXPECT_EQ(GetFocus(), field);
    DWORD start = 1, end = 0;
    SendMessageW(field, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    EXPECT_EQ(start, 0u);
    EXPECT_EQ(end, static_cast<DWORD>(ControlText(dialog, IDC_SEND_VALUE).size())) << "the whole text selected";
    EXPECT_EQ(ControlText(dialog, IDC_SEND_VALUE), c.value);

    // What the dialog remembers is what was last written: here, nothing yet.
    Click(dialog, IDCANCEL);
    dialog = OpenWrite();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(ControlText(dialog, IDC_SEND_VALUE), L"0");
    EXPECT_EQ(ControlText(dialog, IDC_OBJECT_INDEX), L"0000");
    EXPECT_TRUE(Checked(dialog, IDC_FORMAT_HEX));
    EXPECT_TRUE(Checked(dialog, IDC_COUNT_4));
}

INSTANTIATE_TEST_SUITE_P(
    Values, ObjectWriteRefused,
    ::testing::Values(
        RefusedCase{"HexLetters", IDC_FORMAT_HEX, 0, L"xyz", L"Invalid value!"},
        RefusedCase{"UnsignedWithTrailingLetters", IDC_FORMAT_UNSIGNED, 0, L"12xyz", L"Invalid value!"},
        RefusedCase{"SignedLetters", IDC_FORMAT_SIGNED, 0, L"xyz", L"Invalid value!"},
        RefusedCase{"FloatWithTrailingLetter", IDC_FORMAT_FLOAT, 0, L"1.5x", L"Invalid value!"},
        RefusedCase{"UnsignedAboveOneByte", IDC_FORMAT_UNSIGNED, IDC_COUNT_1, L"300",
                    L"Value out of range!\nAllowed: 0 to 255"},
        RefusedCase{"SignedBelowOneByte", IDC_FORMAT_SIGNED, IDC_COUNT_1, L"-129",
                    L"Value out of range!\nAllowed: -128 to 127"},
        RefusedCase{"HexAboveOneByte", IDC_FORMAT_HEX, IDC_COUNT_1, L"0x1FF", L"Value out of range!\nAllowed: 0 to FF"},
        RefusedCase{"HexAboveTwoBytes", IDC_FORMAT_HEX, IDC_COUNT_2, L"ABCDE",
                    L"Value out of range!\nAllowed: 0 to FFFF"},
        RefusedCase{"RawTokenAboveOneByte", IDC_FORMAT_RAW, 0, L"01 100", L"Value out of range!\nAllowed: 00 to FF"},
        RefusedCase{"RawBadToken", IDC_FORMAT_RAW, 0, L"01 G0", L"Invalid value!"},
        RefusedCase{"RawEmpty", IDC_FORMAT_RAW, 0, L"", L"Invalid value!"}),
    CaseName());

TEST_F(ObjectDialogs, RefusalsAreWordedInGerman)
{
    EndProgram();
    Start("[Language]\r\nPrimaryLanguage=7\r\nSubLanguage=1\r\n[Tovral]\r\nCurrAdr=5\r\n");
    HWND dialog = OpenWrite();
    ASSERT_NE(dialog, nullptr);
    EnterObject(dialog, L"2002", L"0");
    Click(dialog, IDC_FORMAT_SIGNED);
    Click(dialog, IDC_COUNT_1);
    for (const auto& [value, message] : {std::pair<const wchar_t*, const wchar_t*>{L"abc", L"Ungültiger Wert!"},
                                         {L"-200", L"Wert außerhalb des Bereichs!\nErlaubt: -128 bis 127"}}) {
        EnterValue(dialog, value);
        MessageBoxAnswerer answers;
        EXPECT_TRUE(Transfer(dialog).empty());
        ASSERT_EQ(answers.Seen().size(), 1u);
        EXPECT_EQ(answers.Seen()[0].text, message);
    }
    std::wstring many;
    for (int i = 0; i < 1001; ++i)
        many += L"0 ";
    Click(dialog, IDC_FORMAT_RAW);
    EnterValue(dialog, many.c_str());
    MessageBoxAnswerer answers;
    EXPECT_TRUE(Transfer(dialog).empty());
    ASSERT_EQ(answers.Seen().size(), 1u);
    EXPECT_EQ(answers.Seen()[0].text, L"Zu viele Bytes!\nHöchstens 1000 Bytes können geschrieben werden.");
}

TEST_F(ObjectDialogs, SwitchingTheFormatShowsTheSameBytesAnotherWay)
{
    HWND dialog = OpenWrite();
    ASSERT_NE(dialog, nullptr);
    EnterObject(dialog, L"6040", L"0");
    Click(dialog, IDC_COUNT_2);
    EnterValue(dialog, L"1234");
    Click(dialog, IDC_FORMAT_RAW);
    EXPECT_EQ(ControlText(dialog, IDC_SEND_VALUE), L"34 12 ");
    for (int id : kCountButtons)
        EXPECT_FALSE(Enabled(dialog, id)) << id;
    Click(dialog, IDC_FORMAT_UNSIGNED);
    EXPECT_EQ(ControlText(dialog, IDC_SEND_VALUE), L"4660");
    for (int id : kCountButtons)
        EXPECT_TRUE(Enabled(dialog, id)) << id;
    Click(dialog, IDC_FORMAT_FLOAT);
    for (int id : kCountButtons)
        EXPECT_FALSE(Enabled(dialog, id)) << id;
    Click(dialog, IDC_FORMAT_SIGNED);
    Click(dialog, IDC_COUNT_1);
    EXPECT_EQ(ControlText(dialog, IDC_SEND_VALUE), L"52") << "0x34 alone";
    Click(dialog, IDC_COUNT_2);
    EXPECT_EQ(Transfer(dialog), std::vector<std::string>{"605 8: 2B 40 60 00 34 12 00 00"});
    EXPECT_EQ(SlaveObject(0x6040, 0), (std::vector<std::uint8_t>{0x34, 0x12}));
}

// Enter while the focus is still in the value field writes what the field shows, not
// the value taken when it was last left.
TEST_F(ObjectDialogs, EnterInTheValueFieldWritesWhatTheFieldShows)
{
    HWND dialog = OpenWrite();
    ASSERT_NE(dialog, nullptr);
    EnterObject(dialog, L"6040", L"0");
    Click(dialog, IDC_COUNT_2);
    EnterValue(dialog, L"2524");
    EXPECT_EQ(Transfer(dialog), std::vector<std::string>{"605 8: 2B 40 60 00 24 25 00 00"});

    HWND value = GetDlgItem(dialog, IDC_SEND_VALUE);
    SetFocus(value);
    SetDlgItemTextW(dialog, IDC_SEND_VALUE, L"0x4321");
    bus.TakeSent();
    PressKey(value, VK_RETURN);
    RunIdleCycle();
    EXPECT_EQ(Described(bus.TakeSent()), std::vector<std::string>{"605 8: 2B 40 60 00 21 43 00 00"});
    EXPECT_EQ(ControlText(dialog, IDC_SEND_VALUE), L"4321");
    EXPECT_EQ(SlaveObject(0x6040, 0), (std::vector<std::uint8_t>{0x21, 0x43}));
}

// --- Index and subindex fields ---------------------------------------------------------

struct IndexCase {
    std::string name;
    const wchar_t* index;
    const wchar_t* subindex;
    const wchar_t* shownIndex;
    const wchar_t* shownSubindex;
    std::string request;  // the first frame sent
};

class ObjectIndex : public ObjectDialogs, public ::testing::WithParamInterface<IndexCase> {};

TEST_P(ObjectIndex, IsTakenAsHexAndShownAgain)
{
    const IndexCase& c = GetParam();
    HWND dialog = OpenRead();
    ASSERT_NE(dialog, nullptr);
    EnterObject(dialog, c.index, c.subindex);
    MessageBoxAnswerer answers;  // missing objects are aborted by the slave
    const std::vector<std::string> frames = Transfer(dialog);
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames[0], c.request);
    EXPECT_EQ(ControlText(dialog, IDC_OBJECT_INDEX), c.shownIndex);
    EXPECT_EQ(ControlText(dialog, IDC_OBJECT_SUBINDEX), c.shownSubindex);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ObjectIndex,
    ::testing::Values(
        IndexCase{"Identity", L"1018", L"1", L"1018", L"01", "605 8: 40 18 10 01 00 00 00 00"},
        IndexCase{"FiveDigitsStayWhileTheRequestCarriesSixteenBits", L"12345", L"0", L"12345", L"00",
                  "605 8: 40 45 23 00 00 00 00 00"},
        IndexCase{"PrefixAndBlanks", L"  0x1008", L" 0", L"1008", L"00", "605 8: 40 08 10 00 00 00 00 00"},
        IndexCase{"SubindexAboveFFIsZero", L"1018", L"100", L"1018", L"00", "605 8: 40 18 10 00 00 00 00 00"},
        IndexCase{"StopsAtTheFirstOtherCharacter", L"1018h", L"2x", L"1018", L"02", "605 8: 40 18 10 02 00 00 00 00"},
        IndexCase{"NothingConvertsIsZero", L"xyz", L"", L"0000", L"00", "605 8: 40 00 00 00 00 00 00 00"},
        IndexCase{"OverLongKeepsTheLowThirtyTwoBits", L"123456789", L"ff", L"23456789", L"FF",
                  "605 8: 40 89 67 FF 00 00 00 00"},
        IndexCase{"MinusOne", L"-1", L"-1", L"FFFFFFFF", L"00", "605 8: 40 FF FF 00 00 00 00 00"},
        // The read dialog takes 99 characters: the digits after them are not seen.
        IndexCase{"OnlyNinetyNineCharactersAreRead",
                  L"000000000000000000000000000000000000000000000000000"
                  L"0000000000000000000000000000000000000000000000001018",
                  L"1", L"0000", L"01", "605 8: 40 00 00 01 00 00 00 00"}),
    CaseName());

// --- Reading ---------------------------------------------------------------------------

TEST_F(ObjectDialogs, OneByteResultIsShownInEveryFormat)
{
    const std::uint8_t ff = 0xFF;
    ASSERT_EQ(bus.setObject(kDrive, 0x6060, 0, &ff, 1), kSimOk);
    HWND dialog = OpenRead();
    ASSERT_NE(dialog, nullptr);
    EnterObject(dialog, L"6060", L"0");
    EXPECT_EQ(Transfer(dialog), std::vector<std::string>{"605 8: 40 60 60 00 00 00 00 00"});
    EXPECT_EQ(ControlText(dialog, IDC_RESULT_LENGTH), L"1");

    const struct {
        int button;
        const wchar_t* shown;
    } views[] = {{IDC_FORMAT_HEX, L"FF"},
                 {IDC_FORMAT_SIGNED, L"-1"},
                 {IDC_FORMAT_UNSIGNED, L"255"},
                 {IDC_FORMAT_RAW, L"FF "},
                 {IDC_FORMAT_FLOAT, L"3.57331e-43"}};  // the bytes FF 00 00 00
    for (const auto& view : views) {
        Click(dialog, view.button);
        EXPECT_EQ(ControlText(dialog, IDC_RESULT_VALUE), view.shown) << view.button;
        EXPECT_EQ(ControlText(dialog, IDC_RESULT_LENGTH), L"1");
    }
}

TEST_F(ObjectDialogs, SegmentedReadOfTheDescriptionIsShownInRaw)
{
    const std::vector<std::uint8_t> text = SlaveObject(0x2000, 0);
    ASSERT_EQ(text.size(), 119u);
    HWND dialog = OpenRead();
    ASSERT_NE(dialog, nullptr);
    Click(dialog, IDC_FORMAT_RAW);
    EnterObject(dialog, L"2000", L"0");
    const std::vector<std::string> frames = Transfer(dialog);
    // The initiate request, then one request per segment of seven bytes.
    EXPECT_EQ(frames.size(), 1u + (119 + 6) / 7);
    EXPECT_EQ(ControlText(dialog, IDC_RESULT_LENGTH), L"119");
    wchar_t shown[4000] = L"";
    GetDlgItemTextW(dialog, IDC_RESULT_VALUE, shown, 4000);
    EXPECT_EQ(std::wstring(shown), RawText(text));
}

TEST_F(ObjectDialogs, WrittenTextReadsBack)
{
    const std::vector<std::uint8_t> written(std::begin("Velomar writes here!"), std::end("Velomar writes here!") - 1);
    HWND write = OpenWrite();
    ASSERT_NE(write, nullptr);
    EnterObject(write, L"2000", L"0");
    Click(write, IDC_FORMAT_RAW);
    EnterValue(write, RawText(written).c_str());
    const std::vector<std::string> frames = Transfer(write);
    EXPECT_EQ(frames.size(), 1u + (20 + 6) / 7) << "a segmented download";
    EXPECT_EQ(SlaveObject(0x2000, 0), written);

    HWND read = OpenRead();
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(ControlText(read, IDC_OBJECT_INDEX), L"2000");
    EXPECT_TRUE(Checked(read, IDC_FORMAT_RAW));
    Transfer(read);
    EXPECT_EQ(ControlText(read, IDC_RESULT_LENGTH), L"20");
    EXPECT_EQ(ControlText(read, IDC_RESULT_VALUE), RawText(written));
}

// A slave may answer a segmented upload without announcing its size: a 220-character
// text written in Raw reads back whole.
TEST_F(ObjectDialogs, LongTextReadsBackFromASlaveThatDoesNotAnnounceTheSize)
{
    ASSERT_EQ(bus.setNodeMode(kDrive, kSimNodeUnsizedUploads, 0), kSimOk);
    std::vector<std::uint8_t> written;
    for (int i = 0; i < 220; ++i)
        written.push_back(static_cast<std::uint8_t>('A' + i % 26));
    HWND write = OpenWrite();
    ASSERT_NE(write, nullptr);
    EnterObject(write, L"2000", L"0");
    Click(write, IDC_FORMAT_RAW);
    EnterValue(write, RawText(written).c_str());
    {
        MessageBoxAnswerer answers;
        EXPECT_EQ(Transfer(write).size(), 1u + (220 + 6) / 7);
        EXPECT_TRUE(answers.Seen().empty());
    }
    EXPECT_EQ(SlaveObject(0x2000, 0), written);

    HWND read = OpenRead();
    ASSERT_NE(read, nullptr);
    MessageBoxAnswerer answers;
    bus.TakeSent();
    Click(read, IDOK);
    RunIdleCycle();
    const std::vector<DriverMsg> frames = bus.TakeSent();
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(FrameText(frames[0]), "605 8: 40 00 20 00 00 00 00 00");
    EXPECT_TRUE(answers.Seen().empty()) << "no communication failure";
    EXPECT_EQ(ControlText(read, IDC_RESULT_LENGTH), L"220");
    wchar_t shown[4000] = L"";
    GetDlgItemTextW(read, IDC_RESULT_VALUE, shown, 4000);
    EXPECT_EQ(std::wstring(shown), RawText(written));
}

// Inputs that wait in the driver's queue when an object read starts are not lost: each
// frame is in the trace before the read's request, and the input list shows the data.
TEST_F(ObjectDialogs, InputsQueuedBeforeAReadReachTheTraceAndTheList)
{
    EndProgram();
    Start("[Tovral]\r\nCurrAdr=3\r\nLogging=1\r\n");
    {
        MessageBoxAnswerer answers({IDOK});
        Command(IDM_START);
    }
    ASSERT_EQ(commState.active, 1u);
    HWND dialog = OpenRead();
    ASSERT_NE(dialog, nullptr);
    EnterObject(dialog, L"1018", L"1");
    Click(dialog, IDOK);

    // Three input PDOs of node 3 queued: the read's own idle cycle pumps the first, the
    // rest are still waiting when the transfer empties the queue.
    const std::uint8_t payloads[3][4] = {{0x11, 0x12}, {0x21, 0x22, 0x23, 0x24}, {0x5A, 0xA5}};
    const std::uint32_t ids[3] = {0x183, 0x283, 0x183};
    for (int i = 0; i < 3; ++i) {
        DriverMsg msg{};
        msg.id = ids[i];
        msg.length = ids[i] == 0x183 ? 2 : 4;
        std::copy(payloads[i], payloads[i] + msg.length, msg.data);
        ASSERT_EQ(bus.injectFrame(&msg), kSimOk);
    }
    bus.TakeSent();
    RunIdleCycle();
    ASSERT_FALSE(bus.TakeSent().empty());
    EXPECT_EQ(ControlText(dialog, IDC_RESULT_LENGTH), L"4");

    const std::vector<std::wstring> inputs = ListLines(GetDlgItem(window, IDC_INPUT_LIST));
    ASSERT_GE(inputs.size(), 8u);
    EXPECT_EQ(inputs[1], L"PDO1   [0]:\t5Ah\t01011010\tZ") << "the newest of the two PDO1 frames";
    EXPECT_EQ(inputs[4], L"PDO2   [0]:\t21h\t00100001\t!");

    Command(IDM_STOP);
    RunIdleCycle();
    ASSERT_EQ(DriverLoaded(), 0);
    EndProgram();
    const std::string trace = ReadFileBytes(ExecutableFolder() + L"tovral.log");
    const std::size_t first = trace.find(": 183 - 11 12 \r\nID: 03h, Function: 3h (PDO1 (tx))\r\n");
    const std::size_t second = trace.find(": 283 - 21 22 23 24 \r\nID: 03h, Function: 5h (PDO2 (tx))\r\n");
    const std::size_t third = trace.find(": 183 - 5A A5 \r\nID: 03h, Function: 3h (PDO1 (tx))\r\n");
    const std::size_t request = trace.find(": 603 - 40 18 10 01 00 00 00 00 ");
    ASSERT_NE(first, std::string::npos) << trace;
    ASSERT_NE(second, std::string::npos) << trace;
    ASSERT_NE(third, std::string::npos) << trace;
    ASSERT_NE(request, std::string::npos) << trace;
    EXPECT_LT(first, second);
    EXPECT_LT(second, third);
    EXPECT_LT(third, request) << "read before the request went out";
}

// --- Failures ---------------------------------------------------------------------------

struct AbortCase {
    std::string name;
    std::string settings;
    std::wstring text;
};

class ObjectAbort : public ObjectDialogs, public ::testing::WithParamInterface<AbortCase> {};

TEST_P(ObjectAbort, IsReportedWithItsCode)
{
    EndProgram();
    Start(GetParam().settings + "[Tovral]\r\nCurrAdr=5\r\n");
    HWND dialog = OpenRead();
    ASSERT_NE(dialog, nullptr);
    EnterObject(dialog, L"12345", L"0");
    MessageBoxAnswerer answers;
    Transfer(dialog);
    ASSERT_EQ(answers.Seen().size(), 1u);
    EXPECT_EQ(answers.Seen()[0].caption, L"Velomar");
    EXPECT_EQ(answers.Seen()[0].text, GetParam().text);
    EXPECT_EQ(answers.Seen()[0].buttons, std::vector<int>{IDOK});
    EXPECT_FALSE(answers.Seen()[0].icon);
    EXPECT_EQ(ControlText(dialog, IDC_RESULT_LENGTH), L"");
    EXPECT_EQ(ControlText(dialog, IDC_RESULT_VALUE), L"");
    EXPECT_EQ(DriverLoaded(), 0) << "the bus is closed after the transfer";
}

INSTANTIATE_TEST_SUITE_P(Languages, ObjectAbort,
                         ::testing::Values(AbortCase{"English", "", L"Unable to access object!\nAbort Code: 06020000h"},
                                           AbortCase{"German", "[Language]\r\nPrimaryLanguage=7\r\nSubLanguage=1\r\n",
                                                     L"Kann auf Objekt nicht zugreifen!\nAbort Code: 06020000h"}),
                         CaseName());

TEST_F(ObjectDialogs, SilentNodeWithCommunicationStoppedGivesCommunicationFailure)
{
    UseSystemClock();  // the 500 ms time-out must run out
    bus.setNodeMode(kDrive, kSimNodeSilent, 0);
    HWND dialog = OpenRead();
    ASSERT_NE(dialog, nullptr);
    EnterObject(dialog, L"1018", L"1");
    const SimCounters before = bus.Counters();
    MessageBoxAnswerer answers;
    EXPECT_EQ(Transfer(dialog),
              (std::vector<std::string>{"605 8: 40 18 10 01 00 00 00 00", "605 8: 80 18 10 01 00 00 04 05"}))
        << "the request and the time-out abort";
    ASSERT_EQ(answers.Seen().size(), 1u);
    EXPECT_EQ(answers.Seen()[0].text, L"Communication failure!");
    EXPECT_EQ(answers.Seen()[0].buttons, std::vector<int>{IDOK});
    EXPECT_TRUE(answers.Seen()[0].icon);
    EXPECT_EQ(ControlText(dialog, IDC_RESULT_LENGTH), L"");
    EXPECT_EQ(DriverLoaded(), 0);
    EXPECT_EQ(bus.Counters().inits - before.inits, 1u);
    EXPECT_EQ(bus.Counters().closes - before.closes, 2u);
}

TEST_F(ObjectDialogs, ReadingWhileCommunicationIsActiveUsesTheOpenBus)
{
    SetDlgItemTextW(window, IDC_ADDRESS, L"3");
    {
        MessageBoxAnswerer answers({IDOK});
        Command(IDM_START);
    }
    ASSERT_EQ(commState.active, 1u);
    const std::uint32_t initsAfterStart = bus.Counters().inits;
    std::uint8_t vendor[4] = {};
    std::uint32_t length = 0;
    ASSERT_EQ(bus.getObject(3, 0x1018, 1, vendor, 4, &length), kSimOk);
    wchar_t expected[16];
    std::swprintf(expected, 16, L"%X",
                  static_cast<unsigned>(vendor[0] | vendor[1] << 8 | vendor[2] << 16 | vendor[3] << 24));

    HWND dialog = OpenRead();
    ASSERT_NE(dialog, nullptr);
    EnterObject(dialog, L"1018", L"1");
    const std::vector<std::string> frames = Transfer(dialog);
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames[0], "603 8: 40 18 10 01 00 00 00 00");
    EXPECT_EQ(ControlText(dialog, IDC_RESULT_LENGTH), L"4");
    EXPECT_EQ(ControlText(dialog, IDC_RESULT_VALUE), expected);
    EXPECT_EQ(commState.active, 1u);
    EXPECT_EQ(DriverLoaded(), 1);
    EXPECT_EQ(bus.Counters().inits, initsAfterStart) << "no second bus open";
}

TEST_F(ObjectDialogs, ResultArrivingAfterTheDialogClosedIsNotShownAnywhere)
{
    HWND dialog = OpenRead();
    ASSERT_NE(dialog, nullptr);
    EnterObject(dialog, L"1018", L"1");
    Click(dialog, IDOK);
    Click(dialog, IDCANCEL);
    EXPECT_FALSE(IsWindow(dialog));
    EXPECT_EQ(ReadObjectDialog(), nullptr);
    bus.TakeSent();
    RunIdleCycle();
    EXPECT_EQ(Described(bus.TakeSent()), std::vector<std::string>{"605 8: 40 18 10 01 00 00 00 00"})
        << "the request is still carried out";
    HWND reopened = OpenRead();
    ASSERT_NE(reopened, nullptr);
    EXPECT_EQ(ControlText(reopened, IDC_RESULT_LENGTH), L"");
    EXPECT_EQ(ControlText(reopened, IDC_OBJECT_INDEX), L"1018");
}

// --- The dialogs as windows -------------------------------------------------------------

TEST_F(ObjectDialogs, FirstWriteDialogOfARunAndWhatItRemembers)
{
    HWND write = OpenWrite();
    ASSERT_NE(write, nullptr);
    EXPECT_TRUE(IsWindowVisible(write));
    EXPECT_EQ(ControlText(write, IDC_OBJECT_INDEX), L"0000");
    EXPECT_EQ(ControlText(write, IDC_OBJECT_SUBINDEX), L"00");
    EXPECT_EQ(ControlText(write, IDC_SEND_VALUE), L"0");
    EXPECT_TRUE(Checked(write, IDC_FORMAT_HEX));
    EXPECT_TRUE(Checked(write, IDC_COUNT_4));
    for (int id : kCountButtons)
        EXPECT_TRUE(Enabled(write, id)) << id;
    EXPECT_EQ(GetFocus(), GetDlgItem(write, IDC_OBJECT_INDEX));

    EnterObject(write, L"2001", L"0");
    Click(write, IDC_FORMAT_FLOAT);
    EnterValue(write, L"1.5");
    Transfer(write);
    Click(write, IDCANCEL);
    EXPECT_EQ(WriteObjectDialog(), nullptr);

    write = OpenWrite();
    ASSERT_NE(write, nullptr);
    EXPECT_EQ(ControlText(write, IDC_OBJECT_INDEX), L"2001");
    EXPECT_EQ(ControlText(write, IDC_SEND_VALUE), L"1.5");
    EXPECT_TRUE(Checked(write, IDC_FORMAT_FLOAT));
    EXPECT_TRUE(Checked(write, IDC_COUNT_4));
    for (int id : kCountButtons)
        EXPECT_FALSE(Enabled(write, id)) << id;

    HWND read = OpenRead();
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(ControlText(read, IDC_OBJECT_INDEX), L"2001");
    EXPECT_EQ(ControlText(read, IDC_OBJECT_SUBINDEX), L"00");
    EXPECT_TRUE(Checked(read, IDC_FORMAT_FLOAT));
    for (int id : kFormatButtons) {
        if (id != IDC_FORMAT_FLOAT) {
            EXPECT_FALSE(Checked(read, id)) << id;
        }
    }
    EXPECT_EQ(ControlText(read, IDC_RESULT_LENGTH), L"");
    EXPECT_EQ(ControlText(read, IDC_RESULT_VALUE), L"");
}

TEST_F(ObjectDialogs, AtMostOneObjectDialogIsOpen)
{
    HWND write = OpenWrite();
    ASSERT_NE(write, nullptr);
    HWND read = OpenRead();
    ASSERT_NE(read, nullptr);
    EXPECT_FALSE(IsWindow(write)) << "Read Object closes Write Object";
    EXPECT_EQ(WriteObjectDialog(), nullptr);
    EXPECT_EQ(OpenRead(), read) << "a second Read Object changes nothing";
    EXPECT_TRUE(IsWindow(read));
    write = OpenWrite();
    ASSERT_NE(write, nullptr);
    EXPECT_FALSE(IsWindow(read));
    EXPECT_EQ(ReadObjectDialog(), nullptr);
    Click(write, IDCANCEL);
    EXPECT_FALSE(IsWindow(write));
    EXPECT_EQ(WriteObjectDialog(), nullptr);
}

TEST_F(ObjectDialogs, FunctionKeysMoveTheFocusBetweenTheWindows)
{
    auto focusIn = [](HWND top) {
        HWND focus = GetFocus();
        return focus != nullptr && (focus == top || IsChild(top, focus));
    };
    HWND read = OpenRead();
    ASSERT_NE(read, nullptr);
    SetFocus(GetDlgItem(window, IDC_ADDRESS));
    PressKey(GetFocus(), VK_F4);
    EXPECT_TRUE(focusIn(window)) << "F4 without a Write Object dialog does nothing";
    PressKey(GetFocus(), VK_F3);
    EXPECT_TRUE(focusIn(read));
    PressKey(GetFocus(), VK_F2);
    EXPECT_TRUE(focusIn(window));

    HWND write = OpenWrite();
    ASSERT_NE(write, nullptr);
    SetFocus(GetDlgItem(window, IDC_ADDRESS));
    PressKey(GetFocus(), VK_F3);
    EXPECT_TRUE(focusIn(window)) << "F3 without a Read Object dialog does nothing";
    PressKey(GetFocus(), VK_F4);
    EXPECT_TRUE(focusIn(write));
    PressKey(GetFocus(), VK_F2);
    EXPECT_TRUE(focusIn(window));
}

TEST_F(ObjectDialogs, DialogsAreCentredOverTheMainWindow)
{
    for (UINT command : {IDM_READ_OBJECT, IDM_WRITE_OBJECT}) {
        Command(static_cast<WORD>(command));
        RunIdleCycle();
        HWND dialog = command == IDM_READ_OBJECT ? ReadObjectDialog() : WriteObjectDialog();
        ASSERT_NE(dialog, nullptr);
        RECT main{}, own{};
        GetWindowRect(window, &main);
        GetWindowRect(dialog, &own);
        EXPECT_LE(std::abs((main.left + main.right) - (own.left + own.right)), 1);
        EXPECT_LE(std::abs((main.top + main.bottom) - (own.top + own.bottom)), 1);
    }
}

}  // namespace
