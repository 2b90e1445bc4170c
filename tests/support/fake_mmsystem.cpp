#include "tests/support/fake_mmsystem.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace rxtest {

namespace {

constexpr UINT kHeaderSize = sizeof(MIDIHDR);

std::uintptr_t Addr(const void* p) {
    return reinterpret_cast<std::uintptr_t>(p);
}

// Left behind by a failed open, so that a caller who trusts it is caught.
HMIDIIN const kPoisonIn = reinterpret_cast<HMIDIIN>(std::uintptr_t{0xBAD0});
HMIDIOUT const kPoisonOut = reinterpret_cast<HMIDIOUT>(std::uintptr_t{0xBAD1});

template <typename Caps>
void FillName(Caps* caps, const std::string& name) {
    std::memset(caps, 0, sizeof(*caps));
    std::strncpy(caps->szPname, name.c_str(), sizeof(caps->szPname) - 1);
}

// What a failed query leaves behind: the port must not take it for a name.
template <typename Caps>
void FillGarbage(Caps* caps) {
    std::memset(caps, 'X', sizeof(*caps));
}

}  // namespace

const char* FnName(Fn fn) {
    switch (fn) {
        case Fn::midiInGetNumDevs:
            return "midiInGetNumDevs";
        case Fn::midiInGetDevCapsA:
            return "midiInGetDevCapsA";
        case Fn::midiInOpen:
            return "midiInOpen";
        case Fn::midiInClose:
            return "midiInClose";
        case Fn::midiInPrepareHeader:
            return "midiInPrepareHeader";
        case Fn::midiInUnprepareHeader:
            return "midiInUnprepareHeader";
        case Fn::midiInAddBuffer:
            return "midiInAddBuffer";
        case Fn::midiInStart:
            return "midiInStart";
        case Fn::midiInStop:
            return "midiInStop";
        case Fn::midiInReset:
            return "midiInReset";
        case Fn::midiOutGetNumDevs:
            return "midiOutGetNumDevs";
        case Fn::midiOutGetDevCapsA:
            return "midiOutGetDevCapsA";
        case Fn::midiOutOpen:
            return "midiOutOpen";
        case Fn::midiOutClose:
            return "midiOutClose";
        case Fn::midiOutPrepareHeader:
            return "midiOutPrepareHeader";
        case Fn::midiOutUnprepareHeader:
            return "midiOutUnprepareHeader";
        case Fn::midiOutLongMsg:
            return "midiOutLongMsg";
        case Fn::midiOutShortMsg:
            return "midiOutShortMsg";
        case Fn::timeGetDevCaps:
            return "timeGetDevCaps";
        case Fn::timeBeginPeriod:
            return "timeBeginPeriod";
        case Fn::timeEndPeriod:
            return "timeEndPeriod";
        case Fn::timeSetEvent:
            return "timeSetEvent";
        case Fn::timeKillEvent:
            return "timeKillEvent";
        case Fn::Sleep:
            return "Sleep";
        case Fn::HeapAlloc:
            return "HeapAlloc";
        case Fn::HeapFree:
            return "HeapFree";
    }
    return "?";
}

std::ostream& operator<<(std::ostream& out, Fn fn) {
    return out << FnName(fn);
}

FakeMmSystem::FakeMmSystem()
    : m_inputNames{"Fake In A", "Fake In B", "Fake In C"},
      m_outputNames{"Fake Out A", "Fake Out B", "Fake Out C"} {}

FakeMmSystem::~FakeMmSystem() {
    for (auto& [block, size] : m_heap) {
        std::free(block);
    }
}

void FakeMmSystem::Fail(Fn fn, MMRESULT code) {
    std::lock_guard lock(m_mutex);
    m_scripts[fn].always = code;
}

void FakeMmSystem::FailCall(Fn fn, int nth, MMRESULT code) {
    std::lock_guard lock(m_mutex);
    Script& script = m_scripts[fn];
    script.nth[script.calls + nth] = code;
}

void FakeMmSystem::Succeed(Fn fn) {
    std::lock_guard lock(m_mutex);
    Script& script = m_scripts[fn];
    script.always = MMSYSERR_NOERROR;
    script.nth.clear();
}

std::vector<Call> FakeMmSystem::Calls() const {
    std::lock_guard lock(m_mutex);
    return m_calls;
}

