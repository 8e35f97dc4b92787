// sim_session_diskmap.h - the simulator's disk-analysis service: draws maps
// of a synthetic disk into the disk-analysis session table.
#ifndef SIM_SESSION_DISKMAP_H
#define SIM_SESSION_DISKMAP_H

#include "sim_session_common.h"

// Answers a disk-map request of any type: draws the map the type asks for
// into owned slot `slot` and sets its done flags. A payload that is no slot,
// or a free slot, is left unanswered with nothing changed.
void sim_diskmap_handle(SimSessionState& st, SimDevice& dev, long type, int slot);

// Frees slots whose owner stopped asking, judged at wall second `now`.
void sim_diskmap_tick(SimSessionState& st, SimDevice& dev, uint32_t now);

#endif
