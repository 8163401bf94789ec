// Runs a program as a child process with its own environment and folder,
// feeds its standard input and collects standard output and error, always
// within a time limit: a child that does not end is killed and reported.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace e2e {

inline std::vector<std::string> SplitLines(const std::string& Text)
{
    std::vector<std::string> lines;
    std::istringstream in(Text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

struct TRunResult {
    int Status = -1;       // exit status; -1 when it did not exit by itself
    int Signal = 0;        // the signal that ended it, 0 when it exited
    bool TimedOut = false; // killed at the time limit
    std::string Out;
    std::string Err;
    std::vector<std::string> OutLines() const { return SplitLines(Out); }
    std::vector<std::string> ErrLines() const { return SplitLines(Err); }
};

// Environment changes: a value sets the variable, none removes it.
using TEnvironment = std::map<std::string, std::optional<std::string>>;

class TChild {
public:
    TChild(const std::string& Program, const std::vector<std::string>& Args, const TEnvironment& Env,
           const std::string& Folder)
    {
        // Everything the child needs is built before fork: only exec-safe
        // calls run between fork and exec.
        std::vector<std::string> argText{Program};
        argText.insert(argText.end(), Args.begin(), Args.end());
        std::vector<char*> argv;
        for (std::string& a : argText)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        std::vector<std::string> envText;
        for (char** e = environ; *e; ++e) {
            const std::string entry = *e;
            if (!Env.count(entry.substr(0, entry.find('='))))
                envText.push_back(entry);
        }
        for (const auto& [name, value] : Env)
            if (value)
                envText.push_back(name + "=" + *value);
        std::vector<char*> envp;
        for (std::string& e : envText)
            envp.push_back(e.data());
        envp.push_back(nullptr);

        int in[2], out[2], err[2];
        if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe");
        FPid = fork();
        if (FPid < 0)
            throw std::runtime_error("fork");
        if (FPid == 0) {
            dup2(in[0], 0);
            dup2(out[1], 1);
            dup2(err[1], 2);
            // As a shell starts it: our own ignored SIGPIPE must not pass
            // on to the child.
            signal(SIGPIPE, SIG_DFL);
            if (!Folder.empty() && chdir(Folder.c_str()) != 0)
                _exit(126);
            execve(argv[0], argv.data(), envp.data());
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        close(err[1]);
        FIn = in[1];
        FOut = out[0];
        FErr = err[0];
        // A child that ends without reading its input must not kill us.
        signal(SIGPIPE, SIG_IGN);
    }
    ~TChild()
    {
        if (FPid > 0 && !FExited) {
            kill(FPid, SIGKILL);
            waitpid(FPid, nullptr, 0);
        }
        for (int fd : {FIn, FOut, FErr})
            if (fd >= 0)
                close(fd);
    }
    TChild(const TChild&) = delete;
    TChild& operator=(const TChild&) = delete;

    void WriteIn(const std::string& Text)
    {
        if (FIn >= 0)
            (void)!write(FIn, Text.data(), Text.size());
    }
    void CloseIn()
    {
        if (FIn >= 0)
            close(FIn);
        FIn = -1;
    }

    // Stops reading standard output: the child's next writes there fail.
    void CloseOut()
    {
        if (FOut >= 0)
            close(FOut);
        FOut = -1;
    }

    void SendSignal(int Signal)
    {
        if (FPid > 0 && !FExited)
            kill(FPid, Signal);
    }

    // Collects output until standard output holds Text; false at the time
    // limit or when the child has closed its output first.
    bool ReadUntil(const std::string& Text, int TimeoutMs)
    {
        const auto end = Deadline(TimeoutMs);
        while (FResult.Out.find(Text) == std::string::npos) {
            if ((FOut < 0 && FErr < 0) || !Pump(end))
                return FResult.Out.find(Text) != std::string::npos;
        }
        return true;
    }

    pid_t Pid() const { return FPid; }

    // Standard output is full: the child's next write there would block.
    // Nothing of it is read meanwhile; false at the time limit.
    bool AwaitFullOutput(int TimeoutMs)
    {
        const int capacity = fcntl(FOut, F_GETPIPE_SZ);
        const auto end = Deadline(TimeoutMs);
        while (std::chrono::steady_clock::now() < end) {
            int unread = 0;
            // Lines are not split across the pipe's pages: a page or two
            // may stay part empty.
            if (ioctl(FOut, FIONREAD, &unread) == 0 && unread >= capacity - 8192)
                return true;
            usleep(1000);
        }
        return false;
    }

    // Waits for the child's end without reading its output; false at the
    // time limit.
    bool AwaitExitUnread(int TimeoutMs)
    {
        const auto end = Deadline(TimeoutMs);
        while (Running())
            if (std::chrono::steady_clock::now() >= end)
                return false;
            else
                usleep(1000);
        return true;
    }

    // Still running (it has not exited).
    bool Running()
    {
        if (FExited)
            return false;
        int status = 0;
        if (waitpid(FPid, &status, WNOHANG) == FPid) {
            Reap(status);
            return false;
        }
        return true;
    }

    // Waits for the end within the limit, else kills the child.
    TRunResult Finish(int TimeoutMs)
    {
        const auto end = Deadline(TimeoutMs);
        while (FOut >= 0 || FErr >= 0)
            if (!Pump(end))
                break;
        for (;;) {
            if (!Running())
                break;
            if (std::chrono::steady_clock::now() >= end) {
                kill(FPid, SIGKILL);
                int status = 0;
                waitpid(FPid, &status, 0);
                FExited = true;
                FResult.TimedOut = true;
                break;
            }
            usleep(1000);
        }
        return FResult;
    }

private:
    static std::chrono::steady_clock::time_point Deadline(int TimeoutMs)
    {
        return std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
    }

    void Reap(int Status)
    {
        FExited = true;
        FResult.Status = WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
        FResult.Signal = WIFSIGNALED(Status) ? WTERMSIG(Status) : 0;
    }

    // One round of reading; false at the deadline.
    bool Pump(std::chrono::steady_clock::time_point End)
    {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(End - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        pollfd fds[2] = {{FOut, POLLIN, 0}, {FErr, POLLIN, 0}};
        if (poll(fds, 2, static_cast<int>(std::min<long long>(left.count(), 100))) < 0)
            return true;
        Drain(fds[0], FOut, FResult.Out);
        Drain(fds[1], FErr, FResult.Err);
        return true;
    }

    static void Drain(const pollfd& Fd, int& Handle, std::string& Into)
    {
        if (Handle < 0 || !(Fd.revents & (POLLIN | POLLHUP | POLLERR)))
            return;
        char buffer[4096];
        const ssize_t n = read(Handle, buffer, sizeof buffer);
        if (n > 0) {
            Into.append(buffer, static_cast<size_t>(n));
        } else if (n == 0 || errno != EINTR) {
            close(Handle);
            Handle = -1;
        }
    }

    pid_t FPid = -1;
    bool FExited = false;
    int FIn = -1;
    int FOut = -1;
    int FErr = -1;
    TRunResult FResult;
};

} // namespace e2e
