// Communication > Node Monitor (F6) through the real program against node 3 of the
// simulated bus: the state following Start, Stop and the NMT buttons, an emergency
// decoded in the list and in the main window's title, a heartbeat lost and back, the
// error history read and cleared, and the German window.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <regex>
#include <string>
#include <vector>

#include "app.h"
#include "comm_state.h"
#include "driver.h"
#include "exchange.h"
#include "node_monitor.h"
#include "resource.h"
#include "sim_controls.h"
#include "tick.h"
#include "win_test_support.h"

namespace {

constexpr std::uint32_t kNode = 3;
constexpr char kGermanSettings[] = "[Language]\r\nPrimaryLanguage=7\r\nSubLanguage=1\r\n";

bool Contains(const std::wstring& text, const std::wstring& part)
{
    return text.find(part) != std::wstring::npos;
}

class MonitorWindow : public ::testing::Test {
protected:
    SimControls bus;
    HWND window = nullptr;

    void SetUp() override
    {
        ASSERT_TRUE(bus.Load());
        bus.reset();
        bus.setAnimation(0);
    }

    void TearDown() override
    {
        EndProgram();
        bus.setClock(0, 0);
        bus.Unload();
    }

    void Start(const std::string& settings)
    {
        window = StartProgram(settings);
        ASSERT_NE(window, nullptr);
        bus.setClock(1, TickMs());
    }

    HWND Open()
    {
        PressKey(window, VK_F6);
        RouteQueuedMessages();
        return NodeMonitorWindow();
    }

    void SetProducerTime(std::uint16_t ms)
    {
        const std::uint8_t bytes[2] = {static_cast<std::uint8_t>(ms), static_cast<std::uint8_t>(ms >> 8)};
        ASSERT_EQ(bus.setObject(kNode, 0x1017, 0, bytes, 2), kSimOk);
    }

    void StartCommunication()
    {
        MessageBoxAnswerer answers({IDOK});
        SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDM_START, 0), 0);
        ASSERT_EQ(commState.active, 1u);
    }

    // Idle cycles of the main loop, `stepMs` apart on both clocks, until `until` holds
    // (true) or `ms` have passed (false).
    template <typename Condition>
    bool CycleUntil(std::uint32_t ms, std::uint32_t stepMs, Condition until)
    {
        for (std::uint32_t waited = 0; waited < ms; waited += stepMs) {
            AdvanceManualTick(stepMs);
            bus.setClock(1, TickMs());
            RunIdleCycle();
            RouteQueuedMessages();
            if (until())
                return true;
        }
        return false;
    }

    static void Click(HWND dialog, int id) { SendDlgItemMessageW(dialog, id, BM_CLICK, 0, 0); }
};

