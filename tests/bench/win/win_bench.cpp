// Figures of the real program's master services under Wine, against the simulated bus
// beside this executable. Prints medians of several runs; never pass/fail.
//
//   velomar_win_bench [--runs=N] [--only=NAME]      the in-process figures
//   velomar_win_bench --session=active|idle --seconds=N
//       starts program\tovral.exe as a process of its own (with communication started for
//       "active"), prints "measure-start", waits N seconds, prints "measure-end" and closes
//       it; scripts/bench reads the process's CPU time and memory from /proc meanwhile.
//
// The program is driven through its own windows and services on this thread. Counts of
// driver calls and engine cycles, and the time spent inside the driver library (which
// includes the simulated slaves' work), come from the linker's --wrap of the guarded
// driver calls, the engine cycle, the bus open and the search (see CMakeLists.txt).
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app.h"
#include "bus_open.h"
#include "comm_state.h"
#include "communication.h"
#include "configuration.h"
#include "driver_api.h"
#include "exchange.h"
#include "node_table.h"
#include "process_image.h"
#include "remote_program.h"
#include "resource.h"
#include "sdo_services.h"
#include "settings.h"
#include "sim_controls.h"
#include "slave_dictionary.h"
#include "slave_search.h"
#include "tick.h"
#include "win_test_support.h"

namespace {

// --- Clock --------------------------------------------------------------------------------

std::int64_t Now()
{
    LARGE_INTEGER count;
    QueryPerformanceCounter(&count);
    return count.QuadPart;
}

double Micros(std::int64_t ticks)
{
    static const double perSecond = [] {
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        return static_cast<double>(frequency.QuadPart);
    }();
    return static_cast<double>(ticks) * 1e6 / perSecond;
}

// --- What the wrapped calls record ------------------------------------------------------

struct Tally {
    std::uint64_t reads = 0;       // CAN_Read calls
    std::uint64_t readsEmpty = 0;  // ... that found nothing
    std::uint64_t writes = 0;      // CAN_Write calls
    std::uint64_t statuses = 0;    // CAN_Status calls
    std::uint64_t cycles = 0;      // engine cycles
    std::int64_t driverTicks = 0;  // time inside the driver library, when timed
};

Tally tally;
bool timeDriver = false;

std::int64_t openBusStart = 0;  // the last bus open: when it began and ended
std::int64_t openBusEnd = 0;
std::int64_t scanStart = 0;  // the last slave search
std::int64_t scanEnd = 0;

// Where the time of the searches goes: its object reads, its list refreshes and the
// window messages it passes on (the list's repaint among them).
std::int64_t readObjectTicks = 0;
std::int64_t fillListTicks = 0;
std::int64_t passMessageTicks = 0;

// A DCF download's row reports: the first and the last, with the driver's time and the
// frames written until then.
struct RowMark {
    std::int64_t at = 0;
    std::int64_t driverTicks = 0;
    std::uint64_t writes = 0;
};
std::uint32_t rowReports = 0;
RowMark firstRow, lastRow;

}  // namespace

