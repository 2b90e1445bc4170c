#include "platform/qt/wnd.h"

#include <QComboBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QWidget>
#include <algorithm>

namespace {

QString FromBytes(const char* text) {
    return QString::fromUtf8(text != nullptr ? text : "");
}

}  // namespace

BOOL CMenu::AppendMenu(UINT flags, UINT_PTR id, const char* text) {
    m_items.push_back({flags, id, text != nullptr ? text : ""});
    return 1;
}

BOOL CWnd::EnableWindow(BOOL enable) {
    if (m_hWnd == nullptr) {
        return 0;
    }
    const BOOL wasDisabled = m_hWnd->isEnabled() ? 0 : 1;
    m_hWnd->setEnabled(enable != 0);
    return wasDisabled;
}

BOOL CWnd::IsWindowEnabled() const {
    return m_hWnd != nullptr && m_hWnd->isEnabled() ? 1 : 0;
}

void CWnd::SetWindowText(const char* text) {
    if (m_hWnd == nullptr) {
        return;
    }
    const QString value = FromBytes(text);
    if (auto* edit = qobject_cast<QLineEdit*>(m_hWnd)) {
        edit->setText(value);
    } else if (auto* button = qobject_cast<QPushButton*>(m_hWnd)) {
        button->setText(value);
    } else if (auto* label = qobject_cast<QLabel*>(m_hWnd)) {
        label->setText(value);
    } else if (m_hWnd->isWindow()) {
        m_hWnd->setWindowTitle(value);
    }
}

std::string CWnd::GetWindowText() const {
    if (m_hWnd == nullptr) {
        return {};
    }
    QString value;
    if (auto* edit = qobject_cast<QLineEdit*>(m_hWnd)) {
        value = edit->text();
    } else if (auto* button = qobject_cast<QPushButton*>(m_hWnd)) {
        value = button->text();
    } else if (auto* label = qobject_cast<QLabel*>(m_hWnd)) {
        value = label->text();
    } else {
        value = m_hWnd->windowTitle();
    }
    return value.toUtf8().toStdString();
}

// The window manager shows one icon and scales it; the large and the small icon are one.
void CWnd::SetIcon(HICON icon, BOOL) {
    if (m_hWnd != nullptr && icon != nullptr) {
        m_hWnd->setWindowIcon(*icon);
    }
}

namespace {

QComboBox* Combo(HWND widget) {
    return qobject_cast<QComboBox*>(widget);
}
QProgressBar* Progress(HWND widget) {
    return qobject_cast<QProgressBar*>(widget);
}

}  // namespace

void CComboBox::ResetContent() {
    if (auto* combo = Combo(m_hWnd)) {
        combo->clear();
        combo->setCurrentIndex(-1);
    }
}

int CComboBox::AddString(const char* text) {
    auto* combo = Combo(m_hWnd);
    if (combo == nullptr) {
        return CB_ERR;
    }
    const QByteArray bytes(text != nullptr ? text : "");
    // Adding to an empty list would select the item; a list starts without a selection.
    const int selected = combo->currentIndex();
    combo->addItem(QString::fromUtf8(bytes), bytes);
    combo->setCurrentIndex(selected);
    return combo->count() - 1;
}

int CComboBox::GetCount() const {
    auto* combo = Combo(m_hWnd);
    return combo != nullptr ? combo->count() : 0;
}

std::string CComboBox::GetLBText(int index) const {
    auto* combo = Combo(m_hWnd);
    if (combo == nullptr || index < 0 || index >= combo->count()) {
        return {};
    }
    return combo->itemData(index).toByteArray().toStdString();
}

int CComboBox::SetCurSel(int index) {
    auto* combo = Combo(m_hWnd);
    if (combo == nullptr || index < -1 || index >= combo->count()) {
        return CB_ERR;
    }
    combo->setCurrentIndex(index);
    return index;
}

int CComboBox::GetCurSel() const {
    auto* combo = Combo(m_hWnd);
    return combo != nullptr ? combo->currentIndex() : CB_ERR;
}

// A progress bar keeps its position inside its range, as the position it shows.
void CProgressCtrl::SetRange32(int lower, int upper) {
    if (auto* bar = Progress(m_hWnd)) {
        const int position = bar->value();
        bar->setRange(lower, upper);
        bar->setValue(std::clamp(position, bar->minimum(), bar->maximum()));
    }
}

void CProgressCtrl::GetRange(int& lower, int& upper) const {
    auto* bar = Progress(m_hWnd);
    lower = bar != nullptr ? bar->minimum() : 0;
    upper = bar != nullptr ? bar->maximum() : 0;
}

int CProgressCtrl::SetPos(int position) {
    auto* bar = Progress(m_hWnd);
    if (bar == nullptr) {
        return 0;
    }
    const int previous = bar->value();
    bar->setValue(std::clamp(position, bar->minimum(), bar->maximum()));
    return previous;
}

int CProgressCtrl::GetPos() const {
    auto* bar = Progress(m_hWnd);
    return bar != nullptr ? bar->value() : 0;
}
