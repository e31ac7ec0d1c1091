#include "net_socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <cstdio>
#include <cstring>

namespace netcan {

namespace {

constexpr int kMaxAddresses = 4;

SOCKET Sock(SocketHandle socket)
{
    return static_cast<SOCKET>(socket);
}

timeval Timeval(std::uint32_t timeoutMs)
{
    timeval tv{};
    tv.tv_sec = static_cast<long>(timeoutMs / 1000);
    tv.tv_usec = static_cast<long>((timeoutMs % 1000) * 1000);
    return tv;
}

// select on one socket: readable, writable, or (for a connect) failed.
int Wait(SocketHandle socket, bool forWrite, std::uint32_t timeoutMs, bool* failed)
{
    fd_set ready;
    fd_set error;
    FD_ZERO(&ready);
    FD_ZERO(&error);
    FD_SET(Sock(socket), &ready);
    FD_SET(Sock(socket), &error);
    timeval tv = Timeval(timeoutMs);
    const int n = select(0, forWrite ? nullptr : &ready, forWrite ? &ready : nullptr, &error, &tv);
    if (failed != nullptr)
        *failed = n > 0 && FD_ISSET(Sock(socket), &error);
    return n > 0 ? 1 : 0;
}

SocketHandle ConnectOne(const addrinfo& address, std::uint32_t timeoutMs)
{
    const SOCKET s = ::socket(address.ai_family, address.ai_socktype, address.ai_protocol);
    if (s == INVALID_SOCKET)
        return kNoSocket;
    u_long nonBlocking = 1;
    if (ioctlsocket(s, FIONBIO, &nonBlocking) != 0) {
        closesocket(s);
        return kNoSocket;
    }
    const BOOL one = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);

    if (::connect(s, address.ai_addr, static_cast<int>(address.ai_addrlen)) != 0) {
        bool failed = false;
        if (WSAGetLastError() != WSAEWOULDBLOCK || Wait(static_cast<SocketHandle>(s), true, timeoutMs, &failed) == 0 ||
            failed) {
            closesocket(s);
            return kNoSocket;
        }
        int error = 0;
        int size = sizeof error;
        if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) != 0 || error != 0) {
            closesocket(s);
            return kNoSocket;
        }
    }
    return static_cast<SocketHandle>(s);
}

IoResult LastError()
{
    return WSAGetLastError() == WSAEWOULDBLOCK ? IoResult::WouldBlock : IoResult::Failed;
}

}  // namespace

int StartSockets()
{
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0 ? 1 : 0;
}

void StopSockets()
{
    WSACleanup();
}

SocketHandle ConnectTcp(const char* host, std::uint16_t port, std::uint32_t timeoutMs)
{
    char service[8];
    std::snprintf(service, sizeof service, "%u", static_cast<unsigned>(port));
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
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
        closesocket(Sock(socket));
}

IoResult SendSome(SocketHandle socket, const char* bytes, std::size_t count, std::size_t& sent)
{
    sent = 0;
    const int chunk = count > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(count);
    const int n = ::send(Sock(socket), bytes, chunk, 0);
    if (n == SOCKET_ERROR)
        return LastError();
    sent = static_cast<std::size_t>(n);
    return IoResult::Done;
}

IoResult ReceiveSome(SocketHandle socket, char* bytes, std::size_t capacity, std::size_t& received)
{
    received = 0;
    const int chunk = capacity > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(capacity);
    const int n = ::recv(Sock(socket), bytes, chunk, 0);
    if (n == SOCKET_ERROR)
        return LastError();
    if (n == 0)
        return IoResult::Closed;
    received = static_cast<std::size_t>(n);
    return IoResult::Done;
}

int WaitReadable(SocketHandle socket, std::uint32_t timeoutMs)
{
    return Wait(socket, false, timeoutMs, nullptr);
}

int WaitWritable(SocketHandle socket, std::uint32_t timeoutMs)
{
    return Wait(socket, true, timeoutMs, nullptr);
}

}  // namespace netcan
