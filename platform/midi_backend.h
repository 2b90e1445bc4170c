// What the MIDI devices need from a MIDI system: its ports, in a stable order, and a way to
// open one for reading or writing whole messages. RtMidi (ALSA or JACK) and the in-process
// virtual devices implement it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/mmsystem.h"

namespace platform {

struct PortRef {
    // The backend's own key for the port, stable while the port exists.
    std::string id;
    // Product name, before duplicates are numbered and before it is cut to fit.
    std::string name;
};

class InputStream {
  public:
    virtual ~InputStream() = default;
    // Blocks until the next whole message arrives; false once Interrupt was called.
    virtual bool Next(std::vector<std::uint8_t>& message) = 0;
    // Makes a waiting Next, and every later one, return false. Callable from any thread.
    virtual void Interrupt() = 0;
};

class OutputStream {
  public:
    virtual ~OutputStream() = default;
    // Sends one whole message; returns once the MIDI system has taken the bytes. A message the
    // system would drop is refused instead. Callers serialise sends on one stream.
    virtual MMRESULT Send(const std::uint8_t* data, std::size_t length) = 0;
};

class MidiBackend {
  public:
    virtual ~MidiBackend() = default;
    // Ports that can be read (they become input devices) and ports that can be written.
    virtual std::vector<PortRef> ReadablePorts() = 0;
    virtual std::vector<PortRef> WritablePorts() = 0;
    // Null when the port is gone or cannot be opened.
    virtual std::unique_ptr<InputStream> OpenInput(const std::string& id) = 0;
    virtual std::unique_ptr<OutputStream> OpenOutput(const std::string& id) = 0;
};

}  // namespace platform
