// lock_discipline_test.cpp - what the session services and the record
// accessors do while they hold the device lock, and how their waits pace
// themselves. The system-call table is replaced by a device that lives in
// this process: semop takes and releases a modelled lock, msgsnd hands the
// message to a scripted service, usleep advances a modelled clock that
// gettimeofday reads. While the lock is free the shared memory holds poison,
// so a read made without the lock sees garbage and a write made without it
// is found when the lock is next taken; only the words that the protocol
// polls without the lock stay readable. Each call leaves a trace (down, up,
// send:TYPE/PAYLOAD, sleep:MICROSECONDS) that the tables compare whole.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "cgi_cfg_access.h"
#include "cgi_cfg_session.h"
#include "shm_syscalls.h"

namespace {

using shm_internal::sys;

constexpr unsigned char kPoison = 0xDB;
constexpr uint32_t kEpoch = 1700000000;  // the modelled clock starts here
constexpr size_t kCfgSize = CFG_SEGMENT_MIN_SIZE;
constexpr int kSem = 7, kQueue = 8;  // any ids: nothing reaches the kernel

// One shared region as the library may see it: its bytes while the lock is
// held, poison otherwise (but for the bytes read without the lock).
class Guarded {
  public:
    Guarded(const char* name, size_t size)
        : name_(name), mem_(size), shadow_(size), unlocked_(size), seen_(size)
    {
    }
    unsigned char* data() { return mem_.data(); }
    void allow_unlocked_read(size_t offset, size_t length)
    {
        std::fill_n(unlocked_.begin() + static_cast<long>(offset), length, true);
    }
    void hide()
    {
        for (size_t i = 0; i < mem_.size(); ++i) {
            if (unlocked_[i]) {
                seen_[i] = mem_[i];
            } else {
                shadow_[i] = mem_[i];
                mem_[i] = kPoison;
            }
        }
    }
    // Restores the content and reports the first byte written meanwhile.
    void reveal(std::vector<std::string>& faults)
    {
        size_t first = mem_.size();
        for (size_t i = mem_.size(); i-- > 0;) {
            if (unlocked_[i]) {
                if (mem_[i] != seen_[i])
                    first = i;
            } else {
                if (mem_[i] != kPoison)
                    first = i;
                mem_[i] = shadow_[i];
            }
        }
        if (first < mem_.size())
            faults.push_back("write without the lock at " + std::string(name_) + "+" +
                             std::to_string(first));
    }

  private:
    const char* name_;
    std::vector<unsigned char> mem_, shadow_;
    std::vector<bool> unlocked_;
    std::vector<unsigned char> seen_;
};

// The device behind the replaced calls.
struct Device {
    Guarded cfg{"cfg", kCfgSize}, sch{"sch", SCH_TABLE_SIZE}, da{"da", DA_TABLE_SIZE};
    bool held = true;  // between calls the test itself looks at the memory
    uint64_t micros = uint64_t{kEpoch} * 1000000;
    int sleeps = 0;
    std::vector<std::string> events, faults;
    std::function<void(long type, int payload)> on_message;  // the service's answer
    std::function<void(int sleeps)> on_sleep;                // the service at work meanwhile

