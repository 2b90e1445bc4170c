// The command line's window: shows the run's step, activity and progress on a terminal as one
// live line, or, when output is not a terminal, as plain lines at each row and every 10%.
#pragma once

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>

#include "engine/window_ops.h"

class ConsoleWindow : public IWindowOps {
  public:
    ConsoleWindow(std::FILE* out, std::FILE* err, bool live);

    void RestoreControls() override {}
    void DisableControls() override {}
    void EnableExecute(bool) override {}
    void SetStatusText(const std::string& text) override;
    void SetStepText(const std::string& text) override;
    void SetProgressRange(std::int32_t lower, std::int32_t upper) override;
    void SetProgressPos(std::int32_t position) override;
    void ShowErrorBox(const std::string& text) override;
    void Closing() override;

    // Ends the live line so that whatever is printed next starts on a line of its own.
    void Finish();

  private:
    void Render();
    void PrintPlain(const std::string& line);
    std::string Line() const;

    std::FILE* m_out;
    std::FILE* m_err;
    const bool m_live;

    std::mutex m_mutex;
    bool m_closed = false;
    bool m_lineOpen = false;
    std::string m_step;
    std::string m_status;
    std::int32_t m_lower = 0;
    std::int32_t m_upper = 0;
    std::int32_t m_position = 0;
    int m_lastDecile = -1;
    std::string m_lastPlainStatus;

    // Bytes of the images already written, for the estimate of the time left.
    std::int64_t m_bytesDoneBefore = 0;
    bool m_writeRow = false;
    std::chrono::steady_clock::time_point m_writeStart{};
    std::int64_t m_bytesAtStart = 0;
    std::chrono::steady_clock::time_point m_lastRender{};
};
