// A scripted serial-line adapter on a pseudo-terminal, for the driver library's tests: it
// answers the driver's commands on a thread of its own as the test configures it, keeps
// every command it received, and sends whatever the test injects.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class FakeDevice {
public:
    FakeDevice();
    ~FakeDevice();
    FakeDevice(const FakeDevice&) = delete;
    FakeDevice& operator=(const FakeDevice&) = delete;

    // The terminal the driver opens ("/dev/pts/N"); empty when none could be made.
    const std::string& Path() const { return path_; }

    // Bytes to send to the driver as they stand.
    void Inject(const std::string& bytes);

    // Every command line received so far, without its CR.
    std::vector<std::string> Commands();
    void ClearCommands();

    // Waits (at most `limitMs`, real time) until `command` has been received.
    bool AwaitCommand(const std::string& command, std::uint32_t limitMs);

    // Closes the master side: the driver's port fails as if the adapter was unplugged.
    void Unplug();

    std::atomic<bool> silent{false};         // reads and drops everything, answers nothing
    std::atomic<bool> refuseFrames{false};   // answers BEL to t/T/r/R
    std::atomic<bool> refuseBitRate{false};  // answers BEL to S
    std::atomic<bool> legacy{false};         // no V, N or F (BEL), empty lines passed over
    std::atomic<std::uint8_t> flags{0};      // the F answer (cleared after each F)

private:
    void Run();
    std::string AnswerTo(const std::string& command);

    int master_ = -1;
    int keeper_ = -1;
    std::string path_;
    std::mutex mutex_;
    std::vector<std::string> commands_;
    std::string outgoing_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};