    void hide()
    {
        for (Guarded* g : {&cfg, &sch, &da})
            g->hide();
        held = false;
    }
    void reveal()
    {
        for (Guarded* g : {&cfg, &sch, &da})
            g->reveal(faults);
        held = true;
    }
    // Runs the service's step as another process would: under the lock.
    void serve(const std::function<void()>& step)
    {
        if (held) {
            faults.push_back("lock held across " + events.back());
            step();
            return;
        }
        reveal();
        step();
        hide();
    }
};

Device* g_dev = nullptr;

int fake_semop(int, struct sembuf* op, size_t)
{
    const bool take = op->sem_op < 0;
    g_dev->events.push_back(take ? "down" : "up");
    if (take == g_dev->held)
        g_dev->faults.push_back(take ? "lock taken twice" : "lock released while free");
    else if (take)
        g_dev->reveal();
    else
        g_dev->hide();
    return 0;
}

// A message as the library sends it: the type and one payload byte.
struct OneByte {
    long type;
    unsigned char text;
};

int fake_msgsnd(int, const void* msg, size_t, int)
{
    const auto* m = static_cast<const OneByte*>(msg);
    g_dev->events.push_back("send:" + std::to_string(m->type) + "/" + std::to_string(m->text));
    if (g_dev->on_message)
        g_dev->serve([m] { g_dev->on_message(m->type, m->text); });
    return 0;
}

int fake_usleep(useconds_t usec)
{
    g_dev->events.push_back("sleep:" + std::to_string(usec));
    g_dev->micros += usec;
    const int n = ++g_dev->sleeps;
    if (g_dev->on_sleep)
        g_dev->serve([n] { g_dev->on_sleep(n); });
    return 0;
}

int fake_gettimeofday(struct timeval* tv)
{
    tv->tv_sec = static_cast<time_t>(g_dev->micros / 1000000);
    tv->tv_usec = static_cast<suseconds_t>(g_dev->micros % 1000000);
    return 0;
}

// The events joined by blanks, a run of one to three repeated events
// written once with its count: "(down up sleep:200000)*3".
std::string trace(const std::vector<std::string>& ev)
{
    std::string out;
    for (size_t i = 0; i < ev.size();) {
        size_t best_p = 1, best_r = 1;
        for (size_t p = 1; p <= 3; ++p) {
            size_t r = 1;
            while (i + (r + 1) * p <= ev.size() &&
                   std::equal(ev.begin() + static_cast<long>(i),
                              ev.begin() + static_cast<long>(i + p),
                              ev.begin() + static_cast<long>(i + r * p)))
                ++r;
            if (r > 1 && r * p > best_r * best_p)
                best_p = p, best_r = r;
        }
        std::string group;
        for (size_t k = 0; k < best_p; ++k)
            group += (k ? " " : "") + ev[i + k];
        if (best_r > 1)
            group = (best_p > 1 ? "(" + group + ")" : group) + "*" + std::to_string(best_r);
        out += (out.empty() ? "" : " ") + group;
        i += best_p * best_r;
    }
    return out;
}

class Discipline : public ::testing::Test {
  protected:
    void SetUp() override
    {
        g_dev = &dev;
        sys.semop = fake_semop;
        sys.msgsnd = fake_msgsnd;
        sys.usleep = fake_usleep;
        sys.gettimeofday = fake_gettimeofday;
        // The words the protocol polls without the lock.
        dev.cfg.allow_unlocked_read(CFG_UL_STAT_OFFSET + offsetof(data_ul_stat, status), 8);
        dev.cfg.allow_unlocked_read(CFG_UL_STAT_OFFSET + offsetof(data_ul_stat, cur_size), 4);
        dev.cfg.allow_unlocked_read(CFG_UL_STAT_OFFSET + offsetof(data_ul_stat, cancel), 4);
        dev.cfg.allow_unlocked_read(CFG_RT_UPDATE_OFFSET + offsetof(cfg_rt_update_data, ip_status),
                                    1);
        dev.cfg.allow_unlocked_read(
            CFG_RT_UPDATE_OFFSET + offsetof(cfg_rt_update_data, release_date_status), 1);
        // Filters are compared without the lock.
        for (int i = 0; i < SCH_SLOTS; ++i)
            dev.sch.allow_unlocked_read(i * sizeof(sch_shm), offsetof(sch_shm, camera_map));
        for (size_t i = 0; i < kCfgSize; ++i)
            dev.cfg.data()[i] = static_cast<unsigned char>(i * 7 + 1);
    }
    void TearDown() override
    {
        sys = shm_internal::kRealSyscalls;
        g_dev = nullptr;
    }

