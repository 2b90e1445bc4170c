#include "platform/heap_sleep.h"
#include "platform/midi_in_device.h"
#include "platform/midi_out_device.h"
#include "platform/mm_dispatch.h"
#include "platform/timer.h"

namespace {

class RealSystem final : public IMmSystem {
  public:
    UINT midiInGetNumDevs() override { return platform::midi_in::GetNumDevs(); }
    MMRESULT midiInGetDevCapsA(UINT_PTR device, MIDIINCAPSA* caps, UINT size) override {
        return platform::midi_in::GetDevCaps(device, caps, size);
    }
    MMRESULT midiInOpen(HMIDIIN* handle, UINT device, DWORD_PTR callback, DWORD_PTR instance,
                        DWORD flags) override {
        return platform::midi_in::Open(handle, device, callback, instance, flags);
    }
    MMRESULT midiInClose(HMIDIIN handle) override { return platform::midi_in::Close(handle); }
    MMRESULT midiInPrepareHeader(HMIDIIN handle, MIDIHDR* header, UINT size) override {
        return platform::midi_in::PrepareHeader(handle, header, size);
    }
    MMRESULT midiInUnprepareHeader(HMIDIIN handle, MIDIHDR* header, UINT size) override {
        return platform::midi_in::UnprepareHeader(handle, header, size);
    }
    MMRESULT midiInAddBuffer(HMIDIIN handle, MIDIHDR* header, UINT size) override {
        return platform::midi_in::AddBuffer(handle, header, size);
    }
    MMRESULT midiInStart(HMIDIIN handle) override { return platform::midi_in::Start(handle); }
    MMRESULT midiInStop(HMIDIIN handle) override { return platform::midi_in::Stop(handle); }
    MMRESULT midiInReset(HMIDIIN handle) override { return platform::midi_in::Reset(handle); }

    UINT midiOutGetNumDevs() override { return platform::midi_out::GetNumDevs(); }
    MMRESULT midiOutGetDevCapsA(UINT_PTR device, MIDIOUTCAPSA* caps, UINT size) override {
        return platform::midi_out::GetDevCaps(device, caps, size);
    }
    MMRESULT midiOutOpen(HMIDIOUT* handle, UINT device, DWORD_PTR callback, DWORD_PTR instance,
                         DWORD flags) override {
        return platform::midi_out::Open(handle, device, callback, instance, flags);
    }
    MMRESULT midiOutClose(HMIDIOUT handle) override { return platform::midi_out::Close(handle); }
    MMRESULT midiOutPrepareHeader(HMIDIOUT handle, MIDIHDR* header, UINT size) override {
        return platform::midi_out::PrepareHeader(handle, header, size);
    }
    MMRESULT midiOutUnprepareHeader(HMIDIOUT handle, MIDIHDR* header, UINT size) override {
        return platform::midi_out::UnprepareHeader(handle, header, size);
    }
    MMRESULT midiOutLongMsg(HMIDIOUT handle, MIDIHDR* header, UINT size) override {
        return platform::midi_out::LongMsg(handle, header, size);
    }
    MMRESULT midiOutShortMsg(HMIDIOUT handle, DWORD message) override {
        return platform::midi_out::ShortMsg(handle, message);
    }

    MMRESULT timeGetDevCaps(TIMECAPS* caps, UINT size) override {
        return platform::timer::GetDevCaps(caps, size);
    }
    MMRESULT timeBeginPeriod(UINT period) override { return platform::timer::BeginPeriod(period); }
    MMRESULT timeEndPeriod(UINT period) override { return platform::timer::EndPeriod(period); }
    MMRESULT timeSetEvent(UINT delay, UINT resolution, LPTIMECALLBACK callback, DWORD_PTR user,
                          UINT flags) override {
        return platform::timer::SetEvent(delay, resolution, callback, user, flags);
    }
    MMRESULT timeKillEvent(UINT id) override { return platform::timer::KillEvent(id); }

    void Sleep(DWORD milliseconds) override { platform::SleepFor(milliseconds); }
    void* HeapAlloc(DWORD flags, std::size_t bytes) override {
        return platform::HeapAllocate(flags, bytes);
    }
    BOOL HeapFree(void* memory) override { return platform::HeapRelease(memory); }
};

}  // namespace

IMmSystem& RealMmSystem() {
    // Never destroyed: ports and timers held by static objects are released at exit.
    static auto* system = new RealSystem;
    return *system;
}
