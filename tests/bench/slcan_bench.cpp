// The serial driver library over a real pseudo-terminal: the host build's slcan_device
// (simulated slave 3 behind it) runs as a child process, the library is loaded from a
// folder of its own with a slcan.ini naming the terminal.
//   BM_SlcanRoundTrip: an SDO upload request for 0x1000 of node 3 out through CAN_Write,
//                      polling CAN_Read until the response is in;
//   BM_SlcanEmptyRead: CAN_Read with nothing waiting (a read of the port that finds
//                      nothing).
#include <dlfcn.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "driver_api.h"

namespace {

struct Setup {
    pid_t device = -1;
    void* handle = nullptr;
    std::string folder;
    CanInitEntry init = nullptr;
    CanCloseEntry close = nullptr;
    CanWriteEntry write = nullptr;
    CanReadEntry read = nullptr;
    bool ok = false;
};

Setup& Bed()
{
    static Setup setup = [] {
        Setup s;
        int out[2];
        if (pipe(out) != 0)
            return s;
        s.device = fork();
        if (s.device == 0) {
            dup2(out[1], STDOUT_FILENO);
            close(out[0]);
            execl(SLCAN_DEVICE_PATH, "slcan_device", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(out[1]);
        char pty[256] = {};
        std::size_t used = 0;
        while (used + 1 < sizeof pty) {
            const ssize_t n = ::read(out[0], pty + used, 1);
            if (n <= 0 || pty[used] == '\n')
                break;
            ++used;
        }
        pty[used] = '\0';
        char folder[] = "/tmp/slcan-bench-XXXXXX";
        if (mkdtemp(folder) == nullptr)
            return s;
        s.folder = folder;
        {
            std::ifstream in(SLCAN_LIBRARY_PATH, std::ios::binary);
            std::ofstream lib(s.folder + "/pcan_usb.so", std::ios::binary);
            lib << in.rdbuf();
            std::ofstream(s.folder + "/slcan.ini") << "[Serial]\nPort=" << pty << "\n";
        }
        s.handle = dlopen((s.folder + "/pcan_usb.so").c_str(), RTLD_NOW | RTLD_LOCAL);
        if (s.handle == nullptr)
            return s;
        s.init = reinterpret_cast<CanInitEntry>(dlsym(s.handle, "CAN_Init"));
        s.close = reinterpret_cast<CanCloseEntry>(dlsym(s.handle, "CAN_Close"));
        s.write = reinterpret_cast<CanWriteEntry>(dlsym(s.handle, "CAN_Write"));
        s.read = reinterpret_cast<CanReadEntry>(dlsym(s.handle, "CAN_Read"));
        s.ok = s.init != nullptr && s.init(0x011C, 0) == 0;
        DriverMsg msg;
        while (s.ok && s.read(&msg) == 0) {
        }
        return s;
    }();
    return setup;
}

void BM_SlcanRoundTrip(benchmark::State& state)
{
    Setup& s = Bed();
    if (!s.ok) {
        state.SkipWithError("no serial-line device");
        return;
    }
    DriverMsg request;
    std::memset(&request, 0, sizeof request);
    request.id = 0x603;
    request.length = 8;
    request.data[0] = 0x40;
    request.data[2] = 0x10;
    for (auto _ : state) {
        s.write(&request);
        DriverMsg msg;
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(1);
        for (;;) {
            if (s.read(&msg) == 0 && msg.id == 0x583)
                break;
            if (std::chrono::steady_clock::now() > limit) {
                state.SkipWithError("the device stopped answering");
                return;
            }
        }
        benchmark::DoNotOptimize(msg);
    }
}
BENCHMARK(BM_SlcanRoundTrip)->Unit(benchmark::kMicrosecond);

void BM_SlcanEmptyRead(benchmark::State& state)
{
    Setup& s = Bed();
    if (!s.ok) {
        state.SkipWithError("no serial-line device");
        return;
    }
    DriverMsg msg;
    for (auto _ : state)
        benchmark::DoNotOptimize(s.read(&msg));
}
BENCHMARK(BM_SlcanEmptyRead)->Unit(benchmark::kNanosecond);

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    Setup& s = Bed();
    if (s.close != nullptr)
        s.close();
    if (s.device > 0) {
        kill(s.device, SIGTERM);
        waitpid(s.device, nullptr, 0);
    }
    if (!s.folder.empty()) {
        std::remove((s.folder + "/slcan.ini").c_str());
        std::remove((s.folder + "/pcan_usb.so").c_str());
        rmdir(s.folder.c_str());
    }
    benchmark::Shutdown();
    return 0;
}
