#include "tests/e2e/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern char** environ;

namespace {

std::vector<std::string> Environment(const std::map<std::string, std::string>& overrides) {
    std::vector<std::string> env;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        const std::string key = text.substr(0, text.find('='));
        if (overrides.find(key) == overrides.end()) {
            env.push_back(text);
        }
    }
    for (const auto& [key, value] : overrides) {
        env.push_back(key + "=" + value);
    }
    return env;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (std::string& text : texts) {
        pointers.push_back(text.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

}  // namespace

CChildProcess::~CChildProcess() {
    {
        std::lock_guard held(m_lock);
        if (m_pid > 0 && !m_end) {
            ::kill(-m_pid, SIGKILL);
            ::kill(m_pid, SIGKILL);
        }
    }
    if (m_collector.joinable()) {
        m_collector.join();
    }
}

bool CChildProcess::Start(const Launch& launch, std::string* error) {
    // Everything the child needs is built before fork: after it only exec-safe calls follow.
    std::vector<std::string> argv{launch.program};
    argv.insert(argv.end(), launch.args.begin(), launch.args.end());
    std::vector<std::string> env = Environment(launch.env);
    std::vector<char*> argvPointers = Pointers(argv);
    std::vector<char*> envPointers = Pointers(env);

    int out[2];
    int err[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
        *error = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    if (::pipe2(err, O_CLOEXEC) != 0) {
        *error = std::string("pipe: ") + std::strerror(errno);
        ::close(out[0]);
        ::close(out[1]);
        return false;
    }
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0) {
        *error = std::string("fork: ") + std::strerror(errno);
        for (int fd : {out[0], out[1], err[0], err[1]}) {
            ::close(fd);
        }
        return false;
    }
    if (pid == 0) {
        ::setpgid(0, 0);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) {
            ::_exit(127);
        }
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(err[1], STDERR_FILENO);
        const int null = ::open("/dev/null", O_RDONLY);
        ::dup2(null, STDIN_FILENO);
        if (!launch.workDir.empty() && ::chdir(launch.workDir.c_str()) != 0) {
            ::_exit(126);
        }
        ::execve(argvPointers[0], argvPointers.data(), envPointers.data());
        ::_exit(127);
    }
    // Also here, so that a kill of the group right after Start cannot miss it.
    ::setpgid(pid, pid);
    ::close(out[1]);
    ::close(err[1]);
    m_pid = pid;
    m_collector = std::thread([this, outFd = out[0], errFd = err[0]] { Collect(outFd, errFd); });
    return true;
}

void CChildProcess::Collect(int outFd, int errFd) {
    pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
    int open = 2;
    while (open > 0) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) {
                continue;
            }
            char buffer[4096];
            const ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
            if (got <= 0) {
                if (got < 0 && errno == EINTR) {
                    continue;
                }
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
                continue;
            }
            std::lock_guard held(m_lock);
            (i == 0 ? m_stdout : m_stderr).append(buffer, static_cast<std::size_t>(got));
            m_changed.notify_all();
        }
    }
    for (const pollfd& fd : fds) {
        if (fd.fd >= 0) {
            ::close(fd.fd);
        }
    }
    // Waits without reaping: until the reap below, under the lock, the process id cannot be
    // handed to another process, so Signal never hits a stranger.
    siginfo_t info{};
    while (::waitid(P_PID, m_pid, &info, WEXITED | WNOWAIT) < 0 && errno == EINTR) {
    }
    std::lock_guard held(m_lock);
    int status = 0;
    ::waitpid(m_pid, &status, 0);
    End end;
    end.exited = WIFEXITED(status);
    end.exitCode = end.exited ? WEXITSTATUS(status) : -1;
    end.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    m_end = end;
    m_changed.notify_all();
}

bool CChildProcess::WaitForLine(const std::function<bool(const std::string&)>& match,
                                std::chrono::milliseconds deadline) {
    std::unique_lock held(m_lock);
    std::size_t checked = 0;
    return m_changed.wait_for(held, deadline, [&] {
        for (;;) {
            const std::size_t end = m_stdout.find('\n', checked);
            if (end == std::string::npos) {
                return false;
            }
            const std::string line = m_stdout.substr(checked, end - checked);
            checked = end + 1;
            if (match(line)) {
                return true;
            }
        }
    });
}

std::optional<CChildProcess::End> CChildProcess::WaitForEnd(std::chrono::milliseconds deadline) {
    std::unique_lock held(m_lock);
    m_changed.wait_for(held, deadline, [this] { return m_end.has_value(); });
    return m_end;
}

void CChildProcess::Signal(int signal) {
    std::lock_guard held(m_lock);
    // Once reaped, the number may already belong to another process.
    if (m_pid > 0 && !m_end) {
        ::kill(-m_pid, signal);
    }
}

std::string CChildProcess::Stdout() const {
    std::lock_guard held(m_lock);
    return m_stdout;
}

std::string CChildProcess::Stderr() const {
    std::lock_guard held(m_lock);
    return m_stderr;
}

std::string Describe(const CChildProcess& child, const std::string& program) {
    return "--- " + program + " stdout ---\n" + child.Stdout() + "--- " + program +
           " stderr ---\n" + child.Stderr();
}
