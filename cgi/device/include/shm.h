/** @file shm.h - one thin wrapper per System V call for the configuration segment,
 * the device semaphore set (semaphore 0 is the lock) and the device message
 * queue. Failures are logged in a fixed wording (section 10) and reported as
 * -1 or a null pointer with errno as the system call left it. */
#ifndef SHM_H
#define SHM_H

#include "zel_api.h"

#include <sys/types.h>
#include <sys/ipc.h> /* key_t */

#ifdef __cplusplus
extern "C" {
#endif

/** A received message: the caller passes a buffer laid out as a long type
 * followed by at least 4 text bytes. */
struct msgbuf;

/* ---- shared memory ---- */

/** Returns the segment identifier of `key`, or -1 when there is none. */
int get_shm_id(key_t key) ZEL_NOEXCEPT;
/** Returns the identifier of the segment of `key`, created with `shm_size`
 * bytes when missing; -1 on failure. `shm_size` <= 0 stops the process. */
int create_shm(key_t key, int shm_size) ZEL_NOEXCEPT;
/** Returns the attached segment of `key`, or null when it cannot be found or
 * attached (nothing stays attached then). */
void* get_shm_ptr(key_t key) ZEL_NOEXCEPT;
/** Returns the attached segment of `key` when it holds at least `min_size`
 * bytes; null when it cannot be found, is smaller (errno EINVAL) or cannot be
 * attached, and nothing stays attached then. */
void* get_shm_ptr_min(key_t key, size_t min_size) ZEL_NOEXCEPT;
/** Returns the attached segment `shmid`, or null when it cannot be attached. */
void* get_shm_ptr_by_id(int shmid) ZEL_NOEXCEPT;
/** Returns 0 once the segment of `key` is marked for removal; -1 when it is
 * missing or the removal is refused (the segment stays). */
int remove_shm(key_t key) ZEL_NOEXCEPT;

/* ---- semaphores ---- */

/** Returns the identifier of the set of `skey` (created when missing) after
 * setting its first `sem_num` semaphores to 1; -1 on failure, values then
 * unchanged. `sem_num` <= 0 stops the process. */
int create_sem(key_t skey, int sem_num) ZEL_NOEXCEPT;
/** Returns the identifier of the existing set of `skey`, or -1. */
int get_sem(key_t skey) ZEL_NOEXCEPT;
/** Returns the value of semaphore `sem_num`, or -1 when it cannot be read. */
int getSemVal(int semid, int sem_num) ZEL_NOEXCEPT;
/** Sets semaphore `sem_num` to `val`; a failure is only logged. */
void setSem(int semid, int sem_num, int val) ZEL_NOEXCEPT;
/** Returns 0 once the set of `key` is removed; -1 when it is missing or the
 * removal is refused (the set stays). */
int remove_sem(key_t key) ZEL_NOEXCEPT;

/** Takes semaphore `sem_num` (blocking, undone at exit). Returns 0, or -1 with
 * the semaphore unchanged. A negative `sem_num` stops the process. */
int down(int semid, int sem_num) ZEL_NOEXCEPT;
/** Releases semaphore `sem_num` (undone at exit). Returns 0, or -1 with the
 * semaphore unchanged. */
int up(int semid, int sem_num) ZEL_NOEXCEPT;
/** Blocks until semaphore `sem_num` is zero. Returns 0, or -1. */
int semWait(int semid, int sem_num) ZEL_NOEXCEPT;
/** Takes semaphore `sem_num` only if it is free: 0, or -1 with errno EAGAIN
 * when it is taken (nothing logged). */
int downNB(int semid, int sem_num) ZEL_NOEXCEPT;

/* ---- message queues ---- */

/** Returns the identifier of the queue of `key` (created when missing), or -1. */
int create_msg(key_t key) ZEL_NOEXCEPT;
/** Returns the identifier of the existing queue of `key`, or -1. */
int get_msg_id(key_t key) ZEL_NOEXCEPT;
/** Returns 0 once the queue of `key` is removed; -1 when it is missing or the
 * removal is refused (the queue stays). */
int remove_msg(key_t key) ZEL_NOEXCEPT;
/** Sends a one-byte message of `type` (waits while the queue is full).
 * Returns 0, or -1 after a perror line; nothing is queued then. */
int put_msg(int msgid, long type) ZEL_NOEXCEPT;
/** As put_msg, with `text` as the message byte. */
int put_msg_text(int msgid, long type, unsigned char text) ZEL_NOEXCEPT;
/** Waits for a message selected by `type` (as msgrcv selects) of at most 4
 * text bytes and returns its length; -1 after a perror line, queue unchanged. */
int get_msg(int msgid, struct msgbuf* p_msg, long type) ZEL_NOEXCEPT;
/** Returns 1 when a message of `type` with a non-empty body is waiting (it
 * stays queued), 0 otherwise; never blocks. */
int peek_msg(int msgid, long type) ZEL_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif
