// The master's engine against a CANopen slave of the independent implementation (npm
// package `canopen`, node 3 of the interop bed), through the network pcan_usb.dll that
// sits beside this executable and the bed's socketcand server.
//
// The bus is opened the program's way (LoadDriver("pcan_usb.dll"), CAN_Init) and pumped
// by a copy of the bus pump that also writes every frame the master sends and receives
// to master-frames.txt beside the executable, in the witness's format; the bed's script
// compares that file with the witness's recording afterwards.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bed_support.h"
#include "bus_pump.h"
#include "driver.h"
#include "node_table.h"
#include "pdo_slots.h"
#include "sdo_client.h"
#include "tick.h"

namespace {

constexpr std::uint32_t kNode = 3;
constexpr std::uint32_t kTimeoutMs = 1000;
std::FILE* frameLog = nullptr;
std::uint16_t control = 0;

void LogFrame(const CanFrame& frame)
{
    if (frameLog == nullptr)
        return;
    std::fprintf(frameLog, "%03X %u", static_cast<unsigned>(frame.id), static_cast<unsigned>(frame.length));
    for (std::uint32_t i = 0; i < frame.length && i < 8; ++i)
        std::fprintf(frameLog, " %02X", static_cast<unsigned>(frame.data[i]));
    std::fprintf(frameLog, "\n");
    std::fflush(frameLog);
}

int LoggingSend(const CanFrame& frame)
{
    const int sent = SendFrame(frame);
    if (sent)
        LogFrame(frame);
    return sent;
}

// The bus pump's step, with the received frame logged.
void Pump(NodeTable& table)
{
    DriverMsg msg;
    if (CAN_Read(&msg) == kDriverOk && (msg.msgType & kMsgStatus) == 0) {
        const CanFrame frame = MsgToFrame(msg);
        LogFrame(frame);
        RunEngineCycle(table, &frame);
    }
    RunEngineCycle(table, nullptr);
}

struct Result {
    std::uint8_t status = 1;
    std::uint32_t abortCode = 0;
    std::vector<std::uint8_t> data;
};

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

// Asks the slave until it gives `wanted` (at most 200 tries 10 ms apart), pumping the bus
// in between; the last answer.
std::string AwaitSlave(const std::string& command, const std::string& wanted)
{
    std::string answer;
    for (int i = 0; i < 200; ++i) {
        Pump(MasterNodeTable());
        answer = AskSlave(control, command);
        if (answer == wanted)
            break;
        Sleep(10);
    }
    return answer;
}

Result Upload(std::uint16_t index, std::uint8_t subIndex)
{
    NodeTable& table = MasterNodeTable();
    RequestUpload(kNode, kTimeoutMs, table, index, subIndex);
    return Finish(table);
}

Result Download(std::uint16_t index, std::uint8_t subIndex, const std::vector<std::uint8_t>& data,
                std::uint32_t timeoutMs = kTimeoutMs)
{
    NodeTable& table = MasterNodeTable();
    EXPECT_EQ(
        RequestDownload(kNode, timeoutMs, table, index, subIndex, data.data(), static_cast<std::uint32_t>(data.size())),
        1);
    return Finish(table);
}

std::vector<std::uint8_t> Text(const char* s)
{
    return std::vector<std::uint8_t>(s, s + std::strlen(s));
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

class InteropSmoke : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        control = BedPort("BED_CONTROL_3");
        frameLog = _wfopen((ExeFolder() + L"master-frames.txt").c_str(), L"wb");
        SetSendHook(LoggingSend);
        ClearNodeTable(MasterNodeTable());
        opened = LoadDriver("pcan_usb.dll") == 1 && CAN_Init(0x011C, 0) == kDriverOk;
        // As the bus open does: a short warm-up (here also the server's hold-back after raw mode).
        for (int i = 0; i < 20; ++i) {
            Pump(MasterNodeTable());
            Sleep(10);
        }
    }
    static void TearDownTestSuite()
    {
        CAN_Close();
        UnloadDriver();
        if (frameLog != nullptr)
            std::fclose(frameLog);
        frameLog = nullptr;
    }
    void SetUp() override
    {
        ASSERT_NE(control, 0) << "run through tests/interop/run-bed.sh";
        ASSERT_TRUE(opened) << "network pcan_usb.dll not loaded or not connected";
    }
    static bool opened;
};
bool InteropSmoke::opened = false;

}  // namespace

TEST_F(InteropSmoke, ExpeditedUploadWithoutSizeIndication)
{
    // The slave answers 0x42: expedited, size bit clear; the master takes all 4 bytes.
    const Result r = Upload(0x1000, 0);
    EXPECT_EQ(r.status, SdoCompleted);
    EXPECT_EQ(Hex(r.data), "91010F00");
}

TEST_F(InteropSmoke, SegmentedUploadsEndWithAnExtraEmptySegment)
{
    const Result name = Upload(0x1008, 0);
    EXPECT_EQ(name.status, SdoCompleted);
    EXPECT_EQ(std::string(name.data.begin(), name.data.end()), "Interop IO module");
    const Result text = Upload(0x2000, 0);
    EXPECT_EQ(text.status, SdoCompleted);
    EXPECT_EQ(std::string(text.data.begin(), text.data.end()), "Hello from the independent slave");
}

