// A driver library that is missing, incomplete or failing, and a bus that will not take
// frames: what the operator is told, and that every wait ends.
#include <gtest/gtest.h>

#include <algorithm>
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
#include "tick.h"

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

const TestDriverHandlers kFailingInit{nullptr,     nullptr,       FailingInit,  CountClose,
                                      CountStatus, CountTransfer, CountTransfer};

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
    ManualTime time(bus);
    RunIdleCycle();
    const std::uint32_t elapsedMs = time.ElapsedMs();
    // Retry restarts; the fault is still there, so the restart's first object read asks
    // again; Cancel there stops, and nothing is asked or sent after it.
    EXPECT_EQ(Texts(answers.Seen()), (std::vector<std::wstring>{kCommFailure, kCommFailure}));
    EXPECT_LT(elapsedMs, 3000u)
        << "open 0.5 s, the read that was under way when Cancel closed the bus 1 s, the stop 0.5 s";
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
    ManualTime time(bus);
    EXPECT_EQ(Texts(TransferObject(0, 0x1000, 0)), std::vector<std::wstring>{kCommFailure});
    const std::uint32_t elapsedMs = time.ElapsedMs();
    EXPECT_GE(elapsedMs, 500u + 100u + 500u) << "at least the open, the request given up and the time-out";
    EXPECT_LT(elapsedMs, 2000u);
    EXPECT_TRUE(Sent().empty()) << "nothing got onto the bus";
    bus.writeFull(0);
    EXPECT_TRUE(TransferObject(0, 0x1000, 0).empty());
    EXPECT_EQ(processImage->request.length, 4u);
}

// Window input handled while the queue is full: a message-only window notes the tick of
// every message it is handed.
constexpr UINT kNoteMessage = WM_APP + 1;
std::vector<std::uint32_t> handledAt;

LRESULT CALLBACK NoteMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == kNoteMessage) {
        handledAt.push_back(TickMs());
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

TEST_F(FaultTest, FullTransmitQueueKeepsTheWindowServedAndNothingIsReported)
{
    ASSERT_TRUE(StartCommunication().empty());
    ClickListLine(GetDlgItem(window, IDC_OUTPUT_LIST), 1);
    SendDlgItemMessageW(window, IDC_BIT0, BM_CLICK, 0, 0);
    bus.writeFull(0xFFFFFFF0u);

    WNDCLASSW noteClass{};
    noteClass.lpfnWndProc = NoteMessage;
    noteClass.hInstance = GetModuleHandleW(nullptr);
    noteClass.lpszClassName = L"VelomarNoteMessages";
    RegisterClassW(&noteClass);
    HWND note = CreateWindowExW(0, noteClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                noteClass.hInstance, nullptr);
    ASSERT_NE(note, nullptr);

    MessageBoxAnswerer answers;
    ManualTime time(bus);
    std::uint32_t longestGapMs = 0;
    for (int refresh = 0; refresh < 5; ++refresh) {
        // Input waiting at every refresh; each of the four frames (two remote requests,
        // two outputs) is given up after 100 ms and followed by one message passed on.
        handledAt.clear();
        for (int i = 0; i < 10; ++i)
            PostMessageW(note, kNoteMessage, 0, 0);
        AdvanceManualTick(400);
        std::uint32_t previous = TickMs();
        RunIdleCycle();
        EXPECT_EQ(handledAt.size(), 4u) << "one message after every frame given up";
        for (const std::uint32_t tick : handledAt) {
            longestGapMs = std::max(longestGapMs, tick - previous);
            previous = tick;
        }
        RouteQueuedMessages();  // the rest of the input, as the main loop would
    }
    DestroyWindow(note);
    EXPECT_TRUE(answers.Seen().empty()) << "frames that cannot be sent are not reported";
    EXPECT_GE(longestGapMs, 100u) << "a frame is given up only after 100 ms";
    EXPECT_LT(longestGapMs, 500u) << "one message is passed on after every frame given up after 100 ms";
    EXPECT_EQ(bus.ObjectU32(3, 0x6200, 1), 0u);

    bus.writeFull(0);
    AdvanceManualTick(320);
    LoopPass();
    EXPECT_EQ(bus.ObjectU32(3, 0x6200, 1), 1u) << "the next refresh sends again";
    EXPECT_EQ(commState.active, 1u);
}

TEST_F(FaultTest, RefusedWritesFailTheStartInBoundedTime)
{
    bus.writeRefuse(kSimAlways);
    ManualTime time(bus);
    EXPECT_EQ(Texts(StartCommunication()), std::vector<std::wstring>{kCommFailure});
    EXPECT_LT(time.ElapsedMs(), 3000u) << "open, one 1000 ms time-out, the stop's pause";
    EXPECT_TRUE(Sent().empty());
    EXPECT_EQ(commState.active, 0u);
    EXPECT_EQ(DriverLoaded(), 0);
}

}  // namespace
