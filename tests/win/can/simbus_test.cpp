// The CAN interface on Windows against the simulated pcan_usb.dll that the build puts
// beside the program: loading it by the name the program uses, an SDO upload through
// the bus pump and the engine, and a planted library of that name being ignored.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <system_error>

#include "bus_pump.h"
#include "bus_trace.h"
#include "driver.h"
#include "fake_driver.h"
#include "sdo_client.h"
#include "simbus_control.h"
#include "test_files.h"
#include "tick.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kDriverName = "pcan_usb.dll";
constexpr std::uint16_t kBtr10kBaud = 0x672F;  // the first row of the bit-rate list, the default

#if defined(VELOMAR_HAVE_SIMBUS)
constexpr bool kSimbusBuilt = true;
#else
constexpr bool kSimbusBuilt = false;
#endif

// Full path of the loaded module of that name, or empty.
fs::path LoadedModulePath(const wchar_t* name)
{
    HMODULE module = GetModuleHandleW(name);
    if (module == nullptr)
        return {};
    wchar_t path[MAX_PATH * 4];
    const DWORD length = GetModuleFileNameW(module, path, MAX_PATH * 4);
    if (length == 0 || length >= MAX_PATH * 4)
        return {};
    return fs::path(path);
}

class SimulatedDriver : public testing::Test {
protected:
    void SetUp() override
    {
        UnloadDriver();
        InstallFakeDriver();
        UseSystemClock();
        ClearNodeTable(MasterNodeTable());
        SetSendHook(SendFrame);
    }
    void TearDown() override
    {
        UseSystemClock();
        CAN_Close();
        UnloadDriver();
        CloseTraceFile();
        ClearSendHook();
        ClearNodeTable(MasterNodeTable());
        RemoveFakeDriver();
    }
};

// The device type of node 3 (object 0x1000, subindex 0) read the way the master reads
// every object: request, then pump until the engine has the result.
TEST_F(SimulatedDriver, UploadsTheDeviceTypeOfNode3ThroughThePump)
{
    if (!kSimbusBuilt)
        GTEST_SKIP() << "the simulated driver library (target pcan_usb) is not part of this build";
    ScratchFolder folder;
    const std::string tracePath = folder.Utf8("tovral.log");
    OpenTraceFile(tracePath.c_str());

    ASSERT_EQ(LoadDriver(kDriverName), 1);
    ASSERT_EQ(CAN_Init(kBtr10kBaud, 0), 0u);
    for (int i = 0; i < 50; ++i) {  // let the bus settle, as the bus open does
        PumpBus();
        SleepMs(10);
    }

    NodeTable& table = MasterNodeTable();
    RequestUpload(3, 500, table, 0x1000, 0);
    std::uint8_t value[4] = {};
    std::uint32_t length = 0;
    std::uint8_t status = 0xFF;
    std::uint32_t abortCode = 0;
    const std::uint32_t start = TickMs();
    int done = 0;
    while (done == 0 && TickMs() - start < 5000) {  // the engine's time-out ends it long before
        PumpBus();
        done = FetchSdoResult(3, table, value, sizeof value, length, status, abortCode);
    }

    ASSERT_EQ(done, 1);
    EXPECT_EQ(status, SdoCompleted) << std::hex << "abort code " << abortCode;
    ASSERT_EQ(length, 4u);
    const std::uint32_t deviceType = static_cast<std::uint32_t>(value[0]) | static_cast<std::uint32_t>(value[1]) << 8 |
                                     static_cast<std::uint32_t>(value[2]) << 16 |
                                     static_cast<std::uint32_t>(value[3]) << 24;
    EXPECT_EQ(deviceType, 0x000F0191u);

    // Both directions in the trace, with Windows line ends.
    const std::string trace = ReadWholeFile(tracePath);
    EXPECT_NE(trace.find("603 - 40 00 10 00 00 00 00 00 \r\nID: 03h, Function: Ch (SDO (rx))\r\n"), std::string::npos)
        << trace;
    EXPECT_NE(trace.find("583 - 4"), std::string::npos) << trace;
    EXPECT_NE(trace.find("91 01 0F 00 \r\nID: 03h, Function: Bh (SDO (tx))\r\n"), std::string::npos) << trace;
    EXPECT_TRUE(TheFakeDriver().events.empty());  // none of the stand-ins was involved
}

