// cgi_cfg_runtime.cpp - runtime update requests: asking the device service
// for its DHCP address data and lease dates through the shared runtime
// update record, and asking it to set the device clock.
#include "cgi_cfg_session.h"
#include "session_lock.h"

#include <cstring>

#include "shm.h"

using zel_session::SemLock;

namespace {

constexpr useconds_t kAnswerPollMicros = 100000;  // 10 polls: about 1 s
constexpr int kAnswerPolls = 10;

cfg_rt_update_data* record(void* p_cfg_shm)
{
    return reinterpret_cast<cfg_rt_update_data*>(static_cast<unsigned char*>(p_cfg_shm) +
                                                 CFG_RT_UPDATE_OFFSET);
}

// One request: reset the flag, notify, poll the flag unlocked, then take
// the answer or give up, leaving the flag at "taken" either way.
int request(void* p_cfg_shm, int semid, int msgid, size_t flag_offset, long type,
            cfg_rt_update_data* pdata)
{
    cfg_rt_update_data* r = record(p_cfg_shm);
    unsigned char* flag = reinterpret_cast<unsigned char*>(r) + flag_offset;
    {
        SemLock lock(semid);
        *flag = RT_FLAG_ASKED;
    }
    put_msg(msgid, type);
    bool answered = false;
    for (int i = 0; i < kAnswerPolls && !answered; ++i) {
        answered = *static_cast<volatile unsigned char*>(flag) == RT_FLAG_ANSWERED;
        if (!answered)
            zel_session::pause_micros(kAnswerPollMicros);
    }
    SemLock lock(semid);
    if (answered)
        std::memcpy(pdata, r, sizeof *pdata);
    else
        std::memset(pdata, 0, sizeof *pdata);
    *flag = RT_FLAG_TAKEN;
    return answered ? 0 : RT_NO_ANSWER;
}

}  // namespace

int get_dhcp_setting(void* p_cfg_shm, int semid, int msgid, cfg_rt_update_data* pdata) noexcept
{
    return request(p_cfg_shm, semid, msgid, offsetof(cfg_rt_update_data, ip_status),
                   RT_MSG_DHCP_SETTING, pdata);
}

int get_dhcp_release(void* p_cfg_shm, int semid, int msgid, cfg_rt_update_data* pdata) noexcept
{
    return request(p_cfg_shm, semid, msgid, offsetof(cfg_rt_update_data, release_date_status),
                   RT_MSG_DHCP_RELEASE, pdata);
}

int set_system_time(void* p_cfg_shm, int semid, int msgid, uint32_t cur_ts) noexcept
{
    {
        SemLock lock(semid);
        record(p_cfg_shm)->cur_ts = cur_ts;
    }
    // The send's result: callers do not wait for the clock to change.
    return put_msg(msgid, RT_MSG_SET_TIME);
}
