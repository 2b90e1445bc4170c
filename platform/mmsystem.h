// Our stand-in for the multimedia services the ports and the timer are written against: MIDI
// input and output devices with buffer headers and callbacks, periodic timer events, pauses and
// the process heap. Every call returns 0 on success and a non-zero error code otherwise.
#pragma once

#include <cstddef>
#include <cstdint>

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using UINT = unsigned int;
using BOOL = int;
using DWORD_PTR = std::uintptr_t;
using UINT_PTR = std::uintptr_t;
using MMRESULT = UINT;
using LPSTR = char*;
using HANDLE = void*;

struct MidiInDevice;
struct MidiOutDevice;
using HMIDIIN = MidiInDevice*;
using HMIDIOUT = MidiOutDevice*;

#ifndef CALLBACK
#define CALLBACK
#endif

constexpr MMRESULT MMSYSERR_NOERROR = 0;
constexpr MMRESULT MMSYSERR_ERROR = 1;
constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
constexpr MMRESULT MMSYSERR_ALLOCATED = 4;
constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
constexpr MMRESULT MMSYSERR_NODRIVER = 6;
constexpr MMRESULT MMSYSERR_NOMEM = 7;
constexpr MMRESULT MMSYSERR_INVALFLAG = 10;
constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
constexpr MMRESULT MIDIERR_UNPREPARED = 64;
constexpr MMRESULT MIDIERR_STILLPLAYING = 65;
constexpr MMRESULT MIDIERR_NOTREADY = 67;
constexpr MMRESULT TIMERR_NOERROR = 0;
constexpr MMRESULT TIMERR_NOCANDO = 97;

// Device number that the platform's own layer maps to a "MIDI mapper"; ours has none.
constexpr UINT MIDI_MAPPER = static_cast<UINT>(-1);

constexpr DWORD CALLBACK_NULL = 0x00000;
constexpr DWORD CALLBACK_FUNCTION = 0x30000;

constexpr DWORD MHDR_DONE = 0x1;
constexpr DWORD MHDR_PREPARED = 0x2;
constexpr DWORD MHDR_INQUEUE = 0x4;

// Messages delivered to a MIDI input callback.
constexpr UINT MIM_OPEN = 0x3C1;
constexpr UINT MIM_CLOSE = 0x3C2;
constexpr UINT MIM_DATA = 0x3C3;
constexpr UINT MIM_LONGDATA = 0x3C4;
constexpr UINT MIM_ERROR = 0x3C5;
constexpr UINT MIM_LONGERROR = 0x3C6;

// A long-message buffer header. The caller owns it; the platform writes dwBytesRecorded and
// dwFlags while it holds the buffer.
struct MIDIHDR {
    LPSTR lpData;
    DWORD dwBufferLength;
    DWORD dwBytesRecorded;
    DWORD_PTR dwUser;
    DWORD dwFlags;
    MIDIHDR* lpNext;
    DWORD_PTR reserved;
    DWORD dwOffset;
    DWORD_PTR dwReserved[4];
};
using LPMIDIHDR = MIDIHDR*;

struct MIDIINCAPSA {
    WORD wMid;
    WORD wPid;
    UINT vDriverVersion;
    char szPname[32];
    DWORD dwSupport;
};
static_assert(sizeof(MIDIINCAPSA) == 44);

struct MIDIOUTCAPSA {
    WORD wMid;
    WORD wPid;
    UINT vDriverVersion;
    char szPname[32];
    WORD wTechnology;
    WORD wVoices;
    WORD wNotes;
    WORD wChannelMask;
    DWORD dwSupport;
};
static_assert(sizeof(MIDIOUTCAPSA) == 52);

using MIDIINPROC = void(CALLBACK*)(HMIDIIN handle, UINT message, DWORD_PTR instance,
                                   DWORD_PTR param1, DWORD_PTR param2);

UINT midiInGetNumDevs();
MMRESULT midiInGetDevCapsA(UINT_PTR device, MIDIINCAPSA* caps, UINT size);
MMRESULT midiInOpen(HMIDIIN* handle, UINT device, DWORD_PTR callback, DWORD_PTR instance,
                    DWORD flags);
MMRESULT midiInClose(HMIDIIN handle);
MMRESULT midiInPrepareHeader(HMIDIIN handle, MIDIHDR* header, UINT size);
MMRESULT midiInUnprepareHeader(HMIDIIN handle, MIDIHDR* header, UINT size);
MMRESULT midiInAddBuffer(HMIDIIN handle, MIDIHDR* header, UINT size);
MMRESULT midiInStart(HMIDIIN handle);
MMRESULT midiInStop(HMIDIIN handle);
MMRESULT midiInReset(HMIDIIN handle);

UINT midiOutGetNumDevs();
MMRESULT midiOutGetDevCapsA(UINT_PTR device, MIDIOUTCAPSA* caps, UINT size);
MMRESULT midiOutOpen(HMIDIOUT* handle, UINT device, DWORD_PTR callback, DWORD_PTR instance,
                     DWORD flags);
MMRESULT midiOutClose(HMIDIOUT handle);
MMRESULT midiOutPrepareHeader(HMIDIOUT handle, MIDIHDR* header, UINT size);
MMRESULT midiOutUnprepareHeader(HMIDIOUT handle, MIDIHDR* header, UINT size);
MMRESULT midiOutLongMsg(HMIDIOUT handle, MIDIHDR* header, UINT size);
MMRESULT midiOutShortMsg(HMIDIOUT handle, DWORD message);

// Timer services.
struct TIMECAPS {
    UINT wPeriodMin;
    UINT wPeriodMax;
};
static_assert(sizeof(TIMECAPS) == 8);

constexpr UINT TIME_ONESHOT = 0;
constexpr UINT TIME_PERIODIC = 1;

using LPTIMECALLBACK = void(CALLBACK*)(UINT timerId, UINT message, DWORD_PTR user, DWORD_PTR dw1,
                                       DWORD_PTR dw2);

MMRESULT timeGetDevCaps(TIMECAPS* caps, UINT size);
MMRESULT timeBeginPeriod(UINT period);
MMRESULT timeEndPeriod(UINT period);
// Returns the new event's id, 0 on failure.
MMRESULT timeSetEvent(UINT delay, UINT resolution, LPTIMECALLBACK callback, DWORD_PTR user,
                      UINT flags);
MMRESULT timeKillEvent(UINT timerId);

void Sleep(DWORD milliseconds);

// Process heap.
constexpr DWORD HEAP_ZERO_MEMORY = 0x8;
HANDLE GetProcessHeap();
void* HeapAlloc(HANDLE heap, DWORD flags, std::size_t bytes);
BOOL HeapFree(HANDLE heap, DWORD flags, void* memory);
