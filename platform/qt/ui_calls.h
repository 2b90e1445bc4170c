// Carries calls from other threads onto the UI thread, which owns every control. A caller on
// another thread waits until its call has run there; Close() releases every waiting caller at
// once and turns later calls into no-ops, so that a window going away never waits for them
// and never has them touch it afterwards.
#pragma once

#include <functional>
#include <memory>

class CUiCalls {
  public:
    CUiCalls();
    ~CUiCalls();
    CUiCalls(const CUiCalls&) = delete;
    CUiCalls& operator=(const CUiCalls&) = delete;

    // Runs `call` on the UI thread: at once when called there, otherwise queued while the
    // caller waits. Does nothing once Close() has been called.
    void Run(std::function<void()> call);
    // Call on the UI thread, before anything that the calls touch is destroyed.
    void Close();
    bool IsClosed() const;

    static bool OnUiThread();

  private:
    struct State;
    std::shared_ptr<State> m_state;
};
