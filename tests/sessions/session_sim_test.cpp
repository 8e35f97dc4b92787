// session_sim_test.cpp - the simulator's session services answering the
// library on the modelled device of tests/discipline, under its lock (given
// no semaphore, they take none); dvrsession_test.sh runs the real programs.
#include "../discipline/modelled_device.h"

#include "sim_session_common.h"

namespace {

using namespace modelled;

class Simulator : public Modelled {
  protected:
    void SetUp() override
    {
        Modelled::SetUp();
        reset();
    }
    // A simulator just started, over empty tables.
    void reset()
    {
        st = SimSessionState{};
        st.sch = dev.sch.mem.data();
        st.da = dev.da.mem.data();
        std::fill(dev.sch.mem.begin(), dev.sch.mem.end(), 0);
        std::fill(dev.da.mem.begin(), dev.da.mem.end(), 0);
        ul() = data_ul_stat{};
    }
    // The simulator answers every message queued so far.
    void serve()
    {
        for (const auto& [type, payload] : dev.queue)
            EXPECT_TRUE(sim_sessions_dispatch(st, sim, type, static_cast<unsigned char>(payload)));
        dev.queue.clear();
    }

    SimSessionState st;
    SimDevice sim{dev.cfg.mem.data(), -1, kQueue};
};

// An event search on camera 3 and motion searches on camera 2, with and
// without an area, fill over four refreshes; the visit that sees the end
// cancels the search and the cancel frees the slot.
TEST_F(Simulator, SearchFillsOverSeveralRefreshesThenFreesItsSlot)
{
    const struct {
        uint32_t cameras, motion_cameras;
        uint16_t area;       // rows of the motion grid chosen
        uint8_t name_flags;  // a bit every result carries
    } cases[] = {{1u << 3, 0, 0, 0}, {0, 1u << 2, 0xffff, 2}, {0, 1u << 2, 0, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cameras | c.motion_cameras);
        sch_shm local{};
        local.camera_map = c.cameras;
        local.mt_filter.cameramap = c.motion_cameras;
        for (int r = 0; r < 16; ++r)
            local.mt_filter.grid[2].info[r] = c.area;
        run([&] { return sch_update(st.sch, kSem, kQueue, 0, &local); });
        ASSERT_EQ(result, 0);
        std::vector<unsigned> progress;
        for (int visit = 0; visit < 10 && result >= 0; ++visit) {
            serve();
            run([&] { return sch_update(st.sch, kSem, kQueue, 1, &local); });
            progress.push_back(local.sch_progress);
        }
        serve();
        EXPECT_EQ(result, -1);
        EXPECT_EQ(progress, (std::vector<unsigned>{25, 50, 75, 100}));
        EXPECT_EQ(local.sch_end + local.sch_stop, 2);
        // Camera 3: every half hour for a week; motion: results with an area.
        EXPECT_TRUE(c.cameras ? local.sch_result_num == 7 * 48
                              : (local.sch_result_num > 0) == (c.area > 0));
        for (uint32_t i = 0; i < local.sch_result_num; ++i) {
            ASSERT_EQ(local.results[i].camera_map, c.cameras | c.motion_cameras);
            ASSERT_EQ(local.results[i].name_flags & c.name_flags, c.name_flags);
        }
        EXPECT_EQ(sch_slot(0).web_user, 0u);
    }
}

// One search slot, disk-map slot and upload record stamped alike are freed
// idle past the limit (a finished search sooner; an upload claimed or left
// without a message); unstamped or future stamps count from when first seen.
TEST_F(Simulator, StaleSlotsAndClaimsAreFreed)
{
    const uint32_t t = now();
    const struct {
        int age;  // seconds since the last visit; 0 = never stamped
        bool finished, freed;
        uint32_t upload;
    } cases[] = {{100, false, true, UL_STATUS_CLAIMED},   {5, false, false, UL_STATUS_CLAIMED},
                 {20, true, true, UL_STATUS_CLAIMED},     {0, false, false, UL_STATUS_CLAIMED},
                 {-100, false, false, UL_STATUS_CLAIMED}, {5, false, false, UL_STATUS_ACCEPTED}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.age << " " << c.finished << " " << c.upload);
        reset();
        st.upload_event = t;  // no upload message since
        const uint32_t stamp = c.age ? t - c.age : 0;
        sch_slot(0).web_user = da_slot(0).conn_id = 10;
        sch_slot(0).sch_access_ts = da_slot(0).access_ts = ul().access_ts = stamp;
        sch_slot(0).sch_end = sch_slot(0).sch_stop = c.finished;
        ul().status = c.upload;
        sim_sessions_timed(st, sim, t);
        const bool idle = c.age > int(st.idle_limit);
        EXPECT_EQ(sch_slot(0).web_user == 0, c.freed);
        EXPECT_EQ(da_slot(0).conn_id == 0, idle);
        EXPECT_EQ(ul().status, idle && c.upload == UL_STATUS_CLAIMED ? UL_STATUS_FREE : c.upload);
        sim_sessions_timed(st, sim, t + st.idle_limit + 1);
        EXPECT_EQ(sch_slot(0).web_user + da_slot(0).conn_id + ul().status, 0u);
    }
}

