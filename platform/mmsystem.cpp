#include "platform/mmsystem.h"

#include <atomic>

#include "platform/mm_dispatch.h"

namespace {

std::atomic<IMmSystem*> g_testingSystem{nullptr};

IMmSystem& Active() {
    IMmSystem* system = g_testingSystem.load(std::memory_order_acquire);
    return system != nullptr ? *system : RealMmSystem();
}

int g_processHeap;

}  // namespace

void SetMmSystemForTesting(IMmSystem* system) {
    g_testingSystem.store(system, std::memory_order_release);
}

UINT midiInGetNumDevs() {
    return Active().midiInGetNumDevs();
}
MMRESULT midiInGetDevCapsA(UINT_PTR device, MIDIINCAPSA* caps, UINT size) {
    return Active().midiInGetDevCapsA(device, caps, size);
}
MMRESULT midiInOpen(HMIDIIN* handle, UINT device, DWORD_PTR callback, DWORD_PTR instance,
                    DWORD flags) {
    return Active().midiInOpen(handle, device, callback, instance, flags);
}
MMRESULT midiInClose(HMIDIIN handle) {
    return Active().midiInClose(handle);
}
MMRESULT midiInPrepareHeader(HMIDIIN handle, MIDIHDR* header, UINT size) {
    return Active().midiInPrepareHeader(handle, header, size);
}
MMRESULT midiInUnprepareHeader(HMIDIIN handle, MIDIHDR* header, UINT size) {
    return Active().midiInUnprepareHeader(handle, header, size);
}
MMRESULT midiInAddBuffer(HMIDIIN handle, MIDIHDR* header, UINT size) {
    return Active().midiInAddBuffer(handle, header, size);
}
MMRESULT midiInStart(HMIDIIN handle) {
    return Active().midiInStart(handle);
}
MMRESULT midiInStop(HMIDIIN handle) {
    return Active().midiInStop(handle);
}
MMRESULT midiInReset(HMIDIIN handle) {
    return Active().midiInReset(handle);
}

UINT midiOutGetNumDevs() {
    return Active().midiOutGetNumDevs();
}
MMRESULT midiOutGetDevCapsA(UINT_PTR device, MIDIOUTCAPSA* caps, UINT size) {
    return Active().midiOutGetDevCapsA(device, caps, size);
}
MMRESULT midiOutOpen(HMIDIOUT* handle, UINT device, DWORD_PTR callback, DWORD_PTR instance,
                     DWORD flags) {
    return Active().midiOutOpen(handle, device, callback, instance, flags);
}
MMRESULT midiOutClose(HMIDIOUT handle) {
    return Active().midiOutClose(handle);
}
MMRESULT midiOutPrepareHeader(HMIDIOUT handle, MIDIHDR* header, UINT size) {
    return Active().midiOutPrepareHeader(handle, header, size);
}
MMRESULT midiOutUnprepareHeader(HMIDIOUT handle, MIDIHDR* header, UINT size) {
    return Active().midiOutUnprepareHeader(handle, header, size);
}
MMRESULT midiOutLongMsg(HMIDIOUT handle, MIDIHDR* header, UINT size) {
    return Active().midiOutLongMsg(handle, header, size);
}
MMRESULT midiOutShortMsg(HMIDIOUT handle, DWORD message) {
    return Active().midiOutShortMsg(handle, message);
}

MMRESULT timeGetDevCaps(TIMECAPS* caps, UINT size) {
    return Active().timeGetDevCaps(caps, size);
}
MMRESULT timeBeginPeriod(UINT period) {
    return Active().timeBeginPeriod(period);
}
MMRESULT timeEndPeriod(UINT period) {
    return Active().timeEndPeriod(period);
}
MMRESULT timeSetEvent(UINT delay, UINT resolution, LPTIMECALLBACK callback, DWORD_PTR user,
                      UINT flags) {
    return Active().timeSetEvent(delay, resolution, callback, user, flags);
}
MMRESULT timeKillEvent(UINT timerId) {
    return Active().timeKillEvent(timerId);
}

void Sleep(DWORD milliseconds) {
    Active().Sleep(milliseconds);
}

HANDLE GetProcessHeap() {
    return &g_processHeap;
}
void* HeapAlloc(HANDLE heap, DWORD flags, std::size_t bytes) {
    return heap == GetProcessHeap() ? Active().HeapAlloc(flags, bytes) : nullptr;
}
BOOL HeapFree(HANDLE heap, DWORD flags, void* memory) {
    (void)flags;
    return heap == GetProcessHeap() ? Active().HeapFree(memory) : 0;
}
