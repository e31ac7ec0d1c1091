// The serial driver library as the program meets it: loaded by path from a folder of its
// own (a copy of the built library with a slcan.ini beside it), driven through its eight
// names, against a scripted adapter on a real pseudo-terminal.
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bit_rates.h"
#include "driver_api.h"
#include "fake_device.h"
#include "slcan_codec.h"
#include "slcan_config.h"
#include "slcan_results.h"
#include "tick.h"

using namespace slcan;

namespace {

constexpr std::uint16_t k250k = 0x011C;

bool CopyFile(const std::string& from, const std::string& to)
{
    std::ifstream in(from, std::ios::binary);
    std::ofstream out(to, std::ios::binary);
    out << in.rdbuf();
    return in.good() && out.good();
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// One private copy of the library, loaded from a new folder, so every test starts with
// the library's state fresh and finds the slcan.ini the test wrote.
class Slcan {
public:
    explicit Slcan(const std::string& ini)
    {
        char folder[] = "/tmp/slcan-test-XXXXXX";
        folder_ = mkdtemp(folder) != nullptr ? folder : "";
        const std::string library = folder_ + "/pcan_usb.so";
        EXPECT_TRUE(CopyFile(SLCAN_LIBRARY_PATH, library));
        if (!ini.empty())
            std::ofstream(folder_ + "/slcan.ini") << ini;
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
    ~Slcan()
    {
        if (close != nullptr)
            close();
        if (handle_ != nullptr)
            dlclose(handle_);
        std::remove((folder_ + "/slcan.ini").c_str());
        std::remove((folder_ + "/slcan.log").c_str());
        std::remove((folder_ + "/pcan_usb.so").c_str());
        rmdir(folder_.c_str());
    }
    Slcan(const Slcan&) = delete;
    Slcan& operator=(const Slcan&) = delete;

    void* Resolve(const char* name) { return handle_ == nullptr ? nullptr : dlsym(handle_, name); }
    std::string Folder() const { return folder_; }

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

std::string Ini(const FakeDevice& device, std::uint32_t timeoutMs = 1000, const char* extra = "")
{
    return "[Serial]\nPort=" + device.Path() + "\nBaud=115200\nTimeoutMs=" + std::to_string(timeoutMs) + "\n" + extra;
}

DriverMsg Msg(std::uint32_t id, std::uint8_t type, std::vector<std::uint8_t> data)
{
    DriverMsg m;
    std::memset(&m, 0, sizeof m);
    m.id = id;
    m.msgType = type;
    m.length = static_cast<std::uint8_t>(data.size());
    for (std::size_t i = 0; i < data.size() && i < 8; ++i)
        m.data[i] = data[i];
    return m;
}

// Reads one message, pumping until it comes or `limitMs` has passed (real time; the
// fake device answers on its own thread).
bool ReadWithin(Slcan& lib, DriverMsg& msg, std::uint32_t limitMs = 2000)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (std::chrono::steady_clock::now() < deadline) {
        if (lib.read(&msg) == kSlOk)
            return true;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return false;
}

// Calls CAN_Status until it reports all of `bits`, at most `limitMs`; the last result.
std::uint32_t StatusWithin(Slcan& lib, std::uint32_t bits, std::uint32_t limitMs = 2000)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    std::uint32_t result = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        result = lib.status();
        if ((result & bits) == bits)
            return result;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return result;
}

// Calls CAN_Status until none of `bits` is set, at most `limitMs`; the last result.
std::uint32_t StatusClearsWithin(Slcan& lib, std::uint32_t bits, std::uint32_t limitMs = 2000)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    std::uint32_t result = bits;
    while (std::chrono::steady_clock::now() < deadline) {
        result = lib.status();
        if ((result & bits) == 0)
            return result;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return result;
}

TEST(SlcanDriver, OpensAtEachOfTheNineBitRatesAndRefusesOtherWords)
{
    FakeDevice device;
    ASSERT_FALSE(device.Path().empty());
    Slcan lib(Ini(device));
    for (int code = 0; code < 9; ++code) {
        device.ClearCommands();
        ASSERT_EQ(lib.init(kBitRates[static_cast<std::size_t>(code)].btr0btr1, 0), kSlOk) << code;
        const std::vector<std::string> commands = device.Commands();
        ASSERT_GE(commands.size(), 2u);
        EXPECT_EQ(commands[commands.size() - 2], "S" + std::to_string(code));
        EXPECT_EQ(commands.back(), "O");
    }
    // Reopening closed the channel first; a word outside the table opens nothing.
    device.ClearCommands();
    EXPECT_EQ(lib.init(0x1234, 0), kSlIllegalParameter);
    EXPECT_EQ(lib.init(0x0014 + 1, 0), kSlIllegalParameter);
    EXPECT_EQ(lib.init(k250k, 2), kSlIllegalParameter);
    ASSERT_TRUE(device.AwaitCommand("C", 1000));
    for (const std::string& c : device.Commands())
        EXPECT_NE(c[0], 'O') << c;
    DriverMsg msg;
    EXPECT_NE(lib.read(&msg), kSlOk);
    EXPECT_EQ(lib.status(), kSlNotInitialised);
}

TEST(SlcanDriver, ConfigurationAndOpeningFailuresFailInit)
{
    FakeDevice device;
    {
        Slcan noFile("");
        EXPECT_EQ(noFile.init(k250k, 0), kSlIllegalParameter);
    }
    {
        Slcan noPort("[Serial]\nBaud=115200\n");
        EXPECT_EQ(noPort.init(k250k, 0), kSlIllegalParameter);
    }
    {
        Slcan badBaud("[Serial]\nPort=" + device.Path() + "\nBaud=12\n");
        EXPECT_EQ(badBaud.init(k250k, 0), kSlIllegalParameter);
    }
    {
        Slcan missing("[Serial]\nPort=/dev/no-such-adapter\n");
        EXPECT_EQ(missing.init(k250k, 0), kSlNoPort);
        EXPECT_EQ(missing.status(), kSlNotInitialised);
    }
    {
        device.silent = true;
        Slcan silent(Ini(device, 100));
        EXPECT_EQ(silent.init(k250k, 0), kSlNoAnswer);
        device.silent = false;
    }
    {
        device.refuseBitRate = true;
        Slcan refused(Ini(device));
        EXPECT_EQ(refused.init(k250k, 0), kSlCommandRefused);
        device.refuseBitRate = false;
    }
}

TEST(SlcanDriver, DeviceWithoutVersionOrFlagsStillOpens)
{
    FakeDevice device;
    device.legacy = true;
    Slcan lib(Ini(device, 200));
    ASSERT_EQ(lib.init(k250k, 0), kSlOk);
    char text[kVersionTextSize];
    ASSERT_EQ(lib.versionInfo(text), kSlOk);
    EXPECT_STREQ(text, kVersionText);
    // The device refuses F once; the driver stops asking and the status stays clean.
    ASSERT_TRUE([&] {
        for (int i = 0; i < 2000 && !device.AwaitCommand("F", 1); ++i)
            EXPECT_EQ(lib.status(), kSlOk);
        return device.AwaitCommand("F", 1);
    }());
    device.ClearCommands();
    // An absence can only be watched for a while: 300 ms is three poll periods. A slow
    // machine lengthens the window; it cannot make a correct library fail here.
    for (int i = 0; i < 300; ++i) {
        EXPECT_EQ(lib.status(), kSlOk);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    for (const std::string& c : device.Commands())
        EXPECT_NE(c, "F");
}

TEST(SlcanDriver, SendsEveryFrameFormAndReadsThemBack)
{
    FakeDevice device;
    Slcan lib(Ini(device));
    ASSERT_EQ(lib.init(k250k, 0), kSlOk);
    device.ClearCommands();

    std::vector<DriverMsg> sent;
    for (std::uint8_t n = 0; n <= 8; ++n) {
        std::vector<std::uint8_t> data;
        for (std::uint8_t i = 0; i < n; ++i)
            data.push_back(static_cast<std::uint8_t>(0xA0 + i));
        sent.push_back(Msg(0x600u + n, 0, data));
    }
    sent.push_back(Msg(0x183, kMsgRemote, {0, 0, 0, 0}));
    sent.push_back(Msg(0x1ABCDEF0, kMsgExtended, {1, 2}));
    sent.push_back(Msg(0x1FFFFFFF, kMsgExtended | kMsgRemote, {0, 0, 0, 0, 0, 0, 0, 0}));
    for (DriverMsg& m : sent)
        ASSERT_EQ(lib.write(&m), kSlOk);
    ASSERT_TRUE(device.AwaitCommand("R1FFFFFFF8", 2000));
    const std::vector<std::string> expected = {
        "t6000",           "t6011A0",           "t6022A0A1",           "t6033A0A1A2",           "t6044A0A1A2A3",
        "t6055A0A1A2A3A4", "t6066A0A1A2A3A4A5", "t6077A0A1A2A3A4A5A6", "t6088A0A1A2A3A4A5A6A7", "r1834",
        "T1ABCDEF020102",  "R1FFFFFFF8"};
    EXPECT_EQ(device.Commands(), expected);

    // Not frames: refused without a byte on the line.
    DriverMsg tooLong = Msg(0x123, 0, {});
    tooLong.length = 9;
    DriverMsg status = Msg(0x123, kMsgStatus, {1});
    DriverMsg wideId = Msg(0x800, 0, {});
    EXPECT_EQ(lib.write(&tooLong), kSlWriteRefused);
    EXPECT_EQ(lib.write(&status), kSlWriteRefused);
    EXPECT_EQ(lib.write(&wideId), kSlWriteRefused);
    EXPECT_EQ(lib.write(nullptr), kSlIllegalParameter);

    // Received: with and without time stamps, noise between, one frame byte by byte.
    device.Inject("t7031000123\r\n");
    device.Inject("garbage\rt18324142\r");
    device.Inject("r7031EA5F\rT1ABCDEF08");
    device.Inject("0102030405060708");
    device.Inject("\rR000000010\r");
    const std::vector<DriverMsg> want = {
        Msg(0x703, 0, {0x00}), Msg(0x183, 0, {0x41, 0x42}), Msg(0x703, kMsgRemote, {0}),
        Msg(0x1ABCDEF0, kMsgExtended, {1, 2, 3, 4, 5, 6, 7, 8}), Msg(0x1, kMsgExtended | kMsgRemote, {})};
    for (const DriverMsg& w : want) {
        DriverMsg got;
        ASSERT_TRUE(ReadWithin(lib, got));
        EXPECT_EQ(got.id, w.id);
        EXPECT_EQ(got.msgType, w.msgType);
        ASSERT_EQ(got.length, w.length);
        if ((w.msgType & kMsgRemote) == 0)
            EXPECT_EQ(std::memcmp(got.data, w.data, w.length), 0);
    }
    DriverMsg none;
    EXPECT_EQ(lib.read(&none), kSlReceiveEmpty);
    EXPECT_EQ(lib.read(nullptr), kSlIllegalParameter);
    EXPECT_EQ(lib.status(), kSlOk);
}

TEST(SlcanDriver, RefusedFramesAndDeviceFlagsShowInStatusOnce)
{
    FakeDevice device;
    Slcan lib(Ini(device));
    ASSERT_EQ(lib.init(k250k, 0), kSlOk);

    device.refuseFrames = true;
    DriverMsg m = Msg(0x603, 0, {0x40, 0x00, 0x10, 0, 0, 0, 0, 0});
    ASSERT_EQ(lib.write(&m), kSlOk);  // queued; the BEL comes later
    EXPECT_EQ(StatusWithin(lib, kSlCommandRefused) & kSlCommandRefused, kSlCommandRefused);
    device.refuseFrames = false;
    EXPECT_EQ(lib.status() & kSlCommandRefused, 0u);

    struct Case {
        std::uint8_t flags;
        std::uint32_t status;
    };
    const Case cases[] = {
        {kFlagBusError, kSlBusError},
        {kFlagDataOverrun, kSlReceiveOverrun},
        {kFlagRxQueueFull, kSlReceiveOverrun},
        {kFlagTxQueueFull, kSlDeviceQueueFull},
        {kFlagBusError | kFlagTxQueueFull, kSlBusError | kSlDeviceQueueFull},
    };
    for (const Case& c : cases) {
        device.flags = c.flags;
        EXPECT_EQ(StatusWithin(lib, c.status), c.status) << int(c.flags);
    }
    // Warnings that are no failure: error warning, arbitration lost.
    // The driver sends the next F only once the last one is answered, so by the time a
    // second F arrives the warnings have been taken in.
    device.flags = kFlagErrorWarning | kFlagArbitrationLost;
    device.ClearCommands();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    auto polls = [&] {
        std::size_t n = 0;
        for (const std::string& c : device.Commands())
            n += c == "F" ? 1 : 0;
        return n;
    };
    while (polls() < 2 && std::chrono::steady_clock::now() < deadline) {
        ASSERT_EQ(lib.status(), kSlOk);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_GE(polls(), 2u);
    EXPECT_EQ(lib.status(), kSlOk);
}

TEST(SlcanDriver, FullReceiveQueueDropsVisiblyAndKeepsOrder)
{
    FakeDevice device;
    Slcan lib(Ini(device));
    ASSERT_EQ(lib.init(k250k, 0), kSlOk);
    const std::uint32_t total = kReceiveQueueSize + 50;
    std::string burst;
    for (std::uint32_t i = 0; i < total; ++i) {
        char line[16];
        std::snprintf(line, sizeof line, "t%03X0\r", static_cast<unsigned>(i & 0x7FF));
        burst += line;
    }
    device.Inject(burst);
    EXPECT_EQ(StatusWithin(lib, kSlReceiveOverrun, 5000) & kSlReceiveOverrun, kSlReceiveOverrun);
    DriverMsg msg;
    std::uint32_t count = 0;
    while (lib.read(&msg) == kSlOk) {
        EXPECT_EQ(msg.id, count & 0x7FF);
        ++count;
    }
    EXPECT_EQ(count, kReceiveQueueSize);
    EXPECT_EQ(lib.status() & kSlReceiveOverrun, 0u);  // reported once
}

TEST(SlcanDriver, SilentDeviceIsReportedUntilItAnswersAgain)
{
    FakeDevice device;
    Slcan lib(Ini(device, 100));
    ASSERT_EQ(lib.init(k250k, 0), kSlOk);
    device.silent = true;
    DriverMsg m = Msg(0x603, 0, {0x40, 0x00, 0x10, 0, 0, 0, 0, 0});
    ASSERT_EQ(lib.write(&m), kSlOk);
    EXPECT_EQ(StatusWithin(lib, kSlNoAnswer) & kSlNoAnswer, kSlNoAnswer);
    EXPECT_EQ(lib.status() & kSlNoAnswer, kSlNoAnswer);  // stays while silent

    // A sender repeats a write that finds no room at once; with the device known silent
    // the write fails plainly instead (bit 0x80 clear), so it is not repeated for good.
    std::uint32_t result = kSlOk;
    std::uint32_t taken = 0;
    while (result == kSlOk && taken <= kMaxPendingAnswers) {
        result = lib.write(&m);
        taken += result == kSlOk ? 1 : 0;
    }
    EXPECT_EQ(result, kSlNoAnswer);
    EXPECT_GT(taken, kMaxPendingAnswers / 2);

    device.silent = false;
    EXPECT_EQ(StatusClearsWithin(lib, kSlNoAnswer) & kSlNoAnswer, 0u);
}

// The program's tests run their process on the manual clock, standing still here. The
// library keeps real time of its own: a device that has stopped answering is still
// noticed after TimeoutMs, and the library's readings leave the process's clock alone.
TEST(SlcanDriver, KeepsRealTimeWhileTheProcessRunsTheManualClock)
{
    struct SystemClockAfterwards {
        ~SystemClockAfterwards() { UseSystemClock(); }
    } restore;
    UseManualClock(7000);
    FakeDevice device;
    Slcan lib(Ini(device, 100));
    ASSERT_EQ(lib.init(k250k, 0), kSlOk);
    device.silent = true;
    DriverMsg m = Msg(0x603, 0, {0x40, 0x00, 0x10, 0, 0, 0, 0, 0});
    ASSERT_EQ(lib.write(&m), kSlOk);
    EXPECT_EQ(StatusWithin(lib, kSlNoAnswer) & kSlNoAnswer, kSlNoAnswer);
    EXPECT_EQ(TickMs(), 7000u);
}

TEST(SlcanDriver, TooManyUnansweredFramesAskTheSenderToRetry)
{
    FakeDevice device;
    Slcan lib(Ini(device, 60000));
    ASSERT_EQ(lib.init(k250k, 0), kSlOk);
    device.silent = true;
    DriverMsg m = Msg(0x000, 0, {0x01, 0x03});
    for (std::uint32_t i = 0; i < kMaxPendingAnswers; ++i)
        ASSERT_EQ(lib.write(&m), kSlOk) << i;
    EXPECT_EQ(lib.write(&m), kSlTransmitFull);
    device.silent = false;
    std::string answers;
    for (std::uint32_t i = 0; i < kMaxPendingAnswers; ++i)
        answers += "z\r";
    device.Inject(answers);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    std::uint32_t result = kSlTransmitFull;
    while (result == kSlTransmitFull && std::chrono::steady_clock::now() < deadline)
        result = lib.write(&m);
    EXPECT_EQ(result, kSlOk);
}

TEST(SlcanDriver, CloseSendsCAndIsHarmlessTwice)
{
    FakeDevice device;
    Slcan lib(Ini(device, 1000, "Log=1\n"));
    ASSERT_EQ(lib.init(0x0014, 0), kSlOk);
    char text[kVersionTextSize];
    ASSERT_EQ(lib.versionInfo(text), kSlOk);
    EXPECT_NE(std::strstr(text, "V1013"), nullptr) << text;
    EXPECT_NE(std::strstr(text, "NTEST"), nullptr) << text;
    EXPECT_EQ(lib.versionInfo(nullptr), kSlIllegalParameter);
    const std::string log = ReadFile(lib.Folder() + "/slcan.log");
    EXPECT_NE(log.find("V1013"), std::string::npos) << log;
    EXPECT_NE(log.find("S8 (1000 kbit/s): open"), std::string::npos) << log;

    // A log grown too long starts afresh at the next open.
    {
        std::ofstream grown(lib.Folder() + "/slcan.log", std::ios::binary | std::ios::app);
        grown << std::string(kMaxLogBytes, 'x');
    }
    ASSERT_EQ(lib.init(0x0014, 0), kSlOk);
    const std::string fresh = ReadFile(lib.Folder() + "/slcan.log");
    EXPECT_LT(fresh.size(), 1000u);
    EXPECT_NE(fresh.find("V1013"), std::string::npos) << fresh;

    device.ClearCommands();
    EXPECT_EQ(lib.close(), kSlOk);
    EXPECT_TRUE(device.AwaitCommand("C", 1000));
    device.ClearCommands();
    EXPECT_EQ(lib.close(), kSlOk);
    DriverMsg m = Msg(0x000, 0, {0x01, 0x03});
    EXPECT_EQ(lib.write(&m), kSlNotInitialised);
    EXPECT_EQ(lib.read(&m), kSlReceiveEmpty | kSlNotInitialised);
    EXPECT_EQ(lib.special(1, 2), kSlIllegalParameter);
    // The second close must send nothing. An absence has no condition to wait for: the
    // device is watched for 200 ms, where a second "C" would arrive within a millisecond.
    EXPECT_FALSE(device.AwaitCommand("C", 200)) << "the second close sent nothing";
}

TEST(SlcanDriver, UnpluggedAdapterLeavesQueuedFramesReadable)
{
    FakeDevice device;
    Slcan lib(Ini(device));
    ASSERT_EQ(lib.init(k250k, 0), kSlOk);
    // The frame, then (answering the next F) a bus error: once the status shows the
    // error, the frame before it is in the driver's queue.
    device.flags = kFlagBusError;
    device.Inject("t1811AA\r");
    ASSERT_EQ(StatusWithin(lib, kSlBusError), kSlBusError);
    device.Unplug();
    EXPECT_EQ(StatusWithin(lib, kSlNoPort), kSlNoPort);
    DriverMsg msg;
    EXPECT_EQ(lib.read(&msg), kSlOk);
    EXPECT_EQ(msg.id, 0x181u);
    EXPECT_EQ(lib.read(&msg), kSlReceiveEmpty | kSlNoPort);
    EXPECT_EQ(lib.resetClient(), kSlOk);
}

}  // namespace
