// cgi_cfg_access.cpp - the locked record accessors of the configuration
// segment and the text and address helpers. Each accessor is one region
// (segment offset, length) copied under semaphore 0.
#include "cgi_cfg_access.h"
#include "shm.h"

#include <cassert>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace {

// A byte range of the configuration segment.
struct Region {
    std::size_t offset;  // from the segment start
    std::size_t length;  // bytes copied
};

// Region of element `n` of a table whose first element is `first`.
constexpr Region element(Region first, int n)
{
    return Region{first.offset + first.length * static_cast<std::size_t>(n), first.length};
}

#define CFG_FIELD(path, type)                    \
    Region                                       \
    {                                            \
        offsetof(dvr_config, path), sizeof(type) \
    }

constexpr Region kDisplay = CFG_FIELD(display, display_setting);
constexpr Region kAllUsers = CFG_FIELD(users, dvr_config::users);
constexpr Region kUser0 = CFG_FIELD(users, user_setting);
constexpr Region kAnalog0 = CFG_FIELD(cameras.local, analog_camera_setting);
constexpr Region kIpCam0 = CFG_FIELD(cameras.ip, ip_camera_setting);
constexpr Region kIpCamType = CFG_FIELD(cameras.ip_camera_type, camera_setting::ip_camera_type);
constexpr Region kVidar = CFG_FIELD(cameras.vidar_setting, camera_setting::vidar_setting);
constexpr Region kVidarII = CFG_FIELD(cameras.vidarII_setting, camera_setting::vidarII_setting);
constexpr Region kSchedules = CFG_FIELD(schedules, schedules_setting);
constexpr Region kSchedule0 = CFG_FIELD(schedules.schedules, schedule_entry_setting);
constexpr Region kFrontpanel = CFG_FIELD(schedules.frontpanel, frontpanel_setting);
constexpr Region kAlarms = CFG_FIELD(alarms, alarm_setting);
constexpr Region kAlarmNotify =
    CFG_FIELD(alarms.system_notification, alarm_system_notification_setting);
constexpr Region kAlarmSilent = CFG_FIELD(alarms.silent_alarm, alarm_silent_alarm_setting);
constexpr Region kAlarmLocal0 = CFG_FIELD(alarms.alarm_io_local, alarm_io_setting);
constexpr Region kAlarmIp0 = CFG_FIELD(alarms.alarm_io_ip, alarm_io_setting);
constexpr Region kNetwork = CFG_FIELD(network, network_setting);
constexpr Region kNetIp = CFG_FIELD(network.ip_settings, network_ip_setting);
constexpr Region kNetAdvanced = CFG_FIELD(network.ip_advanced, network_advanced_setting);
constexpr Region kNetService = CFG_FIELD(network.services, network_service_setting);
constexpr Region kNetStreaming = CFG_FIELD(network.streaming, network_streaming_setting);
constexpr Region kNetSerialPass = CFG_FIELD(network.serial_pass, network_serial_pass_setting);
constexpr Region kNetNotify = CFG_FIELD(network.email_notification, network_notification_setting);
constexpr Region kNetEmail = CFG_FIELD(network.email_setup, network_email_setting);
constexpr Region kNetDialout = CFG_FIELD(network.dialout_setup, network_dialout_setting);
constexpr Region kSysFrontPanel = CFG_FIELD(system.front_panel, system_front_panel_setting);
constexpr Region kSysAudio = CFG_FIELD(system.audio, system_audio_setting);
constexpr Region kSysTimeDate = CFG_FIELD(system.time_date, system_time_date_setting);
constexpr Region kSysSecurity = CFG_FIELD(system.security, system_security_setting);
constexpr Region kSysLanguage = CFG_FIELD(system.language, system_language_setting);
constexpr Region kSysDisk = CFG_FIELD(system.disk, system_disk_setting);
constexpr Region kSysSerial = CFG_FIELD(system.serial, system_serial_setting);
constexpr Region kHostname = CFG_FIELD(info.hostname, info_setting::hostname);
constexpr Region kInfo = CFG_FIELD(info, info_setting);
constexpr Region kTvFormat = CFG_FIELD(video_sys, dvr_config::video_sys);

#undef CFG_FIELD

constexpr Region kPerm{CFG_PERM_OFFSET, CFG_PERM_SIZE};
constexpr Region kMacros{CFG_MACRO_OFFSET, CFG_MACRO_ENTRY_SIZE* CFG_MAX_MACROS};
constexpr Region kMacro0{CFG_MACRO_OFFSET, CFG_MACRO_ENTRY_SIZE};
constexpr Region kMacroNum{CFG_MACRO_NUM_OFFSET, sizeof(int32_t)};
constexpr Region kModel{CFG_MODEL_SEGMENT_OFFSET, sizeof(cfg_model)};

