// rx300-updater-cli as a user runs it: options, exit status, texts, log, Ctrl-C. The simulated
// unit runs inside the program (--simulate), so no MIDI system is needed.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/e2e/child_process.h"
#include "tests/engine/log_dir.h"

namespace {

using namespace std::chrono_literals;

struct Result {
    int exitCode = -1;
    std::string out;
    std::string err;
};

class CliTest : public ::testing::Test {
  protected:
    Result Run(std::vector<std::string> args, std::map<std::string, std::string> env = {}) {
        CChildProcess child;
        env.emplace("RX300_MIDI", "virtual");
        std::string error;
        EXPECT_TRUE(child.Start({RX300_CLI, std::move(args), m_dir.Path().string(), env}, &error))
            << error;
        auto end = child.WaitForEnd(120s);
        EXPECT_TRUE(end && end->exited) << Describe(child, "rx300-updater-cli");
        return {end && end->exited ? end->exitCode : -1, child.Stdout(), child.Stderr()};
    }
    std::vector<std::string> LogTexts() const { return m_dir.Texts(); }

    ScopedLogDir m_dir;
};

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST_F(CliTest, HelpDocumentsTheOptionsAndEveryExitStatus) {
    const auto r = Run({"--help"});
    EXPECT_EQ(r.exitCode, 0);
    for (const char* part : {"--in", "--out", "--instance", "--list", "--simulate", "--version",
                             "Exit status", "130", "Time out error(2)"}) {
        EXPECT_TRUE(Contains(r.out, part)) << part;
    }
    EXPECT_EQ(Run({"--version"}).exitCode, 0);
}

TEST_F(CliTest, SimulatedUpdateCompletesAndTheUnitVerifiesItsFlash) {
    const auto r = Run({"--simulate"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(Contains(r.out, "Version update completed.")) << r.out;
    EXPECT_TRUE(Contains(r.out, "[3/7] Data transmit  0 / 262144 ")) << r.out;
    EXPECT_TRUE(Contains(r.out, "flash: verified")) << r.out;
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(LogTexts().empty());
}

struct FailureCase {
    const char* faults;
    int exitCode;
    const char* error;
    std::vector<std::string> log;
};

TEST_F(CliTest, EachFailureHasItsExitStatusTextAndLog) {
    const FailureCase cases[] = {
        {"family=0x41", 14, "Illegal device connected.", {"Illegal device connected."}},
        {"not-update-mode",
         15,
         "Please use the firmware update mode.",
         {"Please use the firmware update mode."}},
        {"begin-status=2", 16, "Transfer error occurred.", {}},
        {"erase-refuse=0:7", 18, "Transfer error occurred.", {"(Erase)Time Out Error."}},
        {"flash-error=3:7", 20, "Transfer error occurred.",
         std::vector<std::string>(7, "(Flash Write)Transfer error occurred.")},
    };
    for (const auto& c : cases) {
        std::ofstream(m_dir.Path() / "TEST_LOG.txt", std::ios::trunc);
        const auto r = Run({std::string("--simulate=") + c.faults});
        EXPECT_EQ(r.exitCode, c.exitCode) << c.faults << "\n" << r.err;
        EXPECT_EQ(r.err, std::string("Error: ") + c.error + "\n") << c.faults;
        EXPECT_EQ(LogTexts(), c.log) << c.faults;
        EXPECT_FALSE(Contains(r.out, "Version update completed.")) << c.faults;
        EXPECT_FALSE(Contains(r.out, "flash: verified")) << c.faults;
    }
}

TEST_F(CliTest, BadCommandLinesAndMissingDevicesAreRefused) {
    auto r = Run({"--simulate=crc=oops"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(Contains(r.err, "crc")) << r.err;
    EXPECT_EQ(Run({"--instance", "21"}).exitCode, 2);
    EXPECT_EQ(Run({"--bogus"}).exitCode, 2);

    r = Run({});  // no simulated unit and no MIDI system: nothing to pre-select
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_TRUE(Contains(r.err, "no MIDI IN device")) << r.err;
    EXPECT_TRUE(Contains(r.out, "MIDI OUT devices:")) << r.out;

    r = Run({"--simulate", "--out", "Nothing Like It"});
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_TRUE(Contains(r.err, "Nothing Like It")) << r.err;
    EXPECT_TRUE(LogTexts().empty());
}

TEST_F(CliTest, ListMarksThePreselectedDevicesAndPortsCanBeChosenByNumber) {
    auto r = Run({"--simulate", "--list"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(Contains(r.out, "MIDI IN devices:\n*  0  TAVO RX Series\n")) << r.out;
    EXPECT_TRUE(Contains(r.out, "MIDI OUT devices:\n*  0  TAVO RX Series\n")) << r.out;

    r = Run({"--simulate", "--in", "0", "--out", "TAVO RX Series"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
}

TEST_F(CliTest, InstanceTwoFindsTheUnitNamedForIt) {
    const auto r = Run({"--simulate", "--instance", "2", "--list"});
    EXPECT_TRUE(Contains(r.out, "*  0  TAVO RX Series (2)\n")) << r.out;
    EXPECT_EQ(Run({"--simulate", "--instance", "2"}).exitCode, 0);
}

TEST_F(CliTest, CtrlCEndsAWaitingRunQuietlyAndPromptly) {
    CChildProcess child;
    std::string error;
    // A unit that never answers Begin Update: without Ctrl-C the run would wait forever.
    ASSERT_TRUE(child.Start({RX300_CLI,
                             {"--simulate=silent=begin"},
                             m_dir.Path().string(),
                             {{"RX300_MIDI", "virtual"}}},
                            &error))
        << error;
    ASSERT_TRUE(child.WaitForLine(
        [](const std::string& line) { return Contains(line, "Erasing Flash memory."); }, 60s))
        << Describe(child, "rx300-updater-cli");
    child.Signal(SIGINT);
    const auto end = child.WaitForEnd(60s);
    ASSERT_TRUE(end && end->exited) << Describe(child, "rx300-updater-cli");
    EXPECT_EQ(end->exitCode, 130);
    EXPECT_FALSE(Contains(child.Stderr(), "Error:")) << child.Stderr();
    EXPECT_TRUE(Contains(child.Stderr(), "interrupted")) << child.Stderr();
    EXPECT_TRUE(LogTexts().empty());
}

}  // namespace
