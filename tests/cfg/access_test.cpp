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

struct Row {
  const char* name;
  Accessor fn;
  std::size_t offset;  // expected segment offset
  std::size_t length;  // expected bytes
  bool read_only;
};

#define RW(f, off, len) \
  Row { #f, [](int d, void* s, int m, void* b) { return f(d, s, m, b); }, off, len, false }
#define RWN(f, n, off, len) \
  Row { #f "[" #n "]", [](int d, void* s, int m, void* b) { return f(d, s, m, b, n); }, off, len, false }
#define RO(f, type, off, len) \
  Row { #f, [](int, void* s, int m, void* b) { return f(s, m, static_cast<type>(b)); }, off, len, true }

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
        [](int d, void* s, int m, void* b) { return rw_info_hostname(d, s, m, static_cast<char*>(b)); },
        8955, 65, false},
    RW(rw_macro_setting, 9212, 5120),
    RWN(rw_macro_setting_entry, 255, 14312, 20),
    Row{"rw_macro_num",
        [](int d, void* s, int m, void* b) { return rw_macro_num(d, s, m, static_cast<int*>(b)); },
        14332, 4, false},
    RO(read_info_setting, void*, 8864, 300),
    RO(read_perm_setting, void*, 9172, 40),
    RO(read_tv_format_setting, unsigned char*, 9168, 1),
    RO(read_config_model, void*, 30786, 70),
};

std::vector<unsigned char> pattern(std::size_t n, unsigned seed) {
  std::vector<unsigned char> v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<unsigned char>((i * 131 + seed) % 251);
  return v;
}

class Access : public ::testing::Test {
 protected:
  void SetUp() override {
    debugLevels = 0;
    sem_ = create_sem(kKey, 1);
    ASSERT_GE(sem_, 0);
    seg_ = pattern(CFG_SEGMENT_MIN_SIZE, 7);
    before_ = seg_;
  }
  void TearDown() override { remove_sem(kKey); }

  // Segment bytes outside [offset, offset + length) are as they were.
  void expect_outside_unchanged(std::size_t offset, std::size_t length, const char* name) {
    EXPECT_EQ(std::memcmp(seg_.data(), before_.data(), offset), 0) << name;
    const std::size_t end = offset + length;
    EXPECT_EQ(std::memcmp(seg_.data() + end, before_.data() + end, seg_.size() - end), 0) << name;
  }

  int sem_ = -1;
  std::vector<unsigned char> seg_;
  std::vector<unsigned char> before_;
};

TEST_F(Access, EachAccessorMovesExactlyItsRegionAndGivesTheLockBack) {
  const std::vector<unsigned char> src = pattern(5120 + kGuard, 91);
  for (const Row& r : kRows) {
    seg_ = before_;
    alignas(8) unsigned char buf[5120 + kGuard];
    std::memset(buf, 0xEE, sizeof buf);
    EXPECT_EQ(r.fn(0, seg_.data(), sem_, buf), 0) << r.name;
    EXPECT_EQ(std::memcmp(buf, seg_.data() + r.offset, r.length), 0) << r.name;
    for (std::size_t i = r.length; i < r.length + kGuard; ++i) ASSERT_EQ(buf[i], 0xEE) << r.name;
    EXPECT_EQ(seg_, before_) << r.name << " read changed the segment";
    for (int direction : {1, -5}) {  // any non-zero value writes
      if (r.read_only) break;
      std::memcpy(buf, src.data(), sizeof buf);
      EXPECT_EQ(r.fn(direction, seg_.data(), sem_, buf), 0) << r.name;
      EXPECT_EQ(std::memcmp(seg_.data() + r.offset, src.data(), r.length), 0) << r.name;
      EXPECT_EQ(std::memcmp(buf, src.data(), sizeof buf), 0) << r.name << " changed the source";
      expect_outside_unchanged(r.offset, r.length, r.name);
    }
    EXPECT_EQ(getSemVal(sem_, 0), 1) << r.name << " left the lock taken";
  }
}

struct VidarRow {
  const char* name;
  int (*fn)(int, void*, int, void*);
  std::size_t media_offset;  // in camera_setting
  std::size_t media_length;
};

const VidarRow kVidarRows[] = {
    {"vidar", rw_ip_camera_vidar_setting, 1572, 592},
    {"vidarII", rw_ip_camera_vidar_II_setting, 2164, 384},
};

TEST_F(Access, VidarPairsCopyTypeAndMediaAtRecordOffsets) {
  constexpr std::size_t kCameras = 664;
  constexpr std::size_t kType = 1568;
  for (const VidarRow& v : kVidarRows) {
    camera_setting own;
    std::memset(&own, 0xEE, sizeof own);
    ASSERT_EQ(v.fn(0, seg_.data(), sem_, &own), 0);
    const auto* bytes = reinterpret_cast<const unsigned char*>(&own);
    for (std::size_t i = 0; i < sizeof own; ++i) {
      const bool copied = (i >= kType && i < kType + 4) ||
                          (i >= v.media_offset && i < v.media_offset + v.media_length);
      ASSERT_EQ(bytes[i], copied ? seg_[kCameras + i] : 0xEE) << v.name << " byte " << i;
    }
    std::memset(&own, 0x5C, sizeof own);
    seg_ = before_;
    ASSERT_EQ(v.fn(1, seg_.data(), sem_, &own), 0);
    for (std::size_t i = 0; i < seg_.size(); ++i) {
      const bool written = (i >= kCameras + kType && i < kCameras + kType + 4) ||
                           (i >= kCameras + v.media_offset &&
                            i < kCameras + v.media_offset + v.media_length);
      ASSERT_EQ(seg_[i], written ? 0x5C : before_[i]) << v.name << " segment byte " << i;
    }
    EXPECT_EQ(getSemVal(sem_, 0), 1);
  }
}

TEST_F(Access, MacroCountMovesOneInt) {
  int count = 123456;
  ASSERT_EQ(rw_macro_num(1, seg_.data(), sem_, &count), 0);
  int back = 0;
  ASSERT_EQ(rw_macro_num(0, seg_.data(), sem_, &back), 0);
  EXPECT_EQ(back, 123456);
  int direct = 0;
  std::memcpy(&direct, seg_.data() + 14332, sizeof direct);
  EXPECT_EQ(direct, 123456);
}

TEST_F(Access, CopyIsMadeButResultReportsAFailedRelease) {
  ASSERT_EQ(remove_sem(kKey), 0);
  unsigned char buf[11] = {};
  int rc = 0;
  const std::string log = capture_stderr([&] { rc = rw_display_setting(0, seg_.data(), sem_, buf); });
  EXPECT_EQ(rc, -1);
  EXPECT_EQ(std::memcmp(buf, seg_.data(), sizeof buf), 0);
  EXPECT_EQ(log, "10|Failed semaphore down operation\n10|Failed semaphore up operation\n");
}

TEST(AccessDeath, IndexOutOfRangeStopsWithTheCondition) {
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
