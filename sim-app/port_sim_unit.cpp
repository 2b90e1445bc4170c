#include "sim-app/port_sim_unit.h"

#include <utility>

void CPortSimUnit::CPortLink::SendToHost(const std::uint8_t* data, std::size_t length) {
    if (!m_port.Send(data, length)) {
        refused.fetch_add(1);
    }
}

CPortSimUnit::~CPortSimUnit() {
    Close();
}

bool CPortSimUnit::Open(const std::string& name, sim::Options options,
                        platform::MidiSystemChoice choice, std::string* error) {
    Close();
    m_unit = std::make_unique<sim::CSimUnit>(m_link, std::move(options));
    sim::CSimUnit* unit = m_unit.get();
    const bool opened = m_port.Open(
        name,
        [unit](const std::uint8_t* data, std::size_t length) {
            unit->HandleFromHost(data, length);
        },
        choice, error);
    if (!opened) {
        m_unit.reset();
    }
    return opened;
}

void CPortSimUnit::Close() {
    // The unit's thread is the only one that sends: stop it before the port goes.
    if (m_unit) {
        m_unit->Stop();
    }
    m_port.Close();
    m_unit.reset();
}
