// CTarnUpdatorDlg: the updater window. The user picks the unit's MIDI IN and MIDI OUT ports
// and presses Execute; the window's engine runs the update on its worker thread and shows it
// through the window operations, which this window carries out on its own controls.
#pragma once

#include "engine/updater_engine.h"
#include "engine/window_ops.h"
#include "platform/qt/dialog.h"
#include "platform/qt/ui_calls.h"

class CTarnUpdatorDlg : public CDialog, private IWindowOps {
  public:
    // Window-menu command of the About box.
    static constexpr UINT IDM_ABOUTBOX = 0x0010;

    explicit CTarnUpdatorDlg(CWnd* parent = nullptr);
    // Tests shorten the engine's waits through this one.
    CTarnUpdatorDlg(CWnd* parent, EngineTimings timings);
    ~CTarnUpdatorDlg() override;

    // Fills both port lists and pre-selects the unit's ports by name.
    void ScanPorts();

    CUpdaterEngine& Engine() { return m_engine; }

  protected:
    void DoDataExchange(CDataExchange* exchange) override;
    BOOL OnInitDialog() override;
    void OnCommand(UINT id) override;
    void OnSysCommand(UINT id) override;
    void OnDestroy() override;

  private:
    void OnExecute();
    void OnRescanDevice();

    void RestoreControls() override;
    void DisableControls() override;
    void EnableExecute(bool enable) override;
    void SetStatusText(const std::string& text) override;
    void SetStepText(const std::string& text) override;
    void SetProgressRange(std::int32_t lower, std::int32_t upper) override;
    void SetProgressPos(std::int32_t position) override;
    void ShowErrorBox(const std::string& text) override;
    void Closing() override;

    HICON m_hIcon;
    CComboBox m_midiInList;
    CComboBox m_midiOutList;
    CProgressCtrl m_progress;
    CButton m_execute;
    CEdit m_status;
    CButton m_rescan;
    CStatic m_picture;
    CEdit m_step;

    // The worker's window operations reach the controls through this.
    CUiCalls m_ui;
    // Last, so that it goes first: its worker may still be calling the window operations.
    CUpdaterEngine m_engine;
};
