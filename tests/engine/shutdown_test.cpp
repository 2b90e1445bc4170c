// Shutting the engine down while a run is at each of its stages: the run ends quietly, nothing
// is shown, and Shutdown returns promptly although every wait has its production length.
#include "engine_fixture.h"

namespace {

using rx::RunOutcome;

struct StageCase {
    const char* name;
    const char* faults;
    // What the unit has received once the run waits in the stage.
    bool (*reached)(const sim::Record&);
};

class ShutdownAt : public EngineTest, public ::testing::WithParamInterface<StageCase> {};

TEST_P(ShutdownAt, EndsTheRunQuietly) {
    const auto& c = GetParam();
    StartRun(c.faults, EngineTimings{});
    ASSERT_TRUE(Unit().WaitFor(c.reached, std::chrono::seconds(120)))
        << "the run never reached " << c.name;
    const auto eventsBefore = m_window.Events().size();
    m_engine->Shutdown();

    EXPECT_TRUE(m_engine->WaitForRunEnd(0));
    EXPECT_EQ(m_engine->LastOutcome(), RunOutcome::kClosed);
    EXPECT_TRUE(m_window.ClosingCalled());
    EXPECT_TRUE(m_window.Errors().empty());
    EXPECT_TRUE(m_log.Texts().empty());
    // Nothing touched the window once shutting down began, beyond what was already under way.
    const auto events = m_window.Events();
    for (std::size_t i = eventsBefore; i < events.size(); ++i) {
        EXPECT_NE(events[i], "restore");
        EXPECT_NE(events[i].rfind("error:", 0), 0u) << events[i];
    }
    EXPECT_EQ(Unit().GetRecord().Received(sim::Kind::kEndUpdate), std::string(c.name) == "end");
}

INSTANTIATE_TEST_SUITE_P(
    Stages, ShutdownAt,
    ::testing::Values(
        StageCase{"identity", "silent=identity",
                  [](const sim::Record& r) { return r.Received(sim::Kind::kIdentityRequest) > 0; }},
        StageCase{"begin", "silent=begin",
                  [](const sim::Record& r) { return r.Received(sim::Kind::kBeginUpdate) > 0; }},
        StageCase{"erase", "silent=erase:1",
                  [](const sim::Record& r) { return r.eraseRows.size() > 1; }},
        StageCase{"write", "silent=write:5",
                  [](const sim::Record& r) { return r.blocks.size() > 5; }},
        StageCase{"end", "silent=end",
                  [](const sim::Record& r) { return r.Received(sim::Kind::kEndUpdate) > 0; }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(EngineTest, ShutdownReleasesAnErrorBoxNobodyAnswers) {
    m_window.HoldErrorBoxes();
    StartRun("family=0x41", EngineTimings{});
    ASSERT_TRUE(m_window.WaitFor("error:Illegal device connected."));
    m_engine->Shutdown();
    EXPECT_TRUE(m_engine->WaitForRunEnd(0));
    const auto events = m_window.Events();
    EXPECT_EQ(events.back(), "error:Illegal device connected.");  // no restore after it
}

TEST_F(EngineTest, ShutdownWithoutARunAndTwiceIsHarmless) {
    CreateEngine();
    m_engine->Shutdown();
    m_engine->Shutdown();
    EXPECT_EQ(Execute("TAVO RX Series"), RunOutcome::kClosed);
    EXPECT_TRUE(m_window.Events().empty());
}

}  // namespace
