// Windows and controls as the dialogs use them: a CWnd is bound to a widget that its dialog
// owns, and does nothing once the dialog has destroyed that widget. UI thread only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/mmsystem.h"

class QWidget;
class QIcon;

using INT_PTR = std::intptr_t;
using HWND = QWidget*;
// An icon that the application object loaded; it lives as long as the program.
using HICON = const QIcon*;

class CMenu {
  public:
    struct Item {
        UINT flags;
        UINT_PTR id;
        std::string text;
    };

    BOOL AppendMenu(UINT flags, UINT_PTR id = 0, const char* text = nullptr);
    const std::vector<Item>& Items() const { return m_items; }

  private:
    std::vector<Item> m_items;
};

constexpr UINT MF_STRING = 0x0000;
constexpr UINT MF_SEPARATOR = 0x0800;

constexpr UINT SC_CLOSE = 0xF060;

class CWnd {
  public:
    CWnd() = default;
    virtual ~CWnd() = default;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    HWND GetSafeHwnd() const { return m_hWnd; }
    void Attach(HWND widget) { m_hWnd = widget; }
    void Detach() { m_hWnd = nullptr; }

    BOOL EnableWindow(BOOL enable = 1);
    BOOL IsWindowEnabled() const;
    void SetWindowText(const char* text);
    std::string GetWindowText() const;
    void SetIcon(HICON icon, BOOL big);

  protected:
    HWND m_hWnd = nullptr;
};

class CButton : public CWnd {};
class CEdit : public CWnd {};
class CStatic : public CWnd {};

constexpr int CB_ERR = -1;

// A drop-down list. Item texts are kept as the bytes they were added with, so that what
// GetLBText returns compares equal byte for byte to what AddString was given.
class CComboBox : public CWnd {
  public:
    void ResetContent();
    int AddString(const char* text);
    int GetCount() const;
    std::string GetLBText(int index) const;
    int SetCurSel(int index);
    // The selected item's position, CB_ERR when none is selected.
    int GetCurSel() const;
};

class CProgressCtrl : public CWnd {
  public:
    void SetRange32(int lower, int upper);
    void GetRange(int& lower, int& upper) const;
    int SetPos(int position);
    int GetPos() const;
};