    // One library call as the other processes see it; returns its trace and
    // records a lock still held on return as a fault.
    std::string run(const std::function<void()>& call)
    {
        dev.events.clear();
        dev.faults.clear();
        dev.sleeps = 0;
        dev.hide();
        call();
        if (dev.held)
            dev.faults.push_back("returned holding the lock");
        else
            dev.reveal();
        EXPECT_EQ(dev.faults, std::vector<std::string>{});
        dev.on_message = nullptr;
        dev.on_sleep = nullptr;
        return trace(dev.events);
    }

    uint32_t now() const { return static_cast<uint32_t>(dev.micros / 1000000); }
    uint32_t search_counter()
    {
        uint32_t v;
        std::memcpy(&v, dev.sch.data() + SCH_CONN_COUNTER_OFFSET, sizeof v);
        return v;
    }
    data_ul_stat& ul()
    {
        return *reinterpret_cast<data_ul_stat*>(dev.cfg.data() + CFG_UL_STAT_OFFSET);
    }
    cfg_rt_update_data& rt()
    {
        return *reinterpret_cast<cfg_rt_update_data*>(dev.cfg.data() + CFG_RT_UPDATE_OFFSET);
    }
    sch_shm& sch_slot(int i) { return reinterpret_cast<sch_shm*>(dev.sch.data())[i]; }
    da_shm& da_slot(int i) { return reinterpret_cast<da_shm*>(dev.da.data())[i]; }

    Device dev;
};

TEST_F(Discipline, UploadClaimWaitsOneSecondForTheVerdict)
{
    const struct {
        uint32_t before, verdict;  // verdict 0: the service does not answer
        int result;
        const char* trace;
    } cases[] = {{0, UL_STATUS_ACCEPTED, FUP_ACCEPTED, "down up send:12297/0 sleep:1000000"},
                 {0, UL_STATUS_REFUSED, FUP_REFUSED, "down up send:12297/0 sleep:1000000"},
                 {0, 0, FUP_NO_ANSWER, "down up send:12297/0 sleep:1000000"},
                 {UL_STATUS_ACCEPTED, 0, FUP_BUSY, "down up"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.result);
        std::memset(&ul(), 0, sizeof(data_ul_stat));
        ul().status = c.before;
        const uint32_t claimed_at = now();
        // The verdict comes after the message, during the wait.
        dev.on_sleep = [this, &c](int) {
            if (c.verdict != 0)
                ul().status = c.verdict;
        };
        int result = 0;
        EXPECT_EQ(run([&] { result = fup_occupy(dev.cfg.data(), kSem, kQueue); }), c.trace);
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(ul().access_ts, c.result == FUP_BUSY ? 0u : claimed_at);
    }
}

TEST_F(Discipline, UploadPieceWaitsTenPollsOfTwoMilliseconds)
{
    const struct {
        uint32_t cur_size, buf_id;
        int taken_after;  // sleeps before the service takes the piece; 0: never
        int result;
        const char* trace;
    } cases[] = {{0, 5, 0, 1, "send:12297/0"},
                 {9, 0, 0, 1, "send:12297/0"},
                 {9, 5, 3, 1, "send:12297/0 sleep:2000*3"},
                 {9, 5, 10, 0, "send:12297/0 sleep:2000*10"},  // not looked at again
                 {9, 5, 0, 0, "send:12297/0 sleep:2000*10"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.trace);
        ul().cur_size = c.cur_size;
        ul().buf_id = c.buf_id;
        dev.on_sleep = [this, &c](int n) {
            if (n == c.taken_after)
                ul().cur_size = 0;
        };
        int result = -1;
        EXPECT_EQ(run([&] { result = fup_tavik_recv(dev.cfg.data(), kSem, kQueue, 512); }),
                  c.trace);
        EXPECT_EQ(result, c.result);
    }
}

TEST_F(Discipline, UploadRecordChangesUnderTheLock)
{
    std::memset(&ul(), 0xA5, sizeof(data_ul_stat));
    data_ul_stat want = ul();
    want.total_size = 4096;
    want.recv_size = want.cur_size = 0;
    want.start_ts = kEpoch;
    int result = 0;
    EXPECT_EQ(run([&] { result = fup_init(dev.cfg.data(), kSem, 4096); }), "down up");
    EXPECT_EQ(result, 1);
    EXPECT_EQ(std::memcmp(&ul(), &want, sizeof want), 0);

    ul().cancel = 0;
    ul().status = UL_STATUS_FREE;  // nothing to cancel: the service is told all the same
    EXPECT_EQ(run([&] { result = fup_cancel(dev.cfg.data(), kSem, kQueue); }),
              "down up send:12297/0");
    EXPECT_EQ(ul().cancel, 1u);
    EXPECT_EQ(ul().status, UL_STATUS_FREE);
    EXPECT_EQ(run([&] { result = static_cast<int>(fup_is_cancelled(dev.cfg.data())); }), "");
    EXPECT_EQ(result, 1);

    data_ul_stat copy{};
    EXPECT_EQ(run([&] { fup_get_status(dev.cfg.data(), kSem, &copy); }), "down up");
    EXPECT_EQ(std::memcmp(&copy, &ul(), sizeof copy), 0);
}

TEST_F(Discipline, DhcpRequestsPollTenTimesEveryTenthOfASecond)
{
    const struct {
        int (*request)(void*, int, int, cfg_rt_update_data*);
        long type;
        size_t flag, other;
    } kinds[] = {
        {get_dhcp_setting, RT_MSG_DHCP_SETTING, offsetof(cfg_rt_update_data, ip_status),
         offsetof(cfg_rt_update_data, release_date_status)},
        {get_dhcp_release, RT_MSG_DHCP_RELEASE, offsetof(cfg_rt_update_data, release_date_status),
         offsetof(cfg_rt_update_data, ip_status)}};
    const struct {
        int answer_after;  // -1: at the message; 0: never; n: during the nth sleep
        int result;
        const char* sleeps;
    } cases[] = {{-1, 0, ""},
                 {4, 0, "sleep:100000*4 "},
                 {10, RT_NO_ANSWER, "sleep:100000*10 "},  // not looked at again
                 {0, RT_NO_ANSWER, "sleep:100000*10 "}};
    for (const auto& k : kinds) {
        for (const auto& c : cases) {
            SCOPED_TRACE(testing::Message() << k.type << " answer " << c.answer_after);
            unsigned char* rec = dev.cfg.data() + CFG_RT_UPDATE_OFFSET;
            rec[k.flag] = RT_FLAG_ANSWERED;  // a stale answer must not count
            rec[k.other] = 7;
            const auto answer = [this, rec, &k] {
                rt().gateway = 0xC0A80001;
                rec[k.flag] = RT_FLAG_ANSWERED;
            };
            dev.on_message = [&](long, int) {
                if (c.answer_after < 0)
                    answer();
            };
            dev.on_sleep = [&](int n) {
                if (n == c.answer_after)
                    answer();
            };
            cfg_rt_update_data got;
            std::memset(&got, 0xEE, sizeof got);
            int result = 1;
            const std::string want =
                "down up send:" + std::to_string(k.type) + "/0 " + c.sleeps + "down up";
            EXPECT_EQ(run([&] { result = k.request(dev.cfg.data(), kSem, kQueue, &got); }), want);
            EXPECT_EQ(result, c.result);
            cfg_rt_update_data copy{};
            if (c.result == 0) {
                copy = rt();
                reinterpret_cast<unsigned char*>(&copy)[k.flag] = RT_FLAG_ANSWERED;
            }
            EXPECT_EQ(std::memcmp(&got, &copy, sizeof got), 0);
            EXPECT_EQ(rec[k.flag], RT_FLAG_TAKEN);
            EXPECT_EQ(rec[k.other], 7);
            rt().gateway = 0;
        }
    }
    std::vector<unsigned char> want(dev.cfg.data(), dev.cfg.data() + kCfgSize);
    const uint32_t ts = 0x61626364;
    std::memcpy(&want[CFG_RT_UPDATE_OFFSET + offsetof(cfg_rt_update_data, cur_ts)], &ts, 4);
    EXPECT_EQ(run([&] { set_system_time(dev.cfg.data(), kSem, kQueue, ts); }),
              "down up send:12301/0");
    EXPECT_EQ(std::vector<unsigned char>(dev.cfg.data(), dev.cfg.data() + kCfgSize), want);
}

TEST_F(Discipline, DiskMapPollsUnderTheLockEveryFifthOfASecond)
{
    const struct {
        uint32_t conn_id;  // the caller's; slot 2 is owned by 40
        int op, zoom, answer_after;
        uint8_t level_seen, target_seen;
        const char* trace;
    } cases[] = {
        {0, 0, 0, 0, 12, 3, "(down up)*2 send:768/0 (down up)*2"},
        {40, 0, 2, 0, 9, 30, "(down up)*2 send:772/2 (down up)*2"},
        {40, 1, 0, 3, 9, 3, "(down up)*2 send:769/2 (down up sleep:200000)*3 (down up)*2"},
        {0, 0, 1, 1, 12, 3, "(down up)*2 send:771/0 down up sleep:200000 (down up)*2"},
        {0, 3, 0, 0, 12, 3, "(down up)*2 send:771/0 (down up)*2"},  // op 3 shares zoom 1's type
        {0, 0, 7, 0, 12, 3, "(down up)*2 send:777/0 (down up)*2"},
        {0, -1, 0, 0, 12, 3, "(down up)*2 send:767/0 (down up)*2"},
        {41, 0, 0, 0, 12, 3, "(down up)*3 send:768/0 (down up)*2"},  // gone: a new slot
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.trace);
        std::memset(dev.da.data(), 0, DA_TABLE_SIZE);
        da_slot(2).conn_id = 40;
        for (int s : {0, 2}) {
            da_slot(s).da_map.level = 12;
            da_slot(s).da_map.target_pos = 3;
        }
        da_shm local{};
        local.conn_id = c.conn_id;
        local.da_map.target_pos = 30;
        uint8_t level_seen = 0, target_seen = 0;
        const auto answer = [&](int slot) {
            da_slot(slot).da_op_started = da_slot(slot).da_op_done = 1;
            da_slot(slot).access_ts = 0x51525354;
        };
        int slot_asked = -1;
        dev.on_message = [&](long, int slot) {
            slot_asked = slot;
            level_seen = da_slot(slot).da_map.level;
            target_seen = da_slot(slot).da_map.target_pos;
            if (c.answer_after == 0)
                answer(slot);
        };
        dev.on_sleep = [&](int n) {
            if (n == c.answer_after)
                answer(slot_asked);
        };
        int result = -1;
        EXPECT_EQ(
            run([&] { result = da_getmap(dev.da.data(), kSem, kQueue, &local, c.op, c.zoom); }),
            c.trace);
        EXPECT_EQ(result, slot_asked);
        EXPECT_EQ(level_seen, c.level_seen);
        EXPECT_EQ(target_seen, c.target_seen);
        EXPECT_EQ(da_slot(result).da_op_started + da_slot(result).da_op_done, 0);
        EXPECT_EQ(std::memcmp(&local, &da_slot(result), sizeof local), 0) << "the answer";
    }
}

