// The in-process virtual devices of virtual_midi.h, seen as a MIDI backend: every registered
// pair is one readable and one writable port, in registration order.
#pragma once

#include "platform/midi_backend.h"

namespace platform {

MidiBackend& VirtualBackend();

}  // namespace platform
