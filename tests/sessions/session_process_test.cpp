// session_process_test.cpp - cross-process behaviour: distinct ids and
// exclusive claims under contention, which operations lock, and no lock held
// while sending or waiting for the service.
#include "session_fixture.h"

#include <set>

namespace session_test {
namespace {

class ProcessesTest : public SessionTest {
  protected:
    // True when semaphore 0 is seen free within ~100 ms: a lock held across
    // a blocked send or a sleep is never seen free.
    bool lock_seen_free()
    {
        for (int i = 0; i < 20; ++i, usleep(5000))
            if (getSemVal(semid, 0) == 1)
                return true;
        return false;
    }
};

// The test running the current operation table, for capture-less lambdas.
ProcessesTest* t;

// Both tables share the counter code; the disk-map counter's place and lock
// are checked by its own tests and the lock table below.
TEST_F(ProcessesTest, ConnectionIdsAreDistinctAndCountedExactlyAcrossTheWrap)
{
    constexpr int kProcs = 8, kDraws = 200;
    const uint32_t start = UINT32_MAX - kProcs * kDraws / 2;  // wraps midway
    std::memcpy(sch + SCH_CONN_COUNTER_OFFSET, &start, 4);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::vector<pid_t> kids;
    for (int p = 0; p < kProcs; ++p)
        kids.push_back(spawn([&] {
            uint32_t ids[kDraws];
            for (uint32_t& id : ids)
                id = incr_conn_id(sch, semid);
            return write(fds[1], ids, sizeof ids) == sizeof ids ? 0 : 1;
        }));
    for (pid_t k : kids)
        EXPECT_EQ(wait_exit(k), 0);
    close(fds[1]);
    std::set<uint32_t> seen;
    for (uint32_t id; read(fds[0], &id, sizeof id) == sizeof id;)
        seen.insert(id);
    close(fds[0]);
    EXPECT_EQ(seen.size(), size_t{kProcs * kDraws});
    EXPECT_EQ(seen.count(0), 0u);  // 0 means "free" and is skipped
    EXPECT_EQ(counter(sch + SCH_CONN_COUNTER_OFFSET), uint32_t{kProcs * kDraws / 2});
}

TEST_F(ProcessesTest, SlotClaimsAreExclusive)
{
    constexpr int kProcs = SCH_SLOTS + 8;
    std::vector<pid_t> kids;
    for (int p = 0; p < kProcs; ++p)
        kids.push_back(spawn([&, p] { return sch_occupy_empty_slot(sch, semid, 500 + p) + 1; }));
    std::multiset<int> slots;
    for (int p = 0; p < kProcs; ++p) {
        const int slot = wait_exit(kids[p]) - 1;
        slots.insert(slot);
        if (slot >= 0) {
            EXPECT_EQ(sch_slot(slot)->web_user, 500u + p);
        }
    }
    EXPECT_EQ(slots.count(-1), 8u);
    EXPECT_EQ(std::set<int>(slots.begin(), slots.end()).size(), size_t{SCH_SLOTS + 1});
}

TEST_F(ProcessesTest, OnlyOneOfTwoUploadClaimsWins)
{
    start_service([this](const Msg&) {
        zel_session::SemLock lock(semid);
        if (ul()->status == UL_STATUS_CLAIMED)
            ul()->status = UL_STATUS_ACCEPTED;
    });
    int gate[2];
    ASSERT_EQ(pipe(gate), 0);
    auto claimant = [&] {
        char c;
        close(gate[1]);
        if (read(gate[0], &c, 1) != 0)  // both released when the gate closes
            return 100;
        return fup_occupy(cfg, semid, msgid) & 0xff;
    };
    const pid_t a = spawn(claimant), b = spawn(claimant);
    close(gate[0]);
    close(gate[1]);
    const std::multiset<int> results{wait_exit(a), wait_exit(b)};
    EXPECT_EQ(results, (std::multiset<int>{FUP_ACCEPTED, FUP_BUSY & 0xff}));
    EXPECT_EQ(ul()->status, UL_STATUS_ACCEPTED);
}

TEST_F(ProcessesTest, WhichOperationsTakeTheLock)
{
    t = this;
    static sch_shm s;
    static da_shm d;
    static data_ul_stat u;
    const struct {
        const char* name;
        bool locks;
        int (*op)();
    } cases[] = {
        {"incr_conn_id", true, [] { return int(incr_conn_id(t->sch, t->semid)); }},
        {"da_incr_conn_id", true, [] { return int(da_incr_conn_id(t->da, t->semid)); }},
        {"sch_occupy_empty_slot", true, [] { return sch_occupy_empty_slot(t->sch, t->semid, 3); }},
        {"sch_find_slot", true, [] { return sch_find_slot(t->sch, 3, t->semid); }},
        {"da_find_slot", true, [] { return da_find_slot(t->da, 3, t->semid); }},
        {"da_occupy_empty_slot", true, [] { return da_occupy_empty_slot(t->da, t->semid, 3); }},
        {"da_op_done", true, [] { return da_op_done(t->da, 0, t->semid); }},
        {"rw_da_map", true, [] { return rw_da_map(0, t->da, t->semid, &d, 0); }},
        {"rw_search_shm", true, [] { return rw_search_shm(0, t->sch, t->semid, &s, 0), 0; }},
        {"sch_update_ts", true, [] { return sch_update_ts(t->sch_slot(0), t->semid), 0; }},
        {"sch_on_start_search", true,
         [] { return sch_on_start_search(t->sch_slot(0), &s, 9, t->semid), 0; }},
        {"fup_init", true, [] { return fup_init(t->cfg, t->semid, 10); }},
        {"fup_get_status", true, [] { return fup_get_status(t->cfg, t->semid, &u); }},
        {"set_system_time", true, [] { return set_system_time(t->cfg, t->semid, t->msgid, 5); }},
        {"sch_compare_filter", false,
         [] { return sch_compare_filter(t->sch_slot(0), t->sch_slot(1)); }},
        {"fup_is_cancelled", false, [] { return int(fup_is_cancelled(t->cfg)); }},
        {"da_op_done, bad slot", false,
         [] { return da_op_done(t->da, 8, t->semid) + da_op_done(t->da, -1, t->semid); }},
        {"fup_tavik_recv", false, [] { return fup_tavik_recv(t->cfg, t->semid, t->msgid, 1); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        setSem(semid, 0, 0);  // the lock is taken elsewhere
        const pid_t kid = spawn([&] { return alarm(5), c.op(), 0; });
        if (c.locks) {
            usleep(100000);
            EXPECT_EQ(waitpid(kid, nullptr, WNOHANG), 0) << "ran without the lock";
            setSem(semid, 0, 1);
        }
        EXPECT_EQ(wait_exit(kid), 0);
        setSem(semid, 0, 1);
        drain();
    }
}

TEST_F(ProcessesTest, NoLockHeldWhileSendingOrWaiting)
{
    t = this;
    static sch_shm s;
    static da_shm d;
    static cfg_rt_update_data r;
    const struct {
        const char* name;
        int (*op)();
    } cases[] = {
        {"sch_update", [] { return sch_update(t->sch, t->semid, t->msgid, 0, &s); }},
        {"da_getmap", [] { return da_getmap(t->da, t->semid, t->msgid, &d, 0, 0); }},
        {"fup_occupy", [] { return fup_occupy(t->cfg, t->semid, t->msgid); }},
        {"fup_cancel", [] { return fup_cancel(t->cfg, t->semid, t->msgid); }},
        {"get_dhcp_setting", [] { return get_dhcp_setting(t->cfg, t->semid, t->msgid, &r); }},
        {"get_dhcp_release", [] { return get_dhcp_release(t->cfg, t->semid, t->msgid, &r); }},
        {"set_system_time", [] { return set_system_time(t->cfg, t->semid, t->msgid, 1); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RawMsg filler{99, {0}};
        while (msgsnd(msgid, &filler, 1, IPC_NOWAIT) == 0) {
        }
        const pid_t kid = spawn(c.op);
        EXPECT_TRUE(lock_seen_free()) << "lock held across a blocked send";
        drain();
        EXPECT_TRUE(lock_seen_free()) << "lock held while waiting";
        kill(kid, SIGKILL);
        waitpid(kid, nullptr, 0);
        setSem(semid, 0, 1);
        drain();
    }
}

}  // namespace
}  // namespace session_test
