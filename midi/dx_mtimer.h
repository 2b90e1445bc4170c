// CDxMTimer: one periodic multimedia timer event with the timer resolution raised for as long
// as it runs. The updater ticks its reply dispatcher with it every millisecond.
#pragma once

#include "platform/mmsystem.h"

// A subclass that overrides OnTick must call Stop in its own destructor: a tick may otherwise
// reach an object that is half destroyed.
class CDxMTimer {
  public:
    CDxMTimer();
    virtual ~CDxMTimer();
    CDxMTimer(const CDxMTimer&) = delete;
    CDxMTimer& operator=(const CDxMTimer&) = delete;

    // The new event id, 0 when the platform refused to create the event.
    UINT Start(UINT period, LPTIMECALLBACK callback, DWORD_PTR context);
    int Stop();
    virtual void OnTick() {}

    static void CALLBACK DefaultTimerProc(UINT id, UINT message, DWORD_PTR context,
                                          DWORD_PTR param1, DWORD_PTR param2);

    UINT EventId() const { return m_eventId; }

  private:
    UINT m_eventId = 0;
    TIMECAPS m_caps{};
    // The running event holds a resolution request (the platform may refuse one).
    bool m_eventPeriod = false;
    // A resolution request whose event could not be created; released by the next Stop or
    // by destruction.
    bool m_orphanPeriod = false;
};
