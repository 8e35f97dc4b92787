// sim_session_common.cpp - clocks, the device lock and the stale-slot watch
// shared by the simulator's session services.
#include "sim_session_common.h"

SimLock::SimLock(const SimDevice& dev) : semid_(dev.semid)
{
    if (semid_ >= 0)
        down(semid_, 0);
}

SimLock::~SimLock()
{
    if (semid_ >= 0)
        up(semid_, 0);
}

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
    if (stamp != 0 && stamp <= now) {
        unstamped_since_ = 0;
        return now - stamp > limit;
    }
    if (unstamped_since_ == 0 || unstamped_since_ > now)
        unstamped_since_ = now;
    return now - unstamped_since_ > limit;
}
