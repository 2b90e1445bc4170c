// rx300-sim refuses what it cannot do with one clear line and a non-zero status, before it
// serves anything.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <ostream>

#include "tests/e2e/child_process.h"

namespace {

using namespace std::chrono_literals;

struct RefusalCase {
    const char* name;
    std::vector<std::string> args;
    std::map<std::string, std::string> env;
    int exitCode;
    const char* message;
};

void PrintTo(const RefusalCase& c, std::ostream* out) {
    *out << c.name;
}

// A JACK server name that nothing serves: libjack must neither find nor start one.
std::string AbsentServer() {
    return "rx300-e2e-absent-" + std::to_string(::getpid());
}

std::vector<RefusalCase> RefusalCases() {
    return {
        {"BadFaultText",
         {"--faults", "crc=4"},
         {},
         2,
         "rx300-sim: --faults: fault \"crc=4\": expected N:K\n"},
        {"FamilyOutOfRange", {"--family", "0x80"}, {}, 2, "--family \"0x80\": expected 0..0x7F\n"},
        {"FamilyGivenTwice", {"--family", "0x58", "--faults", "family=0x57"}, {}, 2, "not both\n"},
        {"NoMidiSystemAnswers",
         {},
         {{"RX300_MIDI", "jack"}, {"JACK_DEFAULT_SERVER", AbsentServer()}},
         3,
         "rx300-sim: cannot open \"TAVO RX Series\": no MIDI system (ALSA or JACK) answers\n"},
        {"InProcessDevicesOnly", {}, {{"RX300_MIDI", "virtual"}}, 3, "RX300_MIDI=virtual"},
    };
}

class SimProgramRefuses : public testing::TestWithParam<RefusalCase> {};

TEST_P(SimProgramRefuses, WithAClearMessageAndNonZeroStatus) {
    const RefusalCase& c = GetParam();
    CChildProcess sim;
    CChildProcess::Launch launch{RX300_SIM_PROGRAM, c.args, "", c.env};
    launch.env["JACK_NO_START_SERVER"] = "1";
    std::string error;
    ASSERT_TRUE(sim.Start(launch, &error)) << error;
    const auto end = sim.WaitForEnd(60s);
    ASSERT_TRUE(end) << Describe(sim, "rx300-sim");
    EXPECT_TRUE(end->exited);
    EXPECT_EQ(end->exitCode, c.exitCode) << Describe(sim, "rx300-sim");
    EXPECT_THAT(sim.Stderr(), testing::HasSubstr(c.message));
    EXPECT_THAT(sim.Stdout(), testing::Not(testing::HasSubstr("ready")));
}

INSTANTIATE_TEST_SUITE_P(Cases, SimProgramRefuses, testing::ValuesIn(RefusalCases()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
