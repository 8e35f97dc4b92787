// access_test.cpp - every locked accessor against a segment image: it moves
// exactly its region in the direction asked, touches nothing else, gives the
// lock back, and stops on an index out of range.
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
constexpr std::size_t kGuard = 16;  // bytes past the region in the caller's buffer

using Accessor = int (*)(int r0w1, void* shm, int sem, void* buf);

// Bytes an accessor moves: [off, off + len) of the caller's buffer, at
// segment offset base + off.
struct Region {
    std::size_t off, len;
};

struct Row {
    const char* name;
    Accessor fn;
    std::size_t base;  // segment offset of the caller's buffer
    Region part[2];    // what moves; the second part may be empty
    bool read_only;
};

#define RW(f, off, len)                                                                        \
    Row                                                                                        \
    {                                                                                          \
#f, [](int d, void* s, int m, void* b) { return f(d, s, m, b); }, off,                 \
                                                                       {{0, len }, {} }, false \
    }
#define RWN(f, n, off, len)                                                                   \
    Row                                                                                       \
    {                                                                                         \
#f "[" #n "]", [](int d, void* s, int m,                                              \
                          void* b) { return f(d, s, m, b, n); }, off, {{0, len }, {} }, false \
    }
#define RO(f, type, off, len)                                                                  \
    Row                                                                                        \
    {                                                                                          \
#f, [](int, void* s, int m,                                                            \
               void* b) { return f(s, m, static_cast<type>(b)); }, off, {{0, len }, {} }, true \
    }

const Row kRows[] = {
    RW(rw_display_setting, 0, 11),
    RW(rw_all_user_setting, 12, 650),
    RWN(rw_user_setting, 0, 12, 26),
    RWN(rw_user_setting, 24, 636, 26),
    RWN(rw_analog_camera_setting, 0, 664, 88),
    RWN(rw_analog_camera_setting, 15, 1984, 88),
    RWN(rw_ip_camera_setting, 0, 2072, 40),
    RWN(rw_ip_camera_setting, 3, 2192, 40),
    RW(rw_schedules_setting, 3212, 3616),
    RWN(rw_schedule_entry_setting, 255, 6782, 14),
    RW(rw_frontpanel_setting, 6796, 32),
    RW(rw_alarm_setting, 6828, 592),
    RW(rw_alarm_system_notification_setting, 6828, 8),
    RW(rw_alarm_silent_alarm_setting, 6836, 2),
    RWN(rw_alarm_io_setting_local, 0, 6838, 22),
    RWN(rw_alarm_io_setting_local, 15, 7168, 22),
    RWN(rw_alarm_io_setting_ip, 3, 7256, 22),
    RW(rw_network_setting, 7420, 1360),
    RW(rw_network_ip_setting, 7420, 112),
    RW(rw_network_advanced_setting, 7532, 28),
    RW(rw_network_service_setting, 7636, 564),
    RW(rw_network_streaming_setting, 8200, 8),
    RW(rw_network_serial_pass_setting, 8208, 12),
    RW(rw_network_notification_setting, 8220, 7),
    RW(rw_network_email_setting, 8228, 538),
    RW(rw_network_dialout_setting, 8768, 12),
    RW(rw_system_front_panel_setting, 8780, 8),
    RW(rw_system_audio_output_setting, 8788, 1),
    RW(rw_system_time_date_setting, 8792, 24),
    RW(rw_system_security_setting, 8816, 18),
    RW(rw_system_language_setting, 8834, 2),
    RW(rw_system_disk_setting, 8836, 8),
    RW(rw_system_serial_setting, 8844, 18),
    Row{"rw_info_hostname",
        [](int d, void* s, int m, void* b) {
            return rw_info_hostname(d, s, m, static_cast<char*>(b));
        },
        8955,
        {{0, 65}, {}},
        false},
    RW(rw_macro_setting, 9212, 5120),
    RWN(rw_macro_setting_entry, 255, 14312, 20),
    Row{"rw_macro_num",
        [](int d, void* s, int m, void* b) { return rw_macro_num(d, s, m, static_cast<int*>(b)); },
        14332,
        {{0, 4}, {}},
        false},
    // The vidar pairs move the camera type and one media table of the
    // camera record at the record's own offsets.
    Row{"rw_ip_camera_vidar_setting",
        rw_ip_camera_vidar_setting,
        664,
        {{1568, 4}, {1572, 592}},
        false},
    Row{"rw_ip_camera_vidar_II_setting",
        rw_ip_camera_vidar_II_setting,
        664,
        {{1568, 4}, {2164, 384}},
        false},
    RO(read_info_setting, void*, 8864, 300),
    RO(read_perm_setting, void*, 9172, 40),
    RO(read_tv_format_setting, unsigned char*, 9168, 1),
    RO(read_config_model, void*, 30786, 70),
};

