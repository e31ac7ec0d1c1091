// The Object Dictionary's master side natively: how values and filters read, which EDS
// file is chosen for a slave, and Read All against node 3 of the simulated bus with the
// bus handling of the operator's object requests (communication off: opened and closed
// around the reads; on: the open bus, failures through the failure rule).
#include <gtest/gtest.h>

#include <array>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "comm_state.h"
#include "communication.h"
#include "driver.h"
#include "exchange.h"
#include "master_test_support.h"
#include "slave_dictionary.h"
#include "process_image.h"
#include "resource.h"
#include "settings_values.h"
#include "simbus_control.h"
#include "slave_search.h"

namespace {

using Events = std::vector<std::string>;

constexpr std::uint32_t kNode = 3;

// The events without the wait cursor and the lists' refreshes.
Events Shown(const Events& events)
{
    Events shown;
    for (const std::string& event : events)
        if (event != "busy" && event != "not busy" && event != "lists")
            shown.push_back(event);
    return shown;
}

eds::Entry EntryOf(std::uint16_t dataType, const char* name = "Value", const char* objectName = "Object")
{
    eds::Entry entry;
    entry.index = 0x2000;
    entry.dataType = dataType;
    entry.name = name;
    entry.objectName = objectName;
    return entry;
}

// --- How a value reads ---------------------------------------------------------------

struct FormatCase {
    const char* name;
    std::uint16_t dataType;
    std::vector<std::uint8_t> data;
    std::string shown;
};

class EntryValueText : public ::testing::TestWithParam<FormatCase> {};

TEST_P(EntryValueText, ShowsTheValueInItsTypesForm)
{
    const FormatCase& c = GetParam();
    EXPECT_EQ(FormatEntryData(EntryOf(c.dataType), c.data.data(), c.data.size()), c.shown);
}

INSTANTIATE_TEST_SUITE_P(
    Types, EntryValueText,
    ::testing::Values(
        FormatCase{"Unsigned8", eds::kTypeUnsigned8, {0x1F}, "0x1F (31)"},
        FormatCase{"Unsigned16", eds::kTypeUnsigned16, {0x34, 0x12}, "0x1234 (4660)"},
        FormatCase{"Unsigned24", eds::kTypeUnsigned24, {0x01, 0x00, 0x80}, "0x800001 (8388609)"},
        FormatCase{"Unsigned32Highest", eds::kTypeUnsigned32, {0xFF, 0xFF, 0xFF, 0xFF}, "0xFFFFFFFF (4294967295)"},
        FormatCase{"Boolean", eds::kTypeBoolean, {0x01}, "0x01 (1)"},
        FormatCase{"Integer8Negative", eds::kTypeInteger8, {0x80}, "0x80 (-128)"},
        FormatCase{"Integer16Negative", eds::kTypeInteger16, {0xFE, 0xFF}, "0xFFFE (-2)"},
        FormatCase{"Integer24Negative", eds::kTypeInteger24, {0xFF, 0xFF, 0xFF}, "0xFFFFFF (-1)"},
        FormatCase{"Integer32Positive", eds::kTypeInteger32, {0x10, 0x00, 0x00, 0x00}, "0x00000010 (16)"},
        FormatCase{"Integer64Lowest",
                   eds::kTypeInteger64,
                   {0, 0, 0, 0, 0, 0, 0, 0x80},
                   "0x8000000000000000 (-9223372036854775808)"},
        FormatCase{"Real32", eds::kTypeReal32, {0x00, 0x00, 0xC0, 0x3F}, "1.5"},
        FormatCase{"Real32Negative", eds::kTypeReal32, {0x00, 0x00, 0x20, 0xC1}, "-10"},
        FormatCase{"VisibleString", eds::kTypeVisibleString, {'S', 'i', 'm', 'I', 'O'}, "SimIO"},
        FormatCase{"VisibleStringEndsAtItsTerminator", eds::kTypeVisibleString, {'A', 'B', 0, 'C'}, "AB"},
        FormatCase{"VisibleStringControlAndLatin1", eds::kTypeVisibleString, {'a', 0x0A, 0xE4}, "a?\xC3\xA4"},
        FormatCase{"UnicodeString", eds::kTypeUnicodeString, {0xC4, 0x00, 'x', 0x00}, "\xC3\x84x"},
        FormatCase{"UnicodeStringOddByteLeftOut", eds::kTypeUnicodeString, {'x', 0x00, 'y'}, "x"},
        FormatCase{"OctetString", eds::kTypeOctetString, {0x01, 0x02, 0x0A}, "01 02 0A"},
        FormatCase{"Domain", eds::kTypeDomain, {0xDE, 0xAD}, "DE AD"},
        FormatCase{"EmptyDomain", eds::kTypeDomain, {}, ""},
        // A slave that answers with another length than its type has: the bytes as they came.
        FormatCase{"Unsigned32ShortAnswer", eds::kTypeUnsigned32, {0x01, 0x02}, "01 02"},
        FormatCase{"Unsigned8LongAnswer", eds::kTypeUnsigned8, {0x01, 0x02}, "01 02"}),
    [](const ::testing::TestParamInfo<FormatCase>& c) { return std::string(c.param.name); });

TEST(EntryLimitText, BoundsReadAsPlainNumbersOfTheType)
{
    EXPECT_EQ(FormatEntryNumber(EntryOf(eds::kTypeInteger16), {0x18, 0xFC}), "-1000");
    EXPECT_EQ(FormatEntryNumber(EntryOf(eds::kTypeUnsigned16), {0x18, 0xFC}), "64536");
    EXPECT_EQ(FormatEntryNumber(EntryOf(eds::kTypeUnsigned8), {}), "") << "no bound";
}

// --- The filter ------------------------------------------------------------------------

struct FilterCase {
    const char* filter;
    std::uint16_t index;
    std::uint8_t subIndex;
    bool taken;
};

TEST(EntryFilter, TakesNamePartsAndIndexesAsTheOperatorTypesThem)
{
    const FilterCase cases[] = {
        {"", 0x1018, 2, true},           {"   ", 0x1018, 2, true},
        {"product", 0x1018, 2, true},   // the entry's name, letter case aside
        {"IDENTITY", 0x1018, 2, true},  // the object's name
        {"vendor", 0x1018, 2, false},    {"1018", 0x1018, 2, true},
        {"0x1018", 0x1018, 2, true},     {"1018", 0x1019, 2, false},
        {"10", 0x1018, 2, true},  // typed so far: every 0x10xx
        {"10", 0x2010, 2, false},        {"1018sub2", 0x1018, 2, true},
        {"1018 SUB 2", 0x1018, 2, true}, {"0x1018sub0x2", 0x1018, 2, true},
        {"1018sub2", 0x1018, 3, false},  {"1018sub", 0x1018, 2, false},
        {"1018sub2x", 0x1018, 2, false}, {"10180", 0x1018, 2, false},  // five digits are no index
        {" 1018 ", 0x1018, 2, true},
    };
    for (const FilterCase& c : cases) {
        eds::Entry entry = EntryOf(eds::kTypeUnsigned32, "Product code", "Identity object");
        entry.index = c.index;
        entry.subIndex = c.subIndex;
        EXPECT_EQ(EntryMatchesFilter(entry, c.filter), c.taken)
            << '"' << c.filter << "\" on " << std::hex << c.index << "sub" << int{c.subIndex};
    }
}

TEST(EntryPresets, EveryDataTypeGetsTheDialogFormatAndWidthOfItsValue)
{
    struct Case {
        std::uint16_t dataType;
        DataFormat format;
        std::uint32_t count;
    };
    const Case cases[] = {
        {eds::kTypeBoolean, FormatUnsigned, 1},    {eds::kTypeUnsigned8, FormatUnsigned, 1},
        {eds::kTypeUnsigned16, FormatUnsigned, 2}, {eds::kTypeUnsigned24, FormatUnsigned, 3},
        {eds::kTypeUnsigned32, FormatUnsigned, 4}, {eds::kTypeInteger8, FormatSigned, 1},
        {eds::kTypeInteger16, FormatSigned, 2},    {eds::kTypeInteger24, FormatSigned, 3},
        {eds::kTypeInteger32, FormatSigned, 4},    {eds::kTypeReal32, FormatFloat, 4},
        {eds::kTypeVisibleString, FormatRaw, 0},   {eds::kTypeOctetString, FormatRaw, 0},
        {eds::kTypeUnicodeString, FormatRaw, 0},   {eds::kTypeDomain, FormatRaw, 0},
        {eds::kTypeUnsigned64, FormatRaw, 0},      {eds::kTypeReal64, FormatRaw, 0},
    };
    for (const Case& c : cases) {
        const EntryPreset preset = PresetForType(c.dataType);
        EXPECT_EQ(preset.format, c.format) << c.dataType;
        EXPECT_EQ(preset.count, c.count) << c.dataType;
    }
}

// --- Files and the bus -------------------------------------------------------------------

class DictionaryTest : public MasterTest {
protected:
    std::string folder;
    std::string ioModule;

