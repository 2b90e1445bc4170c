// MidiOutBank: 16 output port slots that the program creates at start-up and closes at exit.
// The updater assigns none of them; the bank's one visible effect is a device-count query.
#pragma once

#include "midi/midi_out_port.h"

class MidiOutBank {
  public:
    static constexpr int kSlots = 16;

    MidiOutBank();
    ~MidiOutBank();

    int DeviceCount() const { return m_deviceCount; }
    int SlotDevice(int slot) const { return m_slotDevice[slot]; }

  private:
    int m_slotFlag[kSlots] = {};
    MidiOutPort m_slots[kSlots];
    int m_slotDevice[kSlots];
    UINT m_deviceCount;
};

// The program-wide bank; defined in midi_out_bank_instance.cpp, linked into the programs only.
extern MidiOutBank g_midiOutBank;
