// The network driver library as the program meets it: loaded by path from a folder of
// its own (a copy of the built library with a netcan.ini beside it), driven through its
// eight names, against a scripted socketcand stand-in on 127.0.0.1.
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bit_rates.h"
#include "driver_api.h"
#include "fake_server.h"
#include "module_file.h"
#include "netcan_results.h"

using namespace netcan;

namespace {

constexpr const char* kDriverNames[] = {"CAN_Init", "CAN_Close",       "CAN_Status",          "CAN_Write",
                                        "CAN_Read", "CAN_VersionInfo", "CAN_SpecialFunktion", "CAN_ResetClient"};
constexpr std::uint16_t k250k = 0x011C;

bool CopyFile(const std::string& from, const std::string& to)
{
    std::ifstream in(from, std::ios::binary);
    std::ofstream out(to, std::ios::binary);
    out << in.rdbuf();
    return in.good() && out.good();
}

// One private copy of the library, loaded from a new folder, so every test starts with
// the library's state fresh and finds the netcan.ini the test wrote.
class Netcan {
public:
    explicit Netcan(const std::string& ini)
    {
        char folder[] = "/tmp/netcan-test-XXXXXX";
        folder_ = mkdtemp(folder) != nullptr ? folder : "";
        const std::string library = folder_ + "/pcan_usb.so";
        EXPECT_TRUE(CopyFile(NETCAN_LIBRARY_PATH, library));
        if (!ini.empty()) {
            std::ofstream(folder_ + "/netcan.ini") << ini;
        }
        handle_ = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
        EXPECT_NE(handle_, nullptr) << dlerror();
        init = reinterpret_cast<CanInitEntry>(Resolve("CAN_Init"));
        close = reinterpret_cast<CanCloseEntry>(Resolve("CAN_Close"));
        status = reinterpret_cast<CanStatusEntry>(Resolve("CAN_Status"));
        write = reinterpret_cast<CanWriteEntry>(Resolve("CAN_Write"));
        read = reinterpret_cast<CanReadEntry>(Resolve("CAN_Read"));
        versionInfo = reinterpret_cast<CanVersionInfoEntry>(Resolve("CAN_VersionInfo"));
        special = reinterpret_cast<CanSpecialFunktionEntry>(Resolve("CAN_SpecialFunktion"));
        resetClient = reinterpret_cast<CanResetClientEntry>(Resolve("CAN_ResetClient"));
    }
    ~Netcan()
    {
        if (close != nullptr)
            close();
        if (handle_ != nullptr)
            dlclose(handle_);
        std::remove((folder_ + "/netcan.ini").c_str());
        std::remove((folder_ + "/pcan_usb.so").c_str());
        rmdir(folder_.c_str());
    }
    Netcan(const Netcan&) = delete;
    Netcan& operator=(const Netcan&) = delete;

    void* Resolve(const char* name) { return handle_ == nullptr ? nullptr : dlsym(handle_, name); }

    CanInitEntry init = nullptr;
    CanCloseEntry close = nullptr;
    CanStatusEntry status = nullptr;
    CanWriteEntry write = nullptr;
    CanReadEntry read = nullptr;
    CanVersionInfoEntry versionInfo = nullptr;
    CanSpecialFunktionEntry special = nullptr;
    CanResetClientEntry resetClient = nullptr;

private:
    std::string folder_;
    void* handle_ = nullptr;
};

std::string Ini(std::uint16_t port, const std::string& extra = "")
{
    return "[Connection]\nHost=127.0.0.1\nPort=" + std::to_string(port) + "\nInterface=vcan7\nTimeoutMs=500\n" + extra;
}

DriverMsg Msg(std::uint32_t id, std::uint8_t type, std::vector<std::uint8_t> data)
{
    DriverMsg msg;
    std::memset(&msg, 0, sizeof msg);
    msg.id = id;
    msg.msgType = type;
    msg.length = static_cast<std::uint8_t>(data.size());
    for (std::size_t i = 0; i < data.size() && i < 8; ++i)
        msg.data[i] = data[i];
    return msg;
}

// Reads until a message comes (at most ~2 s of 1 ms polls); the result of the last read.
std::uint32_t ReadOne(Netcan& net, DriverMsg& msg)
{
    std::uint32_t result = kNetReceiveEmpty;
    for (int i = 0; i < 2000; ++i) {
        result = net.read(&msg);
        if (result == kNetOk)
            return result;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return result;
}

std::string Describe(const DriverMsg& m)
{
    char text[64];
    int n = std::snprintf(text, sizeof text, "%X t%u l%u", m.id, m.msgType, m.length);
    for (int i = 0; i < m.length && i < 8; ++i)
        n += std::snprintf(text + n, sizeof text - static_cast<std::size_t>(n), " %02X", m.data[i]);
    return text;
}

}  // namespace

TEST(NetcanLibrary, ExportsTheEightDriverNames)
{
    FakeServer server;
    Netcan net(Ini(server.Port()));
    for (const char* name : kDriverNames)
        EXPECT_NE(net.Resolve(name), nullptr) << name;
    EXPECT_EQ(net.Resolve("Pump"), nullptr);  // nothing of its inside shows
    char text[kVersionTextSize];
    std::memset(text, 'x', sizeof text);
    EXPECT_EQ(net.versionInfo(text), kNetOk);
    EXPECT_STREQ(text, kVersionText);
    EXPECT_EQ(net.versionInfo(nullptr), kNetIllegalParameter);
    EXPECT_NE(net.special(0, 0), kNetOk);
}

TEST(NetcanHandshake, OpensTheInterfaceOfTheIniAndSwitchesToRawMode)
{
    FakeServer server;
    Netcan net(Ini(server.Port()));
    EXPECT_EQ(net.init(k250k, 0), kNetOk);
    EXPECT_EQ(server.Commands(), (std::vector<std::string>{"open vcan7", "rawmode"}));
    EXPECT_EQ(net.status(), kNetOk);
    DriverMsg msg;
    EXPECT_EQ(net.read(&msg), kNetReceiveEmpty);
}

TEST(NetcanHandshake, EveryTableBitRateIsAcceptedOthersAreNot)
{
    FakeServer server;
    Netcan net(Ini(server.Port()));
    for (const BitRateRow& row : kBitRates) {
        EXPECT_EQ(net.init(row.btr0btr1, 0), kNetOk) << std::hex << row.btr0btr1;
        EXPECT_EQ(net.close(), kNetOk);
    }
    const int accepted = server.Accepted();
    EXPECT_EQ(net.init(0x1234, 0), kNetIllegalParameter);
    EXPECT_EQ(net.init(k250k, 2), kNetIllegalParameter);
    EXPECT_EQ(server.Accepted(), accepted);  // refused before connecting
    EXPECT_EQ(net.status(), kNetNotInitialised);
}

TEST(NetcanHandshake, WrongOrMissingAnswersAreRefused)
{
    struct Case {
        const char* what;
        FakeServerScript script;
    };
    std::vector<Case> cases;
    FakeServerScript http;
    http.greeting = "HTTP/1.1 400 Bad Request\r\n\r\n";
    cases.push_back({"not socketcand at all", http});
    FakeServerScript error;
    error.greeting = "< error go away >";
    cases.push_back({"an error instead of the greeting", error});
    FakeServerScript silent;
    silent.greeting = "";
    cases.push_back({"silent server", silent});
    FakeServerScript noBus;
    noBus.openAnswer = "< error could not open bus >";
    cases.push_back({"bus refused", noBus});
    FakeServerScript noRaw;
    noRaw.rawAnswer = "";
    cases.push_back({"raw mode never confirmed", noRaw});
    for (Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeServer server(c.script);
        Netcan net(Ini(server.Port()));
        EXPECT_EQ(net.init(k250k, 0), kNetHandshakeRefused);
        EXPECT_EQ(net.status(), kNetNotInitialised);
        DriverMsg msg = Msg(0x100, 0, {1});
        EXPECT_EQ(net.write(&msg), kNetNotInitialised);
    }
}

TEST(NetcanHandshake, NoServerMeansNoConnection)
{
    std::uint16_t freePort = 0;
    {
        FakeServer server;  // a port that was free a moment ago and is closed now
        freePort = server.Port();
    }
    Netcan net(Ini(freePort));
    EXPECT_EQ(net.init(k250k, 0), kNetNoConnection);
    EXPECT_EQ(net.status(), kNetNotInitialised);
}

TEST(NetcanHandshake, ABadIniIsRefusedBeforeConnecting)
{
    FakeServer server;
    for (const char* bad : {"Port=0\n", "Interface=can0 >\n", "TimeoutMs=x\n"}) {
        SCOPED_TRACE(bad);
        Netcan net("[Connection]\nPort=" + std::to_string(server.Port()) + "\n" + bad);
        EXPECT_EQ(net.init(k250k, 0), kNetIllegalParameter);
    }
    EXPECT_EQ(server.Accepted(), 0);
}

TEST(NetcanHandshake, TheIniIsReadWholeUpToItsLimitAndRefusedBeyond)
{
    FakeServer server;
    for (const std::size_t size : {driverlib::kMaxSettingsBytes, driverlib::kMaxSettingsBytes + 1}) {
        SCOPED_TRACE(size);
        // The settings first, then a comment that fills the file to `size` bytes.
        std::string ini = Ini(server.Port());
        ini += ";" + std::string(size - ini.size() - 2, 'x') + "\n";
        ASSERT_EQ(ini.size(), size);
        Netcan net(ini);
        const int accepted = server.Accepted();
        const bool whole = size <= driverlib::kMaxSettingsBytes;
        EXPECT_EQ(net.init(k250k, 0), whole ? kNetOk : kNetIllegalParameter);
        EXPECT_EQ(server.Accepted(), accepted + (whole ? 1 : 0));
    }
}

TEST(NetcanFrames, WritesBecomeSendCommands)
{
    FakeServer server;
    Netcan net(Ini(server.Port()));
    ASSERT_EQ(net.init(k250k, 0), kNetOk);
    struct Case {
        DriverMsg msg;
        const char* command;
    };
    const Case cases[] = {
        {Msg(0x000, 0, {0x01, 0x03}), "send 000 2 01 03"},
        {Msg(0x603, 0, {0x40, 0x00, 0x10, 0x00, 0, 0, 0, 0}), "send 603 8 40 00 10 00 00 00 00 00"},
        {Msg(0x203, 0, {}), "send 203 0"},
        {Msg(0x12345678, kMsgExtended, {0xAA, 0xBB, 0xCC}), "send 12345678 3 AA BB CC"},
        {Msg(0x183, kMsgRemote, {0, 0}), "sendrtr 183 2"},
    };
    std::vector<std::string> expected = {"open vcan7", "rawmode"};
    for (const Case& c : cases) {
        DriverMsg msg = c.msg;
        EXPECT_EQ(net.write(&msg), kNetOk);
        expected.push_back(c.command);
    }
    for (std::uint8_t n = 0; n <= 8; ++n) {
        std::vector<std::uint8_t> data(n, static_cast<std::uint8_t>(0xA0 + n));
        DriverMsg msg = Msg(0x300 + n, 0, data);
        EXPECT_EQ(net.write(&msg), kNetOk);
        char text[64];
        int used = std::snprintf(text, sizeof text, "send %03X %u", 0x300u + n, static_cast<unsigned>(n));
        for (std::uint8_t i = 0; i < n; ++i)
            used += std::snprintf(text + used, sizeof text - static_cast<std::size_t>(used), " %02X", 0xA0u + n);
        expected.push_back(text);
    }
    ASSERT_TRUE(server.WaitForCommands(expected.size(), 2000));
    EXPECT_EQ(server.Commands(), expected);

    // Records that are not frames are refused, without reaching the server; bit 0x80
    // stays clear so the caller does not retry them.
    DriverMsg tooLong = Msg(0x100, 0, {});
    tooLong.length = 9;
    EXPECT_EQ(net.write(&tooLong), kNetWriteRefused);
    DriverMsg wideStandard = Msg(0x800, 0, {1});
    EXPECT_EQ(net.write(&wideStandard), kNetWriteRefused);
    EXPECT_EQ(net.write(nullptr), kNetIllegalParameter);
    // Anything the refused records had put on the connection would go out ahead of a
    // frame written after them, so once that frame has arrived, nothing of theirs can
    // still come.
    DriverMsg after = Msg(0x7FF, 0, {0x55});
    ASSERT_EQ(net.write(&after), kNetOk);
    expected.push_back("send 7FF 1 55");
    ASSERT_TRUE(server.WaitForCommands(expected.size(), 2000));
    EXPECT_EQ(server.Commands(), expected);
}

TEST(NetcanFrames, ReceivedElementsBecomeRecordsInOrder)
{
    FakeServerScript script;
    // A frame that arrives right behind the raw-mode answer, in the same segment.
    script.afterRawAnswer = "< frame 701 1.000001 00 >";
    FakeServer server(script);
    Netcan net(Ini(server.Port()));
    ASSERT_EQ(net.init(k250k, 0), kNetOk);
    // As the server writes them: back to back, data as one run; then the documented form,
    // an extended frame, remote frames, an empty frame, and things that carry no frame.
    ASSERT_TRUE(server.Send("< frame 583 1700000000.123456 4B00100091000000 >< frame 703 1.5  >"));
    ASSERT_TRUE(server.Send("< frame 123 23.424242 11 22 33 44 >\n< echo >< error unknown command >"));
    ASSERT_TRUE(server.Send("< frame 1ABCDEF0 5.000001 0102030405060708 >< rtr 183 2.0 4 >"));
    ASSERT_TRUE(server.Send("< frame 999 1.0 01 >< frame 181 1.0 0 >< rtr 00000183 2.0 0 >"));
    const std::vector<std::string> expected = {
        "701 t0 l1 00",
        "583 t0 l8 4B 00 10 00 91 00 00 00",
        "703 t0 l0",
        "123 t0 l4 11 22 33 44",
        "1ABCDEF0 t2 l8 01 02 03 04 05 06 07 08",
        "183 t1 l4 00 00 00 00",
        "183 t3 l0",
    };
    std::vector<std::string> got;
    DriverMsg msg;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        std::memset(&msg, 0xEE, sizeof msg);
        ASSERT_EQ(ReadOne(net, msg), kNetOk) << "message " << i;
        EXPECT_EQ(msg.reserved[0], 0);
        got.push_back(Describe(msg));
    }
    EXPECT_EQ(got, expected);
    EXPECT_EQ(net.read(&msg), kNetReceiveEmpty);
    EXPECT_EQ(net.read(nullptr), kNetIllegalParameter);
}

TEST(NetcanFrames, ElementsSplitAcrossSegmentsAreJoined)
{
    FakeServer server;
    Netcan net(Ini(server.Port()));
    ASSERT_EQ(net.init(k250k, 0), kNetOk);
    // One byte per segment: nothing is readable before the element's '>' has come. Each
    // read comes once the bytes so far are in the driver's socket, so it sees them all.
    const std::string first = "< frame 181 12.345678 0102 >";
    DriverMsg msg;
    for (std::size_t i = 0; i + 1 < first.size(); ++i) {
        ASSERT_TRUE(server.Send(std::string(1, first[i])));
        ASSERT_TRUE(server.WaitUntilDelivered(2000));
        ASSERT_EQ(net.read(&msg), kNetReceiveEmpty) << first.substr(0, i + 1);
    }
    ASSERT_TRUE(server.Send(">"));
    ASSERT_EQ(ReadOne(net, msg), kNetOk);
    EXPECT_EQ(Describe(msg), "181 t0 l2 01 02");
    ASSERT_TRUE(server.Send("< frame 10000282 12.345679 AA"));
    ASSERT_TRUE(server.WaitUntilDelivered(2000));
    ASSERT_EQ(net.read(&msg), kNetReceiveEmpty);
    ASSERT_TRUE(server.Send("BBCCDD >"));
    ASSERT_EQ(ReadOne(net, msg), kNetOk);
    EXPECT_EQ(Describe(msg), "10000282 t2 l4 AA BB CC DD");
}

TEST(NetcanFrames, ManyFramesAtOnceAreAllReadInOrder)
{
    FakeServer server;
    Netcan net(Ini(server.Port()));
    ASSERT_EQ(net.init(k250k, 0), kNetOk);
    constexpr int kFrames = 3000;  // more than the receive queue holds
    std::string burst;
    for (int i = 0; i < kFrames; ++i) {
        char element[64];
        std::snprintf(element, sizeof element, "< frame 181 1.0 %02X%02X >", i & 0xFF, (i >> 8) & 0xFF);
        burst += element;
    }
    ASSERT_TRUE(server.Send(burst));
    DriverMsg msg;
    int next = 0;
    for (int polls = 0; polls < 20000 && next < kFrames; ++polls) {
        const std::uint32_t result = net.read(&msg);
        if (result == kNetOk) {
            ASSERT_EQ(msg.data[0] | (msg.data[1] << 8), next) << "frame lost or out of order";
            ++next;
        } else {
            ASSERT_EQ(result, kNetReceiveEmpty);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    EXPECT_EQ(next, kFrames);
}

TEST(NetcanFrames, ReadNeverWaitsAndResetClientForgetsTheQueue)
{
    FakeServer server;
    Netcan net(Ini(server.Port()));
    ASSERT_EQ(net.init(k250k, 0), kNetOk);
    DriverMsg msg;
    // With the connection open and nothing on the bus every read comes back at once with
    // "queue empty" (a read that waited would hold this loop until the test's time-out).
    const auto start = std::chrono::steady_clock::now();
    constexpr int kReads = 10000;
    for (int i = 0; i < kReads; ++i)
        ASSERT_EQ(net.read(&msg), kNetReceiveEmpty);
    const double us =
        std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count() / kReads;
    std::printf("[ figure ] CAN_Read on an empty connection: %.2f us per call\n", us);

    ASSERT_TRUE(server.Send("< frame 181 1.0 01 >< frame 182 1.0 02 >"));
    ASSERT_EQ(ReadOne(net, msg), kNetOk);
    EXPECT_EQ(net.resetClient(), kNetOk);
    EXPECT_EQ(net.read(&msg), kNetReceiveEmpty);
}

TEST(NetcanConnection, ALostConnectionShowsAndTheNextInitReconnects)
{
    FakeServer server;
    Netcan net(Ini(server.Port()));
    ASSERT_EQ(net.init(k250k, 0), kNetOk);
    ASSERT_TRUE(server.Send("< frame 181 1.0 01 >"));
    // The frame is in the driver's socket before the connection goes; it is read back
    // only after the loss.
    ASSERT_TRUE(server.WaitUntilDelivered(2000));
    server.DropClient();
    std::uint32_t status = kNetOk;
    for (int i = 0; i < 2000 && status == kNetOk; ++i) {
        status = net.status();
        if (status == kNetOk)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(status, kNetNoConnection);
    DriverMsg msg;
    EXPECT_EQ(net.read(&msg), kNetOk);  // received before the loss: still there
    EXPECT_EQ(Describe(msg), "181 t0 l1 01");
    EXPECT_EQ(net.read(&msg), kNetReceiveEmpty | kNetNoConnection);
    DriverMsg out = Msg(0x201, 0, {1});
    const std::uint32_t write = net.write(&out);
    EXPECT_EQ(write, kNetNoConnection);
    EXPECT_EQ(write & kDriverTransmitFull, 0u);  // not retried by the caller

    ASSERT_TRUE(server.WaitForCommands(2, 1000));
    EXPECT_EQ(net.init(k250k, 0), kNetOk);
    EXPECT_EQ(server.Accepted(), 2);
    EXPECT_EQ(net.status(), kNetOk);
    EXPECT_EQ(net.write(&out), kNetOk);
    ASSERT_TRUE(server.WaitForCommands(5, 1000));
    EXPECT_EQ(server.Commands().back(), "send 201 1 01");
}

TEST(NetcanConnection, CloseIsHarmlessTwiceAndBeforeInit)
{
    FakeServer server;
    Netcan net(Ini(server.Port()));
    DriverMsg msg = Msg(0x201, 0, {1});
    EXPECT_EQ(net.close(), kNetOk);
    EXPECT_EQ(net.write(&msg), kNetNotInitialised);
    EXPECT_EQ(net.read(&msg), kNetReceiveEmpty | kNetNotInitialised);
    EXPECT_EQ(net.status(), kNetNotInitialised);

    ASSERT_EQ(net.init(k250k, 0), kNetOk);
    EXPECT_EQ(net.write(&msg), kNetOk);
    EXPECT_EQ(net.close(), kNetOk);
    EXPECT_EQ(net.close(), kNetOk);
    EXPECT_EQ(net.status(), kNetNotInitialised);
    // The frame written just before the close reached the server.
    ASSERT_TRUE(server.WaitForCommands(3, 1000));
    EXPECT_EQ(server.Commands()[2], "send 201 1 01");
}

TEST(NetcanConnection, BusOffFromTheServerShowsInStatusUntilRestarted)
{
    FakeServer server;
    Netcan net(Ini(server.Port()));
    ASSERT_EQ(net.init(k250k, 0), kNetOk);
    ASSERT_TRUE(server.Send("< error 040 1.0 >"));
    std::uint32_t status = kNetOk;
    for (int i = 0; i < 2000 && status == kNetOk; ++i) {
        status = net.status();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(status, kNetBusOff);
    ASSERT_TRUE(server.Send("< error 100 2.0 >"));
    for (int i = 0; i < 2000 && status != kNetOk; ++i) {
        status = net.status();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(status, kNetOk);
}

TEST(NetcanConnection, AStalledServerMakesWritesReportAFullQueueNotAFailure)
{
    FakeServer server;
    Netcan net(Ini(server.Port()));
    ASSERT_EQ(net.init(k250k, 0), kNetOk);
    ASSERT_TRUE(server.WaitForRawMode(1000));
    server.PauseReading(true);
    // Nobody reads on the other side: the socket buffers fill, then the driver's own; from
    // then on CAN_Write says "transmit queue full" (bit 0x80), which the caller retries.
    DriverMsg msg = Msg(0x601, 0, {1, 2, 3, 4, 5, 6, 7, 8});
    std::uint32_t result = kNetOk;
    int writes = 0;
    for (; writes < 200000 && result == kNetOk; ++writes)
        result = net.write(&msg);
    std::printf("[ figure ] %d frames written before the first full report\n", writes);
    EXPECT_EQ(result, kNetTransmitFull);
    EXPECT_EQ(net.status(), kNetOk);  // full is not broken
    // Once the server reads again, the queue drains and writes go through.
    server.PauseReading(false);
    for (int i = 0; i < 2000 && result != kNetOk; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        result = net.write(&msg);
    }
    EXPECT_EQ(result, kNetOk);
    ASSERT_TRUE(server.WaitForCommands(static_cast<std::size_t>(writes) + 2, 5000));
    for (const std::string& command : server.Commands())
        if (command.rfind("send", 0) == 0)
            ASSERT_EQ(command, "send 601 8 01 02 03 04 05 06 07 08");  // none cut or mixed
}
