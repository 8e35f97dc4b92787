// session_da_test.cpp - disk-analysis sessions: request message types, the
// zoom target and level clamp applied before the message, the done-flag
// hand-shake, slot claiming and the table-full refusal.
#include "session_fixture.h"

namespace session_test {
namespace {

class DiskMapTest : public SessionTest {
  protected:
    // A service that answers every request at once and records in the slot
    // what it saw: the type in access_ts, the slot's target_pos and level on
    // arrival in the first two time stamps.
    void start_answering_service()
    {
        start_service([this](const Msg& m) {
            zel_session::SemLock lock(semid);
            da_shm* s = da_slot(m.payload);
            s->access_ts = static_cast<uint32_t>(m.type);
            s->da_map.timestamp[0] = s->da_map.target_pos;
            s->da_map.timestamp[1] = s->da_map.level;
            s->da_op_started = s->da_op_done = 1;
        });
    }
    da_shm local{};
};

TEST_F(DiskMapTest, MessageTypeOfEachRequest)
{
    const struct {
        int op, zoom;
        long type;
    } cases[] = {{0, 0, 768}, {1, 5, 769}, {2, 0, 770}, {3, 0, 771},
                 {0, 1, 771}, {0, 7, 777}, {-1, 0, 767}};
    start_answering_service();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type);
        EXPECT_EQ(da_getmap(da, semid, msgid, &local, c.op, c.zoom), 0);
        EXPECT_EQ(local.access_ts, static_cast<uint32_t>(c.type));
        EXPECT_EQ(local.conn_id, 1u);  // the same slot on every later request
    }
}

TEST_F(DiskMapTest, FirstRequestClaimsLowestFreeSlotAndTakesItsId)
{
    da_slot(0)->conn_id = 77;
    da_slot(1)->da_map.level = 12;  // a claimed slot keeps its content
    da_slot(1)->da_map.target_pos = 3;
    std::memcpy(da + DA_CONN_COUNTER_OFFSET, "\xff\xff\xff\xff", 4);
    local.da_map.target_pos = 30;
    start_answering_service();
    EXPECT_EQ(da_getmap(da, semid, msgid, &local, 0, 4), 1);
    EXPECT_EQ(local.conn_id, 1u);  // counter wrapped past 0
    EXPECT_EQ(local.da_map.timestamp[0], 3u);
    EXPECT_EQ(local.da_map.timestamp[1], 12u);
    EXPECT_EQ(da_slot(1)->da_op_started + da_slot(1)->da_op_done, 0);
}

TEST_F(DiskMapTest, FoundSlotGetsZoomTargetAndClampedLevel)
{
    const struct {
        int zoom;
        uint8_t level, target_seen, level_seen;
    } cases[] = {{0, 12, 5, 9}, {2, 9, 30, 9}, {1, 200, 30, 9}, {0, 10, 5, 9}, {0, 3, 5, 3}};
    da_slot(2)->conn_id = local.conn_id = 40;
    start_answering_service();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.level);
        da_slot(2)->da_map.target_pos = 5;
        da_slot(2)->da_map.level = c.level;
        local.da_map.target_pos = 30;
        EXPECT_EQ(da_getmap(da, semid, msgid, &local, 0, c.zoom), 2);
        EXPECT_EQ(local.da_map.timestamp[0], c.target_seen);
        EXPECT_EQ(local.da_map.timestamp[1], c.level_seen);
    }
}

TEST_F(DiskMapTest, FullTableSendsNothing)
{
    for (int i = 0; i < DA_SLOTS; ++i)
        da_slot(i)->conn_id = 100 + i;
    local.conn_id = 5;  // gone: treated as a first request
    EXPECT_EQ(da_getmap(da, semid, msgid, &local, 1, 0), -1);
    EXPECT_TRUE(drain().empty());
    EXPECT_EQ(local.conn_id, 5u);
    EXPECT_EQ(counter(da + DA_CONN_COUNTER_OFFSET), 1u);
}

TEST_F(DiskMapTest, DoneNeedsBothFlagsAndConsumesThem)
{
    const struct {
        uint8_t started, done;
        int result;
    } cases[] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 0}, {2, 1, 0}, {1, 1, 1}};
    for (const auto& c : cases) {
        da_slot(7)->da_op_started = c.started;
        da_slot(7)->da_op_done = c.done;
        EXPECT_EQ(da_op_done(da, 7, semid), c.result);
        EXPECT_EQ(da_slot(7)->da_op_started, c.result == 1 ? 0 : c.started);
        EXPECT_EQ(da_slot(7)->da_op_done, c.result == 1 ? 0 : c.done);
    }
}

}  // namespace
}  // namespace session_test
