// The simulated pcan_usb.dll as the program meets it: loaded from the program's folder
// only, exporting the eight driver names and the test controls and nothing else,
// answering an SDO upload with the exact frame, keeping its slaves across a reload.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <iterator>
#include <set>
#include <string>

#include "driver_api.h"
#include "simbus_control.h"

namespace {

const char* const kDriverNames[] = {
    "CAN_Init", "CAN_Close",       "CAN_Status",          "CAN_Write",
    "CAN_Read", "CAN_VersionInfo", "CAN_SpecialFunktion", "CAN_ResetClient",
};

HMODULE LoadSimulatedDriver()
{
    return LoadLibraryExW(L"pcan_usb.dll", nullptr, LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
}

template <typename Entry>
Entry Resolve(HMODULE module, const char* name)
{
    FARPROC address = GetProcAddress(module, name);
    EXPECT_NE(address, nullptr) << name;
    return reinterpret_cast<Entry>(reinterpret_cast<void*>(address));
}

// Names in the export directory of a loaded module; `unnamed` counts exports reached
// by ordinal only.
std::set<std::string> ExportedNames(HMODULE module, DWORD& unnamed)
{
    const auto* base = reinterpret_cast<const BYTE*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    std::set<std::string> names;
    unnamed = 0;
    if (directory.VirtualAddress == 0)
        return names;
    const auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + directory.VirtualAddress);
    const auto* nameTable = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
    for (DWORD i = 0; i < exports->NumberOfNames; ++i)
        names.insert(reinterpret_cast<const char*>(base + nameTable[i]));
    unnamed = exports->NumberOfFunctions - exports->NumberOfNames;
    return names;
}

std::string Text(const DriverMsg& msg)
{
    char text[64];
    int used =
        std::snprintf(text, sizeof text, "%03X %u:", static_cast<unsigned>(msg.id), static_cast<unsigned>(msg.length));
    for (unsigned i = 0; i < msg.length && i < 8; ++i)
        used += std::snprintf(text + used, sizeof text - static_cast<std::size_t>(used), " %02X", msg.data[i]);
    return text;
}

class SimulatedDll : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(module, nullptr) << "error " << GetLastError();
        ASSERT_EQ(Resolve<SimResetEntry>(module, "SimReset")(), 0u);
    }
    void TearDown() override
    {
        if (module != nullptr)
            FreeLibrary(module);
    }

    HMODULE module = LoadSimulatedDriver();
};

TEST_F(SimulatedDll, ExportsOnlyTheDriverNamesAndControls)
{
    std::set<std::string> expected(std::begin(kDriverNames), std::end(kDriverNames));
    expected.insert(std::begin(kSimControlNames), std::end(kSimControlNames));
    DWORD unnamed = 0;
    EXPECT_EQ(ExportedNames(module, unnamed), expected);
    EXPECT_EQ(unnamed, 0u);
}

TEST_F(SimulatedDll, DeviceTypeUploadAndStateAcrossReload)
{
    const auto init = Resolve<CanInitEntry>(module, "CAN_Init");
    const auto write = Resolve<CanWriteEntry>(module, "CAN_Write");
    const auto read = Resolve<CanReadEntry>(module, "CAN_Read");
    ASSERT_EQ(init(0x672F, 0), 0u);
    DriverMsg msg{};
    std::string frames;
    while (read(&msg) == 0)
        frames += Text(msg) + "|";
    EXPECT_EQ(frames, "703 1: 00|705 1: 00|");

    DriverMsg request{};
    request.id = 0x603;
    request.length = 8;
    request.data[0] = 0x40;
    request.data[2] = 0x10;
    ASSERT_EQ(write(&request), 0u);
    ASSERT_EQ(read(&msg), 0u);
    EXPECT_EQ(Text(msg), "583 8: 43 00 10 00 91 01 0F 00");
    EXPECT_EQ(read(&msg), kSimReceiveEmpty);

    DriverMsg start{};
    start.length = 2;
    start.data[0] = 0x01;
    start.data[1] = 3;
    ASSERT_EQ(write(&start), 0u);
    Resolve<CanCloseEntry>(module, "CAN_Close")();
    Resolve<CanCloseEntry>(module, "CAN_Close")();
    SimCounters before{};
    Resolve<SimGetCountersEntry>(module, "SimGetCounters")(&before);
    ASSERT_TRUE(FreeLibrary(module));
    module = LoadSimulatedDriver();
    ASSERT_NE(module, nullptr);
    SimCounters after{};
    Resolve<SimGetCountersEntry>(module, "SimGetCounters")(&after);
    EXPECT_EQ(after.loads - before.loads, 1u);
    EXPECT_EQ(after.unloads - before.unloads, 1u);
    EXPECT_EQ(after.closes, 2u);
    EXPECT_EQ(Resolve<SimGetNodeStateEntry>(module, "SimGetNodeState")(3), kSimStateOperational);
}

}  // namespace
