// CAboutDlg: the About box, opened from the updater window's window menu.
#pragma once

#include "platform/qt/dialog.h"

class CAboutDlg : public CDialog {
  public:
    explicit CAboutDlg(CWnd* parent);

  protected:
    void DoDataExchange(CDataExchange* exchange) override;
    BOOL OnInitDialog() override;

  private:
    CEdit m_product;
};
