// rx300-sim: the simulated RX-300 as a program of its own, on a virtual MIDI port pair of ALSA or
// JACK, so that the updater can be run against it across processes and over a real MIDI system.
#include <signal.h>

#include <CLI/CLI.hpp>
#include <atomic>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/midi_system.h"
#include "sim-app/port_sim_unit.h"
#include "sim-app/report.h"
#include "sim/faults.h"
#include "sim/virtual_sim_unit.h"

namespace {

enum ExitCode : int {
    kExitOk = 0,
    kExitNotVerified = 1,
    kExitUsage = 2,
    kExitMidi = 3,
    kExitDump = 4,
};

constexpr const char* kFooter =
    "The unit answers as the RX-300 does in its firmware update mode, keeps a 4 MiB flash and,\n"
    "after each End Update and when stopped, prints what it received and whether each region\n"
    "equals the image built into this program. It serves updates until SIGINT or SIGTERM.\n"
    "RX300_MIDI=alsa|jack picks the MIDI system (default: ALSA, else JACK).\n"
    "\n"
    "Faults (comma-separated; N = block, R = erase row, both counted from 0):\n"
    "  family=F  not-update-mode  begin-status=S  end-status=S  silent=STAGE\n"
    "  drop=N:K  late-ack=N:MS  crc=N:K  flash-error=N:K  erase-refuse=R:K\n"
    "  inject=MESSAGE@STAGE\n"
    "  STAGE: identity | begin | erase:R | write:N | end\n"
    "  MESSAGE: identity-request | begin-update | end-update | unknown-command | wrong-model\n"
    "           | truncated | oversize | no-f0\n"
    "\n"
    "Exit status:\n"
    "  0  stopped by a signal; with --once: the update verified\n"
    "  1  with --once: the flash does not hold the three images\n"
    "  2  bad command line or fault text\n"
    "  3  no MIDI system answers, or the ports cannot be made\n"
    "  4  --dump could not write the flash\n";

// Decimal or 0x-hex, as in the fault text.
bool ParseFamily(std::string_view text, std::uint8_t* family) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (ec != std::errc{} || end != text.data() + text.size() || text.empty() || value > 0x7F) {
        return false;
    }
    *family = static_cast<std::uint8_t>(value);
    return true;
}

// Printing comes from the unit's thread (at each End Update) and from the main thread.
class CReporter {
  public:
    CReporter(const CPortSimUnit& unit, std::string dumpFolder)
        : m_unit(unit), m_dumpFolder(std::move(dumpFolder)) {}

    void Print(const std::string& heading) {
        std::lock_guard lock(m_outputLock);
        std::string text = heading + ":\n" + Report(m_unit.Unit());
        if (m_unit.RefusedSends() > 0) {
            text +=
                "messages the MIDI system refused: " + std::to_string(m_unit.RefusedSends()) + "\n";
        }
        std::fputs(text.c_str(), stdout);
        std::fflush(stdout);
        if (m_dumpFolder.empty()) {
            return;
        }
        std::string error;
        if (m_unit.Unit().DumpFlash(m_dumpFolder, &error)) {
            std::printf("flash written to %s\n", m_dumpFolder.c_str());
            std::fflush(stdout);
        } else {
            std::fprintf(stderr, "rx300-sim: --dump: %s\n", error.c_str());
            m_dumpFailed = true;
        }
    }

    bool DumpFailed() const { return m_dumpFailed.load(); }

  private:
    const CPortSimUnit& m_unit;
    const std::string m_dumpFolder;
    std::mutex m_outputLock;
    std::atomic<bool> m_dumpFailed{false};
};

struct Settings {
    std::string name = sim::kDefaultDeviceName;
    sim::Options options;
    std::string dumpFolder;
    bool once = false;
};

