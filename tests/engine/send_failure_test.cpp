// A host whose output refuses to send, played with the recording platform fake.
#include <gtest/gtest.h>

#include "engine/updater_engine.h"
#include "fake_window.h"
#include "log_dir.h"
#include "protocol/messages.h"
#include "tests/support/fake_mmsystem.h"

namespace {

using rx::RunOutcome;
using rxtest::Fn;

class SendFailure : public ::testing::Test {
  protected:
    SendFailure() : m_guard(m_fake) {
        m_fake.SetInputDevices({"TAVO RX Series"});
        m_fake.SetOutputDevices({"TAVO RX Series"});
        rx::g_modelByte.store(rx::kDefaultModelByte);
    }
    // Runs the dispatcher until `done` holds, as the 1 ms timer would.
    template <typename Done>
    bool Tick(Done done) {
        for (int i = 0; i < 20000; ++i) {
            if (done()) {
                return true;
            }
            m_fake.FireTimer(m_fake.LastEventId());
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return false;
    }

    ScopedLogDir m_log;
    rxtest::FakeMmSystem m_fake;
    rxtest::ScopedMmSystem m_guard;
    FakeWindow m_window;
};

TEST_F(SendFailure, IdentityRequestThatCannotGoOutEndsTheRunAtOnce) {
    m_fake.Fail(Fn::midiOutLongMsg);
    CUpdaterEngine engine(m_window);  // production time-outs: no wait may follow
    engine.Initialise();
    ASSERT_EQ(engine.Execute(0, 0), RunOutcome::kStarted);
    ASSERT_TRUE(engine.WaitForRunEnd(60000));
    EXPECT_EQ(engine.LastOutcome(), RunOutcome::kIdentitySendFailed);
    EXPECT_EQ(m_window.Errors(), std::vector<std::string>{"Can't open MIDI Out device."});
    EXPECT_EQ(m_log.Texts(), std::vector<std::string>{"Midi out error."});
    EXPECT_EQ(m_window.Events().back(), "restore");
    EXPECT_EQ(m_fake.CountOf(Fn::midiOutLongMsg), 1);
    // The refused header was not left prepared.
    EXPECT_EQ(m_fake.CountOf(Fn::midiOutPrepareHeader), m_fake.CountOf(Fn::midiOutUnprepareHeader));
    engine.Shutdown();
}

TEST_F(SendFailure, BeginUpdateThatCannotGoOutWaitsUntilClosed) {
    m_fake.FailCall(Fn::midiOutLongMsg, 2);
    CUpdaterEngine engine(m_window);
    engine.Initialise();
    ASSERT_EQ(engine.Execute(0, 0), RunOutcome::kStarted);
    ASSERT_TRUE(Tick([&] { return m_fake.SentLong().size() == 1; }));
    ASSERT_TRUE(m_fake.DeliverSysEx({0xF0, 0x7E, 0x00, 0x06, 0x02, 0x52, 0x57, 0x00, 0x00, 0x00,
                                     0x31, 0x30, 0x30, 0x30, 0xF7}));
    ASSERT_TRUE(Tick([&] { return m_window.LastStatus() == "Erasing Flash memory."; }));
    EXPECT_FALSE(engine.WaitForRunEnd(200));
    EXPECT_TRUE(engine.IsBusy());
    engine.Shutdown();
    EXPECT_EQ(engine.LastOutcome(), RunOutcome::kClosed);
    EXPECT_TRUE(m_window.Errors().empty());
}

}  // namespace
