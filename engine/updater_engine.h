// CUpdaterEngine: one firmware update at a time, without any GUI. It owns the MIDI ports, the
// 1 ms timer that runs the reply dispatcher, and the run state; a front end supplies the window
// operations it shows itself through and calls Execute and Shutdown.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

#include "engine/flash_plan.h"
#include "engine/run_outcome.h"
#include "engine/sysex_sender.h"
#include "engine/window_ops.h"
#include "midi/dx_mtimer.h"
#include "midi/midi_in_port.h"
#include "midi/midi_out_port.h"
#include "platform/event.h"

// The waits and pauses of a run. Production uses the defaults; tests shorten them.
struct EngineTimings {
    DWORD identityTimeoutMs = 30000;
    DWORD eraseTimeoutMs = 30000;
    DWORD writeTimeoutMs = 1000;
    DWORD endTimeoutMs = 30000;
    DWORD afterBeginPauseMs = 500;
    DWORD retryPauseMs = 100;
};

class CUpdaterEngine {
  public:
    static constexpr std::int32_t kResultClosing = 255;

    explicit CUpdaterEngine(IWindowOps& window, EngineTimings timings = {});
    ~CUpdaterEngine();
    CUpdaterEngine(const CUpdaterEngine&) = delete;
    CUpdaterEngine& operator=(const CUpdaterEngine&) = delete;

    // Starts the 1 ms timer that drives the dispatcher; the window's initialisation.
    void Initialise();

    // The Execute handler: opens the ports on the chosen devices (-1: none chosen) and starts
    // a run on a worker thread. Failures are shown through the window and returned.
    rx::RunOutcome Execute(int inDevice, int outDevice);

    // The window is going away: stops any run quietly, closes the ports, stops the timer and
    // waits for the worker. Nothing of the engine is touched by another thread afterwards.
    void Shutdown();

    bool IsBusy() const { return m_busy.load() != 0; }
    // Waits until the current run, if any, has ended; false when `timeoutMs` passed first.
    bool WaitForRunEnd(DWORD timeoutMs = INFINITE);
    rx::RunOutcome LastOutcome() const { return m_outcome.load(); }

    MidiInPort& InPort() { return m_in; }
    MidiOutPort& OutPort() { return m_out; }
    CSysExSender& Sender() { return m_sender; }

    // The dispatcher, run by every timer tick.
    void PollReplies();
    static void CALLBACK TickProc(UINT id, UINT message, DWORD_PTR context, DWORD_PTR, DWORD_PTR);

    // The worker's procedure and the flash plan; public so tests can drive a step directly.
    unsigned UpdateRun();
    int RunFlashPlan();
    int EraseStep(std::int32_t address, std::int32_t size);
    int WriteStep(std::int32_t address, std::int32_t size, std::int32_t imageId);

    // Replaces the constant flash plan. Tests only.
    void SetFlashPlanForTesting(std::span<const rx::PlanRow> plan) { m_plan = plan; }

  private:
    enum class ReplyKind { kNone, kStatus, kWriteAck, kIdentityReply };
    struct Reply {
        bool signalled;  // false: the wait timed out
        std::int32_t code;
        ReplyKind kind;
        std::uint8_t family;
    };

    // Reply matching. Replies carry no reference to what they answer; the unit answers in order,
    // so each reply is taken for the answer to the oldest send still waiting for one. Sends are
    // grouped in exchanges (a block with its resends, an erase row, ...), and a wait accepts only
    // answers to sends of its own exchange: a late answer to an earlier one is dropped instead
    // of being taken for a later one. Replies when no send waits are unsolicited and dropped.
    std::uint32_t BeginExchange();
    void NoteSend(std::uint32_t exchange);
    Reply WaitReply(std::uint32_t exchange, DWORD timeoutMs);
    // After an exchange with resends: waits up to `graceMs` for the answers its other sends may
    // still get, then gives the rest up as lost, so that none of them is taken for the answer
    // to the next exchange.
    void Settle(std::uint32_t exchange, DWORD graceMs);
    void AcceptReply(ReplyKind kind, std::int32_t code, std::uint8_t family);

    // Window operations, skipped once the engine is closing.
    void RestoreControls();
    void EnableExecute(bool enable);
    void SetStatus(const std::string& text);
    void SetStep(int row);
    void SetProgressRange(std::int32_t lower, std::int32_t upper);
    void SetProgressPos(std::int32_t position);
    void ErrorBox(unsigned stringId);
    void Fail(rx::RunOutcome outcome, int logIndex, unsigned stringId);
    void EndQuietly();
    // Sleeps `ms`; false when the engine started closing meanwhile.
    bool Pause(DWORD ms);
    bool Closing() const { return m_closing.load(); }
    void ReapWorker();

    IWindowOps& m_window;
    EngineTimings m_timings;
    std::span<const rx::PlanRow> m_plan;

    // Current image, set by WriteStep.
    const std::uint8_t* m_imageBytes = nullptr;
    std::int32_t m_imageSize = 0;

    MidiInPort m_in;
    MidiOutPort m_out;
    CSysExSender m_sender{m_out};
    CDxMTimer m_timer;

    std::unique_ptr<CEvent> m_replyEvent;
    std::mutex m_replyMutex;  // result code, family byte and reply numbering
    std::int32_t m_resultCode = 0;
    std::uint8_t m_identityFamily = 0;
    ReplyKind m_replyKind = ReplyKind::kNone;
    std::deque<std::uint32_t> m_pending;  // the exchange of each send awaiting its answer
    std::uint32_t m_exchanges = 0;
    std::uint32_t m_replyExchange = 0;
    std::uint32_t m_replySerial = 0;
    std::uint32_t m_lastConsumed = 0;

    std::atomic<std::int32_t> m_busy{0};
    std::atomic<bool> m_closing{false};
    std::atomic<rx::RunOutcome> m_outcome{rx::RunOutcome::kNone};

    std::mutex m_runMutex;  // the workers, their count and the shut-down flag
    std::condition_variable m_runCv;
    int m_runsActive = 0;
    std::thread m_worker;
    std::vector<std::thread> m_retired;
    bool m_shutDown = false;
};
