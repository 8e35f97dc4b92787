// lock_discipline_test.cpp - the session services and record accessors on the
// modelled device: what they do under the lock and how their waits pace.
#include "modelled_device.h"

#include "cgi_cfg_access.h"

namespace {

using namespace modelled;
using Discipline = Modelled;

TEST_F(Discipline, UploadPiecesAndRecord)
{
    // A piece is polled ten times, 2 ms apart, until the service takes it.
    const struct {
        uint32_t cur_size, buf_id;
        int taken_after, result;
        const char* trace;
    } pieces[] = {{0, 5, 0, 1, "send:12297/0"},
                  {9, 0, 0, 1, "send:12297/0"},
                  {9, 5, 3, 1, "send:12297/0 sleep:2000*3"},
                  {9, 5, 10, 0, "send:12297/0 sleep:2000*10"},  // not looked at again
                  {9, 5, 0, 0, "send:12297/0 sleep:2000*10"}};
    for (const auto& c : pieces) {
        SCOPED_TRACE(c.trace);
        ul().cur_size = c.cur_size;
        ul().buf_id = c.buf_id;
        answer(c.taken_after, [this] { ul().cur_size = 0; });
        EXPECT_EQ(run([&] { return fup_tavik_recv(cfg(), kSem, kQueue, 512); }), c.trace);
        EXPECT_EQ(result, c.result);
    }
    // The record under the lock; a cancel is sent even with nothing to cancel.
    std::memset(&ul(), 0xA5, sizeof(data_ul_stat));
    data_ul_stat want = ul();
    want.total_size = 4096, want.recv_size = want.cur_size = 0, want.start_ts = now();
    EXPECT_EQ(run([&] { return fup_init(cfg(), kSem, 4096); }), "lock");
    EXPECT_EQ(std::memcmp(&ul(), &want, sizeof want), 0);
    ul().cancel = 0, ul().status = UL_STATUS_FREE;
    EXPECT_EQ(run([&] { return fup_cancel(cfg(), kSem, kQueue); }), "lock send:12297/0");
    EXPECT_EQ(ul().cancel, 1u);
    EXPECT_EQ(ul().status, UL_STATUS_FREE);
    EXPECT_EQ(run([&] { return int(fup_is_cancelled(cfg())); }), "");
    EXPECT_EQ(result, 1);
    data_ul_stat copy{};
    EXPECT_EQ(run([&] { return fup_get_status(cfg(), kSem, &copy); }), "lock");
    EXPECT_EQ(std::memcmp(&copy, &ul(), sizeof copy), 0);
}

// Both DHCP requests, answered at the message, during a sleep or never; a
// stale answer does not count.
TEST_F(Discipline, DhcpRequestsPollTenTimesEveryTenthOfASecond)
{
    using Rt = cfg_rt_update_data;
    const struct {
        int (*request)(void*, int, int, Rt*);
        long type;
        size_t flag;  // the other request's flag stays as it is
    } kinds[] = {{get_dhcp_setting, RT_MSG_DHCP_SETTING, offsetof(Rt, ip_status)},
                 {get_dhcp_release, RT_MSG_DHCP_RELEASE, offsetof(Rt, release_date_status)}};
    const struct {
        int answer_after, result;  // an answer during the tenth sleep is not looked at
    } cases[] = {{-1, 0}, {4, 0}, {10, RT_NO_ANSWER}, {0, RT_NO_ANSWER}};
    unsigned char* rec = cfg() + CFG_RT_UPDATE_OFFSET;
    Rt& rt = *reinterpret_cast<Rt*>(rec);
    for (const auto& k : kinds) {
        const size_t other = kinds[&k == &kinds[0] ? 1 : 0].flag;
        for (const auto& c : cases) {
            SCOPED_TRACE(testing::Message() << k.type << " answer " << c.answer_after);
            rec[k.flag] = RT_FLAG_ANSWERED, rec[other] = 7, rt.gateway = 0;
            answer(c.answer_after,
                   [&] { rt.gateway = 0xC0A80001, rec[k.flag] = RT_FLAG_ANSWERED; });
            Rt got, want{};  // the answer as it was given, or nothing
            std::memset(&got, 0xEE, sizeof got);
            const int polls = c.answer_after < 0 ? 0 : c.answer_after ? c.answer_after : 10;
            EXPECT_EQ(run([&] { return k.request(cfg(), kSem, kQueue, &got); }),
                      "lock send:" + std::to_string(k.type) + "/0 " +
                          (polls ? "sleep:100000*" + std::to_string(polls) + " " : "") + "lock");
            EXPECT_EQ(result, c.result);
            if (c.result == 0)
                want = rt, reinterpret_cast<unsigned char*>(&want)[k.flag] = RT_FLAG_ANSWERED;
            EXPECT_EQ(std::memcmp(&got, &want, sizeof got), 0);
            EXPECT_EQ(rec[k.flag], RT_FLAG_TAKEN);
            EXPECT_EQ(rec[other], 7);
        }
    }
    Bytes want = dev.cfg.mem;  // the clock request changes cur_ts alone
    const uint32_t ts = 0x61626364;
    std::memcpy(&want[CFG_RT_UPDATE_OFFSET + offsetof(Rt, cur_ts)], &ts, 4);
    EXPECT_EQ(run([&] { return set_system_time(cfg(), kSem, kQueue, ts); }), "lock send:12301/0");
    EXPECT_EQ(dev.cfg.mem, want);
}

// Slot 2 is owned by 40. A found slot gets the caller's target when zooming
// and a level no deeper than 9 before the request is sent; a caller whose
// slot is gone gets a new one; with a full table nothing is sent. The types,
// polls and answers of requests are in the simulator's disk-map test.
TEST_F(Discipline, DiskMapPreparesTheSlotUnderTheLock)
{
    const struct {
        uint32_t conn_id;  // the caller's
        int zoom;
        uint8_t level, target;  // the slot's when answered
        const char* trace;
    } cases[] = {{40, 2, 9, 30, "lock*2 send:772/2 lock*2"},
                 {40, 0, 9, 3, "lock*2 send:768/2 lock*2"},
                 {41, 0, 12, 3, "lock*3 send:768/0 lock*2"}};
    da_shm local{};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.trace);
        std::fill(dev.da.mem.begin(), dev.da.mem.end(), 0);
        da_slot(2).conn_id = 40;
        for (int s : {0, 2})
            da_slot(s).da_map.level = 12, da_slot(s).da_map.target_pos = 3;
        local = da_shm{};
        local.conn_id = c.conn_id, local.da_map.target_pos = 30;
        answer(-1, [this] {
            da_slot(dev.payload).da_op_started = da_slot(dev.payload).da_op_done = 1;
        });
        EXPECT_EQ(
            run([&] { return da_getmap(dev.da.mem.data(), kSem, kQueue, &local, 0, c.zoom); }),
            c.trace);
        EXPECT_EQ(local.da_map.level, c.level);
        EXPECT_EQ(local.da_map.target_pos, c.target);
    }
    // A full table, the caller's slot gone: an id is drawn, nothing is sent.
    for (int i = 0; i < DA_SLOTS; ++i)
        da_slot(i).conn_id = 100 + static_cast<uint32_t>(i);
    local.conn_id = 5;
    EXPECT_EQ(run([&] { return da_getmap(dev.da.mem.data(), kSem, kQueue, &local, 1, 0); }),
              "lock*3");
    EXPECT_EQ(result, -1);
    EXPECT_EQ(local.conn_id, 5u);
    // An answer needs both flags and is taken once; a slot out of range has none.
    const struct {
        int slot;
        uint8_t started, done;
        int result;
    } answers[] = {{7, 1, 0, 0}, {7, 0, 1, 0}, {7, 2, 1, 0}, {7, 1, 1, 1}, {8, 1, 1, -1}};
    for (const auto& c : answers) {
        SCOPED_TRACE(testing::Message() << c.slot << ":" << int(c.started) << int(c.done));
        da_slot(7).da_op_started = c.started, da_slot(7).da_op_done = c.done;
        EXPECT_EQ(run([&] { return da_op_done(dev.da.mem.data(), c.slot, kSem); }),
                  c.result < 0 ? "" : "lock");
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(da_slot(7).da_op_started, c.result == 1 ? 0 : c.started);
        EXPECT_EQ(da_slot(7).da_op_done, c.result == 1 ? 0 : c.done);
    }
}

