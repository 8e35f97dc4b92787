// sim_session_common.cpp - clocks and the stale-slot watch shared by the
// simulator's session services.
#include "sim_session_common.h"

uint32_t sim_wall_seconds()
{
    return zel_session::now_seconds();
}

uint32_t sim_device_clock(const SimSessionState& st)
{
    return static_cast<uint32_t>(sim_wall_seconds() + st.clock_offset);
}

bool SlotWatch::stale(uint32_t stamp, uint32_t now, uint32_t limit)
{
    if (stamp != 0) {
        unstamped_since_ = 0;
        return stamp < now && now - stamp > limit;  // a stamp ahead of now is fresh
    }
    if (unstamped_since_ == 0)
        unstamped_since_ = now;
    return now - unstamped_since_ > limit;
}
