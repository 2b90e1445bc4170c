// RtMidi quirks this file works around, measured on RtMidi 5.0:
// - Constructing RtMidiIn/RtMidiOut for a system that is missing prints to stderr and, for ALSA,
//   throws; the system is therefore asked directly first (midi_system.cpp) and every call here
//   sits in a try block. An error callback is set as soon as an object exists, so that later
//   errors are counted instead of printed or thrown.
// - Input drops SysEx unless ignoreTypes(false, ...) says otherwise; then ALSA and JACK both
//   deliver each complete SysEx as one message.
// - JACK's input callback runs on JACK's real-time thread. RtMidi queues what it receives, and
//   our reader polls that queue from its own thread, so nothing of ours runs on JACK's thread.
// - sendMessage returns once ALSA or JACK took the bytes; on JACK it waits while RtMidi's ring
//   is full and silently drops a message larger than the ring.
#include "platform/rtmidi_backend.h"

#include <alsa/asoundlib.h>
#include <rtmidi/RtMidi.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <type_traits>

#include "platform/device_names.h"

namespace platform {

namespace {

// RtMidi's own input queue, in messages; our reader empties it every millisecond.
constexpr unsigned kInputQueueMessages = 1024;
constexpr auto kInputPollInterval = std::chrono::milliseconds(1);

// Counts what RtMidi reports. For inputs this may run on JACK's thread: no lock, no allocation.
struct ErrorCount {
    std::atomic<unsigned> errors{0};

    static void Record(RtMidiError::Type type, const std::string&, void* self) {
        if (type != RtMidiError::DEBUG_WARNING) {
            static_cast<ErrorCount*>(self)->errors.fetch_add(1, std::memory_order_relaxed);
        }
    }
    unsigned Total() const { return errors.load(std::memory_order_relaxed); }
};

RtMidi::Api ApiOf(MidiSystem system) {
    return system == MidiSystem::Jack ? RtMidi::UNIX_JACK : RtMidi::LINUX_ALSA;
}

template <typename T>
std::unique_ptr<T> MakeRtMidi(MidiSystem system, const std::string& clientName, ErrorCount& count) {
    if (system == MidiSystem::None) {
        return nullptr;
    }
    try {
        std::unique_ptr<T> midi;
        if constexpr (std::is_same_v<T, RtMidiIn>) {
            midi = std::make_unique<RtMidiIn>(ApiOf(system), clientName, kInputQueueMessages);
        } else {
            midi = std::make_unique<RtMidiOut>(ApiOf(system), clientName);
        }
        midi->setErrorCallback(&ErrorCount::Record, &count);
        if constexpr (std::is_same_v<T, RtMidiIn>) {
            midi->ignoreTypes(false, true, true);
        }
        return midi;
    } catch (...) {
        return nullptr;
    }
}

// An object whose closing threw is left as it is rather than closed twice.
template <typename T>
void DestroyQuietly(std::unique_ptr<T>& midi) {
    try {
        midi.reset();
    } catch (...) {
        (void)midi.release();
    }
}

class RtMidiInputStream final : public InputStream {
  public:
    bool Open(MidiSystem system, const std::string& portId, const std::string& virtualName) {
        const bool isVirtual = portId.empty();
        m_in = MakeRtMidi<RtMidiIn>(system, isVirtual ? virtualName : NextOwnClientName(), m_count);
        if (!m_in) {
            return false;
        }
        const unsigned before = m_count.Total();
        try {
            if (isVirtual) {
                m_in->openVirtualPort(virtualName);
                return m_count.Total() == before;
            }
            const unsigned count = m_in->getPortCount();
            for (unsigned i = 0; i < count; ++i) {
                if (m_in->getPortName(i) == portId) {
                    m_in->openPort(i, "in");
                    return m_count.Total() == before && m_in->isPortOpen();
                }
            }
        } catch (...) {
        }
        return false;
    }

    ~RtMidiInputStream() override { DestroyQuietly(m_in); }

