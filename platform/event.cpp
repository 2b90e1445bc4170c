#include "platform/event.h"

#include <chrono>

CEvent::CEvent(BOOL initiallyOwn, BOOL manualReset)
    : m_signalled(initiallyOwn != 0), m_manualReset(manualReset != 0) {}

BOOL CEvent::SetEvent() {
    {
        std::lock_guard lock(m_mutex);
        m_signalled = true;
    }
    if (m_manualReset) {
        m_cv.notify_all();
    } else {
        m_cv.notify_one();
    }
    return 1;
}

BOOL CEvent::ResetEvent() {
    std::lock_guard lock(m_mutex);
    m_signalled = false;
    return 1;
}

BOOL CEvent::Lock(DWORD timeout) {
    std::unique_lock lock(m_mutex);
    auto ready = [this] { return m_signalled; };
    if (timeout == INFINITE) {
        m_cv.wait(lock, ready);
    } else if (!m_cv.wait_for(lock, std::chrono::milliseconds(timeout), ready)) {
        return 0;
    }
    if (!m_manualReset) {
        m_signalled = false;
    }
    return 1;
}