TEST_F(Discipline, DiskMapClaimsAndAnswers)
{
    // The counter wraps past 0 to 1, the first id.
    std::memset(dev.da.data() + DA_CONN_COUNTER_OFFSET, 0xFF, 4);
    dev.on_message = [this](long, int slot) {
        da_slot(slot).da_op_started = da_slot(slot).da_op_done = 1;
    };
    da_shm local{};
    EXPECT_EQ(run([&] { da_getmap(dev.da.data(), kSem, kQueue, &local, 0, 0); }),
              "(down up)*2 send:768/0 (down up)*2");
    EXPECT_EQ(local.conn_id, 1u);
    // A full table, the caller's slot gone: an id is drawn, nothing is sent.
    for (int i = 0; i < DA_SLOTS; ++i)
        da_slot(i).conn_id = 100 + static_cast<uint32_t>(i);
    local.conn_id = 5;
    int result = 0;
    EXPECT_EQ(run([&] { result = da_getmap(dev.da.data(), kSem, kQueue, &local, 1, 0); }),
              "(down up)*3");
    EXPECT_EQ(result, -1);
    EXPECT_EQ(local.conn_id, 5u);
    // An answer needs both flags and is taken once.
    const struct {
        int slot;
        uint8_t started, done;
        int result;
        const char* trace;
    } cases[] = {{7, 1, 0, 0, "down up"}, {7, 0, 1, 0, "down up"}, {7, 2, 1, 0, "down up"},
                 {7, 1, 1, 1, "down up"}, {8, 1, 1, -1, ""},       {-1, 1, 1, -1, ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.slot << ":" << int(c.started) << int(c.done));
        da_slot(7).da_op_started = c.started;
        da_slot(7).da_op_done = c.done;
        EXPECT_EQ(run([&] { result = da_op_done(dev.da.data(), c.slot, kSem); }), c.trace);
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(da_slot(7).da_op_started, c.result == 1 ? 0 : c.started);
        EXPECT_EQ(da_slot(7).da_op_done, c.result == 1 ? 0 : c.done);
    }
}

