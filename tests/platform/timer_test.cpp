#include "platform/timer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Counts ticks and lets a test wait for a number of them.
struct TickLog {
    std::mutex mutex;
    std::condition_variable ticked;
    int ticks = 0;
    std::atomic<bool> inside{false};
    std::atomic<bool> overlapped{false};
    std::atomic<bool> tickAfterKill{false};
    std::atomic<bool> killed{false};

    void Tick() {
        if (inside.exchange(true)) {
            overlapped = true;
        }
        if (killed) {
            tickAfterKill = true;
        }
        {
            std::lock_guard lock(mutex);
            ++ticks;
        }
        ticked.notify_all();
        inside = false;
    }

    bool WaitFor(int count) {
        std::unique_lock lock(mutex);
        return ticked.wait_for(lock, 10s, [&] { return ticks >= count; });
    }

    int Ticks() {
        std::lock_guard lock(mutex);
        return ticks;
    }

    static void CALLBACK Proc(UINT, UINT, DWORD_PTR user, DWORD_PTR, DWORD_PTR) {
        reinterpret_cast<TickLog*>(user)->Tick();
    }
};

// Waits until another event has ticked `count` times: time enough for a stray tick to show.
void LetAnotherTimerTick(int count) {
    TickLog witness;
    const UINT id =
        timeSetEvent(1, 1, &TickLog::Proc, reinterpret_cast<DWORD_PTR>(&witness), TIME_PERIODIC);
    ASSERT_NE(id, 0u);
    EXPECT_TRUE(witness.WaitFor(count));
    EXPECT_EQ(timeKillEvent(id), TIMERR_NOERROR);
}

TEST(Timer, PeriodicEventTicksWithoutOverlapEvenWhenTicksOverrun) {
    struct Slow : TickLog {
        static void CALLBACK Proc(UINT, UINT, DWORD_PTR user, DWORD_PTR, DWORD_PTR) {
            auto* self = reinterpret_cast<Slow*>(user);
            // Every fourth tick outlasts several periods.
            if (self->Ticks() % 4 == 0) {
                std::this_thread::sleep_for(3ms);
            }
            self->Tick();
        }
    } log;
    const UINT id =
        timeSetEvent(1, 1, &Slow::Proc, reinterpret_cast<DWORD_PTR>(&log), TIME_PERIODIC);
    ASSERT_NE(id, 0u);
    EXPECT_TRUE(log.WaitFor(40));
    EXPECT_EQ(timeKillEvent(id), TIMERR_NOERROR);
    EXPECT_FALSE(log.overlapped);
}

TEST(Timer, NoTickStartsOnceKillHasReturned) {
    TickLog log;
    const UINT id =
        timeSetEvent(1, 1, &TickLog::Proc, reinterpret_cast<DWORD_PTR>(&log), TIME_PERIODIC);
    ASSERT_NE(id, 0u);
    ASSERT_TRUE(log.WaitFor(3));
    ASSERT_EQ(timeKillEvent(id), TIMERR_NOERROR);
    log.killed = true;
    const int ticks = log.Ticks();
    LetAnotherTimerTick(20);
    EXPECT_FALSE(log.tickAfterKill);
    EXPECT_EQ(log.Ticks(), ticks);
    EXPECT_NE(timeKillEvent(id), TIMERR_NOERROR) << "an event is killed once";
}

TEST(Timer, KillWaitsForTheRunningTickToFinish) {
    struct Blocking {
        std::atomic<bool> entered{false};
        std::atomic<bool> killing{false};
        std::atomic<bool> finished{false};
        static void CALLBACK Proc(UINT, UINT, DWORD_PTR user, DWORD_PTR, DWORD_PTR) {
            auto* self = reinterpret_cast<Blocking*>(user);
            if (self->finished) {
                return;
            }
            self->entered = true;
            const auto deadline = Clock::now() + 10s;
            while (!self->killing && Clock::now() < deadline) {
                std::this_thread::yield();
            }
            // Stay inside well after the kill has begun; a kill that does not wait returns now.
            std::this_thread::sleep_for(20ms);
            self->finished = true;
        }
    } tick;
    const UINT id =
        timeSetEvent(1, 1, &Blocking::Proc, reinterpret_cast<DWORD_PTR>(&tick), TIME_PERIODIC);
    ASSERT_NE(id, 0u);
    const auto deadline = Clock::now() + 10s;
    while (!tick.entered && Clock::now() < deadline) {
        std::this_thread::yield();
    }
    ASSERT_TRUE(tick.entered);
    tick.killing = true;
    EXPECT_EQ(timeKillEvent(id), TIMERR_NOERROR);
    EXPECT_TRUE(tick.finished);
}

