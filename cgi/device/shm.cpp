// shm.cpp - the System V IPC wrappers: shared memory, semaphores and message
// queues, each one system call with its fixed failure wording (section 10).
#include "shm.h"
#include "shm_syscalls.h"
#include "debug.h"

#include <cassert>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <new>

namespace shm_internal {

namespace {
int real_semctl(int semid, int num, int cmd, semun arg)
{
    return ::semctl(semid, num, cmd, arg);
}
int real_gettimeofday(struct timeval* tv)
{
    return ::gettimeofday(tv, nullptr);
}
}  // namespace

const Syscalls kRealSyscalls = {
    ::shmget, ::shmat,  ::shmctl, ::semget, ::semop,  real_semctl,
    ::msgget, ::msgsnd, ::msgrcv, ::msgctl, ::usleep, real_gettimeofday,
};

Syscalls sys = kRealSyscalls;

}  // namespace shm_internal

using shm_internal::sys;

namespace {

constexpr int kSection = 10;    // every IPC line carries this section number
constexpr int kAlways = -1;     // "level 0 and above"
constexpr int kIpcMode = 0666;  // objects are shared by all device processes
constexpr short kUndo = SEM_UNDO;
constexpr std::size_t kMsgTextMax = 4;  // longest message body this library takes
constexpr char kVersionText[] = "System V IPC wrappers 1.0";

// A message as sent: the type and one text byte.
struct OneByteMsg {
    long mtype;     // message type, selects the device operation
    char mtext[1];  // the payload byte
};

// One semop on semaphore `sem_num` of `semid`.
int sem_step(int semid, int sem_num, short op, short flags)
{
    struct sembuf step = {};
    step.sem_num = static_cast<unsigned short>(sem_num);
    step.sem_op = op;
    step.sem_flg = flags;
    return sys.semop(semid, &step, 1);
}

// perror that keeps errno for the caller.
void report(const char* what)
{
    const int saved_errno = errno;
    std::perror(what);
    errno = saved_errno;
}

// Sends `text` under `type`; the shared body of put_msg and put_msg_text.
int send_byte(int msgid, long type, unsigned char text)
{
    OneByteMsg msg = {type, {static_cast<char>(text)}};
    if (sys.msgsnd(msgid, &msg, sizeof msg.mtext, 0) == -1) {
        report("Failed attempt to put config update message on queue");
        return -1;
    }
    return 0;
}

}  // namespace

// ---- shared memory ----

extern "C" int get_shm_id(key_t key) noexcept
{
    const int id = sys.shmget(key, 0, 0);
    if (id == -1)
        DB_ABOVE(2, kSection, "Attempt to get shared memory segment ID failed");
    return id;
}

extern "C" int create_shm(key_t key, int shm_size) noexcept
{
    assert(shm_size > 0);
    const int id = sys.shmget(key, static_cast<size_t>(shm_size), IPC_CREAT | kIpcMode);
    if (id == -1)
        DB_ABOVE(2, kSection, "Failed attempt to create shared memory segment");
    return id;
}

extern "C" void* get_shm_ptr_by_id(int shmid) noexcept
{
    void* p = sys.shmat(shmid, nullptr, 0);
    if (p == reinterpret_cast<void*>(-1)) {
        DB_ABOVE(kAlways, kSection, "Could not attach memory segment requested");
        return nullptr;
    }
    return p;
}

namespace {

// Identifier of the segment of `key` for an attach, or -1 after the lookup's
// failure lines.
int id_to_attach(key_t key)
{
    const int id = get_shm_id(key);
    if (id == -1)
        DB_ABOVE(kAlways, kSection, "Could not get ID of segment to attach");
    return id;
}

}  // namespace

extern "C" void* get_shm_ptr(key_t key) noexcept
{
    const int id = id_to_attach(key);
    return id == -1 ? nullptr : get_shm_ptr_by_id(id);
}

