// The process-data lists: the lines exactly as formatted, item data, the horizontal
// extent, the selection across a rebuild, and rebuilding only what changed.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app.h"
#include "pdo_lists.h"
#include "process_image.h"
#include "resource.h"
#include "win_test_support.h"

namespace {

const std::wstring kPlainSeparator(57, L'-');

PdoEntry Entry(EntryKind kind, std::uint32_t pdoNumber, std::uint8_t byteIndex, std::uint32_t value = 0,
               std::uint32_t rxTime = 0)
{
    PdoEntry entry{};
    entry.kind = kind;
    entry.pdoNumber = pdoNumber;
    entry.byteIndex = byteIndex;
    entry.value = value;
    entry.rxTime = rxTime;
    return entry;
}

// "hh:mm:ss" of `seconds` since 1970 in local time, worked out by the platform's own
// time-zone rules.
std::wstring LocalClock(std::uint32_t seconds)
{
    const ULONGLONG ticks = (static_cast<ULONGLONG>(seconds) + 11644473600ull) * 10000000ull;
    FILETIME utcFile{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    SYSTEMTIME utc{}, local{};
    FileTimeToSystemTime(&utcFile, &utc);
    SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local);
    wchar_t text[16];
    swprintf(text, 16, L"%02u:%02u:%02u", local.wHour, local.wMinute, local.wSecond);
    return text;
}

class PdoLists : public ::testing::Test {
protected:
    void SetUp() override
    {
        window_ = StartProgram("");
        ASSERT_NE(window_, nullptr);
        list_ = GetDlgItem(window_, IDC_INPUT_LIST);
        table_ = new EntryList{};
    }
    void TearDown() override
    {
        delete table_;
        EndProgram();
    }

