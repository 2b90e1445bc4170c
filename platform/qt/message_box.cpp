#include "platform/qt/message_box.h"

#include <QMessageBox>
#include <QPointer>
#include <cstdio>
#include <cstdlib>

#include "platform/qt/dialog_template.h"
#include "platform/qt/wnd.h"

namespace {

QMessageBox::Icon IconOf(UINT type) {
    switch (type & 0xF0) {
        case MB_ICONSTOP:
            return QMessageBox::Critical;
        case MB_ICONEXCLAMATION:
            return QMessageBox::Warning;
        case MB_ICONINFORMATION:
            return QMessageBox::Information;
        default:
            return QMessageBox::NoIcon;
    }
}

}  // namespace

int MessageBoxA(CWnd* owner, const char* text, const char* caption, UINT type) {
    if (std::getenv("RX300_TEST_DISMISS_BOXES") != nullptr) {
        std::fprintf(stderr, "%s: %s\n", caption, text);
        std::fflush(stderr);
        return IDOK;
    }
    QWidget* parent = owner != nullptr ? owner->GetSafeHwnd() : nullptr;
    // The box lives on the heap with its owner as parent, so that a closing owner finds it.
    QPointer<QMessageBox> box = new QMessageBox(IconOf(type), QString::fromUtf8(caption),
                                                QString::fromUtf8(text), QMessageBox::Ok, parent);
    box->exec();
    delete box.data();
    return IDOK;
}

void DismissMessageBoxes(CWnd& owner) {
    if (owner.GetSafeHwnd() == nullptr) {
        return;
    }
    for (QMessageBox* box : owner.GetSafeHwnd()->findChildren<QMessageBox*>()) {
        box->done(QMessageBox::Ok);
    }
}
