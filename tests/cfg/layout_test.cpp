// layout_test.cpp - record sizes and the offsets the device's programs rely
// on, checked at run time (also on the cross-built big-endian target) and
// against what a C compiler makes of the same headers.
#include "cgi_cfg_access.h"

#include <gtest/gtest.h>

extern "C" {
size_t cfg_c_sizeof_dvr_config(void);
size_t cfg_c_sizeof_cfg_model(void);
size_t cfg_c_offsetof_pre_rec_duration(void);
size_t cfg_c_offsetof_info(void);
}

namespace {

struct Expect {
  const char* what;
  std::size_t actual;
  std::size_t expected;
};

TEST(Layout, SizesAndSegmentOffsets) {
  const Expect cases[] = {
      {"display_setting", sizeof(display_setting), 11},
      {"user_setting", sizeof(user_setting), 26},
      {"analog_camera_setting", sizeof(analog_camera_setting), 88},
      {"ip_camera_setting", sizeof(ip_camera_setting), 40},
      {"vidar", sizeof(vidar_media_connection_config), 148},
      {"vidarII", sizeof(vidarII_media_config), 96},
      {"camera_setting", sizeof(camera_setting), 2548},
      {"schedule_entry_setting", sizeof(schedule_entry_setting), 14},
      {"schedules_setting", sizeof(schedules_setting), 3616},
      {"alarm_io_setting", sizeof(alarm_io_setting), 22},
      {"alarm_group_setting", sizeof(alarm_group_setting), 28},
      {"alarm_setting", sizeof(alarm_setting), 592},
      {"network_setting", sizeof(network_setting), 1360},
      {"system_setting", sizeof(system_setting), 84},
      {"info_setting", sizeof(info_setting), 300},
      {"dvr_config", sizeof(dvr_config), 9172},
      {"cfg_model", sizeof(cfg_model), 70},
      {"date_format", offsetof(dvr_config, system.time_date.date_format), 8798},
      {"listen_port", offsetof(dvr_config, network.ip_advanced.listen_port), 7538},
      {"covert of IP camera 4", offsetof(dvr_config, cameras.ip[3].covert), 2201},
      {"enable of user 25", offsetof(dvr_config, users[24].enable), 661},
      {"pre_rec_duration", CFG_MODEL_SEGMENT_OFFSET + offsetof(cfg_model, pre_rec_duration), 30815},
      {"security front_panel", offsetof(dvr_config, system.security.front_panel), 8816},
      {"security covert", offsetof(dvr_config, system.security.covert), 8821},
      {"ethernet_password", offsetof(dvr_config, network.ip_settings.ethernet_password), 7526},
      {"tcp_control_port", offsetof(dvr_config, network.ip_advanced.tcp_control_port), 7536},
      {"covert of analog camera 16", offsetof(dvr_config, cameras.local[15].covert), 1990},
      {"hostname", offsetof(dvr_config, info.hostname), 8955},
      {"video_sys", offsetof(dvr_config, video_sys), 9168},
      {"C dvr_config", cfg_c_sizeof_dvr_config(), 9172},
      {"C cfg_model", cfg_c_sizeof_cfg_model(), 70},
      {"C pre_rec_duration", cfg_c_offsetof_pre_rec_duration(), 29},
      {"C info", cfg_c_offsetof_info(), 8864},
  };
  for (const Expect& e : cases) EXPECT_EQ(e.actual, e.expected) << e.what;
}

}  // namespace
