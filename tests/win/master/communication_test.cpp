// Communication with node 3 of the simulated bus, driven through the main window's
// commands as the operator gives them, watched on the bus (the frames the master sent),
// in the slaves (objects and NMT state) and in the windows (message boxes, lists, menu).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app.h"
#include "bus_pump.h"
#include "comm_state.h"
#include "exchange.h"
#include "process_image.h"
#include "resource.h"
#include "settings.h"
#include "sim_controls.h"
#include "tick.h"
#include "win_test_support.h"

namespace {

constexpr std::uint32_t kNode = 3;

class Communication : public ::testing::Test {
protected:
    SimControls bus;
    HWND window = nullptr;

    void SetUp() override
    {
        ASSERT_TRUE(bus.Load());
        bus.reset();
        bus.setAnimation(0);  // inputs change only when the test says so
        Start("");
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

    // Start, confirmed at the warning; the sent frames of the start are taken.
    std::vector<DriverMsg> StartConfirmed()
    {
        MessageBoxAnswerer answers({IDOK});
        Command(IDM_START);
        EXPECT_EQ(answers.Seen().size(), 1u);
        return bus.TakeSent();
    }

    // One pass of the main loop while communication runs: the queue routed, one idle cycle.
    void Cycle(std::uint32_t advanceMs)
    {
        AdvanceManualTick(advanceMs);
        RouteQueuedMessages();
        RunIdleCycle();
    }

    std::vector<std::wstring> Lines(int listId) { return ListLines(GetDlgItem(window, listId)); }

    std::wstring MenuState(UINT command)
    {
        const UINT state = GetMenuState(GetMenu(window), command, MF_BYCOMMAND);
        return (state & MF_GRAYED) != 0 ? L"grayed" : L"enabled";
    }
};

// The SDO requests and NMT frames of a start, as (index, subindex) reads, writes and starts.
std::vector<std::string> Requests(const std::vector<DriverMsg>& frames)
{
    std::vector<std::string> requests;
    char text[48];
    for (const DriverMsg& f : frames) {
        const unsigned index = f.data[1] | (f.data[2] << 8);
        if (f.id == 0x600 + kNode && f.data[0] == 0x40)
            std::snprintf(text, sizeof text, "read %04X/%u", index, f.data[3]);
        else if (f.id == 0x600 + kNode && (f.data[0] & 0xE0) == 0x20)
            std::snprintf(text, sizeof text, "write %04X/%u %s", index, f.data[3], FrameText(f).c_str());
        else
            std::snprintf(text, sizeof text, "%s", FrameText(f).c_str());
        requests.push_back(text);
    }
    return requests;
}

TEST_F(Communication, CancelAtTheWarningTouchesNeitherDriverNorEngine)
{
    MessageBoxAnswerer answers({IDCANCEL});
    Command(IDM_START);
    ASSERT_EQ(answers.Seen().size(), 1u);
    EXPECT_EQ(answers.Seen()[0].caption, L"Velomar");
    EXPECT_EQ(answers.Seen()[0].text, L"Warning!\nOutputs may be modified!");
    EXPECT_EQ(answers.Seen()[0].buttons, (std::vector<int>{IDOK, IDCANCEL}));
    EXPECT_EQ(bus.Counters().inits, 0u);
    EXPECT_TRUE(bus.TakeSent().empty());
    EXPECT_EQ(commState.active, 0u);
    EXPECT_EQ(MenuState(IDM_START), L"enabled");
}

TEST_F(Communication, StartReadsTheConfigurationAndStartsTheNode)
{
    const std::vector<std::string> requests = Requests(StartConfirmed());
    ASSERT_GT(requests.size(), 1030u);

    // Inputs: 0x1800 + n for n = 0 to 511; the two valid TPDOs bring their mapping reads
    // and the transmission-type write; then outputs: 0x1400 + n; then the NMT start and
    // the node monitor's one read.
    std::vector<std::string> expected = {
        "read 1800/1", "read 1A00/0", "read 1A00/1", "read 1A00/2", "write 1400/2 603 8: 23 00 14 02 FF 00 00 00",
        "read 1801/1", "read 1A01/0", "read 1A01/1", "read 1A01/2", "write 1401/2 603 8: 23 01 14 02 FF 00 00 00"};
    char text[32];
    for (unsigned n = 2; n < 512; ++n) {
        std::snprintf(text, sizeof text, "read %04X/1", 0x1800 + n);
        expected.push_back(text);
    }
    for (const char* r :
         {"read 1400/1", "read 1600/0", "read 1600/1", "read 1401/1", "read 1601/0", "read 1601/1", "read 1601/2"})
        expected.push_back(r);
    for (unsigned n = 2; n < 512; ++n) {
        std::snprintf(text, sizeof text, "read %04X/1", 0x1400 + n);
        expected.push_back(text);
    }
    expected.push_back("000 2: 01 03");
    // Then the node monitor reads the heartbeat producer time it will supervise.
    expected.push_back("read 1017/0");
    EXPECT_EQ(requests, expected);

    EXPECT_EQ(commState.active, 1u);
    EXPECT_EQ(bus.nodeState(kNode), kSimStateOperational);
    EXPECT_EQ(MenuState(IDM_START), L"grayed");
    EXPECT_EQ(MenuState(IDM_SEARCH_SLAVES), L"grayed");
    EXPECT_EQ(MenuState(IDM_STOP), L"enabled");
    EXPECT_EQ(SendDlgItemMessageW(window, IDC_COMM_ACTIVE, BM_GETCHECK, 0, 0), BST_CHECKED);

    const std::wstring none = L"---------------------------------------------------------";
    EXPECT_EQ(Lines(IDC_INPUT_LIST),
              (std::vector<std::wstring>{none, L"PDO1   [0]:\t?", L"PDO1   [1]:\t?", none, L"PDO2   [0]:\t?",
                                         L"PDO2   [1]:\t?", L"PDO2   [2]:\t?", L"PDO2   [3]:\t?"}));
    EXPECT_EQ(Lines(IDC_OUTPUT_LIST),
              (std::vector<std::wstring>{none, L"PDO1   [0]:\t00h\t00000000\t.", none, L"PDO2   [0]:\t00h\t00000000\t.",
                                         L"PDO2   [1]:\t00h\t00000000\t.", L"PDO2   [2]:\t00h\t00000000\t.",
                                         L"PDO2   [3]:\t00h\t00000000\t."}));
    // Separator lines carry the mark 0x80000000 (negative in a 32-bit LPARAM).
    const auto separator = static_cast<LPARAM>(0x80000000u);
    EXPECT_EQ(ListItemData(GetDlgItem(window, IDC_OUTPUT_LIST)),
              (std::vector<LPARAM>{separator, 0, separator, 8, 9, 10, 11}));
}

TEST_F(Communication, ExchangeRefreshesOnlyAfterThreeHundredMilliseconds)
{
    StartConfirmed();
    Cycle(100);
    EXPECT_TRUE(bus.TakeSent().empty()) << "100 ms after the last send: no refresh";
    Cycle(200);
    EXPECT_TRUE(bus.TakeSent().empty()) << "exactly 300 ms: not yet";
    Cycle(1);
    std::vector<std::string> sent;
    for (const DriverMsg& f : bus.TakeSent())
        sent.push_back(FrameText(f));
    EXPECT_EQ(sent, (std::vector<std::string>{"183 RTR 2", "283 RTR 4", "203 1: 00", "303 4: 00 00 00 00"}));

    // The answers arrive; the input list shows them with the time of reception.
    bus.setObject(kNode, 0x6000, 1, std::vector<std::uint8_t>{0x41}.data(), 1);
    Cycle(301);
    Cycle(1);
    const std::vector<std::wstring> inputs = Lines(IDC_INPUT_LIST);
    ASSERT_EQ(inputs.size(), 8u);
    EXPECT_EQ(inputs[0].size(), 8u + 1 + 43) << "hh:mm:ss, a blank and 43 hyphens";
    EXPECT_EQ(inputs[0].substr(2, 1) + inputs[0].substr(5, 1), L"::");
    EXPECT_EQ(inputs[1], L"PDO1   [0]:\t41h\t01000001\tA");
    EXPECT_EQ(inputs[2], L"PDO1   [1]:\t00h\t00000000\t.");
}

TEST_F(Communication, AnOutputEditReachesTheSlaveAndReadsBack)
{
    StartConfirmed();
    HWND outputs = GetDlgItem(window, IDC_OUTPUT_LIST);
    ClickListLine(outputs, 1);  // PDO1 [0]
    SetDlgItemTextW(window, IDC_OUTPUT_BYTE, L"0x1f");
    SetFocus(GetDlgItem(window, IDC_OUTPUT_BYTE));
    PressKey(GetDlgItem(window, IDC_OUTPUT_BYTE), VK_RETURN);
    EXPECT_EQ(ControlText(window, IDC_OUTPUT_BYTE), L"1F");

    Cycle(301);
    EXPECT_EQ(bus.ObjectU32(kNode, 0x6200, 1), 0x1Fu) << "the RPDO was applied by the slave";
    Cycle(301);  // the slave mirrors its outputs in input byte 1
    Cycle(1);
    EXPECT_EQ(Lines(IDC_INPUT_LIST)[2], L"PDO1   [1]:\t1Fh\t00011111\t.");

    // Bit box 7 sets the top bit of the same byte.
    SendDlgItemMessageW(window, IDC_BIT7, BM_CLICK, 0, 0);
    Cycle(301);
    EXPECT_EQ(bus.ObjectU32(kNode, 0x6200, 1), 0x9Fu);
}

TEST_F(Communication, FrozenOutputsKeepTheSentValuesWhileTheListShowsEdits)
{
    StartConfirmed();
    ClickListLine(GetDlgItem(window, IDC_OUTPUT_LIST), 1);
    SendDlgItemMessageW(window, IDC_BIT0, BM_CLICK, 0, 0);
    Cycle(301);
    ASSERT_EQ(bus.ObjectU32(kNode, 0x6200, 1), 0x01u);

    SendDlgItemMessageW(window, IDC_FREEZE, BM_CLICK, 0, 0);
    EXPECT_EQ(commState.freezeOutputs, 1u);
    SendDlgItemMessageW(window, IDC_BIT0 + 1, BM_CLICK, 0, 0);
    bus.TakeSent();
    Cycle(301);
    EXPECT_EQ(Lines(IDC_OUTPUT_LIST)[1], L"PDO1   [0]:\t03h\t00000011\t.");
    std::vector<std::string> sent;
    for (const DriverMsg& f : bus.TakeSent())
        sent.push_back(FrameText(f));
    EXPECT_NE(std::find(sent.begin(), sent.end(), "203 1: 01"), sent.end()) << "the frozen value goes out";
    EXPECT_EQ(bus.ObjectU32(kNode, 0x6200, 1), 0x01u);

    SendDlgItemMessageW(window, IDC_FREEZE, BM_CLICK, 0, 0);
    Cycle(301);
    EXPECT_EQ(bus.ObjectU32(kNode, 0x6200, 1), 0x03u);
}

TEST_F(Communication, StopSendsOneNmtFrameAndPausesBeforeTheClose)
{
    StartConfirmed();
    const SimCounters before = bus.Counters();
    const std::uint32_t tick = TickMs();
    Command(IDM_STOP);
    EXPECT_EQ(commState.DeferredCommand, DeferredStop) << "the handler only leaves the command";
    RunIdleCycle();
    std::vector<std::string> sent;
    for (const DriverMsg& f : bus.TakeSent())
        sent.push_back(FrameText(f));
    EXPECT_EQ(sent, (std::vector<std::string>{"000 2: 80 03"}));
    EXPECT_GE(TickMs() - tick, 500u);
    EXPECT_EQ(bus.Counters().closes - before.closes, 2u) << "one direct close, one inside the unload";
    EXPECT_EQ(bus.nodeState(kNode), kSimStatePreOperational);
    EXPECT_EQ(commState.active, 0u);
    EXPECT_TRUE(Lines(IDC_INPUT_LIST).empty());
    EXPECT_TRUE(Lines(IDC_OUTPUT_LIST).empty());
    EXPECT_EQ(MenuState(IDM_START), L"enabled");
    EXPECT_EQ(MenuState(IDM_STOP), L"grayed");
}

// Failures take real time-outs: the system clock runs for these.
class CommunicationFailure : public Communication {
protected:
    void SetUp() override
    {
        Communication::SetUp();
        UseSystemClock();
    }
};

TEST_F(CommunicationFailure, SilentNodeAtStartGivesOneMessageAndTheStopWithoutNmt)
{
    bus.setNodeMode(kNode, kSimNodeSilent, 0);
    MessageBoxAnswerer answers({IDOK, IDOK});
    Command(IDM_START);
    ASSERT_EQ(answers.Seen().size(), 2u);
    EXPECT_EQ(answers.Seen()[1].text, L"Communication failure!");
    EXPECT_EQ(answers.Seen()[1].buttons, std::vector<int>{IDOK});
    std::vector<std::string> sent;
    for (const DriverMsg& f : bus.TakeSent())
        sent.push_back(FrameText(f));
    EXPECT_EQ(sent, (std::vector<std::string>{"603 8: 40 00 18 01 00 00 00 00", "603 8: 80 00 18 01 00 00 04 05"}))
        << "one request, the time-out abort, and no NMT frame";
    EXPECT_EQ(bus.Counters().closes, 2u);
    EXPECT_EQ(commState.active, 0u);
    EXPECT_EQ(MenuState(IDM_START), L"enabled");
}

TEST_F(CommunicationFailure, UnusablePdoConfigurationIsReported)
{
    const std::uint8_t extended[4] = {0x83, 0x01, 0x00, 0x20};  // bit 29: 29-bit identifier
    bus.setObject(kNode, 0x1800, 1, extended, 4);
    MessageBoxAnswerer answers({IDOK, IDOK});
    Command(IDM_START);
    ASSERT_EQ(answers.Seen().size(), 2u);
    EXPECT_EQ(answers.Seen()[1].text, L"Bad PDO Configuration!");
    EXPECT_EQ(commState.active, 0u);
}

TEST_F(CommunicationFailure, BusFaultAsksRetryOrCancel)
{
    StartConfirmed();
    bus.setStatus(0x10);
    MessageBoxAnswerer answers({IDCANCEL});
    RunIdleCycle();
    ASSERT_EQ(answers.Seen().size(), 1u);
    EXPECT_EQ(answers.Seen()[0].text, L"Communication failure!");
    EXPECT_EQ(answers.Seen()[0].buttons, (std::vector<int>{IDCANCEL, IDRETRY}));
    std::vector<std::string> sent;
    for (const DriverMsg& f : bus.TakeSent())
        sent.push_back(FrameText(f));
    EXPECT_EQ(sent, (std::vector<std::string>{"000 2: 80 03"})) << "the question comes before any frame";
    EXPECT_EQ(commState.active, 0u);
}

// An object read that times out while communication is active; the restarts then fail
// on the first object of the configuration.
TEST_F(CommunicationFailure, RetryRetryCancelOpensTheBusTwiceAndStopsOnce)
{
    StartConfirmed();
    const std::uint32_t initsAfterStart = bus.Counters().inits;
    bus.setNodeMode(kNode, kSimNodeSilent, 0);
    ObjectRequest& request = processImage->request;
    request.index = 0x1000;
    request.subindex = 0;
    request.direction = 0;
    request.pending = 1;
    MessageBoxAnswerer answers({IDRETRY, IDRETRY, IDCANCEL});
    RunIdleCycle();
    ASSERT_EQ(answers.Seen().size(), 3u);
    for (const SeenMessageBox& box : answers.Seen()) {
        EXPECT_EQ(box.text, L"Communication failure!");
        EXPECT_EQ(box.buttons, (std::vector<int>{IDCANCEL, IDRETRY}));
    }
    EXPECT_EQ(bus.Counters().inits - initsAfterStart, 2u);
    int nmtStops = 0;
    for (const DriverMsg& f : bus.TakeSent())
        if (f.id == 0 && f.data[0] == 0x80)
            ++nmtStops;
    EXPECT_EQ(nmtStops, 1);
    EXPECT_EQ(commState.active, 0u);
}

TEST(CommunicationTrace, HoldsTwoLinesForEveryFrameOfASession)
{
    SimControls bus;
    ASSERT_TRUE(bus.Load());
    bus.reset();
    HWND window = StartProgram("[Tovral]\r\nLogging=1\r\n");
    ASSERT_NE(window, nullptr);
    {
        MessageBoxAnswerer answers({IDOK});
        SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDM_START, 0), 0);
    }
    AdvanceManualTick(301);
    RunIdleCycle();
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDM_STOP, 0), 0);
    RunIdleCycle();
    std::vector<DriverMsg> sent = bus.TakeSent();
    EndProgram();
    bus.Unload();

    const std::string trace = ReadFileBytes(ExecutableFolder() + L"tovral.log");
    std::vector<std::string> lines;
    std::size_t from = 0;
    for (std::size_t at; (at = trace.find("\r\n", from)) != std::string::npos; from = at + 2)
        lines.push_back(trace.substr(from, at - from));
    ASSERT_EQ(lines.size() % 2, 0u);
    ASSERT_GT(lines.size(), 2 * sent.size()) << "sent and received frames";
    for (std::size_t i = 1; i < lines.size(); i += 2)
        EXPECT_EQ(lines[i].rfind("ID: ", 0), 0u) << lines[i];
    // Every frame the master sent is in the trace, in order.
    std::size_t line = 0;
    for (const DriverMsg& f : sent) {
        char id[8];
        std::snprintf(id, sizeof id, ": %03X", static_cast<unsigned>(f.id));
        while (line < lines.size() && lines[line].find(id) == std::string::npos)
            line += 2;
        EXPECT_LT(line, lines.size()) << FrameText(f);
        line += 2;
    }
    EXPECT_NE(trace.find("000 - 80 03 \r\nID: 00h, Function: 0h (NMT)"), std::string::npos);
}

}  // namespace
