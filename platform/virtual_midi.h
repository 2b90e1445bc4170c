// Virtual MIDI devices inside this process: code that plays the far end of a cable (the
// simulated unit, tests) registers a named device pair and the whole program runs with no MIDI
// system at all. The pair shows up as one input and one output device, after the real ones.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace vmidi {

// Called with every message the host sends to the pair's output device, on the sending thread,
// while that send is in progress: it must not block. Sends through two host devices may call it
// at the same time. It may call SendToHost, but must not destroy the endpoint.
using HostMessageHandler = std::function<void(const std::uint8_t* data, std::size_t length)>;

class Endpoint {
  public:
    virtual ~Endpoint() = default;
    // Delivers one message to the pair's input device, as if it came down the cable. Dropped
    // when the host has not opened that device. Never blocks on the host.
    virtual void SendToHost(const std::uint8_t* data, std::size_t length) = 0;
    virtual const std::string& Name() const = 0;
};

// Registers a device pair named `name`; it disappears when the returned endpoint is destroyed,
// which waits for a call of `onHost` in progress. Devices that the host has open at that moment
// stop delivering and refuse sends.
std::shared_ptr<Endpoint> RegisterDevicePair(const std::string& name, HostMessageHandler onHost);

}  // namespace vmidi
