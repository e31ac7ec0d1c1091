#include "serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace slcan {

namespace {

speed_t SpeedFor(std::uint32_t baud)
{
    switch (baud) {
    case 1200:
        return B1200;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    case 230400:
        return B230400;
    case 460800:
        return B460800;
    case 921600:
        return B921600;
    case 1000000:
        return B1000000;
    case 2000000:
        return B2000000;
    case 3000000:
        return B3000000;
    case 4000000:
        return B4000000;
    default:
        return B0;
    }
}

}  // namespace

PortHandle OpenSerialPort(const char* name, std::uint32_t baud)
{
    const speed_t speed = SpeedFor(baud);
    if (name == nullptr || speed == B0)
        return kNoPort;
    const int fd = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return kNoPort;
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) {
        ::close(fd);
        return kNoPort;
    }
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | PARENB | CRTSCTS);
    ::cfsetispeed(&tio, speed);
    ::cfsetospeed(&tio, speed);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (::tcsetattr(fd, TCSANOW, &tio) != 0) {
        ::close(fd);
        return kNoPort;
    }
    return static_cast<PortHandle>(fd);
}

void CloseSerialPort(PortHandle port)
{
    if (port != kNoPort)
        ::close(static_cast<int>(port));
}

PortResult WriteSome(PortHandle port, const char* bytes, std::size_t count, std::size_t& written)
{
    written = 0;
    if (port == kNoPort)
        return PortResult::Failed;
    while (written < count) {
        const ssize_t n = ::write(static_cast<int>(port), bytes + written, count - written);
        if (n > 0) {
            written += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // The line is slower than we write: give it a moment, as a Windows port's
            // write time-out does, and let the caller keep the rest.
            pollfd p{static_cast<int>(port), POLLOUT, 0};
            if (::poll(&p, 1, 20) > 0 && (p.revents & POLLOUT) != 0)
                continue;
            return PortResult::Done;
        }
        return PortResult::Failed;
    }
    return PortResult::Done;
}

PortResult ReadSome(PortHandle port, char* bytes, std::size_t capacity, std::size_t& received)
{
    received = 0;
    if (port == kNoPort)
        return PortResult::Failed;
    for (;;) {
        const ssize_t n = ::read(static_cast<int>(port), bytes, capacity);
        if (n > 0) {
            received = static_cast<std::size_t>(n);
            return PortResult::Done;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return PortResult::Done;
        // 0 on a terminal with VMIN 0 means nothing waiting; a pseudo-terminal whose
        // other side has gone answers EIO.
        if (n == 0)
            return PortResult::Done;
        return PortResult::Failed;
    }
}

void WaitForInput(PortHandle port, std::uint32_t timeoutMs)
{
    pollfd p{static_cast<int>(port), POLLIN, 0};
    ::poll(&p, 1, static_cast<int>(timeoutMs));
}

}  // namespace slcan
