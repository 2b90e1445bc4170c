// Which MIDI system carries real devices: ALSA's sequencer first, then JACK, unless
// RX300_MIDI=alsa|jack|virtual says otherwise (virtual: none, only in-process devices).
#pragma once

#include <string>

namespace platform {

enum class MidiSystem { None, Alsa, Jack };
enum class MidiSystemChoice { Auto, Alsa, Jack, None };

// Any other value of RX300_MIDI counts as unset.
MidiSystemChoice MidiSystemChoiceFromEnvironment();

// The first system of `choice` that answers now. Asks each system directly, quietly, and
// never lets JACK start a server.
MidiSystem FindMidiSystem(MidiSystemChoice choice);

const char* MidiSystemName(MidiSystem system);

// Silences alsa-lib's and libjack's messages on stderr and keeps libjack from starting a
// server. Called before any ALSA or JACK client opens; later calls do nothing.
void PrepareMidiLibraries();

// Clients that this layer opens to reach devices carry a name unique to this process, so that
// their own ports can be left out of the device lists.
std::string NextOwnClientName();
bool IsOwnClientName(const std::string& clientName);

}  // namespace platform
