// A private JACK server for tests: `jackd -d dummy`, made the default server of this process
// (JACK_DEFAULT_SERVER) while it runs, and stopped by Stop, by destruction, or when the thread
// that started it ends (start it from the main thread), so that a crashed or killed test leaves
// no server behind.
//
// Test processes take turns, one server on the machine at a time, through a lock file that
// the server itself holds until it has exited: with two busy JACK servers, clients of either
// fail to connect now and then (libjack 1.9.21). Taking turns also lets every test use the
// same server name, so that a server that died without unregistering has its slot in JACK's
// registry of servers reclaimed by the next one (the registry holds 8 and never frees a slot
// of another name).
#pragma once

#include <sys/types.h>

#include <string>

class JackServer {
  public:
    // jackd's client time-out: how long a cycle waits for a client before giving up on it. A
    // client that dies without closing (a killed process) holds every other client up for
    // some twenty of these before jackd drops it.
    static constexpr int kDefaultClientTimeoutMs = 10000;

    explicit JackServer(int clientTimeoutMs = kDefaultClientTimeoutMs)
        : m_clientTimeoutMs(clientTimeoutMs) {}
    ~JackServer();
    JackServer(const JackServer&) = delete;
    JackServer& operator=(const JackServer&) = delete;

    // Waits (5 minutes at most) for the turn, starts the server and waits (10 s at most) until a
    // client can connect. False with the reason in `error`.
    bool Start(std::string* error);
    void Stop();

    bool Running() const { return m_pid > 0; }
    const std::string& Name() const { return m_name; }

  private:
    bool TakeTurn(std::string* error);
    void EndTurn();
    std::string LastLogLine() const;

    int m_clientTimeoutMs;
    pid_t m_pid = -1;
    int m_lock = -1;
    std::string m_name = "rx300-test";
    std::string m_log;
};
