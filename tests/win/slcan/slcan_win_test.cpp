// The serial pcan_usb.dll under Wine.
//
// SlcanExports: the library's export table holds the eight driver names and nothing else.
// SlcanThroughPty (run by scripts/slcan-device, which links the test device's
// pseudo-terminal into the Wine prefix as COM5): the program's driver binding loads the
// serial library by name from this executable's folder (bin/slcan-test, with a slcan.ini
// naming COM5), and the engine talks to the simulated slave 3 behind the device.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "bus_pump.h"
#include "driver.h"
#include "node_table.h"
#include "pdo_slots.h"
#include "sdo_client.h"
#include "tick.h"

namespace {

constexpr std::uint32_t kNode = 3;

std::wstring ExeFolder()
{
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, n);
    return folder.substr(0, folder.find_last_of(L"\\/") + 1);
}

std::set<std::string> ExportedNames(HMODULE module)
{
    std::set<std::string> names;
    const auto* base = reinterpret_cast<const std::uint8_t*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    if (directory.Size == 0)
        return names;
    const auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + directory.VirtualAddress);
    const auto* nameTable = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
    for (DWORD i = 0; i < exports->NumberOfNames; ++i)
        names.insert(reinterpret_cast<const char*>(base + nameTable[i]));
    return names;
}

struct Result {
    std::uint8_t status = 1;
    std::uint32_t abortCode = 0;
    std::vector<std::uint8_t> data;
};

void Pump(NodeTable& table)
{
    DriverMsg msg;
    if (CAN_Read(&msg) == kDriverOk && (msg.msgType & kMsgStatus) == 0) {
        const CanFrame frame = MsgToFrame(msg);
        RunEngineCycle(table, &frame);
    }
    RunEngineCycle(table, nullptr);
}

// Pumps until the transfer ends. The engine's time-out per response ends every transfer;
// the 10 s limit only guards the test against an engine that would not.
Result Finish(NodeTable& table)
{
    Result r;
    std::uint8_t buffer[1000];
    std::uint32_t length = 0;
    const std::uint32_t start = TickMs();
    while (TickMs() - start <= 10000) {
        Pump(table);
        if (FetchSdoResult(kNode, table, buffer, sizeof buffer, length, r.status, r.abortCode)) {
            r.data.assign(buffer, buffer + length);
            return r;
        }
        Sleep(0);
    }
    ADD_FAILURE() << "transfer never ended";
    return r;
}

Result Upload(std::uint16_t index, std::uint8_t subIndex, std::uint32_t timeoutMs = 1000)
{
    NodeTable& table = MasterNodeTable();
    RequestUpload(kNode, timeoutMs, table, index, subIndex);
    return Finish(table);
}

std::string Hex(const std::vector<std::uint8_t>& data)
{
    std::string s;
    char pair[3];
    for (std::uint8_t b : data) {
        std::snprintf(pair, sizeof pair, "%02X", b);
        s += pair;
    }
    return s;
}

// The mute file of scripts/slcan-device, as a Windows path (Wine's Z: is the root).
std::wstring MuteFile()
{
    const char* unix = std::getenv("SLCAN_MUTE_FILE");
    if (unix == nullptr)
        return L"";
    std::wstring path = L"Z:";
    for (const char* p = unix; *p != '\0'; ++p)
        path += *p == '/' ? L'\\' : static_cast<wchar_t>(*p);
    return path;
}

// Opens the bus as the program does: load by name, CAN_Init at 250 kbit/s, a warm-up.
bool OpenBus()
{
    if (LoadDriver("pcan_usb.dll") != 1 || CAN_Init(0x011C, 0) != kDriverOk)
        return false;
    SetSendHook(SendFrame);
    ClearNodeTable(MasterNodeTable());
    for (int i = 0; i < 20; ++i) {
        Pump(MasterNodeTable());
        Sleep(10);
    }
    return true;
}

void CloseBus()
{
    CAN_Close();
    UnloadDriver();
}

}  // namespace

