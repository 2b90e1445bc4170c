// Every test here runs on Qt's offscreen platform with no MIDI system but the virtual devices,
// and keeps its instance slots in a runtime directory of its own.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

namespace {

class QtEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        // Each test sets its own; this one keeps Qt quiet until then.
        char runtimeDir[] = "/tmp/rx300-qt-test-XXXXXX";
        if (mkdtemp(runtimeDir) != nullptr) {
            m_runtimeDir = runtimeDir;
            setenv("XDG_RUNTIME_DIR", runtimeDir, 1);
        }
        static int argc = 1;
        static char name[] = "rx300-updater-test";
        static char* argv[] = {name, nullptr};
        m_app = std::make_unique<QApplication>(argc, argv);
    }
    void TearDown() override {
        m_app.reset();
        if (!m_runtimeDir.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(m_runtimeDir, ignored);
        }
    }

  private:
    std::unique_ptr<QApplication> m_app;
    std::string m_runtimeDir;
};

const bool kRegistered = [] {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("RX300_MIDI", "virtual", 1);
    unsetenv("RX300_TEST_DISMISS_BOXES");
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);
    return true;
}();

}  // namespace
