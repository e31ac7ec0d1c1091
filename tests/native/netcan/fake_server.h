// A scriptable socketcand stand-in on 127.0.0.1 for the network driver's host tests.
//
// It listens on a free port, serves one client at a time on a thread of its own, answers
// the handshake as told (or wrongly, or not at all), records every element the client
// sends, and sends whatever bytes the test hands it. Every wait is bounded.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct FakeServerScript {
    std::string greeting = "< hi >";    // sent on accept; empty: say nothing
    std::string openAnswer = "< ok >";  // answer to "< open ... >"
    std::string rawAnswer = "< ok >";   // answer to "< rawmode >"
    std::string afterRawAnswer;         // sent right behind the raw-mode answer
};

class FakeServer {
public:
    explicit FakeServer(FakeServerScript script = {});
    ~FakeServer();
    FakeServer(const FakeServer&) = delete;
    FakeServer& operator=(const FakeServer&) = delete;

    std::uint16_t Port() const { return port_; }

    // Sends raw bytes to the connected client; false when there is none.
    bool Send(const std::string& bytes);
    // Waits (at most timeoutMs) until everything sent has been acknowledged by the
    // client's side: the bytes are then in the driver's socket, for its next call to take.
    bool WaitUntilDelivered(int timeoutMs);
    // Closes the current client's connection.
    void DropClient();
    // While paused the server reads nothing from its client (a stalled server: its small
    // receive buffer fills up soon).
    void PauseReading(bool paused) { paused_ = paused; }

    // Elements received so far (inner text, trimmed: "send 123 1 AA").
    std::vector<std::string> Commands();
    // Waits (at most timeoutMs) until at least `count` elements have arrived.
    bool WaitForCommands(std::size_t count, int timeoutMs);
    // Waits (at most timeoutMs) until the client in raw mode; true when it is.
    bool WaitForRawMode(int timeoutMs);
    int Accepted() const { return accepted_.load(); }

private:
    void Run();
    void Serve(int client);

    FakeServerScript script_;
    int listener_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> accepted_{0};
    std::atomic<bool> rawMode_{false};
    std::atomic<bool> paused_{false};
    std::mutex mutex_;
    int client_ = -1;                    // guarded by mutex_
    std::vector<std::string> commands_;  // guarded by mutex_
    std::thread thread_;
};