// The regions are the shared segment format: tie each to its number.
constexpr bool at(Region r, std::size_t offset, std::size_t length)
{
    return r.offset == offset && r.length == length;
}
static_assert(at(kDisplay, 0, 11) && at(kAllUsers, 12, 650) && at(kUser0, 12, 26), "users");
static_assert(at(element(kUser0, 24), 636, 26), "last user");
static_assert(at(kAnalog0, 664, 88) && at(kIpCam0, 2072, 40), "cameras");
static_assert(at(kIpCamType, 2232, 4) && at(kVidar, 2236, 592) && at(kVidarII, 2828, 384),
              "ip media");
static_assert(at(kSchedules, 3212, 3616) && at(kSchedule0, 3212, 14) && at(kFrontpanel, 6796, 32),
              "schedules");
static_assert(at(kAlarms, 6828, 592) && at(kAlarmNotify, 6828, 8) && at(kAlarmSilent, 6836, 2) &&
                  at(kAlarmLocal0, 6838, 22) && at(kAlarmIp0, 7190, 22),
              "alarms");
static_assert(at(kNetwork, 7420, 1360) && at(kNetIp, 7420, 112) && at(kNetAdvanced, 7532, 28) &&
                  at(kNetService, 7636, 564) && at(kNetStreaming, 8200, 8) &&
                  at(kNetSerialPass, 8208, 12) && at(kNetNotify, 8220, 7) &&
                  at(kNetEmail, 8228, 538) && at(kNetDialout, 8768, 12),
              "network");
static_assert(at(kSysFrontPanel, 8780, 8) && at(kSysAudio, 8788, 1) && at(kSysTimeDate, 8792, 24) &&
                  at(kSysSecurity, 8816, 18) && at(kSysLanguage, 8834, 2) &&
                  at(kSysDisk, 8836, 8) && at(kSysSerial, 8844, 18),
              "system");
static_assert(at(kHostname, 8955, 65) && at(kInfo, 8864, 300) && at(kTvFormat, 9168, 1), "info");
static_assert(kPerm.offset == sizeof(dvr_config), "the permission block follows dvr_config");
static_assert(at(kMacros, 9212, 5120) && kMacros.offset + kMacros.length == kMacroNum.offset,
              "macro count follows the macro table");
static_assert(kModel.offset + kModel.length == CFG_SEGMENT_MIN_SIZE, "cfg_model ends the map");

// Moves `length` bytes between the segment at `seg` and the caller's
// `caller`, in the direction r0w1 gives (0: segment to caller).
void move(int r0w1, unsigned char* seg, void* caller, std::size_t length)
{
    if (r0w1 == 0) {
        std::memcpy(caller, seg, length);
    } else {
        std::memcpy(seg, caller, length);
    }
}

// Copies between `region` of the segment and `caller` under semaphore 0.
// Returns up's result; a failed down is logged by down and the copy is made
// regardless.
int copy_locked(int r0w1, void* shm, int sem, void* caller, Region region)
{
    down(sem, 0);
    move(r0w1, static_cast<unsigned char*>(shm) + region.offset, caller, region.length);
    return up(sem, 0);
}

// Copies ip_camera_type and one media table between the segment's cameras
// and the caller's whole camera_setting, each at the same offset relative to
// the cameras record on both sides, under one lock hold.
int copy_ip_media(int r0w1, void* shm, int sem, void* setting, Region media)
{
    constexpr std::size_t kCameras = offsetof(dvr_config, cameras);
    unsigned char* const seg_cameras = static_cast<unsigned char*>(shm) + kCameras;
    unsigned char* const own_cameras = static_cast<unsigned char*>(setting);
    down(sem, 0);
    for (const Region& r : {kIpCamType, media}) {
        move(r0w1, seg_cameras + (r.offset - kCameras), own_cameras + (r.offset - kCameras),
             r.length);
    }
    return up(sem, 0);
}

}  // namespace

