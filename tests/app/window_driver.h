// Driving the real updater window from a test: the test's script runs inside the window's
// modal loop, waits for conditions while the loop keeps turning, and answers message boxes.
#pragma once

#include <gtest/gtest.h>

#include <QMessageBox>
#include <QObject>
#include <QString>
#include <QTimer>
#include <chrono>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "app/tarn_updator_app.h"
#include "engine/updater_engine.h"
#include "platform/qt/dialog.h"

namespace rxtest {

using namespace std::chrono_literals;

// Generous: the machine may be slow and loaded; nothing here waits that long when it works.
constexpr auto kDeadline = 60s;

// Turns the event loop until `done` holds; false when the deadline passed first.
bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds deadline = kDeadline);

// Runs `dialog` modally and `script` inside its loop; ends the dialog afterwards if the script
// did not. Returns DoModal's result.
INT_PTR RunModal(CDialog& dialog, const std::function<void()>& script);

struct SeenBox {
    std::string caption;
    std::string text;
    QMessageBox::Icon icon;
};

// Watches for message boxes while it lives and answers each with OK, after `onBox` has seen it
// up (the box is still showing then).
class BoxAnswerer {
  public:
    explicit BoxAnswerer(std::function<void(const SeenBox&)> onBox = {});
    ~BoxAnswerer();
    const std::vector<SeenBox>& Seen() const { return m_seen; }
    // Stops answering: boxes stay up until answered otherwise.
    void Hold(bool hold) { m_hold = hold; }

  private:
    void Poll();

    QTimer m_timer;
    std::function<void(const SeenBox&)> m_onBox;
    std::vector<SeenBox> m_seen;
    std::vector<QMessageBox*> m_reported;
    bool m_hold = false;
};

// The visible message box, if any.
QMessageBox* OpenBox();

// Controls of a running dialog by id, and their state.
QWidget* Item(CDialog& dialog, int id);
bool Enabled(CDialog& dialog, int id);
std::string Text(CDialog& dialog, int id);
void Click(CDialog& dialog, int id);

// Every text a control showed, in order, from now on.
class TextRecorder {
  public:
    TextRecorder(CDialog& dialog, int id);
    const std::vector<std::string>& Texts() const { return m_texts; }
    bool Contains(const std::string& text) const;

  private:
    QObject m_context;  // ends the connection with the recorder
    std::vector<std::string> m_texts;
};

// No pauses, and time-outs that a healthy unit meets even on a slow, loaded machine.
EngineTimings QuickTimings();
// Time-outs so long that only closing the window can end a wait.
EngineTimings EndlessTimings();

// A fresh runtime directory for the instance slots, and an application object that has taken
// the lowest free slot in it after the slots in `held` were taken by someone else. The slots
// that the test took, and those of application objects it hands to Keep, are given up at the
// end, which the program itself never does.
class AppFixture : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    // Takes slot `n` as another copy would.
    void Hold(int n);
    void StartApp(std::initializer_list<int> held = {});
    void Keep(const CTarnUpdatorApp& app);
    std::string RuntimeDir() const { return m_runtimeDir; }

    std::unique_ptr<CTarnUpdatorApp> m_app;

  private:
    std::string m_runtimeDir;
    std::vector<HANDLE> m_slots;
};

}  // namespace rxtest
