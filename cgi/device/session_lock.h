// session_lock.h - helpers private to the device library's session modules
// (and to the simulator and tests that stand beside them): the scoped device
// lock, the time stamp the tables hold, and slot-table scans.
#ifndef ZEL_SESSION_LOCK_H
#define ZEL_SESSION_LOCK_H

#include <cstddef>
#include <cstring>
#include "cgi_cfg_session.h"
#include "shm.h"
#include "shm_syscalls.h"

/* Library-internal helpers shared by the four session modules. */
namespace zel_session {

/* The pause between two polls of a wait (replaceable with the clock). */
inline void pause_micros(useconds_t usec)
{
    shm_internal::sys.usleep(usec);
}

/* Holds semaphore 0 of the device set for one scope. The lock results are
 * not examined: down/up report their own failures and the caller goes on. */
class SemLock {
  public:
    explicit SemLock(int semid) : semid_(semid) { down(semid_, 0); }
    ~SemLock() { up(semid_, 0); }
    SemLock(const SemLock&) = delete;
    SemLock& operator=(const SemLock&) = delete;

  private:
    int semid_;  // device semaphore set
};

/* Seconds part of the current time, as the shared time stamps hold it. */
inline uint32_t now_seconds()
{
    struct timeval tv = {};
    shm_internal::sys.gettimeofday(&tv);
    return static_cast<uint32_t>(tv.tv_sec);
}

/* Copies one whole slot of `size` bytes under the lock: r0w1 0 from the
 * shared slot into `local`, otherwise from `local` into the slot. */
inline void copy_slot_locked(int r0w1, void* slot, void* local, size_t size, int semid)
{
    SemLock lock(semid);
    if (r0w1 == 0)
        std::memcpy(local, slot, size);
    else
        std::memcpy(slot, local, size);
}

/* Advances the connection counter at `counter` (any alignment) under the
 * lock; 4294967295 wraps to 1 so that 0 keeps meaning "free". */
inline uint32_t advance_counter(unsigned char* counter, int semid)
{
    SemLock lock(semid);
    uint32_t value;
    std::memcpy(&value, counter, sizeof value);
    value = (value == UINT32_MAX) ? 1 : value + 1;
    std::memcpy(counter, &value, sizeof value);
    return value;
}

/* Geometry of a slot table: slot count, slot size and owner-id offset. */
struct SlotTable {
    unsigned char* base;  // table base address
    int slots;            // number of slots
    size_t stride;        // bytes per slot
    size_t owner_offset;  // offset of the owner id inside a slot
};

/* Lowest slot whose owner id equals `owner`, or -1; caller holds the lock. */
inline int scan_owner(const SlotTable& t, uint32_t owner)
{
    for (int i = 0; i < t.slots; ++i) {
        uint32_t id;
        std::memcpy(&id, t.base + i * t.stride + t.owner_offset, sizeof id);
        if (id == owner)
            return i;
    }
    return -1;
}

/* Finds the lowest slot owned by `owner` under the lock; -1 when none. */
inline int find_owner(const SlotTable& t, uint32_t owner, int semid)
{
    SemLock lock(semid);
    return scan_owner(t, owner);
}

/* Claims the lowest free slot for `owner` in one critical section, so two
 * claimants never get the same slot; -1 when none is free. */
inline int claim_free(const SlotTable& t, uint32_t owner, int semid)
{
    SemLock lock(semid);
    const int slot = scan_owner(t, 0);
    if (slot >= 0)
        std::memcpy(t.base + slot * t.stride + t.owner_offset, &owner, sizeof owner);
    return slot;
}

}  // namespace zel_session

#endif