std::vector<unsigned char> pattern(std::size_t n, unsigned seed)
{
    std::vector<unsigned char> v(n);
    for (std::size_t i = 0; i < n; ++i)
        v[i] = static_cast<unsigned char>((i * 131 + seed) % 251);
    return v;
}

class Access : public ::testing::Test {
  protected:
    void SetUp() override
    {
        debugLevels = 0;
        sem_ = create_sem(kKey, 1);
        ASSERT_GE(sem_, 0);
        seg_ = pattern(CFG_SEGMENT_MIN_SIZE, 7);
        before_ = seg_;
    }
    void TearDown() override { remove_sem(kKey); }

    int sem_ = -1;
    std::vector<unsigned char> seg_;
    std::vector<unsigned char> before_;
};

bool moved(const Row& r, std::size_t buf_off)
{
    for (const Region& p : r.part)
        if (buf_off >= p.off && buf_off < p.off + p.len)
            return true;
    return false;
}

TEST_F(Access, EachAccessorMovesExactlyItsRegionAndGivesTheLockBack)
{
    constexpr std::size_t kBuf = 5120 + kGuard;
    const std::vector<unsigned char> src = pattern(kBuf, 91);
    for (const Row& r : kRows) {
        seg_ = before_;
        alignas(8) unsigned char buf[kBuf];
        std::memset(buf, 0xEE, sizeof buf);
        EXPECT_EQ(r.fn(0, seg_.data(), sem_, buf), 0) << r.name;
        for (std::size_t i = 0; i < kBuf; ++i)
            ASSERT_EQ(buf[i], moved(r, i) ? seg_[r.base + i] : 0xEE)
                << r.name << " read, byte " << i;
        EXPECT_EQ(seg_, before_) << r.name << " read changed the segment";
        for (int direction : {1, -5}) {  // any non-zero value writes
            if (r.read_only)
                break;
            std::memcpy(buf, src.data(), sizeof buf);
            EXPECT_EQ(r.fn(direction, seg_.data(), sem_, buf), 0) << r.name;
            for (std::size_t j = 0; j < seg_.size(); ++j) {
                const bool in = j >= r.base && moved(r, j - r.base);
                ASSERT_EQ(seg_[j], in ? src[j - r.base] : before_[j])
                    << r.name << " write, segment byte " << j;
            }
            EXPECT_EQ(std::memcmp(buf, src.data(), sizeof buf), 0)
                << r.name << " changed the source";
        }
        EXPECT_EQ(getSemVal(sem_, 0), 1) << r.name << " left the lock taken";
    }
}

TEST_F(Access, CopyIsMadeButResultReportsAFailedRelease)
{
    ASSERT_EQ(remove_sem(kKey), 0);
    unsigned char buf[11] = {};
    int rc = 0;
    const std::string log =
        capture_stderr([&] { rc = rw_display_setting(0, seg_.data(), sem_, buf); });
    EXPECT_EQ(rc, -1);
    EXPECT_EQ(std::memcmp(buf, seg_.data(), sizeof buf), 0);
    EXPECT_EQ(log, "10|Failed semaphore down operation\n10|Failed semaphore up operation\n");
}

TEST(AccessDeath, IndexOutOfRangeStopsWithTheCondition)
{
    std::vector<unsigned char> seg(CFG_SEGMENT_MIN_SIZE);
    unsigned char buf[5120];
    void* s = seg.data();
    EXPECT_DEATH(rw_user_setting(0, s, 0, buf, 25), "user_num >= 0 && user_num < 25");
    EXPECT_DEATH(rw_user_setting(0, s, 0, buf, -1), "user_num >= 0 && user_num < 25");
    EXPECT_DEATH(rw_analog_camera_setting(0, s, 0, buf, 16), "camera_num >= 0 && camera_num < 16");
    EXPECT_DEATH(rw_ip_camera_setting(0, s, 0, buf, 4), "camera_num >= 0 && camera_num < 4");
    EXPECT_DEATH(rw_schedule_entry_setting(0, s, 0, buf, 256), "entry_num >= 0 && entry_num < 256");
    EXPECT_DEATH(rw_alarm_io_setting_local(0, s, 0, buf, 16), "local_num >= 0 && local_num < 16");
    EXPECT_DEATH(rw_alarm_io_setting_ip(0, s, 0, buf, 4), "ip_num >= 0 && ip_num < 4");
    EXPECT_DEATH(rw_macro_setting_entry(0, s, 0, buf, 256), "macro_num >= 0 && macro_num < 256");
    EXPECT_DEATH(rw_macro_setting_entry(0, s, 0, buf, -1), "macro_num >= 0 && macro_num < 256");
}

}  // namespace
