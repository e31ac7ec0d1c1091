// The network pcan_usb.dll on Windows (under Wine): two copies of the library, each in a
// folder of its own with its own netcan.ini, are two clients of the interop bed's
// socketcand server on 127.0.0.1, and exchange frames through it.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "bed_support.h"
#include "driver_api.h"
#include "netcan_results.h"

using namespace netcan;

namespace {

constexpr std::uint16_t k250k = 0x011C;

struct Driver {
    HMODULE module = nullptr;
    CanInitEntry init = nullptr;
    CanCloseEntry close = nullptr;
    CanStatusEntry status = nullptr;
    CanWriteEntry write = nullptr;
    CanReadEntry read = nullptr;
};

// GetProcAddress's FARPROC, through void*, as the binding does.
template <typename Entry>
Entry Resolve(HMODULE module, const char* name)
{
    return reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// Copies bin\netcan\pcan_usb.dll into <exe folder>\<name>\, writes its netcan.ini and
// loads it from there by full path.
Driver LoadCopy(const wchar_t* name, std::uint16_t port, const char* interfaceName)
{
    Driver d;
    const std::wstring folder = ExeFolder() + name + L"\\";
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring library = folder + L"pcan_usb.dll";
    if (!CopyFileW((ExeFolder() + L"netcan\\pcan_usb.dll").c_str(), library.c_str(), FALSE))
        return d;
    if (!WriteNetcanIni(folder, port, interfaceName))
        return d;
    d.module = LoadLibraryW(library.c_str());
    if (d.module == nullptr)
        return d;
    d.init = Resolve<CanInitEntry>(d.module, "CAN_Init");
    d.close = Resolve<CanCloseEntry>(d.module, "CAN_Close");
    d.status = Resolve<CanStatusEntry>(d.module, "CAN_Status");
    d.write = Resolve<CanWriteEntry>(d.module, "CAN_Write");
    d.read = Resolve<CanReadEntry>(d.module, "CAN_Read");
    return d;
}

void Release(Driver& d)
{
    if (d.close != nullptr)
        d.close();
    if (d.module != nullptr)
        FreeLibrary(d.module);
    d = Driver{};
}

DriverMsg Msg(std::uint32_t id, std::uint8_t type, std::uint8_t length, std::uint8_t seed)
{
    DriverMsg msg;
    std::memset(&msg, 0, sizeof msg);
    msg.id = id;
    msg.msgType = type;
    msg.length = length;
    if ((type & kMsgRemote) == 0) {
        for (std::uint8_t i = 0; i < length; ++i)
            msg.data[i] = static_cast<std::uint8_t>(seed + 0x11 * i);
    }
    return msg;
}

// Reads until a message comes: at most 2000 polls 1 ms apart.
bool ReadOne(Driver& d, DriverMsg& msg)
{
    for (int i = 0; i < 2000; ++i) {
        if (d.read(&msg) == kNetOk)
            return true;
        Sleep(1);
    }
    return false;
}

bool Same(const DriverMsg& a, const DriverMsg& b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

class NetcanWin : public ::testing::Test {
protected:
    void SetUp() override
    {
        port_ = BedPort("BED_PORT");
        ASSERT_NE(port_, 0) << "run through tests/interop/run-bed.sh";
    }
    std::uint16_t port_ = 0;
};

}  // namespace

TEST_F(NetcanWin, TheDllExportsExactlyTheEightNamesUndecorated)
{
    Driver a = LoadCopy(L"netcan-a", port_, "can0");
    ASSERT_NE(a.module, nullptr);
    for (const char* name : {"CAN_Init", "CAN_Close", "CAN_Status", "CAN_Write", "CAN_Read", "CAN_VersionInfo",
                             "CAN_SpecialFunktion", "CAN_ResetClient"})
        EXPECT_NE(GetProcAddress(a.module, name), nullptr) << name;
    EXPECT_EQ(GetProcAddress(a.module, "CAN_Init@8"), nullptr);
    Release(a);
}

TEST_F(NetcanWin, TwoClientsExchangeFramesBothWays)
{
    Driver a = LoadCopy(L"netcan-a", port_, "can0");
    Driver b = LoadCopy(L"netcan-b", port_, "can0");
    ASSERT_NE(a.module, nullptr);
    ASSERT_NE(b.module, nullptr);
    ASSERT_NE(a.module, b.module);  // two instances, two connections
    ASSERT_EQ(a.init(k250k, 0), kNetOk);
    ASSERT_EQ(b.init(k250k, 0), kNetOk);
    // The server holds frames back for a moment after raw mode (for the witness).
    Sleep(200);

    std::vector<DriverMsg> sent;
    for (std::uint8_t n = 0; n <= 8; ++n)
        sent.push_back(Msg(0x700u + n, 0, n, static_cast<std::uint8_t>(0x10 * n)));
    sent.push_back(Msg(0x1ABCDEF0, kMsgExtended, 8, 0x80));
    sent.push_back(Msg(0x183, kMsgRemote, 4, 0));
    for (DriverMsg m : sent)
        ASSERT_EQ(a.write(&m), kNetOk);
    for (const DriverMsg& expected : sent) {
        DriverMsg got;
        ASSERT_TRUE(ReadOne(b, got)) << "frame " << std::hex << expected.id << " did not arrive";
        EXPECT_TRUE(Same(got, expected)) << std::hex << got.id << " type " << int(got.msgType) << " len "
                                         << int(got.length);
    }
    DriverMsg none;
    EXPECT_EQ(a.read(&none), kNetReceiveEmpty);  // no echo of its own frames
    EXPECT_EQ(b.read(&none), kNetReceiveEmpty);

    DriverMsg answer = Msg(0x583, 0, 8, 0x42);
    ASSERT_EQ(b.write(&answer), kNetOk);
    DriverMsg got;
    ASSERT_TRUE(ReadOne(a, got));
    EXPECT_TRUE(Same(got, answer));
    EXPECT_EQ(a.status(), kNetOk);
    EXPECT_EQ(b.status(), kNetOk);

    EXPECT_EQ(a.close(), kNetOk);
    EXPECT_EQ(a.close(), kNetOk);  // the program closes twice in a row
    EXPECT_EQ(a.status(), kNetNotInitialised);
    Release(a);
    Release(b);
}

TEST_F(NetcanWin, TheIniBesideTheCopyDecides)
{
    // The server carries only can0: a copy configured for another bus is refused.
    Driver other = LoadCopy(L"netcan-c", port_, "can1");
    ASSERT_NE(other.module, nullptr);
    EXPECT_EQ(other.init(k250k, 0), kNetHandshakeRefused);
    Release(other);
    // Nothing listens on port 1 of the loopback: no connection, at once.
    Driver nowhere = LoadCopy(L"netcan-d", 1, "can0");
    ASSERT_NE(nowhere.module, nullptr);
    EXPECT_EQ(nowhere.init(k250k, 0), kNetNoConnection);
    EXPECT_EQ(nowhere.status(), kNetNotInitialised);
    Release(nowhere);
}
