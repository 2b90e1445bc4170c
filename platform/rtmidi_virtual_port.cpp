#include "platform/rtmidi_virtual_port.h"

#include <vector>

#include "platform/midi_backend.h"
#include "platform/rtmidi_backend.h"

namespace platform {

RtMidiVirtualPort::RtMidiVirtualPort() = default;

RtMidiVirtualPort::~RtMidiVirtualPort() {
    Close();
}

bool RtMidiVirtualPort::Open(const std::string& name, MessageHandler onMessage,
                             MidiSystemChoice choice, std::string* error) {
    Close();
    const MidiSystem system = FindMidiSystem(choice);
    if (system == MidiSystem::None) {
        if (error != nullptr) {
            *error = choice == MidiSystemChoice::None ? "no MIDI system was chosen"
                                                      : "no MIDI system (ALSA or JACK) answers";
        }
        return false;
    }
    auto input = OpenRtMidiVirtualInput(system, name, error);
    if (!input) {
        return false;
    }
    auto output = OpenRtMidiVirtualOutput(system, name, error);
    if (!output) {
        return false;
    }
    m_system = system;
    m_input = std::move(input);
    m_output = std::move(output);
    try {
        m_reader = std::thread([stream = m_input.get(), handler = std::move(onMessage)] {
            std::vector<std::uint8_t> message;
            while (stream->Next(message)) {
                if (!message.empty() && handler) {
                    handler(message.data(), message.size());
                }
            }
        });
    } catch (...) {
        Close();
        if (error != nullptr) {
            *error = "cannot start the MIDI input thread";
        }
        return false;
    }
    return true;
}

void RtMidiVirtualPort::Close() {
    if (m_input) {
        m_input->Interrupt();
    }
    if (m_reader.joinable()) {
        m_reader.join();
    }
    m_input.reset();
    m_output.reset();
    m_system = MidiSystem::None;
}

bool RtMidiVirtualPort::Send(const std::uint8_t* data, std::size_t length) {
    if (!m_output || data == nullptr || length == 0) {
        return false;
    }
    std::lock_guard lock(m_sendMutex);
    return m_output->Send(data, length) == 0;
}

}  // namespace platform
