// The driver binding against stand-in driver libraries: which libraries it accepts, what
// it calls in them, when it releases them, and what it answers while none is loaded.
#include "driver.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <system_error>
#include <vector>

#include "fake_driver.h"
#include "test_files.h"

namespace {

// The record of calls as readable lines, e.g. "Close full".
std::vector<std::string> CallLog()
{
    static const char* const kNames[] = {"Loaded", "Released", "Init", "Close", "Status", "Write", "Read"};
    std::vector<std::string> log;
    for (const DriverEvent& event : TheFakeDriver().events)
        log.push_back(std::string(kNames[static_cast<int>(event.call)]) + " " + event.tag);
    return log;
}

DriverMsg Pattern(std::uint8_t fill)
{
    DriverMsg msg;
    std::memset(&msg, fill, sizeof msg);
    return msg;
}

// Every guarded call returns 512, leaves the records it is handed alone and reaches no
// library.
void ExpectNothingLoadedAnswers()
{
    const std::size_t eventsBefore = TheFakeDriver().events.size();
    const DriverMsg untouched = Pattern(0xA5);
    DriverMsg writeMsg = untouched;
    DriverMsg readMsg = untouched;

    EXPECT_EQ(DriverLoaded(), 0);
    EXPECT_EQ(CAN_Init(0x001C, 0), 512u);
    EXPECT_EQ(CAN_Close(), 512u);
    EXPECT_EQ(CAN_Status(), 512u);
    EXPECT_EQ(CAN_Write(&writeMsg), 512u);
    EXPECT_EQ(CAN_Read(&readMsg), 512u);

    EXPECT_EQ(std::memcmp(&writeMsg, &untouched, sizeof untouched), 0);
    EXPECT_EQ(std::memcmp(&readMsg, &untouched, sizeof untouched), 0);
    EXPECT_EQ(TheFakeDriver().events.size(), eventsBefore);
}

class DriverBinding : public testing::Test {
protected:
    void SetUp() override
    {
        UnloadDriver();
        InstallFakeDriver();
    }
    void TearDown() override
    {
        UnloadDriver();
        RemoveFakeDriver();
    }
};

TEST_F(DriverBinding, CompleteLibraryIsLoadedWithoutBeingCalled)
{
    ASSERT_EQ(LoadDriver(TestDriverFile("full").c_str()), 1);
    EXPECT_EQ(DriverLoaded(), 1);
    EXPECT_EQ(CallLog(), (std::vector<std::string>{"Loaded full"}));
}

// A library lacking any one of the eight names is refused, even one of the three that
// are never called. CAN_Close is called before the release only when it was resolved
// ahead of the missing name.
class MissingName : public DriverBinding, public testing::WithParamInterface<std::size_t> {};

TEST_P(MissingName, LibraryIsRefusedAndNothingStaysLoaded)
{
    const std::size_t position = GetParam();
    const std::string variant = std::string("no_") + DriverNameTable[position];

    EXPECT_EQ(LoadDriver(TestDriverFile(variant).c_str()), 0);

    std::vector<std::string> expected = {"Loaded " + variant};
    if (position > 1)
        expected.push_back("Close " + variant);
    expected.push_back("Released " + variant);
    EXPECT_EQ(CallLog(), expected);
    ExpectNothingLoadedAnswers();
}

INSTANTIATE_TEST_SUITE_P(EachOfTheEight, MissingName, testing::Range<std::size_t>(0, 8),
                         [](const testing::TestParamInfo<std::size_t>& naming) {
                             return std::string(DriverNameTable[naming.param]);
                         });

// Loading while a library is loaded closes the old one once and releases it once, before
// the new one is loaded, whatever becomes of the new load.
struct ReloadCase {
    const char* name;
    const char* second;  // variant loaded while "full" is loaded
    int result;
    std::vector<std::string> logAfterFirst;
};

class Reload : public DriverBinding, public testing::WithParamInterface<ReloadCase> {};

TEST_P(Reload, OldLibraryIsClosedAndReleasedOnceFirst)
{
    const ReloadCase& c = GetParam();
    ASSERT_EQ(LoadDriver(TestDriverFile("full").c_str()), 1);

    EXPECT_EQ(LoadDriver(TestDriverFile(c.second).c_str()), c.result);

    std::vector<std::string> expected = {"Loaded full"};
    expected.insert(expected.end(), c.logAfterFirst.begin(), c.logAfterFirst.end());
    EXPECT_EQ(CallLog(), expected);
    EXPECT_EQ(DriverLoaded(), c.result);
    if (c.result == 0)
        ExpectNothingLoadedAnswers();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Reload,
    testing::Values(ReloadCase{"AnotherCompleteLibrary", "other", 1, {"Close full", "Released full", "Loaded other"}},
                    ReloadCase{"TheSameLibraryAgain", "full", 1, {"Close full", "Released full", "Loaded full"}},
                    ReloadCase{"LibraryLackingAName",
                               "no_CAN_ResetClient",
                               0,
                               {"Close full", "Released full", "Loaded no_CAN_ResetClient", "Close no_CAN_ResetClient",
                                "Released no_CAN_ResetClient"}},
                    ReloadCase{"MissingFile", "absent", 0, {"Close full", "Released full"}}),
    [](const testing::TestParamInfo<ReloadCase>& naming) { return std::string(naming.param.name); });

TEST_F(DriverBinding, NothingLoadedAtFirstAndAfterUnload)
{
    ExpectNothingLoadedAnswers();

    ASSERT_EQ(LoadDriver(TestDriverFile("full").c_str()), 1);
    EXPECT_EQ(UnloadDriver(), 1);
    ExpectNothingLoadedAnswers();
}

TEST_F(DriverBinding, UnloadWithNothingLoadedCallsNothing)
{
    EXPECT_EQ(UnloadDriver(), 1);
    EXPECT_TRUE(CallLog().empty());

    ASSERT_EQ(LoadDriver(TestDriverFile("full").c_str()), 1);
    EXPECT_EQ(UnloadDriver(), 1);
    EXPECT_EQ(UnloadDriver(), 1);
    EXPECT_EQ(CallLog(), (std::vector<std::string>{"Loaded full", "Close full", "Released full"}));
}

// Closing the bus: CAN_Close, then UnloadDriver, which closes again and then releases.
TEST_F(DriverBinding, ClosingTheBusClosesTwiceThenReleasesOnce)
{
    ASSERT_EQ(LoadDriver(TestDriverFile("full").c_str()), 1);
    EXPECT_EQ(CAN_Init(0x001C, 0), 0u);
    CAN_Close();
    UnloadDriver();

    EXPECT_EQ(CallLog(),
              (std::vector<std::string>{"Loaded full", "Init full", "Close full", "Close full", "Released full"}));
    ExpectNothingLoadedAnswers();
}

// A failed CAN_Init leaves the library loaded until the next load or unload.
TEST_F(DriverBinding, FailedInitKeepsTheLibraryLoaded)
{
    TheFakeDriver().initResult = 0x0001;
    ASSERT_EQ(LoadDriver(TestDriverFile("full").c_str()), 1);
    EXPECT_EQ(CAN_Init(0x672F, 0), 0x0001u);
    EXPECT_EQ(DriverLoaded(), 1);
    EXPECT_EQ(CAN_Status(), 0u);
}

struct InitCase {
    std::uint16_t btr0btr1;
    int frameType;
    std::uint32_t result;
};

class InitArguments : public DriverBinding, public testing::WithParamInterface<InitCase> {};

TEST_P(InitArguments, ReachTheEntryPointAndResultComesBackUnchanged)
{
    const InitCase& c = GetParam();
    TheFakeDriver().initResult = c.result;
    ASSERT_EQ(LoadDriver(TestDriverFile("full").c_str()), 1);

    EXPECT_EQ(CAN_Init(c.btr0btr1, c.frameType), c.result);

    ASSERT_EQ(CountCalls(DriverCall::Init), 1);
    const DriverEvent& init = TheFakeDriver().events.back();
    EXPECT_EQ(init.btr0btr1, c.btr0btr1);
    EXPECT_EQ(init.frameType, c.frameType);
}

INSTANTIATE_TEST_SUITE_P(Cases, InitArguments,
                         testing::Values(InitCase{0x672F, 0, 0}, InitCase{0x011C, 0, 0},
                                         InitCase{0x0014, 1, 0x00000001}, InitCase{0xFFFF, -1, 0xFFFFFFFF},
                                         InitCase{0x001C, 0, 0x00010000}));

// Status, close, write and read: the caller's record itself is handed over, and every
// result comes back unchanged.
TEST_F(DriverBinding, OtherCallsPassRecordsAndResultsUnchanged)
{
    FakeDriver& driver = TheFakeDriver();
    driver.statusResult = 0x00040008;
    driver.closeResult = 0x80000000;
    driver.writeResultAfter = 0x00000010;
    DriverMsg received = Pattern(0);
    received.id = 0x185;
    received.msgType = kMsgRemote;
    received.length = 3;
    received.data[2] = 0xC3;
    driver.receiveQueue.push_back({0, received});
    driver.queueEmptyResult = 0x00000020;
    ASSERT_EQ(LoadDriver(TestDriverFile("full").c_str()), 1);

    EXPECT_EQ(CAN_Status(), 0x00040008u);
    EXPECT_EQ(CAN_Close(), 0x80000000u);

    DriverMsg sent = Pattern(0);
    sent.id = 0x605;
    sent.length = 8;
    sent.data[0] = 0x40;
    sent.data[7] = 0x7F;
    EXPECT_EQ(CAN_Write(&sent), 0x00000010u);
    EXPECT_EQ(driver.events.back().record, &sent);
    EXPECT_EQ(std::memcmp(&driver.events.back().msg, &sent, sizeof sent), 0);

    DriverMsg msg = Pattern(0xEE);
    EXPECT_EQ(CAN_Read(&msg), 0u);
    EXPECT_EQ(driver.events.back().record, &msg);
    EXPECT_EQ(std::memcmp(&msg, &received, sizeof msg), 0);
    EXPECT_EQ(CAN_Read(&msg), 0x00000020u);
}

// A library of the right name planted in the current directory is never taken: the one
// beside the program is, and without one there the load fails.
struct PlantedCase {
    const char* name;
    const char* plantedAs;  // variant whose file name the planted copy takes
    int result;
};

class PlantedLibrary : public DriverBinding, public testing::WithParamInterface<PlantedCase> {};

TEST_P(PlantedLibrary, IsNeverLoadedFromTheCurrentDirectory)
{
    const PlantedCase& c = GetParam();
    const std::string fileName = TestDriverFile(c.plantedAs);
    const std::filesystem::path planted = ExecutableFolder() / "planted" / PathFromUtf8(TestDriverFile("planted"));
    ScratchFolder folder(true);
    std::error_code error;
    ASSERT_TRUE(std::filesystem::copy_file(planted, folder.Path() / PathFromUtf8(fileName), error))
        << Utf8FromPath(planted) << ": " << error.message();

    // The planted copy is a working library when asked for by its full path.
    ASSERT_EQ(LoadDriver(folder.Utf8(fileName).c_str()), 1);
    ASSERT_EQ(UnloadDriver(), 1);
    ASSERT_EQ(CountCalls(DriverCall::Loaded, "planted"), 1);
    InstallFakeDriver();

    {
        CurrentDirectoryScope inFolder(folder.Path());
        ASSERT_TRUE(inFolder.Ok());
        EXPECT_EQ(LoadDriver(fileName.c_str()), c.result);
        CAN_Status();
        UnloadDriver();
    }

    EXPECT_EQ(CountCalls(DriverCall::Loaded, "planted"), 0);
    EXPECT_EQ(CountCalls(DriverCall::Status, "planted"), 0);
    EXPECT_EQ(CountCalls(DriverCall::Status, c.plantedAs), c.result);
}

INSTANTIATE_TEST_SUITE_P(Cases, PlantedLibrary,
                         testing::Values(PlantedCase{"SameNameBesideTheProgram", "full", 1},
                                         PlantedCase{"NoneBesideTheProgram", "planted_only", 0}),
                         [](const testing::TestParamInfo<PlantedCase>& naming) {
                             return std::string(naming.param.name);
                         });

}  // namespace
