// access_test.cpp - a failed lock does not stop the copy; an index out of
// range stops the process. (Bytes moved under the lock: tests/discipline.)
#include "cgi_cfg_access.h"
#include "debug.h"
#include "shm.h"
#include "../ipc/stderr_capture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr key_t kKey = 1632;

// The set removed under the accessor: down and up fail, the copy is made.
TEST(Access, CopyIsMadeButResultReportsAFailedRelease)
{
    debugLevels = 0;
    std::vector<unsigned char> seg(CFG_SEGMENT_MIN_SIZE, 7);
    const int sem = create_sem(kKey, 1);
    ASSERT_EQ(remove_sem(kKey), 0);
    unsigned char buf[11] = {};
    int rc = 0;
    const std::string log =
        capture_stderr([&] { rc = rw_display_setting(0, seg.data(), sem, buf); });
    EXPECT_EQ(rc, -1);
    EXPECT_EQ(std::memcmp(buf, seg.data(), sizeof buf), 0);
    EXPECT_EQ(log, "10|Failed semaphore down operation\n10|Failed semaphore up operation\n");
}

TEST(AccessDeath, IndexOutOfRangeStopsWithTheCondition)
{
    std::vector<unsigned char> seg(CFG_SEGMENT_MIN_SIZE);
    unsigned char buf[5120];
    void* s = seg.data();
    EXPECT_DEATH(rw_user_setting(0, s, 0, buf, 25), "user_num >= 0 && user_num < 25");
    EXPECT_DEATH(rw_analog_camera_setting(0, s, 0, buf, 16), "camera_num >= 0 && camera_num < 16");
    EXPECT_DEATH(rw_ip_camera_setting(0, s, 0, buf, 4), "camera_num >= 0 && camera_num < 4");
    EXPECT_DEATH(rw_schedule_entry_setting(0, s, 0, buf, 256), "entry_num >= 0 && entry_num < 256");
    EXPECT_DEATH(rw_alarm_io_setting_local(0, s, 0, buf, 16), "local_num >= 0 && local_num < 16");
    EXPECT_DEATH(rw_alarm_io_setting_ip(0, s, 0, buf, 4), "ip_num >= 0 && ip_num < 4");
    EXPECT_DEATH(rw_macro_setting_entry(0, s, 0, buf, -1), "macro_num >= 0 && macro_num < 256");
}

}  // namespace
