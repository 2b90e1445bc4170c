#include "tests/app/window_driver.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <cstdlib>
#include <filesystem>

#include "platform/instance_slot.h"

namespace rxtest {

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds deadline) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QCoreApplication::sendPostedEvents();
    }
    return true;
}

INT_PTR RunModal(CDialog& dialog, const std::function<void()>& script) {
    QTimer::singleShot(0, [&] {
        script();
        if (dialog.IsRunning()) {
            dialog.EndDialog(IDCANCEL);
        }
    });
    return dialog.DoModal();
}

QMessageBox* OpenBox() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* box = qobject_cast<QMessageBox*>(widget); box != nullptr && box->isVisible()) {
            return box;
        }
    }
    return nullptr;
}

BoxAnswerer::BoxAnswerer(std::function<void(const SeenBox&)> onBox) : m_onBox(std::move(onBox)) {
    QObject::connect(&m_timer, &QTimer::timeout, [this] { Poll(); });
    m_timer.start(2);
}

BoxAnswerer::~BoxAnswerer() {
    m_timer.stop();
}

void BoxAnswerer::Poll() {
    QMessageBox* box = OpenBox();
    if (box == nullptr) {
        return;
    }
    if (std::find(m_reported.begin(), m_reported.end(), box) == m_reported.end()) {
        m_reported.push_back(box);
        SeenBox seen{box->windowTitle().toStdString(), box->text().toStdString(), box->icon()};
        m_seen.push_back(seen);
        if (m_onBox) {
            m_onBox(seen);
        }
    }
    if (!m_hold) {
        if (QAbstractButton* ok = box->button(QMessageBox::Ok)) {
            ok->click();
        }
    }
}

QWidget* Item(CDialog& dialog, int id) {
    return dialog.GetDlgItem(id);
}

bool Enabled(CDialog& dialog, int id) {
    QWidget* item = Item(dialog, id);
    return item != nullptr && item->isEnabled();
}

std::string Text(CDialog& dialog, int id) {
    if (auto* edit = qobject_cast<QLineEdit*>(Item(dialog, id))) {
        return edit->text().toStdString();
    }
    return {};
}

void Click(CDialog& dialog, int id) {
    auto* button = qobject_cast<QPushButton*>(Item(dialog, id));
    ASSERT_NE(button, nullptr) << "no button " << id;
    button->click();
}

TextRecorder::TextRecorder(CDialog& dialog, int id) {
    auto* edit = qobject_cast<QLineEdit*>(Item(dialog, id));
    if (edit == nullptr) {
        ADD_FAILURE() << "no edit control " << id;
        return;
    }
    QObject::connect(edit, &QLineEdit::textChanged, &m_context,
                     [this](const QString& text) { m_texts.push_back(text.toStdString()); });
}

bool TextRecorder::Contains(const std::string& text) const {
    return std::find(m_texts.begin(), m_texts.end(), text) != m_texts.end();
}

EngineTimings QuickTimings() {
    EngineTimings timings;
    timings.identityTimeoutMs = 30000;
    timings.eraseTimeoutMs = 30000;
    timings.writeTimeoutMs = 10000;
    timings.endTimeoutMs = 30000;
    timings.afterBeginPauseMs = 1;
    timings.retryPauseMs = 1;
    return timings;
}

EngineTimings EndlessTimings() {
    EngineTimings timings;
    timings.identityTimeoutMs = 3600000;
    timings.eraseTimeoutMs = 3600000;
    timings.writeTimeoutMs = 3600000;
    timings.endTimeoutMs = 3600000;
    timings.afterBeginPauseMs = 1;
    timings.retryPauseMs = 1;
    return timings;
}

void AppFixture::SetUp() {
    char pattern[] = "/tmp/rx300-app-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    m_runtimeDir = pattern;
    setenv("XDG_RUNTIME_DIR", pattern, 1);
}

void AppFixture::TearDown() {
    if (m_app != nullptr) {
        Keep(*m_app);
    }
    for (HANDLE slot : m_slots) {
        CloseHandle(slot);
    }
    std::error_code ignored;
    std::filesystem::remove_all(m_runtimeDir, ignored);
}

void AppFixture::Hold(int n) {
    HANDLE slot = CreateMutexA(nullptr, 1, InstanceTitle(n).c_str());
    ASSERT_NE(slot, nullptr);
    m_slots.push_back(slot);
    ASSERT_EQ(GetLastError(), ERROR_SUCCESS) << "slot " << n << " was already held";
}

void AppFixture::StartApp(std::initializer_list<int> held) {
    for (int n : held) {
        Hold(n);
    }
    m_app = std::make_unique<CTarnUpdatorApp>();
    ASSERT_TRUE(m_app->TakeInstanceSlot());
}

void AppFixture::Keep(const CTarnUpdatorApp& app) {
    if (app.m_instanceNumber != 0) {
        m_slots.push_back(app.m_hSlotMutex);
    }
}

}  // namespace rxtest
