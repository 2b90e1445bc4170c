// The named locks behind the instance slots, on both of their mechanisms: a lock file in the
// runtime directory, and an abstract socket when there is no runtime directory.
#include "platform/instance_slot.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

enum class Mechanism { kRuntimeDirFile, kAbstractSocket };

class InstanceSlotTest : public ::testing::TestWithParam<Mechanism> {
  protected:
    void SetUp() override {
        if (GetParam() == Mechanism::kRuntimeDirFile) {
            char pattern[] = "/tmp/rx300-slot-test-XXXXXX";
            ASSERT_NE(mkdtemp(pattern), nullptr);
            m_dir = pattern;
            setenv("XDG_RUNTIME_DIR", pattern, 1);
        } else {
            unsetenv("XDG_RUNTIME_DIR");
        }
        // The socket namespace is shared by the whole machine: a name no other test uses.
        m_name = "rx300 slot test " + std::to_string(getpid()) + " " +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::replace(m_name.begin(), m_name.end(), '/', ' ');
    }
    void TearDown() override {
        if (!m_dir.empty()) {
            std::filesystem::remove_all(m_dir);
        }
    }

    std::string m_dir;
    std::string m_name;
};

TEST_P(InstanceSlotTest, SecondCreateFindsTheLockHeldUntilTheFirstIsClosed) {
    HANDLE first = CreateMutexA(nullptr, 1, m_name.c_str());
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);

    HANDLE second = CreateMutexA(nullptr, 1, m_name.c_str());
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_TRUE(CloseHandle(second));

    HANDLE other = CreateMutexA(nullptr, 1, (m_name + " (2)").c_str());
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS) << "another name is another lock";

    // Giving up a handle that found the lock held leaves the holder's lock alone.
    HANDLE third = CreateMutexA(nullptr, 1, m_name.c_str());
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    CloseHandle(third);

    EXPECT_TRUE(CloseHandle(first));
    HANDLE again = CreateMutexA(nullptr, 1, m_name.c_str());
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    CloseHandle(again);
    CloseHandle(other);
}

// The holder is killed outright: the lock must go with the process, not with its clean-up.
TEST_P(InstanceSlotTest, LockIsFreedWhenItsProcessIsKilled) {
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        HANDLE lock = CreateMutexA(nullptr, 1, m_name.c_str());
        const char created = lock != nullptr && GetLastError() == ERROR_SUCCESS ? 'y' : 'n';
        (void)!write(ready[1], &created, 1);
        pause();
        _exit(0);
    }
    close(ready[1]);
    char created = 0;
    ASSERT_EQ(read(ready[0], &created, 1), 1);
    close(ready[0]);
    EXPECT_EQ(created, 'y');

    HANDLE whileHeld = CreateMutexA(nullptr, 1, m_name.c_str());
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    CloseHandle(whileHeld);

    kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    HANDLE after = CreateMutexA(nullptr, 1, m_name.c_str());
    ASSERT_NE(after, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    CloseHandle(after);
}

// Many processes try at the same moment: exactly one creates the lock.
TEST_P(InstanceSlotTest, OfProcessesStartingTogetherExactlyOneCreatesTheLock) {
    constexpr int kProcesses = 8;
    int go[2];
    int results[2];
    ASSERT_EQ(pipe(go), 0);
    ASSERT_EQ(pipe(results), 0);
    std::vector<pid_t> children;
    for (int i = 0; i < kProcesses; ++i) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(go[1]);
            char start;
            (void)!read(go[0], &start, 1);  // returns when the parent closes its end
            HANDLE lock = CreateMutexA(nullptr, 1, m_name.c_str());
            const char outcome = lock == nullptr                          ? 'f'
                                 : GetLastError() == ERROR_ALREADY_EXISTS ? 'h'
                                                                          : 'c';
            (void)!write(results[1], &outcome, 1);
            pause();
            _exit(0);
        }
        children.push_back(child);
    }
    close(go[0]);
    close(go[1]);
    close(results[1]);
    std::string outcomes;
    char outcome;
    while (outcomes.size() < kProcesses && read(results[0], &outcome, 1) == 1) {
        outcomes += outcome;
    }
    close(results[0]);
    for (pid_t child : children) {
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
    }
    ASSERT_EQ(outcomes.size(), static_cast<std::size_t>(kProcesses));
    EXPECT_EQ(std::count(outcomes.begin(), outcomes.end(), 'c'), 1) << outcomes;
    EXPECT_EQ(std::count(outcomes.begin(), outcomes.end(), 'h'), kProcesses - 1) << outcomes;
}

INSTANTIATE_TEST_SUITE_P(Mechanisms, InstanceSlotTest,
                         ::testing::Values(Mechanism::kRuntimeDirFile, Mechanism::kAbstractSocket),
                         [](const auto& info) {
                             return info.param == Mechanism::kRuntimeDirFile ? "RuntimeDirFile"
                                                                             : "AbstractSocket";
                         });

TEST(InstanceSlotFileTest, DirectoryOfTheLockFilesNameCountsAsFailure) {
    char pattern[] = "/tmp/rx300-slot-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    setenv("XDG_RUNTIME_DIR", pattern, 1);
    std::filesystem::create_directory(std::string(pattern) + "/blocked.lock");
    EXPECT_EQ(CreateMutexA(nullptr, 1, "blocked"), nullptr);
    EXPECT_NE(GetLastError(), ERROR_SUCCESS);
    std::filesystem::remove_all(pattern);
}

}  // namespace
