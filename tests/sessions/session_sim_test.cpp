// session_sim_test.cpp - the simulator's session services answering the
// library's real calls (event and motion search, disk map zoom, upload
// claims and cancels), answering every disk-map type, and freeing stale and
// finished slots and unannounced upload claims.
#include <climits>

#include "session_fixture.h"

#include "sim_session_common.h"

namespace session_test {
namespace {

class SimulatorTest : public SessionTest {
  public:
    void SetUp() override
    {
        SessionTest::SetUp();
        st.sch = sch;
        st.da = da;
        dev = SimDevice{cfg, semid, msgid};
    }

    bool handle(const Msg& m)
    {
        return sim_sessions_dispatch(st, dev, m.type, static_cast<unsigned char>(m.payload));
    }

    // Answers everything waiting on the queue, in order.
    void serve_queue()
    {
        for (const Msg& m : drain())
            EXPECT_TRUE(handle(m)) << m.type;
    }
    void start_simulated_service()
    {
        start_service([this](const Msg& m) { handle(m); });
    }

    SimSessionState st;
    SimDevice dev{};
};

TEST_F(SimulatorTest, SearchFillsOverSeveralRefreshesThenFreesItsSlot)
{
    const struct {
        uint32_t cameras, motion_cameras;  // event search on `cameras`, motion search on the others
        uint16_t area;                     // rows of the motion grid chosen
        uint32_t results;
        uint8_t name_flags;  // a bit every result carries
    } cases[] = {{1u << 3, 0, 0, 7 * 48, 0}, {0, 1u << 2, 0xffff, 0, 2}, {0, 1u << 2, 0, 0, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cameras | c.motion_cameras);
        sch_shm local{};
        local.camera_map = c.cameras;
        local.mt_filter.cameramap = c.motion_cameras;
        for (int r = 0; r < 16; ++r)
            local.mt_filter.grid[2].info[r] = c.area;
        int slot = sch_update(sch, semid, msgid, 0, &local);
        ASSERT_EQ(slot, 0);
        std::vector<unsigned> progress;
        for (int visit = 0; visit < 10 && slot >= 0; ++visit) {
            serve_queue();
            slot = sch_update(sch, semid, msgid, 1, &local);
            progress.push_back(local.sch_progress);
            EXPECT_LE(local.sch_prev_result_num, local.sch_result_num);
        }
        serve_queue();
        EXPECT_EQ(slot, -1);
        EXPECT_EQ(progress, (std::vector<unsigned>{25, 50, 75, 100}));
        EXPECT_EQ(local.sch_end + local.sch_stop, 2);
        if (c.results != 0) {  // camera 3, every half hour for a week
            EXPECT_EQ(local.sch_result_num, c.results);
        }
        EXPECT_EQ(local.sch_result_num == 0, c.cameras == 0 && c.area == 0);
        for (uint32_t i = 0; i < local.sch_result_num; ++i) {
            ASSERT_EQ(local.results[i].camera_map, c.cameras | c.motion_cameras);
            ASSERT_EQ(local.results[i].name_flags & c.name_flags, c.name_flags);
        }
        EXPECT_EQ(sch_slot(0)->web_user, 0u);  // the final cancel freed it
    }
}

TEST_F(SimulatorTest, StaleAndFinishedSlotsAreFreed)
{
    const uint32_t now = sim_wall_seconds();
    const struct {
        int age;  // seconds since the last visit; 0 = never stamped
        bool finished;
        bool freed;
    } cases[] = {{100, false, true}, {5, false, false}, {20, true, true},
                 {5, true, false},   {0, false, false}, {-100, false, false}};
    constexpr int kCases = sizeof cases / sizeof cases[0];
    for (int i = 0; i < kCases; ++i) {
        const uint32_t stamp = cases[i].age ? now - cases[i].age : 0;  // < 0: ahead of now
        sch_slot(i)->web_user = 10 + i;
        sch_slot(i)->sch_access_ts = stamp;
        sch_slot(i)->sch_end = sch_slot(i)->sch_stop = cases[i].finished;
        da_slot(i)->conn_id = 10 + i;
        da_slot(i)->access_ts = stamp;
    }
    sim_sessions_timed(st, dev, now);
    for (int i = 0; i < kCases; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(sch_slot(i)->web_user == 0, cases[i].freed);
        EXPECT_EQ(da_slot(i)->conn_id == 0, cases[i].age > int(st.idle_limit));
    }
    // Unstamped and future stamps are timed from the first round that saw them.
    sim_sessions_timed(st, dev, now + st.idle_limit + 1);
    for (int i = 0; i < kCases; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(sch_slot(i)->web_user + da_slot(i)->conn_id, 0u);
    }
}

TEST_F(SimulatorTest, DiskMapZoomsInAndOut)
{
    const struct {
        int op, zoom, target;
        uint8_t level;
        uint32_t first_block, span;
    } steps[] = {{0, 0, 0, 0, 0, 1679616},
                 {0, 1, 5, 1, 5 * 46656, 46656},
                 {0, 1, 2, 2, 5 * 46656 + 2 * 1296, 1296},
                 {1, 0, 0, 1, 5 * 46656, 46656},
                 {2, 0, 0, 0, 0, 1679616},
                 {0, 3, 35, 3, 35 * (46656 + 1296 + 36), 36}};
    start_simulated_service();
    da_shm local{};
    for (const auto& s : steps) {
        SCOPED_TRACE(testing::Message() << s.op << "/" << s.zoom);
        local.da_map.target_pos = static_cast<uint8_t>(s.target);
        ASSERT_EQ(da_getmap(da, semid, msgid, &local, s.op, s.zoom), 0);
        EXPECT_EQ(local.da_map.level, s.level);
        EXPECT_EQ(local.da_map.logical_block[0], s.first_block);
        EXPECT_EQ(local.da_map.logical_block[36] - local.da_map.logical_block[0], s.span);
        EXPECT_EQ(local.da_map.last, s.level == 3);
        EXPECT_EQ(local.da_map.max_blocks, 1679616u);
    }
}

// Every type outside the search and upload/runtime families is a disk-map
// request: 768 + op or 770 + zoom for any integers op and zoom.
TEST_F(SimulatorTest, DiskMapAnswersEveryTypeARequestCanSend)
{
    const long types[] = {768, 4, 767, 1024, 12296, 12300, 770 + 20000, LONG_MAX};
    da_slot(3)->conn_id = 7;
    da_slot(3)->da_map.level = 200;  // written by another process: past the deepest level
    for (long type : types) {
        SCOPED_TRACE(type);
        EXPECT_TRUE(handle({type, 3}));
        EXPECT_EQ(da_op_done(da, 3, semid), 1);
        EXPECT_LE(da_slot(3)->da_map.level, 3);
    }
    EXPECT_TRUE(handle({4, 5}));  // a free slot is not answered
    EXPECT_EQ(da_op_done(da, 5, semid), 0);
}

// A claim whose claimant died before announcing it is freed after the idle
// limit, timed from its access_ts (or, unstamped or stamped ahead, from the
// first round that saw it); an accepted upload left without a message too.
TEST_F(SimulatorTest, UnannouncedUploadClaimIsFreed)
{
    const uint32_t now = sim_wall_seconds();
    const struct {
        uint32_t status, stamp;
        uint32_t after;  // status after one timed round
    } cases[] = {{UL_STATUS_CLAIMED, now - 100, UL_STATUS_FREE},
                 {UL_STATUS_CLAIMED, now - 5, UL_STATUS_CLAIMED},
                 {UL_STATUS_CLAIMED, now + 100, UL_STATUS_CLAIMED},
                 {UL_STATUS_CLAIMED, 0, UL_STATUS_CLAIMED},
                 {UL_STATUS_ACCEPTED, now, UL_STATUS_ACCEPTED}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stamp);
        st = SimSessionState{};
        st.sch = sch;
        st.da = da;
        st.upload_event = now;  // no other upload ends meanwhile
        ul()->status = c.status;
        ul()->access_ts = c.stamp;
        sim_sessions_timed(st, dev, now);
        EXPECT_EQ(ul()->status, c.after);
        sim_sessions_timed(st, dev, now + st.idle_limit + 1);
        EXPECT_EQ(ul()->status, UL_STATUS_FREE);
    }
}

// A cancel acted on is cleared by the next claim; one made before the
// simulator saw the claim belongs to it, and the claim is refused. The
// claims are made with no service running and answered afterwards.
TEST_F(SimulatorTest, UploadClaimKeepsAnEarlyCancelAndDropsAnOldOne)
{
    const struct {
        bool refuse;  // simulator refuses every upload
        bool old;     // a cancel was acted on before the claim
        bool early;   // cancel sent after the claim, before it was answered
        uint32_t status, cancel;
    } cases[] = {{false, true, false, UL_STATUS_ACCEPTED, 0},
                 {true, true, false, UL_STATUS_REFUSED, 0},
                 {false, false, true, UL_STATUS_REFUSED, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.refuse << c.old << c.early);
        *ul() = data_ul_stat{};
        st.refuse_uploads = c.refuse;
        if (c.old) {
            fup_cancel(cfg, semid, msgid);
            serve_queue();
        }
        EXPECT_EQ(fup_occupy(cfg, semid, msgid), FUP_NO_ANSWER);
        if (c.early)
            fup_cancel(cfg, semid, msgid);
        serve_queue();
        EXPECT_EQ(ul()->status, c.status);
        EXPECT_EQ(ul()->cancel, c.cancel);
    }
}

}  // namespace
}  // namespace session_test
