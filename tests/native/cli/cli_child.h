// A program the tests start as a script would: its standard input, output and error on
// pipes, its end awaited with a deadline (never a fixed wait), killed if the test ends
// before it does.
#pragma once

#include <poll.h>
#include <signal.h>
#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

struct Finished {
    int status = -1;  // the exit status; -1 when it did not end in time or was killed
    std::string out;
    std::string err;
};

class Child {
public:
    // `program` started with `words` as its whole argument vector.
    Child(const char* program, std::vector<std::string> words);
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // Writes `text` to standard input and closes it.
    void Write(const std::string& text);
    // Writes `text` to standard input and keeps it open (a batch fed line by line).
    void Send(const std::string& text);

    // Reads what arrives until `done` holds or the deadline passes; true when it held.
    template <typename Condition>
    bool WaitFor(Condition done, std::chrono::milliseconds limit)
    {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!done()) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return false;
            Poll(static_cast<int>(left.count() < 50 ? left.count() : 50));
        }
        return true;
    }

    // Closes standard input and waits for the end and for both outputs to close.
    Finished End(std::chrono::milliseconds limit = std::chrono::milliseconds(10000));

    void Interrupt() { Signal(SIGINT); }
    void Signal(int number);
    const std::string& Out() const { return result_.out; }
    const std::string& Err() const { return result_.err; }
    bool Started() const { return pid_ > 0; }
    bool Ended() const { return ended_; }

private:
    void Poll(int timeoutMs);
    void Drain(const pollfd& polled, int& fd, std::string& into);
    void Reap();

    pid_t pid_ = -1;
    int input_ = -1, out_ = -1, err_ = -1;
    bool ended_ = false;
    Finished result_;
};