std::vector<Fn> FakeMmSystem::Sequence() const {
    std::lock_guard lock(m_mutex);
    std::vector<Fn> names;
    for (const Call& call : m_calls) {
        names.push_back(call.fn);
    }
    return names;
}

std::vector<Fn> FakeMmSystem::PlatformSequence() const {
    std::vector<Fn> names = Sequence();
    std::erase_if(names, [](Fn fn) { return fn == Fn::HeapAlloc || fn == Fn::HeapFree; });
    return names;
}

int FakeMmSystem::CountOf(Fn fn) const {
    std::lock_guard lock(m_mutex);
    return static_cast<int>(
        std::count_if(m_calls.begin(), m_calls.end(), [fn](const Call& c) { return c.fn == fn; }));
}

std::vector<std::uintptr_t> FakeMmSystem::LastArgs(Fn fn) const {
    std::lock_guard lock(m_mutex);
    for (auto it = m_calls.rbegin(); it != m_calls.rend(); ++it) {
        if (it->fn == fn) {
            return it->args;
        }
    }
    return {};
}

void FakeMmSystem::ClearCalls() {
    std::lock_guard lock(m_mutex);
    m_calls.clear();
}

void FakeMmSystem::SetInputDevices(std::vector<std::string> names) {
    std::lock_guard lock(m_mutex);
    m_inputNames = std::move(names);
}

void FakeMmSystem::SetOutputDevices(std::vector<std::string> names) {
    std::lock_guard lock(m_mutex);
    m_outputNames = std::move(names);
}

MMRESULT FakeMmSystem::Record(Fn fn, std::vector<std::uintptr_t> args) {
    m_calls.push_back(Call{fn, std::move(args)});
    Script& script = m_scripts[fn];
    ++script.calls;
    if (auto it = script.nth.find(script.calls); it != script.nth.end()) {
        return it->second;
    }
    return script.always;
}

bool FakeMmSystem::InputOpen() const {
    std::lock_guard lock(m_mutex);
    return m_inHandle != nullptr;
}

HMIDIIN FakeMmSystem::InputHandle() const {
    std::lock_guard lock(m_mutex);
    return m_inHandle;
}

bool FakeMmSystem::InputStarted() const {
    std::lock_guard lock(m_mutex);
    return m_inStarted;
}

int FakeMmSystem::QueuedInputBuffers() const {
    std::lock_guard lock(m_mutex);
    return static_cast<int>(m_inQueue.size());
}

MIDIHDR* FakeMmSystem::OldestQueuedInputBuffer() const {
    std::lock_guard lock(m_mutex);
    return m_inQueue.empty() ? nullptr : m_inQueue.front();
}

FakeMmSystem::InputCallback FakeMmSystem::InputCallbackLocked() const {
    return m_inHandle != nullptr ? m_inCallback : InputCallback{};
}

MIDIHDR* FakeMmSystem::TakeOldestQueuedLocked() {
    if (m_inQueue.empty()) {
        return nullptr;
    }
    MIDIHDR* header = m_inQueue.front();
    m_inQueue.erase(m_inQueue.begin());
    header->dwFlags = (header->dwFlags & ~MHDR_INQUEUE) | MHDR_DONE;
    return header;
}

void FakeMmSystem::Invoke(const InputCallback& target, UINT message, DWORD_PTR param1,
                          DWORD_PTR param2) {
    if (target.proc != nullptr) {
        target.proc(target.handle, message, target.instance, param1, param2);
    }
}

bool FakeMmSystem::Deliver(UINT message, DWORD_PTR param1, DWORD_PTR param2) {
    InputCallback target;
    {
        std::lock_guard lock(m_mutex);
        target = InputCallbackLocked();
    }
    if (target.proc == nullptr) {
        return false;
    }
    Invoke(target, message, param1, param2);
    return true;
}

bool FakeMmSystem::DeliverShort(DWORD packed) {
    return Deliver(MIM_DATA, packed);
}

bool FakeMmSystem::DeliverSysEx(const Bytes& message) {
    InputCallback target;
    MIDIHDR* header = nullptr;
    {
        std::lock_guard lock(m_mutex);
        target = InputCallbackLocked();
        if (target.proc == nullptr || !m_inStarted || m_inQueue.empty() ||
            message.size() > m_inQueue.front()->dwBufferLength) {
            return false;
        }
        header = TakeOldestQueuedLocked();
        std::memcpy(header->lpData, message.data(), message.size());
        header->dwBytesRecorded = static_cast<DWORD>(message.size());
    }
    Invoke(target, MIM_LONGDATA, Addr(header), 0);
    return true;
}

