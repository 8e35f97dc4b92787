// cgi_cfg_upload.cpp - upload progress: claiming the device's single upload
// status record, resetting its counters, handing pieces to the device
// service, cancelling, and reading the record for a progress display.
#include "cgi_cfg_session.h"
#include "session_lock.h"

#include <cstring>

#include "shm.h"

using zel_session::SemLock;

// The upload record follows the runtime update record directly.
static_assert(CFG_UL_STAT_OFFSET == CFG_RT_UPDATE_OFFSET + sizeof(cfg_rt_update_data),
              "exchange records are adjacent");

namespace {

constexpr useconds_t kVerdictWaitMicros = 1000000;  // service answers a claim within 1 s
constexpr useconds_t kPiecePollMicros = 2000;       // 10 polls: about 20 ms per piece
constexpr int kPiecePolls = 10;

data_ul_stat* record(void* p_cfg_shm)
{
    return reinterpret_cast<data_ul_stat*>(static_cast<unsigned char*>(p_cfg_shm) +
                                           CFG_UL_STAT_OFFSET);
}

// The words the service changes are polled without the lock; volatile makes
// every poll a fresh read of the shared record.
const volatile data_ul_stat* polled(void* p_cfg_shm)
{
    return record(p_cfg_shm);
}

}  // namespace

int fup_lock(int semid) noexcept
{
    return down(semid, 0);
}

int fup_unlock(int semid) noexcept
{
    return up(semid, 0);
}

int fup_occupy(void* p_cfg_shm, int semid, int msgid) noexcept
{
    data_ul_stat* r = record(p_cfg_shm);
    {
        SemLock lock(semid);
        if (r->status != UL_STATUS_FREE)
            return FUP_BUSY;
        r->status = UL_STATUS_CLAIMED;
        r->access_ts = zel_session::now_seconds();
    }
    put_msg(msgid, FUP_MSG);
    zel_session::pause_micros(kVerdictWaitMicros);
    switch (polled(p_cfg_shm)->status) {
        case UL_STATUS_ACCEPTED:
            return FUP_ACCEPTED;
        case UL_STATUS_REFUSED:
            return FUP_REFUSED;
        default:
            return FUP_NO_ANSWER;
    }
}

int fup_init(void* p_cfg_shm, int semid, int total_size) noexcept
{
    data_ul_stat* r = record(p_cfg_shm);
    const uint32_t now = zel_session::now_seconds();
    SemLock lock(semid);
    r->total_size = static_cast<uint32_t>(total_size);
    r->recv_size = 0;
    r->cur_size = 0;
    r->start_ts = now;
    return 1;
}

int fup_tavik_recv(void* p_cfg_shm, int /*semid*/, int msgid, int /*bytes_to_send*/) noexcept
{
    put_msg(msgid, FUP_MSG);
    const volatile data_ul_stat* r = polled(p_cfg_shm);
    for (int i = 0; i < kPiecePolls; ++i) {
        if (r->cur_size == 0 || r->buf_id == 0)
            return 1;
        zel_session::pause_micros(kPiecePollMicros);
    }
    return 0;
}

int fup_cancel(void* p_cfg_shm, int semid, int msgid) noexcept
{
    {
        SemLock lock(semid);
        record(p_cfg_shm)->cancel = 1;
    }
    put_msg(msgid, FUP_MSG);
    return 0;
}

unsigned int fup_is_cancelled(void* p_cfg_shm) noexcept
{
    return polled(p_cfg_shm)->cancel;
}

int fup_get_status(void* p_cfg_shm, int semid, data_ul_stat* p_localfup) noexcept
{
    SemLock lock(semid);
    std::memcpy(p_localfup, record(p_cfg_shm), sizeof *p_localfup);
    return 0;
}
