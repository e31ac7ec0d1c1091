// The soak run: the real program on this thread, in its own main loop, with communication
// active against node 3 of the simulated bus for a given time (600 s unless told), while an
// operator keeps working: the inputs change by themselves, an output byte is edited every
// 2 s (typed or by a bit box), an object is read every 3 s through the Read Object dialog,
// every 20 s the Write Object dialog writes one, and the outputs are frozen for a while.
//
// At the end it compares the memory, GDI and USER objects with the values after the
// first minute (a third of the run when shorter), checks that every frame the simulated
// bus saw the master send is in tovral.log, and that no message box appeared. It prints
// the figures and ends with 0 only when all of that holds.
//
//   velomar_soak [seconds [activities]]
//
// activities: the letters of what the operator does, all of "erwf" unless told: e output
// edits, r object reads, w object writes, f freezing the outputs (for finding which
// work a change comes with).
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "app.h"
#include "comm_state.h"
#include "exchange.h"
#include "process_image.h"
#include "process_usage.h"
#include "resource.h"
#include "settings.h"
#include "sim_controls.h"
#include "tick.h"
#include "win_test_support.h"
#include "world.h"

namespace {

// Committed memory may move by a heap page or two between two moments of the same
// work without anything being lost; more than this is growth.
constexpr std::size_t kCommittedSlackBytes = 16 * 1024;

struct Soak {
    int seconds = 600;
    std::string activities = "erwf";  // edits, reads, writes, freezing: all unless told
    int baselineSecond = 60;
    SimControls bus;
    HWND window = nullptr;
    DWORD startTick = 0;
    int lastSecond = -1;
    bool finished = false;

    std::vector<DriverMsg> sent;  // every frame the master sent, oldest first
    int edits = 0;
    int readsAsked = 0;
    int readsShown = 0;
    HWND readDialog = nullptr;  // where the last read was asked
    int writes = 0;
    std::vector<std::size_t> committedKiB;  // every 30 s, for the trend
    bool haveBaseline = false;
    ProcessUsage baseline{};
    ProcessUsage end{};
    std::string failure;
};

Soak soak;

bool Doing(char activity)
{
    return soak.activities.find(activity) != std::string::npos;
}

// The message boxes the program shows while the operator works, recorded and confirmed.
// (Not MessageBoxAnswerer: its test for a box also matches the object dialogs, whose
// labels carry the identifier 0xFFFF of a box's text, and would press their buttons.)
std::vector<std::wstring> boxesSeen;
HHOOK boxHook = nullptr;

LRESULT CALLBACK NoteMessageBox(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_ACTIVATE) {
        HWND box = reinterpret_cast<HWND>(wParam);
        wchar_t className[16] = L"";
        GetClassNameW(box, className, 16);
        const bool dialogOfOurs = GetDlgItem(box, IDC_OBJECT_INDEX) != nullptr ||
                                  GetDlgItem(box, IDC_SLAVE_LIST) != nullptr || box == soak.window;
        if (std::wcscmp(className, L"#32770") == 0 && GetDlgItem(box, 0xFFFF) != nullptr && !dialogOfOurs) {
            boxesSeen.push_back(ControlText(box, 0xFFFF));
            PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        }
    }
    return CallNextHookEx(boxHook, code, wParam, lParam);
}

const std::uint16_t kReadObjects[][2] = {{0x1000, 0}, {0x1008, 0}, {0x1018, 1}, {0x6000, 1}, {0x1A00, 1}};
const int kOutputLines[] = {1, 3, 4, 5, 6};  // the data lines of the output list of node 3

// The simulated bus lives in this process too: one block of plain data whose rings
// (receive queue and sent log, 64 KiB each) are written page by page as the frames go
// round them. On Wine the committed figure is the resident private memory, so those
// first writes would show as growth for the first ten minutes or so (about 16 KiB a
// minute) though nothing is allocated. Every page of the block is written once before
// the run, so that what is compared afterwards is the program's own.
void TouchSimulatedBus()
{
    wchar_t text[64] = L"";
    const DWORD length = GetEnvironmentVariableW(L"VELOMAR_SIMBUS_STATE", text, 64);
    unsigned long long process = 0, address = 0;
    if (length == 0 || length >= 64 || std::swscanf(text, L"%llu:%llx", &process, &address) != 2 ||
        process != GetCurrentProcessId() || address == 0)
        return;
    auto* block = reinterpret_cast<volatile std::uint8_t*>(static_cast<std::uintptr_t>(address));
    if (reinterpret_cast<const volatile simbus::World*>(block)->magic != simbus::kWorldMagic)
        return;
    for (std::size_t at = 0; at < sizeof(simbus::World); at += 4096)
        block[at] = block[at];
}

