// Whole updates through the engine, the virtual MIDI backend and the simulated unit.
#include <algorithm>

#include "engine_fixture.h"
#include "platform/resource.h"

namespace {

using rx::RunOutcome;

std::vector<std::string> Repeat(const std::string& text, int times) {
    return std::vector<std::string>(times, text);
}

class CompletedUpdate : public EngineTest, public ::testing::WithParamInterface<std::uint8_t> {};

TEST_P(CompletedUpdate, WritesAllThreeImagesAndCarriesTheFamilyEverywhere) {
    const std::uint8_t family = GetParam();
    char faults[64];
    // The unit asks for the host's identity mid-write, as a real one may.
    std::snprintf(faults, sizeof faults, "family=0x%02X,inject=identity-request@write:10", family);
    StartRun(faults);
    EXPECT_EQ(Finish(), RunOutcome::kCompleted);

    EXPECT_EQ(m_window.LastStatus(), "Version update completed.");
    EXPECT_EQ(m_window.LastStep(), "7/7");
    EXPECT_TRUE(m_window.Errors().empty());
    const auto events = m_window.Events();
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events[events.size() - 2], "restore");
    EXPECT_EQ(events.back(), "execute:off");
    EXPECT_FALSE(m_engine->IsBusy());
    EXPECT_TRUE(m_log.Texts().empty());

    for (int region = 0; region < 3; ++region) {
        EXPECT_TRUE(RegionWritten(region)) << "region " << region;
    }
    const auto record = Unit().GetRecord();
    EXPECT_EQ(record.Received(sim::Kind::kWriteBlock), 486);
    EXPECT_EQ(record.Received(sim::Kind::kEraseRange), 4);
    EXPECT_EQ(record.Received(sim::Kind::kEndUpdate), 1);
    ASSERT_EQ(record.modelBytes.size(), 1u);
    EXPECT_EQ(record.modelBytes.begin()->first, family);
    ASSERT_TRUE(record.hostIdentityFamily.has_value());
    EXPECT_EQ(*record.hostIdentityFamily, family);
}

INSTANTIATE_TEST_SUITE_P(Families, CompletedUpdate, ::testing::Values(0x57, 0x58));

TEST_F(EngineTest, StepCounterAndProgressFollowThePlan) {
    StartRun("");
    EXPECT_EQ(Finish(), RunOutcome::kCompleted);
    std::vector<std::string> steps;
    std::vector<std::string> ranges;
    bool firstBlockShown = false;
    bool lastBlockShown = false;
    for (const auto& e : m_window.Events()) {
        if (e.rfind("step:", 0) == 0) steps.push_back(e.substr(5));
        if (e.rfind("range:", 0) == 0) ranges.push_back(e.substr(6));
        firstBlockShown |= e == "status:Data transmit  0 / 262144 ";
        lastBlockShown |= e == "status:Data transmit  260096 / 262144 ";
        EXPECT_NE(e, "status:Data transmit  262144 / 262144 ");
    }
    const std::vector<std::string> expectedSteps = {"0/7", "1/7", "2/7", "3/7",
                                                    "4/7", "5/7", "6/7", "7/7"};
    const std::vector<std::string> expectedRanges = {"0..10",    "0..10", "0..262144", "0..10",
                                                     "0..12288", "0..10", "0..720896"};
    EXPECT_EQ(steps, expectedSteps);
    EXPECT_EQ(ranges, expectedRanges);
    EXPECT_TRUE(firstBlockShown);
    EXPECT_TRUE(lastBlockShown);
    EXPECT_EQ(m_window.Position(), 720896);
}

struct FailureCase {
    const char* faults;
    RunOutcome outcome;
    const char* error;
    std::vector<std::string> log;
};

class FailedUpdate : public EngineTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(FailedUpdate, ShowsOneErrorLogsAndRestoresTheControls) {
    const auto& c = GetParam();
    StartRun(c.faults);
    EXPECT_EQ(Finish(), c.outcome);
    EXPECT_EQ(m_window.Errors(), std::vector<std::string>{c.error});
    EXPECT_EQ(m_log.Texts(), c.log);
    const auto events = m_window.Events();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back(), "restore");
    EXPECT_EQ(std::count(events.begin(), events.end(), "execute:off"), 0);
    EXPECT_FALSE(m_engine->IsBusy());
    EXPECT_NE(m_window.LastStatus(), "Version update completed.");
    EXPECT_EQ(Unit().GetRecord().Received(sim::Kind::kEndUpdate),
              c.outcome == RunOutcome::kEndTimeout);
}

