// A configuration as a whole against the I/O module (node 3) of the simulated bus: saved
// as a DCF, downloaded back with the PDOs remapped in the device's sequence and verified;
// an entry the device refuses; communication active; Abort; store over a power cycle and
// restore; the abort codes' words.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "abort_codes.h"
#include "comm_state.h"
#include "configuration.h"
#include "dcf_writer.h"
#include "driver.h"
#include "master_test_support.h"
#include "message_texts.h"
#include "resource.h"
#include "settings_values.h"
#include "slave_dictionary.h"

namespace {

constexpr std::uint32_t kNode = 3;

class ConfigurationTest : public MasterTest {
protected:
    std::string folder;

    void SetUp() override
    {
        MasterTest::SetUp();
        char pattern[] = "/tmp/velomar-dcf-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder = pattern;
        side.messagesWaiting = 1000000;
        appSettings.CurrAdr = static_cast<std::int32_t>(kNode);
        WriteTextFile(In("io.eds"), ReadSource("simbus/eds/io_module.eds"));
        ASSERT_EQ(OpenSlaveDictionary(TestOwner(), folder.c_str()), 1);
        ASSERT_EQ(objectDictionary.source, EdsSource::Identity);
        ResetConfigDownload();
        side.events.clear();
    }

    void TearDown() override
    {
        for (const char* name : {"io.eds", "saved.dcf", "edited.dcf"})
            std::remove(In(name).c_str());
        rmdir(folder.c_str());
        MasterTest::TearDown();
    }

    std::string In(const char* name) const { return folder + "/" + name; }

    void SetU32(std::uint16_t index, std::uint8_t sub, std::uint32_t value)
    {
        const std::uint8_t data[4] = {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                                      static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
        ASSERT_EQ(bus.setObject(kNode, index, sub, data, 4), 0u);
    }

    void SetU16(std::uint16_t index, std::uint8_t sub, std::uint16_t value)
    {
        const std::uint8_t data[2] = {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8)};
        ASSERT_EQ(bus.setObject(kNode, index, sub, data, 2), 0u);
    }

    void SetU8(std::uint16_t index, std::uint8_t sub, std::uint8_t value)
    {
        ASSERT_EQ(bus.setObject(kNode, index, sub, &value, 1), 0u);
    }

    std::uint32_t U32(std::uint16_t index, std::uint8_t sub) { return bus.ObjectU32(kNode, index, sub); }

    // The SDO downloads the master sent since the last call, as "1A00sub0=00".
    std::vector<std::string> Downloads()
    {
        std::vector<std::string> writes;
        for (const std::string& frame : Sent()) {
            unsigned id = 0, length = 0, b[8] = {};
            if (std::sscanf(frame.c_str(), "%x %u: %x %x %x %x %x %x %x %x", &id, &length, &b[0], &b[1], &b[2], &b[3],
                            &b[4], &b[5], &b[6], &b[7]) != 10 ||
                id != 0x600 + kNode || (b[0] & 0xE0) != 0x20)
                continue;
            const unsigned size = (b[0] & 0x02) != 0 ? 4 - ((b[0] >> 2) & 3) : 4;
            char text[40];
            int at = std::snprintf(text, sizeof text, "%02X%02Xsub%X=", b[2], b[1], b[3]);
            for (unsigned i = size; i > 0; --i)
                at += std::snprintf(text + at, sizeof text - static_cast<std::size_t>(at), "%02X", b[3 + i]);
            writes.push_back(text);
        }
        return writes;
    }

