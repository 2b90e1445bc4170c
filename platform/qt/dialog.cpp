#include "platform/qt/dialog.h"

#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDialog>
#include <QFontMetrics>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <algorithm>

#include "platform/qt/message_box.h"
#include "platform/qt/win_app.h"

class DialogWindow : public QDialog {
  public:
    DialogWindow(CDialog& owner, QWidget* parent)
        : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                              Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
          m_owner(owner) {}

    // Escape and the close box.
    void reject() override { m_owner.OnCommand(IDCANCEL); }

    void End(int result) {
        m_ended = true;
        QDialog::done(result);
    }
    bool Ended() const { return m_ended; }

  protected:
    void contextMenuEvent(QContextMenuEvent* event) override {
        m_owner.ShowWindowMenu(event->globalPos().x(), event->globalPos().y());
    }

  private:
    CDialog& m_owner;
    bool m_ended = false;
};

namespace {

int MulDiv(int value, int numerator, int denominator) {
    return (value * numerator + denominator / 2) / denominator;
}

// Dialog units: a quarter of the font's average character width, an eighth of its height.
struct BaseUnits {
    int cx;
    int cy;

    explicit BaseUnits(const QFont& font) {
        const QFontMetrics metrics(font);
        const int width =
            metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
        cx = (width / 26 + 1) / 2;
        cy = metrics.height();
    }

    QRect Map(const DialogRect& r) const {
        const int left = MulDiv(r.x, cx, 4);
        const int top = MulDiv(r.y, cy, 8);
        return QRect(left, top, MulDiv(r.x + r.cx, cx, 4) - left, MulDiv(r.y + r.cy, cy, 8) - top);
    }
};

// The mnemonic of a menu text: the character after a single '&', or 0.
QChar Mnemonic(const QString& text) {
    for (qsizetype i = 0; i + 1 < text.size(); ++i) {
        if (text[i] == '&') {
            if (text[i + 1] != '&') {
                return text[i + 1].toUpper();
            }
            ++i;
        }
    }
    return QChar();
}

}  // namespace

void DDX_Control(CDataExchange* exchange, int id, CWnd& control) {
    CDialog& dialog = exchange->Dialog();
    control.Attach(dialog.GetDlgItem(id));
    dialog.m_bound.push_back(&control);
}

CDialog::CDialog(const DialogTemplate& dialogTemplate, CWnd* parent)
    : m_template(dialogTemplate), m_parent(parent) {
    m_systemMenu.AppendMenu(MF_STRING, SC_CLOSE, "Close");
}

CDialog::~CDialog() = default;

HWND CDialog::GetDlgItem(int id) const {
    for (const auto& [itemId, widget] : m_items) {
        if (itemId == id) {
            return widget;
        }
    }
    return nullptr;
}

CMenu* CDialog::GetSystemMenu(BOOL) {
    return &m_systemMenu;
}

BOOL CDialog::OnInitDialog() {
    CDataExchange exchange(*this);
    DoDataExchange(&exchange);
    return 1;
}

void CDialog::DoDataExchange(CDataExchange*) {}

void CDialog::OnCommand(UINT id) {
    if (id == IDOK) {
        OnOK();
    } else if (id == IDCANCEL) {
        OnCancel();
    }
}

void CDialog::OnSysCommand(UINT id) {
    if ((id & 0xFFF0) == SC_CLOSE && m_window != nullptr) {
        m_window->close();
    }
}

void CDialog::EndDialog(int result) {
    if (m_window == nullptr) {
        return;
    }
    DismissMessageBoxes(*this);
    m_window->End(result);
}

void CDialog::ShowWindowMenu(int x, int y) {
    QMenu menu(m_window);
    for (const auto& item : m_systemMenu.Items()) {
        if (item.flags & MF_SEPARATOR) {
            menu.addSeparator();
        } else {
            menu.addAction(QString::fromUtf8(item.text))->setData(QVariant::fromValue(item.id));
        }
    }
    if (QAction* chosen = menu.exec(QPoint(x, y))) {
        OnSysCommand(static_cast<UINT>(chosen->data().value<UINT_PTR>()));
    }
}