INSTANTIATE_TEST_SUITE_P(
    Failures, FailedUpdate,
    ::testing::Values(
        FailureCase{"silent=identity",
                    RunOutcome::kIdentityTimeout,
                    "Time out error(1)",
                    {"Midi out error."}},
        FailureCase{"family=0x41",
                    RunOutcome::kIllegalDevice,
                    "Illegal device connected.",
                    {"Illegal device connected."}},
        FailureCase{"not-update-mode",
                    RunOutcome::kNotInUpdateMode,
                    "Please use the firmware update mode.",
                    {"Please use the firmware update mode."}},
        FailureCase{"begin-status=1", RunOutcome::kBeginRefused, "Transfer error occurred.", {}},
        FailureCase{"silent=erase:0",
                    RunOutcome::kEraseTimeout,
                    "Time out error(3)",
                    {"(Erase)Time Out Error."}},
        FailureCase{"erase-refuse=1:7",
                    RunOutcome::kEraseRefused,
                    "Transfer error occurred.",
                    {"(Erase)Time Out Error."}},
        FailureCase{"crc=5:7", RunOutcome::kWriteRefused, "Transfer error occurred.",
                    Repeat("(CRC)Transfer error occurred.", 7)},
        FailureCase{"flash-error=200:7", RunOutcome::kWriteRefused, "Transfer error occurred.",
                    Repeat("(Flash Write)Transfer error occurred.", 7)},
        FailureCase{"drop=130:7",
                    RunOutcome::kWriteTimeout,
                    "Time out error(2)",
                    {"(Write)Time Out Error."}},
        FailureCase{"silent=end", RunOutcome::kEndTimeout, "Transfer error occurred.", {}}));

TEST_F(EngineTest, RefusedEraseIsSentSevenTimesAndNoFurther) {
    StartRun("erase-refuse=1:7");
    EXPECT_EQ(Finish(), RunOutcome::kEraseRefused);
    const auto record = Unit().GetRecord();
    ASSERT_EQ(record.eraseRows.size(), 2u);
    EXPECT_EQ(record.eraseRows[1].sends, 7);
    EXPECT_EQ(record.Received(sim::Kind::kWriteBlock), 0);
}

TEST_F(EngineTest, WriteFailureStopsThePlanWithTheBlockUnwritten) {
    StartRun("crc=5:7");
    EXPECT_EQ(Finish(), RunOutcome::kWriteRefused);
    const auto record = Unit().GetRecord();
    ASSERT_EQ(record.blocks.size(), 6u);  // blocks 0..5, nothing after the failing one
    EXPECT_EQ(record.blocks[5].sends, 7);
    EXPECT_FALSE(RegionWritten(0));
}

struct RecoveryCase {
    const char* faults;
    std::vector<std::string> log;
};

class RecoveredUpdate : public EngineTest, public ::testing::WithParamInterface<RecoveryCase> {};

