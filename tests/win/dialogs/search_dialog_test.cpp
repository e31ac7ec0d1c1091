// Address > Search Slaves through the real main window, against the simulated bus: the
// list as it grows node by node, the button, the message at the end, what is taken into
// CurrAdr, the frames on the bus and the driver library afterwards. The searches take
// real time-outs (50 ms for every node that does not answer), so the system clock runs.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "app.h"
#include "driver.h"
#include "exchange.h"
#include "modal_operator.h"
#include "resource.h"
#include "settings.h"
#include "sim_controls.h"
#include "tick.h"
#include "win_test_support.h"

namespace {

constexpr char kGermanSettings[] = "[Language]\r\nPrimaryLanguage=7\r\nSubLanguage=1\r\n";

// The list after a search up to `lastNode`, where the nodes in `answering` answered.
std::vector<std::wstring> ExpectedLines(int lastNode, const std::set<int>& answering)
{
    std::vector<std::wstring> lines;
    for (int node = 1; node <= lastNode; ++node)
        lines.push_back(answering.count(node) != 0 ? std::to_wstring(node) : L"(" + std::to_wstring(node) + L")");
    return lines;
}

// What the operator saw of the dialog at one moment.
struct DialogView {
    std::wstring title;
    std::wstring button;
    std::vector<std::wstring> lines;
    LRESULT selected = LB_ERR;
};

DialogView Look(HWND dialog)
{
    HWND list = GetDlgItem(dialog, IDC_SLAVE_LIST);
    return {WindowText(dialog), ControlText(dialog, IDOK), ListLines(list), SendMessageW(list, LB_GETCURSEL, 0, 0)};
}

// A step for the end of the search, when button 1 has turned from Abort to OK: looks at
// the dialog into `view`, then does `then`.
ModalOperator::Step WhenSearchEnded(DialogView& view, std::function<void(HWND)> then)
{
    return [&view, then](HWND dialog) {
        if (ControlText(dialog, IDOK) != L"&OK")
            return false;
        view = Look(dialog);
        then(dialog);
        return true;
    };
}

// Counts the fills of the list, remembers the button during the search, and posts one
// command to the dialog once the list has `atLines` lines.
struct FillLog {
    std::vector<LRESULT> counts;
    std::set<std::wstring> buttonsWhileSearching;
    LRESULT atLines = -1;
    std::function<void(HWND dialog)> act;

    void operator()(HWND list)
    {
        const LRESULT count = SendMessageW(list, LB_GETCOUNT, 0, 0);
        counts.push_back(count);
        if (counts.size() > 1)  // the first fill is the dialog's initialisation
            buttonsWhileSearching.insert(ControlText(GetParent(list), IDOK));
        if (count == atLines && act) {
            act(GetParent(list));
            act = nullptr;
        }
    }
};

std::vector<LRESULT> CountingUpTo(LRESULT last)
{
    std::vector<LRESULT> counts;
    for (LRESULT n = 0; n <= last; ++n)
        counts.push_back(n);
    return counts;
}

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

class SearchSlaves : public ::testing::Test {
protected:
    SimControls bus;
    HWND window = nullptr;

    void SetUp() override
    {
        ASSERT_TRUE(bus.Load());
        bus.reset();
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
        UseSystemClock();  // the 50 ms time-outs of the search must run out
    }

    // Address > Search Slaves, as the menu gives it; returns the seconds until the
    // command came back (the dialog has ended).
    double Search()
    {
        LARGE_INTEGER from, to;
        QueryPerformanceCounter(&from);
        SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDM_SEARCH_SLAVES, 0), 0);
        QueryPerformanceCounter(&to);
        return Seconds(from, to);
    }

    // The node of every upload request the master sent, in order.
    std::vector<unsigned> RequestedNodes()
    {
        std::vector<unsigned> nodes;
        for (const DriverMsg& f : bus.TakeSent())
            if (f.id > 0x600 && f.id < 0x680 && f.data[0] == 0x40) {
                EXPECT_EQ(FrameText(f).substr(3), " 8: 40 00 10 00 00 00 00 00") << "device type 0x1000, sub 0";
                nodes.push_back(f.id - 0x600);
            }
        return nodes;
    }
};

