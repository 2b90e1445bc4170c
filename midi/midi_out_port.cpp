#include "midi/midi_out_port.h"

#include <atomic>

#include "midi/device_name.h"

namespace {

constexpr UINT kHeaderSize = sizeof(MIDIHDR);

}  // namespace

MidiOutPort::~MidiOutPort() {
    Close();
}

int MidiOutPort::Open(int index) {
    if (m_handle != nullptr) {
        if (m_deviceIndex == index) {
            return 1;
        }
        Close();
    }
    m_deviceIndex = index;
    HMIDIOUT handle = nullptr;
    if (midiOutOpen(&handle, static_cast<UINT>(index), 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR) {
        return 0;
    }
    m_handle = handle;
    return 1;
}

int MidiOutPort::Close() {
    if (m_handle == nullptr) {
        return 0;
    }
    midiOutClose(m_handle);
    m_handle = nullptr;
    return 1;
}

int MidiOutPort::SendLong(MIDIHDR* header) {
    if (m_handle == nullptr) {
        return 0;
    }
    if (midiOutPrepareHeader(m_handle, header, kHeaderSize) != MMSYSERR_NOERROR) {
        return 0;
    }
    if (midiOutLongMsg(m_handle, header, kHeaderSize) != MMSYSERR_NOERROR) {
        // The caller's header goes out of scope when we return; leave nothing prepared on it.
        midiOutUnprepareHeader(m_handle, header, kHeaderSize);
        return 0;
    }
    // The platform may set the flag from its own thread.
    std::atomic_ref<DWORD> flags(header->dwFlags);
    while ((flags.load(std::memory_order_acquire) & MHDR_DONE) == 0) {
        Sleep(1);
    }
    midiOutUnprepareHeader(m_handle, header, kHeaderSize);
    return 1;
}

int MidiOutPort::SendShort(BYTE status, BYTE data1, BYTE data2) {
    if (m_handle == nullptr) {
        return 0;
    }
    const DWORD word = static_cast<DWORD>(status) | static_cast<DWORD>(data1) << 8 |
                       static_cast<DWORD>(data2) << 16;
    return midiOutShortMsg(m_handle, word) == MMSYSERR_NOERROR ? 1 : 0;
}

void MidiOutPort::GetDeviceName(int index, char* name) {
    MIDIOUTCAPSA caps{};
    if (midiOutGetDevCapsA(static_cast<UINT>(index), &caps, sizeof(caps)) != MMSYSERR_NOERROR) {
        name[0] = '\0';
        return;
    }
    CopyDeviceName(caps.szPname, name);
}

int MidiOutPort::GetDeviceCount() {
    return static_cast<int>(midiOutGetNumDevs());
}
