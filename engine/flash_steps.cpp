// The flash plan and its two steps: erase a range, write an image block by block, each with its
// time-outs, retries and failure reports.
#include <algorithm>
#include <cstdio>

#include "engine/diagnostic_log.h"
#include "engine/updater_engine.h"
#include "platform/resource.h"
#include "protocol/messages.h"
#include "resources/string_table.h"

using rx::RunOutcome;

namespace {

constexpr int kMaxAttempts = 7;

}  // namespace

int CUpdaterEngine::RunFlashPlan() {
    int row = 0;
    for (const auto& step : m_plan) {
        SetStep(++row);
        int result = 0;
        if (step.kind == rx::kPlanErase) {
            result = EraseStep(step.address, step.size);
        } else if (step.kind == rx::kPlanWrite) {
            result = WriteStep(step.address, step.size, step.imageId);
        }
        if (result == -1) {
            return -1;
        }
    }
    return 0;
}

int CUpdaterEngine::EraseStep(std::int32_t address, std::int32_t size) {
    SetProgressRange(0, 10);
    int failures = 0;
    const std::uint32_t exchange = BeginExchange();
    for (;;) {
        NoteSend(exchange);
        m_sender.SendEraseRange(rx::g_modelByte.load(), address, size);
        SetProgressPos(1);
        SetStatus(rx::LoadStringText(rx::IDS_ERASING));
        const Reply reply = WaitReply(exchange, m_timings.eraseTimeoutMs);
        if (Closing()) {
            EndQuietly();
            return -1;
        }
        if (!reply.signalled) {
            // An erase that timed out is never sent again.
            Fail(RunOutcome::kEraseTimeout, rx::kLogEraseTimeout, rx::IDS_TIMEOUT_ERASE);
            return -1;
        }
        if (reply.code == 0) {
            SetProgressPos(10);
            return 0;
        }
        if (++failures == kMaxAttempts) {
            Fail(RunOutcome::kEraseRefused, rx::kLogEraseTimeout, rx::IDS_TRANSFER_ERROR);
            return -1;
        }
        if (!Pause(m_timings.retryPauseMs)) {
            EndQuietly();
            return -1;
        }
    }
}

int CUpdaterEngine::WriteStep(std::int32_t address, std::int32_t size, std::int32_t imageId) {
    HRSRC resource = FindResourceA(nullptr, MAKEINTRESOURCEA(imageId), "BIN");
    HGLOBAL loaded = resource != nullptr ? LoadResource(nullptr, resource) : nullptr;
    const auto* bytes = static_cast<const std::uint8_t*>(LockResource(loaded));
    const DWORD available = resource != nullptr ? SizeofResource(nullptr, resource) : 0;
    // Nothing goes out from an image that is missing or shorter than its row.
    if (bytes == nullptr || size < 0 || static_cast<DWORD>(size) > available) {
        Fail(RunOutcome::kImageMissing, -1, rx::IDS_TRANSFER_ERROR);
        return -1;
    }
    m_imageBytes = bytes;
    m_imageSize = size != 0 ? size : static_cast<std::int32_t>(available);

    SetProgressRange(0, m_imageSize);
    std::int32_t offset = 0;
    int failures = 0;
    while (offset < m_imageSize) {
        // A row whose size is not a multiple of the block size ends in a shorter block.
        const std::int32_t length = std::min(rx::kBlockSize, m_imageSize - offset);
        const std::uint32_t exchange = BeginExchange();
        for (;;) {
            NoteSend(exchange);
            m_sender.SendWriteBlock(rx::g_modelByte.load(), m_imageBytes + offset, address + offset,
                                    length);
            char status[64];
            std::snprintf(status, sizeof status, rx::LoadStringText(rx::IDS_DATA_TRANSMIT), offset,
                          m_imageSize);
            SetStatus(status);
            const Reply reply = WaitReply(exchange, m_timings.writeTimeoutMs);
            if (Closing()) {
                EndQuietly();
                return -1;
            }
            if (reply.signalled && reply.code == 0) {
                Settle(exchange, m_timings.writeTimeoutMs);
                failures = 0;
                offset += length;
                SetProgressPos(offset);
                break;
            }
            if (!reply.signalled) {
                if (++failures == kMaxAttempts) {
                    Fail(RunOutcome::kWriteTimeout, rx::kLogWriteTimeout, rx::IDS_TIMEOUT_WRITE);
                    return -1;
                }
            } else {
                if (reply.code == rx::kStatusCrcError) {
                    rx::WriteLog(rx::kLogCrcError);
                } else if (reply.code == rx::kStatusFlashWriteError) {
                    rx::WriteLog(rx::kLogFlashWriteError);
                }
                if (++failures == kMaxAttempts) {
                    Fail(RunOutcome::kWriteRefused, -1, rx::IDS_TRANSFER_ERROR);
                    return -1;
                }
            }
            if (!Pause(m_timings.retryPauseMs)) {
                EndQuietly();
                return -1;
            }
        }
    }
    return 0;
}
