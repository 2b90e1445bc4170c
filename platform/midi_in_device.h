// MIDI input devices behind midiIn*. Each open device has a delivery thread of ours that takes
// whole messages from the backend and hands them to the callback: SysEx into the oldest queued
// buffer (MIM_LONGDATA), anything else packed into MIM_DATA. Callbacks never overlap, never run
// after midiInClose has returned, and may prepare and queue buffers again from inside.
#pragma once

#include "platform/mmsystem.h"

namespace platform::midi_in {

UINT GetNumDevs();
MMRESULT GetDevCaps(UINT_PTR device, MIDIINCAPSA* caps, UINT size);
MMRESULT Open(HMIDIIN* handle, UINT device, DWORD_PTR callback, DWORD_PTR instance, DWORD flags);
MMRESULT Close(HMIDIIN handle);
MMRESULT PrepareHeader(HMIDIIN handle, MIDIHDR* header, UINT size);
MMRESULT UnprepareHeader(HMIDIIN handle, MIDIHDR* header, UINT size);
MMRESULT AddBuffer(HMIDIIN handle, MIDIHDR* header, UINT size);
MMRESULT Start(HMIDIIN handle);
MMRESULT Stop(HMIDIIN handle);
MMRESULT Reset(HMIDIIN handle);

// Messages that reached an open device while it was stopped or had no buffer queued.
UINT MessagesDropped(HMIDIIN handle);

}  // namespace platform::midi_in
