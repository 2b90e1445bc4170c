#include "cli/console_window.h"

#include <cstdlib>

#include "engine/flash_plan.h"

namespace {

constexpr int kBarWidth = 24;

std::int64_t TotalImageBytes() {
    std::int64_t total = 0;
    for (const auto& row : rx::kFlashPlan) {
        if (row.kind == rx::kPlanWrite) {
            total += row.size;
        }
    }
    return total;
}

std::int64_t ImageBytesBeforeRow(int row) {
    std::int64_t total = 0;
    for (int i = 0; i < row - 1 && i < rx::kPlanRows; ++i) {
        if (rx::kFlashPlan[i].kind == rx::kPlanWrite) {
            total += rx::kFlashPlan[i].size;
        }
    }
    return total;
}

}  // namespace

ConsoleWindow::ConsoleWindow(std::FILE* out, std::FILE* err, bool live)
    : m_out(out), m_err(err), m_live(live) {}

void ConsoleWindow::SetStepText(const std::string& text) {
    std::lock_guard lock(m_mutex);
    if (m_closed) {
        return;
    }
    m_step = text;
    const int row = std::atoi(text.c_str());
    m_writeRow = row >= 1 && row <= rx::kPlanRows && rx::kFlashPlan[row - 1].kind == rx::kPlanWrite;
    m_bytesDoneBefore = ImageBytesBeforeRow(row);
    m_lastDecile = -1;
    if (m_writeRow && m_writeStart == std::chrono::steady_clock::time_point{}) {
        m_writeStart = std::chrono::steady_clock::now();
        m_bytesAtStart = m_bytesDoneBefore;
    }
    Render();
}

void ConsoleWindow::SetStatusText(const std::string& text) {
    std::lock_guard lock(m_mutex);
    if (m_closed) {
        return;
    }
    m_status = text;
    Render();
}

void ConsoleWindow::SetProgressRange(std::int32_t lower, std::int32_t upper) {
    std::lock_guard lock(m_mutex);
    m_lower = lower;
    m_upper = upper;
    m_position = lower;
}

void ConsoleWindow::SetProgressPos(std::int32_t position) {
    std::lock_guard lock(m_mutex);
    if (m_closed) {
        return;
    }
    m_position = position;
    Render();
}

void ConsoleWindow::ShowErrorBox(const std::string& text) {
    std::lock_guard lock(m_mutex);
    if (m_closed) {
        return;
    }
    if (m_lineOpen) {
        std::fputc('\n', m_out);
        m_lineOpen = false;
    }
    std::fflush(m_out);
    std::fprintf(m_err, "Error: %s\n", text.c_str());
    std::fflush(m_err);
}

void ConsoleWindow::Closing() {
    std::lock_guard lock(m_mutex);
    m_closed = true;
}

void ConsoleWindow::Finish() {
    std::lock_guard lock(m_mutex);
    if (m_lineOpen) {
        std::fputc('\n', m_out);
        m_lineOpen = false;
    }
    std::fflush(m_out);
}

std::string ConsoleWindow::Line() const {
    std::string line = "[" + m_step + "] " + m_status;
    const std::int64_t span = std::int64_t(m_upper) - m_lower;
    const double fraction =
        span > 0 ? double(std::int64_t(m_position) - m_lower) / double(span) : 0.0;
    const int filled = static_cast<int>(fraction * kBarWidth + 0.5);
    line += "  [" + std::string(filled, '#') + std::string(kBarWidth - filled, '-') + "]";
    char percent[16];
    std::snprintf(percent, sizeof percent, " %3d%%", static_cast<int>(fraction * 100));
    line += percent;
    if (m_writeRow) {
        char bytes[64];
        std::snprintf(bytes, sizeof bytes, "  %d/%d bytes", m_position, m_upper);
        line += bytes;
        const std::int64_t written = m_bytesDoneBefore + m_position - m_bytesAtStart;
        const auto elapsed = std::chrono::steady_clock::now() - m_writeStart;
        const double seconds = std::chrono::duration<double>(elapsed).count();
        if (written > 0 && seconds > 0.5) {
            const std::int64_t left = TotalImageBytes() - m_bytesDoneBefore - m_position;
            const int eta = static_cast<int>(seconds * double(left) / double(written) + 0.5);
            char text[32];
            std::snprintf(text, sizeof text, "  ETA %d:%02d", eta / 60, eta % 60);
            line += text;
        }
    }
    return line;
}

void ConsoleWindow::Render() {
    if (m_live) {
        // Redraw at most every 50 ms, but always for the last position of a row.
        const auto now = std::chrono::steady_clock::now();
        if (m_position != m_upper && now - m_lastRender < std::chrono::milliseconds(50)) {
            return;
        }
        m_lastRender = now;
        std::fprintf(m_out, "\r\033[K%s", Line().c_str());
        std::fflush(m_out);
        m_lineOpen = true;
        return;
    }
    const std::int64_t span = std::int64_t(m_upper) - m_lower;
    const int decile =
        span > 0 ? static_cast<int>((std::int64_t(m_position) - m_lower) * 10 / span) : 0;
    if (decile != m_lastDecile || m_status != m_lastPlainStatus) {
        // Per-block status texts change on every block; only rows and tenths make a line.
        const bool blockText = m_status.rfind("Data transmit", 0) == 0 &&
                               m_lastPlainStatus.rfind("Data transmit", 0) == 0;
        if (decile != m_lastDecile || !blockText) {
            PrintPlain(Line());
        }
        m_lastDecile = decile;
        m_lastPlainStatus = m_status;
    }
}

void ConsoleWindow::PrintPlain(const std::string& line) {
    std::fprintf(m_out, "%s\n", line.c_str());
    std::fflush(m_out);
}
