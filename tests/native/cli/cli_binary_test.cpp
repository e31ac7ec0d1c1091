// The real program as a script runs it: its exit statuses, what it writes to standard
// output and error, a batch on standard input, and Ctrl-C ending a run. Each run waits
// for the program's end with a deadline; none waits a fixed time.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "os_services.h"

extern char** environ;

namespace {

struct Finished {
    int status = -1;  // the exit status; -1 when it did not end in time or was killed
    std::string out;
    std::string err;
};

class Child {
public:
    explicit Child(const std::vector<std::string>& arguments)
    {
        int in[2], out[2], err[2];
        if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]})
            posix_spawn_file_actions_addclose(&actions, fd);
        std::vector<std::string> all = {VELOMAR_BINARY, "--driver", ProgramFolder() + "pcan_usb.so"};
        all.insert(all.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (std::string& word : all)
            argv.push_back(word.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, VELOMAR_BINARY, &actions, nullptr, argv.data(), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(in[0]);
        close(out[1]);
        close(err[1]);
        input_ = in[1];
        out_ = out[0];
        err_ = err[0];
    }

    ~Child()
    {
        if (pid_ > 0 && !ended_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        for (int fd : {input_, out_, err_})
            if (fd >= 0)
                close(fd);
    }

    void Write(const std::string& text)
    {
        EXPECT_EQ(write(input_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
        close(input_);
        input_ = -1;
    }

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
            pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
            if (poll(fds, 2, static_cast<int>(left.count() < 50 ? left.count() : 50)) < 0)
                return false;
            Drain(fds[0], out_, result_.out);
            Drain(fds[1], err_, result_.err);
            Reap();
        }
        return true;
    }

    Finished End(std::chrono::milliseconds limit = std::chrono::milliseconds(10000))
    {
        if (input_ >= 0) {
            close(input_);
            input_ = -1;
        }
        WaitFor([this] { return ended_ && out_ < 0 && err_ < 0; }, limit);
        return result_;
    }

    void Interrupt() { kill(pid_, SIGINT); }
    const std::string& Out() const { return result_.out; }
    bool Started() const { return pid_ > 0; }

private:
    void Drain(const pollfd& polled, int& fd, std::string& into)
    {
        if (fd < 0 || (polled.revents & (POLLIN | POLLHUP)) == 0)
            return;
        char buffer[4096];
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n > 0) {
            into.append(buffer, static_cast<std::size_t>(n));
        } else {
            close(fd);
            fd = -1;
        }
    }

    void Reap()
    {
        if (ended_)
            return;
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            ended_ = true;
            result_.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
    }

    pid_t pid_ = -1;
    int input_ = -1, out_ = -1, err_ = -1;
    bool ended_ = false;
    Finished result_;
};

Finished RunProgram(const std::vector<std::string>& arguments, const std::string& input = "")
{
    Child child(arguments);
    EXPECT_TRUE(child.Started());
    if (!input.empty())
        child.Write(input);
    return child.End();
}

TEST(BinaryTest, ExitStatusesAndWhereTheWordsGo)
{
    Finished run = RunProgram({"read", "3", "0x1000", "0", "u32"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "983441\n");
    EXPECT_EQ(run.err, "");

    run = RunProgram({"--json", "read", "3", "0x6000", "9", "u8"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(nlohmann::json::parse(run.out)["abortCode"], "0x06090011");
    EXPECT_EQ(run.err, "velomar: Unable to access object! Abort Code: 06090011h\n");

    run = RunProgram({"read", "3", "0x1000"});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");

    run = RunProgram({"--lang", "de", "read", "99", "0x1000", "0"});
    EXPECT_EQ(run.status, 3);
    EXPECT_EQ(run.err, "velomar: Kommunikationsfehler!\n");

    run = RunProgram({"--driver", "/nonexistent/pcan_usb.so", "scan"});
    EXPECT_EQ(run.status, 4);
    EXPECT_EQ(run.err, "velomar: Unable to load CAN DLL!\n");
}

TEST(BinaryTest, BatchOnStandardInputKeepsWhatWasWritten)
{
    const Finished run = RunProgram({"batch", "-"}, "write 3 0x6200 1 u8 9\nread 3 0x6200 1 u8\n");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "3 0x6200 1 <- 9\n9\n");
}

TEST(BinaryTest, CtrlCEndsARunAsStopDoes)
{
    Child child({"run", "3"});
    ASSERT_TRUE(child.Started());
    // The first inputs show that the exchange runs.
    ASSERT_TRUE(child.WaitFor([&child] { return child.Out().find("PDO1 0x183") != std::string::npos; },
                              std::chrono::milliseconds(10000)));
    child.Interrupt();
    const Finished run = child.End();
    EXPECT_EQ(run.status, 0) << run.err;
}

}  // namespace
