// sim_session_common.h - state shared by the simulator's session services:
// the attached session tables, the simulated device clock, the limits after
// which idle slots are freed, and the watch that decides when a slot is stale.
#ifndef SIM_SESSION_COMMON_H
#define SIM_SESSION_COMMON_H

#include <cstdint>

#include "cgi_cfg_session.h"
#include "sim_sessions.h"

// What the session services keep between messages; one per simulator.
struct SimSessionState {
    unsigned char* sch = nullptr;  // attached search table (SCH_SHM_KEY)
    unsigned char* da = nullptr;   // attached disk-analysis table (DA_SHM_KEY)
    int64_t clock_offset = 0;      // device clock minus wall clock, seconds
    uint32_t idle_limit = 60;      // seconds an owned slot may go unvisited
    uint32_t finished_limit = 10;  // seconds a finished search stays readable
    bool refuse_uploads = false;   // answer every upload claim with "refused"
};

// Wall-clock seconds, the scale of the time stamps that the library writes.
uint32_t sim_wall_seconds();

// The simulated device clock (wall clock moved by the last clock request).
uint32_t sim_device_clock(const SimSessionState& st);

// Decides when an owned slot has gone stale from the time stamp of its last
// visit. A slot stamped 0 (claimed, not yet started) is timed from when the
// watch first saw it so.
class SlotWatch {
  public:
    // True when a slot stamped `stamp` has been idle longer than `limit`.
    bool stale(uint32_t stamp, uint32_t now, uint32_t limit);
    // Forgets the slot's history (it was freed or re-stamped).
    void reset() { unstamped_since_ = 0; }

  private:
    uint32_t unstamped_since_ = 0;  // wall seconds when first seen unstamped
};

#endif
