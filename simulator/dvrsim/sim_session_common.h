// sim_session_common.h - state shared by the simulator's session services:
// the session tables and exchange records they serve, the simulated device
// clock, the limits after which idle slots and claims are freed, what each
// service remembers between messages, and the lock around table updates.
#ifndef SIM_SESSION_COMMON_H
#define SIM_SESSION_COMMON_H

#include <array>
#include <cstdint>
#include <cstdio>

#include "cgi_cfg_session.h"
#include "session_lock.h"
#include "sim_sessions.h"

// Decides when an owned slot or claim has gone stale from the time stamp of
// its last visit. A stamp of 0 (claimed, not yet started) or ahead of the
// clock (written by a client whose clock is off, or by anyone: the tables
// are writable by every local process) is timed from when the watch first
// saw it so.
class SlotWatch {
  public:
    // True when a slot stamped `stamp` has been idle longer than `limit`.
    bool stale(uint32_t stamp, uint32_t now, uint32_t limit);
    // Forgets the slot's history (it was freed or re-stamped).
    void reset() { unstamped_since_ = 0; }

  private:
    uint32_t unstamped_since_ = 0;  // wall seconds when first seen unstamped
};

// Where a running search stands, per slot.
struct SimScan {
    bool running = false;  // started and not yet ended
    int pos = 0;           // next index entry to look at
    SlotWatch watch;       // staleness of the slot
};

// What the session services keep between messages; one per simulator. The
// tables may be the shared segments or any memory of their size.
struct SimSessionState {
    unsigned char* sch = nullptr;  // search table, SCH_TABLE_SIZE bytes
    unsigned char* da = nullptr;   // disk-analysis table, DA_TABLE_SIZE bytes
    FILE* log = stderr;            // where clock changes are reported; null: nowhere
    int64_t clock_offset = 0;      // device clock minus wall clock, seconds
    uint32_t idle_limit = 60;      // seconds an owned slot or upload claim may go unvisited
    uint32_t finished_limit = 10;  // seconds a finished search stays readable
    bool refuse_uploads = false;   // answer every upload claim with "refused"

    std::array<SimScan, SCH_SLOTS> scans{};      // search progress per slot
    uint32_t index_base = 0;                     // device clock at the start of the indexed week
    std::array<SlotWatch, DA_SLOTS> da_watch{};  // staleness of the disk-map slots
    uint32_t upload_event = 0;                   // wall seconds of the last upload message
    SlotWatch claim_watch;                       // staleness of an unanswered upload claim
    bool cancel_honoured = false;                // the cancel word set now was already acted on
    uint32_t last_tick = 0;                      // wall second of the last timed round
};

// Holds semaphore 0 of the device set for one scope. A device without a
// semaphore set (semid < 0: tables in private memory that no other process
// sees) needs no lock and takes none.
class SimLock {
  public:
    explicit SimLock(const SimDevice& dev);
    ~SimLock();
    SimLock(const SimLock&) = delete;
    SimLock& operator=(const SimLock&) = delete;

  private:
    int semid_;  // device semaphore set, or -1
};

// Wall-clock seconds, the scale of the time stamps that the library writes.
uint32_t sim_wall_seconds();

// The simulated device clock (wall clock moved by the last clock request).
uint32_t sim_device_clock(const SimSessionState& st);

#endif
