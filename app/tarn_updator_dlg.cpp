#include "app/tarn_updator_dlg.h"

#include "app/about_dlg.h"
#include "app/tarn_updator_app.h"
#include "platform/qt/message_box.h"
#include "platform/qt/win_app.h"
#include "resources/dialog_templates.h"
#include "resources/icons/app_icon.h"
#include "resources/string_table.h"

namespace {

HICON LoadAppIcon() {
    rx::RegisterIconResources();
    return AfxLoadIcon(rx::IDR_MAINFRAME);
}

}  // namespace

CTarnUpdatorDlg::CTarnUpdatorDlg(CWnd* parent) : CTarnUpdatorDlg(parent, EngineTimings{}) {}

CTarnUpdatorDlg::CTarnUpdatorDlg(CWnd* parent, EngineTimings timings)
    : CDialog(rx::UpdaterDialogTemplate(), parent),
      m_hIcon(LoadAppIcon()),
      m_engine(*this, timings) {}

CTarnUpdatorDlg::~CTarnUpdatorDlg() {
    m_engine.Shutdown();
}

void CTarnUpdatorDlg::DoDataExchange(CDataExchange* exchange) {
    CDialog::DoDataExchange(exchange);
    DDX_Control(exchange, rx::IDC_MIDI_IN, m_midiInList);
    DDX_Control(exchange, rx::IDC_MIDI_OUT, m_midiOutList);
    DDX_Control(exchange, rx::IDC_PROGRESS, m_progress);
    DDX_Control(exchange, IDOK, m_execute);
    DDX_Control(exchange, rx::IDC_STATUS, m_status);
    DDX_Control(exchange, rx::IDC_RESCAN, m_rescan);
    DDX_Control(exchange, rx::IDC_PICTURE, m_picture);
    DDX_Control(exchange, rx::IDC_STEP, m_step);
}

BOOL CTarnUpdatorDlg::OnInitDialog() {
    CDialog::OnInitDialog();

    if (CMenu* menu = GetSystemMenu(0)) {
        const char* about = rx::LoadStringText(rx::IDS_ABOUTBOX);
        if (*about != '\0') {
            menu->AppendMenu(MF_SEPARATOR);
            menu->AppendMenu(MF_STRING, IDM_ABOUTBOX, about);
        }
    }
    SetIcon(m_hIcon, 1);
    SetIcon(m_hIcon, 0);

    ScanPorts();
    m_engine.Initialise();
    m_progress.SetRange32(0, 100);
    SetWindowText(InstanceTitle(CurrentInstanceNumber()).c_str());
    return 1;
}

void CTarnUpdatorDlg::OnCommand(UINT id) {
    if (id == IDOK) {
        OnExecute();
    } else if (id == static_cast<UINT>(rx::IDC_RESCAN)) {
        OnRescanDevice();
    } else {
        CDialog::OnCommand(id);
    }
}

void CTarnUpdatorDlg::OnSysCommand(UINT id) {
    if ((id & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg about(this);
        about.DoModal();
        return;
    }
    CDialog::OnSysCommand(id);
}

void CTarnUpdatorDlg::OnExecute() {
    (void)m_engine.Execute(m_midiInList.GetCurSel(), m_midiOutList.GetCurSel());
}

void CTarnUpdatorDlg::OnRescanDevice() {
    ScanPorts();
    EnableExecute(true);
}

// The engine closes the ports, wakes a waiting run with 255 and joins the worker; Closing()
// comes first, so a worker blocked in a window operation is let go instead of deadlocking.
void CTarnUpdatorDlg::OnDestroy() {
    m_engine.Shutdown();
}

void CTarnUpdatorDlg::RestoreControls() {
    m_ui.Run([this] {
        m_midiInList.EnableWindow(1);
        m_midiOutList.EnableWindow(1);
        m_execute.EnableWindow(1);
        m_rescan.EnableWindow(1);
    });
}

void CTarnUpdatorDlg::DisableControls() {
    m_ui.Run([this] {
        m_midiInList.EnableWindow(0);
        m_midiOutList.EnableWindow(0);
        m_execute.EnableWindow(0);
        m_rescan.EnableWindow(0);
    });
}

void CTarnUpdatorDlg::EnableExecute(bool enable) {
    m_ui.Run([this, enable] { m_execute.EnableWindow(enable ? 1 : 0); });
}

void CTarnUpdatorDlg::SetStatusText(const std::string& text) {
    m_ui.Run([this, text] { m_status.SetWindowText(text.c_str()); });
}

void CTarnUpdatorDlg::SetStepText(const std::string& text) {
    m_ui.Run([this, text] { m_step.SetWindowText(text.c_str()); });
}

void CTarnUpdatorDlg::SetProgressRange(std::int32_t lower, std::int32_t upper) {
    m_ui.Run([this, lower, upper] { m_progress.SetRange32(lower, upper); });
}

void CTarnUpdatorDlg::SetProgressPos(std::int32_t position) {
    m_ui.Run([this, position] { m_progress.SetPos(position); });
}

void CTarnUpdatorDlg::ShowErrorBox(const std::string& text) {
    m_ui.Run([this, text] {
        MessageBoxA(this, text.c_str(), rx::LoadStringText(rx::IDS_ERROR_CAPTION),
                    MB_OK | MB_ICONSTOP);
    });
}

void CTarnUpdatorDlg::Closing() {
    m_ui.Close();
}
