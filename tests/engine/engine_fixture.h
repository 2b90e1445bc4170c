// Whole updates against the simulated unit on a virtual device pair, with the engine's waits
// shortened so that failures come quickly.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "engine/updater_engine.h"
#include "fake_window.h"
#include "log_dir.h"
#include "protocol/messages.h"
#include "resources/embedded_resources.h"
#include "sim/virtual_sim_unit.h"

inline EngineTimings FastTimings() {
    EngineTimings t;
    t.identityTimeoutMs = 1500;
    t.eraseTimeoutMs = 1500;
    t.writeTimeoutMs = 1000;  // as in production: a loaded machine must not cause resends
    t.endTimeoutMs = 1500;
    t.afterBeginPauseMs = 5;
    t.retryPauseMs = 5;
    return t;
}

// Device number of the device called `name`, -1 when there is none.
inline int FindDevice(CUpdaterEngine& engine, bool input, const std::string& name) {
    const int count = input ? engine.InPort().GetDeviceCount() : engine.OutPort().GetDeviceCount();
    for (int i = 0; i < count; ++i) {
        char buffer[256] = {};
        if (input) {
            engine.InPort().GetDeviceName(i, buffer);
        } else {
            engine.OutPort().GetDeviceName(i, buffer);
        }
        if (name == buffer) {
            return i;
        }
    }
    return -1;
}

class EngineTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { setenv("RX300_MIDI", "virtual", 1); }
    // The model byte and the stored Identity Reply are program-wide: start each test afresh.
    void SetUp() override {
        rx::g_modelByte.store(rx::kDefaultModelByte);
        rx::g_identityReplyImage[6] = 0x00;
    }

    // Starts a run against a simulated unit with `faults`; the unit is created first so that
    // the engine finds its devices.
    void StartRun(const std::string& faults, EngineTimings timings = FastTimings()) {
        sim::Options options;
        std::string error;
        ASSERT_TRUE(sim::ParseFaults(faults, &options.faults, &error)) << error;
        m_sim = std::make_unique<sim::CVirtualSimUnit>("TAVO RX Series", std::move(options));
        CreateEngine(timings);
        ASSERT_EQ(Execute("TAVO RX Series"), rx::RunOutcome::kStarted);
    }

    void CreateEngine(EngineTimings timings = FastTimings()) {
        m_engine = std::make_unique<CUpdaterEngine>(m_window, timings);
        m_engine->Initialise();
    }

    rx::RunOutcome Execute(const std::string& name) {
        return m_engine->Execute(FindDevice(*m_engine, true, name),
                                 FindDevice(*m_engine, false, name));
    }

    rx::RunOutcome Finish() {
        EXPECT_TRUE(m_engine->WaitForRunEnd(120000)) << "the run did not end";
        return m_engine->LastOutcome();
    }

    sim::CSimUnit& Unit() { return m_sim->Unit(); }

    bool RegionWritten(int region) {
        const auto& r = sim::kRegions[region];
        return Unit().CheckRegion(r, rx::EmbeddedImage(r.imageId)).equal;
    }

    void TearDown() override {
        if (m_engine) {
            m_engine->Shutdown();
        }
        m_engine.reset();
        m_sim.reset();
    }

    ScopedLogDir m_log;
    FakeWindow m_window;
    std::unique_ptr<sim::CVirtualSimUnit> m_sim;
    std::unique_ptr<CUpdaterEngine> m_engine;
};