    bool Next(std::vector<std::uint8_t>& message) override {
        while (!m_interrupted.load(std::memory_order_acquire)) {
            try {
                m_in->getMessage(&message);
            } catch (...) {
                message.clear();
            }
            if (!message.empty()) {
                return true;
            }
            std::this_thread::sleep_for(kInputPollInterval);
        }
        return false;
    }

    void Interrupt() override { m_interrupted.store(true, std::memory_order_release); }

  private:
    ErrorCount m_count;
    std::unique_ptr<RtMidiIn> m_in;
    std::atomic<bool> m_interrupted{false};
};

class RtMidiOutputStream final : public OutputStream {
  public:
    explicit RtMidiOutputStream(MidiSystem system) : m_system(system) {}

    bool Open(const std::string& portId, const std::string& virtualName) {
        const bool isVirtual = portId.empty();
        m_out =
            MakeRtMidi<RtMidiOut>(m_system, isVirtual ? virtualName : NextOwnClientName(), m_count);
        if (!m_out) {
            return false;
        }
        const unsigned before = m_count.Total();
        try {
            if (isVirtual) {
                m_out->openVirtualPort(virtualName);
                return m_count.Total() == before;
            }
            const unsigned count = m_out->getPortCount();
            for (unsigned i = 0; i < count; ++i) {
                if (m_out->getPortName(i) == portId) {
                    m_out->openPort(i, "out");
                    return m_count.Total() == before && m_out->isPortOpen();
                }
            }
        } catch (...) {
        }
        return false;
    }

    ~RtMidiOutputStream() override { DestroyQuietly(m_out); }

    MMRESULT Send(const std::uint8_t* data, std::size_t length) override {
        if (m_system == MidiSystem::Jack && length > kJackMessageLimit) {
            return MMSYSERR_INVALPARAM;
        }
        const unsigned before = m_count.Total();
        try {
            m_out->sendMessage(data, length);
        } catch (...) {
            return MMSYSERR_ERROR;
        }
        return m_count.Total() == before ? MMSYSERR_NOERROR : MMSYSERR_ERROR;
    }

  private:
    MidiSystem m_system;
    ErrorCount m_count;
    std::unique_ptr<RtMidiOut> m_out;
};

class RtMidiBackend final : public MidiBackend {
  public:
    explicit RtMidiBackend(MidiSystem system) : m_system(system) {}

    bool Init() {
        auto probe = MakeRtMidi<RtMidiIn>(m_system, NextOwnClientName(), m_count);
        if (!probe) {
            return false;
        }
        DestroyQuietly(probe);
        if (m_system == MidiSystem::Alsa &&
            snd_seq_open(&m_alsa, "default", SND_SEQ_OPEN_DUPLEX, 0) < 0) {
            m_alsa = nullptr;
        }
        return true;
    }

    ~RtMidiBackend() override {
        if (m_alsa != nullptr) {
            snd_seq_close(m_alsa);
        }
    }

    // A lister is a client of the MIDI system that opens no port, so it never shows up in the
    // lists itself. It lives for one scan only: jackd drops a client whose process ended without
    // closing it only at its next graph change, which then waits out a time-out of some
    // seconds per such client and holds up every other client meanwhile.
    std::vector<PortRef> ReadablePorts() override {
        std::lock_guard lock(m_listersMutex);
        auto lister = MakeRtMidi<RtMidiIn>(m_system, NextOwnClientName(), m_count);
        if (!lister) {
            return {};
        }
        auto ports = List(*lister);
        DestroyQuietly(lister);
        return ports;
    }

    std::vector<PortRef> WritablePorts() override {
        std::lock_guard lock(m_listersMutex);
        auto lister = MakeRtMidi<RtMidiOut>(m_system, NextOwnClientName(), m_count);
        if (!lister) {
            return {};
        }
        auto ports = List(*lister);
        DestroyQuietly(lister);
        return ports;
    }

    std::unique_ptr<InputStream> OpenInput(const std::string& id) override {
        auto stream = std::make_unique<RtMidiInputStream>();
        if (id.empty() || !stream->Open(m_system, id, {})) {
            return nullptr;
        }
        return stream;
    }

    std::unique_ptr<OutputStream> OpenOutput(const std::string& id) override {
        auto stream = std::make_unique<RtMidiOutputStream>(m_system);
        if (id.empty() || !stream->Open(id, {})) {
            return nullptr;
        }
        return stream;
    }

  private:
    std::vector<PortRef> List(RtMidi& lister) {
        std::vector<PortRef> ports;
        try {
            const unsigned count = lister.getPortCount();
            for (unsigned i = 0; i < count; ++i) {
                std::string id = lister.getPortName(i);
                if (id.empty()) {
                    continue;
                }
                std::string client;
                std::string name;
                ProductName(id, &client, &name);
                if (!IsOwnClientName(client)) {
                    ports.push_back({std::move(id), std::move(name)});
                }
            }
        } catch (...) {
        }
        return ports;
    }

    // On ALSA the product name is the client's name (a USB device's ports are named after it,
    // "NAME MIDI 1"); on JACK it is the port's short name.
    void ProductName(const std::string& id, std::string* client, std::string* name) {
        if (m_system == MidiSystem::Jack) {
            *client = JackClientName(id);
            *name = JackShortName(id);
            return;
        }
        const auto parsed = ParseAlsaPortName(id);
        if (!parsed) {
            *client = id;
            *name = id;
            return;
        }
        *client = parsed->client;
        if (m_alsa != nullptr) {
            snd_seq_client_info_t* info = nullptr;
            snd_seq_client_info_alloca(&info);
            if (snd_seq_get_any_client_info(m_alsa, parsed->clientNumber, info) >= 0) {
                *client = snd_seq_client_info_get_name(info);
            }
        }
        *name = *client;
    }

    MidiSystem m_system;
    ErrorCount m_count;
    // Scans may come from any thread; one at a time keeps the client names and m_count tidy.
    std::mutex m_listersMutex;
    snd_seq_t* m_alsa = nullptr;
};

}  // namespace

std::unique_ptr<MidiBackend> CreateRtMidiBackend(MidiSystem system) {
    if (system == MidiSystem::None) {
        return nullptr;
    }
    PrepareMidiLibraries();
    auto backend = std::make_unique<RtMidiBackend>(system);
    if (!backend->Init()) {
        return nullptr;
    }
    return backend;
}

std::unique_ptr<InputStream> OpenRtMidiVirtualInput(MidiSystem system, const std::string& name,
                                                    std::string* error) {
    PrepareMidiLibraries();
    auto stream = std::make_unique<RtMidiInputStream>();
    if (system == MidiSystem::None || !stream->Open(system, {}, name)) {
        if (error != nullptr) {
            *error =
                std::string("cannot open a virtual MIDI input port on ") + MidiSystemName(system);
        }
        return nullptr;
    }
    return stream;
}

std::unique_ptr<OutputStream> OpenRtMidiVirtualOutput(MidiSystem system, const std::string& name,
                                                      std::string* error) {
    PrepareMidiLibraries();
    auto stream = std::make_unique<RtMidiOutputStream>(system);
    if (system == MidiSystem::None || !stream->Open({}, name)) {
        if (error != nullptr) {
            *error =
                std::string("cannot open a virtual MIDI output port on ") + MidiSystemName(system);
        }
        return nullptr;
    }
    return stream;
}

}  // namespace platform

#if defined(__SANITIZE_THREAD__)
#define RX300_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define RX300_TSAN 1
#endif
#endif

#ifdef RX300_TSAN
// JACK's ring buffers and RtMidi's input queue hand bytes between threads lock-free, with no
// atomics ThreadSanitizer could see; libjack's own threads live as long as its clients, and
// the device listers live as long as the process.
extern "C" const char* __tsan_default_suppressions() {
    return "race:jack_ringbuffer_\n"
           "race:MidiInApi::MidiQueue\n"
           "thread:libjack.so\n";
}
#endif
