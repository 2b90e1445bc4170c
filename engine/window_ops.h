// What the update engine asks of the window that shows it: each front end (the dialog, the
// command line, the tests) implements these. The engine calls them from its worker thread and,
// for Execute's failures, from the thread that called Execute.
#pragma once

#include <cstdint>
#include <string>

class IWindowOps {
  public:
    virtual ~IWindowOps() = default;

    // Enables the MIDI IN list, the MIDI OUT list, Execute and Rescan Device, in this order.
    virtual void RestoreControls() = 0;
    // Disables the same controls, in the same order (Execute, before a run starts).
    virtual void DisableControls() = 0;
    virtual void EnableExecute(bool enable) = 0;
    virtual void SetStatusText(const std::string& text) = 0;
    virtual void SetStepText(const std::string& text) = 0;
    virtual void SetProgressRange(std::int32_t lower, std::int32_t upper) = 0;
    virtual void SetProgressPos(std::int32_t position) = 0;
    // Caption "Error", stop icon, one OK button; returns once the user has dismissed it.
    virtual void ShowErrorBox(const std::string& text) = 0;
    // The engine is shutting down: a call blocked in the front end must return promptly, and
    // no call after this one may touch a control.
    virtual void Closing() {}
};
