// Starts the real program as a child process and reads what it writes to standard error.
#pragma once

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "platform/UniqueFd.h"

namespace tc::testing {

// How a child starts beyond its arguments and environment.
struct Launch {
    // The program starts with SIGTERM and SIGINT blocked, so one sent at once is still
    // pending when its own code first runs.
    bool endingSignalsBlocked = false;
    // JOURNAL_STREAM names the program's output pipe, as the journal's stream would be.
    bool journalStream = false;
    // Run as this user and group instead (a test running as root that needs file
    // permissions to count); 0: as we are.
    uid_t user = 0;
    gid_t group = 0;
};

class Process {
public:
    Process(std::vector<std::string> args, std::vector<std::string> env,
            bool endingSignalsBlocked = false)
        : Process(std::move(args), std::move(env), Launch{endingSignalsBlocked}) {}
    Process(std::vector<std::string> args, std::vector<std::string> env, const Launch& launch) {
        const bool endingSignalsBlocked = launch.endingSignalsBlocked;
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0) return;
        tc::platform::UniqueFd readEnd(ends[0]);
        const tc::platform::UniqueFd writeEnd(
            ends[1]);  // the child keeps it; ours closes on return
        if (launch.journalStream) {
            struct stat st {};
            ::fstat(writeEnd.get(), &st);
            env.push_back("JOURNAL_STREAM=" + std::to_string(st.st_dev) + ":" +
                          std::to_string(st.st_ino));
        }
        sigset_t ending, before;
        sigemptyset(&ending);
        sigaddset(&ending, SIGTERM);
        sigaddset(&ending, SIGINT);
        if (endingSignalsBlocked) ::sigprocmask(SIG_BLOCK, &ending, &before);
        pid_ = ::fork();
        if (endingSignalsBlocked && pid_ != 0) ::sigprocmask(SIG_SETMASK, &before, nullptr);
        if (pid_ == 0) {
            ::dup2(writeEnd.get(), 2);
            ::dup2(writeEnd.get(), 1);
            if (launch.user != 0 && (::setgroups(0, nullptr) != 0 || ::setgid(launch.group) != 0 ||
                                     ::setuid(launch.user) != 0))
                ::_exit(126);
            std::vector<char*> argv, envp;
            for (auto& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            for (auto& e : env) envp.push_back(e.data());
            envp.push_back(nullptr);
            ::execve(argv[0], argv.data(), envp.data());
            ::_exit(127);
        }
        fd_ = std::move(readEnd);
    }
    ~Process() {
        if (pid_ > 0 && !exited_) {
            ::kill(pid_, SIGKILL);
            wait(std::chrono::seconds(5));
        }
    }

    // Reads output until `needle` has appeared or the time is up.
    bool waitForOutput(const std::string& needle, std::chrono::milliseconds limit) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (output_.find(needle) == std::string::npos) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            if (left.count() <= 0 || !readSome(int(left.count()))) return false;
        }
        return true;
    }
    // Exit code, or -1 when it did not end in time (-signal when a signal ended it).
    int wait(std::chrono::milliseconds limit) {
        const auto end = std::chrono::steady_clock::now() + limit;
        for (;;) {
            int status = 0;
            const pid_t r = ::waitpid(pid_, &status, WNOHANG);
            if (r == pid_) {
                exited_ = true;
                while (readSome(0)) {
                }
                return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
            }
            if (std::chrono::steady_clock::now() > end) return -1000;
            readSome(20);
        }
    }
    void signal(int sig) { ::kill(pid_, sig); }
    // Nobody reads the program's output any more: its next write meets a broken pipe.
    void closeOutput() { fd_.reset(); }
    // Still running, without collecting its exit.
    bool running() {
        if (exited_) return false;
        siginfo_t info{};
        return ::waitid(P_PID, id_t(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
               info.si_pid == 0;
    }
    const std::string& output() const { return output_; }

private:
    bool readSome(int timeoutMs) {
        if (!fd_) {
            ::poll(nullptr, 0, timeoutMs);
            return false;
        }
        pollfd p{fd_.get(), POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0) return false;
        char buf[4096];
        const ssize_t n = ::read(fd_.get(), buf, sizeof buf);
        if (n <= 0) return false;
        output_.append(buf, std::size_t(n));
        return true;
    }
    pid_t pid_ = -1;
    tc::platform::UniqueFd fd_;  // the program's standard output and error
    bool exited_ = false;
    std::string output_;
};

}  // namespace tc::testing
