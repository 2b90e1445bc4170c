// Whole updates across process boundaries: rx300-sim on its own JACK ports, rx300-updater-cli
// finding it by name, both over a private `jackd -d dummy`. Each case checks what the updater
// said (exit status, error text, TEST_LOG.txt) and what the unit says its flash holds.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <ostream>
#include <sstream>

#include "resources/embedded_resources.h"
#include "tests/e2e/child_process.h"
#include "tests/e2e/e2e_support.h"
#include "tests/platform/jack_server.h"

namespace {

using namespace std::chrono_literals;
using testing::HasSubstr;
using testing::Matcher;
using testing::MatchesRegex;
using testing::Not;

// Generous: the machine may be slow and loaded, and the sanitizer builds are slower still.
constexpr auto kReadyDeadline = 60s;
constexpr auto kRunDeadline = 240s;
constexpr auto kStopDeadline = 120s;  // jackd may hold every client up for a while

constexpr char kUnitName[] = "TAVO RX Series";
constexpr char kSecondUnitName[] = "TAVO RX Series (2)";
constexpr char kCompleted[] = "Version update completed.";
constexpr char kCrcLog[] = "(CRC)Transfer error occurred.";

bool IsReadyLine(const std::string& line) {
    return line.rfind("ready: ", 0) == 0;
}

std::vector<std::uint8_t> ReadFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The regions that rx300-sim --dump wrote, compared with the images this test was built with.
void ExpectDumpedRegions(const std::filesystem::path& folder, bool equal) {
    for (int id : {rx::kImageMain, rx::kImageSettings, rx::kImageData}) {
        const auto image = rx::EmbeddedImage(id);
        const std::vector<std::uint8_t> expected(image.begin(), image.end());
        const auto dumped = ReadFile(folder / (std::to_string(id) + ".bin"));
        ASSERT_EQ(dumped.size(), expected.size()) << "region of image " << id;
        EXPECT_EQ(dumped == expected, equal) << "region of image " << id;
    }
}

class UpdateOverJack : public testing::Test {
  protected:
    static void SetUpTestSuite() { StartServer(new JackServer); }
    static void StartServer(JackServer* fresh) {
        server = fresh;
        if (!server->Start(&startError)) {
            delete server;
            server = nullptr;
        }
    }
    static void TearDownTestSuite() {
        delete server;
        server = nullptr;
    }

    void SetUp() override {
        if (server == nullptr) {
            GTEST_SKIP() << "no private JACK server (jackd -d dummy) for the end-to-end tests: "
                         << startError;
        }
        ASSERT_FALSE(folder.Path().empty()) << "no temporary folder";
    }

    // Children go before the folder they run in.
    void TearDown() override { children.clear(); }

    // Started in a working folder of its own with an empty TEST_LOG.txt; null when it did not
    // start, with the failure recorded.
    CChildProcess* Start(const std::string& program, std::vector<std::string> args,
                         const std::filesystem::path& workDir) {
        CChildProcess::Launch launch;
        launch.program = program;
        launch.args = std::move(args);
        launch.workDir = workDir.string();
        launch.env = {{"RX300_MIDI", "jack"},
                      {"JACK_DEFAULT_SERVER", server->Name()},
                      {"JACK_NO_START_SERVER", "1"}};
        auto child = std::make_unique<CChildProcess>();
        std::string error;
        if (!child->Start(launch, &error)) {
            ADD_FAILURE() << program << ": " << error;
            return nullptr;
        }
        children.push_back(std::move(child));
        return children.back().get();
    }

    // rx300-sim, once it has said that its ports exist.
    CChildProcess* StartSim(std::vector<std::string> args, const std::filesystem::path& workDir) {
        CChildProcess* sim = Start(RX300_SIM_PROGRAM, std::move(args), workDir);
        if (sim != nullptr && !sim->WaitForLine(IsReadyLine, kReadyDeadline)) {
            ADD_FAILURE() << "rx300-sim did not get ready\n" << Describe(*sim, "rx300-sim");
            return nullptr;
        }
        return sim;
    }

    CChildProcess* StartCli(std::vector<std::string> args, const std::filesystem::path& workDir) {
        return Start(RX300_CLI_PROGRAM, std::move(args), workDir);
    }