// A pcan_usb.dll planted in the current directory is never loaded: the program takes the
// one beside it, or fails when there is none.
TEST_F(SimulatedDriver, PlantedLibraryInTheCurrentDirectoryIsIgnored)
{
    const fs::path planted = ExecutableFolder() / "planted" / PathFromUtf8(TestDriverFile("planted"));
    ScratchFolder folder(true);
    std::error_code error;
    ASSERT_TRUE(fs::copy_file(planted, folder.Path() / kDriverName, error))
        << Utf8FromPath(planted) << ": " << error.message();

    int loaded = 0;
    fs::path loadedFrom;
    {
        CurrentDirectoryScope inFolder(folder.Path());
        ASSERT_TRUE(inFolder.Ok());
        loaded = LoadDriver(kDriverName);
        loadedFrom = LoadedModulePath(L"pcan_usb.dll");
        CAN_Status();
        UnloadDriver();
    }

    EXPECT_EQ(CountCalls(DriverCall::Loaded, "planted"), 0);
    EXPECT_EQ(CountCalls(DriverCall::Status, "planted"), 0);
    if (kSimbusBuilt) {
        ASSERT_EQ(loaded, 1);
        EXPECT_TRUE(fs::equivalent(loadedFrom.parent_path(), ExecutableFolder(), error)) << Utf8FromPath(loadedFrom);
    } else {
        EXPECT_EQ(loaded, 0);
        EXPECT_TRUE(loadedFrom.empty());
    }
}

// GetProcAddress's FARPROC, through void*, as the binding does.
template <typename Entry>
Entry SimControl(const char* name)
{
    return reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"pcan_usb.dll"), name)));
}

// The program's tests run their process on the manual clock, standing still here. The
// library, a module of its own, keeps real time: a delayed slave still answers after its
// delay, and the library's readings leave the program's clock alone.
TEST_F(SimulatedDriver, KeepsRealTimeWhileTheProgramRunsTheManualClock)
{
    if (!kSimbusBuilt)
        GTEST_SKIP() << "the simulated driver library (target pcan_usb) is not part of this build";
    ASSERT_EQ(LoadDriver(kDriverName), 1);
    const auto reset = SimControl<SimResetEntry>("SimReset");
    const auto nodeMode = SimControl<SimSetNodeModeEntry>("SimSetNodeMode");
    ASSERT_NE(reset, nullptr);
    ASSERT_NE(nodeMode, nullptr);
    ASSERT_EQ(reset(), 0u);
    ASSERT_EQ(CAN_Init(kBtr10kBaud, 0), 0u);
    DriverMsg msg{};
    while (CAN_Read(&msg) == 0) {
    }  // the boot-ups
    ASSERT_EQ(nodeMode(3, kSimNodeDelayed, 20), 0u);

    UseManualClock(7000);
    DriverMsg request{};
    request.id = 0x603;
    request.length = 8;
    request.data[0] = 0x40;  // upload 0x1000 sub 0
    request.data[2] = 0x10;
    ASSERT_EQ(CAN_Write(&request), 0u);
    bool answered = false;
    const DWORD start = GetTickCount();
    while (!answered && GetTickCount() - start < 5000) {
        Sleep(1);
        answered = CAN_Read(&msg) == 0 && msg.id == 0x583;
    }
    EXPECT_TRUE(answered);
    EXPECT_EQ(TickMs(), 7000u);
    reset();  // node 3 answers at once again for the tests after this one
}

}  // namespace
