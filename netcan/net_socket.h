// The few operating-system services the network driver needs: a TCP connection with
// non-blocking sends and receives (Winsock on Windows, POSIX sockets elsewhere).
#pragma once

#include <cstddef>
#include <cstdint>

namespace netcan {

// A connected socket: a Winsock SOCKET or a POSIX descriptor; kNoSocket when none.
using SocketHandle = std::uintptr_t;
constexpr SocketHandle kNoSocket = ~static_cast<SocketHandle>(0);

enum class IoResult : std::uint8_t {
    Done,        // some bytes moved (the count says how many)
    WouldBlock,  // nothing can move now
    Closed,      // the peer closed the connection
    Failed,      // the connection broke
};

// Winsock needs starting before the first socket and stopping after the last; elsewhere
// both do nothing. Calls pair up: every StartSockets that returned 1 needs a StopSockets.
[[nodiscard]] int StartSockets();
void StopSockets();

// Connects to host:port (a name or a numeric address) within timeoutMs for each address
// the name stands for (the first four at most). The socket returned is non-blocking and
// sends small segments at once (no Nagle delay). kNoSocket when no address answered.
SocketHandle ConnectTcp(const char* host, std::uint16_t port, std::uint32_t timeoutMs);

void CloseSocket(SocketHandle socket);

IoResult SendSome(SocketHandle socket, const char* bytes, std::size_t count, std::size_t& sent);
IoResult ReceiveSome(SocketHandle socket, char* bytes, std::size_t capacity, std::size_t& received);

// 1 when the socket can be read (or has closed) / written within timeoutMs, else 0.
int WaitReadable(SocketHandle socket, std::uint32_t timeoutMs);
int WaitWritable(SocketHandle socket, std::uint32_t timeoutMs);

}  // namespace netcan
