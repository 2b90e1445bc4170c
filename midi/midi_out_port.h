// MidiOutPort: carries everything the updater sends to the unit, one long (SysEx) message at a
// time; SendLong returns only when the platform has finished with the caller's buffer.
#pragma once

#include "platform/mmsystem.h"

class MidiOutPort {
  public:
    MidiOutPort() = default;
    ~MidiOutPort();
    MidiOutPort(const MidiOutPort&) = delete;
    MidiOutPort& operator=(const MidiOutPort&) = delete;

    // 1 when a device is open on `index`, 0 on failure.
    [[nodiscard]] int Open(int index);
    int Close();
    // 1 when sent and the platform has finished with the buffer; 0 when closed or refused.
    [[nodiscard]] int SendLong(MIDIHDR* header);
    [[nodiscard]] int SendShort(BYTE status, BYTE data1, BYTE data2);

    void GetDeviceName(int index, char* name);
    int GetDeviceCount();

    bool IsOpen() const { return m_handle != nullptr; }
    int DeviceIndex() const { return m_deviceIndex; }

  private:
    HMIDIOUT m_handle = nullptr;
    int m_deviceIndex = 0;
};
