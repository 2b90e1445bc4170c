#include "midi/midi_in_port.h"

#include <cstring>
#include <new>

#include "midi/device_name.h"

namespace {

constexpr UINT kHeaderSize = sizeof(MIDIHDR);

}  // namespace

MidiInPort::~MidiInPort() {
    Stop();
    while (PeekSysEx() != nullptr) {
        PopSysEx();
    }
}

int MidiInPort::Start() {
    if (m_started) {
        return 1;
    }
    if (!AllocateReceiveBuffer()) {
        return 0;
    }
    HMIDIIN handle = nullptr;
    if (midiInOpen(&handle, static_cast<UINT>(m_deviceIndex),
                   reinterpret_cast<DWORD_PTR>(&MidiInPort::OnMidiInput),
                   reinterpret_cast<DWORD_PTR>(this), CALLBACK_FUNCTION) != MMSYSERR_NOERROR) {
        ReleaseReceiveBuffer();
        return 0;
    }
    m_handle = handle;

    const bool prepared = midiInReset(m_handle) == MMSYSERR_NOERROR &&
                          midiInPrepareHeader(m_handle, m_header, kHeaderSize) == MMSYSERR_NOERROR;
    const bool queued =
        prepared && midiInAddBuffer(m_handle, m_header, kHeaderSize) == MMSYSERR_NOERROR;
    if (queued && midiInStart(m_handle) == MMSYSERR_NOERROR) {
        m_started = 1;
        return 1;
    }

    // Undo the steps that succeeded, each only once the one before it did, so that the buffer
    // is freed only when the device has handed it back.
    const bool released =
        (!queued || midiInReset(m_handle) == MMSYSERR_NOERROR) &&
        (!prepared || midiInUnprepareHeader(m_handle, m_header, kHeaderSize) == MMSYSERR_NOERROR);
    if (released) {
        midiInClose(m_handle);
        ReleaseReceiveBuffer();
    } else {
        AbandonReceiveBuffer();
    }
    return 0;
}

int MidiInPort::Stop() {
    if (!m_started) {
        return 0;
    }
    bool released = true;
    if (m_handle != nullptr) {
        // The reset hands the buffer back empty, and OnMidiInput does not queue an empty buffer
        // again: that is what lets the unprepare succeed.
        released = midiInStop(m_handle) == MMSYSERR_NOERROR &&
                   midiInReset(m_handle) == MMSYSERR_NOERROR &&
                   midiInUnprepareHeader(m_handle, m_header, kHeaderSize) == MMSYSERR_NOERROR;
        if (released) {
            midiInClose(m_handle);
        }
    }
    if (released) {
        ReleaseReceiveBuffer();
    } else {
        AbandonReceiveBuffer();
    }
    m_started = 0;
    return 0;
}

int MidiInPort::Close() {
    if (m_handle == nullptr) {
        return 0;
    }
    Stop();
    return 1;
}

const BYTE* MidiInPort::PeekSysEx() {
    return PeekSysEx(nullptr);
}

const BYTE* MidiInPort::PeekSysEx(DWORD* length) {
    std::lock_guard lock(m_queueMutex);
    if (m_first == nullptr) {
        if (length != nullptr) {
            *length = 0;
        }
        return nullptr;
    }
    if (length != nullptr) {
        *length = m_first->length;
    }
    return m_first->copy;
}

void MidiInPort::PopSysEx() {
    Node* oldest = nullptr;
    {
        std::lock_guard lock(m_queueMutex);
        oldest = m_first;
        if (oldest == nullptr) {
            return;
        }
        m_first = oldest->next;
        if (m_first == nullptr) {
            m_last = nullptr;
        }
    }
    delete[] oldest->copy;
    delete oldest;
}

void MidiInPort::GetDeviceName(int index, char* name) {
    MIDIINCAPSA caps{};
    if (midiInGetDevCapsA(static_cast<UINT>(index), &caps, sizeof(caps)) != MMSYSERR_NOERROR) {
        name[0] = '\0';
        return;
    }
    CopyDeviceName(caps.szPname, name);
}

int MidiInPort::GetDeviceCount() {
    return static_cast<int>(midiInGetNumDevs());
}

void CALLBACK MidiInPort::OnMidiInput(HMIDIIN, UINT message, DWORD_PTR instance, DWORD_PTR param1,
                                      DWORD_PTR) {
    auto* port = reinterpret_cast<MidiInPort*>(instance);
    switch (message) {
        case MIM_DATA:
            port->OnShortData(param1);
            break;
        case MIM_LONGDATA:
            port->OnLongData(reinterpret_cast<MIDIHDR*>(param1));
            break;
        default:
            // A buffer handed back with MIM_LONGERROR is deliberately not queued again.
            break;
    }
}

void MidiInPort::OnShortData(DWORD_PTR packed) {
    BYTE* slot = m_ring[m_ringWrite];
    slot[0] = 3;
    slot[1] = static_cast<BYTE>(packed);
    slot[2] = static_cast<BYTE>(packed >> 8);
    slot[3] = static_cast<BYTE>(packed >> 16);
    m_ringWrite = (m_ringWrite + 1) % kRingSlots;
}

void MidiInPort::OnLongData(MIDIHDR* header) {
    if ((header->dwFlags & MHDR_DONE) == 0 || header->dwBytesRecorded == 0) {
        return;
    }
    const DWORD length = header->dwBytesRecorded < header->dwBufferLength ? header->dwBytesRecorded
                                                                          : header->dwBufferLength;
    // Filled before it is linked, so the reader never meets a node without its copy; allocation
    // and copy stay outside the lock.
    BYTE* copy = new (std::nothrow) BYTE[length];
    Node* node = copy != nullptr ? new (std::nothrow) Node{copy, length, nullptr} : nullptr;
    if (node == nullptr) {
        delete[] copy;
    } else {
        std::memcpy(copy, header->lpData, length);
        std::lock_guard lock(m_queueMutex);
        if (m_last == nullptr) {
            m_first = node;
        } else {
            m_last->next = node;
        }
        m_last = node;
    }
    midiInPrepareHeader(m_handle, header, kHeaderSize);
    midiInAddBuffer(m_handle, header, kHeaderSize);
}

bool MidiInPort::AllocateReceiveBuffer() {
    HANDLE heap = GetProcessHeap();
    m_header = static_cast<MIDIHDR*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, sizeof(MIDIHDR)));
    if (m_header == nullptr) {
        return false;
    }
    void* data = HeapAlloc(heap, HEAP_ZERO_MEMORY, kReceiveBufferSize);
    if (data == nullptr) {
        HeapFree(heap, 0, m_header);
        m_header = nullptr;
        return false;
    }
    m_header->lpData = static_cast<LPSTR>(data);
    m_header->dwBufferLength = kReceiveBufferSize;
    return true;
}

void MidiInPort::ReleaseReceiveBuffer() {
    if (m_header == nullptr) {
        return;
    }
    HANDLE heap = GetProcessHeap();
    HeapFree(heap, 0, m_header->lpData);
    HeapFree(heap, 0, m_header);
    m_header = nullptr;
}

void MidiInPort::AbandonReceiveBuffer() {
    // The device may still write into it: a leak is the lesser harm.
    m_header = nullptr;
}
