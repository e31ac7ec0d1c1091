#include "sim_controls.h"

#include <cstdio>

#include "files.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

template <typename Entry>
bool Resolve(LibraryHandle module, const char* name, Entry& entry)
{
    entry = reinterpret_cast<Entry>(ResolveEntryPoint(module, name));
    return entry != nullptr;
}

// "simbus.ini" in the executable's folder, UTF-8.
std::string NetworkFilePath()
{
#if defined(_WIN32)
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    char utf8[4 * MAX_PATH];
    const int bytes =
        WideCharToMultiByte(CP_UTF8, 0, path, static_cast<int>(length), utf8, sizeof utf8, nullptr, nullptr);
    const std::string executable(utf8, bytes > 0 ? static_cast<std::size_t>(bytes) : 0);
    const char separator = '\\';
#else
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    const std::string executable(path, length > 0 ? static_cast<std::size_t>(length) : 0);
    const char separator = '/';
#endif
    return executable.substr(0, executable.rfind(separator) + 1) + "simbus.ini";
}

}  // namespace

bool SimControls::Load()
{
    module = LoadLibraryFile(kSimLibraryFile);
    if (module == nullptr)
        return false;
    bool all = Resolve(module, "SimReset", reset);
    all &= Resolve(module, "SimGetLastError", lastError);
    all &= Resolve(module, "SimGetCounters", counters);
    all &= Resolve(module, "SimInjectFrame", injectFrame);
    all &= Resolve(module, "SimInjectStatus", injectStatus);
    all &= Resolve(module, "SimReadSent", readSent);
    all &= Resolve(module, "SimClearSent", clearSent);
    all &= Resolve(module, "SimWriteFull", writeFull);
    all &= Resolve(module, "SimWriteRefuse", writeRefuse);
    all &= Resolve(module, "SimSetStatus", setStatus);
    all &= Resolve(module, "SimSetNodeMode", setNodeMode);
    all &= Resolve(module, "SimBootNode", bootNode);
    all &= Resolve(module, "SimFloodPdo", floodPdo);
    all &= Resolve(module, "SimGetNodeState", nodeState);
    all &= Resolve(module, "SimRaiseEmergency", raiseEmergency);
    all &= Resolve(module, "SimGetObject", getObject);
    all &= Resolve(module, "SimSetObject", setObject);
    all &= Resolve(module, "SimSetClock", setClock);
    all &= Resolve(module, "SimSetAnimation", setAnimation);
    all &= Resolve(module, "CAN_Init", canInit);
    all &= Resolve(module, "CAN_Close", canClose);
    all &= Resolve(module, "CAN_Write", canWrite);
    all &= Resolve(module, "CAN_Read", canRead);
    return all;
}

void SimControls::Unload()
{
    ReleaseLibrary(module);
    module = nullptr;
}

std::vector<DriverMsg> SimControls::TakeSent()
{
    std::vector<DriverMsg> frames;
    DriverMsg msg{};
    while (readSent(&msg) == kSimOk)
        frames.push_back(msg);
    return frames;
}

SimCounters SimControls::Counters()
{
    SimCounters c{};
    counters(&c);
    return c;
}

std::uint32_t SimControls::ObjectU32(std::uint32_t node, std::uint32_t index, std::uint32_t subIndex)
{
    std::uint8_t data[4] = {};
    std::uint32_t length = 0;
    getObject(node, index, subIndex, data, sizeof data, &length);
    return data[0] | (data[1] << 8) | (data[2] << 16) | (static_cast<std::uint32_t>(data[3]) << 24);
}

std::string FrameText(const DriverMsg& msg)
{
    char text[64];
    int used = std::snprintf(text, sizeof text, "%03X", static_cast<unsigned>(msg.id));
    if ((msg.msgType & kMsgRemote) != 0) {
        std::snprintf(text + used, sizeof text - used, " RTR %u", msg.length);
        return text;
    }
    used += std::snprintf(text + used, sizeof text - used, " %u:", msg.length);
    for (unsigned i = 0; i < msg.length && i < 8; ++i)
        used += std::snprintf(text + used, sizeof text - used, " %02X", msg.data[i]);
    return text;
}

void WriteNetworkFile(const std::string& text)
{
    std::FILE* file = OpenFileUtf8(NetworkFilePath().c_str(), "wb");
    if (file == nullptr)
        return;
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
}

void RemoveNetworkFile()
{
    std::remove(NetworkFilePath().c_str());
}
