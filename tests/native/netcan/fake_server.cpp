#include "fake_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <linux/sockios.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

namespace {

std::string Trim(const std::string& s)
{
    const std::size_t a = s.find_first_not_of(' ');
    if (a == std::string::npos)
        return "";
    const std::size_t b = s.find_last_not_of(' ');
    return s.substr(a, b - a + 1);
}

bool SendAll(int fd, const std::string& bytes)
{
    std::size_t done = 0;
    for (int round = 0; done < bytes.size() && round < 10000; ++round) {
        const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        pollfd p{fd, POLLOUT, 0};
        if (poll(&p, 1, 100) < 0)
            return false;
    }
    return done == bytes.size();
}

}  // namespace

FakeServer::FakeServer(FakeServerScript script) : script_(std::move(script))
{
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    // A small receive buffer, inherited by the accepted socket, so that a paused server
    // fills up soon.
    const int small = 4096;
    setsockopt(listener_, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && listen(listener_, 4) == 0) {
        socklen_t size = sizeof address;
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size);
        port_ = ntohs(address.sin_port);
    }
    thread_ = std::thread([this] { Run(); });
}

FakeServer::~FakeServer()
{
    stop_ = true;
    thread_.join();
    DropClient();
    ::close(listener_);
}

void FakeServer::Run()
{
    while (!stop_) {
        pollfd p{listener_, POLLIN, 0};
        if (poll(&p, 1, 20) <= 0)
            continue;
        const int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            continue;
        ++accepted_;
        rawMode_ = false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (client_ >= 0)
                ::close(client_);
            client_ = client;
        }
        Serve(client);
    }
}

// Reads elements until the client goes, the test drops it, or the server stops.
void FakeServer::Serve(int client)
{
    if (!script_.greeting.empty())
        SendAll(client, script_.greeting);
    std::string pending;
    while (!stop_) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (client_ != client)
                return;  // dropped by the test
        }
        if (paused_) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            continue;
        }
        pollfd p{client, POLLIN, 0};
        if (poll(&p, 1, 20) <= 0)
            continue;
        char bytes[1024];
        const ssize_t n = ::recv(client, bytes, sizeof bytes, MSG_DONTWAIT);
        if (n == 0) {
            // The client closed: forget it and wait for the next one.
            std::lock_guard<std::mutex> lock(mutex_);
            if (client_ == client) {
                ::close(client_);
                client_ = -1;
            }
            return;
        }
        if (n < 0)
            continue;
        pending.append(bytes, static_cast<std::size_t>(n));
        for (;;) {
            const std::size_t open = pending.find('<');
            const std::size_t close = pending.find('>', open == std::string::npos ? 0 : open);
            if (open == std::string::npos || close == std::string::npos)
                break;
            const std::string element = Trim(pending.substr(open + 1, close - open - 1));
            pending.erase(0, close + 1);
            {
                std::lock_guard<std::mutex> lock(mutex_);
                commands_.push_back(element);
            }
            if (element.rfind("open ", 0) == 0) {
                SendAll(client, script_.openAnswer);
            } else if (element == "rawmode") {
                SendAll(client, script_.rawAnswer + script_.afterRawAnswer);
                rawMode_ = true;
            }
        }
    }
}

bool FakeServer::Send(const std::string& bytes)
{
    int client = -1;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        client = client_;
    }
    return client >= 0 && SendAll(client, bytes);
}

bool FakeServer::WaitUntilDelivered(int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int unacknowledged = -1;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            // SIOCOUTQ: bytes of the send queue not yet acknowledged by the peer.
            if (client_ < 0 || ioctl(client_, SIOCOUTQ, &unacknowledged) != 0)
                return false;
        }
        if (unacknowledged == 0)
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void FakeServer::DropClient()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (client_ >= 0) {
        ::shutdown(client_, SHUT_RDWR);
        ::close(client_);
        client_ = -1;
    }
}

std::vector<std::string> FakeServer::Commands()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return commands_;
}

bool FakeServer::WaitForCommands(std::size_t count, int timeoutMs)
{
    for (int waited = 0; waited <= timeoutMs; waited += 5) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (commands_.size() >= count)
                return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

bool FakeServer::WaitForRawMode(int timeoutMs)
{
    for (int waited = 0; waited <= timeoutMs && !rawMode_; waited += 5)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return rawMode_;
}