void TakeSent()
{
    for (const DriverMsg& msg : soak.bus.TakeSent())
        soak.sent.push_back(msg);
}

void Command(WORD id)
{
    SendMessageW(soak.window, WM_COMMAND, MAKEWPARAM(id, 0), 0);
}

void EditOutput()
{
    HWND list = GetDlgItem(soak.window, IDC_OUTPUT_LIST);
    const int line = kOutputLines[soak.edits % 5];
    SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(line), 0);
    Notify(soak.window, IDC_OUTPUT_LIST, LBN_SELCHANGE);
    if (soak.edits % 2 == 0) {
        wchar_t text[8];
        std::swprintf(text, 8, L"%02X", (soak.edits * 37) & 0xFF);
        SetDlgItemTextW(soak.window, IDC_OUTPUT_BYTE, text);
        Notify(soak.window, IDC_OUTPUT_BYTE, EN_KILLFOCUS);
    } else {
        SendDlgItemMessageW(soak.window, IDC_BIT0 + soak.edits % 8, BM_CLICK, 0, 0);
    }
    ++soak.edits;
}

void ReadObject()
{
    HWND dialog = ReadObjectDialog();
    if (dialog == nullptr) {
        if (WriteObjectDialog() == nullptr)
            Command(IDM_READ_OBJECT);  // opened by the next idle cycle
        return;
    }
    if (dialog == soak.readDialog && !ControlText(dialog, IDC_RESULT_LENGTH).empty())
        ++soak.readsShown;
    soak.readDialog = dialog;
    const std::uint16_t* object = kReadObjects[soak.readsAsked % 5];
    wchar_t text[8];
    std::swprintf(text, 8, L"%04X", object[0]);
    SetDlgItemTextW(dialog, IDC_OBJECT_INDEX, text);
    std::swprintf(text, 8, L"%X", object[1]);
    SetDlgItemTextW(dialog, IDC_OBJECT_SUBINDEX, text);
    SendDlgItemMessageW(dialog, IDOK, BM_CLICK, 0, 0);
    ++soak.readsAsked;
}

// 0x1017, the producer heartbeat time (UNSIGNED16): from then on node 3 sends a heartbeat
// every 100-odd ms, more traffic for the program to trace beside the exchange.
void WriteObject()
{
    HWND dialog = WriteObjectDialog();
    if (dialog == nullptr)
        return;
    SetDlgItemTextW(dialog, IDC_OBJECT_INDEX, L"1017");
    SetDlgItemTextW(dialog, IDC_OBJECT_SUBINDEX, L"0");
    SendDlgItemMessageW(dialog, IDC_FORMAT_UNSIGNED, BM_CLICK, 0, 0);
    SendDlgItemMessageW(dialog, IDC_COUNT_2, BM_CLICK, 0, 0);
    wchar_t text[8];
    std::swprintf(text, 8, L"%d", 100 + soak.writes);
    SetDlgItemTextW(dialog, IDC_SEND_VALUE, text);
    Notify(dialog, IDC_SEND_VALUE, EN_KILLFOCUS);
    SendDlgItemMessageW(dialog, IDOK, BM_CLICK, 0, 0);
    ++soak.writes;
}

// Measured only while the Read Object dialog is open and the Write Object dialog is not,
// so that both moments hold the same windows.
bool Measure(ProcessUsage& usage)
{
    if ((Doing('r') && ReadObjectDialog() == nullptr) || WriteObjectDialog() != nullptr)
        return false;
    usage = MeasureProcessUsage();
    return true;
}

void OnSecond(int second)
{
    TakeSent();
    if (second % 2 == 0 && Doing('e'))
        EditOutput();
    if (second % 3 == 0 && Doing('r'))
        ReadObject();
    if (!Doing('w'))
        return;
    switch (second % 20) {
    case 10:
        Command(IDM_WRITE_OBJECT);  // closes the Read Object dialog
        break;
    case 11:
        WriteObject();
        break;
    case 13:
        Command(IDM_READ_OBJECT);
        break;
    default:
        break;
    }
    if (!Doing('f'))
        return;
    if (second % 10 == 5)
        SendDlgItemMessageW(soak.window, IDC_FREEZE, BM_CLICK, 0, 0);  // on
    if (second % 10 == 7)
        SendDlgItemMessageW(soak.window, IDC_FREEZE, BM_CLICK, 0, 0);  // off again
}