bool FakeMmSystem::DeliverLongError(const Bytes& partial) {
    InputCallback target;
    MIDIHDR* header = nullptr;
    {
        std::lock_guard lock(m_mutex);
        target = InputCallbackLocked();
        if (target.proc == nullptr || m_inQueue.empty()) {
            return false;
        }
        header = TakeOldestQueuedLocked();
        std::memcpy(header->lpData, partial.data(), partial.size());
        header->dwBytesRecorded = static_cast<DWORD>(partial.size());
    }
    Invoke(target, MIM_LONGERROR, Addr(header), 0);
    return true;
}

void FakeMmSystem::HandBackOnStop(Bytes partial) {
    std::lock_guard lock(m_mutex);
    m_handBackOnStop = true;
    m_stopPartial = std::move(partial);
}

bool FakeMmSystem::OutputOpen() const {
    std::lock_guard lock(m_mutex);
    return m_outHandle != nullptr;
}

HMIDIOUT FakeMmSystem::OutputHandle() const {
    std::lock_guard lock(m_mutex);
    return m_outHandle;
}

void FakeMmSystem::SetDoneAfterPolls(int polls) {
    std::lock_guard lock(m_mutex);
    m_doneAfterPolls = polls;
}

std::vector<Bytes> FakeMmSystem::SentLong() const {
    std::lock_guard lock(m_mutex);
    return m_sentLong;
}

std::vector<DWORD> FakeMmSystem::SentShort() const {
    std::lock_guard lock(m_mutex);
    return m_sentShort;
}

void FakeMmSystem::SetTimerCaps(UINT periodMin, UINT periodMax) {
    std::lock_guard lock(m_mutex);
    m_timerCaps = TIMECAPS{periodMin, periodMax};
}

int FakeMmSystem::PeriodRequestsHeld() const {
    std::lock_guard lock(m_mutex);
    int held = 0;
    for (const auto& [period, count] : m_periodsHeld) {
        held += count;
    }
    return held;
}

int FakeMmSystem::UnmatchedPeriodEnds() const {
    std::lock_guard lock(m_mutex);
    return m_unmatchedEnds;
}

int FakeMmSystem::LiveEvents() const {
    std::lock_guard lock(m_mutex);
    return static_cast<int>(m_events.size());
}

UINT FakeMmSystem::LastEventId() const {
    std::lock_guard lock(m_mutex);
    return m_lastEventId;
}

bool FakeMmSystem::FireTimer(UINT id) {
    Event event{};
    {
        std::lock_guard lock(m_mutex);
        auto it = m_events.find(id);
        if (it == m_events.end()) {
            return false;
        }
        event = it->second;
    }
    event.callback(id, 0, event.user, 0, 0);
    return true;
}

int FakeMmSystem::LiveHeapBlocks() const {
    std::lock_guard lock(m_mutex);
    return static_cast<int>(m_heap.size());
}

int FakeMmSystem::BadHeapFrees() const {
    std::lock_guard lock(m_mutex);
    return m_badFrees;
}

UINT FakeMmSystem::midiInGetNumDevs() {
    std::lock_guard lock(m_mutex);
    Record(Fn::midiInGetNumDevs, {});
    return static_cast<UINT>(m_inputNames.size());
}

MMRESULT FakeMmSystem::midiInGetDevCapsA(UINT_PTR device, MIDIINCAPSA* caps, UINT size) {
    std::lock_guard lock(m_mutex);
    MMRESULT result = Record(Fn::midiInGetDevCapsA, {device, Addr(caps), size});
    if (result == MMSYSERR_NOERROR && size != sizeof(MIDIINCAPSA)) {
        result = MMSYSERR_INVALPARAM;
    }
    if (result == MMSYSERR_NOERROR && device >= m_inputNames.size()) {
        result = MMSYSERR_BADDEVICEID;
    }
    if (result != MMSYSERR_NOERROR) {
        FillGarbage(caps);
        return result;
    }
    FillName(caps, m_inputNames[device]);
    return MMSYSERR_NOERROR;
}