TEST(Timer, KillFromInsideTheTickEndsTheEventWithoutDeadlock) {
    struct SelfKilling : TickLog {
        std::atomic<UINT> id{0};
        std::atomic<MMRESULT> killResult{~0u};
        static void CALLBACK Proc(UINT timerId, UINT, DWORD_PTR user, DWORD_PTR, DWORD_PTR) {
            auto* self = reinterpret_cast<SelfKilling*>(user);
            self->Tick();
            if (self->Ticks() == 3) {
                self->killResult = timeKillEvent(timerId);
                self->killed = true;
            }
        }
    } log;
    const UINT id =
        timeSetEvent(1, 1, &SelfKilling::Proc, reinterpret_cast<DWORD_PTR>(&log), TIME_PERIODIC);
    ASSERT_NE(id, 0u);
    ASSERT_TRUE(log.WaitFor(3));
    LetAnotherTimerTick(20);
    EXPECT_EQ(log.killResult, TIMERR_NOERROR);
    EXPECT_EQ(log.Ticks(), 3);
    EXPECT_FALSE(log.tickAfterKill);
}

TEST(Timer, RefusedEventsGetNoId) {
    TickLog log;
    const auto user = reinterpret_cast<DWORD_PTR>(&log);
    struct Case {
        const char* what;
        UINT period;
        LPTIMECALLBACK callback;
        UINT flags;
    };
    const Case cases[] = {
        {"period 0", 0, &TickLog::Proc, TIME_PERIODIC},
        {"no callback", 1, nullptr, TIME_PERIODIC},
        {"unknown flags", 1, &TickLog::Proc, 0x8000},
        {"period above the maximum", platform::timer::kPeriodMax + 1, &TickLog::Proc,
         TIME_PERIODIC},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(timeSetEvent(c.period, 1, c.callback, user, c.flags), 0u);
    }
    EXPECT_NE(timeKillEvent(0), TIMERR_NOERROR);
}

TEST(Timer, PeriodRequestsAreCountedPerValue) {
    const int before = TimerPeriodRequestsHeld();
    EXPECT_EQ(timeBeginPeriod(1), TIMERR_NOERROR);
    EXPECT_EQ(timeBeginPeriod(1), TIMERR_NOERROR);
    EXPECT_EQ(timeBeginPeriod(5), TIMERR_NOERROR);
    EXPECT_EQ(TimerPeriodRequestsHeld(), before + 3);
    EXPECT_EQ(timeEndPeriod(5), TIMERR_NOERROR);
    EXPECT_EQ(timeEndPeriod(5), TIMERR_NOCANDO) << "5 was requested once";
    EXPECT_EQ(timeEndPeriod(1), TIMERR_NOERROR);
    EXPECT_EQ(timeEndPeriod(1), TIMERR_NOERROR);
    EXPECT_EQ(TimerPeriodRequestsHeld(), before);
    EXPECT_EQ(timeEndPeriod(7), TIMERR_NOCANDO);
    EXPECT_EQ(timeBeginPeriod(0), TIMERR_NOCANDO);
    EXPECT_EQ(TimerPeriodRequestsHeld(), before);
}

TEST(Timer, CapabilitiesNameTheFinestPeriod) {
    TIMECAPS caps{};
    ASSERT_EQ(timeGetDevCaps(&caps, sizeof caps), TIMERR_NOERROR);
    EXPECT_EQ(caps.wPeriodMin, 1u);
    EXPECT_EQ(caps.wPeriodMax, 1000000u);

    TIMECAPS shortCaps;
    std::memset(&shortCaps, 0xFF, sizeof shortCaps);
    EXPECT_NE(timeGetDevCaps(&shortCaps, 4), TIMERR_NOERROR);
    EXPECT_EQ(shortCaps.wPeriodMin, 0u) << "what the caller gave room for is zeroed";
}

TEST(Timer, AnOverrunTickIsNotMadeUpInABurst) {
    const Clock::time_point t0{};
    const auto ms = [](int n) { return std::chrono::milliseconds(n); };
    struct Case {
        int due, now, period, next;
    };
    const Case cases[] = {
        {10, 10, 1, 11},    // on time
        {10, 10, 5, 15},    //
        {10, 14, 5, 15},    // late but the next deadline is still ahead
        {10, 15, 5, 20},    // the next deadline is now: skip it
        {10, 27, 5, 30},    // overran three periods: next one on the same phase
        {10, 100, 1, 101},  //
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "due " << c.due << " now " << c.now);
        EXPECT_EQ(platform::timer::NextDeadline(t0 + ms(c.due), t0 + ms(c.now), ms(c.period)),
                  t0 + ms(c.next));
    }
}

}  // namespace
