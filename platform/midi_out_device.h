// MIDI output devices behind midiOut*. A long message goes out whole, in one backend send, and
// is done (MHDR_DONE) when midiOutLongMsg returns; sends from several threads take turns.
#pragma once

#include "platform/mmsystem.h"

namespace platform::midi_out {

UINT GetNumDevs();
MMRESULT GetDevCaps(UINT_PTR device, MIDIOUTCAPSA* caps, UINT size);
MMRESULT Open(HMIDIOUT* handle, UINT device, DWORD_PTR callback, DWORD_PTR instance, DWORD flags);
MMRESULT Close(HMIDIOUT handle);
MMRESULT PrepareHeader(HMIDIOUT handle, MIDIHDR* header, UINT size);
MMRESULT UnprepareHeader(HMIDIOUT handle, MIDIHDR* header, UINT size);
MMRESULT LongMsg(HMIDIOUT handle, MIDIHDR* header, UINT size);
MMRESULT ShortMsg(HMIDIOUT handle, DWORD message);

// Bytes in a short message with this status byte; 0 when it cannot start one (SysEx, EOX,
// running status).
int ShortMessageLength(BYTE status);

}  // namespace platform::midi_out
