// shm_test.cpp - the System V wrappers against real kernel objects (private
// IPC namespace): results and exact log lines. The lock's undo on exit is
// proven end to end by killing a lock holder (tests/faults).
#include "shm.h"
#include "debug.h"
#include "stderr_capture.h"

#include <gtest/gtest.h>

#include <sys/msg.h>
#include <sys/sem.h>
#include <sys/shm.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

namespace {

constexpr key_t kKey = 1632;
constexpr key_t kMissingKey = 0x5a5a;

// A received message with room for the 4 text bytes get_msg accepts.
struct Msg4 {
    long mtype;
    char mtext[4];
};

class Ipc : public ::testing::Test {
  protected:
    void SetUp() override { debugLevels = 0, debug_open_log(nullptr); }
    void TearDown() override
    {
        debugLevels = -1;  // removals of objects a test did not create stay quiet
        remove_shm(kKey), remove_sem(kKey), remove_msg(kKey);
        debugLevels = 0;
    }
};

TEST_F(Ipc, MissingObjectsLinesPerLevel)
{
    const auto attach = [](key_t k) { return get_shm_ptr(k) == nullptr ? -1 : 0; };
    const std::string no_id = "10|Attempt to get shared memory segment ID failed\n";
    const struct {
        int (*fn)(key_t);
        int level;
        std::string expected;
    } cases[] = {
        {attach, 0, "10|Could not get ID of segment to attach\n"},
        {attach, 3, no_id + "10|Could not get ID of segment to attach\n"},
        {attach, -1, ""},
        {remove_shm, 0, ""},
        {remove_shm, 3, no_id},
        {remove_shm, 6, no_id + "10|Unable to find shared memory to remove\n"},
        {remove_sem, 3, "10|semaphore get failed in attach\n"},
        {remove_sem, 6,
         "10|semaphore get failed in attach\n10|Unable to find semaphore to remove\n"},
        {remove_msg, 3, "10|Failed to get msgQ id, errno: 2\n"},
        {remove_msg, 6,
         "10|Failed to get msgQ id, errno: 2\n10|Unable to find msgQ id to remove\n"},
    };
    for (const auto& c : cases) {
        debugLevels = c.level;
        int rc = 0;
        EXPECT_EQ(capture_stderr([&] { rc = c.fn(kMissingKey); }), c.expected) << c.level;
        EXPECT_EQ(rc, -1);
    }
}

TEST_F(Ipc, SegmentCreateAttachShareRemove)
{
    const int id = create_shm(kKey, 4096);
    ASSERT_GE(id, 0);
    EXPECT_EQ(create_shm(kKey, 4096), id);  // found, not refused
    EXPECT_EQ(get_shm_id(kKey), id);
    auto* a = static_cast<unsigned char*>(get_shm_ptr(kKey));
    auto* b = static_cast<unsigned char*>(get_shm_ptr_by_id(id));
    ASSERT_TRUE(a != nullptr && b != nullptr);
    a[4095] = 0xA5;
    EXPECT_EQ(b[4095], 0xA5);
    auto* c = static_cast<unsigned char*>(get_shm_ptr_min(kKey, 4096));  // exactly the size
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c[4095], 0xA5);
    const std::string line = capture_stderr([&] {
        EXPECT_EQ(get_shm_ptr_min(kKey, 4097), nullptr);  // one byte short
        EXPECT_EQ(errno, EINVAL);
    });
    EXPECT_EQ(line, "10|Could not attach memory segment requested\n");
    shmdt(a), shmdt(b), shmdt(c);
    EXPECT_EQ(remove_shm(kKey), 0);
    EXPECT_EQ(get_shm_id(kKey), -1);
}

TEST_F(Ipc, DownUpDownNBAndTraceLines)
{
    alarm(5);  // a downNB that waits for the taken lock fails the run instead of hanging it
    const int sem = create_sem(kKey, 1);
    ASSERT_GE(sem, 0);
    EXPECT_EQ(get_sem(kKey), sem);
    debugLevels = 9;
    int rc = -1;
    EXPECT_EQ(capture_stderr([&] { rc = down(sem, 0); }), "10|semaphore down, num: 0\n");
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(getSemVal(sem, 0), 0);
    int err = 0;
    // Taken: fails at once with no line of its own beyond the trace.
    EXPECT_EQ(capture_stderr([&] { rc = downNB(sem, 0), err = errno; }),
              "10|semaphore NBdown, num: 0\n");
    EXPECT_EQ(rc, -1);
    EXPECT_EQ(err, EAGAIN);
    EXPECT_EQ(capture_stderr([&] { rc = up(sem, 0); }), "10|semaphore up, num: 0\n");
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(getSemVal(sem, 0), 1);
    EXPECT_EQ(downNB(sem, 0), 0);
    EXPECT_EQ(getSemVal(sem, 0), 0);
    alarm(0);
}

