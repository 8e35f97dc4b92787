// sim_sessions.h - hooks through which the simulator's main loop hands the
// device's session services (searches, disk maps, uploads, runtime updates)
// their start, their queue messages, a periodic tick and their stop.
#ifndef SIM_SESSIONS_H
#define SIM_SESSIONS_H

// The device objects the simulator owns; valid from start to stop.
struct SimDevice {
    void* cfg;  // attached configuration segment (key 1632)
    int semid;  // device semaphore set; semaphore 0 guards the segment
    int msgid;  // device message queue
};

// Called once after the device objects exist. Returns false when the session
// services could not set themselves up; the simulator then removes its
// objects and exits. `replace` tells that stale objects may be replaced.
bool sim_sessions_start(SimDevice& dev, bool replace);

// Called for every message taken from the queue. Returns false when no
// session service answers this type (the simulator logs it as unanswered).
bool sim_sessions_handle(SimDevice& dev, long type, unsigned char payload);

// Called once per main-loop turn (about every 2 ms) for timed work.
void sim_sessions_tick(SimDevice& dev);

// Called once before the simulator removes its objects; releases whatever
// start created. Never fails.
void sim_sessions_stop(SimDevice& dev);

#endif
