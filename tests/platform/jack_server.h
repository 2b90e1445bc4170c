// A private JACK server for tests: `jackd -d dummy` under a name unique to this process, made
// the default server of this process (JACK_DEFAULT_SERVER) while it runs. It is stopped by
// Stop, by destruction, and by the kernel when the thread that started it ends (start it from
// the main thread), so that a crashed or killed test leaves no server behind.
#pragma once

#include <sys/types.h>

#include <string>

class JackServer {
  public:
    JackServer() = default;
    ~JackServer();
    JackServer(const JackServer&) = delete;
    JackServer& operator=(const JackServer&) = delete;

    // Starts the server and waits (10 s at most) until a client can connect. False with the
    // reason in `error` when jackd is missing or does not come up.
    bool Start(std::string* error);
    void Stop();

    bool Running() const { return m_pid > 0; }
    const std::string& Name() const { return m_name; }

  private:
    pid_t m_pid = -1;
    std::string m_name;
};
