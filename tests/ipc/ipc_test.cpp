// ipc_test.cpp - the diagnostic log and the System V wrappers, on real
// kernel objects and with failures injected through the system-call table.
#include "debug.h"
#include "debug_internal.h"
#include "shm.h"
#include "shm_syscalls.h"
#include "stderr_capture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

namespace {

constexpr key_t kKey = 1632;
using shm_internal::sys;

class Ipc : public ::testing::Test {
  protected:
    void SetUp() override { debugLevels = 0, debug_open_log(nullptr); }
    void TearDown() override
    {
        sys = shm_internal::kRealSyscalls, debugLevels = -1;  // quiet removals
        remove_shm(kKey), remove_sem(kKey), remove_msg(kKey);
        debugLevels = 0;
    }
};

// "section|message\n" only above the threshold, errno kept, a format longer
// than the 8192-byte work area written whole (the sanitizer sees an overrun).
TEST_F(Ipc, LogLineAboveItsThreshold)
{
    const int cases[][3] = {{0, -1, 1}, {-1, -1, 1},   {2, 2, 1},     {3, 2, 1},     {8, 8, 1},
                            {9, 8, 1},  {0, -1, 8187}, {0, -1, 8192}, {0, -1, 20000}};
    for (const auto& [level, min, len] : cases) {
        debugLevels = level;
        const std::string format(len, 'f');
        errno = EIDRM;
        const int threshold = min;
        EXPECT_EQ(capture_stderr([&] { DB_ABOVE(threshold, 10, (format + "%d").c_str(), 42); }),
                  level > min ? "10|" + format + "42\n" : "")
            << level << " " << len;
        EXPECT_EQ(errno, EIDRM);
    }
}

// Each run starts its log file anew; the version line needs level 9; the
// program's base name is kept, at most 80 bytes of it.
TEST_F(Ipc, LogFileStartsAnewAndKeepsTheBaseName)
{
    const std::string path = ::testing::TempDir() + "/zel_debug_test.log", name(100, 'n');
    std::ofstream(path) << "an earlier run's line\n";
    debugLevels = 8;
    init_debug(("/bin/" + name).c_str(), path.c_str());
    EXPECT_EQ(std::string(debug_process_name(), strnlen(debug_process_name(), 80)),
              name.substr(0, 80));
    _db_print(4, "to file %d", 1);
    std::ifstream in(path);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "4|to file 1\n");
    init_debug("dir/", nullptr);
    EXPECT_EQ(debug_process_name()[0], '\0');
    debugLevels = 9;
    EXPECT_EQ(capture_stderr([] { init_debug("p", nullptr); }).rfind("0|", 0), 0u);
    capture_stderr([] { EXPECT_EQ(debug_open_log("/nonexistent-dir/zel.log"), -1); });
    EXPECT_EQ(debug_destination(), stderr);
}

// Every device process, whatever its user, reaches the objects; a second
// creation finds the first (get_shm_ptr_min's bound: in tests/faults).
// peek_msg leaves the message queued; get_msg refuses one longer than 4 bytes.
TEST_F(Ipc, ObjectsSharedFoundAgainAndMessagesKept)
{
    struct shmid_ds shm = {};
    struct semid_ds sem = {};
    struct msqid_ds msg = {};
    ASSERT_EQ(shmctl(create_shm(kKey, 4096), IPC_STAT, &shm), 0);
    ASSERT_EQ(semctl(create_sem(kKey, 1), 0, IPC_STAT, &sem), 0);
    ASSERT_EQ(msgctl(create_msg(kKey), IPC_STAT, &msg), 0);
    for (const auto mode : {shm.shm_perm.mode, sem.sem_perm.mode, msg.msg_perm.mode})
        EXPECT_EQ(mode & 0777, 0666);
    EXPECT_EQ(create_shm(kKey, 4096), get_shm_id(kKey));
    EXPECT_EQ(create_msg(kKey), get_msg_id(kKey));
    EXPECT_EQ(remove_shm(kKey), 0);
    EXPECT_EQ(get_shm_id(kKey), -1);
    const int q = get_msg_id(kKey);
    struct {
        long mtype;
        char mtext[5];
    } m = {7, {'x', 'b', 'c', 'd', 'e'}};
    ASSERT_EQ(put_msg_text(q, 7, 'x'), 0);
    EXPECT_EQ(peek_msg(q, 8) * 10 + peek_msg(q, 7) + peek_msg(q, 7), 2);
    EXPECT_EQ(get_msg(q, reinterpret_cast<struct msgbuf*>(&m), 0), 1);
    EXPECT_EQ(peek_msg(q, 7), 0);
    ASSERT_EQ(msgsnd(q, &m, sizeof m.mtext, 0), 0);
    EXPECT_NE(capture_stderr([&] { get_msg(q, reinterpret_cast<struct msgbuf*>(&m), 7); }), "");
    EXPECT_EQ(peek_msg(q, 7), 1);
}

