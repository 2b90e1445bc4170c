// A recording stand-in for the multimedia services: every call is recorded with its arguments
// in order, each function's result can be scripted, and the test plays the device: it delivers
// input through the callback given to midiInOpen, decides when a long message is done, and
// fires timer events by hand. MIDI buffers follow the rules the ports rely on (prepare before
// queueing, no unprepare or close while queued, reset hands every queued buffer back empty).
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "platform/mm_dispatch.h"

namespace rxtest {

enum class Fn {
    midiInGetNumDevs,
    midiInGetDevCapsA,
    midiInOpen,
    midiInClose,
    midiInPrepareHeader,
    midiInUnprepareHeader,
    midiInAddBuffer,
    midiInStart,
    midiInStop,
    midiInReset,
    midiOutGetNumDevs,
    midiOutGetDevCapsA,
    midiOutOpen,
    midiOutClose,
    midiOutPrepareHeader,
    midiOutUnprepareHeader,
    midiOutLongMsg,
    midiOutShortMsg,
    timeGetDevCaps,
    timeBeginPeriod,
    timeEndPeriod,
    timeSetEvent,
    timeKillEvent,
    Sleep,
    HeapAlloc,
    HeapFree,
};

const char* FnName(Fn fn);
std::ostream& operator<<(std::ostream& out, Fn fn);

// One recorded call; pointers and handles are recorded as their addresses.
struct Call {
    Fn fn;
    std::vector<std::uintptr_t> args;
};

using Bytes = std::vector<std::uint8_t>;

class FakeMmSystem : public IMmSystem {
  public:
    FakeMmSystem();
    // Frees the heap blocks that are still live, as the end of the process would.
    ~FakeMmSystem() override;
    FakeMmSystem(const FakeMmSystem&) = delete;
    FakeMmSystem& operator=(const FakeMmSystem&) = delete;

    // Every later call of `fn` fails with `code` and has no effect (timeSetEvent then returns 0,
    // HeapAlloc null), until Succeed.
    void Fail(Fn fn, MMRESULT code = MMSYSERR_ERROR);
    // Only the nth call of `fn` from now on fails (1 = the next one).
    void FailCall(Fn fn, int nth, MMRESULT code = MMSYSERR_ERROR);
    void Succeed(Fn fn);

    std::vector<Call> Calls() const;
    std::vector<Fn> Sequence() const;
    // The sequence without heap calls.
    std::vector<Fn> PlatformSequence() const;
    int CountOf(Fn fn) const;
    // The arguments of the last call of `fn`; empty when there was none.
    std::vector<std::uintptr_t> LastArgs(Fn fn) const;
    void ClearCalls();

    void SetInputDevices(std::vector<std::string> names);
    void SetOutputDevices(std::vector<std::string> names);

    // The open input device.
    bool InputOpen() const;
    HMIDIIN InputHandle() const;
    bool InputStarted() const;
    int QueuedInputBuffers() const;
    MIDIHDR* OldestQueuedInputBuffer() const;
    // Calls the input callback as the platform would; false when no input device is open.
    bool Deliver(UINT message, DWORD_PTR param1, DWORD_PTR param2 = 0);
    bool DeliverShort(DWORD packed);
    // Fills the oldest queued buffer with `message`, hands it back done and calls the callback
    // with MIM_LONGDATA; false when the device is not started or no buffer is queued.
    bool DeliverSysEx(const Bytes& message);
    // Hands the oldest queued buffer back with MIM_LONGERROR and `partial` in it.
    bool DeliverLongError(const Bytes& partial);
    // The next midiInStop hands the oldest queued buffer back with these bytes in it, as a
    // device does with a message cut short.
    void HandBackOnStop(Bytes partial);

    bool OutputOpen() const;
    HMIDIOUT OutputHandle() const;
    // A long message is done only after this many Sleep calls (0: at once).
    void SetDoneAfterPolls(int polls);
    std::vector<Bytes> SentLong() const;
    std::vector<DWORD> SentShort() const;

    void SetTimerCaps(UINT periodMin, UINT periodMax);
    // Resolution requests granted and not yet released, over all periods.
    int PeriodRequestsHeld() const;
    // timeEndPeriod calls that had no request to release.
    int UnmatchedPeriodEnds() const;
    int LiveEvents() const;
    UINT LastEventId() const;
    // Runs the callback of a live event once, on the calling thread.
    bool FireTimer(UINT id);

    int LiveHeapBlocks() const;
    // HeapFree calls on memory that is not a live block.
    int BadHeapFrees() const;

