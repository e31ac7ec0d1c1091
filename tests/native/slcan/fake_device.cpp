#include "fake_device.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

FakeDevice::FakeDevice()
{
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
        return;
    const char* name = ptsname(master_);
    if (name == nullptr)
        return;
    path_ = name;
    keeper_ = open(name, O_RDWR | O_NOCTTY);
    termios tio{};
    if (keeper_ >= 0 && tcgetattr(keeper_, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(keeper_, TCSANOW, &tio);
    }
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    thread_ = std::thread([this] { Run(); });
}

FakeDevice::~FakeDevice()
{
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
    Unplug();
    if (keeper_ >= 0)
        close(keeper_);
}

void FakeDevice::Inject(const std::string& bytes)
{
    std::lock_guard<std::mutex> lock(mutex_);
    outgoing_ += bytes;
}

std::vector<std::string> FakeDevice::Commands()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return commands_;
}

void FakeDevice::ClearCommands()
{
    std::lock_guard<std::mutex> lock(mutex_);
    commands_.clear();
}

bool FakeDevice::AwaitCommand(const std::string& command, std::uint32_t limitMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (std::chrono::steady_clock::now() < deadline) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            for (const std::string& c : commands_) {
                if (c == command)
                    return true;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

void FakeDevice::Unplug()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (master_ >= 0) {
        close(master_);
        master_ = -1;
    }
    if (keeper_ >= 0) {
        close(keeper_);
        keeper_ = -1;
    }
}

std::string FakeDevice::AnswerTo(const std::string& command)
{
    if (command.empty())
        return legacy ? "" : "\r";
    switch (command[0]) {
    case 'V':
        return legacy ? "\a" : "V1013\r";
    case 'N':
        return legacy ? "\a" : "NTEST\r";
    case 'S':
        return refuseBitRate ? "\a" : "\r";
    case 'O':
    case 'C':
        return "\r";
    case 'F': {
        if (legacy)
            return "\a";
        char text[8];
        std::snprintf(text, sizeof text, "F%02X\r", static_cast<unsigned>(flags.exchange(0)));
        return text;
    }
    case 't':
    case 'r':
        return refuseFrames ? "\a" : "z\r";
    case 'T':
    case 'R':
        return refuseFrames ? "\a" : "Z\r";
    default:
        return "\a";
    }
}

void FakeDevice::Run()
{
    std::string line;
    char bytes[512];
    while (!stop_) {
        std::string out;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (master_ < 0)
                break;
            for (;;) {
                const ssize_t n = read(master_, bytes, sizeof bytes);
                if (n <= 0)
                    break;
                if (silent)
                    continue;
                for (ssize_t i = 0; i < n; ++i) {
                    if (bytes[i] != '\r') {
                        line += bytes[i];
                        continue;
                    }
                    commands_.push_back(line);
                    out += AnswerTo(line);
                    line.clear();
                }
            }
            out += outgoing_;
            outgoing_.clear();
            std::size_t done = 0;
            while (done < out.size()) {
                const ssize_t n = write(master_, out.data() + done, out.size() - done);
                if (n > 0) {
                    done += static_cast<std::size_t>(n);
                    continue;
                }
                // The driver reads what waits; keep the rest for the next round.
                outgoing_ = out.substr(done);
                break;
            }
        }
        pollfd p{master_, POLLIN, 0};
        poll(&p, 1, 1);
    }
}
