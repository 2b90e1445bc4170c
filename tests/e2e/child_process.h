// A program that a test starts as a process of its own: in its own process group, in a working
// directory and environment of the test's choosing, its stdout and stderr collected. Whatever is
// still running of it is killed with its group when the object goes, so that a failed test
// leaves nothing behind; the kernel kills it too when the test process dies.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

class CChildProcess {
  public:
    struct Launch {
        std::string program;
        std::vector<std::string> args;
        std::string workDir;
        // Set (or replaced) on top of this process's environment.
        std::map<std::string, std::string> env;
    };

    // How the process ended.
    struct End {
        bool exited = false;
        int exitCode = -1;
        // The signal that ended it, 0 when it exited.
        int signal = 0;
    };

    CChildProcess() = default;
    ~CChildProcess();
    CChildProcess(const CChildProcess&) = delete;
    CChildProcess& operator=(const CChildProcess&) = delete;

    [[nodiscard]] bool Start(const Launch& launch, std::string* error);

    // True once a whole line of stdout satisfies `match`.
    [[nodiscard]] bool WaitForLine(const std::function<bool(const std::string&)>& match,
                                   std::chrono::milliseconds deadline);
    // Nullopt when it is still running at the deadline.
    [[nodiscard]] std::optional<End> WaitForEnd(std::chrono::milliseconds deadline);

    // To the whole process group.
    void Signal(int signal);

    std::string Stdout() const;
    std::string Stderr() const;
    pid_t Pid() const { return m_pid; }

  private:
    void Collect(int outFd, int errFd);

    pid_t m_pid = -1;
    std::thread m_collector;

    // Guards what the collector thread gathers and the end it reaps.
    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    std::string m_stdout;
    std::string m_stderr;
    std::optional<End> m_end;
};

// Both streams of `child`, headed with `program`, for failure messages.
std::string Describe(const CChildProcess& child, const std::string& program);
