// A window for engine tests: records every operation in order and answers error boxes, at once
// or when the test says so.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "engine/window_ops.h"

class FakeWindow : public IWindowOps {
  public:
    void RestoreControls() override { Record("restore"); }
    void DisableControls() override { Record("disable"); }
    void EnableExecute(bool enable) override { Record(enable ? "execute:on" : "execute:off"); }
    void SetStatusText(const std::string& text) override { Record("status:" + text); }
    void SetStepText(const std::string& text) override { Record("step:" + text); }
    void SetProgressRange(std::int32_t lower, std::int32_t upper) override {
        Record("range:" + std::to_string(lower) + ".." + std::to_string(upper));
    }
    void SetProgressPos(std::int32_t position) override {
        std::lock_guard lock(m_mutex);
        m_position = position;  // too many to record one by one
    }
    void ShowErrorBox(const std::string& text) override {
        std::unique_lock lock(m_mutex);
        m_events.push_back("error:" + text);
        m_cv.notify_all();
        if (m_holdErrorBoxes) {
            m_cv.wait(lock, [this] { return m_released; });
        }
    }
    void Closing() override {
        std::lock_guard lock(m_mutex);
        m_closingCalled = true;
        m_released = true;
        m_cv.notify_all();
    }

    // Error boxes stay up until Closing(): a user who does not answer.
    void HoldErrorBoxes() {
        std::lock_guard lock(m_mutex);
        m_holdErrorBoxes = true;
    }

    std::vector<std::string> Events() const {
        std::lock_guard lock(m_mutex);
        return m_events;
    }
    std::vector<std::string> Errors() const {
        std::vector<std::string> errors;
        for (const auto& e : Events()) {
            if (e.rfind("error:", 0) == 0) {
                errors.push_back(e.substr(6));
            }
        }
        return errors;
    }
    std::string LastStatus() const { return LastWith("status:"); }
    std::string LastStep() const { return LastWith("step:"); }
    std::int32_t Position() const {
        std::lock_guard lock(m_mutex);
        return m_position;
    }
    bool ClosingCalled() const {
        std::lock_guard lock(m_mutex);
        return m_closingCalled;
    }

    // Waits until an event equal to `event` has been recorded; false after `timeout`.
    bool WaitFor(const std::string& event,
                 std::chrono::milliseconds timeout = std::chrono::seconds(60)) {
        std::unique_lock lock(m_mutex);
        return m_cv.wait_for(lock, timeout, [&] {
            for (const auto& e : m_events) {
                if (e == event) {
                    return true;
                }
            }
            return false;
        });
    }

  private:
    void Record(std::string event) {
        std::lock_guard lock(m_mutex);
        m_events.push_back(std::move(event));
        m_cv.notify_all();
    }
    std::string LastWith(const std::string& prefix) const {
        auto events = Events();
        for (auto it = events.rbegin(); it != events.rend(); ++it) {
            if (it->rfind(prefix, 0) == 0) {
                return it->substr(prefix.size());
            }
        }
        return {};
    }

    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<std::string> m_events;
    std::int32_t m_position = 0;
    bool m_holdErrorBoxes = false;
    bool m_released = false;
    bool m_closingCalled = false;
};
