// The real tovral.exe with a pcan_usb.dll of the other architecture beside it (the
// vendor's 32-bit library beside a 64-bit program, or the reverse): the operator gets
// the usual "Unable to load CAN DLL!", and with logging on the trace says why. The
// library of the program's own architecture then works.
#include <gtest/gtest.h>

#include <string>

#include "dynlib.h"
#include "fault_fixture.h"
#include "remote_program.h"
#include "resource.h"

namespace {

class ForeignLibraryBeside : public ::testing::Test {
protected:
    void SetUp() override
    {
        DeleteFileW((programFolder + L"tovral.log").c_str());
        // Logging on, everything else at its default.
        ASSERT_TRUE(WriteSettings("[Tovral]\r\nLogging=1\r\n"));
    }
    void TearDown() override
    {
        DeleteFileW((programFolder + L"pcan_usb.dll").c_str());
        DeleteFileW((programFolder + L"tovral.ini").c_str());
        DeleteFileW((programFolder + L"tovral.log").c_str());
    }
    bool WriteSettings(const std::string& text)
    {
        HANDLE file = CreateFileW((programFolder + L"tovral.ini").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return false;
        DWORD written = 0;
        const BOOL ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        CloseHandle(file);
        return ok && written == text.size();
    }
    const std::wstring programFolder = ExecutableFolder() + L"program\\";
};

TEST_F(ForeignLibraryBeside, IsRefusedWithMessage1037AndATraceLine)
{
    ASSERT_TRUE(
        CopyFileW((DriverFolder() + L"other_arch.dll").c_str(), (programFolder + L"pcan_usb.dll").c_str(), FALSE));
    {
        RemoteProgram program;
        ASSERT_TRUE(program.Launch(programFolder + L"tovral.exe", programFolder));
        program.Command(IDM_START);
        std::wstring text;
        ASSERT_TRUE(program.AnswerBox(IDOK, text, 10000));
        EXPECT_EQ(text, L"Warning!\nOutputs may be modified!");
        ASSERT_TRUE(program.AnswerBox(IDOK, text, 10000));
        EXPECT_EQ(text, L"Unable to load CAN DLL!");
        EXPECT_FALSE(program.CommActive());
        EXPECT_EQ(program.Close(20000), 0u);
    }
    const unsigned otherBits = ProgramBits == 32 ? 64 : 32;
    const std::string expected = "pcan_usb.dll is a " + std::to_string(otherBits) + "-bit library; this program is " +
                                 std::to_string(ProgramBits) + "-bit and loads only a " + std::to_string(ProgramBits) +
                                 "-bit pcan_usb.dll\r\n";
    EXPECT_EQ(ReadFileBytes(programFolder + L"tovral.log"), expected);

    // The library of the program's own architecture in its place opens the bus.
    ASSERT_TRUE(CopyFileW((DriverFolder() + L"simbus.dll").c_str(), (programFolder + L"pcan_usb.dll").c_str(), FALSE));
    RemoteProgram program;
    ASSERT_TRUE(program.Launch(programFolder + L"tovral.exe", programFolder));
    program.Command(IDM_START);
    std::wstring text;
    ASSERT_TRUE(program.AnswerBox(IDOK, text, 10000));
    for (int i = 0; i < 200 && !program.CommActive(); ++i)
        Sleep(50);
    EXPECT_TRUE(program.CommActive());
    program.Command(IDM_STOP);
    EXPECT_EQ(program.Close(20000), 0u);
    const std::string trace = ReadFileBytes(programFolder + L"tovral.log");
    EXPECT_EQ(trace.find("-bit library"), std::string::npos) << trace;
    EXPECT_NE(trace.find(": 000 - 01 03"), std::string::npos) << "no NMT start in the trace";
}

}  // namespace