TEST_F(MonitorWindow, TheStateFollowsStartStopAndEveryNmtButton)
{
    Start("");
    HWND dialog = Open();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(WindowText(dialog), L"<F6> Node Monitor");
    EXPECT_EQ(ControlText(dialog, IDC_MON_NODE), L"Node 3");
    EXPECT_EQ(ControlText(dialog, IDC_MON_STATE), L"Unknown");
    EXPECT_EQ(ControlText(dialog, IDC_MON_HEARTBEAT),
              L"Not watched: communication is stopped. Start it to watch the slave.");
    EXPECT_EQ(Open(), dialog) << "at most one";

    // Started with a heartbeat of 200 ms: operational, from the slave's own heartbeat.
    SetProducerTime(200);
    StartCommunication();
    ASSERT_TRUE(CycleUntil(1000, 20, [&] { return ControlText(dialog, IDC_MON_STATE) == L"Operational"; }));
    EXPECT_TRUE(Contains(ControlText(dialog, IDC_MON_SEEN), L"seen "));
    EXPECT_TRUE(Contains(ControlText(dialog, IDC_MON_HEARTBEAT), L"(producer 200 ms, consumer 300 ms)"))
        << Utf8(ControlText(dialog, IDC_MON_HEARTBEAT));

    // Stop with communication active: asked, the exchange stops first, then the slave.
    {
        MessageBoxAnswerer answers({IDOK});
        Click(dialog, IDC_MON_STOP);
        ASSERT_EQ(answers.Seen().size(), 1u);
        EXPECT_EQ(answers.Seen()[0].text,
                  L"Communication is active.\nIt is stopped before the command is sent.\nOutputs may be modified!");
    }
    EXPECT_EQ(commState.active, 0u);
    EXPECT_EQ(SendDlgItemMessageW(window, IDC_COMM_ACTIVE, BM_GETCHECK, 0, 0), BST_UNCHECKED)
        << "the main window's indicator follows, though the stop came from the monitor";
    EXPECT_EQ(bus.nodeState(kNode), kSimStateStopped);
    EXPECT_EQ(ControlText(dialog, IDC_MON_STATE), L"Stopped");
    EXPECT_TRUE(Contains(ControlText(dialog, IDC_MON_COMMAND), L"Last command: Stop, sent "));
    EXPECT_EQ(WindowText(window), L"Velomar") << "a stop is no loss of the heartbeat";

    // Pre-operational with communication off: nothing to ask.
    {
        MessageBoxAnswerer answers;
        Click(dialog, IDC_MON_PREOP);
        EXPECT_TRUE(answers.Seen().empty());
    }
    EXPECT_EQ(bus.nodeState(kNode), kSimStatePreOperational);
    EXPECT_EQ(ControlText(dialog, IDC_MON_STATE), L"Pre-operational");

    // Start and Reset Node ask as Start does; Cancel sends nothing.
    {
        MessageBoxAnswerer answers({IDCANCEL});
        Click(dialog, IDC_MON_START);
        ASSERT_EQ(answers.Seen().size(), 1u);
        EXPECT_EQ(answers.Seen()[0].text, L"Warning!\nOutputs may be modified!");
    }
    EXPECT_EQ(bus.nodeState(kNode), kSimStatePreOperational);
    {
        MessageBoxAnswerer answers({IDOK});
        Click(dialog, IDC_MON_START);
    }
    EXPECT_EQ(bus.nodeState(kNode), kSimStateOperational);
    EXPECT_EQ(ControlText(dialog, IDC_MON_STATE), L"Operational");
    {
        MessageBoxAnswerer answers({IDOK});
        Click(dialog, IDC_MON_RESET_NODE);
        ASSERT_EQ(answers.Seen().size(), 1u);
    }
    EXPECT_EQ(bus.nodeState(kNode), kSimStatePreOperational);
    EXPECT_EQ(ControlText(dialog, IDC_MON_STATE), L"Boot-up") << "the boot-up the reset brought";
    {
        MessageBoxAnswerer answers({IDOK});
        Click(dialog, IDC_MON_RESET_COMM);
    }
    EXPECT_EQ(ControlText(dialog, IDC_MON_STATE), L"Boot-up");
    EXPECT_TRUE(Contains(ControlText(dialog, IDC_MON_COMMAND), L"Reset Communication"));
    EXPECT_EQ(DriverLoaded(), 0) << "each command closed the bus it opened";

    // The close sequence closes the monitor too.
    SendMessageW(window, WM_CLOSE, 0, 0);
    RunIdleCycle();
    EXPECT_EQ(NodeMonitorWindow(), nullptr);
    EXPECT_FALSE(IsWindow(dialog));
}