// Every situation of sch_update: the caller's current search is in slot 3
// (owner 90); a new search takes the lowest free slot, 0.
TEST_F(Discipline, SearchUpdateStampsEveryVisitedSlot)
{
    const struct {
        const char* name;
        uint32_t web_user;  // the caller's: 0 none, 91 a search whose slot is gone
        int revisit;
        bool same_filters;
        uint8_t end, stop;  // the service's flags in slot 3
        bool full;          // every other slot owned
        int result;
        unsigned stamped;  // bit i: slot i stamped with the visit's time
        const char* trace;
        bool copied;  // the caller's record is refreshed from slot 3
    } cases[] = {
        {"new", 0, 0, true, 0, 0, false, 0, 1, "(down up)*4 send:1/0 send:2/0", false},
        {"new, full", 0, 0, true, 0, 0, true, -1, 0, "(down up)*2", false},
        {"gone", 91, 0, true, 0, 0, false, 0, 1, "(down up)*5 send:1/0 send:2/0", false},
        {"gone, continued", 91, 1, true, 0, 0, false, 0, 1, "(down up)*5 send:1/0 send:2/0", false},
        {"same filters", 90, 0, true, 0, 0, false, 3, 8, "(down up)*2 send:2/3 down up", true},
        {"other filters", 90, 0, false, 0, 0, false, 0, 9,
         "(down up)*2 send:3/3 (down up)*4 send:1/0 send:2/0", false},
        {"other filters, full", 90, 0, false, 0, 0, true, -1, 8, "(down up)*2 send:3/3 (down up)*2",
         false},
        {"continued", 90, 1, true, 0, 0, false, 3, 8, "(down up)*3 send:2/3", true},
        {"continued, other filters, full", 90, 1, false, 0, 0, true, 3, 8, "(down up)*3 send:2/3",
         true},
        {"continued, stop alone", 90, 1, true, 0, 1, false, 3, 8, "(down up)*3 send:2/3", true},
        {"continued, ended", 90, 1, true, 1, 0, false, 3, 8, "(down up)*3 send:3/3 send:2/3", true},
        {"continued, ended and stopped", 90, 1, true, 1, 1, false, -1, 8, "(down up)*3 send:3/3",
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::memset(dev.sch.data(), 0, SCH_TABLE_SIZE);
        for (int i = 0; i < SCH_SLOTS && c.full; ++i)
            sch_slot(i).web_user = 9000 + static_cast<uint32_t>(i);
        sch_shm& owned = sch_slot(3);
        owned.web_user = 90;
        owned.filters.starttime = 1000;
        owned.sch_result_num = 17;
        owned.sch_end = c.end;
        owned.sch_stop = c.stop;
        sch_shm local{};
        local.web_user = c.web_user;
        local.filters.starttime = c.same_filters ? 1000 : 2000;
        int result = -2;
        EXPECT_EQ(
            run([&] { result = sch_update(dev.sch.data(), kSem, kQueue, c.revisit, &local); }),
            c.trace);
        EXPECT_EQ(result, c.result);
        for (int i = 0; i < SCH_SLOTS; ++i)
            EXPECT_EQ(sch_slot(i).sch_access_ts, (c.stamped >> i & 1) ? now() : 0u) << i;
        if (c.copied) {
            EXPECT_EQ(std::memcmp(&local, &owned, sizeof local), 0) << "the answer";
        } else if (c.result >= 0) {
            const sch_shm& started = sch_slot(c.result);
            EXPECT_EQ(local.web_user, started.web_user);
            EXPECT_EQ(local.web_user, search_counter());
            EXPECT_EQ(started.sch_chnl, 255);
            EXPECT_EQ(started.filters.starttime, local.filters.starttime);
        } else {
            EXPECT_EQ(local.web_user, c.web_user);
            EXPECT_EQ(search_counter(), 1u) << "an id is drawn all the same";
        }
    }
}

// One accessor: the bytes [off, off + len) of the caller's buffer move to or
// from the segment at base + off; the second part may be empty.
struct AccessorRow {
    const char* name;
    int (*call)(int r0w1, void* shm, void* buf);
    std::size_t base;  // segment offset of the caller's buffer
    struct {
        std::size_t off, len;
    } part[2];
    bool read_only;
};

// clang-format off
#define RW(f, off, len) \
    {#f, [](int d, void* s, void* b) { return f(d, s, kSem, b); }, off, {{0, len}, {}}, false}
#define RWN(f, n, off, len) \
    {#f "[" #n "]", [](int d, void* s, void* b) { return f(d, s, kSem, b, n); }, off, \
     {{0, len}, {}}, false}
#define RO(f, type, off, len) \
    {#f, [](int, void* s, void* b) { return f(s, kSem, static_cast<type>(b)); }, off, \
     {{0, len}, {}}, true}
const AccessorRow kAccessors[] = {
    RW(rw_display_setting, 0, 11),                  RW(rw_all_user_setting, 12, 650),
    RWN(rw_user_setting, 0, 12, 26),                RWN(rw_user_setting, 24, 636, 26),
    RWN(rw_analog_camera_setting, 0, 664, 88),      RWN(rw_analog_camera_setting, 15, 1984, 88),
    RWN(rw_ip_camera_setting, 0, 2072, 40),         RWN(rw_ip_camera_setting, 3, 2192, 40),
    RW(rw_schedules_setting, 3212, 3616),           RWN(rw_schedule_entry_setting, 255, 6782, 14),
    RW(rw_frontpanel_setting, 6796, 32),            RW(rw_alarm_setting, 6828, 592),
    RW(rw_alarm_system_notification_setting, 6828, 8), RW(rw_alarm_silent_alarm_setting, 6836, 2),
    RWN(rw_alarm_io_setting_local, 0, 6838, 22),    RWN(rw_alarm_io_setting_local, 15, 7168, 22),
    RWN(rw_alarm_io_setting_ip, 3, 7256, 22),       RW(rw_network_setting, 7420, 1360),
    RW(rw_network_ip_setting, 7420, 112),           RW(rw_network_advanced_setting, 7532, 28),
    RW(rw_network_service_setting, 7636, 564),      RW(rw_network_streaming_setting, 8200, 8),
    RW(rw_network_serial_pass_setting, 8208, 12),   RW(rw_network_notification_setting, 8220, 7),
    RW(rw_network_email_setting, 8228, 538),        RW(rw_network_dialout_setting, 8768, 12),
    RW(rw_system_front_panel_setting, 8780, 8),     RW(rw_system_audio_output_setting, 8788, 1),
    RW(rw_system_time_date_setting, 8792, 24),      RW(rw_system_security_setting, 8816, 18),
    RW(rw_system_language_setting, 8834, 2),        RW(rw_system_disk_setting, 8836, 8),
    RW(rw_system_serial_setting, 8844, 18),         RW(rw_macro_setting, 9212, 5120),
    RWN(rw_macro_setting_entry, 255, 14312, 20),
    {"rw_info_hostname",
     [](int d, void* s, void* b) { return rw_info_hostname(d, s, kSem, static_cast<char*>(b)); },
     8955, {{0, 65}, {}}, false},
    {"rw_macro_num",
     [](int d, void* s, void* b) { return rw_macro_num(d, s, kSem, static_cast<int*>(b)); },
     14332, {{0, 4}, {}}, false},
    // The camera type and one media table of a whole camera record, each at
    // the record's own offset, under one lock hold.
    {"rw_ip_camera_vidar_setting",
     [](int d, void* s, void* b) { return rw_ip_camera_vidar_setting(d, s, kSem, b); },
     664, {{1568, 4}, {1572, 592}}, false},
    {"rw_ip_camera_vidar_II_setting",
     [](int d, void* s, void* b) { return rw_ip_camera_vidar_II_setting(d, s, kSem, b); },
     664, {{1568, 4}, {2164, 384}}, false},
    RO(read_info_setting, void*, 8864, 300),        RO(read_perm_setting, void*, 9172, 40),
    RO(read_tv_format_setting, unsigned char*, 9168, 1), RO(read_config_model, void*, 30786, 70),
};
#undef RW
#undef RWN
#undef RO
// clang-format on

bool moves(const AccessorRow& r, std::size_t buf_off)
{
    for (const auto& p : r.part)
        if (buf_off >= p.off && buf_off < p.off + p.len)
            return true;
    return false;
}

// Each accessor moves exactly its region, in the direction asked (any
// non-zero direction writes), in one lock hold, and returns 0.
TEST_F(Discipline, EveryAccessorMovesItsRegionUnderTheLock)
{
    constexpr std::size_t kBuf = 5120 + 16;  // the largest region and guard bytes
    std::vector<unsigned char> src(kBuf);
    for (std::size_t i = 0; i < kBuf; ++i)
        src[i] = static_cast<unsigned char>((i * 131 + 91) % 251);
    const std::vector<unsigned char> before(dev.cfg.data(), dev.cfg.data() + kCfgSize);
    for (const AccessorRow& r : kAccessors) {
        for (int direction : {0, 1, -5}) {
            if (direction != 0 && r.read_only)
                break;
            SCOPED_TRACE(testing::Message() << r.name << " direction " << direction);
            std::memcpy(dev.cfg.data(), before.data(), kCfgSize);
            std::vector<unsigned char> buf(kBuf, 0xEE);
            if (direction != 0)
                buf = src;
            std::vector<unsigned char> seg = before, want = buf;
            for (std::size_t i = 0; i < kBuf; ++i) {
                if (moves(r, i) && direction == 0)
                    want[i] = before[r.base + i];
                if (moves(r, i) && direction != 0)
                    seg[r.base + i] = src[i];
            }
            int result = -1;
            EXPECT_EQ(run([&] { result = r.call(direction, dev.cfg.data(), buf.data()); }),
                      "down up");
            EXPECT_EQ(result, 0);
            EXPECT_EQ(buf, want);
            EXPECT_EQ(std::vector<unsigned char>(dev.cfg.data(), dev.cfg.data() + kCfgSize), seg);
        }
    }
}

TEST_F(Discipline, UserLookupReadsEachRecordUnderItsOwnLock)
{
    user_setting* users = reinterpret_cast<user_setting*>(dev.cfg.data() + 12);
    std::memset(users, 0, 25 * sizeof(user_setting));
    std::strcpy(users[2].username, "oper");
    users[2].enable = 1;
    users[2].access_level = 2;
    char name[] = "oper";
    int level = -1;
    EXPECT_EQ(run([&] { level = getUserLevel(dev.cfg.data(), kSem, name); }), "(down up)*3");
    EXPECT_EQ(level, 2);
}

}  // namespace