// Nothing but the program's own work is timed here: no hook watches the list.
TEST_F(SearchSlaves, EmptyBusListsEveryNodeInParenthesesThenSaysNoSlaveFound)
{
    Start("");
    // First a short search that finds node 3 and is aborted: a later search that finds
    // nothing must still say so.
    {
        FillLog log;
        log.atLines = 3;
        log.act = [](HWND dialog) { PostMessageW(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0); };
        ListFillWatcher watcher(std::ref(log));
        DialogView view;
        ModalOperator op({WhenSearchEnded(view, [](HWND d) { PostMessageW(d, WM_SYSCOMMAND, SC_CLOSE, 0); })});
        MessageBoxAnswerer none;
        Search();
        EXPECT_EQ(view.lines, ExpectedLines(4, {3}));
        EXPECT_TRUE(none.Seen().empty());
        EXPECT_EQ(op.StepsLeft(), 0);
    }
    bus.TakeSent();
    bus.setNodeMode(3, kSimNodeSilent, 0);
    bus.setNodeMode(5, kSimNodeSilent, 0);
    const SimCounters before = bus.Counters();

    ModalOperator op({});
    MessageBoxAnswerer answers;
    DialogView atMessage;
    MessageBoxWatcher boxes([&atMessage](HWND owner) { atMessage = Look(owner); });
    const double seconds = Search();
    std::printf("[ figures  ] empty-bus search: %.3f s (127 time-outs of 50 ms: at least 6.35 s)\n", seconds);

    ASSERT_EQ(answers.Seen().size(), 1u);
    EXPECT_EQ(answers.Seen()[0].caption, L"Velomar");
    EXPECT_EQ(answers.Seen()[0].text, L"No Slave found!");
    EXPECT_EQ(answers.Seen()[0].buttons, std::vector<int>{IDOK});
    EXPECT_TRUE(answers.Seen()[0].icon);
    EXPECT_EQ(atMessage.lines, ExpectedLines(127, {}));
    EXPECT_EQ(atMessage.selected, LB_ERR);
    EXPECT_EQ(op.StaleCancels(), 0) << "the dialog closes by itself";

    EXPECT_EQ(appSettings.CurrAdr, 3);
    EXPECT_EQ(ControlText(window, IDC_ADDRESS), L"3");
    std::vector<unsigned> everyNode;
    for (unsigned node = 1; node <= 127; ++node)
        everyNode.push_back(node);
    EXPECT_EQ(RequestedNodes(), everyNode);
    EXPECT_EQ(DriverLoaded(), 0) << "the driver library is released after the search";
    EXPECT_EQ(bus.Counters().inits - before.inits, 1u);
    EXPECT_EQ(bus.Counters().closes - before.closes, 2u) << "one close, one inside the unload";
}

TEST_F(SearchSlaves, DefaultNetworkShowsAnsweringNodesPlainAndOkTakesTheLowest)
{
    Start("[Tovral]\r\nCurrAdr=9\r\n");
    DialogView after;
    ModalOperator op({WhenSearchEnded(after, [](HWND d) { PostMessageW(GetDlgItem(d, IDOK), BM_CLICK, 0, 0); })});
    MessageBoxAnswerer answers;
    const double seconds = Search();
    std::printf("[ figures  ] search of the default network (nodes 3 and 5), with the OK: %.3f s\n", seconds);

    EXPECT_EQ(op.StepsLeft(), 0);
    EXPECT_EQ(after.title, L"Search Slaves");
    EXPECT_EQ(after.lines, ExpectedLines(127, {3, 5}));
    EXPECT_EQ(after.selected, 2) << "the line of node 3";
    EXPECT_TRUE(answers.Seen().empty());
    EXPECT_EQ(op.StaleCancels(), 0);
    EXPECT_EQ(appSettings.CurrAdr, 3);
    EXPECT_EQ(ControlText(window, IDC_ADDRESS), L"3");
    EXPECT_EQ(DriverLoaded(), 0);
}

// The click on Abort is posted while node 40 is being read; it reaches the dialog only
// through the search's own message passing, after that node.
TEST_F(SearchSlaves, AbortStopsAfterTheCurrentNodeAndADoubleClickTakesAnyLine)
{
    Start("[Tovral]\r\nCurrAdr=9\r\n");
    FillLog log;
    log.atLines = 39;
    log.act = [](HWND dialog) { PostMessageW(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0); };
    ListFillWatcher watcher(std::ref(log));
    DialogView after;
    ModalOperator op({WhenSearchEnded(after, [](HWND d) {
        DoubleClickListLine(GetDlgItem(d, IDC_SLAVE_LIST), 5);  // "(6)"
    })});
    MessageBoxAnswerer answers;
    Search();

    EXPECT_EQ(log.counts, CountingUpTo(40)) << "one more line after every node";
    EXPECT_EQ(log.buttonsWhileSearching, std::set<std::wstring>{L"&Abort"});
    EXPECT_EQ(op.StepsLeft(), 0) << "the dialog stayed open after the abort";
    EXPECT_EQ(after.lines, ExpectedLines(40, {3, 5})) << "nodes 41 to 127 were not scanned";
    EXPECT_EQ(after.selected, 2);
    EXPECT_TRUE(answers.Seen().empty());
    EXPECT_EQ(op.StaleCancels(), 0) << "the double-click ended the dialog";
    EXPECT_EQ(appSettings.CurrAdr, 6) << "a node in parentheses can be taken as well";
    EXPECT_EQ(ControlText(window, IDC_ADDRESS), L"6");
    EXPECT_EQ(DriverLoaded(), 0);
}

