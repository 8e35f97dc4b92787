/** @file cgi_cfg_access.h - locked accessors that copy configuration records between
 * the configuration segment and a caller's buffer, the text and address
 * helpers, and user authorisation against the segment's user table.
 * Every accessor holds semaphore 0 of the device semaphore set `sem` for its
 * copy only, and returns the result of releasing it: 0, or -1 when `up`
 * failed (the copy is made regardless). An index out of range stops the
 * process with an assertion. r0w1: 0 copies segment -> `setting`, any other
 * value `setting` -> segment. */
#ifndef CGI_CFG_ACCESS_H
#define CGI_CFG_ACCESS_H

#include "zel_api.h"

#include "config_new.h"
#include "srv_cgi_model.h"

#ifdef __cplusplus
extern "C" {
#endif

/** Top-level map of the configuration segment beyond dvr_config (offset 0). */
enum cfg_segment_map {
    CFG_PERM_OFFSET = 9172, /**< 40-byte permission block, opaque */
    CFG_PERM_SIZE = 40,
    CFG_MACRO_OFFSET = 9212, /**< 256 macro entries of 20 bytes, opaque */
    CFG_MACRO_ENTRY_SIZE = 20,
    CFG_MAX_MACROS = 256,
    CFG_MACRO_NUM_OFFSET = 14332, /**< macro count, signed 32-bit */
    CFG_RT_UPDATE_OFFSET = 14336, /**< runtime update record, 34 bytes */
    CFG_UL_STAT_OFFSET = 14370,   /**< upload status record, 32 bytes */
    CFG_SEGMENT_MIN_SIZE = 30856  /**< the segment reaches at least the end of cfg_model */
};

/* ---- record accessors ---- */
/** Each returns 0, or -1 when releasing the lock failed (the copy is made
 * either way); the other side of the copy is left unchanged.
 * @{ */
int rw_display_setting(int r0w1, void* shm, int sem, void* setting) ZEL_NOEXCEPT;
int rw_all_user_setting(int r0w1, void* shm, int sem, void* setting) ZEL_NOEXCEPT;
int rw_user_setting(int r0w1, void* shm, int sem, void* setting, int user_num) ZEL_NOEXCEPT;
int rw_analog_camera_setting(int r0w1, void* shm, int sem, void* setting,
                             int camera_num) ZEL_NOEXCEPT;
int rw_ip_camera_setting(int r0w1, void* shm, int sem, void* setting, int camera_num) ZEL_NOEXCEPT;
/** `setting` is a whole camera_setting: ip_camera_type and vidar_setting are
 * copied at their own offsets in it, nothing else of it is touched. */
int rw_ip_camera_vidar_setting(int r0w1, void* shm, int sem, void* setting) ZEL_NOEXCEPT;
/** As rw_ip_camera_vidar_setting, with vidarII_setting. */
int rw_ip_camera_vidar_II_setting(int r0w1, void* shm, int sem, void* setting) ZEL_NOEXCEPT;
int rw_schedules_setting(int r0w1, void* shm, int sem, void* setting) ZEL_NOEXCEPT;
int rw_schedule_entry_setting(int r0w1, void* shm, int sem, void* setting,
                              int entry_num) ZEL_NOEXCEPT;
int rw_frontpanel_setting(int r0w1, void* shm, int sem, void* setting) ZEL_NOEXCEPT;
int rw_alarm_setting(int r0w1, void* shm, int sem, void* setting) ZEL_NOEXCEPT;
int rw_alarm_system_notification_setting(int r0w1, void* shm, int sem, void* setting) ZEL_NOEXCEPT;
int rw_alarm_silent_alarm_setting(int r0w1, void* shm, int sem, void* setting) ZEL_NOEXCEPT;
int rw_alarm_io_setting_local(int r0w1, void* shm, int sem, void* setting,
                              int local_num) ZEL_NOEXCEPT;
int rw_alarm_io_setting_ip(int r0w1, void* shm, int sem, void* setting, int ip_num) ZEL_NOEXCEPT;
int rw_network_setting(int r0w1, void* shm, int sem, void* setting) ZEL_NOEXCEPT;
int rw_network_ip_setting(int r0w1, void* shm, int sem, void* setting) ZEL_NOEXCEPT;
int rw_network_advanced_setting(int r0w1, void* shm, int sem, void* setting) ZEL_NOEXCEPT;
int rw_network_service_setting(int r0w1, void* shm, int sem, void* setting) ZEL_NOEXCEPT;
int rw_network_streaming_setting(int r0w1, void* shm, int sem, void* setting) ZEL_NOEXCEPT;
int rw_network_serial_pass_setting(int r0w1, void* shm, int sem, void* setting) ZEL_NOEXCEPT;
int rw_network_notification_setting(int r0w1, void* shm, int sem, void* setting) ZEL_NOEXCEPT;
int rw_network_email_setting(int r0w1, void* shm, int sem, void* setting) ZEL_NOEXCEPT;
int rw_network_dialout_setting(int r0w1, void* shm, int sem, void* setting) ZEL_NOEXCEPT;
int rw_system_front_panel_setting(int r0w1, void* shm, int sem, void* setting) ZEL_NOEXCEPT;
int rw_system_audio_output_setting(int r0w1, void* shm, int sem, void* setting) ZEL_NOEXCEPT;
int rw_system_time_date_setting(int r0w1, void* shm, int sem, void* setting) ZEL_NOEXCEPT;
int rw_system_security_setting(int r0w1, void* shm, int sem, void* setting) ZEL_NOEXCEPT;
int rw_system_language_setting(int r0w1, void* shm, int sem, void* setting) ZEL_NOEXCEPT;
int rw_system_disk_setting(int r0w1, void* shm, int sem, void* setting) ZEL_NOEXCEPT;
int rw_system_serial_setting(int r0w1, void* shm, int sem, void* setting) ZEL_NOEXCEPT;
/** `host_name` offers the 65 bytes of info.hostname. */
int rw_info_hostname(int r0w1, void* shm, int sem, char* host_name) ZEL_NOEXCEPT;
int rw_macro_setting(int r0w1, void* shm, int sem, void* setting) ZEL_NOEXCEPT;
int rw_macro_setting_entry(int r0w1, void* shm, int sem, void* setting, int macro_num) ZEL_NOEXCEPT;
/** Moves the signed 32-bit macro count to or from `*p_macro_num`. */
int rw_macro_num(int r0w1, void* shm, int sem, int* p_macro_num) ZEL_NOEXCEPT;
/** @} */

/* ---- read-only accessors ---- */
/** Each returns 0, or -1 when releasing the lock failed; the segment is never
 * written.
 * @{ */
int read_info_setting(void* shm, int sem, void* setting) ZEL_NOEXCEPT;
int read_perm_setting(void* shm, int sem, void* setting) ZEL_NOEXCEPT;
/** Stores the one television-format byte in `*setting`. */
int read_tv_format_setting(void* shm, int sem, unsigned char* setting) ZEL_NOEXCEPT;
int read_config_model(void* shm, int sem, void* setting) ZEL_NOEXCEPT;
/** @} */

/* ---- helpers (no lock, no segment) ---- */
/** Returns dotted-quad text as a 32-bit value, first field most significant;
 * fields that are not numbers count as 0. Never fails. */
int convertIPtoI(char* in_addr) ZEL_NOEXCEPT;
/** Writes `addr` as dotted-quad text into `ip`, which offers 80 bytes. */
void convertItoIP(char* ip, int addr) ZEL_NOEXCEPT;
/** Makes `str` a NUL-padded field of `max` bytes without trailing blanks and
 * returns the length of the text left. */
int nullPadding(char* str, int max) ZEL_NOEXCEPT;
/** Makes `str` a blank-padded field of `max` bytes without terminator; 0. */
int spacePadding(char* str, int max) ZEL_NOEXCEPT;

/* ---- user authorisation ---- */
/** Returns the access level of the first enabled user named `givenUser`, or
 * -1 when there is none or no memory for the comparison (nothing written).
 * `givenUser` is not modified. */
int getUserLevel(void* p_shm, int sem_id, char* givenUser) ZEL_NOEXCEPT;
/** Returns 0 when the first enabled user named `givenUser` has a level of at
 * most `givenLevel`; otherwise writes the refusal response and returns -1. */
int checkPrivilige(void* p_shm, int sem_id, char* givenUser, int givenLevel) ZEL_NOEXCEPT;
/** Writes the content-type header and the refusal page naming `p_user` to the
 * response; returns -1. */
int blockRequest(char* p_user) ZEL_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif
