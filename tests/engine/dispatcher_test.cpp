// The reply dispatcher, seen from the far end of the cable: what the host answers to the
// messages a unit sends, and which answers end the identity wait.
#include "engine_fixture.h"
#include "scripted_unit.h"

namespace {

using Bytes = ScriptedUnit::Bytes;
using rx::RunOutcome;

class DispatcherTest : public EngineTest {
  protected:
    void StartScripted(ScriptedUnit::Script script, EngineTimings timings = FastTimings()) {
        m_unit = std::make_unique<ScriptedUnit>("TAVO RX Series", std::move(script));
        CreateEngine(timings);
        ASSERT_EQ(Execute("TAVO RX Series"), RunOutcome::kStarted);
    }
    // Messages the host sent after its Identity Request, once at least `count` of them have
    // arrived and the latest is `last`.
    std::vector<Bytes> AnswersUntil(std::size_t count, const Bytes& last) {
        for (int i = 0; i < 12000; ++i) {
            auto received = m_unit->Received();
            if (received.size() > count && received.back() == last) {
                received.erase(received.begin());  // the Identity Request
                return received;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        ADD_FAILURE() << "the host never sent the expected answer";
        return {};
    }
    void TearDown() override {
        EngineTest::TearDown();
        m_unit.reset();
    }
    std::unique_ptr<ScriptedUnit> m_unit;
};

TEST_F(DispatcherTest, AnswersTheUnitsRequestsAndDropsTheRest) {
    StartScripted([](const Bytes&) { return std::vector<Bytes>{}; }, EngineTimings{});
    for (int i = 0; i < 12000 && m_unit->Received().empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const Bytes status0 = {0xF0, 0x52, 0x00, 0x57, 0x00, 0x00, 0xF7};
    const Bytes status1 = {0xF0, 0x52, 0x00, 0x57, 0x00, 0x01, 0xF7};
    const Bytes identityReply = {0xF0, 0x7E, 0x00, 0x06, 0x02, 0x52, 0x00, 0x00,
                                 0x00, 0x00, 0x31, 0x30, 0x30, 0x30, 0xF7};
    Bytes oversize = {0xF0, 0x52, 0x00, 0x57, 0x05};
    oversize.resize(9000, 0x00);
    oversize.push_back(0xF7);
    struct Case {
        Bytes fromUnit;
        std::optional<Bytes> answer;
    };
    const Case cases[] = {
        {{0xF0, 0x52, 0x00, 0x57, 0x05, 0xF7}, status0},
        {{0xF0, 0x52, 0x00, 0x57, 0x01, 0xF7}, status0},
        {{0xF0, 0x52, 0x00, 0x57, 0x04, 0xF7}, status0},
        {{0xF0, 0x52, 0x00, 0x57, 0x0A, 0, 0, 0, 0, 0, 0, 0x20, 0, 0, 0, 0xF7}, status1},
        {{0xF0, 0x52, 0x00, 0x57, 0xFF, 0xF7}, status1},
        {{0xF0, 0x52, 0x00, 0x57, 0x03, 0xF7}, std::nullopt},
        {{0xF0, 0x52, 0x00, 0x58, 0x05, 0xF7}, std::nullopt},   // another family
        {{0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7}, identityReply},  // device ID not examined
        {{0xF0, 0x7E, 0x00, 0x06, 0x03, 0xF7}, status1},
        {{0xF0, 0x7E, 0x00, 0x08, 0x02, 0xF7}, std::nullopt},
        {{0xF0, 0x52, 0x00, 0xF7}, std::nullopt},        // too short to classify
        {{0xF0, 0x52, 0x00, 0x57, 0x05}, std::nullopt},  // no end
        {oversize, std::nullopt},                        // cut at the receive buffer
    };
    std::vector<Bytes> expected;
    for (const auto& c : cases) {
        m_unit->SendToHost(c.fromUnit);
        if (c.answer) {
            expected.push_back(*c.answer);
        }
    }
    const Bytes marker = {0xF0, 0x52, 0x00, 0x57, 0x05, 0xF7};
    m_unit->SendToHost(marker);
    expected.push_back(status0);
    EXPECT_EQ(AnswersUntil(expected.size(), status0 /* the marker's */), expected);
    // None of it was taken for the answer to the Identity Request.
    EXPECT_TRUE(m_window.Errors().empty());
}

struct IdentityCase {
    const char* name;
    Bytes answer;
    RunOutcome outcome;
};

class IdentityAnswer : public DispatcherTest, public ::testing::WithParamInterface<IdentityCase> {};

TEST_P(IdentityAnswer, DecidesTheIdentityStep) {
    const Bytes answer = GetParam().answer;
    StartScripted([answer](const Bytes& received) {
        if (received == Bytes{0xF0, 0x7E, 0x00, 0x06, 0x01, 0xF7}) {
            return std::vector<Bytes>{answer};
        }
        return std::vector<Bytes>{};
    });
    if (GetParam().outcome == RunOutcome::kStarted) {
        // Accepted: the run went on to Begin Update (and waits there, unanswered).
        ASSERT_TRUE(m_window.WaitFor("status:Erasing Flash memory."));
        EXPECT_EQ(m_unit->Received().back(), (Bytes{0xF0, 0x52, 0x00, 0x58, 0x01, 0xF7}));
        return;
    }
    EXPECT_EQ(Finish(), GetParam().outcome);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, IdentityAnswer,
    ::testing::Values(
        // Whatever manufacturer byte the reply carries, offset 6 is the family.
        IdentityCase{"reply",
                     {0xF0, 0x7E, 0x00, 0x06, 0x02, 0x41, 0x58, 0, 0, 0, 1, 2, 3, 4, 0xF7},
                     RunOutcome::kStarted},
        // A Status ends the wait but tells no family: refused.
        IdentityCase{
            "status0", {0xF0, 0x52, 0x00, 0x57, 0x00, 0x00, 0xF7}, RunOutcome::kIllegalDevice},
        IdentityCase{
            "status1", {0xF0, 0x52, 0x00, 0x57, 0x00, 0x01, 0xF7}, RunOutcome::kIllegalDevice},
        IdentityCase{"writeack", {0xF0, 0x52, 0x7F, 0x57, 0x02, 0xF7}, RunOutcome::kIllegalDevice},
        // Too short to carry a family: not an answer at all.
        IdentityCase{"short", {0xF0, 0x7E, 0x00, 0x06, 0x02, 0xF7}, RunOutcome::kIdentityTimeout}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DispatcherTest, ExtraStatusIsNotTakenForTheNextAnswer) {
    // A unit that answers once too often: its extra Status must not end a later wait.
    EngineTimings timings = FastTimings();
    timings.afterBeginPauseMs = 300;  // the extra Status arrives well before the first erase
    StartScripted(
        [](const Bytes& received) {
            if (received.size() == 6 && received[1] == 0x7E) {
                return std::vector<Bytes>{
                    {0xF0, 0x7E, 0x00, 0x06, 0x02, 0x52, 0x57, 0, 0, 0, 1, 2, 3, 4, 0xF7}};
            }
            return std::vector<Bytes>{};
        },
        timings);
    ASSERT_TRUE(m_window.WaitFor("status:Erasing Flash memory."));
    m_unit->SendToHost({0xF0, 0x52, 0x00, 0x57, 0x00, 0x00, 0xF7});  // answers Begin Update
    m_unit->SendToHost({0xF0, 0x52, 0x00, 0x57, 0x00, 0x00, 0xF7});  // unsolicited
    ASSERT_TRUE(m_window.WaitFor("step:1/7"));
    // The unsolicited Status must not confirm the first erase; it is dropped, so the erase
    // waits for its own answer and times out.
    EXPECT_EQ(Finish(), RunOutcome::kEraseTimeout);
}

}  // namespace
