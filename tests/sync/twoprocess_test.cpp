// The shared-memory lock between two processes: the second one is the
// helper program (tests/helpers/lock_helper.cpp), started with posix_spawn.
#include <gtest/gtest.h>

#if !defined(_WIN32)

#include <cerrno>
#include <csignal>
#include <string>

#include <dirent.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vorlix/vorlix.h>

#include "sync/sync_support.h"

extern char** environ;

namespace {

using synctest::kWritten;

// The helper, its standard output on a pipe.
class Helper {
public:
    Helper(const std::string& name, int count, int index, int ms) {
        int fds[2];
        if (pipe(fds) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        std::string c = std::to_string(count), i = std::to_string(index), m = std::to_string(ms);
        const char* argv[] = {VORLIX_LOCK_HELPER, name.c_str(), c.c_str(), i.c_str(), m.c_str(), nullptr};
        if (posix_spawn(&m_pid, VORLIX_LOCK_HELPER, &actions, nullptr, const_cast<char**>(argv), environ) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        m_out = fds[0];
    }
    ~Helper() {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            Wait();
        }
        if (m_out >= 0) close(m_out);
    }
    // Whether the helper said "held" within 10 s.
    bool Held() {
        std::string line;
        char c;
        pollfd p{m_out, POLLIN, 0};
        while (line.size() < 16 && poll(&p, 1, 10000) == 1 && read(m_out, &c, 1) == 1 && c != '\n') line += c;
        return line == "held";
    }
    void Kill() { kill(m_pid, SIGKILL); }
    // The exit status, or -1 when it did not end normally.
    int Wait() {
        int status = 0;
        while (waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {}
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t m_pid = -1;
    int m_out = -1;
};

// The shared-memory objects of this user whose name contains `part`.
int SharedObjects(const std::string& part) {
    int n = 0;
    if (DIR* d = opendir("/dev/shm")) {
        while (dirent* e = readdir(d))
            if (std::string(e->d_name).find(part) != std::string::npos) ++n;
        closedir(d);
    }
    return n;
}

}  // namespace

TEST(SyncTwoProcess, WriteSeenThenTakenAfterTheRelease) {
    std::string name = synctest::UniqueName("vorlix\\twoproc_seen");
    Helper helper(name, 4, 2, 300);
    ASSERT_TRUE(helper.Held());
    CWaitIndexMutexEx lock(4, name.c_str());
    ASSERT_TRUE(lock.IsOn());
    EXPECT_EQ(lock.m_pdwLockFlag[2], kWritten);
    EXPECT_EQ(lock.WaitForRead(2, 30, 1, 1), 0);
    DWORD set[2] = {1, 2};
    EXPECT_EQ(lock.WaitForMultiRead(set, 2, 5000, 1), 1);  // notices the release made elsewhere
    EXPECT_EQ(helper.Wait(), 0);
    EXPECT_EQ(lock.m_pdwLockFlag[2], 1u);
    EXPECT_EQ(lock.ReleaseForMultiRead(set, 2, 1), 1);
}

TEST(SyncTwoProcess, KilledWriterNeitherWedgesNorLeavesObjects) {
    std::string name = synctest::UniqueName("vorlix\\twoproc_killed");
    std::string upper = "VORLIX_TWOPROC_KILLED_" + std::to_string(static_cast<long>(getpid()));
    {
        Helper helper(name, 3, 1, -1);
        ASSERT_TRUE(helper.Held());
        CWaitIndexMutexEx lock(3, name.c_str());
        ASSERT_TRUE(lock.IsOn());
        EXPECT_EQ(lock.m_pdwLockFlag[1], kWritten);
        helper.Kill();
        EXPECT_EQ(helper.Wait(), -1);
        EXPECT_EQ(lock.WaitForWrite(1, 1000, 1), 1);  // the killed holder's share is gone
        lock.ReleaseForWrite(1);
        EXPECT_EQ(lock.m_pdwLockFlag[1], 0u);
        EXPECT_GT(SharedObjects(upper), 0);
    }
    EXPECT_EQ(SharedObjects(upper), 0);
}

#endif