extern "C" {

int rw_display_setting(int r0w1, void* shm, int sem, void* setting) noexcept
{
    return copy_locked(r0w1, shm, sem, setting, kDisplay);
}

int rw_all_user_setting(int r0w1, void* shm, int sem, void* setting) noexcept
{
    return copy_locked(r0w1, shm, sem, setting, kAllUsers);
}

int rw_user_setting(int r0w1, void* shm, int sem, void* setting, int user_num) noexcept
{
    assert(user_num >= 0 && user_num < 25);
    return copy_locked(r0w1, shm, sem, setting, element(kUser0, user_num));
}

int rw_analog_camera_setting(int r0w1, void* shm, int sem, void* setting, int camera_num) noexcept
{
    assert(camera_num >= 0 && camera_num < 16);
    return copy_locked(r0w1, shm, sem, setting, element(kAnalog0, camera_num));
}

int rw_ip_camera_setting(int r0w1, void* shm, int sem, void* setting, int camera_num) noexcept
{
    assert(camera_num >= 0 && camera_num < 4);
    return copy_locked(r0w1, shm, sem, setting, element(kIpCam0, camera_num));
}

int rw_ip_camera_vidar_setting(int r0w1, void* shm, int sem, void* setting) noexcept
{
    return copy_ip_media(r0w1, shm, sem, setting, kVidar);
}

int rw_ip_camera_vidar_II_setting(int r0w1, void* shm, int sem, void* setting) noexcept
{
    return copy_ip_media(r0w1, shm, sem, setting, kVidarII);
}

int rw_schedules_setting(int r0w1, void* shm, int sem, void* setting) noexcept
{
    return copy_locked(r0w1, shm, sem, setting, kSchedules);
}

int rw_schedule_entry_setting(int r0w1, void* shm, int sem, void* setting, int entry_num) noexcept
{
    assert(entry_num >= 0 && entry_num < 256);
    return copy_locked(r0w1, shm, sem, setting, element(kSchedule0, entry_num));
}

int rw_frontpanel_setting(int r0w1, void* shm, int sem, void* setting) noexcept
{
    return copy_locked(r0w1, shm, sem, setting, kFrontpanel);
}

int rw_alarm_setting(int r0w1, void* shm, int sem, void* setting) noexcept
{
    return copy_locked(r0w1, shm, sem, setting, kAlarms);
}

int rw_alarm_system_notification_setting(int r0w1, void* shm, int sem, void* setting) noexcept
{
    return copy_locked(r0w1, shm, sem, setting, kAlarmNotify);
}

int rw_alarm_silent_alarm_setting(int r0w1, void* shm, int sem, void* setting) noexcept
{
    return copy_locked(r0w1, shm, sem, setting, kAlarmSilent);
}

int rw_alarm_io_setting_local(int r0w1, void* shm, int sem, void* setting, int local_num) noexcept
{
    assert(local_num >= 0 && local_num < 16);
    return copy_locked(r0w1, shm, sem, setting, element(kAlarmLocal0, local_num));
}

int rw_alarm_io_setting_ip(int r0w1, void* shm, int sem, void* setting, int ip_num) noexcept
{
    assert(ip_num >= 0 && ip_num < 4);
    return copy_locked(r0w1, shm, sem, setting, element(kAlarmIp0, ip_num));
}

int rw_network_setting(int r0w1, void* shm, int sem, void* setting) noexcept
{
    return copy_locked(r0w1, shm, sem, setting, kNetwork);
}

int rw_network_ip_setting(int r0w1, void* shm, int sem, void* setting) noexcept
{
    return copy_locked(r0w1, shm, sem, setting, kNetIp);
}

int rw_network_advanced_setting(int r0w1, void* shm, int sem, void* setting) noexcept
{
    return copy_locked(r0w1, shm, sem, setting, kNetAdvanced);
}

int rw_network_service_setting(int r0w1, void* shm, int sem, void* setting) noexcept
{
    return copy_locked(r0w1, shm, sem, setting, kNetService);
}

int rw_network_streaming_setting(int r0w1, void* shm, int sem, void* setting) noexcept
{
    return copy_locked(r0w1, shm, sem, setting, kNetStreaming);
}

int rw_network_serial_pass_setting(int r0w1, void* shm, int sem, void* setting) noexcept
{
    return copy_locked(r0w1, shm, sem, setting, kNetSerialPass);
}

int rw_network_notification_setting(int r0w1, void* shm, int sem, void* setting) noexcept
{
    return copy_locked(r0w1, shm, sem, setting, kNetNotify);
}

int rw_network_email_setting(int r0w1, void* shm, int sem, void* setting) noexcept
{
    return copy_locked(r0w1, shm, sem, setting, kNetEmail);
}

int rw_network_dialout_setting(int r0w1, void* shm, int sem, void* setting) noexcept
{
    return copy_locked(r0w1, shm, sem, setting, kNetDialout);
}

int rw_system_front_panel_setting(int r0w1, void* shm, int sem, void* setting) noexcept
{
    return copy_locked(r0w1, shm, sem, setting, kSysFrontPanel);
}

int rw_system_audio_output_setting(int r0w1, void* shm, int sem, void* setting) noexcept
{
    return copy_locked(r0w1, shm, sem, setting, kSysAudio);
}

int rw_system_time_date_setting(int r0w1, void* shm, int sem, void* setting) noexcept
{
    return copy_locked(r0w1, shm, sem, setting, kSysTimeDate);
}

int rw_system_security_setting(int r0w1, void* shm, int sem, void* setting) noexcept
{
    return copy_locked(r0w1, shm, sem, setting, kSysSecurity);
}

int rw_system_language_setting(int r0w1, void* shm, int sem, void* setting) noexcept
{
    return copy_locked(r0w1, shm, sem, setting, kSysLanguage);
}

int rw_system_disk_setting(int r0w1, void* shm, int sem, void* setting) noexcept
{
    return copy_locked(r0w1, shm, sem, setting, kSysDisk);
}

int rw_system_serial_setting(int r0w1, void* shm, int sem, void* setting) noexcept
{
    return copy_locked(r0w1, shm, sem, setting, kSysSerial);
}

int rw_info_hostname(int r0w1, void* shm, int sem, char* host_name) noexcept
{
    return copy_locked(r0w1, shm, sem, host_name, kHostname);
}

int rw_macro_setting(int r0w1, void* shm, int sem, void* setting) noexcept
{
    return copy_locked(r0w1, shm, sem, setting, kMacros);
}

int rw_macro_setting_entry(int r0w1, void* shm, int sem, void* setting, int macro_num) noexcept
{
    assert(macro_num >= 0 && macro_num < 256);
    return copy_locked(r0w1, shm, sem, setting, element(kMacro0, macro_num));
}

int rw_macro_num(int r0w1, void* shm, int sem, int* p_macro_num) noexcept
{
    static_assert(sizeof(int) == sizeof(int32_t), "the macro count is a 32-bit int");
    return copy_locked(r0w1, shm, sem, p_macro_num, kMacroNum);
}

int read_info_setting(void* shm, int sem, void* setting) noexcept
{
    return copy_locked(0, shm, sem, setting, kInfo);
}

int read_perm_setting(void* shm, int sem, void* setting) noexcept
{
    return copy_locked(0, shm, sem, setting, kPerm);
}

int read_tv_format_setting(void* shm, int sem, unsigned char* setting) noexcept
{
    return copy_locked(0, shm, sem, setting, kTvFormat);
}

int read_config_model(void* shm, int sem, void* setting) noexcept
{
    return copy_locked(0, shm, sem, setting, kModel);
}

// ---- helpers ----

int convertIPtoI(char* in_addr) noexcept
{
    char work[80] = {};
    std::strncpy(work, in_addr, sizeof work - 1);  // longer text is cut, never overrun
    uint32_t sum = 0;
    char* field = work;
    for (int shift = 24; shift >= 0; shift -= 8) {
        char* dot = shift > 0 ? std::strchr(field, '.') : nullptr;
        if (dot != nullptr)
            *dot = '\0';
        // Unsigned arithmetic: a field above 255 carries into the bytes above it.
        sum += static_cast<uint32_t>(std::atoi(field)) << shift;
        if (dot == nullptr)
            break;  // fewer than three dots: the missing fields count 0
        field = dot + 1;
    }
    return static_cast<int>(sum);
}

void convertItoIP(char* ip, int addr) noexcept
{
    const uint32_t a = static_cast<uint32_t>(addr);
    std::memset(ip, 0, 80);
    std::snprintf(ip, 80, "%u.%u.%u.%u", (a >> 24) & 0xffu, (a >> 16) & 0xffu, (a >> 8) & 0xffu,
                  a & 0xffu);
}

int nullPadding(char* str, int max) noexcept
{
    assert(max > 0);
    const std::size_t width = static_cast<std::size_t>(max);
    const void* nul = std::memchr(str, '\0', width);
    std::size_t end =
        nul != nullptr ? static_cast<std::size_t>(static_cast<const char*>(nul) - str) : width;
    if (end < width)
        std::memset(str + end + 1, '\0', width - end - 1);
    while (end > 0 && str[end - 1] == ' ')
        str[--end] = '\0';
    return static_cast<int>(end);
}

int spacePadding(char* str, int max) noexcept
{
    assert(max > 0);
    const std::size_t width = static_cast<std::size_t>(max);
    const void* nul = std::memchr(str, '\0', width);
    if (nul != nullptr) {
        const std::size_t end = static_cast<std::size_t>(static_cast<const char*>(nul) - str);
        std::memset(str + end, ' ', width - end);
    }
    return 0;
}

}  // extern "C"