MMRESULT FakeMmSystem::midiInOpen(HMIDIIN* handle, UINT device, DWORD_PTR callback,
                                  DWORD_PTR instance, DWORD flags) {
    InputCallback target;
    {
        std::lock_guard lock(m_mutex);
        MMRESULT result = Record(Fn::midiInOpen, {Addr(handle), device, callback, instance, flags});
        if (result == MMSYSERR_NOERROR && m_inHandle != nullptr) {
            result = MMSYSERR_ALLOCATED;
        }
        if (result == MMSYSERR_NOERROR && device >= m_inputNames.size()) {
            result = MMSYSERR_BADDEVICEID;
        }
        if (result == MMSYSERR_NOERROR && flags != CALLBACK_FUNCTION) {
            result = MMSYSERR_INVALFLAG;
        }
        if (result != MMSYSERR_NOERROR) {
            *handle = kPoisonIn;
            return result;
        }
        m_inHandle = reinterpret_cast<HMIDIIN>(m_nextHandle++);
        m_inCallback = InputCallback{reinterpret_cast<MIDIINPROC>(callback), m_inHandle, instance};
        m_inStarted = false;
        *handle = m_inHandle;
        target = m_inCallback;
    }
    Invoke(target, MIM_OPEN, 0, 0);
    return MMSYSERR_NOERROR;
}

MMRESULT FakeMmSystem::midiInClose(HMIDIIN handle) {
    InputCallback target;
    {
        std::lock_guard lock(m_mutex);
        MMRESULT result = Record(Fn::midiInClose, {Addr(handle)});
        if (result == MMSYSERR_NOERROR && (handle == nullptr || handle != m_inHandle)) {
            result = MMSYSERR_INVALHANDLE;
        }
        if (result == MMSYSERR_NOERROR && !m_inQueue.empty()) {
            result = MIDIERR_STILLPLAYING;
        }
        if (result != MMSYSERR_NOERROR) {
            return result;
        }
        target = m_inCallback;
        m_inHandle = nullptr;
        m_inCallback = InputCallback{};
        m_inStarted = false;
    }
    Invoke(target, MIM_CLOSE, 0, 0);
    return MMSYSERR_NOERROR;
}

MMRESULT FakeMmSystem::midiInPrepareHeader(HMIDIIN handle, MIDIHDR* header, UINT size) {
    std::lock_guard lock(m_mutex);
    MMRESULT result = Record(Fn::midiInPrepareHeader, {Addr(handle), Addr(header), size});
    if (result == MMSYSERR_NOERROR && (handle == nullptr || handle != m_inHandle)) {
        result = MMSYSERR_INVALHANDLE;
    }
    if (result == MMSYSERR_NOERROR && (header == nullptr || size != kHeaderSize)) {
        result = MMSYSERR_INVALPARAM;
    }
    if (result == MMSYSERR_NOERROR) {
        header->dwFlags |= MHDR_PREPARED;
    }
    return result;
}

MMRESULT FakeMmSystem::midiInUnprepareHeader(HMIDIIN handle, MIDIHDR* header, UINT size) {
    std::lock_guard lock(m_mutex);
    MMRESULT result = Record(Fn::midiInUnprepareHeader, {Addr(handle), Addr(header), size});
    if (result == MMSYSERR_NOERROR && (handle == nullptr || handle != m_inHandle)) {
        result = MMSYSERR_INVALHANDLE;
    }
    if (result == MMSYSERR_NOERROR && (header == nullptr || size != kHeaderSize)) {
        result = MMSYSERR_INVALPARAM;
    }
    if (result == MMSYSERR_NOERROR && (header->dwFlags & MHDR_INQUEUE)) {
        result = MIDIERR_STILLPLAYING;
    }
    if (result == MMSYSERR_NOERROR) {
        header->dwFlags &= ~MHDR_PREPARED;
    }
    return result;
}

