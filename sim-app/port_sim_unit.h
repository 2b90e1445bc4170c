// The simulated unit on a virtual port pair of ALSA or JACK, so that other programs (the
// updater among them) find it as a MIDI device by name and update it across processes.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/midi_system.h"
#include "platform/rtmidi_virtual_port.h"
#include "sim/sim_unit.h"

class CPortSimUnit {
  public:
    CPortSimUnit() = default;
    ~CPortSimUnit();
    CPortSimUnit(const CPortSimUnit&) = delete;
    CPortSimUnit& operator=(const CPortSimUnit&) = delete;

    // False with the reason in `error` when no MIDI system of `choice` answers or the ports
    // cannot be made.
    [[nodiscard]] bool Open(const std::string& name, sim::Options options,
                            platform::MidiSystemChoice choice, std::string* error);
    // Stops the unit, then the ports; idempotent. Not from the unit's own callback.
    void Close();

    // Only between a successful Open and Close.
    sim::CSimUnit& Unit() { return *m_unit; }
    const sim::CSimUnit& Unit() const { return *m_unit; }
    platform::MidiSystem System() const { return m_port.System(); }
    // Messages of the unit that the MIDI system refused to carry.
    std::int64_t RefusedSends() const { return m_link.refused.load(); }

  private:
    class CPortLink : public sim::Link {
      public:
        explicit CPortLink(platform::RtMidiVirtualPort& port) : m_port(port) {}
        void SendToHost(const std::uint8_t* data, std::size_t length) override;

        std::atomic<std::int64_t> refused{0};

      private:
        platform::RtMidiVirtualPort& m_port;
    };

    platform::RtMidiVirtualPort m_port;
    CPortLink m_link{m_port};
    std::unique_ptr<sim::CSimUnit> m_unit;
};
