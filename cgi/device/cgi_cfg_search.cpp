// cgi_cfg_search.cpp - search session table: slot claiming and lookup, the
// connection counter, filter comparison and the sch_update entry point that
// starts, repeats or continues a browser's search in the device service.
#include "cgi_cfg_session.h"
#include "session_lock.h"

#include <cassert>
#include <cstring>

#include "shm.h"

using zel_session::SemLock;

namespace {

// Geometry of the search table at `shm`.
zel_session::SlotTable search_table(void* shm)
{
    return {static_cast<unsigned char*>(shm), SCH_SLOTS, sizeof(sch_shm),
            offsetof(sch_shm, web_user)};
}

sch_shm* slot_at(void* shm, int slot)
{
    assert(slot >= 0 && slot < SCH_SLOTS);
    return static_cast<sch_shm*>(shm) + slot;
}

void send_for_slot(int msgid, long type, int slot)
{
    put_msg_text(msgid, type, static_cast<unsigned char>(slot));
}

bool search_filters_differ(const WR_SEARCH_FILTERS& a, const WR_SEARCH_FILTERS& b)
{
    if (a.starttime != b.starttime || a.endtime != b.endtime || a.alarmmap != b.alarmmap ||
        a.eventmap != b.eventmap || a.textlen != b.textlen)
        return true;
    return a.textlen != 0 && std::strncmp(a.fieldtext, b.fieldtext, sizeof a.fieldtext) != 0;
}

// Grids count only for the cameras that the slot's motion filter selects.
bool motion_filters_differ(const WR_MOTION_SEARCH_FILTERS& slot,
                           const WR_MOTION_SEARCH_FILTERS& local)
{
    if (slot.starttime != local.starttime || slot.endtime != local.endtime ||
        slot.cameramap != local.cameramap || slot.rangeindex != local.rangeindex)
        return true;
    for (int cam = 0; cam < WR_MOTION_CAMERAS; ++cam) {
        if ((slot.cameramap >> cam & 1u) &&
            std::memcmp(&slot.grid[cam], &local.grid[cam], sizeof(ACT_GRID)) != 0)
            return true;
    }
    return false;
}

// Draws a new id, claims a slot for it, initialises and stamps the slot and
// asks the service to start and refresh it. -1 when the table is full.
int start_new_search(void* shm, int sem, int msgid, sch_shm* local)
{
    const unsigned int conn = incr_conn_id(shm, sem);
    const int slot = sch_occupy_empty_slot(shm, sem, conn);
    if (slot < 0)
        return -1;
    sch_shm* s = slot_at(shm, slot);
    sch_on_start_search(s, local, conn, sem);
    sch_update_ts(s, sem);
    send_for_slot(msgid, SCH_MSG_START, slot);
    send_for_slot(msgid, SCH_MSG_REFRESH, slot);
    return slot;
}

// A continued search: refresh the caller's copy, then cancel an ended search
// and give up on one that is also stopped.
int continue_search(void* shm, int sem, int msgid, int slot, sch_shm* local)
{
    rw_search_shm(0, shm, sem, local, slot);
    if (local->sch_end == 1) {
        sch_cancel(msgid, slot);
        if (local->sch_stop == 1)
            return -1;
    }
    send_for_slot(msgid, SCH_MSG_REFRESH, slot);
    return slot;
}

}  // namespace

int sch_update(void* shm, int sem, int msgid, int revisit, sch_shm* p_localsch) noexcept
{
    if (p_localsch->web_user != 0) {
        const int slot = sch_find_slot(shm, p_localsch->web_user, sem);
        if (slot >= 0) {
            sch_update_ts(slot_at(shm, slot), sem);
            if (revisit == 1)
                return continue_search(shm, sem, msgid, slot, p_localsch);
            if (sch_compare_filter(slot_at(shm, slot), p_localsch) == 0) {
                send_for_slot(msgid, SCH_MSG_REFRESH, slot);
                rw_search_shm(0, shm, sem, p_localsch, slot);
                return slot;
            }
            sch_cancel(msgid, slot);
        }
    }
    return start_new_search(shm, sem, msgid, p_localsch);
}

void rw_search_shm(int r0w1, void* shm, int sem, void* setting, int slot) noexcept
{
    zel_session::copy_slot_locked(r0w1, slot_at(shm, slot), setting, sizeof(sch_shm), sem);
}

unsigned int incr_conn_id(void* shm, int sem) noexcept
{
    return zel_session::advance_counter(static_cast<unsigned char*>(shm) + SCH_CONN_COUNTER_OFFSET,
                                        sem);
}

int sch_occupy_empty_slot(void* pShm, int semid, unsigned int conn_id) noexcept
{
    return zel_session::claim_free(search_table(pShm), conn_id, semid);
}

int sch_find_slot(void* p_sch_list, unsigned int conn_id, int semid) noexcept
{
    return zel_session::find_owner(search_table(p_sch_list), conn_id, semid);
}

void sch_update_ts(sch_shm* p_sch, int sem) noexcept
{
    const uint32_t now = zel_session::now_seconds();
    SemLock lock(sem);
    p_sch->sch_access_ts = now;
}

int sch_compare_filter(const sch_shm* p_schshm, const sch_shm* p_localsch) noexcept
{
    if (search_filters_differ(p_schshm->filters, p_localsch->filters))
        return 1;
    return motion_filters_differ(p_schshm->mt_filter, p_localsch->mt_filter) ? 1 : 0;
}

void sch_cancel(int msgid, int sch_slot) noexcept
{
    send_for_slot(msgid, SCH_MSG_CANCEL, sch_slot);
}

void sch_on_start_search(sch_shm* p_schshm, sch_shm* p_local, unsigned int conn_id,
                         int semid) noexcept
{
    {
        SemLock lock(semid);
        std::memset(p_schshm, 0, sizeof *p_schshm);
        p_schshm->web_user = conn_id;
        p_schshm->sch_chnl = 255;
        p_schshm->sch_stop = 0;
        p_schshm->sch_stopped = 1;
        std::memcpy(&p_schshm->filters, &p_local->filters, sizeof p_schshm->filters);
        std::memcpy(&p_schshm->mt_filter, &p_local->mt_filter, sizeof p_schshm->mt_filter);
        p_schshm->camera_map = p_local->camera_map;
    }
    p_local->web_user = conn_id;
}