MMRESULT FakeMmSystem::midiInAddBuffer(HMIDIIN handle, MIDIHDR* header, UINT size) {
    std::lock_guard lock(m_mutex);
    MMRESULT result = Record(Fn::midiInAddBuffer, {Addr(handle), Addr(header), size});
    if (result == MMSYSERR_NOERROR && (handle == nullptr || handle != m_inHandle)) {
        result = MMSYSERR_INVALHANDLE;
    }
    if (result == MMSYSERR_NOERROR && (header == nullptr || size != kHeaderSize)) {
        result = MMSYSERR_INVALPARAM;
    }
    if (result == MMSYSERR_NOERROR && !(header->dwFlags & MHDR_PREPARED)) {
        result = MIDIERR_UNPREPARED;
    }
    if (result == MMSYSERR_NOERROR && (header->dwFlags & MHDR_INQUEUE)) {
        result = MIDIERR_STILLPLAYING;
    }
    if (result == MMSYSERR_NOERROR) {
        header->dwFlags = (header->dwFlags | MHDR_INQUEUE) & ~MHDR_DONE;
        header->dwBytesRecorded = 0;
        m_inQueue.push_back(header);
    }
    return result;
}

MMRESULT FakeMmSystem::midiInStart(HMIDIIN handle) {
    std::lock_guard lock(m_mutex);
    MMRESULT result = Record(Fn::midiInStart, {Addr(handle)});
    if (result == MMSYSERR_NOERROR && (handle == nullptr || handle != m_inHandle)) {
        result = MMSYSERR_INVALHANDLE;
    }
    if (result == MMSYSERR_NOERROR) {
        m_inStarted = true;
    }
    return result;
}

MMRESULT FakeMmSystem::midiInStop(HMIDIIN handle) {
    InputCallback target;
    MIDIHDR* partial = nullptr;
    {
        std::lock_guard lock(m_mutex);
        MMRESULT result = Record(Fn::midiInStop, {Addr(handle)});
        if (result == MMSYSERR_NOERROR && (handle == nullptr || handle != m_inHandle)) {
            result = MMSYSERR_INVALHANDLE;
        }
        if (result != MMSYSERR_NOERROR) {
            return result;
        }
        m_inStarted = false;
        if (m_handBackOnStop && !m_inQueue.empty()) {
            m_handBackOnStop = false;
            partial = TakeOldestQueuedLocked();
            std::memcpy(partial->lpData, m_stopPartial.data(), m_stopPartial.size());
            partial->dwBytesRecorded = static_cast<DWORD>(m_stopPartial.size());
            target = m_inCallback;
        }
    }
    if (partial != nullptr) {
        Invoke(target, MIM_LONGDATA, Addr(partial), 0);
    }
    return MMSYSERR_NOERROR;
}

MMRESULT FakeMmSystem::midiInReset(HMIDIIN handle) {
    InputCallback target;
    std::vector<MIDIHDR*> handedBack;
    {
        std::lock_guard lock(m_mutex);
        MMRESULT result = Record(Fn::midiInReset, {Addr(handle)});
        if (result == MMSYSERR_NOERROR && (handle == nullptr || handle != m_inHandle)) {
            result = MMSYSERR_INVALHANDLE;
        }
        if (result != MMSYSERR_NOERROR) {
            return result;
        }
        m_inStarted = false;
        while (MIDIHDR* header = TakeOldestQueuedLocked()) {
            header->dwBytesRecorded = 0;
            handedBack.push_back(header);
        }
        target = m_inCallback;
    }
    for (MIDIHDR* header : handedBack) {
        Invoke(target, MIM_LONGDATA, Addr(header), 0);
    }
    return MMSYSERR_NOERROR;
}

UINT FakeMmSystem::midiOutGetNumDevs() {
    std::lock_guard lock(m_mutex);
    Record(Fn::midiOutGetNumDevs, {});
    return static_cast<UINT>(m_outputNames.size());
}

MMRESULT FakeMmSystem::midiOutGetDevCapsA(UINT_PTR device, MIDIOUTCAPSA* caps, UINT size) {
    std::lock_guard lock(m_mutex);
    MMRESULT result = Record(Fn::midiOutGetDevCapsA, {device, Addr(caps), size});
    if (result == MMSYSERR_NOERROR && size != sizeof(MIDIOUTCAPSA)) {
        result = MMSYSERR_INVALPARAM;
    }
    if (result == MMSYSERR_NOERROR && device >= m_outputNames.size()) {
        result = MMSYSERR_BADDEVICEID;
    }
    if (result != MMSYSERR_NOERROR) {
        FillGarbage(caps);
        return result;
    }
    FillName(caps, m_outputNames[device]);
    return MMSYSERR_NOERROR;
}

