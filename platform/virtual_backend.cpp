#include "platform/virtual_backend.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <shared_mutex>

#include "platform/virtual_midi.h"

namespace platform {

namespace {

class VirtualInputStream;

// One registered pair. Open host devices hold it, so it outlives its endpoint; once retired it
// refuses the host's sends and delivers nothing.
class PairState {
  public:
    PairState(std::string name, vmidi::HostMessageHandler onHost, unsigned serial)
        : m_name(std::move(name)),
          m_id("virtual:" + std::to_string(serial)),
          m_onHost(std::move(onHost)) {}

    const std::string& Name() const { return m_name; }
    const std::string& Id() const { return m_id; }

    MMRESULT FromHost(const std::uint8_t* data, std::size_t length) {
        // Shared: the host's sends may overlap; Retire waits for every one in flight.
        std::shared_lock lock(m_handlerMutex);
        if (m_retired) {
            return MMSYSERR_NODRIVER;
        }
        if (m_onHost) {
            m_onHost(data, length);
        }
        return MMSYSERR_NOERROR;
    }

    void ToHost(const std::uint8_t* data, std::size_t length);
    bool Subscribe(VirtualInputStream* stream) {
        std::lock_guard lock(m_inputsMutex);
        if (m_inputsClosed) {
            return false;
        }
        m_inputs.push_back(stream);
        return true;
    }
    void Unsubscribe(VirtualInputStream* stream) {
        std::lock_guard lock(m_inputsMutex);
        m_inputs.erase(std::remove(m_inputs.begin(), m_inputs.end(), stream), m_inputs.end());
    }

    void Retire() {
        {
            std::lock_guard lock(m_inputsMutex);
            m_inputsClosed = true;
            m_inputs.clear();
        }
        std::unique_lock lock(m_handlerMutex);
        m_retired = true;
        m_onHost = nullptr;
    }

  private:
    const std::string m_name;
    const std::string m_id;

    std::shared_mutex m_handlerMutex;
    bool m_retired = false;
    vmidi::HostMessageHandler m_onHost;

    // Guards the input devices open on this pair against their closing while a message is
    // handed to them.
    std::mutex m_inputsMutex;
    bool m_inputsClosed = false;
    std::vector<VirtualInputStream*> m_inputs;
};

class VirtualInputStream final : public InputStream {
  public:
    explicit VirtualInputStream(std::shared_ptr<PairState> pair) : m_pair(std::move(pair)) {}
    ~VirtualInputStream() override {
        if (m_subscribed) {
            m_pair->Unsubscribe(this);
        }
    }

    bool Subscribe() { return m_subscribed = m_pair->Subscribe(this); }

    void Push(const std::uint8_t* data, std::size_t length) {
        {
            std::lock_guard lock(m_queueMutex);
            m_queue.emplace_back(data, data + length);
        }
        m_ready.notify_one();
    }

    bool Next(std::vector<std::uint8_t>& message) override {
        std::unique_lock lock(m_queueMutex);
        m_ready.wait(lock, [this] { return m_interrupted || !m_queue.empty(); });
        if (m_interrupted) {
            return false;
        }
        message = std::move(m_queue.front());
        m_queue.pop_front();
        return true;
    }

    void Interrupt() override {
        {
            std::lock_guard lock(m_queueMutex);
            m_interrupted = true;
        }
        m_ready.notify_all();
    }

  private:
    std::shared_ptr<PairState> m_pair;
    bool m_subscribed = false;
    std::mutex m_queueMutex;
    std::condition_variable m_ready;
    std::deque<std::vector<std::uint8_t>> m_queue;
    bool m_interrupted = false;
};

void PairState::ToHost(const std::uint8_t* data, std::size_t length) {
    std::lock_guard lock(m_inputsMutex);
    for (auto* input : m_inputs) {
        input->Push(data, length);
    }
}

class VirtualOutputStream final : public OutputStream {
  public:
    explicit VirtualOutputStream(std::shared_ptr<PairState> pair) : m_pair(std::move(pair)) {}
    MMRESULT Send(const std::uint8_t* data, std::size_t length) override {
        return m_pair->FromHost(data, length);
    }

  private:
    std::shared_ptr<PairState> m_pair;
};

class Registry final : public MidiBackend {
  public:
    std::shared_ptr<PairState> Add(std::string name, vmidi::HostMessageHandler onHost) {
        std::lock_guard lock(m_mutex);
        auto pair = std::make_shared<PairState>(std::move(name), std::move(onHost), ++m_serial);
        m_pairs.push_back(pair);
        return pair;
    }

    void Remove(const std::shared_ptr<PairState>& pair) {
        {
            std::lock_guard lock(m_mutex);
            m_pairs.erase(std::remove(m_pairs.begin(), m_pairs.end(), pair), m_pairs.end());
        }
        pair->Retire();
    }

    std::vector<PortRef> ReadablePorts() override { return Ports(); }
    std::vector<PortRef> WritablePorts() override { return Ports(); }

    std::unique_ptr<InputStream> OpenInput(const std::string& id) override {
        auto pair = Find(id);
        if (!pair) {
            return nullptr;
        }
        auto stream = std::make_unique<VirtualInputStream>(std::move(pair));
        if (!stream->Subscribe()) {
            return nullptr;
        }
        return stream;
    }

    std::unique_ptr<OutputStream> OpenOutput(const std::string& id) override {
        auto pair = Find(id);
        if (!pair) {
            return nullptr;
        }
        return std::make_unique<VirtualOutputStream>(std::move(pair));
    }

  private:
    std::vector<PortRef> Ports() {
        std::lock_guard lock(m_mutex);
        std::vector<PortRef> ports;
        for (const auto& pair : m_pairs) {
            ports.push_back({pair->Id(), pair->Name()});
        }
        return ports;
    }

    std::shared_ptr<PairState> Find(const std::string& id) {
        std::lock_guard lock(m_mutex);
        for (const auto& pair : m_pairs) {
            if (pair->Id() == id) {
                return pair;
            }
        }
        return nullptr;
    }

    std::mutex m_mutex;
    unsigned m_serial = 0;
    std::vector<std::shared_ptr<PairState>> m_pairs;
};

Registry& TheRegistry() {
    // Never destroyed: endpoints and devices may outlive static destruction order.
    static auto* registry = new Registry;
    return *registry;
}

class EndpointImpl final : public vmidi::Endpoint {
  public:
    explicit EndpointImpl(std::shared_ptr<PairState> pair) : m_pair(std::move(pair)) {}
    ~EndpointImpl() override { TheRegistry().Remove(m_pair); }

    void SendToHost(const std::uint8_t* data, std::size_t length) override {
        m_pair->ToHost(data, length);
    }
    const std::string& Name() const override { return m_pair->Name(); }

  private:
    std::shared_ptr<PairState> m_pair;
};

}  // namespace

MidiBackend& VirtualBackend() {
    return TheRegistry();
}

}  // namespace platform

namespace vmidi {

std::shared_ptr<Endpoint> RegisterDevicePair(const std::string& name, HostMessageHandler onHost) {
    return std::make_shared<platform::EndpointImpl>(
        platform::TheRegistry().Add(name, std::move(onHost)));
}

}  // namespace vmidi