// -1 when the settings are complete, otherwise the status to exit with.
int ParseCommandLine(int argc, char** argv, Settings* settings) {
    CLI::App app{
        "Plays a TAVO RX-300 in its firmware update mode on a virtual MIDI port pair (ALSA or\n"
        "JACK), for rx300-updater-cli and the window to update across processes.",
        "rx300-sim"};
    std::string familyText;
    std::string faultText;
    app.add_option("--name", settings->name, "name of the port pair, as the host lists it")
        ->capture_default_str();
    app.add_option("--family", familyText, "the unit's family code, e.g. 0x57, 0x58 (default 0x57)")
        ->type_name("F");
    app.add_option("--faults", faultText, "faults of the unit, e.g. crc=40:3,late-ack=17:1200")
        ->type_name("TEXT");
    app.add_flag("--once", settings->once,
                 "serve one update: exit after the first End Update has been answered");
    app.add_option("--dump", settings->dumpFolder,
                   "write the flash (flash.bin, 136.bin, 133.bin, 129.bin) into DIR after each "
                   "End Update and when stopped")
        ->type_name("DIR");
    app.set_version_flag("--version", "rx300-sim (TAVO RX-300 v3.10 Updater)");
    app.footer(kFooter);
    try {
        app.parse(argc, argv);
    } catch (const CLI::Success& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return kExitUsage;
    }

    sim::Options& options = settings->options;
    std::string error;
    if (!sim::ParseFaults(faultText, &options.faults, &error)) {
        std::fprintf(stderr, "rx300-sim: --faults: %s\n", error.c_str());
        return kExitUsage;
    }
    if (!familyText.empty()) {
        if (!ParseFamily(familyText, &options.family)) {
            std::fprintf(stderr, "rx300-sim: --family \"%s\": expected 0..0x7F\n",
                         familyText.c_str());
            return kExitUsage;
        }
        if (options.faults.family) {
            std::fprintf(stderr,
                         "rx300-sim: give the family by --family or family= in --faults, "
                         "not both\n");
            return kExitUsage;
        }
    }
    if (settings->name.empty()) {
        std::fprintf(stderr, "rx300-sim: --name must not be empty\n");
        return kExitUsage;
    }
    return -1;
}

// Serves until a signal in `stops` comes or, with --once, the first End Update has been
// answered.
int Serve(Settings& settings, const sigset_t& stops) {
    const platform::MidiSystemChoice choice = platform::MidiSystemChoiceFromEnvironment();
    if (choice == platform::MidiSystemChoice::None) {
        std::fprintf(stderr,
                     "rx300-sim: RX300_MIDI=virtual leaves no MIDI system for the ports; "
                     "use alsa or jack\n");
        return kExitMidi;
    }
    const std::string faults = sim::FormatFaults(settings.options.faults);
    CPortSimUnit unit;
    CReporter reporter(unit, settings.dumpFolder);
    std::atomic<bool> finished{false};
    settings.options.onEndUpdate = [&] {
        reporter.Print("End Update " + std::to_string(unit.Unit().GetRecord().endUpdates) +
                       " answered");
        if (settings.once) {
            finished.store(true);
        }
    };
    std::string error;
    if (!unit.Open(settings.name, std::move(settings.options), choice, &error)) {
        std::fprintf(stderr, "rx300-sim: cannot open \"%s\": %s\n", settings.name.c_str(),
                     error.c_str());
        return kExitMidi;
    }

    char family[8];
    std::snprintf(family, sizeof family, "0x%02X", unit.Unit().Family());
    std::printf("ready: \"%s\" on %s, family %s%s%s%s\n", settings.name.c_str(),
                platform::MidiSystemName(unit.System()), family,
                faults.empty() ? "" : ", faults \"", faults.c_str(), faults.empty() ? "" : "\"");
    std::fflush(stdout);

    int stoppedBy = 0;
    const timespec tick{0, 100'000'000};
    while (!finished.load()) {
        const int signal = sigtimedwait(&stops, nullptr, &tick);
        if (signal > 0) {
            stoppedBy = signal;
            break;
        }
    }
    if (stoppedBy != 0) {
        unit.Unit().Stop();
        reporter.Print(stoppedBy == SIGINT ? "stopped by SIGINT" : "stopped by SIGTERM");
    }
    const bool verified = FlashVerified(unit.Unit());
    unit.Close();
    if (reporter.DumpFailed()) {
        return kExitDump;
    }
    if (settings.once) {
        return verified ? kExitOk : kExitNotVerified;
    }
    return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
    Settings settings;
    if (const int status = ParseCommandLine(argc, argv, &settings); status >= 0) {
        return status;
    }
    // Blocked before any thread exists, so every thread inherits the mask and the signals wait
    // for sigtimedwait instead of interrupting a MIDI library's calls.
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stops, nullptr);
    return Serve(settings, stops);
}