void CDialog::CreateControls() {
    QFont font = QApplication::font();
    font.setPointSize(m_template.pointSize);
    m_window->setFont(font);
    const BaseUnits units(font);
    m_window->setWindowTitle(QString::fromUtf8(m_template.caption));
    const QRect client = units.Map({0, 0, m_template.cx, m_template.cy});
    m_window->setFixedSize(client.size());

    QWidget* previousTabStop = nullptr;
    QWidget* firstTabStop = nullptr;
    for (const DialogControl& control : m_template.controls) {
        const QString text = QString::fromUtf8(control.text);
        QRect rect = units.Map(control.rect);
        QWidget* widget = nullptr;
        switch (control.kind) {
            case ControlKind::kPushButton: {
                auto* button = new QPushButton(text, m_window);
                button->setDefault((control.style & kDefaultButton) != 0);
                const UINT id = static_cast<UINT>(control.id);
                QObject::connect(button, &QPushButton::clicked, m_window,
                                 [this, id] { OnCommand(id); });
                widget = button;
                break;
            }
            case ControlKind::kStaticText: {
                auto* label = new QLabel(text, m_window);
                label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
                label->setWordWrap(true);
                widget = label;
                break;
            }
            case ControlKind::kStaticIcon: {
                auto* label = new QLabel(m_window);
                if (HICON icon = AfxLoadIcon(static_cast<UINT>(control.iconId))) {
                    const int side = std::min(rect.width(), rect.height());
                    label->setPixmap(icon->pixmap(side, side));
                }
                widget = label;
                break;
            }
            case ControlKind::kStaticPicture:
                widget = new QLabel(m_window);
                break;
            case ControlKind::kComboBox: {
                auto* combo = new QComboBox(m_window);
                combo->setEditable((control.style & kDropDownList) == 0);
                // The template's height is that of the opened list; the box itself is one line.
                const int closed = combo->sizeHint().height();
                const int line = std::max(1, QFontMetrics(font).height());
                combo->setMaxVisibleItems(std::max(1, (rect.height() - closed) / line));
                rect.setHeight(closed);
                widget = combo;
                break;
            }
            case ControlKind::kProgressBar: {
                auto* bar = new QProgressBar(m_window);
                bar->setRange(0, 100);
                bar->setValue(0);
                bar->setTextVisible(false);
                widget = bar;
                break;
            }
            case ControlKind::kEdit: {
                auto* edit = new QLineEdit(text, m_window);
                edit->setReadOnly((control.style & kReadOnly) != 0);
                edit->setFrame((control.style & kNoBorder) == 0);
                if (edit->isReadOnly()) {
                    QPalette palette = edit->palette();
                    palette.setColor(QPalette::Base, palette.color(QPalette::Window));
                    edit->setPalette(palette);
                }
                widget = edit;
                break;
            }
        }
        widget->setGeometry(rect);
        if (control.style & kTabStop) {
            widget->setFocusPolicy(Qt::StrongFocus);
            if (previousTabStop != nullptr) {
                QWidget::setTabOrder(previousTabStop, widget);
            } else {
                firstTabStop = widget;
            }
            previousTabStop = widget;
        } else if (control.kind != ControlKind::kPushButton) {
            widget->setFocusPolicy(Qt::NoFocus);
        }
        if (control.id != IDC_STATIC) {
            m_items.emplace_back(control.id, widget);
        }
    }
    m_firstTabStop = firstTabStop;
}

INT_PTR CDialog::DoModal() {
    if (m_window != nullptr || QApplication::instance() == nullptr) {
        return -1;
    }
    QWidget* parentWidget = m_parent != nullptr ? m_parent->GetSafeHwnd() : nullptr;
    QPointer<DialogWindow> window = new DialogWindow(*this, parentWidget);
    m_window = window.data();
    m_hWnd = m_window;
    CreateControls();

    if (OnInitDialog() && m_firstTabStop != nullptr) {
        m_firstTabStop->setFocus();
    }
    for (const auto& item : m_systemMenu.Items()) {
        const QChar key = Mnemonic(QString::fromUtf8(item.text));
        if ((item.flags & MF_SEPARATOR) != 0 || key.isNull()) {
            continue;
        }
        const UINT id = static_cast<UINT>(item.id);
        auto* shortcut = new QShortcut(QKeySequence(QStringLiteral("Alt+") + key), m_window);
        QObject::connect(shortcut, &QShortcut::activated, m_window,
                         [this, id] { OnSysCommand(id); });
    }

    int result = IDCANCEL;
    if (!window->Ended()) {
        result = window->exec();
    } else {
        result = window->result();
    }
    OnDestroy();

    for (CWnd* control : m_bound) {
        control->Detach();
    }
    m_bound.clear();
    m_items.clear();
    m_firstTabStop = nullptr;
    m_hWnd = nullptr;
    m_window = nullptr;
    delete window.data();
    return result;
}
