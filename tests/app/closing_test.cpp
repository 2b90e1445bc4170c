// Closing the window at every stage of a run: the run ends quietly, no error box shows, and
// the window goes away at once even though every wait of the run is an hour long.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "app/tarn_updator_dlg.h"
#include "resources/dialog_templates.h"
#include "sim/virtual_sim_unit.h"
#include "tests/app/window_driver.h"

namespace {

using namespace rxtest;

// Aborts the test program when the window has not gone within the deadline: a close that
// hangs would otherwise only show as the whole suite timing out.
class Watchdog {
  public:
    explicit Watchdog(const std::string& what) : m_what(what) {
        m_thread = std::thread([this] {
            std::unique_lock lock(m_mutex);
            if (!m_done.wait_for(lock, kDeadline, [this] { return m_stopped; })) {
                std::fprintf(stderr, "closing the window hung: %s\n", m_what.c_str());
                std::abort();
            }
        });
    }
    ~Watchdog() {
        {
            std::lock_guard lock(m_mutex);
            m_stopped = true;
        }
        m_done.notify_all();
        m_thread.join();
    }

  private:
    std::string m_what;
    std::mutex m_mutex;
    std::condition_variable m_done;
    bool m_stopped = false;
    std::thread m_thread;
};

enum class How { kExit, kEscape, kCloseBox };

struct StageCase {
    const char* stage;
    const char* faults;
    // True once the run has reached the stage.
    std::function<bool(CDialog&, const sim::Record&)> reached;
    How how;
    // A failure box that is up when the window closes.
    bool boxUp = false;
};

void Close(CDialog& dialog, How how) {
    switch (how) {
        case How::kExit:
            Click(dialog, IDCANCEL);
            break;
        case How::kEscape:
            QTest::keyClick(dialog.GetSafeHwnd(), Qt::Key_Escape);
            break;
        case How::kCloseBox:
            dialog.GetSafeHwnd()->close();
            break;
    }
}

class ClosingTest : public AppFixture, public ::testing::WithParamInterface<StageCase> {};

TEST_P(ClosingTest, EndsTheRunQuietlyAndTheWindowAtOnce) {
    const StageCase& c = GetParam();
    StartApp();
    sim::Options options;
    std::string error;
    ASSERT_TRUE(sim::ParseFaults(c.faults, &options.faults, &error)) << error;
    sim::CVirtualSimUnit unit(sim::kDefaultDeviceName, options);
    auto dialog = std::make_unique<CTarnUpdatorDlg>(nullptr, EndlessTimings());
    std::unique_ptr<Watchdog> watchdog;
    // A box runs a loop of its own above the script, so the window is closed from inside it.
    BoxAnswerer boxes([&](const SeenBox&) {
        if (c.boxUp) {
            watchdog = std::make_unique<Watchdog>(c.stage);
            Close(*dialog, c.how);
        }
    });
    boxes.Hold(c.boxUp);
    bool reached = false;

    RunModal(*dialog, [&] {
        Click(*dialog, IDOK);
        reached = WaitUntil([&] { return c.reached(*dialog, unit.Unit().GetRecord()); });
        if (!c.boxUp) {
            watchdog = std::make_unique<Watchdog>(c.stage);
            Close(*dialog, c.how);
        }
    });
    dialog.reset();
    watchdog.reset();

    EXPECT_TRUE(reached) << "the run never reached " << c.stage;
    EXPECT_EQ(boxes.Seen().size(), c.boxUp ? 1u : 0u);
    EXPECT_EQ(OpenBox(), nullptr);
}

bool Step(CDialog& dialog, const char* text) {
    return Text(dialog, rx::IDC_STEP) == text;
}

INSTANTIATE_TEST_SUITE_P(
    Stages, ClosingTest,
    ::testing::Values(StageCase{"right after Execute", "",
                                [](CDialog&, const sim::Record&) { return true; }, How::kExit},
                      StageCase{"identity wait", "silent=identity",
                                [](CDialog&, const sim::Record& r) {
                                    return r.Received(sim::Kind::kIdentityRequest) == 1;
                                },
                                How::kCloseBox},
                      StageCase{"Begin Update wait", "silent=begin",
                                [](CDialog& d, const sim::Record&) {
                                    return Text(d, rx::IDC_STATUS) == "Erasing Flash memory.";
                                },
                                How::kEscape},
                      StageCase{"erase wait", "silent=erase:1",
                                [](CDialog& d, const sim::Record& r) {
                                    return Step(d, "2/7") && r.eraseRows.size() == 2;
                                },
                                How::kExit},
                      StageCase{"write wait", "silent=write:5",
                                [](CDialog& d, const sim::Record& r) {
                                    return Step(d, "3/7") && r.blocks.size() == 6;
                                },
                                How::kCloseBox},
                      StageCase{"End Update wait", "silent=end",
                                [](CDialog&, const sim::Record& r) {
                                    return r.Received(sim::Kind::kEndUpdate) == 1;
                                },
                                How::kEscape},
                      StageCase{"completed", "",
                                [](CDialog& d, const sim::Record&) {
                                    return Text(d, rx::IDC_STATUS) == "Version update completed.";
                                },
                                How::kExit},
                      StageCase{"failure box up", "not-update-mode",
                                [](CDialog& d, const sim::Record&) {
                                    return !d.GetSafeHwnd()->isVisible();
                                },
                                How::kCloseBox, true}),
    [](const auto& info) {
        std::string name;
        for (char ch : std::string(info.param.stage)) {
            name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
        }
        return name;
    });

}  // namespace
