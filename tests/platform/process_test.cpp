// Process services: the single-instance lock within one process and across processes, and the
// hidden neighbour-table command (run here through a stand-in "ip" that only writes down how it
// was started, and only ever with loopback addresses).

#include "platform/process.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <pthread.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace platform;
using Result = SingleInstanceLock::Result;

namespace {

std::string LockName() {
    return "kq-test-lock-" + std::to_string(::getpid());
}

// Runs body in a forked child and returns its exit code.
int InChild(const std::function<int()>& body) {
    const pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(body());
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int TryLockInChild(const std::string& name) {
    return InChild([&] {
        SingleInstanceLock lock;
        return int(lock.Acquire(name.c_str()));
    });
}

// Children of this process that exist (zombies included).
int ChildCount() {
    int count = 0;
    DIR* proc = ::opendir("/proc");
    while (const dirent* e = proc ? ::readdir(proc) : nullptr) {
        std::ifstream stat(std::string("/proc/") + e->d_name + "/stat");
        std::string line;
        if (!std::getline(stat, line))
            continue;
        // The parent id is the second field after the command, which is in parentheses.
        std::istringstream rest(line.substr(line.rfind(')') + 2));
        std::string state;
        int parent = 0;
        rest >> state >> parent;
        if (parent == ::getpid())
            ++count;
    }
    if (proc)
        ::closedir(proc);
    return count;
}

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds bound) {
    const auto end = std::chrono::steady_clock::now() + bound;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

TEST(SingleInstanceLock, SecondAcquireInTheSameProcessFindsTheFirst) {
    SingleInstanceLock first, second;
    ASSERT_EQ(first.Acquire(LockName().c_str()), Result::Acquired);
    EXPECT_EQ(second.Acquire(LockName().c_str()), Result::AlreadyExists);
    // Acquiring again with the same object gives up the old hold first.
    EXPECT_EQ(first.Acquire(LockName().c_str()), Result::Acquired);
    first.Release();
    EXPECT_EQ(second.Acquire(LockName().c_str()), Result::Acquired);
    EXPECT_EQ(first.Acquire((LockName() + "-other").c_str()), Result::Acquired);
    EXPECT_EQ(first.Acquire(""), Result::Failed);
}

TEST(SingleInstanceLock, AnotherProcessSeesTheLockUntilItIsGone) {
    {
        SingleInstanceLock held;
        ASSERT_EQ(held.Acquire(LockName().c_str()), Result::Acquired);
        EXPECT_EQ(TryLockInChild(LockName()), int(Result::AlreadyExists));
    }
    EXPECT_EQ(TryLockInChild(LockName()), int(Result::Acquired));

    // A holder that is killed leaves nothing behind.
    const std::string name = LockName(); // the child's own id would name another lock
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t holder = ::fork();
    if (holder == 0) {
        SingleInstanceLock lock;
        const char state = lock.Acquire(name.c_str()) == Result::Acquired ? 'y' : 'n';
        (void)!::write(ready[1], &state, 1);
        ::pause();
        ::_exit(0);
    }
    char state = 0;
    ASSERT_EQ(::read(ready[0], &state, 1), 1);
    EXPECT_EQ(state, 'y');
    SingleInstanceLock mine;
    EXPECT_EQ(mine.Acquire(LockName().c_str()), Result::AlreadyExists);
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    EXPECT_EQ(mine.Acquire(LockName().c_str()), Result::Acquired);
    ::close(ready[0]);
    ::close(ready[1]);
}

TEST(StartThread, RunsTheBodyOnAJoinableThread) {
    std::thread::id ranOn;
    std::thread t = StartThread([&] { ranOn = std::this_thread::get_id(); });
    const std::thread::id id = t.get_id();
    ASSERT_TRUE(t.joinable());
    t.join();
    EXPECT_EQ(ranOn, id);
    EXPECT_NE(ranOn, std::this_thread::get_id());
}

class ArpCleanupTest : public ::testing::Test {
  protected:
    void SetUp() override { m_oldPath = std::getenv("PATH") ? std::getenv("PATH") : ""; }
    void TearDown() override { ::setenv("PATH", m_oldPath.c_str(), 1); }
    std::string m_oldPath;
};

TEST_F(ArpCleanupTest, StartsIpHiddenWithoutWaitingAndReapsIt) {
    TempFolder folder("platform");
    const std::string dir = folder.Path().string();
    // The stand-in notes its arguments and where its output goes, then takes its time.
    WriteTextFile("ip", "#!/bin/sh\nPATH=/usr/bin:/bin\n"
                        "echo \"$*|$(readlink /proc/$$/fd/1)|$(readlink /proc/$$/fd/2)\" > " +
                            dir +
                            "/args.tmp\n"
                            "mv " +
                            dir + "/args.tmp " + dir + "/args\nsleep 0.3\necho noise\n");
    ::chmod("ip", 0755);
    ::setenv("PATH", dir.c_str(), 1);
    PrepareChildProcesses(); // as a program does at its start
    const int childrenBefore = ChildCount();

    const auto start = std::chrono::steady_clock::now();
    StartArpCleanup("127.0.0.10");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(250));

    ASSERT_TRUE(WaitFor([] { return std::filesystem::exists("args"); }, std::chrono::seconds(5)));
    EXPECT_EQ(ReadTextFile("args"), "neigh flush to 127.0.0.10|/dev/null|/dev/null\n");
    EXPECT_TRUE(WaitFor([&] { return ChildCount() == childrenBefore; }, std::chrono::seconds(5)));
}

// A middle process stuck after its fork does not hold the program: it is ended and reaped.
volatile sig_atomic_t g_stickAfterFork = 0;

TEST_F(ArpCleanupTest, StuckMiddleProcessDoesNotHoldTheProgram) {
    const pid_t child = ::fork();
    if (child == 0) {
        ::pthread_atfork(nullptr, nullptr, [] {
            while (g_stickAfterFork)
                ::pause();
        });
        const int childrenBefore = ChildCount();
        g_stickAfterFork = 1;
        PrepareChildProcesses();
        ::_exit(ChildCount() == childrenBefore ? 0 : 1);
    }
    int status = 0;
    const bool ended = WaitFor([&] { return ::waitpid(child, &status, WNOHANG) == child; },
                               std::chrono::seconds(20));
    if (!ended)
        ::kill(child, SIGKILL), ::waitpid(child, &status, 0);
    EXPECT_TRUE(ended && WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST_F(ArpCleanupTest, WithoutIpNothingHappens) {
    TempFolder folder("platform");
    ::setenv("PATH", folder.Path().string().c_str(), 1);
    const int childrenBefore = ChildCount();
    StartArpCleanup("127.0.0.11");
    EXPECT_EQ(ChildCount(), childrenBefore);
}

} // namespace
