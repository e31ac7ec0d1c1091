#include "net_socket.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace netcan {

namespace {

constexpr int kMaxAddresses = 4;

int Fd(SocketHandle socket)
{
    return static_cast<int>(socket);
}

int Poll(SocketHandle socket, short events, std::uint32_t timeoutMs)
{
    pollfd entry{};
    entry.fd = Fd(socket);
    entry.events = events;
    const int timeout = timeoutMs > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<int>(timeoutMs);
    int n = 0;
    do {
        n = poll(&entry, 1, timeout);
    } while (n < 0 && errno == EINTR);
    return n > 0 ? 1 : 0;
}

SocketHandle ConnectOne(const addrinfo& address, std::uint32_t timeoutMs)
{
    const int fd = ::socket(address.ai_family, address.ai_socktype | SOCK_CLOEXEC, address.ai_protocol);
    if (fd < 0)
        return kNoSocket;
    const int flags = fcntl(fd, F_GETFL, 0);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) {
        ::close(fd);
        return kNoSocket;
    }
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);

    if (::connect(fd, address.ai_addr, address.ai_addrlen) != 0) {
        if (errno != EINPROGRESS || Poll(static_cast<SocketHandle>(fd), POLLOUT, timeoutMs) == 0) {
            ::close(fd);
            return kNoSocket;
        }
        int error = 0;
        socklen_t size = sizeof error;
        if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0) {
            ::close(fd);
            return kNoSocket;
        }
    }
    return static_cast<SocketHandle>(fd);
}

}  // namespace

int StartSockets()
{
    return 1;
}

void StopSockets() {}

SocketHandle ConnectTcp(const char* host, std::uint16_t port, std::uint32_t timeoutMs)
{
    char service[8];
    std::snprintf(service, sizeof service, "%u", static_cast<unsigned>(port));
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (getaddrinfo(host, service, &hints, &found) != 0 || found == nullptr)
        return kNoSocket;
    SocketHandle socket = kNoSocket;
    int tried = 0;
    for (const addrinfo* a = found; a != nullptr && tried < kMaxAddresses && socket == kNoSocket;
         a = a->ai_next, ++tried)
        socket = ConnectOne(*a, timeoutMs);
    freeaddrinfo(found);
    return socket;
}

void CloseSocket(SocketHandle socket)
{
    if (socket != kNoSocket)
        ::close(Fd(socket));
}

IoResult SendSome(SocketHandle socket, const char* bytes, std::size_t count, std::size_t& sent)
{
    sent = 0;
    ssize_t n = 0;
    do {
        // MSG_NOSIGNAL: a connection the peer has closed must not end the program.
        n = ::send(Fd(socket), bytes, count, MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    if (n >= 0) {
        sent = static_cast<std::size_t>(n);
        return IoResult::Done;
    }
    return (errno == EAGAIN || errno == EWOULDBLOCK) ? IoResult::WouldBlock : IoResult::Failed;
}

IoResult ReceiveSome(SocketHandle socket, char* bytes, std::size_t capacity, std::size_t& received)
{
    received = 0;
    ssize_t n = 0;
    do {
        n = ::recv(Fd(socket), bytes, capacity, 0);
    } while (n < 0 && errno == EINTR);
    if (n > 0) {
        received = static_cast<std::size_t>(n);
        return IoResult::Done;
    }
    if (n == 0)
        return IoResult::Closed;
    return (errno == EAGAIN || errno == EWOULDBLOCK) ? IoResult::WouldBlock : IoResult::Failed;
}

int WaitReadable(SocketHandle socket, std::uint32_t timeoutMs)
{
    return Poll(socket, POLLIN, timeoutMs);
}

int WaitWritable(SocketHandle socket, std::uint32_t timeoutMs)
{
    return Poll(socket, POLLOUT, timeoutMs);
}

}  // namespace netcan
