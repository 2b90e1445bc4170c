// CDxMTimer over the platform's real timer threads.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "midi/dx_mtimer.h"
#include "platform/timer.h"

namespace {

class TickCounter : public CDxMTimer {
  public:
    ~TickCounter() override { Stop(); }

    void OnTick() override {
        if (inTick.exchange(true)) {
            ++overlaps;
        }
        ++ticks;
        inTick = false;
    }

    std::atomic<int> ticks{0};
    std::atomic<bool> inTick{false};
    std::atomic<int> overlaps{0};
};

void CALLBACK CountTick(UINT, UINT, DWORD_PTR context, DWORD_PTR, DWORD_PTR) {
    ++*reinterpret_cast<std::atomic<int>*>(context);
}

bool WaitFor(const std::atomic<int>& counter, int atLeast) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (counter.load() < atLeast) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

TEST(DxMTimerTicking, OnTickRunsUntilStopAndNeverAfter) {
    const int requestsBefore = TimerPeriodRequestsHeld();
    TickCounter timer;
    ASSERT_NE(timer.Start(1, nullptr, 0), 0u);
    ASSERT_TRUE(WaitFor(timer.ticks, 20));

    timer.Stop();
    const int atStop = timer.ticks.load();
    EXPECT_FALSE(timer.inTick.load());

    // Let another timer tick for a while: the stopped one stays silent meanwhile.
    TickCounter witness;
    ASSERT_NE(witness.Start(1, nullptr, 0), 0u);
    ASSERT_TRUE(WaitFor(witness.ticks, 20));
    witness.Stop();

    EXPECT_EQ(timer.ticks.load(), atStop);
    EXPECT_EQ(timer.overlaps.load(), 0);
    EXPECT_EQ(TimerPeriodRequestsHeld(), requestsBefore);
}

TEST(DxMTimerTicking, RestartMovesTheTicksToTheNewContext) {
    const int requestsBefore = TimerPeriodRequestsHeld();
    std::atomic<int> first{0};
    std::atomic<int> second{0};
    {
        CDxMTimer timer;
        ASSERT_NE(timer.Start(1, &CountTick, reinterpret_cast<DWORD_PTR>(&first)), 0u);
        ASSERT_TRUE(WaitFor(first, 5));

        ASSERT_NE(timer.Start(1, &CountTick, reinterpret_cast<DWORD_PTR>(&second)), 0u);
        const int firstAtRestart = first.load();
        ASSERT_TRUE(WaitFor(second, 20));
        EXPECT_EQ(first.load(), firstAtRestart);
        EXPECT_EQ(TimerPeriodRequestsHeld(), requestsBefore + 1);
    }
    EXPECT_EQ(TimerPeriodRequestsHeld(), requestsBefore);
}

}  // namespace
