// Emergency messages of the supervised slave (COB-ID 0x80 + node): the last 64 as they
// arrived, and their decoding by error code class and error register bit.
//
//     EmergencyLog& log = MasterEmergencyLog();
//     WatchEmergencies(log, 3);
//     ...for every received frame: ReceiveEmergency(log, frame, TickMs());
//     for (std::uint32_t age = 0; age < HeldEmergencies(log); ++age)
//         show(NewestEmergency(log, age));     // age 0 is the newest
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "node_table.h"

struct Emergency {
    std::uint16_t errorCode;                   // bytes 0 and 1, little-endian
    std::uint8_t errorRegister;                // byte 2 (object 0x1001)
    std::array<std::uint8_t, 5> manufacturer;  // bytes 3 to 7; bytes the frame lacked are 0
    std::uint32_t tick;                        // when it arrived
};

constexpr std::size_t kEmergencyCapacity = 64;

struct EmergencyLog {
    std::uint8_t node;                                  // the watched slave; 0: none
    std::uint8_t heldNode;                              // whose emergencies the entries are
    std::array<Emergency, kEmergencyCapacity> entries;  // a ring: entry (received - 1) % 64 is the newest
    std::uint32_t received;                             // since WatchEmergencies
};

void WatchEmergencies(EmergencyLog& log, std::uint32_t node);
// Takes no more emergencies; what is held stays readable.
void PauseEmergencies(EmergencyLog& log);
// Takes `node`'s emergencies again: what is held stays when it is that node's, else the
// log starts empty as WatchEmergencies does.
void ResumeEmergencies(EmergencyLog& log, std::uint32_t node);

// Takes a received frame: 1 when it was an emergency of the watched node. A frame of fewer
// than 3 bytes carries no error code and register and is not one.
int ReceiveEmergency(EmergencyLog& log, const CanFrame& frame, std::uint32_t now);

// How many are held (at most 64), and one of them by age (0: the newest).
std::uint32_t HeldEmergencies(const EmergencyLog& log);
const Emergency& NewestEmergency(const EmergencyLog& log, std::uint32_t age);

// The error code classes of the communication profile. The numbers are positions in the
// text tables of the front ends.
enum class EmergencyClass : std::uint8_t {
    ErrorReset = 0,       // 00xx: error reset or no error
    Generic,              // 10xx
    Current,              // 20xx to 23xx
    Voltage,              // 30xx to 33xx
    Temperature,          // 40xx to 42xx
    Hardware,             // 50xx: device hardware
    Software,             // 60xx to 63xx: device software
    AdditionalModules,    // 70xx
    Monitoring,           // 80xx: monitoring
    Communication,        // 81xx: monitoring, communication
    Protocol,             // 82xx: monitoring, protocol error
    External,             // 90xx
    AdditionalFunctions,  // F0xx
    DeviceSpecific,       // FFxx
    Unassigned,           // any code the profile gives no class
};
constexpr std::size_t kEmergencyClassCount = 15;

EmergencyClass ClassOfEmergency(std::uint16_t errorCode);

// The communication and protocol codes with a meaning of their own (8110, 8120, 8130,
// 8140, 8150, 8210, 8220, 8230, 8240, 8250): their position 1 to 10 in that order, 0 for
// any other code.
std::uint32_t NamedMonitoringCode(std::uint16_t errorCode);
constexpr std::uint32_t kNamedMonitoringCodes = 10;

// The error register's bits: 0 generic, 1 current, 2 voltage, 3 temperature,
// 4 communication, 5 device profile specific, 6 reserved, 7 manufacturer specific.
constexpr std::uint32_t kErrorRegisterBits = 8;

// The program's own log.
EmergencyLog& MasterEmergencyLog();