    UINT midiInGetNumDevs() override;
    MMRESULT midiInGetDevCapsA(UINT_PTR device, MIDIINCAPSA* caps, UINT size) override;
    MMRESULT midiInOpen(HMIDIIN* handle, UINT device, DWORD_PTR callback, DWORD_PTR instance,
                        DWORD flags) override;
    MMRESULT midiInClose(HMIDIIN handle) override;
    MMRESULT midiInPrepareHeader(HMIDIIN handle, MIDIHDR* header, UINT size) override;
    MMRESULT midiInUnprepareHeader(HMIDIIN handle, MIDIHDR* header, UINT size) override;
    MMRESULT midiInAddBuffer(HMIDIIN handle, MIDIHDR* header, UINT size) override;
    MMRESULT midiInStart(HMIDIIN handle) override;
    MMRESULT midiInStop(HMIDIIN handle) override;
    MMRESULT midiInReset(HMIDIIN handle) override;

    UINT midiOutGetNumDevs() override;
    MMRESULT midiOutGetDevCapsA(UINT_PTR device, MIDIOUTCAPSA* caps, UINT size) override;
    MMRESULT midiOutOpen(HMIDIOUT* handle, UINT device, DWORD_PTR callback, DWORD_PTR instance,
                         DWORD flags) override;
    MMRESULT midiOutClose(HMIDIOUT handle) override;
    MMRESULT midiOutPrepareHeader(HMIDIOUT handle, MIDIHDR* header, UINT size) override;
    MMRESULT midiOutUnprepareHeader(HMIDIOUT handle, MIDIHDR* header, UINT size) override;
    MMRESULT midiOutLongMsg(HMIDIOUT handle, MIDIHDR* header, UINT size) override;
    MMRESULT midiOutShortMsg(HMIDIOUT handle, DWORD message) override;

    MMRESULT timeGetDevCaps(TIMECAPS* caps, UINT size) override;
    MMRESULT timeBeginPeriod(UINT period) override;
    MMRESULT timeEndPeriod(UINT period) override;
    MMRESULT timeSetEvent(UINT delay, UINT resolution, LPTIMECALLBACK callback, DWORD_PTR user,
                          UINT flags) override;
    MMRESULT timeKillEvent(UINT timerId) override;

    void Sleep(DWORD milliseconds) override;
    void* HeapAlloc(DWORD flags, std::size_t bytes) override;
    BOOL HeapFree(void* memory) override;

  private:
    struct Script {
        MMRESULT always = MMSYSERR_NOERROR;
        std::map<int, MMRESULT> nth;  // by call number
        int calls = 0;
    };
    struct Event {
        LPTIMECALLBACK callback;
        DWORD_PTR user;
    };
    struct InputCallback {
        MIDIINPROC proc = nullptr;
        HMIDIIN handle = nullptr;
        DWORD_PTR instance = 0;
    };

    // Records the call and returns its scripted result; the caller holds m_mutex.
    MMRESULT Record(Fn fn, std::vector<std::uintptr_t> args);
    InputCallback InputCallbackLocked() const;
    MIDIHDR* TakeOldestQueuedLocked();
    void Invoke(const InputCallback& target, UINT message, DWORD_PTR param1, DWORD_PTR param2);

    mutable std::mutex m_mutex;  // the test thread and the port's threads all call in
    std::vector<Call> m_calls;
    std::map<Fn, Script> m_scripts;

    std::vector<std::string> m_inputNames;
    std::vector<std::string> m_outputNames;
    std::uintptr_t m_nextHandle = 0x1000;

    HMIDIIN m_inHandle = nullptr;
    InputCallback m_inCallback;
    bool m_inStarted = false;
    std::vector<MIDIHDR*> m_inQueue;
    bool m_handBackOnStop = false;
    Bytes m_stopPartial;

    HMIDIOUT m_outHandle = nullptr;
    int m_doneAfterPolls = 0;
    MIDIHDR* m_pending = nullptr;
    int m_pollsLeft = 0;
    std::vector<Bytes> m_sentLong;
    std::vector<DWORD> m_sentShort;

    TIMECAPS m_timerCaps{1, 1000000};
    std::map<UINT, int> m_periodsHeld;
    int m_unmatchedEnds = 0;
    std::map<UINT, Event> m_events;
    UINT m_nextEventId = 1;
    UINT m_lastEventId = 0;

    std::map<void*, std::size_t> m_heap;
    int m_badFrees = 0;
};

// Routes the multimedia services through `system` for the guard's lifetime. Declare it before
// the ports and timers under test, so that they are destroyed while it is still installed.
class ScopedMmSystem {
  public:
    explicit ScopedMmSystem(IMmSystem& system) { SetMmSystemForTesting(&system); }
    ~ScopedMmSystem() { SetMmSystemForTesting(nullptr); }
    ScopedMmSystem(const ScopedMmSystem&) = delete;
    ScopedMmSystem& operator=(const ScopedMmSystem&) = delete;
};

}  // namespace rxtest
