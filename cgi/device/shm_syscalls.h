// shm_syscalls.h - the System V calls of the IPC wrappers, and the clock and
// sleep of the session services' waits, reached through one replaceable
// table so that tests can inject failures (EINTR, EIDRM, ENOSPC...), watch
// what happens under the lock and run the waits on a clock of their own.
// Internal to the device library, the simulator and their tests; C++ only.
#ifndef SHM_SYSCALLS_H
#define SHM_SYSCALLS_H

#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/sem.h>
#include <sys/shm.h>
#include <sys/time.h>
#include <sys/types.h>
#include <unistd.h>

namespace shm_internal {

// semctl's optional fourth argument, which the caller must declare.
union semun {
    int val;                // SETVAL
    struct semid_ds* buf;   // IPC_STAT, IPC_SET
    unsigned short* array;  // GETALL, SETALL
};

// One entry per System V call; defaults are the real calls. Process-wide,
// replaced only by single-threaded tests.
struct Syscalls {
    int (*shmget)(key_t key, size_t size, int flags);             // segment lookup/creation
    void* (*shmat)(int shmid, const void* addr, int flags);       // attach
    int (*shmctl)(int shmid, int cmd, struct shmid_ds* ds);       // segment control
    int (*semget)(key_t key, int nsems, int flags);               // set lookup/creation
    int (*semop)(int semid, struct sembuf* ops, size_t n);        // semaphore operation
    int (*semctl)(int semid, int num, int cmd, semun arg);        // semaphore control
    int (*msgget)(key_t key, int flags);                          // queue lookup/creation
    int (*msgsnd)(int id, const void* msg, size_t n, int flags);  // send
    ssize_t (*msgrcv)(int id, void* msg, size_t n, long type, int flags);  // receive
    int (*msgctl)(int id, int cmd, struct msqid_ds* ds);                   // queue control
    int (*usleep)(useconds_t usec);           // the pause between two polls of a wait
    int (*gettimeofday)(struct timeval* tv);  // time stamps of the session records
};

// The table the wrappers call through.
extern Syscalls sys;

// The real calls, for restoring the table after a test.
extern const Syscalls kRealSyscalls;

}  // namespace shm_internal

#endif
