// dvrsession.cpp - command-line client of the session services against the
// device service (or simulator) of key 1632: search, disk map, upload with
// progress, DHCP data, clock.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string_view>
#include <unistd.h>

#include "cgi_cfg_util.h"
#include "shm.h"

namespace {

constexpr key_t kDeviceKey = 1632;
constexpr unsigned kDefaultTimeout = 30;  // seconds; 0 waits for ever

// The device objects, looked up once.
struct Device {
    int semid;
    int msgid;
    void* cfg;  // configuration segment
    void* sch;  // search table
    void* da;   // disk-analysis table
};

// Message written by the SIGALRM handler; built before the alarm is armed.
char g_timeout_text[160];

extern "C" void on_timeout(int)
{
    const ssize_t n = write(STDERR_FILENO, g_timeout_text, strlen(g_timeout_text));
    (void)n;
    _exit(3);
}

void arm_timeout(unsigned seconds, const char* command)
{
    if (seconds == 0)
        return;
    snprintf(g_timeout_text, sizeof g_timeout_text,
             "dvrsession: %s: no answer from the device service within %u s (time limit, "
             "see --timeout); giving up\n",
             command, seconds);
    signal(SIGALRM, on_timeout);
    alarm(seconds);
}

int usage()
{
    fputs(
        "usage: dvrsession [--timeout SECONDS] COMMAND [OPTIONS]\n"
        "  search [--from T] [--to T] [--cameras MAP] [--alarms MAP] [--events MAP]\n"
        "         [--text TEXT] [--motion MAP] [--visits N]   (from: 6 hours ago)\n"
        "  map [--conn ID] [--op N] [--zoom N] [--target COLUMN]\n"
        "  upload --size BYTES [--piece BYTES] [--cancel-after BYTES]\n"
        "  upload-status | upload-cancel\n"
        "  dhcp | release\n"
        "  clock [SECONDS_SINCE_1970]   (default: now)\n"
        "--timeout bounds the whole command (default 30 s, 0 = none); the disk map\n"
        "wait has no bound of its own. T and MAP are numbers (0x.. for hex).\n",
        stderr);
    return 2;
}

bool open_device(Device& d)
{
    d.msgid = get_msg_id(kDeviceKey);
    d.semid = get_sem(kDeviceKey);
    d.cfg =
        d.msgid >= 0 && d.semid >= 0 ? get_shm_ptr_min(kDeviceKey, CFG_SEGMENT_MIN_SIZE) : nullptr;
    d.sch = d.cfg ? get_shm_ptr_min(SCH_SHM_KEY, SCH_TABLE_SIZE) : nullptr;
    d.da = d.sch ? get_shm_ptr_min(DA_SHM_KEY, DA_TABLE_SIZE) : nullptr;
    if (d.da == nullptr)
        fprintf(stderr,
                "dvrsession: the device service's objects (keys %d, %d, %d) are not there or "
                "too small; start it first (dvrsim run)\n",
                kDeviceKey, SCH_SHM_KEY, DA_SHM_KEY);
    return d.da != nullptr;
}

// Command-line options as name/value pairs after the command word.
struct Args {
    int argc;
    char** argv;

    // The value of --name, or null when absent (or given without a value).
    const char* get(std::string_view name) const
    {
        for (int i = 0; i + 1 < argc; ++i)
            if (name == argv[i])
                return argv[i + 1];
        return nullptr;
    }
    // The numeric value of --name, or `fallback` when absent.
    unsigned long num(std::string_view name, unsigned long fallback) const
    {
        const char* v = get(name);
        return v ? strtoul(v, nullptr, 0) : fallback;
    }
};

void print_time(const char* label, uint32_t t)
{
    const time_t tt = t;
    char text[32];
    strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", gmtime(&tt));
    printf("%s%s UTC", label, text);
}

void print_results(const sch_shm& s)
{
    const uint32_t n = s.sch_result_num <= SCH_MAX_RESULTS ? s.sch_result_num : SCH_MAX_RESULTS;
    printf("%u results\n", n);
    for (uint32_t i = 0; i < n; ++i) {
        const sch_local_result& r = s.results[i];
        printf("  #%-5u cameras 0x%05x flags 0x%02x", r.index, r.camera_map, r.name_flags);
        print_time("  ", r.start_time);
        print_time(" .. ", r.end_time);
        putchar('\n');
    }
}

int cmd_search(Device& d, const Args& a)
{
    sch_shm s{};
    const unsigned long six_hours_ago = static_cast<unsigned long>(time(nullptr)) - 6 * 3600;
    s.filters.starttime = static_cast<uint32_t>(a.num("--from", six_hours_ago));
    s.filters.endtime = static_cast<uint32_t>(a.num("--to", 0));
    s.filters.alarmmap = static_cast<uint32_t>(a.num("--alarms", 0));
    s.filters.eventmap = static_cast<uint32_t>(a.num("--events", 0));
    s.camera_map = static_cast<uint32_t>(a.num("--cameras", 0));
    if (const char* text = a.get("--text")) {
        snprintf(s.filters.fieldtext, sizeof s.filters.fieldtext, "%s", text);
        s.filters.textlen = static_cast<uint16_t>(strlen(s.filters.fieldtext));
    }
    s.mt_filter.cameramap = static_cast<uint32_t>(a.num("--motion", 0));
    s.mt_filter.starttime = s.filters.starttime;
    s.mt_filter.endtime = s.filters.endtime;
    std::memset(s.mt_filter.grid, 0xff, sizeof s.mt_filter.grid);  // whole picture

    int slot = sch_update(d.sch, d.semid, d.msgid, 0, &s);
    if (slot < 0) {
        fprintf(stderr, "dvrsession: search table full; try again later\n");
        return 1;
    }
    printf("search started: slot %d, connection id %u\n", slot, s.web_user);
    const unsigned long visits = a.num("--visits", 50);
    for (unsigned long v = 1; v <= visits && slot >= 0; ++v) {
        usleep(100000);
        slot = sch_update(d.sch, d.semid, d.msgid, 1, &s);
        printf("visit %lu: progress %u%%, %u results, end %u, stop %u\n", v, s.sch_progress,
               s.sch_result_num, s.sch_end, s.sch_stop);
    }
    print_results(s);
    return 0;
}

void print_map(const da_shm& m)
{
    const phy_disk_map& p = m.da_map;
    printf("connection id %u (pass --conn %u to go on from here)\n", m.conn_id, m.conn_id);
    printf("level %u%s, blocks %u .. %u of %u\n", p.level, p.last ? " (deepest)" : "",
           p.logical_block[0], p.logical_block[DA_MAP_COLUMNS], p.max_blocks);
    print_time("from ", p.timestamp[0]);
    print_time(" to ", p.timestamp[DA_MAP_COLUMNS - 1]);
    printf(
        "\ncolumns   0         1         2         3\n"
        "          012345678901234567890123456789012345\n");
    for (int r = 0; r < DA_MAP_ROWS; ++r) {
        printf("camera %2d ", r + 1);
        for (int c = 0; c < DA_MAP_COLUMNS; ++c)
            putchar(p.flag[r][c] ? '#' : '.');
        putchar('\n');
    }
}

int cmd_map(Device& d, const Args& a)
{
    da_shm m{};
    m.conn_id = static_cast<uint32_t>(a.num("--conn", 0));
    m.da_map.target_pos = static_cast<uint8_t>(a.num("--target", 0));
    const int slot = da_getmap(d.da, d.semid, d.msgid, &m, static_cast<int>(a.num("--op", 0)),
                               static_cast<int>(a.num("--zoom", 0)));
    if (slot < 0) {
        fprintf(stderr, "dvrsession: disk-analysis table full; try again later\n");
        return 1;
    }
    printf("slot %d, ", slot);
    print_map(m);
    return 0;
}

void print_upload(const data_ul_stat& u)
{
    static const char* const names[] = {"free", "claimed", "refused", "accepted"};
    printf("status %u (%s), received %u of %u bytes, piece %u, buffer %u, cancel %u\n", u.status,
           u.status < 4 ? names[u.status] : "?", u.recv_size, u.total_size, u.cur_size, u.buf_id,
           u.cancel);
}

// Announces one piece: its size and a nonzero buffer number, under the lock.
void announce_piece(Device& d, uint32_t size, uint32_t number)
{
    auto* u =
        reinterpret_cast<data_ul_stat*>(static_cast<unsigned char*>(d.cfg) + CFG_UL_STAT_OFFSET);
    fup_lock(d.semid);
    u->cur_size = size;
    u->buf_id = number;
    fup_unlock(d.semid);
}

int feed_upload(Device& d, uint32_t total, uint32_t piece, uint32_t cancel_after)
{
    fup_init(d.cfg, d.semid, static_cast<int>(total));
    data_ul_stat u{};
    uint32_t sent = 0, number = 0;
    while (sent < total) {
        if (sent >= cancel_after) {
            fup_cancel(d.cfg, d.semid, d.msgid);
            printf("cancelled after %u bytes\n", sent);
            break;
        }
        const uint32_t n = total - sent < piece ? total - sent : piece;
        announce_piece(d, n, ++number);
        if (fup_tavik_recv(d.cfg, d.semid, d.msgid, static_cast<int>(n)) == 0) {
            fprintf(stderr, "dvrsession: piece %u not taken within 20 ms; retrying\n", number);
            continue;
        }
        sent += n;
        fup_get_status(d.cfg, d.semid, &u);
        printf("piece %u: %u of %u bytes (%u%%)\n", number, u.recv_size, total,
               static_cast<unsigned>(100ull * u.recv_size / total));
    }
    usleep(50000);  // let the service close the upload
    fup_get_status(d.cfg, d.semid, &u);
    print_upload(u);
    return fup_is_cancelled(d.cfg) != 0 && sent < total ? 1 : 0;
}

int cmd_upload(Device& d, const Args& a)
{
    const unsigned long total = a.num("--size", 0);
    const unsigned long piece = a.num("--piece", 64 * 1024);
    if (total == 0 || total > 0x7fffffff || piece == 0 || piece > 0x7fffffff)
        return usage();
    const int verdict = fup_occupy(d.cfg, d.semid, d.msgid);
    switch (verdict) {
        case FUP_ACCEPTED:
            printf("upload accepted\n");
            return feed_upload(d, static_cast<uint32_t>(total), static_cast<uint32_t>(piece),
                               static_cast<uint32_t>(a.num("--cancel-after", total)));
        case FUP_REFUSED:
            printf("upload refused by the device\n");
            return 1;
        case FUP_BUSY:
            printf("another upload is in progress\n");
            return 1;
        default:
            printf("no answer from the device within one second (record left claimed)\n");
            return 1;
    }
}

int cmd_upload_status(Device& d)
{
    data_ul_stat u;
    fup_get_status(d.cfg, d.semid, &u);
    print_upload(u);
    return 0;
}

void print_ip(const char* label, uint32_t addr)
{
    char text[80];
    convertItoIP(text, static_cast<int>(addr));
    printf("%-14s %s\n", label, text);
}

int cmd_dhcp(Device& d, bool release)
{
    cfg_rt_update_data r;
    const int rc = release ? get_dhcp_release(d.cfg, d.semid, d.msgid, &r)
                           : get_dhcp_setting(d.cfg, d.semid, d.msgid, &r);
    if (rc != 0) {
        printf("no answer from the device within one second\n");
        return 1;
    }
    if (release) {
        print_time("lease updated  ", r.dhcp_update_date);
        print_time("\nlease expires  ", r.dhcp_lease_exp);
        putchar('\n');
        return 0;
    }
    print_ip("address", r.ip_addr);
    print_ip("subnet mask", r.subnet_mask);
    print_ip("gateway", r.gateway);
    print_ip("primary DNS", r.primary_dns);
    print_ip("secondary DNS", r.secondary_dns);
    return 0;
}

int cmd_clock(Device& d, const Args& a)
{
    const uint32_t ts = a.argc > 0 ? static_cast<uint32_t>(strtoul(a.argv[0], nullptr, 0))
                                   : static_cast<uint32_t>(time(nullptr));
    if (set_system_time(d.cfg, d.semid, d.msgid, ts) != 0)
        return 1;
    print_time("asked the device to set its clock to ", ts);
    putchar('\n');
    return 0;
}

int run(const char* command, Device& d, const Args& a)
{
    const std::string_view c = command;
    if (c == "search")
        return cmd_search(d, a);
    if (c == "map")
        return cmd_map(d, a);
    if (c == "upload")
        return cmd_upload(d, a);
    if (c == "upload-status")
        return cmd_upload_status(d);
    if (c == "upload-cancel")
        return fup_cancel(d.cfg, d.semid, d.msgid);
    if (c == "dhcp" || c == "release")
        return cmd_dhcp(d, c == "release");
    if (c == "clock")
        return cmd_clock(d, a);
    return usage();
}

}  // namespace

int main(int argc, char** argv)
{
    int first = 1;
    unsigned timeout = kDefaultTimeout;
    if (argc > 2 && std::strcmp(argv[1], "--timeout") == 0) {
        timeout = static_cast<unsigned>(strtoul(argv[2], nullptr, 10));
        first = 3;
    }
    if (first >= argc)
        return usage();
    Device d;
    if (!open_device(d))
        return 2;
    setvbuf(stdout, nullptr, _IOLBF, 0);  // progress lines appear as they happen
    arm_timeout(timeout, argv[first]);
    return run(argv[first], d, Args{argc - first - 1, argv + first + 1});
}
