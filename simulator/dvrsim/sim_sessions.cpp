// sim_sessions.cpp - the simulator's session services: creates the search
// and disk-analysis table segments beside the device objects, hands each
// queue message to the service of its family, and runs their timed work.
#include "sim_sessions.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/shm.h>

#include "shm.h"
#include "sim_session_common.h"
#include "sim_session_diskmap.h"
#include "sim_session_exchange.h"
#include "sim_session_search.h"

namespace {

SimSessionState g_state;  // the one simulator's session state

// Creates (or, with `replace`, re-creates) one zero-filled table segment and
// attaches it; null with a message on stderr on failure.
unsigned char* create_table(key_t key, int size, bool replace)
{
    if (get_shm_id(key) >= 0) {
        if (!replace) {
            fprintf(stderr,
                    "dvrsim: a session table segment with key %d already exists "
                    "(another simulator running?); use --replace\n",
                    static_cast<int>(key));
            return nullptr;
        }
        remove_shm(key);
    }
    const int id = create_shm(key, size);
    void* p = id >= 0 ? get_shm_ptr_by_id(id) : nullptr;
    if (p == nullptr) {
        fprintf(stderr, "dvrsim: cannot create the session table segment with key %d\n",
                static_cast<int>(key));
        if (id >= 0)
            remove_shm(key);
        return nullptr;
    }
    std::memset(p, 0, size);
    return static_cast<unsigned char*>(p);
}

void drop_table(unsigned char*& table, key_t key)
{
    if (table != nullptr) {
        shmdt(table);
        remove_shm(key);
        table = nullptr;
    }
}

// Idle limit from DVRSIM_SESSION_IDLE (seconds, 1 to 86400), for quick tests.
void read_limits(SimSessionState& st)
{
    const char* idle = getenv("DVRSIM_SESSION_IDLE");
    const long v = idle ? strtol(idle, nullptr, 10) : 0;
    if (v >= 1 && v <= 86400) {
        st.idle_limit = static_cast<uint32_t>(v);
        st.finished_limit = st.idle_limit < 10 ? st.idle_limit : 10;
    }
    const char* refuse = getenv("DVRSIM_REFUSE_UPLOADS");
    st.refuse_uploads = refuse != nullptr && std::strcmp(refuse, "1") == 0;
}

}  // namespace

bool sim_sessions_start(SimDevice& /*dev*/, bool replace)
{
    g_state = SimSessionState{};
    read_limits(g_state);
    g_state.sch = create_table(SCH_SHM_KEY, SCH_TABLE_SIZE, replace);
    g_state.da = g_state.sch ? create_table(DA_SHM_KEY, DA_TABLE_SIZE, replace) : nullptr;
    if (g_state.da == nullptr) {
        drop_table(g_state.sch, SCH_SHM_KEY);
        return false;
    }
    return true;
}

// The search and exchange families own their types; every other type is a
// disk-map request, since a request sends 768 + op or 770 + zoom for any
// integers op and zoom. A new family must be asked before the disk map.
bool sim_sessions_dispatch(SimSessionState& st, SimDevice& dev, long type, unsigned char payload)
{
    if (type <= 0)
        return false;  // no sender can queue it
    if (!sim_search_handle(st, dev, type, payload) && !sim_exchange_handle(st, dev, type))
        sim_diskmap_handle(st, dev, type, payload);
    return true;
}

void sim_sessions_timed(SimSessionState& st, SimDevice& dev, uint32_t now)
{
    if (now == st.last_tick)
        return;
    st.last_tick = now;
    sim_search_tick(st, dev, now);
    sim_diskmap_tick(st, dev, now);
    sim_exchange_tick(st, dev, now);
}

bool sim_sessions_handle(SimDevice& dev, long type, unsigned char payload)
{
    return sim_sessions_dispatch(g_state, dev, type, payload);
}

void sim_sessions_tick(SimDevice& dev)
{
    sim_sessions_timed(g_state, dev, sim_wall_seconds());
}

void sim_sessions_stop(SimDevice& /*dev*/)
{
    drop_table(g_state.sch, SCH_SHM_KEY);
    drop_table(g_state.da, DA_SHM_KEY);
}
