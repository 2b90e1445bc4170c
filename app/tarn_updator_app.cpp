#include "app/tarn_updator_app.h"

#include <cstdio>

#include "app/tarn_updator_dlg.h"
#include "platform/instance_slot.h"
#include "platform/qt/message_box.h"

namespace {

constexpr char kTitle[] = "TAVO RX-300 v3.10 Updater";
constexpr char kTooManyInstances[] =
    "It is forbidden to launch more than %d instance of this application.";

}  // namespace

std::string InstanceTitle(int instanceNumber) {
    if (instanceNumber == 1) {
        return kTitle;
    }
    char title[64];
    std::snprintf(title, sizeof title, "%s (%d)", kTitle, instanceNumber);
    return title;
}

int CurrentInstanceNumber() {
    auto* app = dynamic_cast<CTarnUpdatorApp*>(AfxGetApp());
    return app != nullptr ? app->m_instanceNumber : 0;
}

CTarnUpdatorApp::CTarnUpdatorApp() = default;

CTarnUpdatorApp::~CTarnUpdatorApp() = default;

bool CTarnUpdatorApp::TakeInstanceSlot() {
    for (int n = 1; n <= kMaxInstances; ++n) {
        m_hSlotMutex = CreateMutexA(nullptr, 1, InstanceTitle(n).c_str());
        if (m_hSlotMutex != nullptr && GetLastError() != ERROR_ALREADY_EXISTS) {
            m_instanceNumber = n;
            return true;
        }
        if (m_hSlotMutex != nullptr) {
            CloseHandle(m_hSlotMutex);
        }
    }
    return false;
}

BOOL CTarnUpdatorApp::InitInstance() {
    if (!TakeInstanceSlot()) {
        char text[128];
        std::snprintf(text, sizeof text, kTooManyInstances, kMaxInstances);
        MessageBoxA(nullptr, text, AppTitle(), MB_OK | MB_ICONEXCLAMATION);
        return 0;
    }
    CTarnUpdatorDlg dialog(nullptr);
    m_pMainWnd = &dialog;
    dialog.DoModal();
    m_pMainWnd = nullptr;
    return 0;
}
