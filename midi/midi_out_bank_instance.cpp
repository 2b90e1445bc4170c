#include "midi/midi_out_bank.h"

MidiOutBank g_midiOutBank;
