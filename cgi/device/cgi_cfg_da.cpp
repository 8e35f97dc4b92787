// cgi_cfg_da.cpp - disk-analysis session table: slot claiming and lookup,
// the connection counter, the done-flag hand-shake and the da_getmap entry
// point that asks the device service for a disk map and waits for it.
#include "cgi_cfg_session.h"
#include "session_lock.h"

#include <cassert>
#include <cstring>

#include "shm.h"

using zel_session::SemLock;

namespace {

constexpr useconds_t kDonePollMicros = 200000;  // 0.2 s between polls

zel_session::SlotTable da_table(void* shm)
{
    return {static_cast<unsigned char*>(shm), DA_SLOTS, sizeof(da_shm), offsetof(da_shm, conn_id)};
}

da_shm* slot_at(void* shm, int slot)
{
    assert(slot >= 0 && slot < DA_SLOTS);
    return static_cast<da_shm*>(shm) + slot;
}

// Message type of a request: an operation wins over a zoom; op above 2
// therefore shares its type with a zoom (op 3 and zoom 1 both give 771).
// The sum is taken modulo the width of long, so an op or zoom near INT_MAX
// gives a type the queue refuses instead of overflowing.
long request_type(int op, int zoom)
{
    const unsigned long base = DA_MSG_BASE;
    if (op != 0)
        return static_cast<long>(base + static_cast<unsigned long>(op));
    if (zoom != 0)
        return static_cast<long>(base + 2 + static_cast<unsigned long>(zoom));
    return DA_MSG_BASE;
}

// A found slot gets the caller's zoom target and a level the service can
// handle before the request is sent.
void prepare_found_slot(da_shm* slot, const da_shm* local, int zoom, int semid)
{
    SemLock lock(semid);
    if (zoom != 0)
        slot->da_map.target_pos = local->da_map.target_pos;
    if (slot->da_map.level > DA_MAP_MAX_LEVEL)
        slot->da_map.level = DA_MAP_MAX_LEVEL;
}

}  // namespace

int da_getmap(void* p_dashm, int semid, int msgid, da_shm* p_local_dashm, int op, int zoom) noexcept
{
    int slot = -1;
    if (p_local_dashm->conn_id != 0) {
        slot = da_find_slot(p_dashm, p_local_dashm->conn_id, semid);
        if (slot >= 0)
            prepare_found_slot(slot_at(p_dashm, slot), p_local_dashm, zoom, semid);
    }
    if (slot < 0) {
        const unsigned int conn = da_incr_conn_id(p_dashm, semid);
        slot = da_occupy_empty_slot(p_dashm, semid, conn);
        if (slot < 0)
            return -1;
    }
    put_msg_text(msgid, request_type(op, zoom), static_cast<unsigned char>(slot));
    while (da_op_done(p_dashm, slot, semid) == 0)
        zel_session::pause_micros(kDonePollMicros);
    rw_da_map(0, p_dashm, semid, p_local_dashm, slot);
    return slot;
}

int da_find_slot(void* p_da_list, unsigned int conn_id, int semid) noexcept
{
    return zel_session::find_owner(da_table(p_da_list), conn_id, semid);
}

int da_occupy_empty_slot(void* p_da_list, int semid, unsigned int conn_id) noexcept
{
    return zel_session::claim_free(da_table(p_da_list), conn_id, semid);
}

unsigned int da_incr_conn_id(void* shm, int sem) noexcept
{
    return zel_session::advance_counter(static_cast<unsigned char*>(shm) + DA_CONN_COUNTER_OFFSET,
                                        sem);
}

int da_op_done(void* p_da_list, int da_slot, int semid) noexcept
{
    if (da_slot < 0 || da_slot >= DA_SLOTS)
        return -1;
    da_shm* slot = slot_at(p_da_list, da_slot);
    SemLock lock(semid);
    if (slot->da_op_started != 1 || slot->da_op_done != 1)
        return 0;
    slot->da_op_started = 0;
    slot->da_op_done = 0;
    return 1;
}

int rw_da_map(int r0w1, void* p_da_list, int semid, void* p_local_damap, int da_slot) noexcept
{
    zel_session::copy_slot_locked(r0w1, slot_at(p_da_list, da_slot), p_local_damap, sizeof(da_shm),
                                  semid);
    return 0;
}
