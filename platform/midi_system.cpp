#include "platform/midi_system.h"

#include <alsa/asoundlib.h>
#include <jack/jack.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace platform {

namespace {

void QuietAlsa(const char*, int, const char*, int, const char*, ...) {}
void QuietJack(const char*) {}

std::string OwnClientPrefix() {
    return "rx300-updater-" + std::to_string(::getpid()) + "-";
}

bool AlsaAnswers() {
    snd_seq_t* seq = nullptr;
    if (snd_seq_open(&seq, "default", SND_SEQ_OPEN_DUPLEX, 0) < 0) {
        return false;
    }
    snd_seq_close(seq);
    return true;
}

bool JackAnswers() {
    jack_status_t status{};
    const std::string name = OwnClientPrefix() + "probe";
    jack_client_t* client = jack_client_open(name.c_str(), JackNoStartServer, &status);
    if (client == nullptr) {
        return false;
    }
    jack_client_close(client);
    return true;
}

}  // namespace

MidiSystemChoice MidiSystemChoiceFromEnvironment() {
    const char* value = std::getenv("RX300_MIDI");
    if (value == nullptr) {
        return MidiSystemChoice::Auto;
    }
    if (std::strcmp(value, "alsa") == 0) {
        return MidiSystemChoice::Alsa;
    }
    if (std::strcmp(value, "jack") == 0) {
        return MidiSystemChoice::Jack;
    }
    if (std::strcmp(value, "virtual") == 0) {
        return MidiSystemChoice::None;
    }
    return MidiSystemChoice::Auto;
}

MidiSystem FindMidiSystem(MidiSystemChoice choice) {
    PrepareMidiLibraries();
    if ((choice == MidiSystemChoice::Auto || choice == MidiSystemChoice::Alsa) && AlsaAnswers()) {
        return MidiSystem::Alsa;
    }
    if ((choice == MidiSystemChoice::Auto || choice == MidiSystemChoice::Jack) && JackAnswers()) {
        return MidiSystem::Jack;
    }
    return MidiSystem::None;
}

const char* MidiSystemName(MidiSystem system) {
    switch (system) {
        case MidiSystem::Alsa:
            return "ALSA";
        case MidiSystem::Jack:
            return "JACK";
        case MidiSystem::None:
            break;
    }
    return "none";
}

void PrepareMidiLibraries() {
    static std::once_flag once;
    std::call_once(once, [] {
        // A missing /dev/snd/seq or JACK server is normal here; the libraries would still
        // print about it on every attempt.
        snd_lib_error_set_handler(QuietAlsa);
        jack_set_error_function(QuietJack);
        jack_set_info_function(QuietJack);
        ::setenv("JACK_NO_START_SERVER", "1", 1);
    });
}

std::string NextOwnClientName() {
    static std::atomic<unsigned> next{1};
    return OwnClientPrefix() + std::to_string(next++);
}

bool IsOwnClientName(const std::string& clientName) {
    return clientName.rfind(OwnClientPrefix(), 0) == 0;
}

}  // namespace platform
