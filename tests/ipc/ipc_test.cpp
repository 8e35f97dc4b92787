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

// Each run starts its log file anew; the version line needs level 9; the
// base name is kept, at most 80 bytes of it; lines longer than the 8192-byte
// work area are written whole (the sanitizer sees an overrun), errno kept.
TEST_F(Ipc, LogFileStartsAnewAndKeepsTheBaseName)
{
    const std::string path = ::testing::TempDir() + "/zel_debug_test.log", name(100, 'n'),
                      f1(8192, 'f'), f2(20000, 'g');
    std::ofstream(path) << "an earlier run's line\n";
    debugLevels = 8;
    init_debug(("/bin/" + name).c_str(), path.c_str());
    EXPECT_EQ(std::string(debug_process_name(), strnlen(debug_process_name(), 80)),
              name.substr(0, 80));
    errno = EIDRM;
    _db_print(4, (f1 + "%d").c_str(), 1), _db_print(4, (f2 + "%d").c_str(), 2);
    EXPECT_EQ(errno, EIDRM);
    std::ifstream in(path);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}),
              "4|" + f1 + "1\n4|" + f2 + "2\n");
    debugLevels = 9;
    EXPECT_EQ(capture_stderr([] { init_debug("p", nullptr); }).rfind("0|", 0), 0u);
}

// Objects open to every user; a second creation finds the first (of a lock
// set: the first N set to 1, the rest kept, the version logged above level 5);
// peek_msg leaves the message queued; get_msg refuses one longer than 4 bytes.
TEST_F(Ipc, ObjectsSharedFoundAgainAndMessagesKept)
{
    shmid_ds shm{};
    semid_ds sem{};
    msqid_ds msg{};
    debugLevels = 5;
    int set = -1;
    EXPECT_EQ(capture_stderr([&] { set = create_sem(kKey, 3); }), "");
    ASSERT_EQ(shmctl(create_shm(kKey, 4096), IPC_STAT, &shm), 0);
    ASSERT_EQ(semctl(set, 0, IPC_STAT, &sem), 0);
    ASSERT_EQ(msgctl(create_msg(kKey), IPC_STAT, &msg), 0);
    for (const auto mode : {shm.shm_perm.mode, sem.sem_perm.mode, msg.msg_perm.mode})
        EXPECT_EQ(mode & 0777, 0666);
    EXPECT_EQ(create_shm(kKey, 4096), get_shm_id(kKey));
    EXPECT_EQ(create_msg(kKey), get_msg_id(kKey));
    EXPECT_EQ(down(set, 0), 0);
    EXPECT_EQ(downNB(set, 0) == -1 ? errno : 0, EAGAIN);
    setSem(set, 1, 0), setSem(set, 2, 0);
    debugLevels = 6;
    const std::string version = capture_stderr([&] { EXPECT_EQ(create_sem(kKey, 2), set); });
    EXPECT_EQ(std::count(version.begin(), version.end(), '\n'), 1) << version;
    EXPECT_EQ(getSemVal(set, 0) * 100 + getSemVal(set, 1) * 10 + getSemVal(set, 2), 110);
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

int g_errno, g_semopCalls;  // errno of the first semop call, which fails; semop calls

// A failed lock call gives -1, errno kept, after the wrapper's line at the
// level given (always for a lock). down and up retry after EINTR; semWait does not.
TEST_F(Ipc, FailedLockCallsGiveMinusOneAndKeepErrno)
{
    sys.semop = [](int, struct sembuf*, size_t) {
        errno = g_errno;
        return ++g_semopCalls == 1 ? -1 : 0;
    };
    const struct {
        int (*call)();
        int level, err, rc = -1;
    } cases[] = {
        {[] { return down(1, 0); }, 0, EIDRM},
        {[] { return down(1, 0); }, 0, EINTR, 0},
        {[] { return up(1, 0); }, 0, EINTR, 0},
        {[] { return semWait(1, 0); }, 3, EINTR},
    };
    for (const auto& c : cases) {
        g_errno = c.err, debugLevels = c.level, g_semopCalls = 0;
        int rc = 0, err = 0;
        const std::string line = capture_stderr([&] { errno = 0, rc = c.call(), err = errno; });
        EXPECT_EQ(line.empty(), rc == 0) << line;
        EXPECT_EQ(rc, c.rc) << &c - cases;
        EXPECT_EQ(err, c.err) << &c - cases;
    }
}

}  // namespace
