// session_process_test.cpp - cross-process behaviour: distinct ids and
// exclusive claims under contention. Which operations lock, and that none
// holds the lock across a send or a sleep, is in tests/discipline.
#include "session_fixture.h"

#include <set>

namespace session_test {
namespace {

using ProcessesTest = SessionTest;

// Both tables share the counter code; the disk-map counter's place and lock
// are checked in tests/discipline.
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

}  // namespace
}  // namespace session_test
