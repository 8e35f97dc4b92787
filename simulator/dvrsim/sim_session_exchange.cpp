// sim_session_exchange.cpp - the simulator's answers through the exchange
// records of the configuration segment: uploads, DHCP data, the clock.
#include "sim_session_exchange.h"

#include <cstdio>
#include <ctime>

#include "config_new.h"

// Uploads: a claim is accepted (or, when configured, refused) at once; a
// piece is announced by the uploader writing its size to cur_size and a
// nonzero buf_id, and taken by adding it to recv_size and clearing both; the
// upload ends (status 0) when total_size bytes arrived or on cancel. A cancel
// that was acted on stays visible for a hold time, so the uploader can read
// why its upload ended, and is then cleared; a cancel not yet acted on when
// the simulator sees a claim belongs to that claim, which is refused. A
// claim nobody announced is freed after the idle limit from its access_ts.
// DHCP requests get a fixed lease; the clock request moves the device clock,
// which the time record's current_time shows, as the device keeps it there.
namespace {

constexpr uint32_t kHoldSeconds = 2;  // a refusal or an acted-on cancel stays visible this long

data_ul_stat& upload(SimDevice& dev)
{
    return *reinterpret_cast<data_ul_stat*>(static_cast<unsigned char*>(dev.cfg) +
                                            CFG_UL_STAT_OFFSET);
}

cfg_rt_update_data& runtime(SimDevice& dev)
{
    return *reinterpret_cast<cfg_rt_update_data*>(static_cast<unsigned char*>(dev.cfg) +
                                                  CFG_RT_UPDATE_OFFSET);
}

// The device clock as the configuration's time record holds it.
uint32_t& clock_field(SimDevice& dev)
{
    auto* cfg = static_cast<dvr_config*>(dev.cfg);
    return cfg->system.time_date.current_time;
}

constexpr uint32_t ipv4(uint32_t a, uint32_t b, uint32_t c, uint32_t d)
{
    return a << 24 | b << 16 | c << 8 | d;
}

// A claim gets its verdict; one cancelled before it was seen is refused.
void answer_claim(SimSessionState& st, data_ul_stat& u)
{
    if (u.cancel != 0 && st.cancel_honoured)
        u.cancel = 0;  // the last upload's cancel, already acted on
    const bool cancelled = u.cancel != 0;
    u.status = st.refuse_uploads || cancelled ? UL_STATUS_REFUSED : UL_STATUS_ACCEPTED;
    u.buf_id = 0;
    st.cancel_honoured = cancelled;
}

// One upload notification; the caller holds the lock.
void answer_upload(SimSessionState& st, data_ul_stat& u)
{
    st.upload_event = sim_wall_seconds();
    switch (u.status) {
        case UL_STATUS_CLAIMED:
            answer_claim(st, u);
            return;
        case UL_STATUS_ACCEPTED:
            if (u.cancel != 0) {
                u.status = UL_STATUS_FREE;
                st.cancel_honoured = true;
                return;
            }
            if (u.cur_size != 0 && u.buf_id != 0) {
                u.recv_size += u.cur_size;
                u.cur_size = 0;
                u.buf_id = 0;
            }
            if (u.total_size != 0 && u.recv_size >= u.total_size)
                u.status = UL_STATUS_FREE;
            return;
        default:  // free or refused: a cancel has nothing left to stop
            st.cancel_honoured = u.cancel != 0;
            return;
    }
}

void answer_dhcp_setting(cfg_rt_update_data& r)
{
    r.ip_addr = ipv4(192, 168, 1, 50);
    r.subnet_mask = ipv4(255, 255, 255, 0);
    r.gateway = ipv4(192, 168, 1, 1);
    r.primary_dns = ipv4(192, 168, 1, 1);
    r.secondary_dns = ipv4(9, 9, 9, 9);
    r.ip_status = RT_FLAG_ANSWERED;
}

// The lease was renewed an hour ago for a day.
void answer_dhcp_release(const SimSessionState& st, cfg_rt_update_data& r)
{
    const uint32_t now = sim_device_clock(st);
    r.dhcp_update_date = now - 3600;
    r.dhcp_lease_exp = now - 3600 + 86400;
    r.release_date_status = RT_FLAG_ANSWERED;
}

void set_clock(SimSessionState& st, uint32_t to)
{
    st.clock_offset = static_cast<int64_t>(to) - sim_wall_seconds();
    if (st.log == nullptr)
        return;
    const time_t t = to;
    char text[32];
    strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", gmtime(&t));
    fprintf(st.log, "dvrsim: device clock set to %s UTC\n", text);
}

}  // namespace

bool sim_exchange_handle(SimSessionState& st, SimDevice& dev, long type)
{
    uint32_t new_clock = 0;
    {
        SimLock lock(dev);
        switch (type) {
            case FUP_MSG:
                answer_upload(st, upload(dev));
                return true;
            case RT_MSG_DHCP_SETTING:
                answer_dhcp_setting(runtime(dev));
                return true;
            case RT_MSG_DHCP_RELEASE:
                answer_dhcp_release(st, runtime(dev));
                return true;
            case RT_MSG_SET_TIME:
                new_clock = runtime(dev).cur_ts;
                clock_field(dev) = new_clock;
                break;
            default:
                return false;
        }
    }
    set_clock(st, new_clock);
    return true;
}

void sim_exchange_tick(SimSessionState& st, SimDevice& dev, uint32_t now)
{
    const uint32_t idle = now - st.upload_event;
    SimLock lock(dev);
    clock_field(dev) = sim_device_clock(st);
    data_ul_stat& u = upload(dev);
    const bool refusal_over = u.status == UL_STATUS_REFUSED && idle >= kHoldSeconds;
    const bool abandoned = u.status == UL_STATUS_ACCEPTED && idle > st.idle_limit;
    const bool unannounced =
        u.status == UL_STATUS_CLAIMED && st.claim_watch.stale(u.access_ts, now, st.idle_limit);
    if (u.status != UL_STATUS_CLAIMED)
        st.claim_watch.reset();
    if (refusal_over || abandoned || unannounced) {
        u.status = UL_STATUS_FREE;
        st.claim_watch.reset();
    }
    if (u.status == UL_STATUS_FREE && st.cancel_honoured && idle >= kHoldSeconds) {
        u.cancel = 0;
        st.cancel_honoured = false;
    }
}
