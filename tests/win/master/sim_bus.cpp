#include "sim_bus.h"

#include <cstdio>

namespace {

template <typename Entry>
Entry Resolve(HMODULE module, const char* name)
{
    return reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace

bool SimBus::Load()
{
    module = LoadLibraryExW(L"pcan_usb.dll", nullptr, LOAD_LIBRARY_SEARCH_APPLICATION_DIR);
    if (module == nullptr)
        return false;
    reset = Resolve<SimResetEntry>(module, "SimReset");
    counters = Resolve<SimGetCountersEntry>(module, "SimGetCounters");
    readSent = Resolve<SimReadSentEntry>(module, "SimReadSent");
    clearSent = Resolve<SimClearSentEntry>(module, "SimClearSent");
    setStatus = Resolve<SimSetStatusEntry>(module, "SimSetStatus");
    setNodeMode = Resolve<SimSetNodeModeEntry>(module, "SimSetNodeMode");
    getObject = Resolve<SimGetObjectEntry>(module, "SimGetObject");
    setObject = Resolve<SimSetObjectEntry>(module, "SimSetObject");
    nodeState = Resolve<SimGetNodeStateEntry>(module, "SimGetNodeState");
    setAnimation = Resolve<SimSetAnimationEntry>(module, "SimSetAnimation");
    return reset && counters && readSent && clearSent && setStatus && setNodeMode && getObject && setObject &&
           nodeState && setAnimation;
}

void SimBus::Unload()
{
    if (module != nullptr)
        FreeLibrary(module);
    module = nullptr;
}

std::vector<DriverMsg> SimBus::TakeSent()
{
    std::vector<DriverMsg> frames;
    DriverMsg msg{};
    while (readSent(&msg) == kSimOk)
        frames.push_back(msg);
    return frames;
}

SimCounters SimBus::Counters()
{
    SimCounters c{};
    counters(&c);
    return c;
}

std::uint32_t SimBus::ObjectU32(std::uint32_t node, std::uint32_t index, std::uint32_t subIndex)
{
    std::uint8_t data[4] = {};
    std::uint32_t length = 0;
    getObject(node, index, subIndex, data, sizeof data, &length);
    return data[0] | (data[1] << 8) | (data[2] << 16) | (static_cast<std::uint32_t>(data[3]) << 24);
}

std::string Describe(const DriverMsg& msg)
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
