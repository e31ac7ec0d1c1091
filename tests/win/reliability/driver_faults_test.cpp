// A driver library that is missing, incomplete or failing, and a bus that will not take
// frames: what the operator is told, and that every wait ends.
#include <gtest/gtest.h>

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
#include "test_driver_host.h"

namespace {

constexpr wchar_t kCannotLoad[] = L"Unable to load CAN DLL!";
constexpr wchar_t kCannotOpen[] = L"Unable to open CAN dongle!";
constexpr wchar_t kCommFailure[] = L"Communication failure!";
constexpr wchar_t kNoSlave[] = L"No Slave found!";

// --- The library cannot be had ------------------------------------------------------------

struct MissingLibrary {
    const char* name;
    DriverFile file;
};

class LibraryThatCannotBeUsed : public FaultTest, public ::testing::WithParamInterface<MissingLibrary> {};

TEST_P(LibraryThatCannotBeUsed, IsReportedByStartObjectAccessAndSearch)
{
    UseDriver(GetParam().file);
    EXPECT_EQ(Texts(StartCommunication()), std::vector<std::wstring>{kCannotLoad});
    EXPECT_EQ(commState.active, 0u);
    EXPECT_EQ(Texts(TransferObject(0, 0x1000, 0)), std::vector<std::wstring>{kCannotLoad});
    {
        MessageBoxAnswerer answers;
        Command(IDM_SEARCH_SLAVES);
        EXPECT_EQ(Texts(answers.Seen()), (std::vector<std::wstring>{kCannotLoad, kNoSlave}));
    }
    EXPECT_EQ(DriverLoaded(), 0);
    EXPECT_EQ(ControlText(window, IDC_ADDRESS), L"3");
}

INSTANTIATE_TEST_SUITE_P(Table, LibraryThatCannotBeUsed,
                         ::testing::Values(MissingLibrary{"Missing", DriverFile::None},
                                           MissingLibrary{"LackingCanResetClient", DriverFile::NoResetClient}),
                         CaseName());

// --- A stand-in whose CAN_Init fails ----------------------------------------------------

int initCalls = 0;
std::uint16_t initTiming = 0;
int otherCalls = 0;

std::uint32_t FailingInit(const char*, std::uint16_t btr0btr1, int)
{
    ++initCalls;
    initTiming = btr0btr1;
    return 0x4000;  // illegal parameter
}

std::uint32_t CountClose(const char*)
{
    return 0;
}

std::uint32_t CountStatus(const char*)
{
    ++otherCalls;
    return 0;
}

std::uint32_t CountTransfer(const char*, DriverMsg*)
{
    ++otherCalls;
    return 0x20;
}

const TestDriverHandlers kFailingInit{nullptr, nullptr, FailingInit, CountClose, CountStatus, CountTransfer, CountTransfer};

TEST_F(FaultTest, FailingInitShowsTheDongleMessageAndCallsNothingElse)
{
    UseDriver(DriverFile::StandIn);
    initCalls = otherCalls = 0;
    SetTestDriverHandlers(&kFailingInit);
    EXPECT_EQ(Texts(StartCommunication()), std::vector<std::wstring>{kCannotOpen});
    EXPECT_EQ(initCalls, 1);
    EXPECT_EQ(initTiming, 0x672F) << "10 kBaud, the default";
    EXPECT_EQ(otherCalls, 0);
    EXPECT_EQ(commState.active, 0u);
    EXPECT_EQ(Texts(TransferObject(0, 0x1000, 0)), std::vector<std::wstring>{kCannotOpen});
    EXPECT_EQ(otherCalls, 0);
}

// --- CAN_Status reports a fault while communication runs --------------------------------

// Clears the simulated bus fault when the question appears, as a fault that goes away
// while the operator reads the message.
SimSetStatusEntry setStatus = nullptr;
HHOOK statusHook = nullptr;

LRESULT CALLBACK ClearStatusAtTheQuestion(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_ACTIVATE)
        setStatus(0);
    return CallNextHookEx(statusHook, code, wParam, lParam);
}

TEST_F(FaultTest, BusFaultThatClearsLetsRetryGoOn)
{
    ASSERT_TRUE(StartCommunication().empty());
    bus.setStatus(0x10);
    MessageBoxAnswerer answers({IDRETRY});
    setStatus = bus.setStatus;
    statusHook = SetWindowsHookExW(WH_CBT, ClearStatusAtTheQuestion, nullptr, GetCurrentThreadId());
    RunIdleCycle();
    UnhookWindowsHookEx(statusHook);
    EXPECT_EQ(Texts(answers.Seen()), std::vector<std::wstring>{kCommFailure});
    EXPECT_EQ(commState.active, 1u);
    EXPECT_EQ(bus.nodeState(3), kSimStateOperational);
}