MMRESULT FakeMmSystem::midiOutOpen(HMIDIOUT* handle, UINT device, DWORD_PTR callback,
                                   DWORD_PTR instance, DWORD flags) {
    std::lock_guard lock(m_mutex);
    MMRESULT result = Record(Fn::midiOutOpen, {Addr(handle), device, callback, instance, flags});
    if (result == MMSYSERR_NOERROR && m_outHandle != nullptr) {
        result = MMSYSERR_ALLOCATED;
    }
    if (result == MMSYSERR_NOERROR && device >= m_outputNames.size()) {
        result = MMSYSERR_BADDEVICEID;
    }
    if (result != MMSYSERR_NOERROR) {
        *handle = kPoisonOut;
        return result;
    }
    m_outHandle = reinterpret_cast<HMIDIOUT>(m_nextHandle++);
    *handle = m_outHandle;
    return MMSYSERR_NOERROR;
}

MMRESULT FakeMmSystem::midiOutClose(HMIDIOUT handle) {
    std::lock_guard lock(m_mutex);
    MMRESULT result = Record(Fn::midiOutClose, {Addr(handle)});
    if (result == MMSYSERR_NOERROR && (handle == nullptr || handle != m_outHandle)) {
        result = MMSYSERR_INVALHANDLE;
    }
    if (result == MMSYSERR_NOERROR) {
        m_outHandle = nullptr;
    }
    return result;
}

MMRESULT FakeMmSystem::midiOutPrepareHeader(HMIDIOUT handle, MIDIHDR* header, UINT size) {
    std::lock_guard lock(m_mutex);
    MMRESULT result = Record(Fn::midiOutPrepareHeader, {Addr(handle), Addr(header), size});
    if (result == MMSYSERR_NOERROR && (handle == nullptr || handle != m_outHandle)) {
        result = MMSYSERR_INVALHANDLE;
    }
    if (result == MMSYSERR_NOERROR && (header == nullptr || size != kHeaderSize)) {
        result = MMSYSERR_INVALPARAM;
    }
    if (result == MMSYSERR_NOERROR) {
        header->dwFlags |= MHDR_PREPARED;
    }
    return result;
}

MMRESULT FakeMmSystem::midiOutUnprepareHeader(HMIDIOUT handle, MIDIHDR* header, UINT size) {
    std::lock_guard lock(m_mutex);
    MMRESULT result = Record(Fn::midiOutUnprepareHeader, {Addr(handle), Addr(header), size});
    if (result == MMSYSERR_NOERROR && (handle == nullptr || handle != m_outHandle)) {
        result = MMSYSERR_INVALHANDLE;
    }
    if (result == MMSYSERR_NOERROR && (header == nullptr || size != kHeaderSize)) {
        result = MMSYSERR_INVALPARAM;
    }
    if (result == MMSYSERR_NOERROR && header == m_pending) {
        result = MIDIERR_STILLPLAYING;
    }
    if (result == MMSYSERR_NOERROR) {
        header->dwFlags &= ~MHDR_PREPARED;
    }
    return result;
}

MMRESULT FakeMmSystem::midiOutLongMsg(HMIDIOUT handle, MIDIHDR* header, UINT size) {
    std::lock_guard lock(m_mutex);
    MMRESULT result = Record(Fn::midiOutLongMsg, {Addr(handle), Addr(header), size});
    if (result == MMSYSERR_NOERROR && (handle == nullptr || handle != m_outHandle)) {
        result = MMSYSERR_INVALHANDLE;
    }
    if (result == MMSYSERR_NOERROR && (header == nullptr || size != kHeaderSize)) {
        result = MMSYSERR_INVALPARAM;
    }
    if (result == MMSYSERR_NOERROR && !(header->dwFlags & MHDR_PREPARED)) {
        result = MIDIERR_UNPREPARED;
    }
    if (result == MMSYSERR_NOERROR && m_pending != nullptr) {
        result = MIDIERR_NOTREADY;
    }
    if (result != MMSYSERR_NOERROR) {
        return result;
    }
    const auto* data = reinterpret_cast<const std::uint8_t*>(header->lpData);
    m_sentLong.emplace_back(data, data + header->dwBufferLength);
    header->dwFlags &= ~MHDR_DONE;
    if (m_doneAfterPolls == 0) {
        header->dwFlags |= MHDR_DONE;
    } else {
        m_pending = header;
        m_pollsLeft = m_doneAfterPolls;
    }
    return MMSYSERR_NOERROR;
}

