// Address > Configure Node (LSS) through the real main window, against a simulated network
// with one device without a node-ID: the find and its list, a node-ID set and stored, the
// question at Close and the current slave it gives, the refusal while communication is
// active, the German window. The LSS time-outs run out in real time (the system clock).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app.h"
#include "comm_state.h"
#include "driver.h"
#include "modal_operator.h"
#include "resource.h"
#include "settings.h"
#include "sim_controls.h"
#include "tick.h"
#include "win_test_support.h"

namespace {

constexpr char kOneDevice[] = "[NonConfigured]\r\nsensor1=io_module.eds, 0x00001001\r\n";
constexpr char kNodeAndDevice[] =
    "[Nodes]\r\n3=io_module.eds\r\n[NonConfigured]\r\nsensor1=io_module.eds, 0x00001001\r\n";
constexpr char kGermanSettings[] = "[Language]\r\nPrimaryLanguage=7\r\nSubLanguage=1\r\n";
const std::wstring kSensorLine = L"00000F0A\t00000401\t00010000\t00001001";

// What the operator saw of the window at one moment.
struct LssView {
    std::wstring title;
    std::wstring find;
    std::vector<std::wstring> lines;
    LRESULT selected = LB_ERR;
    std::wstring status;
};

LssView Look(HWND dialog)
{
    HWND list = GetDlgItem(dialog, IDC_LSS_LIST);
    return {WindowText(dialog), ControlText(dialog, IDC_LSS_FIND), ListLines(list),
            SendMessageW(list, LB_GETCURSEL, 0, 0), ControlText(dialog, IDC_LSS_STATUS)};
}

// A step that waits for the status line to read `status`, looks into `view`, then does `then`.
ModalOperator::Step WhenStatus(const std::wstring& status, LssView& view, std::function<void(HWND)> then)
{
    return [status, &view, then](HWND dialog) {
        if (ControlText(dialog, IDC_LSS_STATUS) != status)
            return false;
        view = Look(dialog);
        then(dialog);
        return true;
    };
}

class ConfigureNode : public ::testing::Test {
protected:
    SimControls bus;
    HWND window = nullptr;

    void SetUp() override { ASSERT_TRUE(bus.Load()); }

    void TearDown() override
    {
        EndProgram();
        // The tests after these find the default network.
        RemoveNetworkFile();
        bus.reset();
        bus.Unload();
    }

    void Start(const char* network, const std::string& settings)
    {
        WriteNetworkFile(network);
        bus.reset();
        bus.setAnimation(0);
        window = StartProgram(settings);
        ASSERT_NE(window, nullptr);
        UseSystemClock();  // the LSS time-outs must run out
    }

    // Address > Configure Node (LSS) ..., as the menu gives it; returns once the window has ended.
    void Open() { SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDM_CONFIGURE_NODE, 0), 0); }
};

TEST_F(ConfigureNode, FindSetNodeIdStoreAndCloseMakeTheDeviceTheCurrentSlave)
{
    Start(kOneDevice, "");
    LssView opened, found, set, stored;
    bool abortWhileFinding = false;
    const std::wstring foundText = L"1 device(s) found. Select one, then set its node-ID or bit rate.";
    ModalOperator steps({
        [&](HWND dialog) {
            opened = Look(dialog);
            PostCommand(dialog, IDC_LSS_FIND);
            return true;
        },
        [&](HWND dialog) {
            // The button reads Abort until the find has ended.
            if (ControlText(dialog, IDC_LSS_FIND) == L"&Abort")
                abortWhileFinding = true;
            if (ControlText(dialog, IDC_LSS_STATUS) != foundText)
                return false;
            found = Look(dialog);
            SetDlgItemTextW(dialog, IDC_LSS_NODE_ID, L"10");
            PostCommand(dialog, IDC_LSS_SET_NODE);
            return true;
        },
        WhenStatus(L"Node-ID 10 set. It takes effect when the window is closed.", set,
                   [](HWND dialog) { PostCommand(dialog, IDC_LSS_STORE); }),
        WhenStatus(L"Node-ID and bit rate stored in the device.", stored,
                   [](HWND dialog) { PostCommand(dialog, IDCANCEL); }),
    });
    MessageBoxAnswerer answers;  // OK to the question at Close
    Open();

    EXPECT_EQ(opened.title, L"<F7> Configure Node (LSS)");
    EXPECT_EQ(opened.find, L"&Find");
    EXPECT_TRUE(opened.lines.empty());
    EXPECT_TRUE(abortWhileFinding);
    EXPECT_EQ(found.find, L"&Find");
    EXPECT_EQ(found.lines, std::vector<std::wstring>{kSensorLine});
    EXPECT_EQ(found.selected, 0);
    EXPECT_EQ(steps.StepsLeft(), 0);
    EXPECT_EQ(steps.StaleCancels(), 0) << "Close ended the window";

    ASSERT_EQ(answers.Seen().size(), 1u);
    EXPECT_EQ(answers.Seen()[0].text, L"Make node 10 the current slave?");
    EXPECT_EQ(appSettings.CurrAdr, 10);
    EXPECT_EQ(ControlText(window, IDC_ADDRESS), L"10");
    EXPECT_EQ(bus.ObjectU32(10, 0x1018, 4), 0x1001u) << "the device is node 10 now";
    EXPECT_EQ(DriverLoaded(), 0) << "the bus is closed at the end of the session";
}

