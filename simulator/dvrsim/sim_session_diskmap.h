// sim_session_diskmap.h - the simulator's disk-analysis service: draws maps
// of a synthetic disk into the disk-analysis session table.
#ifndef SIM_SESSION_DISKMAP_H
#define SIM_SESSION_DISKMAP_H

#include "sim_session_common.h"

// Answers a disk-map request (types 768 and up); false for any other type.
bool sim_diskmap_handle(SimSessionState& st, SimDevice& dev, long type, int slot);

// Frees slots whose owner stopped asking.
void sim_diskmap_tick(SimSessionState& st, SimDevice& dev);

// Forgets slot history (the table is new).
void sim_diskmap_reset();

#endif
