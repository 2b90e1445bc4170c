// Modal dialogs built from a DialogTemplate. DoModal creates the window and its controls,
// calls OnInitDialog, runs the dialog until EndDialog, calls OnDestroy and destroys the window;
// the CDialog object itself lives on.
//
// Commands: a push button's click, and the Enter key for the default button, call OnCommand
// with the button's id. IDOK and IDCANCEL end the dialog unless OnCommand is overridden for
// them; the Escape key and the window's close box are IDCANCEL. The window menu is the
// dialog's context menu, as the window manager owns the title bar: its items call
// OnSysCommand, and an item whose text has a mnemonic ("&A") also answers to Alt and that key.
#pragma once

#include <memory>
#include <vector>

#include "platform/qt/dialog_template.h"
#include "platform/qt/wnd.h"

class CDialog;
class DialogWindow;

// Binds dialog controls to CWnd members, in the order of the DDX_Control calls.
class CDataExchange {
  public:
    explicit CDataExchange(CDialog& dialog) : m_dialog(dialog) {}
    CDialog& Dialog() const { return m_dialog; }

  private:
    CDialog& m_dialog;
};

void DDX_Control(CDataExchange* exchange, int id, CWnd& control);

class CDialog : public CWnd {
  public:
    CDialog(const DialogTemplate& dialogTemplate, CWnd* parent);
    ~CDialog() override;

    // The dialog's result: the value given to EndDialog, or -1 when the window failed to come up.
    INT_PTR DoModal();
    void EndDialog(int result);

    // A command or window-menu command as if it came from a control or the menu, whatever
    // state the control is in.
    void SendCommand(UINT id) { OnCommand(id); }
    void SendSysCommand(UINT id) { OnSysCommand(id); }

    HWND GetDlgItem(int id) const;
    // The window menu; `revert` is accepted for the call's shape.
    CMenu* GetSystemMenu(BOOL revert);
    CWnd* GetParent() const { return m_parent; }

    virtual BOOL OnInitDialog();
    virtual void DoDataExchange(CDataExchange* exchange);
    virtual void OnCommand(UINT id);
    virtual void OnSysCommand(UINT id);
    virtual void OnOK() { EndDialog(IDOK); }
    virtual void OnCancel() { EndDialog(IDCANCEL); }
    virtual void OnDestroy() {}

    // True from DoModal's start until the window has been destroyed.
    bool IsRunning() const { return m_window != nullptr; }

  private:
    friend class DialogWindow;
    friend void DDX_Control(CDataExchange* exchange, int id, CWnd& control);

    void CreateControls();
    void ShowWindowMenu(int x, int y);

    const DialogTemplate& m_template;
    CWnd* m_parent;
    DialogWindow* m_window = nullptr;
    CMenu m_systemMenu;
    std::vector<std::pair<int, HWND>> m_items;
    std::vector<CWnd*> m_bound;
    HWND m_firstTabStop = nullptr;
};