    HWND window_ = nullptr;
    HWND list_ = nullptr;
    EntryList* table_ = nullptr;  // a table of the list's kind, filled by each test
};

TEST_F(PdoLists, ShowEachPdoUnderItsSeparator)
{
    const std::uint32_t received = 1700000000;  // 2023-11-14, 22:13:20 UTC
    EntryList& t = *table_;
    t[0] = Entry(EntryData, 1, 0, 0x41, received);
    t[1] = Entry(EntryData, 1, 1, 0xC8, received);
    t[2] = Entry(EntryAbsent, 1, 2);
    t[8] = Entry(EntryNoData, 2, 0);
    t[9] = Entry(EntryNoData, 2, 1);
    for (int k = 3; k < 8; ++k)
        t[k] = Entry(EntryAbsent, 0, 0);
    t[10] = Entry(EntryAbsent, 0, 0);
    t[11] = Entry(EntryData, 100, 0, 0x05);
    t[12] = Entry(EntryData, 12, 0xA, 0xFF);

    ASSERT_EQ(FillPdoList(window_, IDC_INPUT_LIST, t), 1);

    EXPECT_EQ(ListLines(list_), (std::vector<std::wstring>{
                                    LocalClock(received) + L" -------------------------------------------",
                                    L"PDO1   [0]:\t41h\t01000001\tA",
                                    L"PDO1   [1]:\tC8h\t11001000\t.",
                                    kPlainSeparator,
                                    L"PDO2   [0]:\t?",
                                    L"PDO2   [1]:\t?",
                                    kPlainSeparator,
                                    L"PDO100 [0]:\t05h\t00000101\t.",
                                    L"PDO12  [A]:\tFFh\t11111111\t.",
                                }));
    // A line's item data is its entry's index in the table; separators carry the mark.
    EXPECT_EQ(ListItemData(list_),
              (std::vector<LPARAM>{SeparatorMark, 0, 1, SeparatorMark, 8, 9, SeparatorMark, 11, 12}));
    EXPECT_GT(SendMessageW(list_, LB_GETHORIZONTALEXTENT, 0, 0), 0);
}

struct ByteCase {
    std::uint32_t value;
    const wchar_t* line;
};

TEST_F(PdoLists, ShowHexBitsAndCharacterOfEachByte)
{
    const ByteCase cases[] = {
        {0x41, L"PDO3   [0]:\t41h\t01000001\tA"}, {0x0A, L"PDO3   [0]:\t0Ah\t00001010\t."},
        {0x7F, L"PDO3   [0]:\t7Fh\t01111111\t."}, {0xC8, L"PDO3   [0]:\tC8h\t11001000\t."},
        {0x00, L"PDO3   [0]:\t00h\t00000000\t."}, {0x1F, L"PDO3   [0]:\t1Fh\t00011111\t."},
        {0x20, L"PDO3   [0]:\t20h\t00100000\t "}, {0x7E, L"PDO3   [0]:\t7Eh\t01111110\t~"},
        {0x80, L"PDO3   [0]:\t80h\t10000000\t."}, {0x30, L"PDO3   [0]:\t30h\t00110000\t0"},
    };
    for (const ByteCase& c : cases) {
        EntryList& t = *table_;
        t[0] = Entry(EntryData, 3, 0, c.value);
        FillPdoList(window_, IDC_INPUT_LIST, t);
        const std::vector<std::wstring> lines = ListLines(list_);
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_EQ(lines[1], c.line) << "value " << c.value;
    }
}

TEST_F(PdoLists, EmptyTableGivesEmptyListWithoutExtent)
{
    (*table_)[0] = Entry(EntryData, 1, 0, 0x41);
    FillPdoList(window_, IDC_INPUT_LIST, *table_);
    ASSERT_EQ(ListLines(list_).size(), 2u);

    *table_ = EntryList{};
    ASSERT_EQ(FillPdoList(window_, IDC_INPUT_LIST, *table_), 1);

    EXPECT_TRUE(ListLines(list_).empty());
    EXPECT_EQ(SendMessageW(list_, LB_GETHORIZONTALEXTENT, 0, 0), 0);
}

TEST_F(PdoLists, KeepSelectedLineIndexAcrossARebuild)
{
    EntryList& t = *table_;
    for (std::uint8_t j = 0; j < 8; ++j)
        t[j] = Entry(EntryData, 1, j, j);
    FillPdoList(window_, IDC_INPUT_LIST, t);
    SendMessageW(list_, LB_SETCURSEL, 3, 0);

    t[0] = Entry(EntryNoData, 7, 0);  // other contents, same line count
    FillPdoList(window_, IDC_INPUT_LIST, t);

    EXPECT_EQ(SendMessageW(list_, LB_GETCURSEL, 0, 0), 3);
    EXPECT_EQ(ListLines(list_)[1], L"PDO7   [0]:\t?");
}

TEST_F(PdoLists, RebuildOnlyTheListsWhoseTablesChanged)
{
    HWND outputList = GetDlgItem(window_, IDC_OUTPUT_LIST);
    const wchar_t marker[] = L"marker";
    // A line that only a rebuild removes.
    auto mark = [&] {
        SendMessageW(list_, LB_ADDSTRING, 0, PointerToLParam(marker));
        SendMessageW(outputList, LB_ADDSTRING, 0, PointerToLParam(marker));
    };
    auto marked = [](HWND list) { return !ListLines(list).empty() && ListLines(list).back() == L"marker"; };

    mark();
    RefreshPdoLists(window_, processImage->inputs, false);
    EXPECT_TRUE(marked(list_));
    EXPECT_TRUE(marked(outputList));

    OutputTable[0] = Entry(EntryData, 1, 0, 0x12);
    RefreshPdoLists(window_, processImage->inputs, false);
    EXPECT_TRUE(marked(list_));
    EXPECT_EQ(ListLines(outputList), (std::vector<std::wstring>{kPlainSeparator, L"PDO1   [0]:\t12h\t00010010\t."}));

    processImage->inputs[0] = Entry(EntryNoData, 1, 0);
    mark();
    RefreshPdoLists(window_, processImage->inputs, false);
    EXPECT_EQ(ListLines(list_), (std::vector<std::wstring>{kPlainSeparator, L"PDO1   [0]:\t?"}));
    EXPECT_TRUE(marked(outputList));

    mark();
    RefreshPdoLists(window_, processImage->inputs, true);
    EXPECT_FALSE(marked(list_));
    EXPECT_FALSE(marked(outputList));
}

}  // namespace