TEST_F(MonitorWindow, AnEmergencyShowsDecodedAndInTheTitleAndALostHeartbeatComesBack)
{
    Start("");
    SetProducerTime(200);
    StartCommunication();
    ASSERT_TRUE(CycleUntil(1000, 20, [] { return nodeMonitor.stateSeen != 0; }));

    // No monitor open: the main window's title says what came.
    const std::uint8_t bytes[5] = {0xDE, 0xAD, 0x00, 0x01, 0x02};
    ASSERT_EQ(bus.raiseEmergency(kNode, 0x8130, kSimAutoErrorRegister, bytes), kSimOk);
    ASSERT_TRUE(CycleUntil(100, 10, [&] { return WindowText(window) != L"Velomar"; }));
    EXPECT_EQ(WindowText(window), L"Velomar - Node 3: emergency 8130h (1 new)");

    // Opened, the monitor lists it newest first, decoded, and the alert is seen.
    HWND dialog = Open();
    ASSERT_NE(dialog, nullptr);
    SendMessageW(dialog, WM_ACTIVATE, WA_ACTIVE, 0);
    HWND list = GetDlgItem(dialog, IDC_MON_EMCY_LIST);
    ASSERT_EQ(RowCount(list), 1);
    EXPECT_EQ(CellText(list, 0, 1), L"8130h");
    EXPECT_EQ(CellText(list, 0, 2), L"Communication: Life guard error or heartbeat error");
    EXPECT_TRUE(Contains(CellText(list, 0, 3), L"communication")) << Utf8(CellText(list, 0, 3));
    EXPECT_EQ(CellText(list, 0, 4), L"DE AD 00 01 02");
    EXPECT_EQ(WindowText(window), L"Velomar");

    // Within one cycle of its frame while the monitor is open.
    const std::uint8_t none[5] = {};
    ASSERT_EQ(bus.raiseEmergency(kNode, 0x3210, kSimAutoErrorRegister, none), kSimOk);
    AdvanceManualTick(1);
    bus.setClock(1, TickMs());
    RunIdleCycle();
    ASSERT_EQ(RowCount(list), 2);
    EXPECT_EQ(CellText(list, 0, 1), L"3210h");
    EXPECT_EQ(CellText(list, 0, 2), L"Voltage");
    EXPECT_EQ(CellText(list, 1, 1), L"8130h");

    // The heartbeat stops: the loss shows in the monitor and the title, then it is back.
    ASSERT_EQ(bus.setNodeMode(kNode, kSimNodeSilent, 0), kSimOk);
    ASSERT_TRUE(CycleUntil(1000, 10, [&] { return nodeMonitor.lost != 0; }));
    EXPECT_EQ(ControlText(dialog, IDC_MON_HEARTBEAT), L"No heartbeat for 300 ms!");
    EXPECT_TRUE(Contains(WindowText(window), L"Node 3: no heartbeat!")) << Utf8(WindowText(window));
    ASSERT_EQ(bus.setNodeMode(kNode, kSimNodeNormal, 0), kSimOk);
    ASSERT_TRUE(CycleUntil(1000, 10, [&] { return nodeMonitor.lost == 0; }));
    EXPECT_TRUE(std::regex_match(
        ControlText(dialog, IDC_MON_HEARTBEAT),
        std::wregex(L"Last heartbeat \\d\\d:\\d\\d:\\d\\d\\.\\d{3} \\(producer 200 ms, consumer 300 ms\\)")))
        << Utf8(ControlText(dialog, IDC_MON_HEARTBEAT));
    EXPECT_FALSE(Contains(WindowText(window), L"no heartbeat"));
}