TEST_F(FaultTest, BusFaultThatStaysEndsWithTheOperatorsCancel)
{
    ASSERT_TRUE(StartCommunication().empty());
    bus.setStatus(0x10);
    Sent();
    MessageBoxAnswerer answers({IDRETRY, IDCANCEL, IDCANCEL, IDCANCEL});
    const Stopwatch watch;
    RunIdleCycle();
    const double seconds = watch.Seconds();
    // Retry restarts; the fault is still there, so the restart's first object read asks
    // again; Cancel there stops, and nothing is asked or sent after it.
    EXPECT_EQ(Texts(answers.Seen()), (std::vector<std::wstring>{kCommFailure, kCommFailure}));
    EXPECT_LT(seconds, 3.0) << "open 0.5 s, the read that was under way when Cancel closed the bus 1 s, the stop 0.5 s";
    EXPECT_EQ(commState.active, 0u);
    EXPECT_EQ(DriverLoaded(), 0);
    const std::vector<std::string> sent = Sent();
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.back(), "000 2: 80 03") << "the stop's NMT frame is the last one";
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "000 2: 01 03"), 0) << "the node is not started again";
}

// --- A transmit queue that stays full, a driver that refuses every frame -----------------

TEST_F(FaultTest, FullTransmitQueueFailsAnObjectReadInBoundedTime)
{
    bus.writeFull(0xFFFFFFF0u);
    const Stopwatch watch;
    EXPECT_EQ(Texts(TransferObject(0, 0x1000, 0)), std::vector<std::wstring>{kCommFailure});
    EXPECT_LT(watch.Seconds(), 2.0) << "open, 100 ms for the request, 500 ms time-out, 100 ms for the abort";
    EXPECT_TRUE(Sent().empty()) << "nothing got onto the bus";
    bus.writeFull(0);
    EXPECT_TRUE(TransferObject(0, 0x1000, 0).empty());
    EXPECT_EQ(processImage->request.length, 4u);
}

// Window input handled while the queue is full: timer messages, one every 50 ms.
LONG lastTimerTick = 0;
LONG longestGapMs = 0;

void CALLBACK NoteTimer(HWND, UINT, UINT_PTR, DWORD tick)
{
    if (lastTimerTick != 0 && static_cast<LONG>(tick) - lastTimerTick > longestGapMs)
        longestGapMs = static_cast<LONG>(tick) - lastTimerTick;
    lastTimerTick = static_cast<LONG>(tick);
}

TEST_F(FaultTest, FullTransmitQueueForSecondsKeepsTheWindowServedAndNothingIsReported)
{
    ASSERT_TRUE(StartCommunication().empty());
    ClickListLine(GetDlgItem(window, IDC_OUTPUT_LIST), 1);
    SendDlgItemMessageW(window, IDC_BIT0, BM_CLICK, 0, 0);
    bus.writeFull(0xFFFFFFF0u);
    lastTimerTick = longestGapMs = 0;
    const UINT_PTR timer = SetTimer(nullptr, 0, 50, NoteTimer);
    MessageBoxAnswerer answers;
    const Stopwatch watch;
    while (watch.Seconds() < 2.0)
        LoopPass();
    KillTimer(nullptr, timer);
    EXPECT_TRUE(answers.Seen().empty()) << "frames that cannot be sent are not reported";
    EXPECT_LT(longestGapMs, 500) << "one message is passed on after every frame given up after 100 ms";
    EXPECT_EQ(bus.ObjectU32(3, 0x6200, 1), 0u);

    bus.writeFull(0);
    Sleep(320);
    LoopPass();
    EXPECT_EQ(bus.ObjectU32(3, 0x6200, 1), 1u) << "the next refresh sends again";
    EXPECT_EQ(commState.active, 1u);
}

TEST_F(FaultTest, RefusedWritesFailTheStartInBoundedTime)
{
    bus.writeRefuse(kSimAlways);
    const Stopwatch watch;
    EXPECT_EQ(Texts(StartCommunication()), std::vector<std::wstring>{kCommFailure});
    EXPECT_LT(watch.Seconds(), 3.0) << "open, one 1000 ms time-out, the stop's pause";
    EXPECT_TRUE(Sent().empty());
    EXPECT_EQ(commState.active, 0u);
    EXPECT_EQ(DriverLoaded(), 0);
}

}  // namespace