TEST_F(SearchSlaves, CancelDuringTheSearchOnlyStopsItAndTheCloseBoxThenTakesNothing)
{
    Start(std::string(kGermanSettings) + "[Tovral]\r\nCurrAdr=9\r\n");
    FillLog log;
    log.atLines = 10;
    log.act = [](HWND dialog) { PostCommand(dialog, IDCANCEL); };
    ListFillWatcher watcher(std::ref(log));
    DialogView after;
    ModalOperator op({WhenSearchEnded(after, [](HWND d) { PostMessageW(d, WM_SYSCOMMAND, SC_CLOSE, 0); })});
    Search();

    EXPECT_EQ(op.StepsLeft(), 0) << "the dialog stayed open after the first cancel";
    EXPECT_EQ(after.title, L"Suche Slaves");
    EXPECT_EQ(log.buttonsWhileSearching, std::set<std::wstring>{L"&Abbrechen"});
    EXPECT_EQ(after.lines, ExpectedLines(11, {3, 5}));
    EXPECT_EQ(after.selected, 2);
    EXPECT_EQ(op.StaleCancels(), 0);
    EXPECT_EQ(appSettings.CurrAdr, 9) << "closed with result 0: the selected line is not taken";
    EXPECT_EQ(ControlText(window, IDC_ADDRESS), L"9");
}

TEST_F(SearchSlaves, BusThatCannotOpenGivesItsMessageThenNoSlaveFound)
{
    Start("[Tovral]\r\nBaud=9\r\nCurrAdr=9\r\n");
    ModalOperator op({});
    MessageBoxAnswerer answers;
    Search();

    ASSERT_EQ(answers.Seen().size(), 2u);
    EXPECT_EQ(answers.Seen()[0].text, L"Unable to open CAN dongle!");
    EXPECT_EQ(answers.Seen()[1].text, L"No Slave found!");
    EXPECT_EQ(op.StaleCancels(), 0);
    EXPECT_EQ(appSettings.CurrAdr, 9);
    EXPECT_EQ(bus.Counters().inits, 0u);
    EXPECT_TRUE(bus.TakeSent().empty());
}

// An object dialog left open is out of reach while the search dialog is: a Read pressed
// during the search would have the exchange open the bus again in the middle of it.
TEST_F(SearchSlaves, OpenObjectDialogIsOutOfReachWhileTheSearchDialogIsOpen)
{
    Start("[Tovral]\r\nCurrAdr=9\r\n");
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDM_READ_OBJECT, 0), 0);
    RunIdleCycle();
    HWND read = ReadObjectDialog();
    ASSERT_NE(read, nullptr);
    ASSERT_TRUE(IsWindowEnabled(read));
    bool enabledDuringSearch = true;
    FillLog log;
    log.atLines = 5;
    log.act = [&enabledDuringSearch, read](HWND dialog) {
        enabledDuringSearch = IsWindowEnabled(read) != 0;
        PostMessageW(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
    };
    ListFillWatcher watcher(std::ref(log));
    DialogView after;
    bool enabledAfterSearch = true;
    ModalOperator op({WhenSearchEnded(after, [&enabledAfterSearch, read](HWND d) {
        enabledAfterSearch = IsWindowEnabled(read) != 0;
        PostMessageW(GetDlgItem(d, IDOK), BM_CLICK, 0, 0);
    })});
    Search();

    EXPECT_FALSE(enabledDuringSearch);
    EXPECT_FALSE(enabledAfterSearch) << "nor while a node is chosen";
    EXPECT_EQ(after.lines, ExpectedLines(6, {3, 5}));
    EXPECT_TRUE(IsWindowEnabled(read)) << "back when the search dialog has ended";
    EXPECT_EQ(ReadObjectDialog(), read);
    EXPECT_EQ(appSettings.CurrAdr, 3);
}

}  // namespace