// Every device process, whatever its user, reaches the objects.
TEST_F(Ipc, ObjectsAreCreatedForEveryDeviceProcess)
{
    struct shmid_ds shm_ds = {};
    struct semid_ds sem_ds = {};
    struct msqid_ds msg_ds = {};
    ASSERT_EQ(shmctl(create_shm(kKey, 64), IPC_STAT, &shm_ds), 0);
    ASSERT_EQ(semctl(create_sem(kKey, 1), 0, IPC_STAT, &sem_ds), 0);
    ASSERT_EQ(msgctl(create_msg(kKey), IPC_STAT, &msg_ds), 0);
    for (const auto mode : {shm_ds.shm_perm.mode, sem_ds.sem_perm.mode, msg_ds.msg_perm.mode})
        EXPECT_EQ(mode & 0777, 0666);
}

TEST_F(Ipc, CreateSemOnExistingSetResetsTheFirstN)
{
    debugLevels = 5;  // the version line needs a level above 5
    int sem = -1;
    EXPECT_EQ(capture_stderr([&] { sem = create_sem(kKey, 3); }), "");
    ASSERT_GE(sem, 0);
    debugLevels = 6;
    const std::string version = capture_stderr([&] { EXPECT_EQ(create_sem(kKey, 3), sem); });
    EXPECT_EQ(version.rfind("10|", 0), 0u) << version;
    EXPECT_EQ(std::count(version.begin(), version.end(), '\n'), 1) << version;
    debugLevels = 0;
    for (int i = 0; i < 3; ++i)
        setSem(sem, i, 0);
    EXPECT_EQ(create_sem(kKey, 2), sem);
    EXPECT_EQ(getSemVal(sem, 0) * 100 + getSemVal(sem, 1) * 10 + getSemVal(sem, 2), 110);
    EXPECT_EQ(remove_sem(kKey), 0);
    EXPECT_EQ(get_sem(kKey), -1);
}

TEST_F(Ipc, PeekLeavesTheMessageAndGetMsgRefusesALongerOne)
{
    const int q = create_msg(kKey);
    ASSERT_GE(q, 0);
    EXPECT_EQ(get_msg_id(kKey), q);
    ASSERT_EQ(put_msg_text(q, 7, 'x'), 0);
    EXPECT_EQ(peek_msg(q, 8), 0);
    EXPECT_EQ(peek_msg(q, 7), 1);
    EXPECT_EQ(peek_msg(q, 7), 1);  // still queued
    Msg4 m = {};
    EXPECT_EQ(get_msg(q, reinterpret_cast<struct msgbuf*>(&m), 0), 1);
    EXPECT_EQ(m.mtype, 7);
    EXPECT_EQ(m.mtext[0], 'x');
    EXPECT_EQ(peek_msg(q, 7), 0);
    struct {
        long mtype;
        char mtext[5];
    } big = {3, {'a', 'b', 'c', 'd', 'e'}};
    ASSERT_EQ(msgsnd(q, &big, sizeof big.mtext, 0), 0);
    int rc = 0;
    EXPECT_EQ(capture_stderr([&] { rc = get_msg(q, reinterpret_cast<struct msgbuf*>(&m), 3); }),
              "Failed attempt to get config update message on queue: " +
                  std::string(std::strerror(E2BIG)) + "\n");
    EXPECT_EQ(rc, -1);
    EXPECT_EQ(peek_msg(q, 3), 1);
}

TEST(IpcDeath, PreconditionsStopTheProcess)
{
    EXPECT_DEATH(create_shm(kKey, 0), "shm_size > 0");
    EXPECT_DEATH(create_sem(kKey, 0), "sem_num > 0");
    for (int (*op)(int, int) : {down, up, semWait, downNB})
        EXPECT_DEATH(op(0, -1), "sem_num >= 0");
}

}  // namespace
