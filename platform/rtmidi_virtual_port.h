// A MIDI device that this program plays itself on ALSA or JACK: an input and an output port,
// both named NAME, that other programs connect to. The simulated unit appears this way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/midi_system.h"

namespace platform {

class InputStream;
class OutputStream;

class RtMidiVirtualPort {
  public:
    // Called with each whole message that reaches the input port, on a thread of this class,
    // one message after the other.
    using MessageHandler = std::function<void(const std::uint8_t* data, std::size_t length)>;

    RtMidiVirtualPort();
    ~RtMidiVirtualPort();
    RtMidiVirtualPort(const RtMidiVirtualPort&) = delete;
    RtMidiVirtualPort& operator=(const RtMidiVirtualPort&) = delete;

    // `choice` Auto follows RX300_MIDI and falls back from ALSA to JACK. False with a reason in
    // `error` when no system answers or a port cannot be made.
    [[nodiscard]] bool Open(const std::string& name, MessageHandler onMessage,
                            MidiSystemChoice choice = MidiSystemChoice::Auto,
                            std::string* error = nullptr);
    // Waits for a running handler call to return; no call starts afterwards.
    void Close();

    // One whole message per call, from any thread but not during Open or Close. False when
    // closed or when the system refused it (over JACK, messages above 16000 bytes).
    [[nodiscard]] bool Send(const std::uint8_t* data, std::size_t length);

    bool IsOpen() const { return m_output != nullptr; }
    MidiSystem System() const { return m_system; }

  private:
    MidiSystem m_system = MidiSystem::None;
    std::unique_ptr<InputStream> m_input;
    std::mutex m_sendMutex;
    std::unique_ptr<OutputStream> m_output;
    std::thread m_reader;
};

}  // namespace platform