void CALLBACK OperatorTick(HWND, UINT, UINT_PTR timer, DWORD)
{
    if (soak.finished)
        return;
    const int second = static_cast<int>((GetTickCount() - soak.startTick) / 1000);
    if (!soak.haveBaseline && second >= soak.baselineSecond)
        soak.haveBaseline = Measure(soak.baseline);
    if (second >= soak.seconds && soak.haveBaseline && Measure(soak.end)) {
        soak.finished = true;
        KillTimer(nullptr, timer);
        TakeSent();
        Command(IDM_EXIT);  // the close sequence: stop, settings, window destroyed, loop ends
        return;
    }
    if (second != soak.lastSecond) {
        soak.lastSecond = second;
        if (second % 30 == 0 && soak.committedKiB.size() < soak.committedKiB.capacity())
            soak.committedKiB.push_back(MeasureCommitted() / 1024);
        OnSecond(second);
    }
}

// The first line of a frame in the trace in the form FrameText gives.
bool ParseTraceLine(const std::string& line, std::string& frame)
{
    const std::size_t colon = line.find(": ");
    if (colon == std::string::npos)
        return false;
    std::size_t at = colon + 2;
    const std::size_t idEnd = line.find_first_not_of("0123456789ABCDEF", at);
    const std::string id = line.substr(at, idEnd - at);
    at = idEnd == std::string::npos ? line.size() : idEnd;
    bool remote = false;
    if (at < line.size() && line[at] == '(') {
        const std::size_t close = line.find(')', at);
        if (close == std::string::npos)
            return false;
        remote = line.substr(at, close - at).find("RTR") != std::string::npos;
        at = close + 1;
    }
    char text[64];
    if (remote) {
        unsigned length = 0;
        std::sscanf(line.c_str() + at, " - L=%u", &length);
        std::snprintf(text, sizeof text, "%s RTR %u", id.c_str(), length);
        frame = text;
        return true;
    }
    std::vector<std::string> bytes;
    if (line.compare(at, 3, " - ") == 0) {
        for (std::size_t b = at + 3; b + 2 <= line.size(); b += 3)
            bytes.push_back(line.substr(b, 2));
    }
    frame = id + " " + std::to_string(bytes.size()) + ":";
    for (const std::string& byte : bytes)
        frame += " " + byte;
    return true;
}

// How many of the sent frames are not found, in order, among the traced ones.
std::size_t MissingFromTrace(const std::string& trace, std::size_t& tracedFrames)
{
    std::vector<std::string> traced;
    std::size_t from = 0;
    int lineNumber = 0;
    for (std::size_t at; (at = trace.find('\n', from)) != std::string::npos; from = at + 1, ++lineNumber) {
        std::string line = trace.substr(from, at - from);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::string frame;
        if (lineNumber % 2 == 0 && ParseTraceLine(line, frame))
            traced.push_back(frame);
    }
    tracedFrames = traced.size();
    std::size_t missing = 0;
    std::size_t next = 0;
    for (const DriverMsg& msg : soak.sent) {
        const std::string wanted = FrameText(msg);
        std::size_t look = next;
        while (look < traced.size() && traced[look] != wanted)
            ++look;
        if (look == traced.size()) {
            if (missing++ < 5)
                std::printf("  not in the trace: %s\n", wanted.c_str());
        } else {
            next = look + 1;
        }
    }
    return missing;
}

