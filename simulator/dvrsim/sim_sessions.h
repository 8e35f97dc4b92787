// sim_sessions.h - hooks through which the simulator's main loop hands the
// device's session services (searches, disk maps, uploads, runtime updates)
// their start, their queue messages, a periodic tick and their stop.
#ifndef SIM_SESSIONS_H
#define SIM_SESSIONS_H

#include <cstdint>

// The device objects the simulator owns; valid from start to stop.
struct SimDevice {
    void* cfg;  // attached configuration segment (key 1632)
    int semid;  // device semaphore set; semaphore 0 guards the segment; -1: none
    int msgid;  // device message queue
};

struct SimSessionState;

// Called once after the device objects exist. Returns false when the session
// services could not set themselves up; the simulator then removes its
// objects and exits. `replace` tells that stale objects may be replaced.
bool sim_sessions_start(SimDevice& dev, bool replace);

// Called for every message taken from the queue. Returns false when no
// session service answers this type (the simulator logs it as unanswered).
bool sim_sessions_handle(SimDevice& dev, long type, unsigned char payload);

// Called once per main-loop turn (about every 2 ms) for timed work.
void sim_sessions_tick(SimDevice& dev);

// The two hooks above on any session state, so that tables in private
// memory can be served without IPC (dev.semid -1, no queue). Dispatch hands
// one message to the family that owns its type; it returns false only for a
// type no sender can queue (0 or below), and leaves tables untouched for a
// payload that names no slot. Timed frees stale slots and ends idle uploads
// as at wall second `now`; it does its work at most once per second value.
bool sim_sessions_dispatch(SimSessionState& st, SimDevice& dev, long type, unsigned char payload);
void sim_sessions_timed(SimSessionState& st, SimDevice& dev, uint32_t now);

// Called once before the simulator removes its objects; releases whatever
// start created. Never fails.
void sim_sessions_stop(SimDevice& dev);

#endif