    const DownloadRow* Row(std::uint16_t index, std::uint8_t sub) const
    {
        for (const DownloadRow& row : configDownload.rows)
            if (row.index == index && row.subIndex == sub)
                return &row;
        return nullptr;
    }
};

TEST_F(ConfigurationTest, ASavedDcfDownloadedIntoTheChangedDeviceBringsItBackInTheRemappingSequence)
{
    const std::uint32_t heartbeat = U32(0x1017, 0) & 0xFFFF;
    const std::uint32_t cobId = U32(0x1800, 1);
    const std::uint32_t mapped1 = U32(0x1A00, 1);

    const SaveOutcome saved = SaveSlaveDcf(TestOwner(), In("saved.dcf").c_str());
    ASSERT_TRUE(saved.saved);
    EXPECT_GT(saved.values, 100u);
    EXPECT_EQ(DriverLoaded(), 0) << "the bus opened for the reads is closed again";

    // The file reads back as a DCF of node 3 whose values are the device's.
    eds::Device file;
    std::string error;
    ASSERT_EQ(ReadEdsFile(In("saved.dcf").c_str(), 3, file, error), 1) << error;
    std::size_t configured = 0;
    for (std::size_t i = 0; i < file.entries.size(); ++i) {
        if (objectDictionary.values[i].state != ValueState::Read || file.entries[i].dataType == eds::kTypeDomain)
            continue;
        EXPECT_TRUE(file.entries[i].fromParameterValue) << std::hex << file.entries[i].index;
        EXPECT_EQ(file.entries[i].defaultValue, objectDictionary.values[i].data) << std::hex << file.entries[i].index;
        ++configured;
    }
    EXPECT_EQ(configured, saved.values);
    // Saved again with every value known: nothing is read, and no bus opened for it.
    const std::uint32_t inits = bus.Counters().inits;
    const SaveOutcome again = SaveSlaveDcf(TestOwner(), In("again.dcf").c_str());
    EXPECT_TRUE(again.saved);
    EXPECT_EQ(again.values, saved.values);
    EXPECT_EQ(bus.Counters().inits, inits);

    // Two objects and a mapping change, as on the next device of the series.
    SetU16(0x1017, 0, 700);
    SetU8(0x6200, 1, 0x5A);
    SetU8(0x1A00, 0, 0);
    SetU32(0x1A00, 1, 0x60000208);
    SetU8(0x1A00, 0, 1);

    ASSERT_EQ(LoadDownloadFile(TestOwner(), In("saved.dcf").c_str()), 1);
    ASSERT_FALSE(configDownload.rows.empty());
    EXPECT_EQ(Row(0x1010, 1), nullptr) << "store, restore and the error history are left alone";
    EXPECT_EQ(Row(0x1003, 0), nullptr);
    EXPECT_EQ(Row(0x1000, 0), nullptr) << "read-only entries are not written";
    ASSERT_EQ(CompareWithDevice(TestOwner()), 1);
    std::set<std::uint16_t> pending;
    for (const DownloadRow& row : configDownload.rows)
        if (row.state == RowState::Pending)
            pending.insert(row.index);
    EXPECT_EQ(pending, (std::set<std::uint16_t>{0x1017, 0x1800, 0x1A00, 0x6200}))
        << "the changed objects and the whole of the remapped PDO";

    side.answers = {AnswerOk};
    Sent();
    const DownloadOutcome outcome = RunDownload(TestOwner());
    EXPECT_TRUE(outcome.started);
    EXPECT_TRUE(outcome.completed);
    EXPECT_EQ(outcome.failed, 0u) << FailedRowList(10);
    EXPECT_EQ(side.Count("ask ok-cancel " + std::to_string(IDS_DCF_CONFIRM)), 1u);
    EXPECT_EQ(DriverLoaded(), 0);
    EXPECT_EQ(U32(0x1017, 0) & 0xFFFF, heartbeat);
    EXPECT_EQ(U32(0x6200, 1) & 0xFF, 0u);
    EXPECT_EQ(U32(0x1A00, 0) & 0xFF, 2u);
    EXPECT_EQ(U32(0x1A00, 1), mapped1);
    EXPECT_EQ(U32(0x1800, 1), cobId);

    // The PDO first, in the device's sequence, then the others by index.
    char invalid[32], valid[32];
    std::snprintf(invalid, sizeof invalid, "1800sub1=%08X", cobId | 0x80000000u);
    std::snprintf(valid, sizeof valid, "1800sub1=%08X", cobId);
    const std::vector<std::string> writes = Downloads();
    ASSERT_GE(writes.size(), 6u);
    EXPECT_EQ(writes.front(), invalid);
    const auto at = [&writes](const std::string& write) {
        return std::find(writes.begin(), writes.end(), write) - writes.begin();
    };
    EXPECT_LT(at("1A00sub0=00"), at("1A00sub1=" + [&] {
                  char text[16];
                  std::snprintf(text, sizeof text, "%08X", mapped1);
                  return std::string(text);
              }()));
    EXPECT_LT(at("1A00sub0=02"), at(valid));
    EXPECT_LT(at(valid), at("1017sub0=" + [&] {
                  char text[8];
                  std::snprintf(text, sizeof text, "%04X", heartbeat);
                  return std::string(text);
              }()));
    EXPECT_GT(side.downloadRowsShown, 0);

    const VerifyOutcome verified = VerifyDownload(TestOwner());
    EXPECT_TRUE(verified.completed);
    EXPECT_EQ(verified.differing, 0u);
    EXPECT_EQ(verified.matching, outcome.written);
}

TEST_F(ConfigurationTest, AnEntryTheDeviceRefusesIsReportedInWordsAndTheOthersAreWritten)
{
    // The file says the device name may be written; the device says it is constant.
    WriteTextFile(In("edited.dcf"), IoModuleWithARefusedRow(ReadSource("simbus/eds/io_module.eds")));
    ASSERT_EQ(LoadDownloadFile(TestOwner(), In("edited.dcf").c_str()), 1);
    ASSERT_EQ(configDownload.rows.size(), 2u) << "only entries with a configured value";
    EXPECT_EQ(configDownload.rows[0].index, 0x1008) << "by index";

    configDownload.onlyChanged = false;
    side.answers = {AnswerOk};
    const DownloadOutcome outcome = RunDownload(TestOwner());
    EXPECT_EQ(outcome.written, 1u);
    EXPECT_EQ(outcome.failed, 1u);
    EXPECT_TRUE(outcome.completed);
    EXPECT_EQ(Row(0x1008, 0)->state, RowState::Failed);
    EXPECT_EQ(Row(0x1008, 0)->abortCode, 0x06010002u);
    EXPECT_EQ(Row(0x1017, 0)->state, RowState::Written);
    EXPECT_EQ(U32(0x1017, 0) & 0xFFFF, 350u);
    EXPECT_EQ(FailedRowList(5), "1008sub0");
    EXPECT_STREQ(AbortCodeInWords(0x06010002, TextLanguage::English).text,
                 "Abort 06010002h: Attempt to write a read-only object");
    EXPECT_STREQ(AbortCodeInWords(0x06010002, TextLanguage::German).text,
                 "Abbruch 06010002h: Schreiben eines nur lesbaren Objekts");

    // Verify reads the written entry back; the refused one stays as it was.
    const VerifyOutcome verified = VerifyDownload(TestOwner());
    EXPECT_EQ(verified.matching, 1u);
    EXPECT_EQ(Row(0x1008, 0)->state, RowState::Failed);
}

TEST_F(ConfigurationTest, PdoRowsWaitForCommunicationToStopAndAbortEndsTheDownload)
{
    ASSERT_TRUE(SaveSlaveDcf(TestOwner(), In("saved.dcf").c_str()).saved);
    SetU16(0x1017, 0, 700);
    SetU8(0x6200, 1, 0x11);
    SetU8(0x1800, 2, 0xFE);  // transmission type
    ASSERT_EQ(LoadDownloadFile(TestOwner(), In("saved.dcf").c_str()), 1);
    ASSERT_EQ(CompareWithDevice(TestOwner()), 1);

    StartConfirmed();
    ASSERT_EQ(commState.active, 1u);
    side.events.clear();
    side.answers = {AnswerCancel};
    DownloadOutcome outcome = RunDownload(TestOwner());
    EXPECT_FALSE(outcome.started) << "Cancel writes nothing";
    EXPECT_EQ(side.Count("ask ok-cancel " + std::to_string(IDS_DCF_PDO_STOP_COMM)), 1u);
    EXPECT_EQ(commState.active, 1u);
    EXPECT_EQ(U32(0x1017, 0), 700u);

    // OK stops communication. Abort at the PDO's first row still ends its sequence, so
    // the PDO is valid again; the rest stays unwritten.
    side.answers = {AnswerOk};
    side.onDownloadRow = [] { AbortDownload(); };
    outcome = RunDownload(TestOwner());
    EXPECT_TRUE(outcome.started);
    EXPECT_EQ(commState.active, 0u);
    EXPECT_FALSE(outcome.completed);
    EXPECT_EQ(outcome.failed, 0u);
    EXPECT_EQ(U32(0x1800, 2) & 0xFF, 0xFFu) << "the transmission type from the file";
    EXPECT_EQ(U32(0x1800, 1) & 0x80000000u, 0u) << "the PDO is valid again";
    EXPECT_EQ(Row(0x1800, 1)->state, RowState::Written);
    EXPECT_EQ(Row(0x1017, 0)->state, RowState::NotWritten);
    EXPECT_EQ(U32(0x1017, 0), 700u);
    EXPECT_EQ(DriverLoaded(), 0);
}

TEST_F(ConfigurationTest, StoredValuesOutliveAPowerCycleAndRestoredDefaultsComeBackAtTheReset)
{
    const StoreAbilities abilities = ReadStoreAbilities(TestOwner());
    ASSERT_TRUE(abilities.read);
    for (const AreaAbility& area : abilities.areas) {
        EXPECT_TRUE(area.storeOffered);
        EXPECT_EQ(area.storeBits, 1u) << "stores on command";
        EXPECT_TRUE(area.restoreOffered);
    }
    const std::uint32_t heartbeat = U32(0x1017, 0) & 0xFFFF;
    SetU16(0x1017, 0, 1234);

    SdoResult result = StoreConfiguration(TestOwner(), ConfigArea::All);
    EXPECT_EQ(result.failed + result.aborted, 0u);
    EXPECT_EQ(DriverLoaded(), 0);
    ASSERT_EQ(bus.bootNode(kNode), 0u);
    EXPECT_EQ(U32(0x1017, 0) & 0xFFFF, 1234u) << "kept over the power cycle";

    // Restore: asked, then the offered reset (and the reset's own question) confirmed.
    bool asked = false;
    side.answers = {AnswerCancel};
    result = RestoreConfiguration(TestOwner(), ConfigArea::All, L"all parameters", asked);
    EXPECT_FALSE(asked);
    side.answers = {AnswerOk, AnswerOk, AnswerOk};
    Sent();
    result = RestoreConfiguration(TestOwner(), ConfigArea::All, L"all parameters", asked);
    EXPECT_TRUE(asked);
    EXPECT_EQ(result.failed + result.aborted, 0u);
    EXPECT_EQ(side.Count("ask ok-cancel " + std::to_string(IDS_RESTORED_RESET)), 1u);
    EXPECT_EQ(U32(0x1017, 0) & 0xFFFF, heartbeat) << "the defaults are back after Reset Node";
    EXPECT_EQ(Downloads().front(), "1011sub1=64616F6C");

    // Store of the communication area only, then a wrong signature refused.
    SetU16(0x1017, 0, 77);
    result = StoreConfiguration(TestOwner(), ConfigArea::Communication);
    EXPECT_EQ(result.aborted, 0u);
    ASSERT_EQ(bus.bootNode(kNode), 0u);
    EXPECT_EQ(U32(0x1017, 0) & 0xFFFF, 77u);
}

TEST(AbortCodes, EveryNamedCodeHasWordsInBothLanguages)
{
    std::set<std::string> english, german;
    for (const std::uint32_t code : NamedAbortCodes()) {
        const std::uint32_t id = AbortCodeTextId(code);
        ASSERT_NE(id, static_cast<std::uint32_t>(IDS_ABORT_UNKNOWN)) << std::hex << code;
        const char* en = MessageText(id, TextLanguage::English);
        const char* de = MessageText(id, TextLanguage::German);
        ASSERT_NE(en, nullptr) << std::hex << code;
        ASSERT_NE(de, nullptr) << std::hex << code;
        EXPECT_TRUE(english.insert(en).second) << "twice: " << en;
        EXPECT_TRUE(german.insert(de).second) << "twice: " << de;
        EXPECT_STRNE(en, de) << std::hex << code;
    }
    EXPECT_EQ(english.size(), 31u);
    EXPECT_EQ(AbortCodeTextId(0x12345678), static_cast<std::uint32_t>(IDS_ABORT_UNKNOWN));
    EXPECT_STREQ(AbortCodeInWords(0x08000022, TextLanguage::English).text,
                 "Abort 08000022h: Data cannot be transferred or stored in the present device state");
    EXPECT_STREQ(AbortCodeInWords(0x12345678, TextLanguage::German).text, "Abbruch 12345678h: Unbekannter Abbruchcode");
}

}  // namespace
