#include "sim/virtual_sim_unit.h"

#include "platform/virtual_midi.h"

namespace sim {

void CVirtualSimUnit::CEndpointLink::Attach(vmidi::Endpoint* endpoint) {
    std::lock_guard held(m_endpointLock);
    m_endpoint = endpoint;
}

void CVirtualSimUnit::CEndpointLink::SendToHost(const std::uint8_t* data, std::size_t length) {
    std::lock_guard held(m_endpointLock);
    if (m_endpoint) m_endpoint->SendToHost(data, length);
}

CVirtualSimUnit::CVirtualSimUnit(const std::string& name, Options options)
    : m_shared(std::make_shared<Shared>(std::move(options))) {
    m_endpoint = vmidi::RegisterDevicePair(
        name, [shared = m_shared](const std::uint8_t* data, std::size_t length) {
            shared->unit.HandleFromHost(data, length);
        });
    m_shared->link.Attach(m_endpoint.get());
    m_name = m_endpoint ? m_endpoint->Name() : name;
}

CVirtualSimUnit::~CVirtualSimUnit() {
    // Stop the unit's thread first: it is the only one that sends through the endpoint.
    m_shared->unit.Stop();
    m_shared->link.Attach(nullptr);
    m_endpoint.reset();
}

}  // namespace sim
