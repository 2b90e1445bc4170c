// Start-up: the slot search in process, and the real program started as 21 separate copies in
// a runtime directory of the test's own, so that a user's running copies are never touched.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QDialog>
#include <QFileInfo>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "app/tarn_updator_app.h"
#include "platform/instance_slot.h"
#include "tests/app/window_driver.h"

extern char** environ;

namespace {

using namespace rxtest;

constexpr char kRefusal[] = "It is forbidden to launch more than 20 instance of this application.";

struct SlotCase {
    std::vector<int> held;
    int taken;  // 0: none free
};

class SlotSearchTest : public AppFixture, public ::testing::WithParamInterface<SlotCase> {};

TEST_P(SlotSearchTest, TakesTheLowestFreeSlot) {
    for (int n : GetParam().held) {
        Hold(n);
    }
    CTarnUpdatorApp app;
    EXPECT_EQ(app.TakeInstanceSlot(), GetParam().taken != 0);
    Keep(app);
    EXPECT_EQ(app.m_instanceNumber, GetParam().taken);
}

std::vector<int> Range(int first, int last) {
    std::vector<int> numbers;
    for (int n = first; n <= last; ++n) {
        numbers.push_back(n);
    }
    return numbers;
}

INSTANTIATE_TEST_SUITE_P(Held, SlotSearchTest,
                         ::testing::Values(SlotCase{{}, 1}, SlotCase{{1}, 2}, SlotCase{{1, 3}, 2},
                                           SlotCase{{2}, 1}, SlotCase{Range(1, 19), 20},
                                           SlotCase{Range(1, 20), 0}),
                         [](const auto& info) {
                             std::string name = "held";
                             for (int n : info.param.held) {
                                 name += "_" + std::to_string(n);
                             }
                             return name;
                         });

class StartupTest : public AppFixture {};

TEST_F(StartupTest, SlotNamesCarryTheNumberFromTheSecondOn) {
    EXPECT_EQ(InstanceTitle(1), "TAVO RX-300 v3.10 Updater");
    EXPECT_EQ(InstanceTitle(2), "TAVO RX-300 v3.10 Updater (2)");
    EXPECT_EQ(InstanceTitle(20), "TAVO RX-300 v3.10 Updater (20)");
}

TEST_F(StartupTest, SlotWhoseNameIsTakenByAnotherKindOfObjectCountsAsBusy) {
    std::filesystem::create_directory(RuntimeDir() + "/" + InstanceTitle(1) + ".lock");
    CTarnUpdatorApp app;
    ASSERT_TRUE(app.TakeInstanceSlot());
    Keep(app);
    EXPECT_EQ(app.m_instanceNumber, 2);
}

TEST_F(StartupTest, TwentyFirstCopyIsRefusedWithAMessageAndNoWindow) {
    for (int n = 1; n <= 20; ++n) {
        Hold(n);
    }
    CTarnUpdatorApp app;
    bool windowShown = false;
    BoxAnswerer boxes([&](const SeenBox&) {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            windowShown = windowShown ||
                          (qobject_cast<QDialog*>(widget) != nullptr &&
                           qobject_cast<QMessageBox*>(widget) == nullptr && widget->isVisible());
        }
    });
    EXPECT_FALSE(app.InitInstance());
    ASSERT_EQ(boxes.Seen().size(), 1u);
    EXPECT_EQ(boxes.Seen()[0].text, kRefusal);
    EXPECT_EQ(boxes.Seen()[0].icon, QMessageBox::Warning);
    EXPECT_EQ(boxes.Seen()[0].caption,
              QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName().toStdString());
    EXPECT_FALSE(windowShown);
    EXPECT_EQ(app.m_instanceNumber, 0);
}

