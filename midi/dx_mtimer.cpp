#include "midi/dx_mtimer.h"

CDxMTimer::CDxMTimer() {
    // Without capabilities the finest period we can rely on is the 1 ms the updater ticks at.
    if (timeGetDevCaps(&m_caps, sizeof(m_caps)) != TIMERR_NOERROR || m_caps.wPeriodMin == 0) {
        m_caps = TIMECAPS{1, 1000000};
    }
}

CDxMTimer::~CDxMTimer() {
    Stop();
}

UINT CDxMTimer::Start(UINT period, LPTIMECALLBACK callback, DWORD_PTR context) {
    Stop();
    const bool periodGranted = timeBeginPeriod(m_caps.wPeriodMin) == TIMERR_NOERROR;
    if (callback == nullptr) {
        callback = &CDxMTimer::DefaultTimerProc;
        context = reinterpret_cast<DWORD_PTR>(this);
    }
    m_eventId = timeSetEvent(period, m_caps.wPeriodMin, callback, context, TIME_PERIODIC);
    m_eventPeriod = periodGranted && m_eventId != 0;
    m_orphanPeriod = periodGranted && m_eventId == 0;
    return m_eventId;
}

int CDxMTimer::Stop() {
    if (m_eventId != 0) {
        timeKillEvent(m_eventId);
    }
    if (m_eventPeriod || m_orphanPeriod) {
        timeEndPeriod(m_caps.wPeriodMin);
    }
    m_eventId = 0;
    m_eventPeriod = false;
    m_orphanPeriod = false;
    return 1;
}

void CALLBACK CDxMTimer::DefaultTimerProc(UINT, UINT, DWORD_PTR context, DWORD_PTR, DWORD_PTR) {
    reinterpret_cast<CDxMTimer*>(context)->OnTick();
}
