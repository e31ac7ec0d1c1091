#include "cli_child.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

Child::Child(const char* program, std::vector<std::string> words)
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
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, program, &actions, nullptr, argv.data(), environ) != 0)
        pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    close(err[1]);
    input_ = in[1];
    out_ = out[0];
    err_ = err[0];
}

Child::~Child()
{
    if (pid_ > 0 && !ended_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    for (int fd : {input_, out_, err_})
        if (fd >= 0)
            close(fd);
}

void Child::Write(const std::string& text)
{
    Send(text);
    close(input_);
    input_ = -1;
}

void Child::Send(const std::string& text)
{
    EXPECT_EQ(write(input_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
}

Finished Child::End(std::chrono::milliseconds limit)
{
    if (input_ >= 0) {
        close(input_);
        input_ = -1;
    }
    WaitFor([this] { return ended_ && out_ < 0 && err_ < 0; }, limit);
    return result_;
}

void Child::Signal(int number)
{
    if (pid_ > 0 && !ended_)
        kill(pid_, number);
}

void Child::Poll(int timeoutMs)
{
    pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
    if (poll(fds, 2, timeoutMs) < 0)
        return;
    Drain(fds[0], out_, result_.out);
    Drain(fds[1], err_, result_.err);
    Reap();
}

void Child::Drain(const pollfd& polled, int& fd, std::string& into)
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

void Child::Reap()
{
    if (ended_)
        return;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
        ended_ = true;
        result_.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
}