// down takes the lock, downNB fails while it is taken, up gives it back. A
// new creation sets the first N to 1, leaves the rest, logs the version above 5.
TEST_F(Ipc, LockTakenGivenBackAndReset)
{
    debugLevels = 5;
    int sem = -1;
    EXPECT_EQ(capture_stderr([&] { sem = create_sem(kKey, 3); }), "");
    EXPECT_EQ(down(sem, 0), 0);
    EXPECT_EQ(downNB(sem, 0) == -1 ? errno : 0, EAGAIN);
    EXPECT_EQ(up(sem, 0), 0);
    EXPECT_EQ(downNB(sem, 0), 0);
    setSem(sem, 1, 0), setSem(sem, 2, 0);
    debugLevels = 6;
    const std::string version = capture_stderr([&] { EXPECT_EQ(create_sem(kKey, 2), sem); });
    EXPECT_EQ(std::count(version.begin(), version.end(), '\n'), 1) << version;
    EXPECT_EQ(getSemVal(sem, 0) * 100 + getSemVal(sem, 1) * 10 + getSemVal(sem, 2), 110);
}

int g_errno, g_semopCalls;  // errno the failing calls report; semop calls (the first fails)
bool g_lookups;             // the get calls succeed with identifier 5
int fail()
{
    errno = g_errno;
    return -1;
}

// A failed call gives -1 (or null), errno kept, after the wrapper's line at the
// level given (a lock at level 0). down and up retry after EINTR; semWait does not.
TEST_F(Ipc, FailedCallsGiveMinusOneAndKeepErrno)
{
    sys.shmget = [](key_t, size_t, int) { return g_lookups ? 5 : fail(); };
    sys.msgget = [](key_t, int) { return g_lookups ? 5 : fail(); };
    sys.shmat = [](int, const void*, int) { return reinterpret_cast<void*>(fail()); };
    sys.semop = [](int, struct sembuf*, size_t) { return ++g_semopCalls == 1 ? fail() : 0; };
    sys.msgrcv = [](int, void*, size_t, long, int) { return static_cast<ssize_t>(fail()); };
    sys.msgctl = [](int, int, struct msqid_ds*) { return fail(); };
    const struct {
        int (*call)();
        bool lookups;
        int level, err, rc = -1;
    } cases[] = {
        {[] { return down(1, 0); }, false, 0, EIDRM},
        {[] { return up(1, 0); }, false, 0, EIDRM},
        {[] { return down(1, 0); }, false, 0, EINTR, 0},
        {[] { return up(1, 0); }, false, 0, EINTR, 0},
        {[] { return semWait(1, 0); }, false, 3, EINTR},
        {[] { return get_shm_ptr(1) ? 0 : -1; }, true, 0, ENOMEM},
        {[] { return create_msg(1); }, false, 3, ENOSPC},
        {[] { return remove_msg(1); }, true, -1, EPERM},
        {[] { return get_msg(5, nullptr, 0); }, false, -1, EINTR},
    };
    for (const auto& c : cases) {
        g_errno = c.err, g_lookups = c.lookups, debugLevels = c.level, g_semopCalls = 0;
        int rc = 0, err = 0;
        const std::string line = capture_stderr([&] { errno = 0, rc = c.call(), err = errno; });
        EXPECT_EQ(line.empty(), rc == 0) << line;
        EXPECT_EQ(rc, c.rc) << &c - cases;
        EXPECT_EQ(err, c.err) << &c - cases;
    }
}

}  // namespace