// Every situation of sch_update: the caller's search is in slot 3 (owner 90);
// a new one draws an id and starts the lowest free slot, 0, afresh. A found
// slot is stamped and refreshed into the caller's record, a new one stamped.
TEST_F(Discipline, SearchUpdateStampsEveryVisitedSlot)
{
    const struct {
        const char* name;
        uint32_t web_user;  // the caller's: 0 none, 91 a search whose slot is gone
        int revisit, result;
        bool same_filters, full;  // full: every other slot owned
        uint8_t end, stop;        // the service's flags in slot 3
        const char* trace;
    } cases[] = {
        {"new", 0, 0, 0, true, false, 0, 0, "lock*4 send:1/0 send:2/0"},
        {"new, full", 0, 0, -1, true, true, 0, 0, "lock*2"},
        {"gone", 91, 0, 0, true, false, 0, 0, "lock*5 send:1/0 send:2/0"},
        {"same filters", 90, 0, 3, true, false, 0, 0, "lock*2 send:2/3 lock"},
        {"other filters", 90, 0, 0, false, false, 0, 0, "lock*2 send:3/3 lock*4 send:1/0 send:2/0"},
        {"other filters, full", 90, 0, -1, false, true, 0, 0, "lock*2 send:3/3 lock*2"},
        {"continued", 90, 1, 3, true, false, 0, 0, "lock*3 send:2/3"},
        {"continued, stop alone", 90, 1, 3, true, false, 0, 1, "lock*3 send:2/3"},
        {"continued, ended", 90, 1, 3, true, false, 1, 0, "lock*3 send:3/3 send:2/3"},
        {"continued, ended and stopped", 90, 1, -1, true, false, 1, 1, "lock*3 send:3/3"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::fill(dev.sch.mem.begin(), dev.sch.mem.end(), 0);
        for (uint32_t i = 0; i < SCH_SLOTS; ++i)  // an earlier search's results stay
            sch_slot(i).sch_result_num = 77, sch_slot(i).web_user = c.full ? 9000 + i : 0;
        sch_shm& owned = sch_slot(3);
        owned.web_user = 90, owned.filters.starttime = 1000, owned.mt_filter.cameramap = 0x4;
        owned.mt_filter.grid[1].info[0] = 1;  // only the grids of selected cameras count
        owned.sch_end = c.end, owned.sch_stop = c.stop;
        sch_shm local{};
        local.web_user = c.web_user, local.filters.starttime = c.same_filters ? 1000 : 2000;
        local.mt_filter.cameramap = 0x4;
        local.camera_map = 0x30, local.dh_map = 5;  // no daily hours in a slot's start values
        EXPECT_EQ(
            run([&] { return sch_update(dev.sch.mem.data(), kSem, kQueue, c.revisit, &local); }),
            c.trace);
        EXPECT_EQ(result, c.result);
        const bool copied = c.web_user == 90 && (c.revisit || c.same_filters);
        for (int i = 0; i < SCH_SLOTS; ++i) {
            const bool stamped = (i == 3 && c.web_user == 90) || (i == c.result && !copied);
            EXPECT_EQ(sch_slot(i).sch_access_ts, stamped ? now() : 0u) << i;
        }
        if (copied) {
            EXPECT_EQ(std::memcmp(&local, &owned, sizeof local), 0) << "the answer";
        } else if (c.result >= 0) {
            sch_shm want{};
            want.filters = local.filters, want.mt_filter = local.mt_filter, want.camera_map = 0x30;
            want.web_user = 1, want.sch_chnl = 255, want.sch_stopped = 1,
            want.sch_access_ts = now();
            EXPECT_EQ(std::memcmp(&sch_slot(c.result), &want, sizeof want), 0) << "the start";
        }
        EXPECT_EQ(local.web_user, copied ? 90u : c.result >= 0 ? 1u : c.web_user);
        uint32_t counter = 0;
        std::memcpy(&counter, dev.sch.mem.data() + SCH_CONN_COUNTER_OFFSET, 4);
        EXPECT_EQ(counter, copied ? 0u : 1u);
    }
}

// One accessor: each part [off, off + len) of the caller's buffer moves to or
// from the segment at base + off.
struct AccessorRow {
    const char* name;
    int (*call)(int r0w1, void* shm, void* buf);
    std::size_t base, part[2][2];
    bool read_only;
};

// clang-format off
#define ROW(name, ro, off, call, ...) \
    {name, [](int d, void* s, void* b) { return (void)d, call; }, off, {__VA_ARGS__}, ro}
#define RW(f, off, len) ROW(#f, false, off, f(d, s, kSem, b), {0, len})
#define RWN(f, n, off, len) ROW(#f "[" #n "]", false, off, f(d, s, kSem, b, n), {0, len})
#define RWT(f, type, off, ...) ROW(#f, false, off, f(d, s, kSem, static_cast<type>(b)), __VA_ARGS__)
#define RO(f, type, off, len) ROW(#f, true, off, f(s, kSem, static_cast<type>(b)), {0, len})
const AccessorRow kAccessors[] = {
    RW(rw_display_setting, 0, 11),                  RW(rw_all_user_setting, 12, 650),
    RWN(rw_user_setting, 24, 636, 26),              RWN(rw_analog_camera_setting, 15, 1984, 88),
    RWN(rw_ip_camera_setting, 3, 2192, 40),         RWN(rw_alarm_io_setting_local, 15, 7168, 22),
    RW(rw_schedules_setting, 3212, 3616),           RWN(rw_schedule_entry_setting, 255, 6782, 14),
    RW(rw_frontpanel_setting, 6796, 32),            RW(rw_alarm_setting, 6828, 592),
    RW(rw_alarm_system_notification_setting, 6828, 8), RW(rw_alarm_silent_alarm_setting, 6836, 2),
    RWN(rw_alarm_io_setting_ip, 3, 7256, 22),       RW(rw_network_setting, 7420, 1360),
    RW(rw_network_ip_setting, 7420, 112),           RW(rw_network_advanced_setting, 7532, 28),
    RW(rw_network_service_setting, 7636, 564),      RW(rw_network_streaming_setting, 8200, 8),
    RW(rw_network_serial_pass_setting, 8208, 12),   RW(rw_network_notification_setting, 8220, 7),
    RW(rw_network_email_setting, 8228, 538),        RW(rw_network_dialout_setting, 8768, 12),
    RW(rw_system_front_panel_setting, 8780, 8),     RW(rw_system_audio_output_setting, 8788, 1),
    RW(rw_system_time_date_setting, 8792, 24),      RW(rw_system_security_setting, 8816, 18),
    RW(rw_system_language_setting, 8834, 2),        RW(rw_system_disk_setting, 8836, 8),
    RW(rw_system_serial_setting, 8844, 18),         RW(rw_macro_setting, 9212, 5120),
    RWN(rw_macro_setting_entry, 255, 14312, 20),    RWT(rw_macro_num, int*, 14332, {0, 4}),
    RWT(rw_info_hostname, char*, 8955, {0, 65}),
    // The camera type and one media table of a whole camera record, each at
    // the record's own offset, under one lock hold.
    RWT(rw_ip_camera_vidar_setting, void*, 664, {1568, 4}, {1572, 592}),
    RWT(rw_ip_camera_vidar_II_setting, void*, 664, {1568, 4}, {2164, 384}),
    RO(read_info_setting, void*, 8864, 300),        RO(read_perm_setting, void*, 9172, 40),
    RO(read_tv_format_setting, unsigned char*, 9168, 1), RO(read_config_model, void*, 30786, 70),
};
#undef ROW
#undef RW
#undef RWN
#undef RWT
#undef RO
// clang-format on

// Each accessor moves exactly its region, in the direction asked (any
// non-zero direction writes), in one lock hold, and returns 0.
TEST_F(Discipline, AccessorsMoveTheirRegionUnderTheLock)
{
    Bytes src(5120 + 16);  // the largest region and guard bytes
    for (std::size_t i = 0; i < src.size(); ++i)
        src[i] = static_cast<unsigned char>((i * 131 + 91) % 251);
    const Bytes before = dev.cfg.mem;
    for (const AccessorRow& r : kAccessors) {
        for (int direction : {0, 1, -5}) {
            if (direction != 0 && r.read_only)
                break;
            SCOPED_TRACE(testing::Message() << r.name << " direction " << direction);
            dev.cfg.mem = before;
            Bytes buf = direction ? src : Bytes(src.size(), 0xEE), seg = before, want = buf;
            for (const auto& p : r.part)
                for (std::size_t i = p[0]; i < p[0] + p[1]; ++i)
                    (direction ? seg[r.base + i] : want[i]) = direction ? src[i] : seg[r.base + i];
            EXPECT_EQ(run([&] { return r.call(direction, cfg(), buf.data()); }), "lock");
            EXPECT_EQ(result, 0);
            EXPECT_EQ(buf, want);
            EXPECT_EQ(dev.cfg.mem, seg);
        }
    }
    // A user lookup reads each user record under a lock of its own.
    auto* users = reinterpret_cast<user_setting*>(cfg() + 12);
    std::memset(users, 0, 25 * sizeof(user_setting));
    std::strcpy(users[2].username, "oper");
    users[2].enable = 1, users[2].access_level = 2;
    char name[] = "oper";
    EXPECT_EQ(run([&] { return getUserLevel(cfg(), kSem, name); }), "lock*3");
    EXPECT_EQ(result, 2);
}

}  // namespace
