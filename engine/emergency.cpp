#include "emergency.h"

#include "byte_order.h"

namespace {

constexpr std::uint32_t kEmergencyBase = 0x80;
constexpr std::uint8_t kSmallestEmergency = 3;  // error code and error register

constexpr std::array<std::uint16_t, kNamedMonitoringCodes> kMonitoringCodes = {
    0x8110, 0x8120, 0x8130, 0x8140, 0x8150, 0x8210, 0x8220, 0x8230, 0x8240, 0x8250,
};

}  // namespace

void WatchEmergencies(EmergencyLog& log, std::uint32_t node)
{
    log.node = static_cast<std::uint8_t>(node & 0x7Fu);
    log.heldNode = log.node;
    log.received = 0;
}

void PauseEmergencies(EmergencyLog& log)
{
    log.node = 0;
}

void ResumeEmergencies(EmergencyLog& log, std::uint32_t node)
{
    if ((node & 0x7Fu) != log.heldNode)
        WatchEmergencies(log, node);
    else
        log.node = log.heldNode;
}

int ReceiveEmergency(EmergencyLog& log, const CanFrame& frame, std::uint32_t now)
{
    // Node 0 would make the watched COB-ID 0x80, the SYNC message.
    if (log.node == 0 || frame.id != kEmergencyBase + log.node || frame.remote != 0 ||
        frame.length < kSmallestEmergency)
        return 0;
    Emergency& entry = log.entries[log.received % kEmergencyCapacity];
    entry = Emergency{};
    entry.errorCode = LoadLe16(frame.data.data());
    entry.errorRegister = frame.data[2];
    const std::uint8_t length = frame.length < 8 ? frame.length : 8;
    for (std::uint8_t i = kSmallestEmergency; i < length; ++i)
        entry.manufacturer[i - kSmallestEmergency] = frame.data[i];
    entry.tick = now;
    ++log.received;
    return 1;
}

std::uint32_t HeldEmergencies(const EmergencyLog& log)
{
    return log.received < kEmergencyCapacity ? log.received : static_cast<std::uint32_t>(kEmergencyCapacity);
}

const Emergency& NewestEmergency(const EmergencyLog& log, std::uint32_t age)
{
    const std::uint32_t held = HeldEmergencies(log);
    const std::uint32_t back = held == 0 ? 0 : (age < held ? age : held - 1);
    return log.entries[(log.received - 1 - back) % kEmergencyCapacity];
}

EmergencyClass ClassOfEmergency(std::uint16_t errorCode)
{
    // By the high byte; the sub-classes the profile lists (21xx input side, 32xx inside
    // the device, ...) belong to their class, and high bytes it leaves free to none.
    const std::uint8_t high = static_cast<std::uint8_t>(errorCode >> 8);
    if (high == 0x00)
        return EmergencyClass::ErrorReset;
    if (high == 0x10)
        return EmergencyClass::Generic;
    if (high >= 0x20 && high <= 0x23)
        return EmergencyClass::Current;
    if (high >= 0x30 && high <= 0x33)
        return EmergencyClass::Voltage;
    if (high >= 0x40 && high <= 0x42)
        return EmergencyClass::Temperature;
    if (high == 0x50)
        return EmergencyClass::Hardware;
    if (high >= 0x60 && high <= 0x63)
        return EmergencyClass::Software;
    if (high == 0x70)
        return EmergencyClass::AdditionalModules;
    if (high == 0x80)
        return EmergencyClass::Monitoring;
    if (high == 0x81)
        return EmergencyClass::Communication;
    if (high == 0x82)
        return EmergencyClass::Protocol;
    if (high == 0x90)
        return EmergencyClass::External;
    if (high == 0xF0)
        return EmergencyClass::AdditionalFunctions;
    if (high == 0xFF)
        return EmergencyClass::DeviceSpecific;
    return EmergencyClass::Unassigned;
}

std::uint32_t NamedMonitoringCode(std::uint16_t errorCode)
{
    for (std::uint32_t i = 0; i < kMonitoringCodes.size(); ++i)
        if (kMonitoringCodes[i] == errorCode)
            return i + 1;
    return 0;
}

EmergencyLog& MasterEmergencyLog()
{
    static EmergencyLog log{};
    return log;
}
