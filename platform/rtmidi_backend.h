// Real MIDI devices through RtMidi, on ALSA's sequencer or on JACK.
#pragma once

#include <memory>
#include <string>

#include "platform/midi_backend.h"
#include "platform/midi_system.h"

namespace platform {

// JACK's MIDI ring in RtMidi holds about 16 KB and drops a larger message without a word.
constexpr std::size_t kJackMessageLimit = 16000;

// Null when `system` does not answer.
std::unique_ptr<MidiBackend> CreateRtMidiBackend(MidiSystem system);

// Virtual ports that other programs connect to, named `name` (client and port alike).
// Null with a reason in `error` on failure.
std::unique_ptr<InputStream> OpenRtMidiVirtualInput(MidiSystem system, const std::string& name,
                                                    std::string* error);
std::unique_ptr<OutputStream> OpenRtMidiVirtualOutput(MidiSystem system, const std::string& name,
                                                      std::string* error);

}  // namespace platform