TEST_F(MonitorWindow, TheErrorHistoryIsReadAndClearedAfterTheQuestion)
{
    Start("");
    const std::uint8_t none[5] = {};
    ASSERT_EQ(bus.raiseEmergency(kNode, 0x3210, kSimAutoErrorRegister, none), kSimOk);
    ASSERT_EQ(bus.raiseEmergency(kNode, 0x8120, kSimAutoErrorRegister, none), kSimOk);
    HWND dialog = Open();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(ControlText(dialog, IDC_MON_HISTORY_LINE), L"Not read yet");

    Click(dialog, IDC_MON_READ_HISTORY);
    HWND list = GetDlgItem(dialog, IDC_MON_HISTORY_LIST);
    const int held = RowCount(list);
    ASSERT_GE(held, 2);
    EXPECT_EQ(ControlText(dialog, IDC_MON_HISTORY_LINE),
              std::to_wstring(held) + L" entries held, " + std::to_wstring(held) + L" read");
    EXPECT_EQ(CellText(list, 0, 0), L"1");
    EXPECT_EQ(CellText(list, 0, 1), L"8120h");
    EXPECT_EQ(CellText(list, 0, 2), L"Communication: CAN in error passive mode");
    EXPECT_EQ(CellText(list, 1, 1), L"3210h");
    EXPECT_EQ(DriverLoaded(), 0) << "read over a bus opened for it";

    {
        MessageBoxAnswerer answers({IDCANCEL});
        Click(dialog, IDC_MON_CLEAR_HISTORY);
        ASSERT_EQ(answers.Seen().size(), 1u);
        EXPECT_EQ(answers.Seen()[0].text, L"Clear the slave's error history (object 1003h)?");
    }
    EXPECT_NE(bus.ObjectU32(kNode, 0x1003, 0), 0u);
    {
        MessageBoxAnswerer answers({IDOK});
        Click(dialog, IDC_MON_CLEAR_HISTORY);
    }
    EXPECT_EQ(bus.ObjectU32(kNode, 0x1003, 0), 0u);
    EXPECT_EQ(ControlText(dialog, IDC_MON_HISTORY_LINE), L"Cleared");
    Click(dialog, IDC_MON_READ_HISTORY);
    EXPECT_EQ(RowCount(list), 0);
    EXPECT_EQ(ControlText(dialog, IDC_MON_HISTORY_LINE), L"0 entries held, 0 read");
}

TEST_F(MonitorWindow, GermanWindowAndTexts)
{
    Start(kGermanSettings);
    HWND dialog = Open();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(WindowText(dialog), L"<F6> Knotenmonitor");
    EXPECT_EQ(ControlText(dialog, IDC_MON_NODE), L"Knoten 3");
    EXPECT_EQ(ControlText(dialog, IDC_MON_STATE), L"Unbekannt");
    EXPECT_EQ(ControlText(dialog, IDC_MON_STOP), L"Sto&pp");
    EXPECT_EQ(ControlText(dialog, IDC_MON_RESET_NODE), L"&Knoten zurücksetzen");
    EXPECT_EQ(ControlText(dialog, IDC_MON_READ_HISTORY), L"&Fehlerspeicher");
    const std::vector<std::wstring> items = MenuItemTexts(GetMenu(window), 2);
    ASSERT_GE(items.size(), 7u);
    EXPECT_EQ(items[6], L"&Knotenmonitor ...");

    StartCommunication();
    const std::uint8_t none[5] = {};
    ASSERT_EQ(bus.raiseEmergency(kNode, 0x4210, kSimAutoErrorRegister, none), kSimOk);
    HWND list = GetDlgItem(dialog, IDC_MON_EMCY_LIST);
    ASSERT_TRUE(CycleUntil(100, 10, [&] { return RowCount(list) == 1; }));
    EXPECT_EQ(CellText(list, 0, 2), L"Temperatur");
    EXPECT_TRUE(Contains(CellText(list, 0, 3), L"Temperatur")) << "the register bit by name";
    {
        MessageBoxAnswerer answers({IDCANCEL});
        Click(dialog, IDC_MON_PREOP);
        ASSERT_EQ(answers.Seen().size(), 1u);
        EXPECT_EQ(answers.Seen()[0].text, L"Die Kommunikation ist aktiv.\nSie wird gestoppt, bevor der Befehl "
                                          L"gesendet wird.\nAusgänge können verändert werden!");
    }
    EXPECT_EQ(commState.active, 1u) << "Cancel leaves the exchange running";
}

}  // namespace