TEST_F(InteropSmoke, SegmentedAndExpeditedDownloadsReachTheSlave)
{
    const char* written = "Written by the Velomar master";
    EXPECT_EQ(Download(0x2000, 0, Text(written)).status, SdoCompleted);
    EXPECT_EQ(AskSlave(control, "get 2000 0"), "ok " + Hex(Text(written)));
    const Result back = Upload(0x2000, 0);
    EXPECT_EQ(std::string(back.data.begin(), back.data.end()), written);

    EXPECT_EQ(Download(0x2001, 0, {0xBE, 0xBA, 0xFE, 0xCA}).status, SdoCompleted);
    EXPECT_EQ(AskSlave(control, "get 2001 0"), "ok BEBAFECA");
    EXPECT_EQ(Hex(Upload(0x2001, 0).data), "BEBAFECA");
    // Exactly 7 bytes: one segment, last, as the master sends it.
    EXPECT_EQ(Download(0x2000, 0, Text("7 bytes")).status, SdoCompleted);
    EXPECT_EQ(AskSlave(control, "get 2000 0"), "ok " + Hex(Text("7 bytes")));
}

TEST_F(InteropSmoke, AbortsOfTheSlaveReachTheMaster)
{
    const Result missing = Upload(0x3000, 0);
    EXPECT_EQ(missing.status, SdoAborted);
    EXPECT_EQ(missing.abortCode, 0x06020000u);
    const Result readOnly = Download(0x1000, 0, {1, 2, 3, 4});
    EXPECT_EQ(readOnly.status, SdoAborted);
    EXPECT_EQ(readOnly.abortCode, 0x06010002u);
    const Result noSub = Upload(0x1018, 9);
    EXPECT_EQ(noSub.status, SdoAborted);
    EXPECT_EQ(noSub.abortCode, 0x06090011u);
}

TEST_F(InteropSmoke, DifferencesFromTheSimulatedSlaves)
{
    // An empty string comes as an expedited answer that claims 4 bytes (0x53): the
    // master, which counts 4 - n, reads 4 zero bytes.
    const Result empty = Upload(0x2003, 0);
    EXPECT_EQ(empty.status, SdoCompleted);
    EXPECT_EQ(Hex(empty.data), "00000000");
    // A subindex of a plain variable is not checked: 0x2002 sub 5 answers 0x2002.
    const Result sub = Upload(0x2002, 5);
    EXPECT_EQ(sub.status, SdoCompleted);
    EXPECT_EQ(Hex(sub.data), "3412");
    // A 2-byte write to a 4-byte object throws inside the slave: no answer at all, and the
    // master ends the transfer itself with its time-out abort.
    const Result shortWrite = Download(0x2001, 0, {0x34, 0x12}, 300);
    EXPECT_EQ(shortWrite.status, SdoFailed);
    EXPECT_EQ(shortWrite.abortCode, 0x05040000u);
    EXPECT_EQ(AskSlave(control, "get 2001 0"), "ok BEBAFECA");  // unchanged
}

TEST_F(InteropSmoke, ProcessDataBothWaysOnceOperational)
{
    // No boot-up message came: the slave is pre-operational and silent until told.
    EXPECT_EQ(AskSlave(control, "state"), "ok 127");
    CanFrame start{};
    start.id = 0;
    start.length = 2;
    start.data[0] = 0x01;  // start remote node
    start.data[1] = kNode;
    ASSERT_EQ(LoggingSend(start), 1);
    ASSERT_EQ(AwaitSlave("state", "ok 5"), "ok 5");

    // Input: the slave's TPDO 0x183 goes out when its mapped object changes.
    ASSERT_EQ(AskSlave(control, "set 2100 0 A5"), "ok");
    std::uint8_t pdo[8] = {};
    std::uint32_t length = 0;
    bool got = false;
    for (int i = 0; i < 2000 && !got; ++i) {  // at most about 2 s
        Pump(MasterNodeTable());
        got = FetchPdo(kNode, 0, MasterNodeTable(), pdo, length) == 1;
        if (!got)
            Sleep(1);
    }
    ASSERT_TRUE(got) << "TPDO 0x183 never arrived";
    EXPECT_EQ(length, 1u);
    EXPECT_EQ(pdo[0], 0xA5);

    // Output: the RPDO 0x203 lands in the slave's mapped object.
    CanFrame output{};
    output.id = 0x200 + kNode;
    output.length = 1;
    output.data[0] = 0x5A;
    ASSERT_EQ(LoggingSend(output), 1);
    EXPECT_EQ(AwaitSlave("get 2200 0", "ok 5A"), "ok 5A");

    // Back to pre-operational, as the stop sequence leaves it.
    CanFrame stop = start;
    stop.data[0] = 0x80;
    ASSERT_EQ(LoggingSend(stop), 1);
    EXPECT_EQ(AwaitSlave("state", "ok 127"), "ok 127");
}
