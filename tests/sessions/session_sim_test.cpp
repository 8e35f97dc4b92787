// session_sim_test.cpp - the simulator's session services answering the
// library's real calls (event and motion search, disk map zoom, a refused
// upload) and freeing stale and finished slots.
#include "session_fixture.h"

#include "sim_session_diskmap.h"
#include "sim_session_exchange.h"
#include "sim_session_search.h"

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
        sim_search_reset();
        sim_diskmap_reset();
    }

    bool handle(const Msg& m)
    {
        return sim_search_handle(st, dev, m.type, m.payload) ||
               sim_diskmap_handle(st, dev, m.type, m.payload) ||
               sim_exchange_handle(st, dev, m.type);
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
    sim_search_tick(st, dev);
    sim_diskmap_tick(st, dev);
    for (int i = 0; i < kCases; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(sch_slot(i)->web_user == 0, cases[i].freed);
        EXPECT_EQ(da_slot(i)->conn_id == 0, cases[i].age > int(st.idle_limit));
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

// Accepted uploads, pieces, cancellation, DHCP and the clock are driven
// end to end by dvrsession_test.sh; a refused claim is not.
TEST_F(SimulatorTest, UploadRefusalClearsALeftOverCancel)
{
    st.refuse_uploads = true;
    start_simulated_service();
    ul()->cancel = 1;
    EXPECT_EQ(fup_occupy(cfg, semid, msgid), FUP_REFUSED);
    EXPECT_EQ(ul()->cancel, 0u);
}

}  // namespace
}  // namespace session_test
