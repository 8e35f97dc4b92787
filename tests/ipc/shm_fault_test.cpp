// shm_fault_test.cpp - failures injected through the wrappers' syscall table:
// every wrapper reports -1 (or null), keeps the errno of the failed call and
// writes its own line at its own threshold.
#include "shm.h"
#include "shm_syscalls.h"
#include "debug.h"
#include "stderr_capture.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <string>

namespace {

using shm_internal::sys;

int g_errno = 0;  // errno the failing fakes report

int fail_int()
{
    errno = g_errno;
    return -1;
}

shm_internal::Syscalls failing_all()
{
    shm_internal::Syscalls s = shm_internal::kRealSyscalls;
    s.shmget = [](key_t, size_t, int) { return fail_int(); };
    s.shmat = [](int, const void*, int) {
        errno = g_errno;
        return reinterpret_cast<void*>(-1);
    };
    s.shmctl = [](int, int, struct shmid_ds*) { return fail_int(); };
    s.semget = [](key_t, int, int) { return fail_int(); };
    s.semop = [](int, struct sembuf*, size_t) { return fail_int(); };
    s.semctl = [](int, int, int, shm_internal::semun) { return fail_int(); };
    s.msgget = [](key_t, int) { return fail_int(); };
    s.msgsnd = [](int, const void*, size_t, int) { return fail_int(); };
    s.msgrcv = [](int, void*, size_t, long, int) { return static_cast<ssize_t>(fail_int()); };
    s.msgctl = [](int, int, struct msqid_ds*) { return fail_int(); };
    return s;
}

// Lookups succeed with identifier 5; everything else fails.
shm_internal::Syscalls lookups_succeed()
{
    shm_internal::Syscalls s = failing_all();
    s.shmget = [](key_t, size_t, int) { return 5; };
    s.semget = [](key_t, int, int) { return 5; };
    s.msgget = [](key_t, int) { return 5; };
    return s;
}

struct Case {
    const char* name;
    shm_internal::Syscalls (*table)();
    int level;
    int err;
    std::function<long()> call;  // the wrapper's result, pointers as 0 / -1
    std::string expected_log;
};

std::string perror_line(const char* what, int err)
{
    return std::string(what) + ": " + std::strerror(err) + "\n";
}

class Fault : public ::testing::Test {
  protected:
    void SetUp() override { debug_open_log(nullptr); }
    void TearDown() override { sys = shm_internal::kRealSyscalls, debugLevels = 0; }
};

TEST_F(Fault, EveryWrapperKeepsErrnoAndLogsItsLine)
{
    const auto ptr = [](void* p) { return p == nullptr ? 0L : 1L; };
    const Case cases[] = {
        {"down EIDRM", failing_all, 0, EIDRM, [] { return down(1, 0); },
         "10|Failed semaphore down operation\n"},
        {"downNB passes on, no line", failing_all, 0, EIDRM, [] { return downNB(1, 0); }, ""},
        {"up EIDRM", failing_all, 0, EIDRM, [] { return up(1, 0); },
         "10|Failed semaphore up operation\n"},
        {"semWait EINTR", failing_all, 3, EINTR, [] { return semWait(1, 0); },
         "10|Failed semaphore wait operation\n"},
        {"semWait quiet at 2", failing_all, 2, EINTR, [] { return semWait(1, 0); }, ""},
        {"create_shm ENOSPC", failing_all, 3, ENOSPC, [] { return create_shm(1, 64); },
         "10|Failed attempt to create shared memory segment\n"},
        {"get_shm_ptr attach", lookups_succeed, 0, ENOMEM,
         [ptr] { return ptr(get_shm_ptr(1)) - 1; },
         "10|Could not attach memory segment requested\n"},
        {"get_shm_ptr_by_id EIDRM", failing_all, 0, EIDRM,
         [ptr] { return ptr(get_shm_ptr_by_id(5)) - 1; },
         "10|Could not attach memory segment requested\n"},
        {"remove_shm refused", lookups_succeed, 3, EPERM, [] { return remove_shm(1); },
         "10|Attempt to remove shared memory failed\n"},
        {"create_sem ENOSPC", failing_all, 0, ENOSPC, [] { return create_sem(1, 2); },
         "10|Failed attempt to create semaphore\n"},
        {"create_sem SETALL", lookups_succeed, 3, EINVAL, [] { return create_sem(1, 2); },
         "10|Unable to initialize semaphore state\n"},
        {"get_sem", failing_all, 3, ENOENT, [] { return get_sem(1); },
         "10|semaphore get failed in attach\n"},
        {"getSemVal", failing_all, 3, EINVAL, [] { return getSemVal(5, 2); },
         "10|Unable to read value of semaphore 2\n"},
        {"setSem", failing_all, 3, ERANGE,
         [] {
             setSem(5, 0, 99999);
             return -1L;
         },
         "10|Unable to set value\n"},
        {"remove_sem refused", lookups_succeed, 3, EPERM, [] { return remove_sem(1); },
         "10|Attempt to remove semaphore failed\n"},
        {"create_msg ENOSPC", failing_all, 3, ENOSPC, [] { return create_msg(1); },
         "10|Failed to create message queue, errno: " + std::to_string(ENOSPC) + "\n"},
        {"remove_msg refused", lookups_succeed, -1, EPERM, [] { return remove_msg(1); },
         perror_line("Attempt to remove message queue failed", EPERM)},
        {"put_msg EIDRM", failing_all, -1, EIDRM, [] { return put_msg(5, 2); },
         perror_line("Failed attempt to put config update message on queue", EIDRM)},
        {"put_msg_text EINTR", failing_all, -1, EINTR, [] { return put_msg_text(5, 1, 3); },
         perror_line("Failed attempt to put config update message on queue", EINTR)},
        {"get_msg EINTR", failing_all, -1, EINTR,
         [] {
             struct {
                 long t;
                 char b[4];
             } m;
             return get_msg(5, reinterpret_cast<struct msgbuf*>(&m), 0);
         },
         perror_line("Failed attempt to get config update message on queue", EINTR)},
    };
    for (const Case& c : cases) {
        sys = c.table();
        debugLevels = c.level;
        g_errno = c.err;
        long rc = 0;
        int err = 0;
        const std::string out = capture_stderr([&] { errno = 0, rc = c.call(), err = errno; });
        EXPECT_EQ(rc, -1) << c.name;
        EXPECT_EQ(err, c.err) << c.name;
        EXPECT_EQ(out, c.expected_log) << c.name;
    }
}

// semop calls of the fake that a signal interrupts every other time.
int g_semop_calls;

// down and up issue an interrupted operation again; semWait reports it.
TEST_F(Fault, DownAndUpRetryAfterASignal)
{
    sys = failing_all();
    sys.semop = [](int, struct sembuf*, size_t) { return ++g_semop_calls % 2 ? fail_int() : 0; };
    g_errno = EINTR;
    const struct {
        int (*op)(int, int);
        int result, calls;
    } cases[] = {{down, 0, 2}, {up, 0, 2}, {semWait, -1, 1}};
    for (const auto& c : cases) {
        g_semop_calls = 0;
        EXPECT_EQ(c.result, c.op(1, 0));
        EXPECT_EQ(c.calls, g_semop_calls);
    }
}

TEST_F(Fault, PeekAnswersOneOnlyForE2big)
{
    sys = failing_all();
    for (int err : {E2BIG, ENOMSG, EIDRM, EINTR}) {
        g_errno = err;
        EXPECT_EQ(peek_msg(5, 1), err == E2BIG ? 1 : 0) << err;
    }
}

}  // namespace
