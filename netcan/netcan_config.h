// Where the network driver finds its socketcand server: the file netcan.ini beside the
// library, read anew by every CAN_Init.
//
//     [Connection]
//     Host=127.0.0.1        ; name or address of the machine that runs socketcand
//     Port=29536            ; its TCP port
//     Interface=can0        ; the SocketCAN interface it opens for us
//     TimeoutMs=2000        ; longest wait for the connection and for each handshake answer
//
// A missing file or key means the default above. Section and key names compare without
// regard to case; ';' and '#' start comment lines.
#pragma once

#include <cstddef>
#include <cstdint>

namespace netcan {

constexpr const char* kConfigFileName = "netcan.ini";

constexpr std::size_t kMaxHostLength = 255;
constexpr std::size_t kMaxInterfaceLength = 16;  // the server's limit for a bus name
constexpr std::uint32_t kDefaultPort = 29536;
constexpr std::uint32_t kDefaultTimeoutMs = 2000;
constexpr std::uint32_t kMaxTimeoutMs = 60000;

struct NetcanConfig {
    char host[kMaxHostLength + 1];                // Host
    std::uint16_t port;                           // Port, 1 to 65535
    char interfaceName[kMaxInterfaceLength + 1];  // Interface: letters, digits, '_', '-', '.'
    std::uint32_t timeoutMs;                      // TimeoutMs, 1 to kMaxTimeoutMs
};

void DefaultConfig(NetcanConfig& config);

// Reads the text of the file over the defaults in `config`. Returns 1 when every key it
// knows has a valid value, 0 otherwise (the bad value is not taken).
[[nodiscard]] int ParseConfig(const char* text, std::size_t length, NetcanConfig& config);

// The defaults, then the file beside the library when there is one. 0 when the file holds
// a bad value or cannot be read whole.
[[nodiscard]] int LoadConfig(NetcanConfig& config);

}  // namespace netcan
