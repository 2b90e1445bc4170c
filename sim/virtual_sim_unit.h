// CVirtualSimUnit: a simulated unit on an in-process virtual device pair, so that a whole update
// runs inside one process with no MIDI system: the host sees one input and one output device of
// the given name and talks to the unit through them.
#pragma once

#include <memory>
#include <string>

#include "sim/sim_unit.h"

namespace vmidi {
class Endpoint;
}

namespace sim {

constexpr char kDefaultDeviceName[] = "TAVO RX Series";

class CVirtualSimUnit {
  public:
    explicit CVirtualSimUnit(const std::string& name = kDefaultDeviceName, Options options = {});
    ~CVirtualSimUnit();
    CVirtualSimUnit(const CVirtualSimUnit&) = delete;
    CVirtualSimUnit& operator=(const CVirtualSimUnit&) = delete;

    CSimUnit& Unit() { return m_shared->unit; }
    const CSimUnit& Unit() const { return m_shared->unit; }
    // The name the device pair was registered under.
    const std::string& Name() const { return m_name; }

  private:
    class CEndpointLink : public Link {
      public:
        void Attach(vmidi::Endpoint* endpoint);
        void SendToHost(const std::uint8_t* data, std::size_t length) override;

      private:
        // The host may send, and so make the unit answer, before Attach has returned.
        std::mutex m_endpointLock;
        vmidi::Endpoint* m_endpoint = nullptr;
    };

    // Shared with the device pair's message handler, which may outlive this object by a call
    // in flight on the host's sending thread.
    struct Shared {
        explicit Shared(Options options) : unit(link, std::move(options)) {}
        CEndpointLink link;
        CSimUnit unit;
    };

    std::shared_ptr<Shared> m_shared;
    std::shared_ptr<vmidi::Endpoint> m_endpoint;
    std::string m_name;
};

}  // namespace sim