TEST_F(ConfigureNode, SetBitRateWarnsActivatesAndTheProgramFollows)
{
    Start(kOneDevice, "");
    constexpr int k500 = 6;  // the row of 500 kbit/s in the program's bit-rate list
    LssView set;
    const std::wstring foundText = L"1 device(s) found. Select one, then set its node-ID or bit rate.";
    ModalOperator steps({
        [&](HWND dialog) {
            PostCommand(dialog, IDC_LSS_FIND);
            return true;
        },
        [&](HWND dialog) {
            if (ControlText(dialog, IDC_LSS_STATUS) != foundText)
                return false;
            SendDlgItemMessageW(dialog, IDC_LSS_BIT_RATE, CB_SETCURSEL, k500, 0);
            PostCommand(dialog, IDC_LSS_SET_RATE);
            return true;
        },
        WhenStatus(L"Bit rate 500 kBaud set and activated.", set, [](HWND dialog) { PostCommand(dialog, IDCANCEL); }),
    });
    MessageBoxAnswerer answers;  // OK to the warning
    Open();
    EXPECT_EQ(steps.StepsLeft(), 0);
    EXPECT_EQ(steps.StaleCancels(), 0);

    ASSERT_EQ(answers.Seen().size(), 1u) << "the warning, and no question at Close: no node-ID was set";
    EXPECT_NE(answers.Seen()[0].text.find(L"Every other device on the bus must be switched to this bit rate too!"),
              std::wstring::npos);
    std::vector<std::string> sent;
    for (const DriverMsg& frame : bus.TakeSent())
        sent.push_back(FrameText(frame));
    auto has = [&sent](const std::string& frame) { return std::find(sent.begin(), sent.end(), frame) != sent.end(); };
    EXPECT_TRUE(has("7E5 8: 13 00 02 00 00 00 00 00")) << "configure bit timing: table 0, index 2 (500 kbit/s)";
    EXPECT_TRUE(has("7E5 8: 15 64 00 00 00 00 00 00")) << "activate with a switch delay of 100 ms";
    EXPECT_EQ(appSettings.Baud, k500) << "the program follows the device to its new bit rate";
    EXPECT_EQ(SendDlgItemMessageW(window, IDC_BAUD, CB_GETCURSEL, 0, 0), k500) << "and the main window shows it";
}

TEST_F(ConfigureNode, RefusedWhileCommunicationIsActive)
{
    Start(kNodeAndDevice, "");
    {
        MessageBoxAnswerer start({IDOK});
        SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDM_START, 0), 0);
    }
    ASSERT_EQ(commState.active, 1u);
    bus.TakeSent();
    bool opened = false;
    ModalOperator op({[&opened](HWND dialog) {
        opened = true;
        PostCommand(dialog, IDCANCEL);
        return true;
    }});
    MessageBoxAnswerer answers;
    PressKey(window, VK_F7);

    EXPECT_FALSE(opened) << "the window does not open";
    ASSERT_EQ(answers.Seen().size(), 1u);
    EXPECT_EQ(answers.Seen()[0].text,
              L"Stop communication first!\nThe layer setting services need the bus to themselves.");
    for (const DriverMsg& frame : bus.TakeSent())
        EXPECT_NE(frame.id, 0x7E5u) << FrameText(frame);
    EXPECT_EQ(commState.active, 1u) << "communication goes on";
}

TEST_F(ConfigureNode, GermanWindowAndMenu)
{
    Start(kOneDevice, kGermanSettings);
    const std::vector<std::wstring> address = MenuItemTexts(GetMenu(window), 1);
    ASSERT_EQ(address.size(), 2u);
    EXPECT_EQ(address[1], L"&Knoten konfigurieren (LSS) ...");
    LssView opened, found;
    std::vector<std::wstring> labels;
    ModalOperator op({
        [&](HWND dialog) {
            opened = Look(dialog);
            for (int id : {IDC_LSS_LIST_LABEL, IDC_LSS_NODE_LABEL, IDC_LSS_RATE_LABEL, IDC_LSS_SET_NODE,
                           IDC_LSS_SET_RATE, IDC_LSS_STORE, IDCANCEL})
                labels.push_back(ControlText(dialog, id));
            PostCommand(dialog, IDC_LSS_FIND);
            return true;
        },
        WhenStatus(L"1 Gerät(e) gefunden. Eines auswählen, dann Knoten-ID oder Bitrate setzen.", found,
                   [](HWND dialog) { PostCommand(dialog, IDC_LSS_STORE); }),
        [](HWND dialog) {
            if (ControlText(dialog, IDC_LSS_STATUS) != L"Knoten-ID und Bitrate im Gerät gespeichert.")
                return false;
            PostCommand(dialog, IDCANCEL);
            return true;
        },
    });
    MessageBoxAnswerer answers;
    Open();

    EXPECT_EQ(opened.title, L"<F7> Knoten konfigurieren (LSS)");
    EXPECT_EQ(opened.find, L"&Suchen");
    EXPECT_EQ(labels, (std::vector<std::wstring>{L"&Gefundene Geräte (Hersteller, Produkt, Revision, Seriennummer)",
                                                 L"Neue Knoten-&ID", L"Neue Bit&rate", L"Knoten-ID s&etzen",
                                                 L"&Bitrate setzen", L"S&peichern", L"S&chliessen"}));
    EXPECT_EQ(found.lines, std::vector<std::wstring>{kSensorLine});
    EXPECT_EQ(op.StepsLeft(), 0);
    EXPECT_TRUE(answers.Seen().empty()) << "no node-ID set: nothing to ask at Close";
    EXPECT_EQ(appSettings.CurrAdr, 3);
}

}  // namespace
