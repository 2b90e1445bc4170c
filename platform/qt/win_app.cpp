#include "platform/qt/win_app.h"

#include <QApplication>
#include <QFileInfo>
#include <QIcon>
#include <QPixmap>
#include <map>

#include "platform/resource.h"

namespace {

CWinApp* g_app = nullptr;

}  // namespace

CWinApp::CWinApp(const char* appName) : m_appName(appName != nullptr ? appName : "") {
    g_app = this;
}

CWinApp::~CWinApp() {
    if (g_app == this) {
        g_app = nullptr;
    }
}

const char* CWinApp::AppTitle() const {
    if (m_appName.empty() && QCoreApplication::instance() != nullptr) {
        m_appName =
            QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName().toStdString();
    }
    return m_appName.c_str();
}

HICON CWinApp::LoadIcon(UINT id) const {
    return AfxLoadIcon(id);
}

CWinApp* AfxGetApp() {
    return g_app;
}

HICON AfxLoadIcon(UINT id) {
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr) {
        return nullptr;
    }
    // Never freed: icons outlive every window, and freeing pixmaps after the GUI has gone
    // down is not safe.
    static auto* icons = new std::map<UINT, QIcon*>;
    if (auto found = icons->find(id); found != icons->end()) {
        return found->second;
    }
    HRSRC resource = FindResourceA(nullptr, MAKEINTRESOURCEA(static_cast<int>(id)), "ICON");
    const void* bytes = LockResource(LoadResource(nullptr, resource));
    QPixmap pixmap;
    if (bytes == nullptr ||
        !pixmap.loadFromData(static_cast<const uchar*>(bytes), SizeofResource(nullptr, resource))) {
        return nullptr;
    }
    auto* icon = new QIcon(pixmap);
    icons->emplace(id, icon);
    return icon;
}

int AfxWinMain(int argc, char** argv) {
    QApplication application(argc, argv);
    CWinApp* app = AfxGetApp();
    if (app == nullptr || !app->InitInstance()) {
        return 0;
    }
    return QApplication::exec();
}
