// A pcan_usb.dll planted in the current directory of the real program is never loaded:
// the program takes its driver library from its own folder (or the system folder) only.
// The real tovral.exe runs in a process of its own, started in the folder of the planted
// library, and the operator starts communication from its menu.
#include <gtest/gtest.h>

#include <string>

#include "fault_fixture.h"
#include "remote_program.h"
#include "resource.h"

namespace {

struct PlantedCase {
    const char* name;
    bool simulatedBusBeside;  // the program's folder holds the simulated pcan_usb.dll
};

class PlantedLibrary : public ::testing::TestWithParam<PlantedCase> {};

TEST_P(PlantedLibrary, IsNeverLoadedByTheProgram)
{
    const PlantedCase& c = GetParam();
    const std::wstring programFolder = ExecutableFolder() + L"program\\";
    const std::wstring plantedFolder = ExecutableFolder() + L"planted\\";
    const std::wstring marker = plantedFolder + L"pcan_usb.dll.loaded";
    DeleteFileW(marker.c_str());

    // The marker works: loading the planted library by its full path leaves it.
    HMODULE direct = LoadLibraryW((plantedFolder + L"pcan_usb.dll").c_str());
    ASSERT_NE(direct, nullptr);
    FreeLibrary(direct);
    ASSERT_TRUE(FileExists(marker));
    DeleteFileW(marker.c_str());

    const std::wstring beside = programFolder + L"pcan_usb.dll";
    if (c.simulatedBusBeside)
        ASSERT_TRUE(CopyFileW((DriverFolder() + L"simbus.dll").c_str(), beside.c_str(), FALSE));
    else
        DeleteFileW(beside.c_str());
    DeleteFileW((programFolder + L"tovral.ini").c_str());

    RemoteProgram program;
    ASSERT_TRUE(program.Launch(programFolder + L"tovral.exe", plantedFolder));
    program.Command(IDM_START);
    std::wstring text;
    ASSERT_TRUE(program.AnswerBox(IDOK, text, 10000));
    EXPECT_EQ(text, L"Warning!\nOutputs may be modified!");
    if (c.simulatedBusBeside) {
        for (int i = 0; i < 200 && !program.CommActive(); ++i)
            Sleep(50);
        EXPECT_TRUE(program.CommActive()) << "the library beside the program opened the bus";
    } else {
        ASSERT_TRUE(program.AnswerBox(IDOK, text, 10000));
        EXPECT_EQ(text, L"Unable to load CAN DLL!");
    }
    EXPECT_EQ(program.Close(20000), 0u);
    EXPECT_FALSE(FileExists(marker)) << "the planted library was loaded";
    DeleteFileW(marker.c_str());
}

INSTANTIATE_TEST_SUITE_P(Table, PlantedLibrary,
                         ::testing::Values(PlantedCase{"WithTheSimulatedBusBeside", true},
                                           PlantedCase{"WithNothingBeside", false}),
                         CaseName());

}  // namespace
