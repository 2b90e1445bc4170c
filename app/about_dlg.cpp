#include "app/about_dlg.h"

#include "resources/dialog_templates.h"

CAboutDlg::CAboutDlg(CWnd* parent) : CDialog(rx::AboutDialogTemplate(), parent) {}

void CAboutDlg::DoDataExchange(CDataExchange* exchange) {
    CDialog::DoDataExchange(exchange);
    DDX_Control(exchange, rx::IDC_PRODUCT, m_product);
}

// The same product text in every instance.
BOOL CAboutDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    m_product.SetWindowText("TAVO RX-300 v3.10 Updater");
    return 1;
}
