#include "platform/qt/ui_calls.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <condition_variable>
#include <mutex>

// Shared with the queued calls, which may still be in the UI thread's queue when the owner
// has gone: they find it closed and do nothing.
struct CUiCalls::State {
    std::mutex mutex;  // the closed flag and the done flags of the waiting calls
    std::condition_variable changed;
    bool closed = false;
};

CUiCalls::CUiCalls() : m_state(std::make_shared<State>()) {}

CUiCalls::~CUiCalls() {
    Close();
}

bool CUiCalls::OnUiThread() {
    auto* app = QCoreApplication::instance();
    return app != nullptr && QThread::currentThread() == app->thread();
}

bool CUiCalls::IsClosed() const {
    std::lock_guard lock(m_state->mutex);
    return m_state->closed;
}

void CUiCalls::Close() {
    {
        std::lock_guard lock(m_state->mutex);
        m_state->closed = true;
    }
    m_state->changed.notify_all();
}

void CUiCalls::Run(std::function<void()> call) {
    if (OnUiThread()) {
        if (!IsClosed()) {
            call();
        }
        return;
    }
    auto* app = QCoreApplication::instance();
    if (app == nullptr) {
        return;
    }
    auto done = std::make_shared<bool>(false);
    {
        std::lock_guard lock(m_state->mutex);
        if (m_state->closed) {
            return;
        }
    }
    auto state = m_state;
    QMetaObject::invokeMethod(
        app,
        [state, done, call = std::move(call)] {
            // What the calls touch is destroyed on this thread only, and after Close(): a call
            // that finds the state open runs to its end with everything still there.
            bool closed;
            {
                std::lock_guard lock(state->mutex);
                closed = state->closed;
            }
            if (!closed) {
                call();
            }
            {
                std::lock_guard lock(state->mutex);
                *done = true;
            }
            state->changed.notify_all();
        },
        Qt::QueuedConnection);

    std::unique_lock lock(m_state->mutex);
    m_state->changed.wait(lock, [&] { return *done || m_state->closed; });
}