TEST(SlcanExports, OnlyTheEightDriverNames)
{
    const std::wstring path = ExeFolder() + L"pcan_usb.dll";
    HMODULE module = LoadLibraryW(path.c_str());
    ASSERT_NE(module, nullptr);
    const std::set<std::string> expected(DriverNameTable.begin(), DriverNameTable.end());
    EXPECT_EQ(ExportedNames(module), expected);
    FreeLibrary(module);
}

TEST(SlcanThroughPty, UploadsAndPollsNode3ThroughTheComPort)
{
    ASSERT_NE(std::getenv("SLCAN_DEVICE_PTY"), nullptr) << "run through scripts/slcan-device";
    ASSERT_TRUE(OpenBus()) << "serial pcan_usb.dll not loaded, or COM5 not answering";

    const Result type = Upload(0x1000, 0);
    EXPECT_EQ(type.status, SdoCompleted);
    EXPECT_EQ(Hex(type.data), "91010F00");
    const Result name = Upload(0x1008, 0);  // segmented
    EXPECT_EQ(name.status, SdoCompleted);
    EXPECT_EQ(std::string(name.data.begin(), name.data.end()), "SimIO 8DI 8DO 2AI 2AO");
    EXPECT_EQ(CAN_Status(), kDriverOk);

    // Operational, the slave answers a remote frame for its first transmit PDO.
    CanFrame start{};
    start.length = 2;
    start.data[0] = 0x01;
    start.data[1] = kNode;
    ASSERT_EQ(SendFrame(start), 1);
    CanFrame poll{};
    poll.remote = 1;
    poll.id = 0x180 + kNode;
    poll.length = 1;
    bool answered = false;
    const std::uint32_t begin = TickMs();
    std::uint32_t lastPoll = begin - 100;
    while (!answered && TickMs() - begin < 3000) {
        if (TickMs() - lastPoll >= 50) {
            SendFrame(poll);
            lastPoll = TickMs();
        }
        DriverMsg msg;
        while (CAN_Read(&msg) == kDriverOk) {
            if (msg.id == 0x180 + kNode && (msg.msgType & kMsgRemote) == 0)
                answered = true;
        }
        Sleep(1);
    }
    EXPECT_TRUE(answered) << "no answer to the remote frame 0x183";
    CanFrame stop = start;
    stop.data[0] = 0x80;
    SendFrame(stop);
    CloseBus();
    CloseBus();  // twice, as after an object access: harmless

    // The device's version went to the log the slcan.ini asked for.
    std::FILE* log = _wfopen((ExeFolder() + L"slcan.log").c_str(), L"rb");
    ASSERT_NE(log, nullptr);
    char text[4096] = {};
    const std::size_t n = std::fread(text, 1, sizeof text - 1, log);
    std::fclose(log);
    EXPECT_NE(std::string(text, n).find("V1013"), std::string::npos) << text;
}

TEST(SlcanThroughPty, SilentDeviceFailsTheTransferAndAReopenRecovers)
{
    const std::wstring mute = MuteFile();
    ASSERT_FALSE(mute.empty()) << "run through scripts/slcan-device";
    ASSERT_TRUE(OpenBus());
    HANDLE file = CreateFileW(mute.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);

    const Result lost = Upload(0x1000, 0, 300);
    EXPECT_EQ(lost.status, SdoFailed);
    // The driver, too, reports the silence (after its 1 s answer time-out).
    std::uint32_t status = 0;
    const std::uint32_t begin = TickMs();
    while (status == 0 && TickMs() - begin < 5000) {
        status = CAN_Status();
        Sleep(5);
    }
    EXPECT_NE(status, 0u);
    CloseBus();
    EXPECT_EQ(LoadDriver("pcan_usb.dll"), 1);
    EXPECT_NE(CAN_Init(0x011C, 0), kDriverOk);  // no answer: the program's message 1001

    ASSERT_TRUE(DeleteFileW(mute.c_str()));
    ASSERT_TRUE(OpenBus());
    const Result back = Upload(0x1000, 0);
    EXPECT_EQ(back.status, SdoCompleted);
    EXPECT_EQ(Hex(back.data), "91010F00");
    CloseBus();
}
