// CEvent: an event object as the update run and its dispatcher use it. Auto-reset by default:
// one signal releases one wait and is consumed by it; signals before a wait do not add up.
#pragma once

#include <condition_variable>
#include <mutex>

#include "platform/mmsystem.h"

constexpr DWORD INFINITE = 0xFFFFFFFF;

class CEvent {
  public:
    explicit CEvent(BOOL initiallyOwn = 0, BOOL manualReset = 0);
    CEvent(const CEvent&) = delete;
    CEvent& operator=(const CEvent&) = delete;

    BOOL SetEvent();
    BOOL ResetEvent();
    // Waits at most `timeout` ms (INFINITE: no limit). Nonzero when the wait ended signalled.
    BOOL Lock(DWORD timeout = INFINITE);

  private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_signalled;
    bool m_manualReset;
};