TEST_P(RecoveredUpdate, CompletesWithEveryRegionWritten) {
    const auto& c = GetParam();
    StartRun(c.faults);
    EXPECT_EQ(Finish(), RunOutcome::kCompleted);
    EXPECT_TRUE(m_window.Errors().empty());
    EXPECT_EQ(m_log.Texts(), c.log);
    for (int region = 0; region < 3; ++region) {
        EXPECT_TRUE(RegionWritten(region)) << "region " << region;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Recoveries, RecoveredUpdate,
    ::testing::Values(
        RecoveryCase{"crc=5:6", Repeat("(CRC)Transfer error occurred.", 6)},
        RecoveryCase{"flash-error=131:3", Repeat("(Flash Write)Transfer error occurred.", 3)},
        RecoveryCase{"drop=20:6", {}}, RecoveryCase{"erase-refuse=3:6", {}},
        RecoveryCase{"end-status=5", {}},
        RecoveryCase{"crc=0:2,crc=485:2,drop=300:1", Repeat("(CRC)Transfer error occurred.", 4)}));

// The unit answers block 40's first send after the host gave up on it and sent it again; then
// it refuses block 41 once. A host that took the late answer for the resend's, and the resend's
// for block 41's, would skip block 41 and still report a completed update.
TEST_F(EngineTest, LateAckIsNotTakenForTheNextBlock) {
    StartRun("late-ack=40:1600,crc=41:1");
    EXPECT_EQ(Finish(), RunOutcome::kCompleted);
    EXPECT_EQ(m_log.Texts(), std::vector<std::string>{"(CRC)Transfer error occurred."});
    for (int region = 0; region < 3; ++region) {
        EXPECT_TRUE(RegionWritten(region)) << "region " << region;
    }
    const auto record = Unit().GetRecord();
    ASSERT_GT(record.blocks.size(), 41u);
    EXPECT_EQ(record.blocks[40].sends, 2);
    EXPECT_EQ(record.blocks[41].sends, 2);
}

TEST_F(EngineTest, MissingImageIsReportedAndNothingIsSentFromIt) {
    rx::RegisterEmbeddedResources();
    RegisterResource("BIN", rx::kImageSettings, nullptr, 0);
    StartRun("");
    EXPECT_EQ(Finish(), RunOutcome::kImageMissing);
    RegisterResource("BIN", rx::kImageSettings, rx::EmbeddedImage(rx::kImageSettings).data(),
                     rx::EmbeddedImage(rx::kImageSettings).size());
    EXPECT_EQ(m_window.Errors(), std::vector<std::string>{"Transfer error occurred."});
    EXPECT_EQ(m_window.LastStep(), "5/7");
    // Only row 3's 128 blocks went out.
    EXPECT_EQ(Unit().GetRecord().Received(sim::Kind::kWriteBlock), 128);
}

TEST_F(EngineTest, OddSizedRowEndsInAShortBlockAndOtherKindsDoNothing) {
    static const rx::PlanRow plan[] = {
        {3, 0x1000, 0x1000, 0},
        {rx::kPlanErase, 0x3FD000, 0x3000, 0},
        {rx::kPlanWrite, 0x3FD000, 3000, rx::kImageSettings},
    };
    sim::Options options;
    m_sim = std::make_unique<sim::CVirtualSimUnit>("TAVO RX Series", options);
    CreateEngine();
    m_engine->SetFlashPlanForTesting(plan);
    ASSERT_EQ(Execute("TAVO RX Series"), RunOutcome::kStarted);
    EXPECT_EQ(Finish(), RunOutcome::kCompleted);

    const auto record = Unit().GetRecord();
    EXPECT_EQ(record.Received(sim::Kind::kEraseRange), 1);
    ASSERT_EQ(record.blocks.size(), 2u);
    EXPECT_EQ(record.blocks[0].size, 2048);
    EXPECT_EQ(record.blocks[1].size, 3000 - 2048);
    const auto image = rx::EmbeddedImage(rx::kImageSettings);
    EXPECT_EQ(Unit().ReadFlash(0x3FD000, 3000),
              std::vector<std::uint8_t>(image.begin(), image.begin() + 3000));
    EXPECT_EQ(Unit().ReadFlash(0x3FD000 + 3000, 1), std::vector<std::uint8_t>{0xFF});
    EXPECT_EQ(m_window.Position(), 3000);
}

TEST_F(EngineTest, ExecuteDuringARunSaysInProgressAndChangesNothing) {
    StartRun("silent=begin");
    ASSERT_TRUE(m_window.WaitFor("status:Erasing Flash memory."));
    EXPECT_EQ(Execute("TAVO RX Series"), RunOutcome::kInProgress);
    EXPECT_EQ(m_window.Errors(), std::vector<std::string>{"In Progress."});
    EXPECT_TRUE(m_engine->IsBusy());
    EXPECT_TRUE(m_log.Texts().empty());
}

TEST_F(EngineTest, ExecuteWithNoDeviceChosenFailsWithTheOutputError) {
    CreateEngine();
    EXPECT_EQ(m_engine->Execute(-1, -1), RunOutcome::kOutputOpenFailed);
    EXPECT_EQ(m_window.Errors(), std::vector<std::string>{"Can't open MIDI Out device."});
    EXPECT_EQ(m_log.Texts(), std::vector<std::string>{"Midi out error."});
    EXPECT_FALSE(m_engine->IsBusy());
}

TEST_F(EngineTest, InputThatDoesNotStartIsLoggedAsMidiOutError) {
    m_sim = std::make_unique<sim::CVirtualSimUnit>("TAVO RX Series", sim::Options{});
    CreateEngine();
    EXPECT_EQ(m_engine->Execute(-1, FindDevice(*m_engine, false, "TAVO RX Series")),
              RunOutcome::kInputOpenFailed);
    EXPECT_EQ(m_window.Errors(), std::vector<std::string>{"Can't open MIDI In device."});
    EXPECT_EQ(m_log.Texts(), std::vector<std::string>{"Midi out error."});
}

TEST_F(EngineTest, CompletedRunThenAnotherRunOnTheSameEngine) {
    StartRun("");
    EXPECT_EQ(Finish(), RunOutcome::kCompleted);
    ASSERT_EQ(Execute("TAVO RX Series"), RunOutcome::kStarted);
    EXPECT_EQ(Finish(), RunOutcome::kCompleted);
    EXPECT_EQ(Unit().GetRecord().Received(sim::Kind::kEndUpdate), 2);
}

}  // namespace
