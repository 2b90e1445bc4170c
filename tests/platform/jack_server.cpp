#include "jack_server.h"

#include <fcntl.h>
#include <jack/jack.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

void Quiet(const char*) {}

bool Exited(pid_t pid) {
    int status = 0;
    return waitpid(pid, &status, WNOHANG) == pid;
}

bool Answers(const std::string& name) {
    jack_status_t status{};
    jack_client_t* client = jack_client_open(
        "rx300-test-probe", static_cast<jack_options_t>(JackNoStartServer | JackServerName),
        &status, name.c_str());
    if (client == nullptr) {
        return false;
    }
    jack_client_close(client);
    return true;
}

std::string TempDir() {
    const char* tmp = std::getenv("TMPDIR");
    return tmp != nullptr ? tmp : "/tmp";
}

}  // namespace

JackServer::~JackServer() {
    Stop();
}

bool JackServer::TakeTurn(std::string* error) {
    const std::string path = TempDir() + "/rx300-jack-tests.lock";
    m_lock = ::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0666);
    if (m_lock < 0) {
        *error = "cannot open " + path;
        return false;
    }
    const auto deadline = Clock::now() + 5min;
    while (::flock(m_lock, LOCK_EX | LOCK_NB) != 0) {
        if (Clock::now() >= deadline) {
            EndTurn();
            *error = "another test's JACK server kept running for 5 minutes";
            return false;
        }
        std::this_thread::sleep_for(50ms);
    }
    return true;
}

void JackServer::EndTurn() {
    if (m_lock >= 0) {
        ::close(m_lock);
        m_lock = -1;
    }
}

std::string JackServer::LastLogLine() const {
    std::ifstream log(m_log);
    std::string line, last;
    while (std::getline(log, line)) {
        if (!line.empty()) {
            last = line;
        }
    }
    return last;
}

bool JackServer::Start(std::string* error) {
    Stop();
    if (!TakeTurn(error)) {
        return false;
    }
    jack_set_error_function(Quiet);
    jack_set_info_function(Quiet);
    m_log = TempDir() + "/rx300-test-jackd-" + std::to_string(::getpid()) + ".log";
    const std::string timeout = std::to_string(m_clientTimeoutMs);
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0) {
        EndTurn();
        *error = "fork failed";
        return false;
    }
    if (pid == 0) {
        // A server whose test died shuts down cleanly, leaving JACK's registry in order.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) {
            ::_exit(127);
        }
        // The server holds the turn until it has exited.
        ::fcntl(m_lock, F_SETFD, 0);
        const int null = ::open("/dev/null", O_RDONLY);
        const int log = ::open(m_log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(null, STDIN_FILENO);
        ::dup2(log, STDOUT_FILENO);
        ::dup2(log, STDERR_FILENO);
        // No real-time scheduling: containers do not grant it. Without it a loaded machine
        // makes cycles overrun, and in JACK's default asynchronous mode a client may then read
        // a port buffer that another one is still writing (SysEx arrived cut and glued here).
        // Synchronous mode waits for every client in each cycle, and the long client time-out
        // keeps a slow (sanitised, loaded) test process from being dropped as unresponsive.
        ::execlp("jackd", "jackd", "--no-realtime", "--sync", "--timeout", timeout.c_str(), "-n",
                 m_name.c_str(), "-d", "dummy", "-r", "48000", "-p", "128",
                 static_cast<char*>(nullptr));
        ::_exit(127);
    }
    m_pid = pid;
    const auto deadline = Clock::now() + 10s;
    while (Clock::now() < deadline) {
        if (Exited(m_pid)) {
            m_pid = -1;
            EndTurn();
            *error = "jackd exited at once: " + LastLogLine();
            ::unlink(m_log.c_str());
            return false;
        }
        if (Answers(m_name)) {
            ::setenv("JACK_DEFAULT_SERVER", m_name.c_str(), 1);
            return true;
        }
        std::this_thread::sleep_for(20ms);
    }
    Stop();
    *error = "jackd did not answer within 10 s";
    return false;
}

void JackServer::Stop() {
    if (m_pid <= 0) {
        EndTurn();
        return;
    }
    // Killed outright, the server would keep its slot in JACK's registry of servers.
    ::kill(m_pid, SIGTERM);
    const auto deadline = Clock::now() + 30s;
    while (!Exited(m_pid)) {
        if (Clock::now() >= deadline) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
            break;
        }
        std::this_thread::sleep_for(10ms);
    }
    m_pid = -1;
    ::unsetenv("JACK_DEFAULT_SERVER");
    ::unlink(m_log.c_str());
    EndTurn();
}
