// sim_sessions.cpp - session services of the simulator: none yet. Every hook
// is a no-op, so every message is reported as unanswered.
#include "sim_sessions.h"

bool sim_sessions_start(SimDevice&, bool)
{
    return true;
}

bool sim_sessions_handle(SimDevice&, long, unsigned char)
{
    return false;
}

void sim_sessions_tick(SimDevice&) {}

void sim_sessions_stop(SimDevice&) {}