    void SetUp() override
    {
        MasterTest::SetUp();
        char pattern[] = "/tmp/velomar-eds-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder = pattern;
        ioModule = ReadSource("simbus/eds/io_module.eds");
        // Edited below line by line; the reader takes either line end.
        std::erase(ioModule, '\r');
        ASSERT_FALSE(ioModule.empty());
        side.messagesWaiting = 100000;
        appSettings.CurrAdr = static_cast<std::int32_t>(kNode);
    }

    void TearDown() override
    {
        for (const char* name : {"a_broken.eds", "b_same_type.eds", "c_io.eds", "d_io.dcf", "notes.txt", "picked.eds"})
            std::remove((folder + "/" + name).c_str());
        rmdir(folder.c_str());
        MasterTest::TearDown();
    }

    std::string In(const char* name) const { return folder + "/" + name; }

    // The I/O module's file beside a broken file and one that only shares its device type.
    void WriteFolder()
    {
        WriteTextFile(
            In("a_broken.eds"),
            "[DeviceInfo]\nVendorNumber=0x00000F0A\nProductNumber=0x401\n[MandatoryObjects]\nSupportedObjects=0x\n");
        WriteTextFile(In("b_same_type.eds"),
                      Replaced(ioModule, "ProductNumber=0x00000401", "ProductNumber=0x00000999"));
        WriteTextFile(In("c_io.eds"), ioModule);
        WriteTextFile(In("notes.txt"), ioModule);
    }

