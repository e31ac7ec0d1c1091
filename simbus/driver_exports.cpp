// The library's exports: the eight driver names and the Sim* test controls, over the
// one World of the process.
//
// The program loads the library for every use of the bus and unloads it afterwards,
// while the slaves must keep their values and NMT states for the life of the process.
// So the World is allocated once per process outside the module's own memory (pages
// from the system, never freed) and its address is left in the process environment
// ("VELOMAR_SIMBUS_STATE" = "<process id>:<address>"); a reloaded library finds it
// there. The process id guards against a child process that inherits the variable.
// Loads and unloads still count as they happen, through a static object's lifetime.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "driver_entries.h"
#include "emergency_producer.h"
#include "module_file.h"
#include "network.h"
#include "object_dictionary.h"
#include "simbus_control.h"
#include "tick.h"
#include "virtual_bus.h"
#include "world.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

using simbus::World;

extern "C" {
SIMBUS_EXPORT std::uint32_t DRIVER_CALL CAN_Init(std::uint16_t btr0btr1, int frameType);
SIMBUS_EXPORT std::uint32_t DRIVER_CALL CAN_Close();
SIMBUS_EXPORT std::uint32_t DRIVER_CALL CAN_Status();
SIMBUS_EXPORT std::uint32_t DRIVER_CALL CAN_Write(DriverMsg* msg);
SIMBUS_EXPORT std::uint32_t DRIVER_CALL CAN_Read(DriverMsg* msg);
SIMBUS_EXPORT std::uint32_t DRIVER_CALL CAN_VersionInfo(char* text);
SIMBUS_EXPORT std::uint32_t DRIVER_CALL CAN_SpecialFunktion(unsigned long function, int param);
SIMBUS_EXPORT std::uint32_t DRIVER_CALL CAN_ResetClient();
}

namespace {

constexpr char kStateVariable[] = "VELOMAR_SIMBUS_STATE";
constexpr char kNetworkFile[] = "simbus.ini";

World* g_world = nullptr;

unsigned long long ProcessId()
{
#if defined(_WIN32)
    return GetCurrentProcessId();
#else
    return static_cast<unsigned long long>(getpid());
#endif
}

#if defined(_WIN32)
std::wstring Widen(const std::string& utf8)
{
    const int count = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
    if (count <= 0)
        return std::wstring();
    std::wstring wide(static_cast<std::size_t>(count), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, wide.data(), count);
    wide.resize(static_cast<std::size_t>(count - 1));
    return wide;
}

std::string Narrow(const std::wstring& wide)
{
    const int count = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (count <= 0)
        return std::string();
    std::string utf8(static_cast<std::size_t>(count), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, utf8.data(), count, nullptr, nullptr);
    utf8.resize(static_cast<std::size_t>(count - 1));
    return utf8;
}
#endif

std::string ReadStateVariable()
{
#if defined(_WIN32)
    wchar_t text[64];
    const DWORD length = GetEnvironmentVariableW(L"VELOMAR_SIMBUS_STATE", text, 64);
    if (length == 0 || length >= 64)
        return std::string();
    return Narrow(text);
#else
    const char* text = std::getenv(kStateVariable);
    return text == nullptr ? std::string() : std::string(text);
#endif
}

void WriteStateVariable(const World* world)
{
    char text[64];
    std::snprintf(text, sizeof text, "%llu:%llx", ProcessId(),
                  static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(world)));
#if defined(_WIN32)
    SetEnvironmentVariableW(L"VELOMAR_SIMBUS_STATE", Widen(text).c_str());
#else
    setenv(kStateVariable, text, 1);
#endif
}

World* FindSavedWorld()
{
    const std::string text = ReadStateVariable();
    unsigned long long pid = 0;
    unsigned long long address = 0;
    if (std::sscanf(text.c_str(), "%llu:%llx", &pid, &address) != 2 || pid != ProcessId() || address == 0)
        return nullptr;
    World* world = reinterpret_cast<World*>(static_cast<std::uintptr_t>(address));
    if (world->magic != simbus::kWorldMagic || world->layoutSize != sizeof(World))
        return nullptr;
    return world;
}

