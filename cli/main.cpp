// rx300-updater-cli: one firmware update without a window, for benches, headless machines and
// hardware tests. Same engine, texts and log as the window.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/console_window.h"
#include "cli/exit_codes.h"
#include "cli/simulated_link.h"
#include "engine/port_discovery.h"
#include "engine/updater_engine.h"
#include "resources/embedded_resources.h"

namespace {

std::atomic<bool> g_interrupted{false};

void OnSignal(int) {
    g_interrupted.store(true);
}

std::vector<std::string> DeviceNames(bool inputs, CUpdaterEngine& engine) {
    std::vector<std::string> names;
    const int count = inputs ? engine.InPort().GetDeviceCount() : engine.OutPort().GetDeviceCount();
    for (int i = 0; i < count; ++i) {
        char name[256] = {};
        if (inputs) {
            engine.InPort().GetDeviceName(i, name);
        } else {
            engine.OutPort().GetDeviceName(i, name);
        }
        names.emplace_back(name);
    }
    return names;
}

// A device number, or the position of the device with exactly this name; -1 when neither.
int FindDevice(const std::string& port, const std::vector<std::string>& names) {
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (names[i] == port) {
            return static_cast<int>(i);
        }
    }
    if (!port.empty() && port.find_first_not_of("0123456789") == std::string::npos) {
        const long number = std::strtol(port.c_str(), nullptr, 10);
        if (number < static_cast<long>(names.size())) {
            return static_cast<int>(number);
        }
    }
    return -1;
}

void PrintDevices(const char* title, const std::vector<std::string>& names, int selected) {
    std::printf("%s devices:\n", title);
    if (names.empty()) {
        std::printf("  (none)\n");
    }
    for (std::size_t i = 0; i < names.size(); ++i) {
        std::printf("%c %2zu  %s\n", static_cast<int>(i) == selected ? '*' : ' ', i,
                    names[i].c_str());
    }
}

int Select(const char* title, const std::string& requested, const std::vector<std::string>& names,
           int instance, int* device) {
    if (!requested.empty()) {
        *device = FindDevice(requested, names);
        if (*device < 0) {
            std::fprintf(stderr, "rx300-updater-cli: no %s device \"%s\"\n", title,
                         requested.c_str());
        }
    } else {
        *device = rx::PreselectedDevice(names, instance);
        if (*device < 0) {
            std::fprintf(stderr,
                         "rx300-updater-cli: no %s device of the unit found for instance %d\n",
                         title, instance);
        }
    }
    return *device >= 0;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "Rewrites the flash memory of a TAVO RX-300 with the firmware built into this program.\n"
        "Connect the unit in its firmware update mode. Without --in/--out the unit's ports are\n"
        "pre-selected by name, as the window does (\"TAVO RX Series\", \"USB Audio Device\", ...;\n"
        "for --instance N from 2 on, the names followed by \" (N)\").",
        "rx300-updater-cli"};
    std::string inPort;
    std::string outPort;
    int instance = 1;
    bool list = false;
    std::string faults;
    app.add_option("--in", inPort, "MIDI IN device: a number or an exact name, as --list prints");
    app.add_option("--out", outPort, "MIDI OUT device: a number or an exact name");
    app.add_option("--instance", instance, "instance number whose device names to pre-select")
        ->check(CLI::Range(1, 20));
    app.add_flag("--list", list, "list the MIDI IN and MIDI OUT devices and exit");
    auto* simulate =
        app.add_option("--simulate", faults,
                       "update a simulated unit inside this program (no MIDI system needed); "
                       "FAULTS switches on the simulated unit's faults, e.g. crc=40:3")
            ->expected(0, 1)
            ->type_name("[=FAULTS]");
    app.set_version_flag("--version", "rx300-updater-cli (TAVO RX-300 v3.10 Updater)");
    app.footer(cli::ExitCodeHelp());
    try {
        app.parse(argc, argv);
    } catch (const CLI::Success& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return cli::kExitUsage;
    }

    std::unique_ptr<cli::SimulatedLink> simulated;
    if (simulate->count() > 0) {
        // Only the simulated unit's devices: no MIDI system is probed.
        setenv("RX300_MIDI", "virtual", 1);
        std::string error;
        simulated = cli::SimulatedLink::Create(rx::CandidateNames(instance)[2], faults, &error);
        if (!simulated) {
            std::fprintf(stderr, "rx300-updater-cli: --simulate: %s\n", error.c_str());
            return cli::kExitUsage;
        }
    }

    const bool live = isatty(STDOUT_FILENO) != 0;
    ConsoleWindow window(stdout, stderr, live);
    CUpdaterEngine engine(window);

    const auto inputs = DeviceNames(true, engine);
    const auto outputs = DeviceNames(false, engine);
    if (list) {
        PrintDevices("MIDI IN", inputs, rx::PreselectedDevice(inputs, instance));
        PrintDevices("MIDI OUT", outputs, rx::PreselectedDevice(outputs, instance));
        return cli::kExitCompleted;
    }

    int inDevice = -1;
    int outDevice = -1;
    const bool inFound = Select("MIDI IN", inPort, inputs, instance, &inDevice);
    const bool outFound = Select("MIDI OUT", outPort, outputs, instance, &outDevice);
    if (!inFound || !outFound) {
        PrintDevices("MIDI IN", inputs, inDevice);
        PrintDevices("MIDI OUT", outputs, outDevice);
        return cli::kExitNoDevice;
    }
    if (!live) {
        std::printf("MIDI IN %d \"%s\", MIDI OUT %d \"%s\"\n", inDevice, inputs[inDevice].c_str(),
                    outDevice, outputs[outDevice].c_str());
        std::fflush(stdout);
    }

    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    engine.Initialise();
    rx::RunOutcome outcome = engine.Execute(inDevice, outDevice);
    if (outcome == rx::RunOutcome::kStarted) {
        while (!engine.WaitForRunEnd(50)) {
            if (g_interrupted.load()) {
                engine.Shutdown();
                break;
            }
        }
        outcome = engine.LastOutcome();
    }
    engine.Shutdown();
    window.Finish();
    if (outcome == rx::RunOutcome::kClosed) {
        std::fprintf(stderr,
                     "rx300-updater-cli: interrupted; the unit's flash is not fully written, "
                     "run the update again\n");
    }
    if (simulated) {
        simulated->PrintVerdict(stdout);
    }
    return cli::ExitCodeFor(outcome);
}
