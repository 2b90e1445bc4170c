#include "midi/midi_out_bank.h"

MidiOutBank::MidiOutBank() : m_deviceCount(midiOutGetNumDevs()) {
    for (int& device : m_slotDevice) {
        device = -1;
    }
}

MidiOutBank::~MidiOutBank() {
    for (MidiOutPort& slot : m_slots) {
        slot.Close();
    }
}
