#include "engine/updater_engine.h"

#include <chrono>
#include <cstdio>

#include "engine/diagnostic_log.h"
#include "resources/embedded_resources.h"
#include "resources/string_table.h"

using rx::RunOutcome;

CUpdaterEngine::CUpdaterEngine(IWindowOps& window, EngineTimings timings)
    : m_window(window),
      m_timings(timings),
      m_plan(rx::kFlashPlan),
      m_replyEvent(std::make_unique<CEvent>()) {
    rx::RegisterEmbeddedResources();
}

CUpdaterEngine::~CUpdaterEngine() {
    Shutdown();
}

void CUpdaterEngine::Initialise() {
    m_timer.Start(1, &CUpdaterEngine::TickProc, DWORD_PTR(this));
}

void CALLBACK CUpdaterEngine::TickProc(UINT, UINT, DWORD_PTR context, DWORD_PTR, DWORD_PTR) {
    reinterpret_cast<CUpdaterEngine*>(context)->PollReplies();
}

RunOutcome CUpdaterEngine::Execute(int inDevice, int outDevice) {
    if (Closing()) {
        return RunOutcome::kClosed;
    }
    if (m_busy.load() == 1) {
        ErrorBox(rx::IDS_IN_PROGRESS);
        return RunOutcome::kInProgress;
    }
    m_sender.ClosePort();
    if (!m_sender.OpenPort(outDevice)) {
        rx::WriteLog(rx::kLogMidiOutError);
        ErrorBox(rx::IDS_CANT_OPEN_MIDI_OUT);
        return RunOutcome::kOutputOpenFailed;
    }
    m_in.Close();
    m_in.m_deviceIndex = inDevice;
    if (!m_in.Start()) {
        rx::WriteLog(rx::kLogMidiOutError);
        ErrorBox(rx::IDS_CANT_OPEN_MIDI_IN);
        return RunOutcome::kInputOpenFailed;
    }

    m_window.DisableControls();
    m_busy.store(1);
    m_replyEvent->ResetEvent();
    {
        std::lock_guard lock(m_replyMutex);
        m_pending.clear();
        m_replyKind = ReplyKind::kNone;
    }
    m_outcome.store(RunOutcome::kStarted);

    std::lock_guard lock(m_runMutex);
    ReapWorker();
    ++m_runsActive;
    m_worker = std::thread([this] {
        UpdateRun();
        std::lock_guard done(m_runMutex);
        --m_runsActive;
        m_runCv.notify_all();
    });
    return RunOutcome::kStarted;
}

// Called with m_runMutex held. Finished workers are joined at once; one that is still on its
// last window operation (a completed run disables Execute after it restored the controls) is
// joined at shut-down, so Execute never waits on the window.
void CUpdaterEngine::ReapWorker() {
    if (m_worker.joinable()) {
        m_retired.push_back(std::move(m_worker));
    }
    if (m_runsActive != 0) {
        return;
    }
    for (auto& worker : m_retired) {
        worker.join();
    }
    m_retired.clear();
}

bool CUpdaterEngine::WaitForRunEnd(DWORD timeoutMs) {
    std::unique_lock lock(m_runMutex);
    auto ended = [this] { return m_runsActive == 0; };
    if (timeoutMs == INFINITE) {
        m_runCv.wait(lock, ended);
        return true;
    }
    return m_runCv.wait_for(lock, std::chrono::milliseconds(timeoutMs), ended);
}

void CUpdaterEngine::Shutdown() {
    {
        std::lock_guard lock(m_runMutex);
        if (m_shutDown) {
            return;
        }
        m_shutDown = true;
        m_closing.store(true);
    }
    m_runCv.notify_all();
    m_window.Closing();

    m_sender.ClosePort();
    m_in.Close();
    {
        std::lock_guard lock(m_replyMutex);
        m_resultCode = kResultClosing;
    }
    m_replyEvent->SetEvent();
    m_timer.Stop();

    std::vector<std::thread> workers;
    {
        std::lock_guard lock(m_runMutex);
        if (m_worker.joinable()) {
            m_retired.push_back(std::move(m_worker));
        }
        workers.swap(m_retired);
    }
    for (auto& worker : workers) {
        worker.join();
    }
}

std::uint32_t CUpdaterEngine::BeginExchange() {
    std::lock_guard lock(m_replyMutex);
    return ++m_exchanges;
}

