// MidiInPort: receives what the unit sends. The platform hands each SysEx message to
// OnMidiInput in the one receive buffer; the port copies it into the received-SysEx queue,
// which the reply dispatcher drains with PeekSysEx and PopSysEx.
#pragma once

#include <cstdint>
#include <mutex>

#include "platform/mmsystem.h"

class MidiInPort {
  public:
    static constexpr DWORD kReceiveBufferSize = 8192;
    static constexpr int kRingSlots = 32;

    MidiInPort() = default;
    ~MidiInPort();
    MidiInPort(const MidiInPort&) = delete;
    MidiInPort& operator=(const MidiInPort&) = delete;

    // 1 when the port is receiving, 0 on failure. Uses m_deviceIndex.
    [[nodiscard]] int Start();
    int Stop();
    int Close();

    // Oldest copy in the queue, or null when empty; valid until the next PopSysEx. The overload
    // also reports the copy's length so a reader never reads past its end.
    const BYTE* PeekSysEx();
    const BYTE* PeekSysEx(DWORD* length);
    void PopSysEx();

    // Fills `name` (40 bytes) with the product name of input device `index`; empty when the
    // platform cannot tell.
    void GetDeviceName(int index, char* name);
    int GetDeviceCount();

    static void CALLBACK OnMidiInput(HMIDIIN handle, UINT message, DWORD_PTR instance,
                                     DWORD_PTR param1, DWORD_PTR param2);

    // The updater writes the device number directly before Start.
    int m_deviceIndex = 0;

    // The short-message ring, which nothing in the updater reads; visible for tests.
    const BYTE* RingSlot(int slot) const { return m_ring[slot]; }
    int RingWriteIndex() const { return m_ringWrite; }
    bool IsStarted() const { return m_started != 0; }

  private:
    struct Node {
        BYTE* copy;
        DWORD length;
        Node* next;
    };

    void OnLongData(MIDIHDR* header);
    void OnShortData(DWORD_PTR packed);
    bool AllocateReceiveBuffer();
    void ReleaseReceiveBuffer();
    void AbandonReceiveBuffer();

    HMIDIIN m_handle = nullptr;
    MIDIHDR* m_header = nullptr;
    int m_started = 0;
    BYTE m_ring[kRingSlots][4] = {};
    int m_ringWrite = 0;

    // Guards the queue: the platform's input thread appends while the timer thread peeks and pops.
    std::mutex m_queueMutex;
    Node* m_first = nullptr;
    Node* m_last = nullptr;
};
