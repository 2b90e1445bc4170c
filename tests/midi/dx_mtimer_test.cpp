#include "midi/dx_mtimer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "tests/support/fake_mmsystem.h"

namespace {

using rxtest::FakeMmSystem;
using rxtest::Fn;
using rxtest::ScopedMmSystem;
using testing::ElementsAre;

std::uintptr_t Addr(void (*proc)(UINT, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR)) {
    return reinterpret_cast<std::uintptr_t>(reinterpret_cast<void*>(proc));
}

class CountingTimer : public CDxMTimer {
  public:
    ~CountingTimer() override { Stop(); }
    void OnTick() override { ++ticks; }
    int ticks = 0;
};

struct Context {
    int ticks = 0;
};

void CALLBACK CountTick(UINT, UINT, DWORD_PTR context, DWORD_PTR, DWORD_PTR) {
    ++reinterpret_cast<Context*>(context)->ticks;
}

class DxMTimerTest : public testing::Test {
  protected:
    DxMTimerTest() { fake.SetTimerCaps(2, 500); }

    FakeMmSystem fake;
    ScopedMmSystem installed{fake};
};

TEST_F(DxMTimerTest, CreationReadsTheCapabilitiesOnly) {
    CDxMTimer timer;
    EXPECT_THAT(fake.Sequence(), ElementsAre(Fn::timeGetDevCaps));
    EXPECT_EQ(fake.LastArgs(Fn::timeGetDevCaps)[1], 8u);
    EXPECT_EQ(timer.EventId(), 0u);
}

TEST_F(DxMTimerTest, StartRaisesTheResolutionThenCreatesAPeriodicEvent) {
    CDxMTimer timer;
    Context context;
    fake.ClearCalls();

    const UINT id = timer.Start(1, &CountTick, reinterpret_cast<DWORD_PTR>(&context));

    ASSERT_NE(id, 0u);
    EXPECT_EQ(timer.EventId(), id);
    EXPECT_THAT(fake.Sequence(), ElementsAre(Fn::timeBeginPeriod, Fn::timeSetEvent));
    EXPECT_THAT(fake.LastArgs(Fn::timeBeginPeriod), ElementsAre(2));
    EXPECT_THAT(
        fake.LastArgs(Fn::timeSetEvent),
        ElementsAre(1, 2, Addr(&CountTick), reinterpret_cast<DWORD_PTR>(&context), TIME_PERIODIC));
    ASSERT_TRUE(fake.FireTimer(id));
    ASSERT_TRUE(fake.FireTimer(id));
    EXPECT_EQ(context.ticks, 2);
}

TEST_F(DxMTimerTest, StartWithoutACallbackTicksOnTick) {
    CountingTimer timer;
    const UINT id = timer.Start(5, nullptr, 0);

    EXPECT_THAT(fake.LastArgs(Fn::timeSetEvent),
                ElementsAre(5, 2, Addr(&CDxMTimer::DefaultTimerProc),
                            reinterpret_cast<DWORD_PTR>(&timer), TIME_PERIODIC));
    ASSERT_TRUE(fake.FireTimer(id));
    EXPECT_EQ(timer.ticks, 1);
}

TEST_F(DxMTimerTest, StartOnARunningTimerReplacesItsEvent) {
    CDxMTimer timer;
    Context context;
    const UINT first = timer.Start(1, &CountTick, reinterpret_cast<DWORD_PTR>(&context));
    fake.ClearCalls();

    const UINT second = timer.Start(1, &CountTick, reinterpret_cast<DWORD_PTR>(&context));

    EXPECT_THAT(fake.Sequence(), ElementsAre(Fn::timeKillEvent, Fn::timeEndPeriod,
                                             Fn::timeBeginPeriod, Fn::timeSetEvent));
    EXPECT_THAT(fake.Calls()[0].args, ElementsAre(first));
    EXPECT_EQ(fake.LiveEvents(), 1);
    EXPECT_EQ(fake.PeriodRequestsHeld(), 1);
    EXPECT_FALSE(fake.FireTimer(first));
    EXPECT_TRUE(fake.FireTimer(second));
}

TEST_F(DxMTimerTest, StopKillsTheEventThenReleasesTheResolution) {
    CDxMTimer timer;
    const UINT id = timer.Start(1, &CountTick, 0);
    fake.ClearCalls();

    EXPECT_EQ(timer.Stop(), 1);

    EXPECT_THAT(fake.Sequence(), ElementsAre(Fn::timeKillEvent, Fn::timeEndPeriod));
    EXPECT_THAT(fake.Calls()[0].args, ElementsAre(id));
    EXPECT_THAT(fake.Calls()[1].args, ElementsAre(2));
    EXPECT_EQ(timer.EventId(), 0u);
    EXPECT_EQ(fake.LiveEvents(), 0);
}

TEST_F(DxMTimerTest, StopOnAnIdleTimerMakesNoPlatformCall) {
    CDxMTimer timer;
    fake.ClearCalls();
    EXPECT_EQ(timer.Stop(), 1);
    EXPECT_TRUE(fake.Calls().empty());
}

TEST_F(DxMTimerTest, RefusedEventLeavesTheTimerIdleUntilDestructionReleasesTheRequest) {
    fake.Fail(Fn::timeSetEvent);
    auto timer = std::make_unique<CDxMTimer>();

    EXPECT_EQ(timer->Start(1, &CountTick, 0), 0u);
    EXPECT_EQ(timer->EventId(), 0u);
    EXPECT_EQ(fake.PeriodRequestsHeld(), 1);
    fake.ClearCalls();

    timer.reset();

    EXPECT_THAT(fake.Sequence(), ElementsAre(Fn::timeEndPeriod));
    EXPECT_EQ(fake.PeriodRequestsHeld(), 0);
}

TEST_F(DxMTimerTest, WithoutCapabilitiesTheResolutionIsOneMillisecond) {
    fake.Fail(Fn::timeGetDevCaps);
    CDxMTimer timer;
    const UINT id = timer.Start(1, &CountTick, 0);
    EXPECT_NE(id, 0u);
    EXPECT_THAT(fake.LastArgs(Fn::timeBeginPeriod), ElementsAre(1));
    EXPECT_EQ(fake.LastArgs(Fn::timeSetEvent)[1], 1u);
}

struct Lifecycle {
    const char* name;
    std::function<void(FakeMmSystem&, CDxMTimer&)> run;
};

class DxMTimerBalance : public DxMTimerTest, public testing::WithParamInterface<Lifecycle> {};

TEST_P(DxMTimerBalance, LeavesNoResolutionRequestHeld) {
    {
        CDxMTimer timer;
        GetParam().run(fake, timer);
    }
    EXPECT_EQ(fake.PeriodRequestsHeld(), 0);
    EXPECT_EQ(fake.UnmatchedPeriodEnds(), 0);
    EXPECT_EQ(fake.LiveEvents(), 0);
}

INSTANTIATE_TEST_SUITE_P(Lifecycles, DxMTimerBalance,
                         testing::Values(Lifecycle{"StartStop",
                                                   [](FakeMmSystem&, CDxMTimer& t) {
                                                       t.Start(1, &CountTick, 0);
                                                       t.Stop();
                                                   }},
                                         Lifecycle{"StartThenDestroy",
                                                   [](FakeMmSystem&, CDxMTimer& t) {
                                                       t.Start(1, &CountTick, 0);
                                                   }},
                                         Lifecycle{"StartStopStartStopStop",
                                                   [](FakeMmSystem&, CDxMTimer& t) {
                                                       t.Start(1, &CountTick, 0);
                                                       t.Stop();
                                                       t.Start(1, &CountTick, 0);
                                                       t.Stop();
                                                       t.Stop();
                                                   }},
                                         Lifecycle{"RestartTwice",
                                                   [](FakeMmSystem&, CDxMTimer& t) {
                                                       t.Start(1, &CountTick, 0);
                                                       t.Start(1, &CountTick, 0);
                                                       t.Start(1, &CountTick, 0);
                                                   }},
                                         Lifecycle{"RefusedEventThenStop",
                                                   [](FakeMmSystem& f, CDxMTimer& t) {
                                                       f.Fail(Fn::timeSetEvent);
                                                       t.Start(1, &CountTick, 0);
                                                       t.Stop();
                                                   }},
                                         Lifecycle{"RefusedEventThenStarted",
                                                   [](FakeMmSystem& f, CDxMTimer& t) {
                                                       f.FailCall(Fn::timeSetEvent, 1);
                                                       t.Start(1, &CountTick, 0);
                                                       t.Start(1, &CountTick, 0);
                                                   }},
                                         Lifecycle{"RefusedResolution",
                                                   [](FakeMmSystem& f, CDxMTimer& t) {
                                                       f.Fail(Fn::timeBeginPeriod);
                                                       t.Start(1, &CountTick, 0);
                                                       t.Stop();
                                                   }},
                                         Lifecycle{"RefusedResolutionAndEvent",
                                                   [](FakeMmSystem& f, CDxMTimer& t) {
                                                       f.Fail(Fn::timeBeginPeriod);
                                                       f.Fail(Fn::timeSetEvent);
                                                       t.Start(1, &CountTick, 0);
                                                   }}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
