// Where the serial driver finds its adapter: the file slcan.ini beside the library, read
// anew by every CAN_Init.
//
//     [Serial]
//     Port=COM5          ; the adapter's serial port (on Linux hosts also /dev/ttyACM0)
//     Baud=115200        ; the port's speed (USB adapters ignore it; UART bridges do not)
//     TimeoutMs=1000     ; longest wait for each answer of the device
//     Log=0              ; 1: write the device's answers at opening to slcan.log beside
//                        ;    the library
//
// Port has no default: without the file or the key CAN_Init fails. Section and key names
// compare without regard to case; keys before any section count as [Serial]; ';' and '#'
// start comment lines.
#pragma once

#include <cstddef>
#include <cstdint>

namespace slcan {

constexpr const char* kConfigFileName = "slcan.ini";
constexpr const char* kLogFileName = "slcan.log";
constexpr std::uint32_t kMaxLogBytes = 256 * 1024;  // slcan.log starts afresh beyond

constexpr std::size_t kMaxPortLength = 255;
constexpr std::uint32_t kDefaultBaud = 115200;
constexpr std::uint32_t kMinBaud = 1200;
constexpr std::uint32_t kMaxBaud = 4000000;
constexpr std::uint32_t kDefaultTimeoutMs = 1000;
constexpr std::uint32_t kMaxTimeoutMs = 60000;

struct SlcanConfig {
    char port[kMaxPortLength + 1];  // Port; "" when not given
    std::uint32_t baud;             // Baud, kMinBaud to kMaxBaud
    std::uint32_t timeoutMs;        // TimeoutMs, 1 to kMaxTimeoutMs
    std::uint8_t log;               // Log, 0 or 1
};

void DefaultConfig(SlcanConfig& config);

// Reads the text of the file over the defaults in `config`. Returns 1 when every key it
// knows has a valid value and a port is named, 0 otherwise (a bad value is not taken).
[[nodiscard]] int ParseConfig(const char* text, std::size_t length, SlcanConfig& config);

// The defaults, then the file beside the library. 0 when there is no file, it cannot be
// read whole, holds a bad value or names no port.
[[nodiscard]] int LoadConfig(SlcanConfig& config);

}  // namespace slcan
