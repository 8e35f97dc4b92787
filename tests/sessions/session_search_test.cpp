// session_search_test.cpp - search session table on a real segment and
// semaphore: filter comparison, slot start values, slot claiming and lookup.
// The messages, result and lock holds of every sch_update situation are in
// tests/discipline.
#include "session_fixture.h"

namespace session_test {
namespace {

class SearchTest : public SessionTest {
  protected:
    // Gives every free slot an owner, so the table is full.
    void fill_table()
    {
        for (int i = 0; i < SCH_SLOTS; ++i)
            if (sch_slot(i)->web_user == 0)
                sch_slot(i)->web_user = 9000 + i;
    }
    sch_shm local{};
};

TEST_F(SearchTest, StartValuesOfASlot)
{
    std::memset(sch_slot(3), 0xAA, sizeof(sch_shm));
    local.filters.starttime = 11;
    local.filters.textlen = 3;
    std::strcpy(local.filters.fieldtext, "abc");
    local.mt_filter.grid[15].info[15] = 0x8001;
    local.camera_map = 0x30;
    local.dh_map = 5;
    local.dh[0].day_map = 9;
    sch_on_start_search(sch_slot(3), &local, 42, semid);

    sch_shm want{};
    want.filters = local.filters;
    want.mt_filter = local.mt_filter;
    want.camera_map = 0x30;
    want.web_user = 42;
    want.sch_chnl = 255;
    want.sch_stopped = 1;
    EXPECT_EQ(std::memcmp(sch_slot(3), &want, sizeof want), 0);
    EXPECT_EQ(local.web_user, 42u);
}

// One row per filter change and whether it counts as different.
struct CompareCase {
    const char* name;
    void (*change)(sch_shm& both, sch_shm& other);
    int result;
};

const CompareCase kCompareCases[] = {
    {"identical", [](sch_shm&, sch_shm&) {}, 0},
    {"alarmmap", [](sch_shm&, sch_shm& s) { s.filters.alarmmap = 1; }, 1},
    {"endtime", [](sch_shm&, sch_shm& s) { s.filters.endtime = 1; }, 1},
    {"textlen", [](sch_shm&, sch_shm& s) { s.filters.textlen = 4; }, 1},
    {"text, same length", [](sch_shm&, sch_shm& s) { s.filters.fieldtext[1] = 'X'; }, 1},
    {"text after NUL", [](sch_shm&, sch_shm& s) { s.filters.fieldtext[10] = 'X'; }, 0},
    {"text, both lengths 0",
     [](sch_shm& b, sch_shm& s) {
         b.filters.textlen = s.filters.textlen = 0, s.filters.fieldtext[1] = 'X';
     },
     0},
    {"motion start", [](sch_shm&, sch_shm& s) { s.mt_filter.starttime = 1; }, 1},
    {"motion cameras", [](sch_shm&, sch_shm& s) { s.mt_filter.cameramap = 0x5; }, 1},
    {"rangeindex alone", [](sch_shm&, sch_shm& s) { s.mt_filter.rangeindex = 2; }, 1},
    {"grid of selected camera", [](sch_shm&, sch_shm& s) { s.mt_filter.grid[2].info[7] = 1; }, 1},
    {"grid of unselected camera", [](sch_shm&, sch_shm& s) { s.mt_filter.grid[1].info[0] = 1; }, 0},
    {"camera_map alone", [](sch_shm&, sch_shm& s) { s.camera_map = 0xFF; }, 0},
    {"daily hours alone", [](sch_shm&, sch_shm& s) { s.dh_map = 3, s.dh[31].end_min = 60; }, 0},
};

TEST_F(SearchTest, FilterComparison)
{
    for (const CompareCase& c : kCompareCases) {
        SCOPED_TRACE(c.name);
        sch_shm base{};
        base.filters.textlen = 3;
        std::strcpy(base.filters.fieldtext, "abc");
        base.mt_filter.cameramap = 0x4;  // camera 2 only
        sch_shm other = base;
        c.change(base, other);
        EXPECT_EQ(sch_compare_filter(&base, &other), c.result);
        EXPECT_EQ(sch_compare_filter(&other, &base), c.result);
    }
}

TEST_F(SearchTest, ClaimAndFindTakeTheLowestSlot)
{
    sch_slot(0)->web_user = 5;
    sch_slot(2)->web_user = sch_slot(4)->web_user = 7;
    sch_slot(1)->sch_result_num = 99;  // previous search's content stays
    EXPECT_EQ(sch_find_slot(sch, 7, semid), 2);
    EXPECT_EQ(sch_find_slot(sch, 8, semid), -1);
    EXPECT_EQ(sch_occupy_empty_slot(sch, semid, 8), 1);
    EXPECT_EQ(sch_slot(1)->web_user, 8u);
    EXPECT_EQ(sch_slot(1)->sch_result_num, 99u);
    fill_table();
    sch_slot(15)->web_user = 0;
    EXPECT_EQ(sch_occupy_empty_slot(sch, semid, 21), 15);
    EXPECT_EQ(sch_occupy_empty_slot(sch, semid, 22), -1);
    EXPECT_EQ(sch_find_slot(sch, 21, semid), 15);
    da_slot(DA_SLOTS - 1)->conn_id = 78;  // the last slot of the other table too
    EXPECT_EQ(da_find_slot(da, 78, semid), DA_SLOTS - 1);
    EXPECT_EQ(counter(sch + SCH_CONN_COUNTER_OFFSET), 0u);  // untouched by any claim
}

}  // namespace
}  // namespace session_test