extern "C" void* get_shm_ptr_min(key_t key, size_t min_size) noexcept
{
    const int id = id_to_attach(key);
    if (id == -1)
        return nullptr;
    // A segment too small for the records its users read would fault them
    // (SIGBUS past its last page); any local process can create one.
    struct shmid_ds ds = {};
    const bool known = sys.shmctl(id, IPC_STAT, &ds) != -1;
    if (!known || ds.shm_segsz < min_size) {
        if (known)
            errno = EINVAL;  // as shmget reports a segment smaller than asked for
        DB_ABOVE(kAlways, kSection, "Could not attach memory segment requested");
        return nullptr;
    }
    return get_shm_ptr_by_id(id);
}

extern "C" int remove_shm(key_t key) noexcept
{
    const int id = get_shm_id(key);
    if (id == -1) {
        DB_ABOVE(5, kSection, "Unable to find shared memory to remove");
        return -1;
    }
    if (sys.shmctl(id, IPC_RMID, nullptr) == -1) {
        DB_ABOVE(2, kSection, "Attempt to remove shared memory failed");
        return -1;
    }
    return 0;
}

// ---- semaphores ----

namespace {

// Number of semaphores in set `semid`, or -1.
int set_size(int semid)
{
    struct semid_ds ds = {};
    shm_internal::semun arg;
    arg.buf = &ds;
    if (sys.semctl(semid, 0, IPC_STAT, arg) == -1)
        return -1;
    return static_cast<int>(ds.sem_nsems);
}

// Sets the first `sem_num` semaphores of `semid` to the 1s in `ones`. SETALL
// reads one value per semaphore of the whole set, so a larger existing set
// is set one semaphore at a time: the kernel never reads past `ones`, and
// the semaphores beyond the first `sem_num` keep their values.
int reset_first(int semid, int sem_num, unsigned short* ones)
{
    const int size = set_size(semid);
    if (size == -1)
        return -1;
    shm_internal::semun arg;
    if (size == sem_num) {
        arg.array = ones;
        return sys.semctl(semid, 0, SETALL, arg);
    }
    arg.val = 1;
    for (int i = 0; i < sem_num; ++i) {
        if (sys.semctl(semid, i, SETVAL, arg) == -1)
            return -1;
    }
    return 0;
}

}  // namespace

extern "C" int create_sem(key_t skey, int sem_num) noexcept
{
    assert(sem_num > 0);
    DB_ABOVE(8, kSection, "creating semaphore");
    DB_ABOVE(5, kSection, "%s", kVersionText);
    const std::unique_ptr<unsigned short[]> ones(
        new (std::nothrow) unsigned short[static_cast<std::size_t>(sem_num)]);
    if (!ones) {
        DB_ABOVE(kAlways, kSection, "Failed to allocate memory for semaphore");
        return -1;
    }
    const int id = sys.semget(skey, sem_num, IPC_CREAT | kIpcMode);
    if (id == -1) {
        DB_ABOVE(kAlways, kSection, "Failed attempt to create semaphore");
        return -1;
    }
    for (int i = 0; i < sem_num; ++i)
        ones[i] = 1;
    if (reset_first(id, sem_num, ones.get()) == -1) {
        DB_ABOVE(2, kSection, "Unable to initialize semaphore state");
        return -1;
    }
    return id;
}

extern "C" int get_sem(key_t skey) noexcept
{
    DB_ABOVE(8, kSection, "getting semaphore");
    const int id = sys.semget(skey, 0, kIpcMode);
    if (id == -1)
        DB_ABOVE(2, kSection, "semaphore get failed in attach");
    return id;
}

extern "C" int getSemVal(int semid, int sem_num) noexcept
{
    shm_internal::semun arg;
    arg.val = 0;
    const int val = sys.semctl(semid, sem_num, GETVAL, arg);
    if (val == -1)
        DB_ABOVE(2, kSection, "Unable to read value of semaphore %d", sem_num);
    return val;
}

extern "C" void setSem(int semid, int sem_num, int val) noexcept
{
    shm_internal::semun arg;
    arg.val = val;
    if (sys.semctl(semid, sem_num, SETVAL, arg) == -1)
        DB_ABOVE(2, kSection, "Unable to set value");
}

