// The build's architecture as the driver libraries meet it.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <set>
#include <sstream>
#include <string>

#include "bus_trace.h"
#include "convention_round_trip.h"
#include "driver.h"
#include "dynlib.h"
#include "pe_file.h"
#include "simbus_control.h"

namespace {

constexpr std::uint16_t kMachineI386 = 0x014C;
constexpr std::uint16_t kMachineAmd64 = 0x8664;
constexpr std::uint16_t kOwnMachine = VELOMAR_TARGET_BITS == 32 ? kMachineI386 : kMachineAmd64;
constexpr std::uint16_t kOtherMachine = VELOMAR_TARGET_BITS == 32 ? kMachineAmd64 : kMachineI386;
constexpr unsigned kOtherBits = VELOMAR_TARGET_BITS == 32 ? 64 : 32;

const std::set<std::string> kDriverNames = {
    "CAN_Init", "CAN_Close",       "CAN_Status",          "CAN_Write",
    "CAN_Read", "CAN_VersionInfo", "CAN_SpecialFunktion", "CAN_ResetClient",
};

std::wstring ExecutableFolder()
{
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    return folder.substr(0, folder.find_last_of(L'\\') + 1);
}

std::string Narrow(const std::wstring& text)
{
    return std::string(text.begin(), text.end());
}

std::string ReadText(const std::string& path)
{
    std::ifstream in(path);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The program, the tests and the simulated library are of the width the build is for,
// and run as such under the matching Wine.
TEST(Architecture, EverythingRunsAtTheBuildsWidth)
{
    EXPECT_EQ(sizeof(void*) * 8, static_cast<std::size_t>(VELOMAR_TARGET_BITS));
    EXPECT_EQ(ProgramBits, static_cast<unsigned>(VELOMAR_TARGET_BITS));

    // The image running now, as the loader mapped it.
    const auto* base = reinterpret_cast<const BYTE*>(GetModuleHandleW(nullptr));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    EXPECT_EQ(nt->FileHeader.Machine, kOwnMachine);

    for (const wchar_t* name : {L"tovral.exe", L"pcan_usb.dll", L"netcan\\pcan_usb.dll", L"slcan\\pcan_usb.dll"}) {
        PeFile file;
        std::string error;
        ASSERT_TRUE(ReadPeFile(ExecutableFolder() + name, file, error)) << Narrow(name) << ": " << error;
        EXPECT_EQ(file.machine, kOwnMachine) << Narrow(name);
    }
}

struct ExportCase {
    const wchar_t* file;
    std::set<std::string> names;
    std::uint16_t machine;
};

// Each library's export directory, read from the file: exactly the plain driver names
// (and the simulated bus's controls), nothing decorated, nothing by ordinal only.
TEST(Architecture, LibrariesExportExactlyThePlainNames)
{
    std::set<std::string> simulated = kDriverNames;
    simulated.insert(std::begin(kSimControlNames), std::end(kSimControlNames));
    std::set<std::string> withoutInit = kDriverNames;
    withoutInit.erase("CAN_Init");
    std::set<std::string> withoutResetClient = kDriverNames;
    withoutResetClient.erase("CAN_ResetClient");
    const ExportCase cases[] = {
        {L"pcan_usb.dll", simulated, kOwnMachine},
        {L"netcan\\pcan_usb.dll", kDriverNames, kOwnMachine},
        {L"slcan\\pcan_usb.dll", kDriverNames, kOwnMachine},
        {L"test_driver_full.dll", kDriverNames, kOwnMachine},
        {L"test_driver_no_CAN_Init.dll", withoutInit, kOwnMachine},
        {L"test_driver_no_CAN_ResetClient.dll", withoutResetClient, kOwnMachine},
        {L"other_arch_pcan_usb.dll", kDriverNames, kOtherMachine},
    };
    for (const ExportCase& c : cases) {
        SCOPED_TRACE(Narrow(c.file));
        PeFile file;
        std::string error;
        ASSERT_TRUE(ReadPeFile(ExecutableFolder() + c.file, file, error)) << error;
        EXPECT_EQ(file.machine, c.machine);
        EXPECT_EQ(file.exportNames, c.names);
        EXPECT_EQ(file.unnamedExports, 0u);
    }
}

// Two thousand writes and 250 SDO answers through the binding and the real library.
TEST(CallingConvention, RoundTripThroughTheSimulatedLibrary)
{
    EXPECT_EQ(ConventionRoundTrip(2000), "");
    EXPECT_EQ(DriverLoaded(), 0);
}

struct ProbeRun {
    DWORD exitCode = 0;
    std::string output;
};

// Runs a probe beside this executable with a deadline; a probe still running then is
// ended and counted as failed.
bool RunProbe(const wchar_t* name, ProbeRun& run)
{
    wchar_t outputPath[MAX_PATH];
    wchar_t tempFolder[MAX_PATH];
    GetTempPathW(MAX_PATH, tempFolder);
    GetTempFileNameW(tempFolder, L"vcp", 0, outputPath);
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE output = CreateFileW(outputPath, GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (output == INVALID_HANDLE_VALUE)
        return false;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = output;
    startup.hStdError = output;
    PROCESS_INFORMATION process{};
    std::wstring commandLine = L"\"" + ExecutableFolder() + name + L"\"";
    const BOOL started = CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                        ExecutableFolder().c_str(), &startup, &process);
    CloseHandle(output);
    if (!started)
        return false;
    if (WaitForSingleObject(process.hProcess, 60000) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 99);
        WaitForSingleObject(process.hProcess, 5000);
    }
    GetExitCodeProcess(process.hProcess, &run.exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    std::ifstream in(outputPath);
    run.output.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    in.close();
    DeleteFileW(outputPath);
    return true;
}

// The probe holds in a process of its own with the program's binding...
TEST(CallingConvention, ProbeHoldsWithTheProgramsBinding)
{
    ProbeRun run;
    ASSERT_TRUE(RunProbe(L"convention_probe.exe", run));
    EXPECT_EQ(run.exitCode, 0u) << run.output;
    EXPECT_EQ(run.output, "round trip ok\n");
}

#if defined(VELOMAR_CDECL_PROBE)
// ...and fails with a binding that calls the 32-bit library's __stdcall entry points as
// C functions: each call leaves the stack four bytes off.
TEST(CallingConvention, WrongConventionIsCaught)
{
    ProbeRun run;
    ASSERT_TRUE(RunProbe(L"convention_probe_cdecl.exe", run));
    EXPECT_NE(run.exitCode, 0u) << run.output;
    EXPECT_EQ(run.output.find("round trip ok"), std::string::npos) << run.output;
    std::printf("wrong convention: exit code %lu, %s", static_cast<unsigned long>(run.exitCode), run.output.c_str());
}
#endif

class ForeignLibrary : public ::testing::Test {
protected:
    void SetUp() override
    {
        char folder[MAX_PATH];
        GetTempPathA(MAX_PATH, folder);
        tracePath = std::string(folder) + "velomar_architecture_trace.log";
        OpenTraceFile(tracePath.c_str());
    }
    void TearDown() override
    {
        UnloadDriver();
        CloseTraceFile();
        DeleteFileA(tracePath.c_str());
    }
    std::string Trace()
    {
        CloseTraceFile();
        const std::string text = ReadText(tracePath);
        OpenTraceFile(tracePath.c_str());  // empties it
        return text;
    }
    std::string tracePath;
};

// A library of the other width is refused like a missing one: the loaded library is
// closed and released, nothing is loaded, every guarded call returns 512, and the trace
// says what is wrong. The matching library loads afterwards.
TEST_F(ForeignLibrary, IsRefusedWithOneTraceLine)
{
    ASSERT_EQ(LoadDriver("pcan_usb.dll"), 1);
    ASSERT_NE(GetModuleHandleW(L"pcan_usb.dll"), nullptr);

    EXPECT_EQ(LoadDriver("other_arch_pcan_usb.dll"), 0);
    EXPECT_EQ(DriverLoaded(), 0);
    EXPECT_EQ(GetModuleHandleW(L"pcan_usb.dll"), nullptr) << "the earlier library was not released";
    EXPECT_EQ(GetModuleHandleW(L"other_arch_pcan_usb.dll"), nullptr);
    DriverMsg msg{};
    EXPECT_EQ(CAN_Read(&msg), DriverNotLoaded);
    EXPECT_EQ(CAN_Status(), DriverNotLoaded);
    EXPECT_EQ(LastLoadForeignBits(), kOtherBits);

    char expected[200];
    std::snprintf(expected, sizeof expected,
                  "other_arch_pcan_usb.dll is a %u-bit library; this program is %u-bit and loads only a %u-bit "
                  "other_arch_pcan_usb.dll\n",
                  kOtherBits, ProgramBits, ProgramBits);
    EXPECT_EQ(Trace(), expected);

    EXPECT_EQ(LoadDriver("pcan_usb.dll"), 1);
    EXPECT_EQ(LastLoadForeignBits(), 0u);
    EXPECT_EQ(CAN_Init(0x001C, 0), 0u);
    EXPECT_EQ(Trace(), "");
}

// Libraries that fail for other reasons leave no such line.
TEST_F(ForeignLibrary, OtherLoadFailuresTraceNothing)
{
    EXPECT_EQ(LoadDriver("no_such_library.dll"), 0);
    EXPECT_EQ(LastLoadForeignBits(), 0u);
    EXPECT_EQ(LoadDriver("test_driver_no_CAN_ResetClient.dll"), 0);
    EXPECT_EQ(LastLoadForeignBits(), 0u);
    EXPECT_EQ(DriverLoaded(), 0);
    EXPECT_EQ(Trace(), "");
}

}  // namespace