    // Opens the dictionary of node 3 from the I/O module's own file.
    void OpenIoModule()
    {
        WriteTextFile(In("c_io.eds"), ioModule);
        ASSERT_EQ(OpenSlaveDictionary(TestOwner(), folder.c_str()), 1);
        ASSERT_EQ(objectDictionary.source, EdsSource::Identity);
        side.events.clear();
    }

    static std::size_t Position(std::uint16_t index, std::uint8_t subIndex)
    {
        const std::vector<eds::Entry>& entries = objectDictionary.device.entries;
        for (std::size_t i = 0; i < entries.size(); ++i)
            if (entries[i].index == index && entries[i].subIndex == subIndex)
                return i;
        ADD_FAILURE() << "no entry " << std::hex << index << "sub" << int{subIndex};
        return 0;
    }
};

TEST_F(DictionaryTest, TheIdentityIsReadOverABusOpenedForItWhileCommunicationIsOff)
{
    const SimCounters before = bus.Counters();
    SlaveIdentity identity;
    EXPECT_EQ(ReadSlaveIdentity(TestOwner(), kNode, identity), 1);
    EXPECT_TRUE(identity.hasVendorNumber && identity.hasProductNumber && identity.hasDeviceType);
    EXPECT_EQ(identity.vendorNumber, 0xF0Au);
    EXPECT_EQ(identity.productNumber, 0x401u);
    EXPECT_EQ(identity.deviceType, bus.ObjectU32(kNode, 0x1000, 0));
    EXPECT_EQ(DriverLoaded(), 0) << "closed again";
    EXPECT_EQ(bus.Counters().inits, before.inits + 1) << "opened once";

    // A silent slave: one message, the bus closed all the same, nothing known.
    side.events.clear();
    bus.setNodeMode(kNode, kSimNodeSilent, 0);
    EXPECT_EQ(ReadSlaveIdentity(TestOwner(), kNode, identity), 0);
    EXPECT_FALSE(identity.hasVendorNumber || identity.hasDeviceType);
    EXPECT_EQ(side.Count("message 1008"), 1u);
    EXPECT_EQ(DriverLoaded(), 0);
}

TEST_F(DictionaryTest, WithCommunicationOnTheIdentityUsesTheOpenBusAndItsFailureRule)
{
    StartConfirmed();
    const SimCounters before = bus.Counters();
    SlaveIdentity identity;
    EXPECT_EQ(ReadSlaveIdentity(TestOwner(), kNode, identity), 1);
    EXPECT_EQ(identity.productNumber, 0x401u);
    EXPECT_EQ(bus.Counters().inits, before.inits) << "no second open";
    EXPECT_EQ(DriverLoaded(), 1);
    EXPECT_EQ(commState.active, 1u);

    side.events.clear();
    bus.setNodeMode(kNode, kSimNodeSilent, 0);
    side.answers = {AnswerCancel};
    EXPECT_EQ(ReadSlaveIdentity(TestOwner(), kNode, identity), 0);
    EXPECT_EQ(side.Count("ask retry 1008"), 1u);
    EXPECT_EQ(side.Count("message 1008"), 0u);
    EXPECT_EQ(commState.active, 0u) << "Cancel stopped communication";
}

TEST_F(DictionaryTest, TheFileIsFoundByIdentityThenByDeviceType)
{
    WriteFolder();
    SlaveIdentity identity;
    identity.vendorNumber = 0xF0A;
    identity.productNumber = 0x401;
    identity.deviceType = bus.ObjectU32(kNode, 0x1000, 0);
    identity.hasVendorNumber = identity.hasProductNumber = identity.hasDeviceType = true;
    std::string path;
    eds::Device device;
    // b_same_type.eds comes first by name and matches the device type; the identity wins.
    EXPECT_EQ(FindEdsFile(folder.c_str(), identity, kNode, path, device), EdsSource::Identity);
    EXPECT_EQ(path, In("c_io.eds"));
    EXPECT_EQ(device.info.productNumber, 0x401u);

    identity.productNumber = 0x402;
    EXPECT_EQ(FindEdsFile(folder.c_str(), identity, kNode, path, device), EdsSource::DeviceType);
    EXPECT_EQ(path, In("b_same_type.eds"));

    // A DCF is looked at like an EDS; names sort, so c_io.eds still comes first.
    WriteTextFile(In("d_io.dcf"), ioModule);
    identity.productNumber = 0x401;
    EXPECT_EQ(FindEdsFile(folder.c_str(), identity, kNode, path, device), EdsSource::Identity);
    EXPECT_EQ(path, In("c_io.eds"));
    std::remove(In("c_io.eds").c_str());
    EXPECT_EQ(FindEdsFile(folder.c_str(), identity, kNode, path, device), EdsSource::Identity);
    EXPECT_EQ(path, In("d_io.dcf"));

    identity.deviceType ^= 1;
    identity.productNumber = 0x402;
    EXPECT_EQ(FindEdsFile(folder.c_str(), identity, kNode, path, device), EdsSource::None);
    EXPECT_EQ(FindEdsFile((folder + "/missing").c_str(), identity, kNode, path, device), EdsSource::None);
}

TEST_F(DictionaryTest, WithoutAMatchTheRememberedFileElseThePickedOneIsShownAndRemembered)
{
    // No slave answers, so nothing matches.
    bus.setNodeMode(kNode, kSimNodeSilent, 0);
    WriteTextFile(In("picked.eds"), ioModule);
    side.rememberedFile = In("picked.eds");
    EXPECT_EQ(OpenSlaveDictionary(TestOwner(), folder.c_str()), 1);
    EXPECT_EQ(objectDictionary.source, EdsSource::Remembered);
    EXPECT_EQ(objectDictionary.path, In("picked.eds"));
    EXPECT_EQ(side.Count("pick"), 0u);

    // Nothing remembered: the operator picks, and the choice is remembered for the node.
    side.events.clear();
    side.rememberedFile.clear();
    side.pickedFile = In("picked.eds");
    EXPECT_EQ(OpenSlaveDictionary(TestOwner(), folder.c_str()), 1);
    EXPECT_EQ(objectDictionary.source, EdsSource::Picked);
    EXPECT_EQ(side.Count("remember 3 " + In("picked.eds")), 1u);
    EXPECT_EQ(objectDictionary.values.size(), objectDictionary.device.entries.size());

    // A remembered file that is gone is said so, then the operator picks; a picked file
    // that cannot be read is said so and nothing is shown or remembered.
    side.events.clear();
    side.rememberedFile = In("gone.eds");
    WriteFolder();
    side.pickedFile = In("a_broken.eds");
    EXPECT_EQ(OpenSlaveDictionary(TestOwner(), folder.c_str()), 0);
    EXPECT_EQ(side.Count("warning 1042"), 2u);
    ASSERT_EQ(side.arguments.size(), 2u);
    EXPECT_EQ(side.arguments[0], std::wstring(side.rememberedFile.begin(), side.rememberedFile.end()))
        << "a file that cannot be opened is named by its path";
    EXPECT_EQ(side.arguments[1].rfind(L"a_broken.eds: ", 0), 0u) << "the reader's error line, after the file's name";
    EXPECT_GT(side.arguments[1].size(), std::wstring(L"a_broken.eds: ").size());
    EXPECT_EQ(side.Count("remember"), 0u);
    EXPECT_TRUE(objectDictionary.path.empty());
    EXPECT_TRUE(objectDictionary.device.entries.empty());
}

TEST_F(DictionaryTest, ReadAllReadsEveryReadableEntryAndClosesTheBusItOpened)
{
    OpenIoModule();
    const std::uint32_t total = ReadableEntryCount();
    ASSERT_GT(total, 20u);
    const ReadAllOutcome outcome = ReadAllEntries(TestOwner());
    EXPECT_TRUE(outcome.completed);
    EXPECT_EQ(outcome.read, total);
    EXPECT_EQ(outcome.total, total);
    EXPECT_EQ(side.Count("entry"), total) << "each entry reported";
    EXPECT_EQ(side.messagesPassed, static_cast<int>(total)) << "one window message passed on per entry";
    EXPECT_EQ(DriverLoaded(), 0);
    EXPECT_EQ(dictionaryBusy, 0);
    EXPECT_EQ(side.Count("message"), 0u) << "no message box";

    const std::size_t name = Position(0x1008, 0);
    EXPECT_EQ(objectDictionary.values[name].state, ValueState::Read);
    const std::vector<std::uint8_t>& text = objectDictionary.values[name].data;
    EXPECT_EQ(std::string(text.begin(), text.end()), "SimIO 8DI 8DO 2AI 2AO");
    const std::size_t type = Position(0x1000, 0);
    EXPECT_EQ(FormatEntryData(objectDictionary.device.entries[type], objectDictionary.values[type].data.data(),
                              objectDictionary.values[type].data.size()),
              [this] {
                  char expected[32];
                  const std::uint32_t value = bus.ObjectU32(kNode, 0x1000, 0);
                  std::snprintf(expected, sizeof expected, "0x%08X (%u)", value, value);
                  return std::string(expected);
              }());
}

TEST_F(DictionaryTest, ReadAllShowsAnAbortInTheEntryAndGoesOn)
{
    // An object the file lists and the slave does not have.
    ioModule = Replaced(ioModule, "27=0x6411\n", "27=0x6411\n28=0x2FFF\n");
    ioModule = Replaced(ioModule, "SupportedObjects=27", "SupportedObjects=28");
    ioModule +=
        "\n[2FFF]\nParameterName=Not on the slave\nObjectType=0x7\nDataType=0x0007\nAccessType=ro\nDefaultValue=0\n";
    OpenIoModule();
    const ReadAllOutcome outcome = ReadAllEntries(TestOwner());
    EXPECT_TRUE(outcome.completed);
    const EntryValue& missing = objectDictionary.values[Position(0x2FFF, 0)];
    EXPECT_EQ(missing.state, ValueState::Aborted);
    EXPECT_EQ(missing.abortCode, 0x06020000u);
    EXPECT_EQ(objectDictionary.values[Position(0x6000, 1)].state, ValueState::Read) << "the next entry is read";
    EXPECT_EQ(side.Count("message") + side.Count("notice"), 0u) << "no message box per abort";
}

TEST_F(DictionaryTest, AbortStopsBeforeTheNextEntry)
{
    OpenIoModule();
    int reports = 0;
    side.onDictionaryEntry = [&reports] {
        if (++reports == 3)
            dictionaryAbort = 1;
    };
    const ReadAllOutcome outcome = ReadAllEntries(TestOwner());
    EXPECT_FALSE(outcome.completed);
    EXPECT_EQ(outcome.read, 3u);
    EXPECT_EQ(reports, 3);
    std::size_t untouched = 0;
    for (const EntryValue& value : objectDictionary.values)
        untouched += value.state == ValueState::NotRead ? 1 : 0;
    EXPECT_EQ(untouched, objectDictionary.values.size() - 3);
    EXPECT_EQ(DriverLoaded(), 0);
}

TEST_F(DictionaryTest, ASilentSlaveEndsReadAllWithOneMessageWhileCommunicationIsOff)
{
    OpenIoModule();
    bus.setNodeMode(kNode, kSimNodeSilent, 0);
    const ReadAllOutcome outcome = ReadAllEntries(TestOwner());
    EXPECT_FALSE(outcome.completed);
    EXPECT_EQ(outcome.read, 1u);
    EXPECT_EQ(Shown(side.events), (Events{"message 1008", "entry 0 1/" + std::to_string(outcome.total)}));
    EXPECT_EQ(objectDictionary.values[0].state, ValueState::NoAnswer);
    EXPECT_EQ(DriverLoaded(), 0);
}

TEST_F(DictionaryTest, WithCommunicationOnReadAllKeepsTheBusAndStopsWhenTheFailureRuleStops)
{
    OpenIoModule();
    StartConfirmed();
    const SimCounters before = bus.Counters();
    ReadAllOutcome outcome = ReadAllEntries(TestOwner());
    EXPECT_TRUE(outcome.completed);
    EXPECT_EQ(bus.Counters().inits, before.inits);
    EXPECT_EQ(DriverLoaded(), 1) << "communication keeps its bus";
    EXPECT_EQ(ActivePump, MessageHook) << "the exchange still passes messages on";

    // Retry restarts, and the reads go on; Cancel stops communication and Read All.
    side.events.clear();
    int reports = 0;
    side.onDictionaryEntry = [this, &reports] {
        if (++reports == 2)
            bus.setNodeMode(kNode, kSimNodeSilent, 0);
    };
    side.answers = {AnswerCancel};
    outcome = ReadAllEntries(TestOwner());
    EXPECT_FALSE(outcome.completed);
    EXPECT_EQ(outcome.read, 3u);
    EXPECT_EQ(side.Count("ask retry 1008"), 1u);
    EXPECT_EQ(side.Count("message 1008"), 0u);
    EXPECT_EQ(commState.active, 0u);
    EXPECT_EQ(DriverLoaded(), 0);
    EXPECT_EQ(ActivePump, nullptr);
}

TEST_F(DictionaryTest, ObjectRequestsAndDeferredCommandsWaitForTheEndOfReadAll)
{
    OpenIoModule();
    ObjectRequest& request = processImage->request;
    side.onDictionaryEntry = [&request] {
        if (request.pending == 0 && request.index == 0) {
            request.index = 0x1000;
            request.direction = 0;
            request.pending = 1;
            commState.DeferredCommand = DeferredOpenWrite;
        }
    };
    const ReadAllOutcome outcome = ReadAllEntries(TestOwner());
    EXPECT_TRUE(outcome.completed);
    EXPECT_EQ(request.pending, 1u) << "the nested idle cycles left it waiting";
    EXPECT_EQ(side.Count("open write"), 0u);
    EXPECT_EQ(side.Count("read "), 0u);
    RunIdleCycle();
    EXPECT_EQ(side.Count("open write"), 1u);
    EXPECT_EQ(side.Count("read 4"), 1u);
    EXPECT_EQ(request.pending, 0u);
}

TEST_F(DictionaryTest, TheDeferredCommandOpensTheWindowOnce)
{
    commState.DeferredCommand = DeferredOpenDictionary;
    RunIdleCycle();
    RunIdleCycle();
    EXPECT_EQ(side.Count("open dictionary"), 1u);
    EXPECT_EQ(commState.DeferredCommand, DeferredNone);
}

// The Object Dictionary window stays reachable while a search passes messages on: its
// Read All and a deferred F5 must leave the search's bus alone, and the window opens
// once the search is over.
TEST_F(DictionaryTest, ASearchKeepsItsBusWhileReadAllAndTheWindowAreTriedDuringIt)
{
    OpenIoModule();
    SimCounters before = bus.Counters();
    ASSERT_EQ(ScanSlaves(TestOwner()), 1);
    const std::array<std::uint8_t, 128> alone = SlaveScanTable;
    ASSERT_EQ(alone[3], ScanAnswered);
    ASSERT_EQ(bus.Counters().inits - before.inits, 1u);
    const std::uint32_t closesAlone = bus.Counters().closes - before.closes;

    before = bus.Counters();
    side.onOpenDictionary = [this] { OpenSlaveDictionary(TestOwner(), folder.c_str()); };
    ReadAllOutcome during;
    int reports = 0;
    side.onSearchProgress = [&during, &reports] {
        if (++reports == 2) {  // before nodes 3 and 5
            during = ReadAllEntries(TestOwner());
            commState.DeferredCommand = DeferredOpenDictionary;
        }
    };
    ASSERT_EQ(ScanSlaves(TestOwner()), 1);
    EXPECT_EQ(SlaveScanTable, alone) << "the same nodes as a search alone";
    EXPECT_EQ(bus.Counters().inits - before.inits, 1u) << "the bus opened once, for the search";
    EXPECT_EQ(bus.Counters().closes - before.closes, closesAlone);
    EXPECT_EQ(during.read, 0u);
    EXPECT_FALSE(during.completed);
    EXPECT_EQ(side.Count("open dictionary"), 0u);
    EXPECT_EQ(commState.DeferredCommand, DeferredOpenDictionary) << "F5 waits for the end of the search";

    side.onSearchProgress = nullptr;
    RunIdleCycle();
    EXPECT_EQ(side.Count("open dictionary"), 1u);
    EXPECT_EQ(commState.DeferredCommand, DeferredNone);
    EXPECT_EQ(objectDictionary.source, EdsSource::Identity);
}

// With communication on, Read All gives the exchange back its own message passing: on
// as the start left it, or off after a restart (until the next start).
TEST_F(DictionaryTest, ReadAllLeavesTheExchangesMessagePassingAsARestartLeftIt)
{
    OpenIoModule();
    StartConfirmed();
    ASSERT_EQ(ActivePump, MessageHook);

    // A restart before Read All: the exchange passes nothing on, and still not after it.
    side.answers = {AnswerRetry};
    ASSERT_EQ(CheckCommFailure(TestOwner(), SdoResult{1, 0, 0}), 1);
    ASSERT_EQ(ActivePump, nullptr);
    EXPECT_TRUE(ReadAllEntries(TestOwner()).completed);
    EXPECT_EQ(ActivePump, nullptr);

    // A restart during Read All: off at the end, though the reads went on passing
    // messages (for Abort).
    StopCommunication(TestOwner());
    bus.setNodeMode(kNode, kSimNodeNormal, 0);
    StartConfirmed();
    int reports = 0;
    side.onDictionaryEntry = [this, &reports] {
        if (++reports == 2)
            bus.setNodeMode(kNode, kSimNodeSilent, 0);
    };
    // The slave is back by the time the operator answers Retry.
    side.onQuestion = [this] { bus.setNodeMode(kNode, kSimNodeNormal, 0); };
    side.answers = {AnswerRetry};
    side.messagesPassed = 0;
    const ReadAllOutcome outcome = ReadAllEntries(TestOwner());
    EXPECT_TRUE(outcome.completed);
    EXPECT_EQ(commState.active, 1u);
    EXPECT_EQ(side.messagesPassed, static_cast<int>(outcome.total)) << "one message passed on per entry";
    EXPECT_EQ(ActivePump, nullptr);
}

}  // namespace

TEST(WideFromUtf8, TakesEverySequenceLengthAndMarksWhatIsNotUtf8)
{
    EXPECT_EQ(WideFromUtf8("Ger\xC3\xA4t 20\xE2\x82\xAC"), L"Ger\u00E4t 20\u20AC");
    const std::wstring face = WideFromUtf8("\xF0\x9F\x98\x80");
    if constexpr (sizeof(wchar_t) == 2)
        EXPECT_EQ(face, (std::wstring{wchar_t(0xD83D), wchar_t(0xDE00)}));
    else
        EXPECT_EQ(face, std::wstring(1, wchar_t(0x1F600)));
    // A stray continuation byte, a lead byte cut short, an overlong form's lead.
    EXPECT_EQ(WideFromUtf8("a\x80"
                           "b"),
              L"a\uFFFDb");
    EXPECT_EQ(WideFromUtf8("a\xE2\x82"), L"a\uFFFD\uFFFD");
    EXPECT_EQ(WideFromUtf8("\xC0\xAF"), L"\uFFFD\uFFFD");
}