void Report(const char* label, const ProcessUsage& usage)
{
    std::printf("  %-24s committed %8zu KiB, working set %8zu KiB, VmRSS %8zu KiB, GDI %4lu, USER %4lu\n", label,
                usage.committed / 1024, usage.workingSet / 1024, usage.residentKiB, usage.gdiObjects,
                usage.userObjects);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc > 1)
        soak.seconds = std::max(10, std::atoi(argv[1]));
    if (argc > 2)
        soak.activities = argv[2];
    soak.baselineSecond = std::min(60, soak.seconds / 3);
    // Room for every frame of the run from the start, written once, so that this record
    // does not grow the process while its memory is watched (a refresh every 300 ms
    // sends 4 frames; an untouched page becomes resident when first written).
    soak.sent.resize(static_cast<std::size_t>(soak.seconds) * 100 + 8192);
    soak.sent.clear();
    soak.committedKiB.resize(static_cast<std::size_t>(soak.seconds) / 30 + 2);
    soak.committedKiB.clear();
    std::printf("soak: %d s of active communication, baseline after %d s\n", soak.seconds, soak.baselineSecond);
    std::fflush(stdout);

    if (!soak.bus.Load()) {
        std::printf("FAIL: pcan_usb.dll beside the soak is missing or lacks a control\n");
        return 1;
    }
    RemoveNetworkFile();
    soak.bus.reset();  // the default network; its inputs move by themselves
    TouchSimulatedBus();
    soak.window = StartProgram("[Tovral]\r\nLogging=1\r\n");
    UseSystemClock();
    if (soak.window == nullptr) {
        std::printf("FAIL: the program did not start\n");
        return 1;
    }
    int result = 0;
    {
        MessageBoxAnswerer warning({IDOK});
        Command(IDM_START);
    }
    if (commState.active == 0) {
        std::printf("FAIL: communication did not start\n");
        EndProgram();
        return 1;
    }
    TakeSent();
    boxHook = SetWindowsHookExW(WH_CBT, NoteMessageBox, nullptr, GetCurrentThreadId());
    soak.startTick = GetTickCount();
    SetTimer(nullptr, 0, 250, OperatorTick);
    RunMainLoop();
    UnhookWindowsHookEx(boxHook);
    EndProgram();  // releases start-up's resources and closes the trace file
    TakeSent();

    const std::string trace = ReadFileBytes(ExecutableFolder() + L"tovral.log");
    std::size_t traced = 0;
    const std::size_t missing = MissingFromTrace(trace, traced);

    std::printf("  operator: %d output edits, %d object reads asked (%d shown), %d object writes\n", soak.edits,
                soak.readsAsked, soak.readsShown, soak.writes);
    std::printf("  bus: %zu frames sent by the master, %zu frames in the trace, %zu sent frames missing from it\n",
                soak.sent.size(), traced, missing);
    char label[32];
    std::snprintf(label, sizeof label, "after %d s:", soak.baselineSecond);
    Report(label, soak.baseline);
    std::snprintf(label, sizeof label, "after %d s:", soak.seconds);
    Report(label, soak.end);
    std::printf("  committed every 30 s (KiB):");
    for (const std::size_t kib : soak.committedKiB)
        std::printf(" %zu", kib);
    std::printf("\n");
    std::printf("  growth: committed %+lld KiB, VmRSS %+lld KiB, GDI %+ld, USER %+ld\n",
                (static_cast<long long>(soak.end.committed) - static_cast<long long>(soak.baseline.committed)) / 1024,
                static_cast<long long>(soak.end.residentKiB) - static_cast<long long>(soak.baseline.residentKiB),
                static_cast<long>(soak.end.gdiObjects) - static_cast<long>(soak.baseline.gdiObjects),
                static_cast<long>(soak.end.userObjects) - static_cast<long>(soak.baseline.userObjects));

    auto check = [&result](bool ok, const char* what) {
        if (!ok) {
            std::printf("FAIL: %s\n", what);
            result = 1;
        }
    };
    for (const std::wstring& box : boxesSeen)
        std::printf("  message box: %ls\n", box.c_str());
    check(soak.finished, "the run did not reach its end");
    check(boxesSeen.empty(), "message boxes appeared");
    check(soak.sent.size() > 0 && missing == 0, "frames the master sent are missing from the trace");
    check((soak.edits > 0 || !Doing('e')) && (soak.readsShown > 0 || !Doing('r')) && (soak.writes > 0 || !Doing('w')),
          "the operator's work did not happen");
    check(soak.end.gdiObjects == soak.baseline.gdiObjects, "GDI objects changed");
    check(soak.end.userObjects == soak.baseline.userObjects, "USER objects changed");
    check(soak.end.committed <= soak.baseline.committed + kCommittedSlackBytes, "committed memory grew");
    std::printf("%s\n", result == 0 ? "PASS" : "FAIL");
    soak.bus.Unload();
    return result;
}