extern "C" int remove_sem(key_t key) noexcept
{
    const int id = get_sem(key);
    if (id == -1) {
        DB_ABOVE(5, kSection, "Unable to find semaphore to remove");
        return -1;
    }
    shm_internal::semun arg;
    arg.val = 0;
    if (sys.semctl(id, 0, IPC_RMID, arg) == -1) {
        DB_ABOVE(2, kSection, "Attempt to remove semaphore failed");
        return -1;
    }
    return 0;
}

namespace {

// One blocking operation with undo: the trace line (above 8, `trace` takes
// the semaphore number) and, on failure, `failure` at threshold `fail_min`.
// With `retry` set, an operation that a signal interrupts (EINTR) is issued
// again. Returns 0, or -1 with the semaphore unchanged.
int logged_step(int semid, int sem_num, short op, const char* trace, int fail_min,
                const char* failure, bool retry)
{
    assert(sem_num >= 0);
    DB_ABOVE(8, kSection, trace, sem_num);
    int r;
    do
        r = sem_step(semid, sem_num, op, kUndo);
    while (r == -1 && retry && errno == EINTR);
    if (r == -1) {
        DB_ABOVE(fail_min, kSection, "%s", failure);
        return -1;
    }
    return 0;
}

}  // namespace

// The lock is taken and released again after a signal: a caller with a
// signal handler must neither go on without the lock nor keep it.
extern "C" int down(int semid, int sem_num) noexcept
{
    return logged_step(semid, sem_num, -1, "semaphore down, num: %d", kAlways,
                       "Failed semaphore down operation", true);
}

extern "C" int up(int semid, int sem_num) noexcept
{
    return logged_step(semid, sem_num, 1, "semaphore up, num: %d", kAlways,
                       "Failed semaphore up operation", true);
}

extern "C" int semWait(int semid, int sem_num) noexcept
{
    return logged_step(semid, sem_num, 0, "semaphore wait for zero, num: %d", 2,
                       "Failed semaphore wait operation", false);
}

extern "C" int downNB(int semid, int sem_num) noexcept
{
    assert(sem_num >= 0);
    DB_ABOVE(8, kSection, "semaphore NBdown, num: %d", sem_num);
    return sem_step(semid, sem_num, -1, kUndo | IPC_NOWAIT);
}

// ---- message queues ----

extern "C" int create_msg(key_t key) noexcept
{
    const int id = sys.msgget(key, IPC_CREAT | kIpcMode);
    if (id == -1)
        DB_ABOVE(2, kSection, "Failed to create message queue, errno: %d", errno);
    return id;
}

extern "C" int get_msg_id(key_t key) noexcept
{
    const int id = sys.msgget(key, 0);
    if (id == -1)
        DB_ABOVE(2, kSection, "Failed to get msgQ id, errno: %d", errno);
    return id;
}

extern "C" int remove_msg(key_t key) noexcept
{
    const int id = get_msg_id(key);
    if (id == -1) {
        DB_ABOVE(5, kSection, "Unable to find msgQ id to remove");
        return -1;
    }
    if (sys.msgctl(id, IPC_RMID, nullptr) == -1) {
        report("Attempt to remove message queue failed");
        return -1;
    }
    return 0;
}

extern "C" int put_msg(int msgid, long type) noexcept
{
    return send_byte(msgid, type, 0);
}

extern "C" int put_msg_text(int msgid, long type, unsigned char text) noexcept
{
    return send_byte(msgid, type, text);
}

extern "C" int get_msg(int msgid, struct msgbuf* p_msg, long type) noexcept
{
    DB_ABOVE(8, kSection, "get_msg: Waiting for %d bytes msg", static_cast<int>(kMsgTextMax));
    const ssize_t n = sys.msgrcv(msgid, p_msg, kMsgTextMax, type, 0);
    if (n == -1) {
        report("Failed attempt to get config update message on queue");
        return -1;
    }
    return static_cast<int>(n);
}

extern "C" int peek_msg(int msgid, long type) noexcept
{
    // A zero-byte receive of a non-empty message fails with E2BIG and leaves
    // the message queued. The kernel reads no buffer for it, but emulators
    // check the pointer, so a real one-long buffer is passed all the same.
    long type_only = 0;
    return sys.msgrcv(msgid, &type_only, 0, type, IPC_NOWAIT) == -1 && errno == E2BIG ? 1 : 0;
}
