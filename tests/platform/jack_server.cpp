#include "jack_server.h"

#include <fcntl.h>
#include <jack/jack.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

namespace {

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

}  // namespace

JackServer::~JackServer() {
    Stop();
}

bool JackServer::Start(std::string* error) {
    Stop();
    jack_set_error_function(Quiet);
    jack_set_info_function(Quiet);
    m_name = "rx300-test-" + std::to_string(::getpid());
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0) {
        *error = "fork failed";
        return false;
    }
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) {
            ::_exit(127);
        }
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, STDIN_FILENO);
        ::dup2(null, STDOUT_FILENO);
        ::dup2(null, STDERR_FILENO);
        // No real-time scheduling: containers do not grant it. Without it a loaded machine
        // makes cycles overrun, and in JACK's default asynchronous mode a client may then read
        // a port buffer that another one is still writing (SysEx arrived cut and glued here).
        // Synchronous mode waits for every client in each cycle, and the long client time-out
        // keeps a slow (sanitised, loaded) test process from being dropped as unresponsive.
        ::execlp("jackd", "jackd", "--no-realtime", "--sync", "--timeout", "10000", "-n",
                 m_name.c_str(), "-d", "dummy", "-r", "48000", "-p", "128",
                 static_cast<char*>(nullptr));
        ::_exit(127);
    }
    m_pid = pid;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        if (Exited(m_pid)) {
            m_pid = -1;
            *error = "jackd exited at once (is the jackd2 package installed?)";
            return false;
        }
        if (Answers(m_name)) {
            ::setenv("JACK_DEFAULT_SERVER", m_name.c_str(), 1);
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    Stop();
    *error = "jackd did not answer within 10 s";
    return false;
}

void JackServer::Stop() {
    if (m_pid <= 0) {
        return;
    }
    ::kill(m_pid, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!Exited(m_pid)) {
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    m_pid = -1;
    ::unsetenv("JACK_DEFAULT_SERVER");
}
