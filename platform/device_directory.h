// The numbered MIDI devices: the real system's ports first, then the virtual pairs. Counting
// reads the lists afresh; names and opens use the list as last counted, so that a device
// number keeps meaning what the caller was shown.
#pragma once

#include <memory>
#include <string>

#include "platform/midi_backend.h"
#include "platform/mmsystem.h"

namespace platform {

namespace devices {

UINT CountInputs();
UINT CountOutputs();

// False for a number outside the list.
bool InputName(UINT_PTR device, std::string* name);
bool OutputName(UINT_PTR device, std::string* name);

// MMSYSERR_BADDEVICEID for a number outside the list (MIDI_MAPPER included), MMSYSERR_NODRIVER
// when the port is gone or refuses to open.
MMRESULT OpenInput(UINT device, std::unique_ptr<InputStream>* stream);
MMRESULT OpenOutput(UINT device, std::unique_ptr<OutputStream>* stream);

// The system behind the real devices, probed on first use.
const char* RealSystemName();

}  // namespace devices

}  // namespace platform
