// The bus trace file: the exact two lines of each frame, and the file's life.
#include "bus_trace.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "files.h"
#include "test_files.h"
#include "tick.h"

namespace {

struct MsgFields {
    std::uint32_t id;
    std::uint8_t msgType;
    std::uint8_t length;
    std::vector<std::uint8_t> data;
};

// The record on the heap with nothing around it, so that a read past its 16 bytes is
// caught by the address sanitizer.
std::unique_ptr<DriverMsg> HeapMsg(const MsgFields& fields)
{
    auto msg = std::make_unique<DriverMsg>();
    std::memset(msg.get(), 0, sizeof(DriverMsg));
    msg->id = fields.id;
    msg->msgType = fields.msgType;
    msg->length = fields.length;
    std::size_t i = 0;
    for (const std::uint8_t byte : fields.data)
        msg->data[i++] = byte;
    return msg;
}

class BusTrace : public testing::Test {
protected:
    void SetUp() override
    {
        UseManualClock(0);
        previousTraceTick = 0;
        OpenTraceFile(path_.c_str());
    }
    void TearDown() override
    {
        CloseTraceFile();
        UseSystemClock();
    }

    const std::string& Path() const { return path_; }
    std::string Trace() const { return ReadWholeFile(path_); }
    std::string Scratch(const std::string& name) const { return folder_.Utf8(name); }

private:
    ScratchFolder folder_;
    std::string path_ = folder_.Utf8("tovral.log");
};

struct LineCase {
    const char* name;
    std::uint32_t previousTick;
    std::uint32_t now;
    MsgFields msg;
    const char* lines;
};

class TraceLines : public BusTrace, public testing::WithParamInterface<LineCase> {};

TEST_P(TraceLines, AreWrittenExactly)
{
    const LineCase& c = GetParam();
    previousTraceTick = c.previousTick;
    SetManualTick(c.now);
    const std::unique_ptr<DriverMsg> msg = HeapMsg(c.msg);

    TraceFrame(*msg);

    // Read while the file is still open: every piece has been flushed.
    EXPECT_EQ(Trace(), AsTextFile(c.lines));
    EXPECT_EQ(previousTraceTick, c.now);
}

const std::uint8_t kRtr = 0x01;
const std::uint8_t kExt = 0x02;
const std::uint8_t kStat = 0x80;

INSTANTIATE_TEST_SUITE_P(Frames, TraceLines,
                         testing::Values(LineCase{"SdoRequest",
                                                  1000,
                                                  1012,
                                                  {0x603, 0, 8, {0x40, 0x00, 0x10, 0, 0, 0, 0, 0}},
                                                  "    12: 603 - 40 00 10 00 00 00 00 00 \n"
                                                  "ID: 03h, Function: Ch (SDO (rx))\n"},
                                         LineCase{"RemoteFrame",
                                                  1012,
                                                  1015,
                                                  {0x705, kRtr, 1, {}},
                                                  "     3: 705( RTR ) - L=1\n"
                                                  "ID: 05h, Function: Eh (NTM Error Control)\n"},
                                         LineCase{"Sync",
                                                  2000,
                                                  2100,
                                                  {0x080, 0, 0, {}},
                                                  "   100: 080\n"
                                                  "ID: 00h, Function: 1h (SYNC)\n"},
                                         LineCase{"Emergency",
                                                  2000,
                                                  2001,
                                                  {0x085, 0, 8, {0x00, 0x10, 0x01, 0, 0, 0, 0, 0}},
                                                  "     1: 085 - 00 10 01 00 00 00 00 00 \n"
                                                  "ID: 05h, Function: 1h (EMERGENCY)\n"},
                                         LineCase{"EmergencyOfTheLastNode",
                                                  2000,
                                                  2001,
                                                  {0x0FF, 0, 0, {}},
                                                  "     1: 0FF\n"
                                                  "ID: 7Fh, Function: 1h (EMERGENCY)\n"},
                                         LineCase{"Nmt",
                                                  5,
                                                  5,
                                                  {0x000, 0, 2, {0x01, 0x03}},
                                                  "     0: 000 - 01 03 \n"
                                                  "ID: 00h, Function: 0h (NMT)\n"},
                                         LineCase{"TimeStamp",
                                                  5,
                                                  6,
                                                  {0x100, 0, 6, {0xAB, 0xCD, 0xEF, 0x01, 0x23, 0x45}},
                                                  "     1: 100 - AB CD EF 01 23 45 \n"
                                                  "ID: 00h, Function: 2h (TIME_STAMP)\n"},
                                         LineCase{"PdoFourReceive",
                                                  5,
                                                  6,
                                                  {0x57F, 0, 1, {0xFF}},
                                                  "     1: 57F - FF \n"
                                                  "ID: 7Fh, Function: Ah (PDO4 (rx))\n"},
                                         LineCase{"PdoTwoReceive",
                                                  5,
                                                  6,
                                                  {0x301, 0, 1, {0x10}},
                                                  "     1: 301 - 10 \n"
                                                  "ID: 01h, Function: 6h (PDO2 (rx))\n"},
                                         LineCase{"PdoThreeReceive",
                                                  5,
                                                  6,
                                                  {0x401, 0, 1, {0x10}},
                                                  "     1: 401 - 10 \n"
                                                  "ID: 01h, Function: 8h (PDO3 (rx))\n"},
                                         LineCase{"UnnamedCodeThirteen",
                                                  5,
                                                  6,
                                                  {0x6E4, 0, 0, {}},
                                                  "     1: 6E4\n"
                                                  "ID: 64h, Function: Dh (-)\n"},
                                         LineCase{"UnnamedCodeFifteen",
                                                  5,
                                                  6,
                                                  {0x7E4, 0, 1, {0x05}},
                                                  "     1: 7E4 - 05 \n"
                                                  "ID: 64h, Function: Fh (-)\n"},
                                         // All the identifier's digits; the decoding takes its low 11 bits only.
                                         LineCase{"ExtendedIdentifier",
                                                  5,
                                                  6,
                                                  {0x1ABCD603, kExt, 2, {0xAA, 0xBB}},
                                                  "     1: 1ABCD603( EXT ) - AA BB \n"
                                                  "ID: 03h, Function: Ch (SDO (rx))\n"},
                                         LineCase{"ShortExtendedIdentifier",
                                                  5,
                                                  6,
                                                  {0x00000005, kExt, 0, {}},
                                                  "     1: 005( EXT )\n"
                                                  "ID: 05h, Function: 0h (NMT)\n"},
                                         LineCase{"ExtendedRemote",
                                                  5,
                                                  6,
                                                  {0x18FF50E5, kExt | kRtr, 8, {}},
                                                  "     1: 18FF50E5( EXT  RTR ) - L=8\n"
                                                  "ID: 65h, Function: 1h (EMERGENCY)\n"},
                                         LineCase{"EveryFlag",
                                                  5,
                                                  6,
                                                  {0x181, kStat | kExt | kRtr, 2, {0x11, 0x22}},
                                                  "     1: 181( STAT  EXT  RTR ) - L=2\n"
                                                  "ID: 01h, Function: 3h (PDO1 (tx))\n"},
                                         LineCase{"StatusAndExtended",
                                                  5,
                                                  6,
                                                  {0x181, kStat | kExt, 1, {0x07}},
                                                  "     1: 181( STAT  EXT ) - 07 \n"
                                                  "ID: 01h, Function: 3h (PDO1 (tx))\n"},
                                         LineCase{"StatusOnly",
                                                  5,
                                                  6,
                                                  {0x000, kStat, 0, {}},
                                                  "     1: 000( STAT )\n"
                                                  "ID: 00h, Function: 0h (NMT)\n"},
                                         LineCase{"OtherTypeBitsAreNoFlags",
                                                  5,
                                                  6,
                                                  {0x201, 0x04 | 0x40, 1, {0x33}},
                                                  "     1: 201 - 33 \n"
                                                  "ID: 01h, Function: 4h (PDO1 (rx))\n"},
                                         LineCase{"LengthZeroPrintsNoData",
                                                  5,
                                                  6,
                                                  {0x181, 0, 0, {1, 2, 3, 4, 5, 6, 7, 8}},
                                                  "     1: 181\n"
                                                  "ID: 01h, Function: 3h (PDO1 (tx))\n"},
                                         LineCase{"LengthTwelvePrintsEightBytes",
                                                  5,
                                                  6,
                                                  {0x281, 0, 12, {1, 2, 3, 4, 5, 6, 7, 8}},
                                                  "     1: 281 - 01 02 03 04 05 06 07 08 \n"
                                                  "ID: 01h, Function: 5h (PDO2 (tx))\n"},
                                         LineCase{"RemoteLengthIsPrintedAsGiven",
                                                  5,
                                                  6,
                                                  {0x381, kRtr, 12, {}},
                                                  "     1: 381( RTR ) - L=12\n"
                                                  "ID: 01h, Function: 7h (PDO3 (tx))\n"},
                                         // The first frame after start: previousTraceTick is still 0.
                                         LineCase{"FirstFrameShowsTheWholeTick",
                                                  0,
                                                  123456789,
                                                  {0x701, 0, 1, {0x00}},
                                                  "123456789: 701 - 00 \n"
                                                  "ID: 01h, Function: Eh (NTM Error Control)\n"},
                                         LineCase{"SixDigits",
                                                  0,
                                                  999999,
                                                  {0x701, 0, 0, {}},
                                                  "999999: 701\n"
                                                  "ID: 01h, Function: Eh (NTM Error Control)\n"},
                                         LineCase{"LargestDelta",
                                                  1,
                                                  0,
                                                  {0x701, 0, 0, {}},
                                                  "4294967295: 701\n"
                                                  "ID: 01h, Function: Eh (NTM Error Control)\n"},
                                         LineCase{"AcrossTheTickWrap",
                                                  0xFFFFFFF0u,
                                                  0x10,
                                                  {0x481, 0, 0, {}},
                                                  "    32: 481\n"
                                                  "ID: 01h, Function: 9h (PDO4 (tx))\n"}),
                         [](const testing::TestParamInfo<LineCase>& naming) { return std::string(naming.param.name); });

TEST_F(BusTrace, FramesFollowEachOtherWithTheirOwnDeltas)
{
    const std::unique_ptr<DriverMsg> request = HeapMsg({0x603, 0, 8, {0x40, 0x00, 0x10}});
    const std::unique_ptr<DriverMsg> remote = HeapMsg({0x705, kRtr, 1, {}});
    SetManualTick(40000);
    TraceFrame(*request);
    SetManualTick(40012);
    TraceFrame(*request);
    SetManualTick(40015);
    TraceFrame(*remote);

    EXPECT_EQ(Trace(), AsTextFile(" 40000: 603 - 40 00 10 00 00 00 00 00 \n"
                                  "ID: 03h, Function: Ch (SDO (rx))\n"
                                  "    12: 603 - 40 00 10 00 00 00 00 00 \n"
                                  "ID: 03h, Function: Ch (SDO (rx))\n"
                                  "     3: 705( RTR ) - L=1\n"
                                  "ID: 05h, Function: Eh (NTM Error Control)\n"));
}

TEST_F(BusTrace, PrintfWritesFormattedAndReportsTheCount)
{
    EXPECT_EQ(TracePrintf("%6u|%03X|%02X|%01X|%s", 42u, 0x5u, 0xABu, 0xFu, "x"), 17);
    EXPECT_EQ(Trace(), "    42|005|AB|F|x");
}

// Without an open file every write does nothing, and the clock bookkeeping goes on.
TEST_F(BusTrace, WithoutFileNothingIsWritten)
{
    CloseTraceFile();
    CloseTraceFile();
    SetManualTick(777);

    EXPECT_EQ(TracePrintf("%u", 5u), 0);
    TraceFrame(*HeapMsg({0x181, 0, 1, {1}}));

    EXPECT_EQ(previousTraceTick, 777u);
    EXPECT_EQ(Trace(), "");
}

TEST_F(BusTrace, OpeningEmptiesAnExistingFile)
{
    CloseTraceFile();
    std::FILE* old = OpenFileUtf8(Path().c_str(), "wb");
    ASSERT_NE(old, nullptr);
    std::fputs("an earlier run\n", old);
    std::fclose(old);

    OpenTraceFile(Path().c_str());
    EXPECT_EQ(Trace(), "");
    EXPECT_EQ(TracePrintf("new"), 3);
    EXPECT_EQ(Trace(), "new");
}

TEST_F(BusTrace, FileThatCannotBeOpenedLeavesTheTraceOff)
{
    CloseTraceFile();
    const std::string path = Scratch("no such folder/tovral.log");

    OpenTraceFile(path.c_str());

    EXPECT_EQ(TracePrintf("lost"), 0);
    TraceFrame(*HeapMsg({0x181, 0, 0, {}}));
    EXPECT_EQ(ReadWholeFile(path), "");
}

// Opening again closes the first file complete and writes on in the second.
TEST_F(BusTrace, OpeningAgainMovesToTheNewFile)
{
    const std::string second = Scratch("second.log");
    TracePrintf("first\n");
    OpenTraceFile(second.c_str());
    TracePrintf("second\n");

    EXPECT_EQ(Trace(), AsTextFile("first\n"));
    EXPECT_EQ(ReadWholeFile(second), AsTextFile("second\n"));
}

}  // namespace