extern "C" {

std::uint32_t __real__Z8CAN_ReadP9DriverMsg(DriverMsg* msg);
std::uint32_t __real__Z9CAN_WriteP9DriverMsg(DriverMsg* msg);
std::uint32_t __real__Z10CAN_Statusv();
int __real__Z14RunEngineCycleR9NodeTablePK8CanFrame(NodeTable& table, const CanFrame* frame);
int __real__Z7OpenBusP6HWND__i(HWND owner, std::int32_t baudIndex);
int __real__Z10ScanSlavesP6HWND__(HWND owner);
SdoResult __real__Z10ReadObjectjjthPhjRj(std::uint32_t node, std::uint32_t timeoutMs, std::uint16_t index,
                                         std::uint8_t subIndex, std::uint8_t* destination, std::uint32_t capacity,
                                         std::uint32_t& length);
int __real__Z13FillSlaveListP6HWND__i(HWND dialog, int listId);
int __real__Z14PassOneMessagev();
int __real__Z15ShowDownloadRowP6HWND__j(HWND window, std::uint32_t row);

int __wrap__Z15ShowDownloadRowP6HWND__j(HWND window, std::uint32_t row)
{
    const RowMark mark{Now(), tally.driverTicks, tally.writes};
    if (rowReports++ == 0)
        firstRow = mark;
    lastRow = mark;
    return __real__Z15ShowDownloadRowP6HWND__j(window, row);
}

// Only the search's calls: ReadObject is wrapped where slave_search.cpp calls it.
SdoResult __wrap__Z10ReadObjectjjthPhjRj(std::uint32_t node, std::uint32_t timeoutMs, std::uint16_t index,
                                         std::uint8_t subIndex, std::uint8_t* destination, std::uint32_t capacity,
                                         std::uint32_t& length)
{
    const std::int64_t start = Now();
    const SdoResult result =
        __real__Z10ReadObjectjjthPhjRj(node, timeoutMs, index, subIndex, destination, capacity, length);
    readObjectTicks += Now() - start;
    return result;
}

// Only where slave_search.cpp and exchange.cpp call it.
int __wrap__Z14PassOneMessagev()
{
    const std::int64_t start = Now();
    const int passed = __real__Z14PassOneMessagev();
    passMessageTicks += Now() - start;
    return passed;
}

int __wrap__Z13FillSlaveListP6HWND__i(HWND dialog, int listId)
{
    const std::int64_t start = Now();
    const int filled = __real__Z13FillSlaveListP6HWND__i(dialog, listId);
    fillListTicks += Now() - start;
    return filled;
}

std::uint32_t __wrap__Z8CAN_ReadP9DriverMsg(DriverMsg* msg)
{
    ++tally.reads;
    const std::int64_t start = timeDriver ? Now() : 0;
    const std::uint32_t result = __real__Z8CAN_ReadP9DriverMsg(msg);
    if (timeDriver)
        tally.driverTicks += Now() - start;
    if (result != 0)
        ++tally.readsEmpty;
    return result;
}

std::uint32_t __wrap__Z9CAN_WriteP9DriverMsg(DriverMsg* msg)
{
    ++tally.writes;
    const std::int64_t start = timeDriver ? Now() : 0;
    const std::uint32_t result = __real__Z9CAN_WriteP9DriverMsg(msg);
    if (timeDriver)
        tally.driverTicks += Now() - start;
    return result;
}

std::uint32_t __wrap__Z10CAN_Statusv()
{
    ++tally.statuses;
    const std::int64_t start = timeDriver ? Now() : 0;
    const std::uint32_t result = __real__Z10CAN_Statusv();
    if (timeDriver)
        tally.driverTicks += Now() - start;
    return result;
}

int __wrap__Z14RunEngineCycleR9NodeTablePK8CanFrame(NodeTable& table, const CanFrame* frame)
{
    ++tally.cycles;
    return __real__Z14RunEngineCycleR9NodeTablePK8CanFrame(table, frame);
}

int __wrap__Z7OpenBusP6HWND__i(HWND owner, std::int32_t baudIndex)
{
    openBusStart = Now();
    const int opened = __real__Z7OpenBusP6HWND__i(owner, baudIndex);
    openBusEnd = Now();
    return opened;
}

// The search runs inside the Search Slaves dialog; when it has ended, the dialog is
// cancelled (the operator's Escape), so that the benchmark goes on.
int __wrap__Z10ScanSlavesP6HWND__(HWND owner)
{
    scanStart = Now();
    const int ran = __real__Z10ScanSlavesP6HWND__(owner);
    scanEnd = Now();
    PostMessageW(owner, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    return ran;
}

}  // extern "C"

namespace {

// --- Figures ------------------------------------------------------------------------------

struct Figure {
    std::string name;
    std::string unit;
    std::vector<double> samples;
    std::string note;
};

double Median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 != 0 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

void Print(const Figure& figure)
{
    const auto [low, high] = std::minmax_element(figure.samples.begin(), figure.samples.end());
    std::printf("%-46s %12.3f %-3s  (runs %zu, min %.3f, max %.3f)%s%s\n", figure.name.c_str(), Median(figure.samples),
                figure.unit.c_str(), figure.samples.size(), figure.samples.empty() ? 0.0 : *low,
                figure.samples.empty() ? 0.0 : *high, figure.note.empty() ? "" : "  ", figure.note.c_str());
    std::fflush(stdout);
}

struct Options {
    int runs = 5;
    std::string only;
};

bool Wanted(const Options& options, const char* name)
{
    return options.only.empty() || options.only == name;
}

// The program on this thread, started as the entry point does, on the system clock.
class Program {
public:
    SimControls sim;
    HWND window = nullptr;

    bool Start()
    {
        if (!sim.Load()) {
            std::printf("pcan_usb.dll beside the benchmark is missing or lacks a control\n");
            return false;
        }
        RemoveNetworkFile();
        sim.reset();
        window = StartProgram("");
        UseSystemClock();
        return window != nullptr;
    }

    ~Program()
    {
        EndProgram();
        RemoveNetworkFile();
        sim.Unload();
    }

    void Command(WORD id) { SendMessageW(window, WM_COMMAND, MAKEWPARAM(id, 0), 0); }

    bool StartCommunication()
    {
        MessageBoxAnswerer answers({IDOK});
        Command(IDM_START);
        return commState.active != 0;
    }

    void StopCommunication()
    {
        Command(IDM_STOP);
        RunIdleCycle();
    }

    // A network of its own for the slaves; an empty text brings the default back.
    bool UseNetwork(const std::string& text)
    {
        if (text.empty())
            RemoveNetworkFile();
        else
            WriteNetworkFile(text);
        return sim.reset() == kSimOk;
    }
};

void BusOpen(Program& program, const Options& options)
{
    Figure open{"bus open (load, init, 50 x 10 ms warm-up)", "ms", {}, ""};
    for (int run = 0; run < options.runs; ++run) {
        OpenBus(program.window, appSettings.Baud);
        open.samples.push_back(Micros(openBusEnd - openBusStart) / 1000);
        CloseBus();
    }
    Print(open);
}

void CommunicationStart(Program& program, const Options& options)
{
    Figure start{"communication start, node 3, beyond warm-up", "ms", {}, ""};
    Figure whole{"communication start, node 3, whole command", "ms", {}, "incl. warning box and warm-up"};
    Tally before{};
    for (int run = 0; run < options.runs; ++run) {
        before = tally;
        const std::int64_t begin = Now();
        if (!program.StartCommunication()) {
            std::printf("communication did not start\n");
            return;
        }
        const std::int64_t end = Now();
        start.samples.push_back(Micros(end - openBusEnd) / 1000);
        whole.samples.push_back(Micros(end - begin) / 1000);
        program.StopCommunication();
    }
    char note[160];
    std::snprintf(note, sizeof note, "per start: %llu driver reads, %llu writes, %llu engine cycles",
                  static_cast<unsigned long long>(tally.reads - before.reads),
                  static_cast<unsigned long long>(tally.writes - before.writes),
                  static_cast<unsigned long long>(tally.cycles - before.cycles));
    start.note = note;
    Print(start);
    Print(whole);
}

void Restart(Program& program, const Options& options)
{
    Figure restart{"restart after a failure, node 3, beyond warm-up", "ms", {}, "CheckCommFailure, Retry"};
    if (!program.StartCommunication()) {
        std::printf("communication did not start\n");
        return;
    }
    for (int run = 0; run < options.runs; ++run) {
        MessageBoxAnswerer answers({IDRETRY});
        const int goesOn = CheckCommFailure(program.window, SdoResult{1, 0, 0});
        const std::int64_t end = Now();
        if (goesOn != 1 || commState.active == 0) {
            std::printf("the restart did not succeed\n");
            return;
        }
        restart.samples.push_back(Micros(end - openBusEnd) / 1000);
    }
    program.StopCommunication();
    Print(restart);
}

// Driver and slave alone: one initiate-upload request and its response through the
// library's own entry points, and one read of an empty queue.
void DriverAlone(Program& program, double& roundTripMicros, double& emptyReadMicros)
{
    const int count = 20000;
    DriverMsg request{};
    request.id = 0x603;
    request.length = 8;
    request.data[0] = 0x40;
    request.data[2] = 0x10;  // 0x1000 sub 0
    DriverMsg response{};
    std::int64_t begin = Now();
    for (int i = 0; i < count; ++i) {
        program.sim.canWrite(&request);
        program.sim.canRead(&response);
    }
    roundTripMicros = Micros(Now() - begin) / count;
    begin = Now();
    for (int i = 0; i < count; ++i)
        program.sim.canRead(&response);
    emptyReadMicros = Micros(Now() - begin) / count;
}

void ExpeditedRead(Program& program, const Options& options, bool active)
{
    const char* suffix = active ? ", communication active" : ", bus open for it";
    Figure total{std::string("expedited ReadObject, node 3") + suffix, "us", {}, ""};
    Figure inDriver{std::string("  of it inside driver + slave") + suffix, "us", {}, ""};
    Figure master{std::string("  master side (total - driver)") + suffix, "us", {}, ""};
    if (active) {
        if (!program.StartCommunication())
            return;
    } else {
        OpenBus(program.window, appSettings.Baud);
    }
    const int batch = 2000;
    std::uint8_t value[4];
    std::uint32_t length = 0;
    Tally perBatch{};
    for (int run = 0; run < options.runs; ++run) {
        // Untimed: the total; timed: the driver's share of the same work.
        for (const bool timed : {false, true}) {
            timeDriver = timed;
            const Tally before = tally;
            const std::int64_t begin = Now();
            for (int i = 0; i < batch; ++i) {
                const SdoResult result = ReadObject(3, 500, 0x1000, 0, value, sizeof value, length);
                if (result.failed != 0 || result.aborted != 0 || length != 4) {
                    std::printf("read failed\n");
                    timeDriver = false;
                    return;
                }
            }
            const double perRead = Micros(Now() - begin) / batch;
            if (timed) {
                inDriver.samples.push_back(Micros(tally.driverTicks - before.driverTicks) / batch);
            } else {
                total.samples.push_back(perRead);
                perBatch.reads = tally.reads - before.reads;
                perBatch.readsEmpty = tally.readsEmpty - before.readsEmpty;
                perBatch.writes = tally.writes - before.writes;
                perBatch.statuses = tally.statuses - before.statuses;
                perBatch.cycles = tally.cycles - before.cycles;
            }
        }
        timeDriver = false;
        master.samples.push_back(total.samples.back() - inDriver.samples.back());
    }
    char note[200];
    std::snprintf(note, sizeof note,
                  "per read: %.2f CAN_Read (%.2f empty), %.2f CAN_Write, %.2f CAN_Status, %.2f engine cycles",
                  static_cast<double>(perBatch.reads) / batch, static_cast<double>(perBatch.readsEmpty) / batch,
                  static_cast<double>(perBatch.writes) / batch, static_cast<double>(perBatch.statuses) / batch,
                  static_cast<double>(perBatch.cycles) / batch);
    total.note = note;
    Print(total);
    Print(inDriver);
    Print(master);
    if (active)
        program.StopCommunication();
    else
        CloseBus();
}

void Segmented(Program& program, const Options& options)
{
    Figure write{"1000-byte segmented WriteObject, node 5 0x2000", "ms", {}, ""};
    Figure read{"1000-byte segmented ReadObject, node 5 0x2000", "ms", {}, ""};
    OpenBus(program.window, appSettings.Baud);
    std::vector<std::uint8_t> text(1000), back(1000);
    for (std::size_t i = 0; i < text.size(); ++i)
        text[i] = static_cast<std::uint8_t>('A' + i % 26);
    const int batch = 50;
    Tally before{};
    Tally perWrite{}, perRead{};
    for (int run = 0; run < options.runs; ++run) {
        before = tally;
        std::int64_t begin = Now();
        for (int i = 0; i < batch; ++i) {
            const SdoResult result = WriteObject(5, 500, 0x2000, 0, text.data(), 1000);
            if (result.failed != 0 || result.aborted != 0) {
                std::printf("write failed: %08X\n", static_cast<unsigned>(result.abortCode));
                return;
            }
        }
        write.samples.push_back(Micros(Now() - begin) / batch / 1000);
        perWrite.reads = tally.reads - before.reads;
        perWrite.writes = tally.writes - before.writes;
        perWrite.cycles = tally.cycles - before.cycles;

        before = tally;
        begin = Now();
        for (int i = 0; i < batch; ++i) {
            std::uint32_t length = 0;
            const SdoResult result = ReadObject(5, 500, 0x2000, 0, back.data(), 1000, length);
            if (result.failed != 0 || result.aborted != 0 || length != 1000 || back != text) {
                std::printf("read failed: %08X, %u bytes\n", static_cast<unsigned>(result.abortCode),
                            static_cast<unsigned>(length));
                return;
            }
        }
        read.samples.push_back(Micros(Now() - begin) / batch / 1000);
        perRead.reads = tally.reads - before.reads;
        perRead.writes = tally.writes - before.writes;
        perRead.cycles = tally.cycles - before.cycles;
    }
    CloseBus();
    char note[160];
    std::snprintf(note, sizeof note, "per write: %llu CAN_Read, %llu CAN_Write, %llu engine cycles",
                  static_cast<unsigned long long>(perWrite.reads / batch),
                  static_cast<unsigned long long>(perWrite.writes / batch),
                  static_cast<unsigned long long>(perWrite.cycles / batch));
    write.note = note;
    std::snprintf(note, sizeof note, "per read: %llu CAN_Read, %llu CAN_Write, %llu engine cycles",
                  static_cast<unsigned long long>(perRead.reads / batch),
                  static_cast<unsigned long long>(perRead.writes / batch),
                  static_cast<unsigned long long>(perRead.cycles / batch));
    read.note = note;
    Print(write);
    Print(read);
}

// Save DCF and Download DCF of node 3 through the master's services, over the Object
// Dictionary window: the save with every value read before (the file read again, the DCF
// written), and the download of every writable entry, timed from its first row's report to
// its last (the question and the bus open before it left out), with the driver's share
// (which includes the simulated slave's work) beside it.
void Configuration(Program& program, const Options& options)
{
    Figure save{"Save DCF, node 3, every value read before", "ms", {}, ""};
    Figure total{"Download DCF, node 3, all entries, per entry", "us", {}, ""};
    Figure inDriver{"... of it in driver + slave", "us", {}, ""};
    Figure master{"... master side", "us", {}, ""};
    PressKey(program.window, VK_F5);
    RunIdleCycle();
    RouteQueuedMessages();
    HWND dictionary = DictionaryWindow();
    if (dictionary == nullptr || !ReadAllEntries(dictionary).completed) {
        std::printf("the Object Dictionary window did not read node 3\n");
        return;
    }
    const std::wstring file = ExecutableFolder() + L"bench_node3.dcf";
    const std::string path = Utf8(file);
    for (int run = 0; run < options.runs; ++run) {
        const std::int64_t begin = Now();
        if (!SaveSlaveDcf(dictionary, path.c_str()).saved) {
            std::printf("the DCF was not saved\n");
            return;
        }
        save.samples.push_back(Micros(Now() - begin) / 1000);
    }
    Print(save);
    if (LoadDownloadFile(dictionary, path.c_str()) == 0) {
        std::printf("the saved DCF did not load\n");
        return;
    }
    configDownload.onlyChanged = false;
    const std::size_t rows = configDownload.rows.size();
    std::uint64_t writes = 0;
    for (int run = 0; run < options.runs && rows > 1; ++run) {
        for (const bool timed : {false, true}) {
            for (DownloadRow& row : configDownload.rows)
                row.state = RowState::Pending;  // written again, as into the next device
            MessageBoxAnswerer answers({IDOK});
            rowReports = 0;
            timeDriver = timed;
            const DownloadOutcome outcome = RunDownload(dictionary);
            timeDriver = false;
            if (!outcome.completed || outcome.written != rows || rowReports != rows) {
                std::printf("the download did not write every entry: %u of %zu (%s, %zu questions)\n",
                            static_cast<unsigned>(outcome.written), rows, outcome.started ? "started" : "not started",
                            answers.Seen().size());

                return;
            }
            const double steps = static_cast<double>(rows - 1);
            if (timed)
                inDriver.samples.push_back(Micros(lastRow.driverTicks - firstRow.driverTicks) / steps);
            else
                total.samples.push_back(Micros(lastRow.at - firstRow.at) / steps);
            writes = lastRow.writes - firstRow.writes;
        }
        master.samples.push_back(total.samples.back() - inDriver.samples.back());
    }
    char note[120];
    std::snprintf(note, sizeof note, "%zu entries, %.2f CAN_Write per entry", rows,
                  static_cast<double>(writes) / static_cast<double>(rows > 1 ? rows - 1 : 1));
    total.note = note;
    Print(total);
    Print(inDriver);
    Print(master);
    DestroyWindow(dictionary);
    DeleteFileW(file.c_str());
}

// Address > Search Slaves through the main window; the dialog is cancelled once the
// search has ended, and "No Slave found!" answered.
void Search(Program& program, const char* label, const std::string& network, int runs)
{
    if (!program.UseNetwork(network)) {
        std::printf("the network for \"%s\" did not load\n", label);
        return;
    }
    Figure scan{std::string("search, ") + label + ", beyond warm-up", "s", {}, ""};
    Figure whole{std::string("search, ") + label + ", with bus open", "s", {}, ""};
    std::vector<double> inReads, inLists, inMessages;
    for (int run = 0; run < runs; ++run) {
        scanStart = scanEnd = 0;
        readObjectTicks = fillListTicks = passMessageTicks = 0;
        MessageBoxAnswerer answers;
        program.Command(IDM_SEARCH_SLAVES);
        if (scanEnd == 0) {
            std::printf("the search did not run\n");
            break;
        }
        scan.samples.push_back(Micros(scanEnd - openBusEnd) / 1e6);
        whole.samples.push_back(Micros(scanEnd - scanStart) / 1e6);
        inReads.push_back(Micros(readObjectTicks) / 1e6);
        inLists.push_back(Micros(fillListTicks) / 1e6);
        inMessages.push_back(Micros(passMessageTicks) / 1e6);
    }
    int answered = 0;
    for (std::size_t node = 1; node < 128; ++node)
        answered += SlaveScanTable[node] == ScanAnswered ? 1 : 0;
    char note[200];
    std::snprintf(note, sizeof note,
                  "%d nodes answered; in ReadObject %.3f s, FillSlaveList %.3f s, passed messages %.3f s", answered,
                  Median(inReads), Median(inLists), Median(inMessages));
    scan.note = note;
    Print(scan);
    Print(whole);
    program.UseNetwork("");
}

std::string NetworkOf127()
{
    std::string text = "[Network]\r\n[Nodes]\r\n";
    for (int node = 1; node <= 127; ++node)
        text += std::to_string(node) + "=drive.eds\r\n";
    return text;
}

int RunInProcess(const Options& options)
{
    Program program;
    if (!program.Start())
        return 1;
    std::printf("velomar_win_bench: median of the runs; the program and the simulated bus in this process\n");
    std::printf("%-46s %12s\n", "figure", "median");
    if (Wanted(options, "open"))
        BusOpen(program, options);
    if (Wanted(options, "start"))
        CommunicationStart(program, options);
    if (Wanted(options, "restart"))
        Restart(program, options);
    if (Wanted(options, "read")) {
        double roundTrip = 0, emptyRead = 0;
        OpenBus(program.window, appSettings.Baud);
        DriverAlone(program, roundTrip, emptyRead);
        CloseBus();
        Print(
            Figure{"driver + slave alone: request and response", "us", {roundTrip}, "CAN_Write + CAN_Read, no master"});
        Print(Figure{"driver alone: CAN_Read of an empty queue", "us", {emptyRead}, ""});
        ExpeditedRead(program, options, false);
        ExpeditedRead(program, options, true);
    }
    if (Wanted(options, "segmented"))
        Segmented(program, options);
    if (Wanted(options, "dcf"))
        Configuration(program, options);
    const int searchRuns = std::max(1, std::min(options.runs, 3));
    if (Wanted(options, "search127"))
        Search(program, "127 answering nodes", NetworkOf127(), options.runs);
    if (Wanted(options, "searchempty"))
        Search(program, "empty bus", "[Network]\r\n[Nodes]\r\n", searchRuns);
    return 0;
}

// --- A session of the real program in a process of its own ------------------------------

int RunSession(bool active, int seconds)
{
    const std::wstring folder = ExecutableFolder() + L"program\\";
    DeleteFileW((folder + L"tovral.ini").c_str());
    RemoteProgram program;
    if (!program.Launch(folder + L"tovral.exe", folder)) {
        std::printf("the program did not start\n");
        return 1;
    }
    if (active) {
        program.Command(IDM_START);
        std::wstring text;
        if (!program.AnswerBox(IDOK, text, 10000)) {
            std::printf("no warning at the start\n");
            return 1;
        }
        for (int i = 0; i < 200 && !program.CommActive(); ++i)
            Sleep(50);
        if (!program.CommActive()) {
            std::printf("communication did not start\n");
            return 1;
        }
    }
    std::printf("ready pid %lu\n", program.ProcessId());
    std::fflush(stdout);
    Sleep(3000);  // settles: lists filled, first refreshes done
    PROCESS_MEMORY_COUNTERS_EX memory{};
    memory.cb = sizeof memory;
    GetProcessMemoryInfo(program.Process(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory);
    std::printf("measure-start working-set %zu private %zu\n", static_cast<std::size_t>(memory.WorkingSetSize),
                static_cast<std::size_t>(memory.PrivateUsage));
    std::fflush(stdout);
    Sleep(static_cast<DWORD>(seconds) * 1000);
    GetProcessMemoryInfo(program.Process(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory);
    std::printf("measure-end working-set %zu private %zu\n", static_cast<std::size_t>(memory.WorkingSetSize),
                static_cast<std::size_t>(memory.PrivateUsage));
    std::fflush(stdout);
    const DWORD exitCode = program.Close(20000);
    std::printf("closed exit %lu\n", exitCode);
    return exitCode == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    Options options;
    std::string session;
    int seconds = 30;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument.rfind("--runs=", 0) == 0)
            options.runs = std::max(1, std::atoi(argument.c_str() + 7));
        else if (argument.rfind("--only=", 0) == 0)
            options.only = argument.substr(7);
        else if (argument.rfind("--session=", 0) == 0)
            session = argument.substr(10);
        else if (argument.rfind("--seconds=", 0) == 0)
            seconds = std::max(1, std::atoi(argument.c_str() + 10));
    }
    if (!session.empty())
        return RunSession(session == "active", seconds);
    return RunInProcess(options);
}