void CUpdaterEngine::NoteSend(std::uint32_t exchange) {
    std::lock_guard lock(m_replyMutex);
    m_pending.push_back(exchange);
}

void CUpdaterEngine::AcceptReply(ReplyKind kind, std::int32_t code, std::uint8_t family) {
    {
        std::lock_guard lock(m_replyMutex);
        if (m_pending.empty()) {
            return;  // nothing of ours is waiting for an answer
        }
        m_replyExchange = m_pending.front();
        m_pending.pop_front();
        ++m_replySerial;
        m_resultCode = code;
        m_replyKind = kind;
        if (kind == ReplyKind::kIdentityReply) {
            m_identityFamily = family;
        }
    }
    m_replyEvent->SetEvent();
}

CUpdaterEngine::Reply CUpdaterEngine::WaitReply(std::uint32_t exchange, DWORD timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (Closing()) {
            return {true, kResultClosing, ReplyKind::kNone, 0};
        }
        DWORD wait = INFINITE;
        if (timeoutMs != INFINITE) {
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            wait = left.count() > 0 ? static_cast<DWORD>(left.count()) : 0;
        }
        const bool signalled = m_replyEvent->Lock(wait) != 0;
        if (Closing()) {
            return {true, kResultClosing, ReplyKind::kNone, 0};
        }
        if (!signalled) {
            return {false, 0, ReplyKind::kNone, 0};
        }
        std::lock_guard lock(m_replyMutex);
        if (m_replySerial != m_lastConsumed) {
            m_lastConsumed = m_replySerial;
            if (m_replyExchange == exchange) {
                return {true, m_resultCode, m_replyKind, m_identityFamily};
            }
        }
        // A late answer to an earlier exchange: keep waiting for our own.
    }
}

void CUpdaterEngine::Settle(std::uint32_t exchange, DWORD graceMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(graceMs);
    for (;;) {
        {
            std::lock_guard lock(m_replyMutex);
            m_lastConsumed = m_replySerial;
            if (m_pending.empty() || m_pending.front() != exchange) {
                return;
            }
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (Closing() || left.count() <= 0 ||
            !m_replyEvent->Lock(static_cast<DWORD>(left.count()))) {
            break;
        }
    }
    std::lock_guard lock(m_replyMutex);
    m_lastConsumed = m_replySerial;
    while (!m_pending.empty() && m_pending.front() == exchange) {
        m_pending.pop_front();
    }
}

void CUpdaterEngine::RestoreControls() {
    if (Closing()) {
        return;
    }
    m_window.RestoreControls();
    m_busy.store(0);
}

void CUpdaterEngine::EnableExecute(bool enable) {
    if (!Closing()) {
        m_window.EnableExecute(enable);
    }
}

void CUpdaterEngine::SetStatus(const std::string& text) {
    if (!Closing()) {
        m_window.SetStatusText(text);
    }
}

void CUpdaterEngine::SetStep(int row) {
    if (!Closing()) {
        char text[16];
        std::snprintf(text, sizeof text, "%d/%d", row, rx::kPlanRows);
        m_window.SetStepText(text);
    }
}

void CUpdaterEngine::SetProgressRange(std::int32_t lower, std::int32_t upper) {
    if (!Closing()) {
        m_window.SetProgressRange(lower, upper);
    }
}

void CUpdaterEngine::SetProgressPos(std::int32_t position) {
    if (!Closing()) {
        m_window.SetProgressPos(position);
    }
}

void CUpdaterEngine::ErrorBox(unsigned stringId) {
    if (!Closing()) {
        m_window.ShowErrorBox(rx::LoadStringText(stringId));
    }
}

void CUpdaterEngine::Fail(RunOutcome outcome, int logIndex, unsigned stringId) {
    if (Closing()) {
        EndQuietly();
        return;
    }
    m_outcome.store(outcome);
    if (logIndex >= 0) {
        rx::WriteLog(logIndex);
    }
    ErrorBox(stringId);
    RestoreControls();
}

void CUpdaterEngine::EndQuietly() {
    m_outcome.store(RunOutcome::kClosed);
}

bool CUpdaterEngine::Pause(DWORD ms) {
    std::unique_lock lock(m_runMutex);
    return !m_runCv.wait_for(lock, std::chrono::milliseconds(ms), [this] { return Closing(); });
}