World* AcquireWorld()
{
    if (World* saved = FindSavedWorld())
        return saved;
        // Zero-filled pages that no module owns: they stay when this library is unloaded.
#if defined(_WIN32)
    void* memory = VirtualAlloc(nullptr, sizeof(World), MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (memory == nullptr)
        return nullptr;
#else
    void* memory = mmap(nullptr, sizeof(World), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED)
        return nullptr;
#endif
    World* world = new (memory) World;  // trivial: the zero fill is an empty world
    world->magic = simbus::kWorldMagic;
    world->layoutSize = sizeof(World);
    WriteStateVariable(world);
    return world;
}

// The folder of this library's file, with a trailing separator; "" when unknown.
std::string ModuleFolder()
{
    std::string folder(32768 * 3, '\0');  // the longest Windows path, in UTF-8
    if (!driverlib::ModuleFolder(folder.data(), folder.size()))
        return std::string();
    folder.resize(std::strlen(folder.c_str()));
    return folder;
}

bool ReadFileText(const std::string& utf8Path, std::string& text)
{
#if defined(_WIN32)
    std::FILE* file = _wfopen(Widen(utf8Path).c_str(), L"rb");
#else
    std::FILE* file = std::fopen(utf8Path.c_str(), "rb");
#endif
    if (file == nullptr)
        return false;
    text.clear();
    char buffer[4096];
    std::size_t count = 0;
    while ((count = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        text.append(buffer, count);
    const bool ok = std::ferror(file) == 0;
    std::fclose(file);
    return ok;
}

bool IsAbsolutePath(const std::string& path)
{
    if (!path.empty() && (path[0] == '/' || path[0] == '\\'))
        return true;
    return path.size() > 1 && path[1] == ':';
}

// EDS files named in a network file: a file (relative to the network file's folder),
// else an embedded EDS of that name.
bool ReadNamedEds(const std::string& name, void* context, std::string& text)
{
    const std::string& folder = *static_cast<const std::string*>(context);
    if (ReadFileText(IsAbsolutePath(name) ? name : folder + name, text))
        return true;
    const std::string_view embedded = simbus::FindEmbeddedEds(name);
    text.assign(embedded.begin(), embedded.end());
    return !embedded.empty();
}

// The default network takes its EDS files from the library only, whatever lies beside it.
bool ReadEmbeddedEds(const std::string& name, void*, std::string& text)
{
    const std::string_view embedded = simbus::FindEmbeddedEds(name);
    text.assign(embedded.begin(), embedded.end());
    return !embedded.empty();
}

std::uint32_t LoadConfiguredNetwork(World& world)
{
    std::string folder = ModuleFolder();
    std::string text;
    std::string errors;
    if (ReadFileText(folder + kNetworkFile, text)) {
        const simbus::NetworkDescription network = simbus::ParseNetwork(text, errors);
        simbus::BuildNetwork(world, network, ReadNamedEds, &folder, errors);
    } else {
        simbus::BuildNetwork(world, simbus::DefaultNetwork(), ReadEmbeddedEds, nullptr, errors);
    }
    return errors.empty() ? kSimOk : kSimIllegalParameter;
}

// The World with its network loaded; nullptr only when no memory could be had.
World* Ready()
{
    if (g_world == nullptr)
        g_world = AcquireWorld();
    if (g_world != nullptr && !g_world->networkLoaded)
        LoadConfiguredNetwork(*g_world);
    return g_world;
}

std::uint32_t Now(const World& world)
{
    if (world.controls.manualClock)
        return world.controls.manualTick;
    // The library's own copy of the tick: a program's tests may run their process on the
    // manual clock, which must not stop the slaves' clock (nor be moved by its readings).
    return TickMs();
}

// Counts loads and unloads. The network is read at the first driver call, not here:
// on Windows this runs under the loader lock.
struct ModuleLifetime {
    ModuleLifetime()
    {
        g_world = AcquireWorld();
        if (g_world != nullptr)
            ++g_world->counters.loads;
    }
    ~ModuleLifetime()
    {
        if (g_world != nullptr)
            ++g_world->counters.unloads;
    }
    ModuleLifetime(const ModuleLifetime&) = delete;
    ModuleLifetime& operator=(const ModuleLifetime&) = delete;
};

const ModuleLifetime g_lifetime;

bool ValidNodeNumber(std::uint32_t node)
{
    return node >= 1 && node <= simbus::kMaxNodeId;
}

}  // namespace

extern "C" {

std::uint32_t DRIVER_CALL CAN_Init(std::uint16_t btr0btr1, int frameType)
{
    World* world = Ready();
    return world == nullptr ? kSimIllegalParameter : simbus::AdapterInit(*world, btr0btr1, frameType, Now(*world));
}

std::uint32_t DRIVER_CALL CAN_Close()
{
    World* world = Ready();
    return world == nullptr ? kSimIllegalParameter : simbus::AdapterClose(*world);
}

std::uint32_t DRIVER_CALL CAN_Status()
{
    World* world = Ready();
    return world == nullptr ? kSimIllegalParameter : simbus::AdapterStatus(*world, Now(*world));
}

std::uint32_t DRIVER_CALL CAN_Write(DriverMsg* msg)
{
    World* world = Ready();
    return world == nullptr ? kSimIllegalParameter : simbus::AdapterWrite(*world, msg, Now(*world));
}

std::uint32_t DRIVER_CALL CAN_Read(DriverMsg* msg)
{
    World* world = Ready();
    return world == nullptr ? kSimIllegalParameter : simbus::AdapterRead(*world, msg, Now(*world));
}

static_assert(kSimAutoErrorRegister == simbus::kAutoErrorRegister);
static_assert(kSimOk == driverlib::kOk && kSimReceiveEmpty == driverlib::kReceiveEmpty &&
              kSimIllegalParameter == driverlib::kIllegalParameter);

std::uint32_t DRIVER_CALL CAN_VersionInfo(char* text)
{
    return driverlib::VersionInfoEntry(text, "Velomar simulated CAN bus 1.0", "");
}

// The adapter has no special functions.
std::uint32_t DRIVER_CALL CAN_SpecialFunktion(unsigned long, int)
{
    return kSimIllegalParameter;
}

std::uint32_t DRIVER_CALL CAN_ResetClient()
{
    World* world = Ready();
    return world == nullptr ? kSimIllegalParameter : simbus::AdapterResetClient(*world);
}

std::uint32_t DRIVER_CALL SimReset()
{
    if (g_world == nullptr)
        g_world = AcquireWorld();
    if (g_world == nullptr)
        return kSimIllegalParameter;
    World& world = *g_world;
    simbus::ResetSimulation(world);
    return LoadConfiguredNetwork(world);
}

std::uint32_t DRIVER_CALL SimGetLastError(char* text, std::uint32_t size)
{
    World* world = Ready();
    if (world == nullptr || text == nullptr || size == 0)
        return kSimIllegalParameter;
    std::snprintf(text, size, "%s", world->lastError);
    return kSimOk;
}

std::uint32_t DRIVER_CALL SimGetCounters(SimCounters* counters)
{
    World* world = Ready();
    if (world == nullptr || counters == nullptr)
        return kSimIllegalParameter;
    *counters = world->counters;
    return kSimOk;
}

std::uint32_t DRIVER_CALL SimInjectFrame(const DriverMsg* msg)
{
    World* world = Ready();
    return world == nullptr ? kSimIllegalParameter : simbus::InjectFrame(*world, msg);
}

std::uint32_t DRIVER_CALL SimInjectStatus(std::uint32_t status)
{
    World* world = Ready();
    return world == nullptr ? kSimIllegalParameter : simbus::InjectStatus(*world, status);
}

std::uint32_t DRIVER_CALL SimReadSent(DriverMsg* msg)
{
    World* world = Ready();
    return world == nullptr ? kSimIllegalParameter : simbus::ReadSent(*world, msg);
}

std::uint32_t DRIVER_CALL SimClearSent()
{
    World* world = Ready();
    if (world == nullptr)
        return kSimIllegalParameter;
    world->sent.head = 0;
    world->sent.count = 0;
    return kSimOk;
}

std::uint32_t DRIVER_CALL SimWriteFull(std::uint32_t count)
{
    World* world = Ready();
    if (world == nullptr)
        return kSimIllegalParameter;
    world->controls.writeFull = count;
    return kSimOk;
}

std::uint32_t DRIVER_CALL SimWriteRefuse(std::uint32_t count)
{
    World* world = Ready();
    if (world == nullptr)
        return kSimIllegalParameter;
    world->controls.writeRefuse = count;
    return kSimOk;
}

std::uint32_t DRIVER_CALL SimSetStatus(std::uint32_t status)
{
    World* world = Ready();
    if (world == nullptr)
        return kSimIllegalParameter;
    world->controls.status = status;
    return kSimOk;
}

std::uint32_t DRIVER_CALL SimSetNodeMode(std::uint32_t node, std::uint32_t mode, std::uint32_t param)
{
    World* world = Ready();
    return world == nullptr ? kSimIllegalParameter : simbus::SetNodeMode(*world, node, mode, param);
}

std::uint32_t DRIVER_CALL SimBootNode(std::uint32_t node)
{
    World* world = Ready();
    return world == nullptr ? kSimIllegalParameter : simbus::BootNode(*world, node, Now(*world));
}

std::uint32_t DRIVER_CALL SimFloodPdo(std::uint32_t node, std::uint32_t count)
{
    World* world = Ready();
    return world == nullptr ? kSimIllegalParameter : simbus::FloodPdo(*world, node, count, Now(*world));
}

std::uint32_t DRIVER_CALL SimGetNodeState(std::uint32_t node)
{
    World* world = Ready();
    return world == nullptr ? kSimStateAbsent : simbus::NodeState(*world, node);
}

std::uint32_t DRIVER_CALL SimRaiseEmergency(std::uint32_t node, std::uint32_t code, std::uint32_t errorRegister,
                                            const std::uint8_t* manufacturer)
{
    World* world = Ready();
    return world == nullptr ? kSimIllegalParameter
                            : simbus::SimulateEmergency(*world, node, code, errorRegister, manufacturer, Now(*world));
}

std::uint32_t DRIVER_CALL SimGetObject(std::uint32_t node, std::uint32_t index, std::uint32_t subIndex,
                                       std::uint8_t* data, std::uint32_t capacity, std::uint32_t* length)
{
    World* world = Ready();
    if (world == nullptr || !ValidNodeNumber(node) || index > 0xFFFF || subIndex > 0xFF || length == nullptr ||
        (data == nullptr && capacity != 0))
        return kSimIllegalParameter;
    *length = 0;
    const auto nodeId = static_cast<std::uint8_t>(node);
    simbus::ObjectEntry* entry = nullptr;
    const std::uint32_t abort = simbus::LookUpEntry(*world, nodeId, static_cast<std::uint16_t>(index),
                                                    static_cast<std::uint8_t>(subIndex), entry);
    if (abort != 0)
        return abort;
    simbus::RefreshInputs(*world, nodeId, Now(*world));
    if (entry->length > capacity)
        return simbus::kAbortTooLong;
    if (entry->length != 0)
        std::memcpy(data, simbus::EntryValue(*world, *entry), entry->length);
    *length = entry->length;
    return kSimOk;
}

std::uint32_t DRIVER_CALL SimSetObject(std::uint32_t node, std::uint32_t index, std::uint32_t subIndex,
                                       const std::uint8_t* data, std::uint32_t length)
{
    World* world = Ready();
    if (world == nullptr || !ValidNodeNumber(node) || index > 0xFFFF || subIndex > 0xFF ||
        (data == nullptr && length != 0))
        return kSimIllegalParameter;
    return simbus::SetValueDirect(*world, static_cast<std::uint8_t>(node), static_cast<std::uint16_t>(index),
                                  static_cast<std::uint8_t>(subIndex), data, length);
}

std::uint32_t DRIVER_CALL SimSetClock(std::uint32_t manual, std::uint32_t tick)
{
    World* world = Ready();
    if (world == nullptr)
        return kSimIllegalParameter;
    world->controls.manualClock = manual != 0 ? 1 : 0;
    world->controls.manualTick = tick;
    return kSimOk;
}

std::uint32_t DRIVER_CALL SimSetAnimation(std::uint32_t on)
{
    World* world = Ready();
    if (world == nullptr)
        return kSimIllegalParameter;
    world->controls.animationOff = on != 0 ? 0 : 1;
    return kSimOk;
}

}  // extern "C"
