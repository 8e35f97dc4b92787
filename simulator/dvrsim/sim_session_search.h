// sim_session_search.h - the simulator's search service: runs searches of
// the search session table over a synthetic recording index.
#ifndef SIM_SESSION_SEARCH_H
#define SIM_SESSION_SEARCH_H

#include "sim_session_common.h"

// Answers a search message (types 1 to 3); false for any other type.
bool sim_search_handle(SimSessionState& st, SimDevice& dev, long type, int slot);

// Frees finished and stale slots, judged at wall second `now`.
void sim_search_tick(SimSessionState& st, SimDevice& dev, uint32_t now);

#endif
