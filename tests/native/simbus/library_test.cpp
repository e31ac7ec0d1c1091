// The built pcan_usb.so, loaded with dlopen as the program loads the driver library:
// its export table, its state across unloads, its counters and controls.
#include <dlfcn.h>
#include <elf.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "simbus_control.h"
#include "sim_support.h"
#include "tick.h"

namespace {

using simbus_test::Frame;
using simbus_test::Text;

const char* const kDriverNames[] = {
    "CAN_Init", "CAN_Close",       "CAN_Status",          "CAN_Write",
    "CAN_Read", "CAN_VersionInfo", "CAN_SpecialFunktion", "CAN_ResetClient",
};

// Defined global symbols of an ELF64 shared object's dynamic symbol table.
std::set<std::string> DynamicExports(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    const std::vector<char> image((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::set<std::string> names;
    if (image.size() < sizeof(Elf64_Ehdr))
        return names;
    Elf64_Ehdr header;
    std::memcpy(&header, image.data(), sizeof header);
    for (unsigned i = 0; i < header.e_shnum; ++i) {
        Elf64_Shdr section;
        std::memcpy(&section, image.data() + header.e_shoff + i * header.e_shentsize, sizeof section);
        if (section.sh_type != SHT_DYNSYM)
            continue;
        Elf64_Shdr strings;
        std::memcpy(&strings, image.data() + header.e_shoff + section.sh_link * header.e_shentsize, sizeof strings);
        for (std::size_t offset = 0; offset + sizeof(Elf64_Sym) <= section.sh_size; offset += sizeof(Elf64_Sym)) {
            Elf64_Sym symbol;
            std::memcpy(&symbol, image.data() + section.sh_offset + offset, sizeof symbol);
            const unsigned binding = ELF64_ST_BIND(symbol.st_info);
            if (symbol.st_shndx != SHN_UNDEF && (binding == STB_GLOBAL || binding == STB_WEAK))
                names.insert(image.data() + strings.sh_offset + symbol.st_name);
        }
    }
    return names;
}

// One dlopen of a library file with the entry points the tests use.
struct Library {
    explicit Library(const std::string& path) : handle(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {}
    ~Library()
    {
        if (handle != nullptr)
            dlclose(handle);
    }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    template <typename Entry>
    Entry Get(const char* name) const
    {
        void* address = dlsym(handle, name);
        EXPECT_NE(address, nullptr) << name;
        return reinterpret_cast<Entry>(address);
    }

    void* handle;
};

std::vector<std::string> ReadAll(const Library& library)
{
    const auto read = library.Get<CanReadEntry>("CAN_Read");
    std::vector<std::string> frames;
    DriverMsg msg{};
    while (read(&msg) == 0)
        frames.push_back(Text(msg));
    return frames;
}

SimCounters Counters(const Library& library)
{
    SimCounters counters{};
    library.Get<SimGetCountersEntry>("SimGetCounters")(&counters);
    return counters;
}

class LoadedLibrary : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(library->handle, nullptr) << dlerror();
        ASSERT_EQ(library->Get<SimResetEntry>("SimReset")(), 0u);
    }

    std::unique_ptr<Library> library = std::make_unique<Library>(SIMBUS_LIBRARY_PATH);
};

TEST_F(LoadedLibrary, ExportsExactlyTheDriverNamesAndControls)
{
    std::set<std::string> expected(std::begin(kDriverNames), std::end(kDriverNames));
    expected.insert(std::begin(kSimControlNames), std::end(kSimControlNames));
    EXPECT_EQ(DynamicExports(SIMBUS_LIBRARY_PATH), expected);
    for (const std::string& name : expected)
        EXPECT_NE(dlsym(library->handle, name.c_str()), nullptr) << name;
    EXPECT_EQ(dlsym(library->handle, "AdapterWrite"), nullptr);
}

TEST_F(LoadedLibrary, DeviceTypeUploadWithRawFrames)
{
    const auto init = library->Get<CanInitEntry>("CAN_Init");
    const auto write = library->Get<CanWriteEntry>("CAN_Write");
    ASSERT_EQ(init(0x672F, 0), 0u);
    EXPECT_EQ(ReadAll(*library), (std::vector<std::string>{"703 1: 00", "705 1: 00"}));
    DriverMsg request = Frame(0x603, {0x40, 0x00, 0x10, 0x00, 0, 0, 0, 0});
    ASSERT_EQ(write(&request), 0u);
    EXPECT_EQ(ReadAll(*library), std::vector<std::string>{"583 8: 43 00 10 00 91 01 0F 00"});
    char version[64] = {};
    EXPECT_EQ(library->Get<CanVersionInfoEntry>("CAN_VersionInfo")(version), 0u);
    EXPECT_NE(std::string(version).find("simulated"), std::string::npos);
}

TEST_F(LoadedLibrary, SlavesKeepTheirStateAcrossUnloads)
{
    const SimCounters before = Counters(*library);
    ASSERT_EQ(library->Get<CanInitEntry>("CAN_Init")(0x672F, 0), 0u);
    DriverMsg start = Frame(0x000, {0x01, 5});
    ASSERT_EQ(library->Get<CanWriteEntry>("CAN_Write")(&start), 0u);
    const std::uint8_t text[] = {'k', 'e', 'p', 't'};
    ASSERT_EQ(library->Get<SimSetObjectEntry>("SimSetObject")(5, 0x2000, 0, text, 4), 0u);
    // The program's close: CAN_Close, then CAN_Close again on unloading, then release.
    library->Get<CanCloseEntry>("CAN_Close")();
    library->Get<CanCloseEntry>("CAN_Close")();
    library.reset();

    library = std::make_unique<Library>(SIMBUS_LIBRARY_PATH);
    ASSERT_NE(library->handle, nullptr);
    const SimCounters after = Counters(*library);
    EXPECT_EQ(after.loads - before.loads, 1u);
    EXPECT_EQ(after.unloads - before.unloads, 1u);
    EXPECT_EQ(after.inits - before.inits, 1u);
    EXPECT_EQ(after.closes - before.closes, 2u);
    EXPECT_EQ(after.writes - before.writes, 1u);
    EXPECT_EQ(library->Get<SimGetNodeStateEntry>("SimGetNodeState")(5), kSimStateOperational);
    std::uint8_t value[16] = {};
    std::uint32_t length = 0;
    ASSERT_EQ(library->Get<SimGetObjectEntry>("SimGetObject")(5, 0x2000, 0, value, sizeof value, &length), 0u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(value), length), "kept");
    // No second boot-up: the slaves were powered all along.
    ASSERT_EQ(library->Get<CanInitEntry>("CAN_Init")(0x672F, 0), 0u);
    EXPECT_TRUE(ReadAll(*library).empty());
}

// Values stored by 0x1010 last across unloads, until SimReset starts afresh.
TEST_F(LoadedLibrary, StoredValuesLastAcrossUnloadsUntilSimReset)
{
    ASSERT_EQ(library->Get<CanInitEntry>("CAN_Init")(0x672F, 0), 0u);
    ReadAll(*library);
    const std::uint8_t text[] = {'k', 'e', 'p', 't'};
    ASSERT_EQ(library->Get<SimSetObjectEntry>("SimSetObject")(5, 0x2000, 0, text, 4), 0u);
    DriverMsg save = Frame(0x605, {0x23, 0x10, 0x10, 0x03, 0x73, 0x61, 0x76, 0x65});
    ASSERT_EQ(library->Get<CanWriteEntry>("CAN_Write")(&save), 0u);
    EXPECT_EQ(ReadAll(*library), std::vector<std::string>{"585 8: 60 10 10 03 00 00 00 00"});
    library->Get<CanCloseEntry>("CAN_Close")();
    library.reset();

    library = std::make_unique<Library>(SIMBUS_LIBRARY_PATH);
    ASSERT_NE(library->handle, nullptr);
    const auto description = [this] {
        std::uint8_t value[256] = {};
        std::uint32_t length = 0;
        EXPECT_EQ(library->Get<SimGetObjectEntry>("SimGetObject")(5, 0x2000, 0, value, sizeof value, &length), 0u);
        return std::string(reinterpret_cast<char*>(value), length);
    };
    ASSERT_EQ(library->Get<SimBootNodeEntry>("SimBootNode")(5), 0u);
    EXPECT_EQ(description(), "kept");
    ASSERT_EQ(library->Get<SimResetEntry>("SimReset")(), 0u);
    ASSERT_EQ(library->Get<SimSetObjectEntry>("SimSetObject")(5, 0x2000, 0, text, 4), 0u);
    ASSERT_EQ(library->Get<SimBootNodeEntry>("SimBootNode")(5), 0u);
    EXPECT_EQ(description().substr(0, 9), "SimDrive ");
}

// A node-ID given and stored through LSS is the device's for the life of the process.
TEST_F(LoadedLibrary, AnLssNodeIdLastsAcrossUnloads)
{
    const auto write = [this](std::initializer_list<std::uint8_t> bytes) {
        DriverMsg msg = Frame(0x7E5, bytes);
        msg.length = 8;
        EXPECT_EQ(library->Get<CanWriteEntry>("CAN_Write")(&msg), 0u);
        return ReadAll(*library);
    };
    ASSERT_EQ(library->Get<CanInitEntry>("CAN_Init")(0x672F, 0), 0u);
    ReadAll(*library);
    write({0x40, 0x0A, 0x0F, 0, 0});  // the drive's identity
    write({0x41, 0x02, 0x04, 0, 0});
    write({0x42, 0x00, 0x00, 0x01, 0});
    EXPECT_EQ(write({0x43, 0x05, 0x20, 0, 0}), std::vector<std::string>{"7E4 8: 44 00 00 00 00 00 00 00"});
    EXPECT_EQ(write({0x11, 9}), std::vector<std::string>{"7E4 8: 11 00 00 00 00 00 00 00"});
    EXPECT_EQ(write({0x17}), std::vector<std::string>{"7E4 8: 17 00 00 00 00 00 00 00"});
    library->Get<CanCloseEntry>("CAN_Close")();
    library.reset();

    library = std::make_unique<Library>(SIMBUS_LIBRARY_PATH);
    ASSERT_NE(library->handle, nullptr);
    ASSERT_EQ(library->Get<CanInitEntry>("CAN_Init")(0x672F, 0), 0u);
    EXPECT_TRUE(ReadAll(*library).empty());
    DriverMsg reset = Frame(0x000, {0x82, 0});
    ASSERT_EQ(library->Get<CanWriteEntry>("CAN_Write")(&reset), 0u);
    EXPECT_EQ(ReadAll(*library), (std::vector<std::string>{"703 1: 00", "709 1: 00"}));
    const auto state = library->Get<SimGetNodeStateEntry>("SimGetNodeState");
    EXPECT_EQ(state(5), kSimStateAbsent);
    ASSERT_EQ(library->Get<SimBootNodeEntry>("SimBootNode")(9), 0u);
    EXPECT_EQ(state(9), kSimStatePreOperational) << "stored: powered again it is still 9";
    EXPECT_EQ(ReadAll(*library), std::vector<std::string>{"709 1: 00"});
}

TEST_F(LoadedLibrary, ControlsReachTheDriverNames)
{
    const auto init = library->Get<CanInitEntry>("CAN_Init");
    const auto write = library->Get<CanWriteEntry>("CAN_Write");
    const auto status = library->Get<CanStatusEntry>("CAN_Status");
    DriverMsg request = Frame(0x605, {0x40, 0x00, 0x10, 0x00, 0, 0, 0, 0});
    EXPECT_EQ(write(&request), kSimNotInitialised);
    ASSERT_EQ(init(0x672F, 0), 0u);
    ReadAll(*library);
    library->Get<SimWriteFullEntry>("SimWriteFull")(1);
    EXPECT_EQ(write(&request), kSimTransmitFull);
    EXPECT_EQ(write(&request), 0u);
    EXPECT_EQ(ReadAll(*library), std::vector<std::string>{"585 8: 43 00 10 00 92 01 02 00"});
    library->Get<SimSetStatusEntry>("SimSetStatus")(0x0010);
    EXPECT_EQ(status(), 0x0010u);
    library->Get<SimSetStatusEntry>("SimSetStatus")(0);
    EXPECT_EQ(status(), 0u);
    library->Get<SimWriteRefuseEntry>("SimWriteRefuse")(kSimAlways);
    EXPECT_EQ(write(&request), kSimWriteRefused);
    library->Get<SimWriteRefuseEntry>("SimWriteRefuse")(0);
    library->Get<SimSetNodeModeEntry>("SimSetNodeMode")(5, kSimNodeDelayed, 50);
    library->Get<SimSetClockEntry>("SimSetClock")(1, 5000);
    EXPECT_EQ(write(&request), 0u);
    library->Get<SimSetClockEntry>("SimSetClock")(1, 5049);
    EXPECT_TRUE(ReadAll(*library).empty());
    library->Get<SimSetClockEntry>("SimSetClock")(1, 5050);
    EXPECT_EQ(ReadAll(*library).size(), 1u);
    DriverMsg sent{};
    EXPECT_EQ(library->Get<SimReadSentEntry>("SimReadSent")(&sent), 0u);
    EXPECT_EQ(Text(sent), "605 8: 40 00 10 00 00 00 00 00");
    library->Get<SimClearSentEntry>("SimClearSent")();
    EXPECT_EQ(library->Get<SimReadSentEntry>("SimReadSent")(&sent), kSimReceiveEmpty);
    library->Get<SimSetClockEntry>("SimSetClock")(0, 0);
}

// The program's tests run their process on the manual clock, standing still here. The
// library keeps real time of its own: a delayed slave still answers after its delay,
// and the library's readings leave the process's clock alone.
TEST_F(LoadedLibrary, KeepsRealTimeWhileTheProcessRunsTheManualClock)
{
    struct SystemClockAfterwards {
        ~SystemClockAfterwards() { UseSystemClock(); }
    } restore;
    ASSERT_EQ(library->Get<CanInitEntry>("CAN_Init")(0x672F, 0), 0u);
    ReadAll(*library);
    ASSERT_EQ(library->Get<SimSetNodeModeEntry>("SimSetNodeMode")(5, kSimNodeDelayed, 20), 0u);
    UseManualClock(7000);
    DriverMsg request = Frame(0x605, {0x40, 0x00, 0x10, 0x00, 0, 0, 0, 0});
    ASSERT_EQ(library->Get<CanWriteEntry>("CAN_Write")(&request), 0u);
    std::vector<std::string> frames;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (frames.empty() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        frames = ReadAll(*library);
    }
    EXPECT_EQ(frames, std::vector<std::string>{"585 8: 43 00 10 00 92 01 02 00"});
    EXPECT_EQ(TickMs(), 7000u);
}

// Heartbeats on the library's manual clock, an emergency raised by its control.
TEST_F(LoadedLibrary, HeartbeatsAndEmergenciesThroughTheExports)
{
    const auto clock = library->Get<SimSetClockEntry>("SimSetClock");
    const auto write = library->Get<CanWriteEntry>("CAN_Write");
    const auto raise = library->Get<SimRaiseEmergencyEntry>("SimRaiseEmergency");
    ASSERT_EQ(clock(1, 40000), 0u);
    ASSERT_EQ(library->Get<CanInitEntry>("CAN_Init")(0x672F, 0), 0u);
    ReadAll(*library);
    DriverMsg heartbeat = Frame(0x605, {0x2B, 0x17, 0x10, 0x00, 0xC8, 0x00, 0, 0});  // 200 ms
    ASSERT_EQ(write(&heartbeat), 0u);
    EXPECT_EQ(ReadAll(*library), std::vector<std::string>{"585 8: 60 17 10 00 00 00 00 00"});
    ASSERT_EQ(clock(1, 40399), 0u);
    EXPECT_EQ(ReadAll(*library), std::vector<std::string>{"705 1: 7F"});
    const std::uint8_t manufacturer[5] = {1, 2, 3, 4, 5};
    EXPECT_EQ(raise(5, 0x4310, kSimAutoErrorRegister, manufacturer), 0u);
    EXPECT_EQ(raise(5, 0x4310, 0x100, manufacturer), kSimIllegalParameter);
    ASSERT_EQ(clock(1, 40400), 0u);
    EXPECT_EQ(ReadAll(*library), (std::vector<std::string>{"085 8: 10 43 09 01 02 03 04 05", "705 1: 7F"}));
    std::uint8_t value[4] = {};
    std::uint32_t length = 0;
    ASSERT_EQ(library->Get<SimGetObjectEntry>("SimGetObject")(5, 0x1001, 0, value, sizeof value, &length), 0u);
    EXPECT_EQ(length, 1u);
    EXPECT_EQ(value[0], 0x09);
    EXPECT_EQ(raise(5, 0, kSimAutoErrorRegister, nullptr), 0u);
    EXPECT_EQ(ReadAll(*library), std::vector<std::string>{"085 8: 00 00 00 00 00 00 00 00"});
    clock(0, 0);
}

TEST_F(LoadedLibrary, AnimationStopsAndOutputsReadBack)
{
    const auto get = library->Get<SimGetObjectEntry>("SimGetObject");
    const auto clock = library->Get<SimSetClockEntry>("SimSetClock");
    std::uint8_t value[4] = {};
    std::uint32_t length = 0;
    clock(1, 750);
    ASSERT_EQ(get(3, 0x6000, 1, value, sizeof value, &length), 0u);
    EXPECT_EQ(value[0], 0x08);
    library->Get<SimSetAnimationEntry>("SimSetAnimation")(0);
    clock(1, 1000);
    ASSERT_EQ(get(3, 0x6000, 1, value, sizeof value, &length), 0u);
    EXPECT_EQ(value[0], 0x08);
    const std::uint8_t output = 0x3C;
    ASSERT_EQ(library->Get<SimSetObjectEntry>("SimSetObject")(3, 0x6200, 1, &output, 1), 0u);
    ASSERT_EQ(get(3, 0x6000, 2, value, sizeof value, &length), 0u);
    EXPECT_EQ(value[0], 0x3C);
    EXPECT_EQ(get(3, 0x6000, 3, value, sizeof value, &length), 0x06090011u);
    EXPECT_EQ(get(3, 0x7000, 0, value, sizeof value, &length), 0x06020000u);
    EXPECT_EQ(get(4, 0x1000, 0, value, sizeof value, &length), 0x06020000u);
    EXPECT_EQ(get(3, 0x1008, 0, value, sizeof value, &length), 0x06070012u);
    clock(0, 0);
    library->Get<SimSetAnimationEntry>("SimSetAnimation")(1);
}

TEST_F(LoadedLibrary, NetworkFileBesideTheLibrary)
{
    // A copy of the library in a folder of its own, with a network file and an EDS file.
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("simbus-test-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    std::filesystem::copy_file(SIMBUS_LIBRARY_PATH, folder / "pcan_usb.so",
                               std::filesystem::copy_options::overwrite_existing);
    std::ofstream(folder / "simbus.ini") << "[Network]\r\nBitRate=250\r\n[Nodes]\r\n7=drive.eds\r\n9=small.eds\r\n";
    std::ofstream(folder / "small.eds")
        << "[MandatoryObjects]\n1=0x1000\n[1000]\nDataType=0x0007\nAccessType=ro\nDefaultValue=$NODEID\n";
    {
        Library copy((folder / "pcan_usb.so").string());
        ASSERT_NE(copy.handle, nullptr) << dlerror();
        EXPECT_EQ(copy.Get<SimResetEntry>("SimReset")(), 0u);
        char errors[256] = {};
        copy.Get<SimGetLastErrorEntry>("SimGetLastError")(errors, sizeof errors);
        EXPECT_STREQ(errors, "");
        const auto init = copy.Get<CanInitEntry>("CAN_Init");
        const auto write = copy.Get<CanWriteEntry>("CAN_Write");
        DriverMsg request = Frame(0x609, {0x40, 0x00, 0x10, 0x00, 0, 0, 0, 0});
        ASSERT_EQ(init(0x672F, 0), 0u);  // 10 kbit/s on a 250 kbit/s network
        EXPECT_EQ(write(&request), 0u);
        EXPECT_TRUE(ReadAll(copy).empty());
        copy.Get<CanCloseEntry>("CAN_Close")();
        ASSERT_EQ(init(0x011C, 0), 0u);
        EXPECT_EQ(write(&request), 0u);
        EXPECT_EQ(ReadAll(copy),
                  (std::vector<std::string>{"707 1: 00", "709 1: 00", "589 8: 43 00 10 00 09 00 00 00"}));
        EXPECT_EQ(copy.Get<SimGetNodeStateEntry>("SimGetNodeState")(3), kSimStateAbsent);
        copy.Get<CanCloseEntry>("CAN_Close")();
    }
    std::filesystem::remove_all(folder);
    // Back to the default network for the other tests.
    EXPECT_EQ(library->Get<SimResetEntry>("SimReset")(), 0u);
    EXPECT_EQ(library->Get<SimGetNodeStateEntry>("SimGetNodeState")(3), kSimStatePreOperational);
}

}  // namespace
