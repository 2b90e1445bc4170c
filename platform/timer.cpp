#include "platform/timer.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace platform::timer {

namespace {

using Clock = std::chrono::steady_clock;

class Event : public std::enable_shared_from_this<Event> {
  public:
    Event(UINT id, UINT period, LPTIMECALLBACK callback, DWORD_PTR user)
        : m_id(id),
          m_period(std::chrono::milliseconds(period)),
          m_callback(callback),
          m_user(user) {}

    // The thread holds the event, so that one killed from inside its own tick lives on until
    // that tick has returned.
    void Start() {
        std::lock_guard lock(m_mutex);
        m_thread = std::thread([self = shared_from_this()] { self->Run(); });
    }

    // No tick starts once this returns; one running on another thread has finished. From
    // inside a tick the thread is left to end by itself after that tick.
    void Kill() {
        {
            std::lock_guard lock(m_mutex);
            m_killed = true;
        }
        m_wake.notify_all();
        if (std::this_thread::get_id() == m_thread.get_id()) {
            m_thread.detach();
        } else {
            m_thread.join();
        }
    }

  private:
    void Run() {
        auto deadline = Clock::now() + m_period;
        std::unique_lock lock(m_mutex);
        for (;;) {
            if (m_wake.wait_until(lock, deadline, [this] { return m_killed; })) {
                return;
            }
            lock.unlock();
            m_callback(m_id, 0, m_user, 0, 0);
            lock.lock();
            deadline = NextDeadline(deadline, Clock::now(), m_period);
        }
    }

    const UINT m_id;
    const Clock::duration m_period;
    const LPTIMECALLBACK m_callback;
    const DWORD_PTR m_user;
    std::thread m_thread;

    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_killed = false;
};

// The running events and the resolution requests. Never destroyed: a timer may still be
// stopped during static destruction.
struct Timers {
    std::mutex mutex;
    UINT lastId = 0;
    std::map<UINT, std::shared_ptr<Event>> events;
    std::map<UINT, int> periodRequests;
};

Timers& State() {
    static auto* timers = new Timers;
    return *timers;
}

}  // namespace

Clock::time_point NextDeadline(Clock::time_point due, Clock::time_point now,
                               Clock::duration period) {
    const auto next = due + period;
    if (next > now) {
        return next;
    }
    return next + ((now - next) / period + 1) * period;
}

MMRESULT GetDevCaps(TIMECAPS* caps, UINT size) {
    if (caps == nullptr) {
        return TIMERR_NOCANDO;
    }
    if (size < sizeof(TIMECAPS)) {
        std::memset(caps, 0, size);
        return TIMERR_NOCANDO;
    }
    caps->wPeriodMin = kPeriodMin;
    caps->wPeriodMax = kPeriodMax;
    return TIMERR_NOERROR;
}

MMRESULT BeginPeriod(UINT period) {
    if (period < kPeriodMin || period > kPeriodMax) {
        return TIMERR_NOCANDO;
    }
    auto& timers = State();
    std::lock_guard lock(timers.mutex);
    ++timers.periodRequests[period];
    return TIMERR_NOERROR;
}

MMRESULT EndPeriod(UINT period) {
    auto& timers = State();
    std::lock_guard lock(timers.mutex);
    auto it = timers.periodRequests.find(period);
    if (it == timers.periodRequests.end()) {
        return TIMERR_NOCANDO;
    }
    if (--it->second == 0) {
        timers.periodRequests.erase(it);
    }
    return TIMERR_NOERROR;
}

UINT SetEvent(UINT delay, UINT resolution, LPTIMECALLBACK callback, DWORD_PTR user, UINT flags) {
    // Steady-clock waits are as fine as this machine gets; the resolution asks for nothing more.
    (void)resolution;
    if (delay < kPeriodMin || delay > kPeriodMax || callback == nullptr || flags != TIME_PERIODIC) {
        return 0;
    }
    auto& timers = State();
    std::lock_guard lock(timers.mutex);
    UINT id = timers.lastId;
    do {
        ++id;
    } while (id == 0 || timers.events.count(id) != 0);
    auto event = std::make_shared<Event>(id, delay, callback, user);
    try {
        event->Start();
    } catch (...) {
        return 0;
    }
    timers.lastId = id;
    timers.events.emplace(id, std::move(event));
    return id;
}

MMRESULT KillEvent(UINT id) {
    std::shared_ptr<Event> event;
    {
        auto& timers = State();
        std::lock_guard lock(timers.mutex);
        auto it = timers.events.find(id);
        if (it == timers.events.end()) {
            return MMSYSERR_INVALPARAM;
        }
        event = std::move(it->second);
        timers.events.erase(it);
    }
    event->Kill();
    return TIMERR_NOERROR;
}

}  // namespace platform::timer

int TimerPeriodRequestsHeld() {
    auto& timers = platform::timer::State();
    std::lock_guard lock(timers.mutex);
    int held = 0;
    for (const auto& [period, count] : timers.periodRequests) {
        held += count;
    }
    return held;
}