MMRESULT FakeMmSystem::midiOutShortMsg(HMIDIOUT handle, DWORD message) {
    std::lock_guard lock(m_mutex);
    MMRESULT result = Record(Fn::midiOutShortMsg, {Addr(handle), message});
    if (result == MMSYSERR_NOERROR && (handle == nullptr || handle != m_outHandle)) {
        result = MMSYSERR_INVALHANDLE;
    }
    if (result == MMSYSERR_NOERROR) {
        m_sentShort.push_back(message);
    }
    return result;
}

MMRESULT FakeMmSystem::timeGetDevCaps(TIMECAPS* caps, UINT size) {
    std::lock_guard lock(m_mutex);
    MMRESULT result = Record(Fn::timeGetDevCaps, {Addr(caps), size});
    if (result == MMSYSERR_NOERROR && size != sizeof(TIMECAPS)) {
        result = TIMERR_NOCANDO;
    }
    if (result == MMSYSERR_NOERROR) {
        *caps = m_timerCaps;
    }
    return result;
}

MMRESULT FakeMmSystem::timeBeginPeriod(UINT period) {
    std::lock_guard lock(m_mutex);
    MMRESULT result = Record(Fn::timeBeginPeriod, {period});
    if (result == MMSYSERR_NOERROR && (period < m_timerCaps.wPeriodMin || period == 0)) {
        result = TIMERR_NOCANDO;
    }
    if (result == MMSYSERR_NOERROR) {
        ++m_periodsHeld[period];
    }
    return result;
}

MMRESULT FakeMmSystem::timeEndPeriod(UINT period) {
    std::lock_guard lock(m_mutex);
    MMRESULT result = Record(Fn::timeEndPeriod, {period});
    if (result == MMSYSERR_NOERROR && m_periodsHeld[period] == 0) {
        ++m_unmatchedEnds;
        result = TIMERR_NOCANDO;
    }
    if (result == MMSYSERR_NOERROR) {
        --m_periodsHeld[period];
    }
    return result;
}

MMRESULT FakeMmSystem::timeSetEvent(UINT delay, UINT resolution, LPTIMECALLBACK callback,
                                    DWORD_PTR user, UINT flags) {
    std::lock_guard lock(m_mutex);
    const MMRESULT result =
        Record(Fn::timeSetEvent,
               {delay, resolution, Addr(reinterpret_cast<void*>(callback)), user, flags});
    if (result != MMSYSERR_NOERROR || callback == nullptr || delay == 0) {
        return 0;
    }
    const UINT id = m_nextEventId++;
    m_events[id] = Event{callback, user};
    m_lastEventId = id;
    return id;
}

MMRESULT FakeMmSystem::timeKillEvent(UINT timerId) {
    std::lock_guard lock(m_mutex);
    MMRESULT result = Record(Fn::timeKillEvent, {timerId});
    if (result == MMSYSERR_NOERROR && m_events.erase(timerId) == 0) {
        result = MMSYSERR_INVALPARAM;
    }
    return result;
}

void FakeMmSystem::Sleep(DWORD milliseconds) {
    std::lock_guard lock(m_mutex);
    Record(Fn::Sleep, {milliseconds});
    if (m_pending != nullptr && --m_pollsLeft <= 0) {
        m_pending->dwFlags |= MHDR_DONE;
        m_pending = nullptr;
    }
}

void* FakeMmSystem::HeapAlloc(DWORD flags, std::size_t bytes) {
    std::lock_guard lock(m_mutex);
    if (Record(Fn::HeapAlloc, {flags, bytes}) != MMSYSERR_NOERROR) {
        return nullptr;
    }
    void* block = std::malloc(bytes == 0 ? 1 : bytes);
    if (block == nullptr) {
        return nullptr;
    }
    // Not zero unless asked: a caller who forgets HEAP_ZERO_MEMORY sees it.
    std::memset(block, (flags & HEAP_ZERO_MEMORY) ? 0x00 : 0xCD, bytes);
    m_heap[block] = bytes;
    return block;
}

BOOL FakeMmSystem::HeapFree(void* memory) {
    std::lock_guard lock(m_mutex);
    Record(Fn::HeapFree, {Addr(memory)});
    auto it = m_heap.find(memory);
    if (it == m_heap.end()) {
        ++m_badFrees;
        return 0;
    }
    std::free(memory);
    m_heap.erase(it);
    return 1;
}

}  // namespace rxtest