// One client's requests in turn, its first drawing an id past 4294967295
// (so 1), answered by the simulator at the message or during the nth poll,
// polls a fifth of a second apart. The type (768 + op, or 770 + zoom; op 3
// shares zoom 1's, others redraw) moves the window, into the caller's target
// column only when zooming; every level shows 36 columns, and a zoom stops
// at level 3, where a column is one block.
TEST_F(Simulator, DiskMapZoomsInAndOut)
{
    const struct {
        int op, zoom, target, answer_after;
        long type;
        uint8_t level;
        uint32_t first_block, span;
    } steps[] = {{0, 0, 0, -1, 768, 0, 0, 1679616},
                 {0, 1, 5, 3, 771, 1, 5 * 46656, 46656},
                 {3, 0, 2, 1, 771, 2, 5 * 46656 + 5 * 1296, 1296},
                 {1, 0, 0, -1, 769, 1, 5 * 46656, 46656},
                 {0, 2, 4, -1, 772, 3, 5 * 46656 + 4 * 1296 + 4 * 36, 36},
                 {2, 0, 0, -1, 770, 0, 0, 1679616},
                 {0, 20000, 35, -1, 20770, 3, 35 * (46656 + 1296 + 36), 36},
                 {-1, 0, 0, -1, 767, 3, 35 * (46656 + 1296 + 36), 36}};
    std::fill_n(dev.da.mem.begin() + long{DA_CONN_COUNTER_OFFSET}, 4, 0xFF);
    da_shm local{};
    for (const auto& s : steps) {
        SCOPED_TRACE(s.type);
        local.da_map.target_pos = static_cast<uint8_t>(s.target);
        answer(s.answer_after, [this] { serve(); });
        std::string polls;
        for (int i = 0; i < s.answer_after; ++i)
            polls += " lock sleep:200000";
        EXPECT_EQ(run([&] { return da_getmap(st.da, kSem, kQueue, &local, s.op, s.zoom); }),
                  "lock*2 send:" + std::to_string(s.type) + "/0" + polls + " lock*2");
        ASSERT_EQ(result, 0);
        EXPECT_EQ(local.conn_id, 1u);
        EXPECT_EQ(da_slot(0).da_op_started + da_slot(0).da_op_done, 0) << "the answer is taken";
        EXPECT_EQ(std::memcmp(&local, &da_slot(0), sizeof local), 0) << "the answer";
        EXPECT_EQ(local.da_map.level, s.level);
        EXPECT_EQ(local.da_map.logical_block[0], s.first_block);
        EXPECT_EQ(local.da_map.logical_block[36] - local.da_map.logical_block[0], s.span);
        EXPECT_EQ(local.da_map.last, s.level == 3);
        EXPECT_EQ(local.da_map.max_blocks, 1679616u);
    }
}

// Upload claims answered during their one-second wait or after it: a cancel
// acted on before is dropped by the next claim, one sent before the answer
// refuses it; a claim is stamped, and on a busy record sends nothing.
TEST_F(Simulator, UploadClaimsAndCancels)
{
    const struct {
        uint32_t before;
        bool refuse;  // simulator refuses every upload
        bool old;     // a cancel was acted on before the claim
        bool early;   // cancel sent after the claim, before it was answered
        int answer_after, result;
        uint32_t status, cancel;
    } claims[] = {{0, false, false, false, 1, FUP_ACCEPTED, UL_STATUS_ACCEPTED, 0},
                  {0, true, false, false, 1, FUP_REFUSED, UL_STATUS_REFUSED, 0},
                  {0, false, true, false, 0, FUP_NO_ANSWER, UL_STATUS_ACCEPTED, 0},
                  {0, true, true, false, 0, FUP_NO_ANSWER, UL_STATUS_REFUSED, 0},
                  {0, false, false, true, 0, FUP_NO_ANSWER, UL_STATUS_REFUSED, 1},
                  {UL_STATUS_ACCEPTED, false, false, false, 1, FUP_BUSY, UL_STATUS_ACCEPTED, 0}};
    for (const auto& c : claims) {
        SCOPED_TRACE(testing::Message() << c.refuse << c.old << c.early << c.answer_after);
        ul() = data_ul_stat{};
        ul().status = c.before;
        st.refuse_uploads = c.refuse;
        if (c.old) {
            run([&] { return fup_cancel(cfg(), kSem, kQueue); });
            serve();
        }
        const uint32_t claimed_at = now();
        answer(c.answer_after, [this] { serve(); });
        EXPECT_EQ(run([&] { return fup_occupy(cfg(), kSem, kQueue); }),
                  c.before ? "lock" : "lock send:12297/0 sleep:1000000");
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(ul().access_ts, c.before ? 0u : claimed_at);
        if (c.early)
            run([&] { return fup_cancel(cfg(), kSem, kQueue); });
        serve();
        EXPECT_EQ(ul().status, c.status);
        EXPECT_EQ(ul().cancel, c.cancel);
    }
}

}  // namespace
