// The seam behind the multimedia services: every function of mmsystem.h forwards to the active
// IMmSystem. Production uses the real one (MIDI backends, timer threads); tests may install a
// recording fake to check which calls a port or timer makes and in what order.
#pragma once

#include "platform/mmsystem.h"

class IMmSystem {
  public:
    virtual ~IMmSystem() = default;

    virtual UINT midiInGetNumDevs() = 0;
    virtual MMRESULT midiInGetDevCapsA(UINT_PTR device, MIDIINCAPSA* caps, UINT size) = 0;
    virtual MMRESULT midiInOpen(HMIDIIN* handle, UINT device, DWORD_PTR callback,
                                DWORD_PTR instance, DWORD flags) = 0;
    virtual MMRESULT midiInClose(HMIDIIN handle) = 0;
    virtual MMRESULT midiInPrepareHeader(HMIDIIN handle, MIDIHDR* header, UINT size) = 0;
    virtual MMRESULT midiInUnprepareHeader(HMIDIIN handle, MIDIHDR* header, UINT size) = 0;
    virtual MMRESULT midiInAddBuffer(HMIDIIN handle, MIDIHDR* header, UINT size) = 0;
    virtual MMRESULT midiInStart(HMIDIIN handle) = 0;
    virtual MMRESULT midiInStop(HMIDIIN handle) = 0;
    virtual MMRESULT midiInReset(HMIDIIN handle) = 0;

    virtual UINT midiOutGetNumDevs() = 0;
    virtual MMRESULT midiOutGetDevCapsA(UINT_PTR device, MIDIOUTCAPSA* caps, UINT size) = 0;
    virtual MMRESULT midiOutOpen(HMIDIOUT* handle, UINT device, DWORD_PTR callback,
                                 DWORD_PTR instance, DWORD flags) = 0;
    virtual MMRESULT midiOutClose(HMIDIOUT handle) = 0;
    virtual MMRESULT midiOutPrepareHeader(HMIDIOUT handle, MIDIHDR* header, UINT size) = 0;
    virtual MMRESULT midiOutUnprepareHeader(HMIDIOUT handle, MIDIHDR* header, UINT size) = 0;
    virtual MMRESULT midiOutLongMsg(HMIDIOUT handle, MIDIHDR* header, UINT size) = 0;
    virtual MMRESULT midiOutShortMsg(HMIDIOUT handle, DWORD message) = 0;

    virtual MMRESULT timeGetDevCaps(TIMECAPS* caps, UINT size) = 0;
    virtual MMRESULT timeBeginPeriod(UINT period) = 0;
    virtual MMRESULT timeEndPeriod(UINT period) = 0;
    virtual MMRESULT timeSetEvent(UINT delay, UINT resolution, LPTIMECALLBACK callback,
                                  DWORD_PTR user, UINT flags) = 0;
    virtual MMRESULT timeKillEvent(UINT timerId) = 0;

    virtual void Sleep(DWORD milliseconds) = 0;
    virtual void* HeapAlloc(DWORD flags, std::size_t bytes) = 0;
    virtual BOOL HeapFree(void* memory) = 0;
};

IMmSystem& RealMmSystem();

// Routes every call of mmsystem.h through `system` until called again with nullptr. Tests only;
// call it while no device is open and no timer runs.
void SetMmSystemForTesting(IMmSystem* system);