    static inline JackServer* server = nullptr;
    static inline std::string startError;
    e2e::CTempFolder folder;
    std::vector<std::unique_ptr<CChildProcess>> children;
};

struct UpdateCase {
    const char* name;
    std::vector<std::string> simArgs;
    int cliExit;
    // Shown as "Error: TEXT" on stderr; null for a completed update.
    const char* error;
    std::vector<std::string> log;
    bool verified;
    // Exact counts of what the unit received; a kind not listed must not have come.
    std::map<std::string, long> received;
    // Write Blocks received: at least this many (a loaded machine may add a resend).
    long minWriteBlocks;
    std::vector<std::pair<std::string, Matcher<const std::string&>>> fields;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const UpdateCase& c, std::ostream* out) {
    *out << c.name;
}

const std::map<std::string, long> kWholeUpdate = {
    {"identity-request", 1}, {"begin-update", 1}, {"erase-range", 4}, {"end-update", 1}};

std::vector<UpdateCase> UpdateCases() {
    const Matcher<const std::string&> only57 = MatchesRegex("0x57 \\([0-9]+\\)");
    const Matcher<const std::string&> only58 = MatchesRegex("0x58 \\([0-9]+\\)");
    return {
        {"Family57Completes",
         {"--family", "0x57"},
         0,
         nullptr,
         {},
         true,
         kWholeUpdate,
         486,
         {{"model bytes", only57}, {"crc errors", "0"}, {"host status answers", "none"}}},
        {"Family58Completes",
         {"--family", "0x58"},
         0,
         nullptr,
         {},
         true,
         kWholeUpdate,
         486,
         {{"model bytes", only58}, {"crc errors", "0"}}},
        {"NotInUpdateMode",
         {"--faults", "not-update-mode"},
         15,
         "Please use the firmware update mode.",
         {"Please use the firmware update mode."},
         false,
         {{"identity-request", 1}, {"begin-update", 1}},
         0,
         {{"model bytes", "0x57 (1)"}}},
        {"IllegalDevice",
         {"--family", "0x41"},
         14,
         "Illegal device connected.",
         {"Illegal device connected."},
         false,
         {{"identity-request", 1}},
         0,
         {{"model bytes", "none"}}},
        {"CrcErrorsRecover",
         {"--faults", "crc=40:6"},
         0,
         nullptr,
         std::vector<std::string>(6, kCrcLog),
         true,
         kWholeUpdate,
         486 + 6,
         {{"crc errors", "6"}}},
        {"CrcErrorsExhaustTheRetries",
         {"--faults", "crc=3:7"},
         20,
         "Transfer error occurred.",
         std::vector<std::string>(7, kCrcLog),
         false,
         {{"identity-request", 1}, {"begin-update", 1}, {"erase-range", 2}},
         3 + 7,
         {{"crc errors", "7"}}},
        // The answer to block 20 comes after the host has given up on it and sent it again, so
        // two acknowledgements of block 20 arrive; block 21 is refused once. A host that took
        // the second one for block 21 would leave block 21 unwritten.
        {"LateAckIsNotTakenForTheNextBlock",
         {"--faults", "late-ack=20:1500,crc=21:1"},
         0,
         nullptr,
         {kCrcLog},
         true,
         kWholeUpdate,
         486 + 2,
         {{"crc errors", "1"}}},
        // The unit's own messages, each to be answered in the middle of the writes: the
        // Identity Reply must carry the unit's family, not the default 0x57.
        {"HostAnswersTheUnitMidUpdate",
         {"--family", "0x58", "--faults",
          "inject=identity-request@write:10,inject=begin-update@write:150,"
          "inject=unknown-command@write:300"},
         0,
         nullptr,
         {},
         true,
         {{"identity-request", 1},
          {"identity-reply", 1},
          {"status", 2},
          {"begin-update", 1},
          {"erase-range", 4},
          {"end-update", 1}},
         486,
         {{"host status answers", "0, 1"},
          {"host identity reply", "0x58"},
          {"model bytes", only58}}},
    };
}

class UpdateCaseTest : public UpdateOverJack, public testing::WithParamInterface<UpdateCase> {};

TEST_P(UpdateCaseTest, UpdaterAndUnitAgreeOnTheOutcome) {
    const UpdateCase& c = GetParam();
    const auto simDir = folder.WorkDir("sim");
    const auto cliDir = folder.WorkDir("cli");
    std::vector<std::string> simArgs = {"--name", kUnitName, "--once", "--dump", "dump"};
    simArgs.insert(simArgs.end(), c.simArgs.begin(), c.simArgs.end());
    CChildProcess* sim = StartSim(simArgs, simDir);
    ASSERT_NE(sim, nullptr);
    CChildProcess* cli = StartCli({"--in", kUnitName, "--out", kUnitName}, cliDir);
    ASSERT_NE(cli, nullptr);

    const auto cliEnd = cli->WaitForEnd(kRunDeadline);
    ASSERT_TRUE(cliEnd) << "the updater did not finish\n" << Describe(*cli, "rx300-updater-cli");
    if (c.cliExit != 0) {
        // A failed update never reaches End Update: the unit waits until it is stopped.
        sim->Signal(SIGTERM);
    }
    const auto simEnd = sim->WaitForEnd(kStopDeadline);
    ASSERT_TRUE(simEnd) << "rx300-sim did not end\n" << Describe(*sim, "rx300-sim");
    const std::string context = Describe(*cli, "rx300-updater-cli") + Describe(*sim, "rx300-sim");

    EXPECT_TRUE(cliEnd->exited) << context;
    EXPECT_EQ(cliEnd->exitCode, c.cliExit) << context;
    if (c.error == nullptr) {
        EXPECT_THAT(cli->Stdout(), HasSubstr(kCompleted));
        EXPECT_THAT(cli->Stderr(), Not(HasSubstr("Error:")));
    } else {
        EXPECT_THAT(cli->Stderr(), HasSubstr(std::string("Error: ") + c.error + "\n"));
        EXPECT_THAT(cli->Stdout(), Not(HasSubstr(kCompleted)));
    }
    EXPECT_EQ(e2e::LogTexts(cliDir / "TEST_LOG.txt"), c.log);

    EXPECT_TRUE(simEnd->exited) << context;
    EXPECT_EQ(simEnd->exitCode, c.verified ? 0 : 1) << context;
    const auto reports = e2e::SimReports(sim->Stdout());
    ASSERT_EQ(reports.size(), 1u) << context;
    const e2e::SimReport& report = reports.back();
    EXPECT_EQ(report.heading, c.verified ? "End Update 1 answered" : "stopped by SIGTERM");
    EXPECT_EQ(report.Field("flash"), c.verified ? "verified" : "differs") << context;
    auto received = report.received;
    const long writeBlocks = received["write-block"];
    received.erase("write-block");
    EXPECT_EQ(received, c.received) << context;
    if (c.minWriteBlocks == 0) {
        EXPECT_EQ(writeBlocks, 0) << context;
    } else {
        EXPECT_GE(writeBlocks, c.minWriteBlocks) << context;
    }
    for (const auto& [key, matcher] : c.fields) {
        EXPECT_THAT(report.Field(key), matcher) << key << "\n" << context;
    }
    ExpectDumpedRegions(simDir / "dump", c.verified);
}

INSTANTIATE_TEST_SUITE_P(Cases, UpdateCaseTest, testing::ValuesIn(UpdateCases()),
                         [](const auto& info) { return std::string(info.param.name); });

// A unit killed outright leaves JACK clients behind that never answer again, and jackd holds
// every other client up for some twenty client time-outs before it drops them: a short time-out
// keeps that wait short. The updater's own time-out per block is shorter still.
class UnitKilledOverJack : public UpdateOverJack {
  protected:
    static void SetUpTestSuite() { StartServer(new JackServer(2000)); }
};

TEST_F(UnitKilledOverJack, MidWriteEndsInWriteTimeOut) {
    const auto cliDir = folder.WorkDir("cli");
    CChildProcess* sim = StartSim({"--name", kUnitName}, folder.WorkDir("sim"));
    ASSERT_NE(sim, nullptr);
    CChildProcess* cli = StartCli({"--in", kUnitName, "--out", kUnitName}, cliDir);
    ASSERT_NE(cli, nullptr);
    const bool writing = cli->WaitForLine(
        [](const std::string& line) {
            return line.rfind("[3/7] Data transmit", 0) == 0 && line.find(" 20%") != line.npos;
        },
        kRunDeadline);
    ASSERT_TRUE(writing) << Describe(*cli, "rx300-updater-cli");

    sim->Signal(SIGKILL);
    const auto simEnd = sim->WaitForEnd(kStopDeadline);
    ASSERT_TRUE(simEnd);
    EXPECT_EQ(simEnd->signal, SIGKILL);
    // Gone without a word: no report, so no verdict on a flash that was half written.
    EXPECT_TRUE(e2e::SimReports(sim->Stdout()).empty()) << Describe(*sim, "rx300-sim");

    const auto cliEnd = cli->WaitForEnd(kRunDeadline);
    ASSERT_TRUE(cliEnd) << Describe(*cli, "rx300-updater-cli");
    const std::string context = Describe(*cli, "rx300-updater-cli");
    EXPECT_EQ(cliEnd->exitCode, 19) << context;
    EXPECT_THAT(cli->Stderr(), HasSubstr("Error: Time out error(2)\n"));
    EXPECT_THAT(cli->Stdout(), Not(HasSubstr(kCompleted)));
    EXPECT_EQ(e2e::LogTexts(cliDir / "TEST_LOG.txt"),
              std::vector<std::string>{"(Write)Time Out Error."});
}

// Two units side by side, as on a service bench: each copy of the updater pre-selects its own
// unit by its instance number and neither hears the other's.
TEST_F(UpdateOverJack, TwoUnitsUpdateSideBySide) {
    const std::string names[2] = {kUnitName, kSecondUnitName};
    CChildProcess* sims[2] = {};
    CChildProcess* clis[2] = {};
    std::filesystem::path cliDirs[2];
    for (int i = 0; i < 2; ++i) {
        sims[i] = StartSim({"--name", names[i]}, folder.WorkDir("sim" + std::to_string(i + 1)));
        ASSERT_NE(sims[i], nullptr);
    }
    for (int i = 0; i < 2; ++i) {
        cliDirs[i] = folder.WorkDir("cli" + std::to_string(i + 1));
        clis[i] = StartCli({"--instance", std::to_string(i + 1)}, cliDirs[i]);
        ASSERT_NE(clis[i], nullptr);
    }
    for (int i = 0; i < 2; ++i) {
        const auto end = clis[i]->WaitForEnd(kRunDeadline);
        ASSERT_TRUE(end) << Describe(*clis[i], "rx300-updater-cli");
        const std::string context = Describe(*clis[i], "rx300-updater-cli");
        EXPECT_EQ(end->exitCode, 0) << context;
        const std::string quoted = "\"" + names[i] + "\"";
        EXPECT_THAT(clis[i]->Stdout(), HasSubstr(" " + quoted + ", MIDI OUT ")) << context;
        EXPECT_THAT(clis[i]->Stdout(), HasSubstr(" " + quoted + "\n")) << context;
        EXPECT_THAT(clis[i]->Stdout(), HasSubstr(kCompleted)) << context;
        EXPECT_TRUE(e2e::LogTexts(cliDirs[i] / "TEST_LOG.txt").empty());
    }
    for (int i = 0; i < 2; ++i) {
        sims[i]->Signal(SIGTERM);
        const auto end = sims[i]->WaitForEnd(kStopDeadline);
        ASSERT_TRUE(end);
        const std::string context = Describe(*sims[i], "rx300-sim");
        EXPECT_TRUE(end->exited) << context;
        EXPECT_EQ(end->exitCode, 0) << context;
        const auto reports = e2e::SimReports(sims[i]->Stdout());
        ASSERT_EQ(reports.size(), 2u) << context;
        EXPECT_EQ(reports[0].heading, "End Update 1 answered");
        EXPECT_EQ(reports[0].Field("flash"), "verified") << context;
        EXPECT_EQ(reports[1].heading, "stopped by SIGTERM");
        EXPECT_EQ(reports[1].Received("identity-request"), 1) << context;
        EXPECT_EQ(reports[1].Received("end-update"), 1) << context;
        EXPECT_EQ(reports[1].Field("flash"), "verified") << context;
    }
}

}  // namespace
