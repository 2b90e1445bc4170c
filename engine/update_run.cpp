// One update run, on its own worker thread: identity handshake, model check, Begin Update, the
// flash plan, End Update.
#include <algorithm>

#include "engine/diagnostic_log.h"
#include "engine/updater_engine.h"
#include "protocol/messages.h"
#include "resources/string_table.h"

using rx::RunOutcome;

unsigned CUpdaterEngine::UpdateRun() {
    SetStep(0);

    std::uint32_t exchange = BeginExchange();
    NoteSend(exchange);
    if (m_sender.SendIdentityRequest() != 0) {
        Fail(RunOutcome::kIdentitySendFailed, rx::kLogMidiOutError, rx::IDS_CANT_OPEN_MIDI_OUT);
        return 0;
    }
    Reply reply = WaitReply(exchange, m_timings.identityTimeoutMs);
    if (!reply.signalled) {
        Fail(RunOutcome::kIdentityTimeout, rx::kLogMidiOutError, rx::IDS_TIMEOUT_IDENTITY);
        return 0;
    }
    if (Closing()) {
        EndQuietly();
        return 0;
    }
    // Only an Identity Reply tells the family; any other answer leaves it unknown.
    if (reply.code != 0 || reply.kind != ReplyKind::kIdentityReply) {
        Fail(RunOutcome::kIllegalDevice, rx::kLogIllegalDevice, rx::IDS_ILLEGAL_DEVICE);
        return 0;
    }
    const std::uint8_t model = reply.family;
    rx::g_modelByte.store(model);
    if (std::find(std::begin(rx::kAcceptedFamilies), std::end(rx::kAcceptedFamilies), model) ==
        std::end(rx::kAcceptedFamilies)) {
        Fail(RunOutcome::kIllegalDevice, rx::kLogIllegalDevice, rx::IDS_ILLEGAL_DEVICE);
        return 0;
    }
    m_sender.SetIdentityReplyFamily(model);

    exchange = BeginExchange();
    NoteSend(exchange);
    m_sender.SendBeginUpdate(model);
    SetStatus(rx::LoadStringText(rx::IDS_ERASING));
    reply = WaitReply(exchange, INFINITE);
    SetStatus("");
    if (Closing()) {
        EndQuietly();
        return 0;
    }
    if (reply.code == rx::kStatusNotInUpdateMode) {
        Fail(RunOutcome::kNotInUpdateMode, rx::kLogUseUpdateMode, rx::IDS_USE_UPDATE_MODE);
        return 0;
    }
    if (reply.code != 0) {
        Fail(RunOutcome::kBeginRefused, -1, rx::IDS_TRANSFER_ERROR);
        return 0;
    }

    if (!Pause(m_timings.afterBeginPauseMs)) {
        EndQuietly();
        return 0;
    }
    if (RunFlashPlan() != 0) {
        return 0;
    }

    exchange = BeginExchange();
    NoteSend(exchange);
    m_sender.SendEndUpdate(model);
    reply = WaitReply(exchange, m_timings.endTimeoutMs);
    if (Closing()) {
        EndQuietly();
        return 0;
    }
    if (!reply.signalled) {
        Fail(RunOutcome::kEndTimeout, -1, rx::IDS_TRANSFER_ERROR);
        return 0;
    }
    // Any answer to End Update completes the update, whatever its status.
    SetStatus(rx::LoadStringText(rx::IDS_UPDATE_COMPLETED));
    m_outcome.store(RunOutcome::kCompleted);
    RestoreControls();
    EnableExecute(false);
    return 0;
}