// A copy of the real program, its standard error in a file.
class Copy {
  public:
    Copy(const std::string& runtimeDir, const std::string& errorFile) : m_errorFile(errorFile) {
        std::vector<std::string> env;
        for (char** e = environ; *e != nullptr; ++e) {
            const std::string entry = *e;
            if (entry.rfind("XDG_RUNTIME_DIR=", 0) != 0) {
                env.push_back(entry);
            }
        }
        env.push_back("XDG_RUNTIME_DIR=" + runtimeDir);
        env.push_back("RX300_TEST_DISMISS_BOXES=1");
        env.push_back("QT_QPA_PLATFORM=offscreen");
        env.push_back("RX300_MIDI=virtual");
        std::vector<char*> envp;
        for (auto& entry : env) {
            envp.push_back(entry.data());
        }
        envp.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 2, errorFile.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        char program[] = RX300_UPDATER_PROGRAM;
        char* argv[] = {program, nullptr};
        if (posix_spawn(&m_pid, program, &actions, nullptr, argv, envp.data()) != 0) {
            m_pid = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Copy() {
        if (Running()) {
            kill(m_pid, SIGTERM);
            Reap(kDeadline);
        }
    }

    pid_t Pid() const { return m_pid; }
    bool Running() {
        if (m_pid <= 0 || m_status) {
            return false;
        }
        int status = 0;
        if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_status = status;
            return false;
        }
        return true;
    }
    // The exit status once the copy has ended by itself within `deadline`.
    std::optional<int> Reap(std::chrono::milliseconds deadline) {
        const auto end = std::chrono::steady_clock::now() + deadline;
        while (Running() && std::chrono::steady_clock::now() < end) {
            std::this_thread::sleep_for(5ms);
        }
        return m_status;
    }
    void Kill() {
        kill(m_pid, SIGKILL);
        Reap(kDeadline);
    }
    std::string Errors() const {
        std::ifstream in(m_errorFile);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

  private:
    std::string m_errorFile;
    pid_t m_pid = -1;
    std::optional<int> m_status;
};

// The process holding the flock on `file`, as the kernel lists it; -1 when none does.
pid_t Holder(const std::string& file) {
    struct stat info {};
    if (stat(file.c_str(), &info) != 0) {
        return -1;
    }
    std::ifstream locks("/proc/locks");
    std::string line;
    while (std::getline(locks, line)) {
        std::istringstream fields(line);
        std::string id, kind, mode, access, device;
        pid_t pid = -1;
        fields >> id >> kind;
        if (kind != "FLOCK") {
            continue;
        }
        fields >> mode >> access >> pid >> device;
        const std::string inode = device.substr(device.rfind(':') + 1);
        if (inode == std::to_string(info.st_ino)) {
            return pid;
        }
    }
    return -1;
}

// Waits (polling, with a deadline) until `pid` holds slot `n`.
bool WaitForHolder(const std::string& dir, int n, pid_t pid) {
    const std::string file = dir + "/" + InstanceTitle(n) + ".lock";
    const auto end = std::chrono::steady_clock::now() + kDeadline;
    while (Holder(file) != pid) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

TEST_F(StartupTest, TwentyCopiesRunSideBySideTheTwentyFirstIsRefusedAndFreedSlotsAreReused) {
    const std::string dir = RuntimeDir();
    std::vector<std::unique_ptr<Copy>> copies;
    for (int n = 1; n <= 20; ++n) {
        copies.push_back(std::make_unique<Copy>(dir, dir + "/copy" + std::to_string(n) + ".err"));
        ASSERT_GT(copies.back()->Pid(), 0);
        ASSERT_TRUE(WaitForHolder(dir, n, copies.back()->Pid())) << "copy " << n;
    }

    Copy refused(dir, dir + "/refused.err");
    const std::optional<int> status = refused.Reap(kDeadline);
    ASSERT_TRUE(status.has_value()) << "the 21st copy did not end by itself";
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
    EXPECT_EQ(refused.Errors(), std::string("rx300-updater: ") + kRefusal + "\n");
    for (int n = 1; n <= 20; ++n) {
        EXPECT_TRUE(copies[n - 1]->Running()) << "copy " << n;
        EXPECT_TRUE(WaitForHolder(dir, n, copies[n - 1]->Pid())) << "copy " << n;
    }

    // A copy that dies without cleaning up frees its slot for the next one.
    copies[1]->Kill();
    Copy next(dir, dir + "/next.err");
    EXPECT_TRUE(WaitForHolder(dir, 2, next.Pid()));
    EXPECT_TRUE(WaitForHolder(dir, 1, copies[0]->Pid()));
    EXPECT_TRUE(WaitForHolder(dir, 3, copies[2]->Pid()));
}

}  // namespace
