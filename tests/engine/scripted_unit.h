// A far end for the cases the simulated unit does not play: every message the host sends is
// recorded and passed to a script that may answer it at once.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/virtual_midi.h"

class ScriptedUnit {
  public:
    using Bytes = std::vector<std::uint8_t>;
    // Returns the messages to send back for `received`.
    using Script = std::function<std::vector<Bytes>(const Bytes& received)>;

    ScriptedUnit(const std::string& name, Script script) : m_script(std::move(script)) {
        m_endpoint =
            vmidi::RegisterDevicePair(name, [this](const std::uint8_t* data, std::size_t length) {
                Bytes message(data, data + length);
                std::vector<Bytes> answers;
                {
                    std::lock_guard lock(m_mutex);
                    m_received.push_back(message);
                    answers = m_script(message);
                }
                for (const auto& answer : answers) {
                    m_endpoint->SendToHost(answer.data(), answer.size());
                }
            });
    }
    ~ScriptedUnit() { m_endpoint.reset(); }

    void SendToHost(const Bytes& message) {
        m_endpoint->SendToHost(message.data(), message.size());
    }

    std::vector<Bytes> Received() const {
        std::lock_guard lock(m_mutex);
        return m_received;
    }

  private:
    Script m_script;
    mutable std::mutex m_mutex;
    std::vector<Bytes> m_received;
    std::shared_ptr<vmidi::Endpoint> m_endpoint;
};
